// "Help": which characters count as single and double quotes, and where that comes from.
#include "app/form1.h"
#include "base/addresses.h"
#include "base/failure.h"
#include "base/prompts.h"

namespace parvello {

QString QuoteKindsMessage(const QString& referencePage) {
    const QString crlf = QStringLiteral("\r\n");
    const QChar nbsp(0x00A0);
    return QStringLiteral("Questions? Please contact") + nbsp + QStringLiteral("Team") + nbsp +
           QStringLiteral("Kestrilon") + nbsp + QStringLiteral("at") + nbsp +
           QString::fromUtf8(addresses::ContactPage) + crlf + crlf +
           QStringLiteral("This software will consider all 3 kinds of single quotes:") + crlf +
           QChar(0x0027) + crlf + QChar(0x2018) + crlf + QChar(0x2019) + crlf +
           QStringLiteral("This software will consider all 3 kinds of double quotes:") + crlf +
           QChar(0x0022) + crlf + QChar(0x201C) + crlf + QChar(0x201D) + crlf + crlf +
           QStringLiteral("This is according to ") + referencePage + crlf +
           QStringLiteral("Would you like me to open this website for you?");
}

void Form1::PushButton5_Click() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton5_Click")));
    QString referencePage;
    bool yes = false;
    trap.step(100, [&] { referencePage = QString::fromUtf8(addresses::QuotesReferencePage); });
    trap.step(102, [&] { yes = prompts_.askYesNo(QuoteKindsMessage(referencePage)); });
    if (!yes)
        return;
    trap.step(104,
              [&] { prompts_.shellOpen(QLatin1Char('"') + referencePage + QLatin1Char('"')); });
}

} // namespace parvello
