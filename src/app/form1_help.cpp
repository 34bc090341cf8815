// "Help": which characters count as single and double quotes, and where that comes from.
#include "app/form1.h"
#include "base/addresses.h"
#include "base/failure.h"
#include "base/prompts.h"
#include "samples/helptext.h"

namespace parvello {

// The lines of "Help" (showHelp): the numbers users see in the "Application
// Error" box ("in ...PushButton5_Click at line N") when a step fails. Keep each number.
struct HelpLines {
    enum : int {
        ReferencePage = 100,
        Ask = 102,
        OpenPage = 104,
    };
};

void Form1::showHelp() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton5_Click")));
    QString referencePage;
    bool yes = false;
    trap.step(HelpLines::ReferencePage,
              [&] { referencePage = QString::fromUtf8(addresses::QuotesReferencePage); });
    trap.step(HelpLines::Ask, [&] { yes = prompts_.askYesNo(QuoteKindsMessage(referencePage)); });
    if (!yes)
        return;
    trap.step(HelpLines::OpenPage,
              [&] { prompts_.shellOpen(QLatin1Char('"') + referencePage + QLatin1Char('"')); });
}

} // namespace parvello
