// The boxes of the command-line companion: every box becomes one line on standard error,
// and nothing ever waits for an answer.
#pragma once

#include "base/prompts.h"

#include <QString>

#include <initializer_list>
#include <mutex>
#include <utility>
#include <vector>

namespace parvello {

class StderrPrompts final : public Prompts {
public:
    StderrPrompts();

    // One line on standard error, prefixed with the program's name. Safe to call from
    // several threads; a progress line on a terminal is cleared first and redrawn after.
    // Names in the text are expected printed already (PrintablePath); any control
    // character left in it is escaped all the same, so the line stays one harmless line.
    void printLine(const QString& text);
    // The progress line (only on a terminal); "" removes it.
    void showProgress(const QString& text);
    bool stderrIsTerminal() const { return terminal_; }

    // The "Application Error" box as one line: its description and "in <tag> at line <n>".
    static QString errorLine(const QString& boxText);

    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void applicationError(const QString& text) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString openFiles(const QString& title, const QString& filter) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    void shellOpen(const QString& target) override;

private:
    void write(const QByteArray& bytes);

    std::mutex mutex_;
    QString progress_;
    bool terminal_ = false;
};

} // namespace parvello
