// Scripted answers for every box and dialog; each call is recorded so tests can check
// exactly which boxes appeared, in which order, with which text.
#pragma once

#include "base/prompts.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>

namespace parvello::testing {

struct PromptCall {
    QString kind;  // "message", "yesno", "error", "input", "openfiles", "folder", "shell"
    QString title; // the box's caption as it would be shown
    QString text;  // message, prompt or shell target
    QString icon;  // "none", "warning"
    QString extra; // input default, dialog filter, start folder

    bool operator==(const PromptCall&) const = default;
};

class FakePrompts : public Prompts {
public:
    ~FakePrompts() override;

    // Answers, taken in order by the boxes that need one.
    void answerYesNo(bool yes) { yesNo_.enqueue(yes); }
    void answerInput(const QString& text) { inputs_.enqueue(text); }
    void answerOpenFiles(const QString& selection) { openFiles_.enqueue(selection); }
    void answerFolder(const QString& folder) { folders_.enqueue(folder); }
    // Runs while a box is "open" (for instance to act as the user would meanwhile).
    void onBox(std::function<void(const PromptCall&)> hook) { hook_ = std::move(hook); }

    QList<PromptCall> calls;
    // Boxes that asked for an answer the script did not have.
    QStringList unexpected;

    QList<PromptCall> callsOf(const QString& kind) const;
    QStringList errorTexts() const;
    bool allAnswersUsed() const;

    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void applicationError(const QString& text) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString openFiles(const QString& title, const QString& filter) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    void shellOpen(const QString& target) override;

private:
    void record(const PromptCall& call);
    QQueue<bool> yesNo_;
    QQueue<QString> inputs_;
    QQueue<QString> openFiles_;
    QQueue<QString> folders_;
    std::function<void(const PromptCall&)> hook_;
};

} // namespace parvello::testing
