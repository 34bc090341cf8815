// Everything that waits for a person or hands something to the desktop shell goes
// through this interface, so tests can answer from a script instead of a real box.
#pragma once

#include "base/pathhelpers.h"

#include <QString>
#include <QStringList>

namespace parvello {

class Prompts {
public:
    virtual ~Prompts() = default;

    // Plain message box: the text, an OK button, the application title, no icon.
    virtual void message(const QString& text) = 0;

    // Yes/No box with the application title and no icon; true for Yes.
    virtual bool askYesNo(const QString& text) = 0;

    // The "Application Error" box: warning icon, its own title, OK.
    virtual void applicationError(const QString& text) = 0;

    // Input box with OK and Cancel; "" on Cancel. An empty title means the application title.
    virtual QString inputBox(const QString& prompt, const QString& title,
                             const QString& defaultAnswer) = 0;

    // Multi-select open-file dialog. Returns "" on Cancel, one full path for one file, or
    // the folder, NUL, name, NUL, name ... for several. A selection longer than
    // MaxSelectionLength characters fails with failure_numbers::SelectionTooLong.
    virtual QString openFiles(const QString& title, const QString& filter) = 0;
    static constexpr int MaxSelectionLength = 30000;

    // Folder-browse dialog with startFolder preselected; "" on Cancel. A drive root keeps
    // its trailing separator, other folders come without one.
    virtual QString browseForFolder(const QString& prompt, const QString& startFolder) = 0;

    // The shell's open operation: a folder opens in the file browser, a web address in
    // the browser. Surrounding double quotes are accepted and removed. The outcome is
    // not reported.
    virtual void shellOpen(const QString& target) = 0;
};

// The open-file dialog's selection as one text: one file gives its path; several files
// give their folder, NUL, and their names separated by NUL. Files picked from different
// folders (the dialog accepts full paths typed in) give the deepest folder that holds
// them all and, after it, each file's path relative to that folder, so folder, separator
// and name join to exactly the file that was picked. Where no folder holds them all
// (different drives), the folder is empty and the names are the full paths.
QString OpenFileSelectionText(const QStringList& files, PathStyle style = NativePathStyle());

// The caption of every box that gives no title of its own (set at start-up).
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

} // namespace parvello
