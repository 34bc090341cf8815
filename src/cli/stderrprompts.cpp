#include "cli/stderrprompts.h"

#include "base/printabletext.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"

namespace parvello {

StderrPrompts::StderrPrompts() : terminal_(StderrIsTerminal()) {}

void StderrPrompts::write(const std::string& bytes) {
    if (RunIsEnding())
        return;
    WriteStderr(bytes);
}

void StderrPrompts::printLine(std::string_view text) {
    const std::lock_guard lock(mutex_);
    std::string out;
    if (terminal_ && !progress_.empty())
        out += "\r\x1b[K";
    out += "parvello-cli: " + PrintableLine(text) + '\n';
    if (terminal_ && !progress_.empty())
        out += progress_;
    write(out);
}

void StderrPrompts::showProgress(std::string_view text) {
    if (!terminal_)
        return;
    const std::lock_guard lock(mutex_);
    progress_ = PrintableLine(text);
    write("\r\x1b[K" + progress_);
}

void StderrPrompts::stepFailed(std::string_view description, std::string_view tag, int line) {
    // The box's description, its line breaks made spaces, and where the step stands.
    std::string text = "error: ";
    for (size_t i = 0; i < description.size(); ++i) {
        if (description[i] == '\r' && i + 1 < description.size() && description[i + 1] == '\r')
            return printLine(text); // the box's text ends there
        if (description[i] == '\r' && i + 1 < description.size() && description[i + 1] == '\n')
            ++i;
        text += description[i] == '\r' || description[i] == '\n' ? ' ' : description[i];
    }
    text += " in ";
    text += tag;
    text += " at line " + std::to_string(line);
    printLine(text);
}

} // namespace parvello
