// "Help": which characters count as single and double quotes, and where that comes from.
#include "app/form1.h"
#include "base/addresses.h"
#include "base/failure.h"
#include "base/prompts.h"
#include "samples/helptext.h"

namespace parvello {

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
