#pragma once

#include "base/prompts.h"

#include <QPointer>
#include <QWidget>

namespace parvello {

// The real boxes and dialogs, owned by the main window.
class WidgetPrompts : public Prompts {
public:
    void setOwner(QWidget* owner) { owner_ = owner; }

    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void applicationError(const QString& text) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString openFiles(const QString& title, const QString& filter) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    void shellOpen(const QString& target) override;

private:
    QPointer<QWidget> owner_;
};

// A message text as a box shows it: each CR LF pair and each lone CR is one line break.
QString DisplayText(const QString& text);

// A filter in the "description|pattern|description|pattern|" form as the file dialog takes it.
QString DialogFilter(const QString& pipeFilter);

} // namespace parvello
