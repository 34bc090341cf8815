#include "samples/helptext.h"

#include "base/addresses.h"

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

} // namespace parvello
