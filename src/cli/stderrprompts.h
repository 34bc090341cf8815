// What parvello-cli says on standard error: one line for each thing to tell, and the
// progress line on a terminal. Nothing ever waits for an answer.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace parvello {

class StderrPrompts {
public:
    StderrPrompts();

    // One line on standard error, prefixed with the program's name. Safe to call from
    // several threads; a progress line on a terminal is cleared first and redrawn after.
    // Names in the text are expected printed already (PrintablePath); any control
    // character or byte that is not UTF-8 left in it is escaped all the same, so the line
    // stays one harmless line.
    void printLine(std::string_view text);
    // The progress line (only on a terminal); "" removes it.
    void showProgress(std::string_view text);
    bool stderrIsTerminal() const { return terminal_; }

    // A numbered step that failed as one line: "error: <description> in <tag> at line <n>"
    // (the "Application Error" box of the window, told on one line).
    void stepFailed(std::string_view description, std::string_view tag, int line);

private:
    void write(const std::string& bytes);

    std::mutex mutex_;
    std::string progress_;
    bool terminal_ = false;
};

} // namespace parvello
