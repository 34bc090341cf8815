#include "common/fakeprompts.h"

#include "base/failure.h"

namespace parvello::testing {

FakePrompts::~FakePrompts() = default;

QList<PromptCall> FakePrompts::callsOf(const QString& kind) const {
    QList<PromptCall> matching;
    for (const PromptCall& call : calls)
        if (call.kind == kind)
            matching << call;
    return matching;
}

QStringList FakePrompts::errorTexts() const {
    QStringList texts;
    for (const PromptCall& call : callsOf(QStringLiteral("error")))
        texts << call.text;
    return texts;
}

bool FakePrompts::allAnswersUsed() const {
    return yesNo_.isEmpty() && inputs_.isEmpty() && openFiles_.isEmpty() && folders_.isEmpty();
}

void FakePrompts::record(const PromptCall& call) {
    calls << call;
    if (hook_)
        hook_(call);
}

void FakePrompts::message(const QString& text) {
    record({QStringLiteral("message"), ApplicationTitle(), text, QStringLiteral("none"), {}});
}

bool FakePrompts::askYesNo(const QString& text) {
    record({QStringLiteral("yesno"), ApplicationTitle(), text, QStringLiteral("none"), {}});
    if (yesNo_.isEmpty()) {
        unexpected << QStringLiteral("yes/no box: ") + text;
        return false;
    }
    return yesNo_.dequeue();
}

void FakePrompts::applicationError(const QString& text) {
    record({QStringLiteral("error"),
            QStringLiteral("Application Error"),
            text,
            QStringLiteral("warning"),
            {}});
}

QString FakePrompts::inputBox(const QString& prompt, const QString& title,
                              const QString& defaultAnswer) {
    record({QStringLiteral("input"), title.isEmpty() ? ApplicationTitle() : title, prompt,
            QStringLiteral("none"), defaultAnswer});
    if (inputs_.isEmpty()) {
        unexpected << QStringLiteral("input box: ") + prompt;
        return QString();
    }
    return inputs_.dequeue();
}

QString FakePrompts::openFiles(const QString& title, const QString& filter) {
    record({QStringLiteral("openfiles"), title, QString(), QStringLiteral("none"), filter});
    if (openFiles_.isEmpty()) {
        unexpected << QStringLiteral("open-file dialog: ") + title;
        return QString();
    }
    const QString selection = openFiles_.dequeue();
    if (selection.size() > MaxSelectionLength)
        throw Failure(QStringLiteral("The selection is too long for the file name buffer"),
                      failure_numbers::SelectionTooLong);
    return selection;
}

QString FakePrompts::browseForFolder(const QString& prompt, const QString& startFolder) {
    record({QStringLiteral("folder"), QString(), prompt, QStringLiteral("none"), startFolder});
    if (folders_.isEmpty()) {
        unexpected << QStringLiteral("folder dialog: ") + prompt;
        return QString();
    }
    return folders_.dequeue();
}

void FakePrompts::shellOpen(const QString& target) {
    record({QStringLiteral("shell"), QString(), target, QStringLiteral("none"), {}});
}

} // namespace parvello::testing
