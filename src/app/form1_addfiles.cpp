// "Add File(s)": the multi-select open-file dialog fills the list.
#include "app/form1.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/prompts.h"
#include "filelist/addfolder.h"
#include "filelist/filelistmodel.h"

#include <QDir>
#include <QPushButton>

namespace parvello {

namespace {
// The dialog's settings: read-only box ticked, multi-select, explorer style, long names.
constexpr int OpenDialogFlags = 0x280201;
} // namespace

// The lines of "Add File(s)" (addFiles): the numbers users see in the "Application
// Error" box ("in ...PushButton1_Click at line N") when a step fails. Keep each number.
struct AddFilesLines {
    enum : int {
        ClearName = 104,
        DialogFlags = 106,
        DialogTitle = 108,
        DialogFilter = 110,
        ShowDialog = 112,
        CancelledTest = 114,
        SplitSelection = 116,
        OneFileTest = 118,
        OneFilePath = 120,
        AddOneFile = 122,
        Folder = 124,
        FirstName = 126,
        LastName = 128,
        JoinPath = 136,
        CollapseSeparators = 138,
        AddFile = 140,
    };
};

void Form1::addFiles() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton1_Click")));
    QString fileName;
    int flags = 0;
    QString title;
    QString filter;
    bool tooManyFiles = false;
    trap.step(AddFilesLines::ClearName, [&] { fileName.clear(); });
    trap.step(AddFilesLines::DialogFlags, [&] { flags = OpenDialogFlags; });
    trap.step(AddFilesLines::DialogTitle, [&] {
        title = QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files");
    });
    trap.step(AddFilesLines::DialogFilter,
              [&] { filter = QStringLiteral("All Files (*.*)|*.*|"); });
    trap.step(AddFilesLines::ShowDialog, [&] {
        Q_UNUSED(flags);
        try {
            fileName = prompts_.openFiles(title, filter);
        } catch (const Failure& failure) {
            if (failure.number() != failure_numbers::SelectionTooLong)
                throw;
            tooManyFiles = true;
        }
    });
    if (tooManyFiles) {
        // Nothing is added, not even the first names of the selection.
        prompts_.message(
            QStringLiteral("You've selected too many files to add.\r\rPlease try adding "
                           "via the \"Add All\" button."));
        return;
    }
    bool cancelled = false;
    trap.step(AddFilesLines::CancelledTest, [&] { cancelled = fileName.isEmpty(); });
    if (cancelled || IsRunning())
        return;

    // A picked name that may stand for a name the program cannot hold exactly is not
    // added: it is named in one box at the end.
    QStringList unrepresentable;
    const auto addPicked = [&](const QString& path) {
        const QStringList twins = UnrepresentableTwins(path);
        if (twins.isEmpty())
            listedFiles->Add(path);
        else
            unrepresentable += twins;
    };
    const auto reportUnrepresentable = [&] {
        if (!unrepresentable.isEmpty())
            prompts_.message(UnrepresentableNamesMessage(unrepresentable));
    };
    QStringList parts;
    trap.step(AddFilesLines::SplitSelection, [&] { parts = fileName.split(QChar(u'\0')); });
    // One part: the full path of the one file, added as the dialog gave it.
    if (trap.test(AddFilesLines::OneFileTest, [&] { return parts.size() == 1; })) {
        QString path;
        trap.step(AddFilesLines::OneFilePath, [&] { path = parts.first(); });
        trap.step(AddFilesLines::AddOneFile, [&] { addPicked(path); });
        reportUnrepresentable();
        return;
    }
    // Two or more: the folder, then the names.
    QString folder;
    trap.step(AddFilesLines::Folder, [&] { folder = parts.first(); });
    qsizetype first = 0;
    qsizetype last = -1;
    trap.step(AddFilesLines::FirstName, [&] { first = 1; });
    trap.step(AddFilesLines::LastName, [&] { last = parts.size() - 1; });
    for (qsizetype index = first; index <= last; ++index) { // 134
        QString path;
        trap.step(AddFilesLines::JoinPath, [&] {
            // A name that is a full path (files from different drives) stands for itself.
            const QString& name = parts.at(index);
            path =
                folder.isEmpty() && QDir::isAbsolutePath(name) ? name : folder + Separator() + name;
        });
        trap.step(AddFilesLines::CollapseSeparators, [&] { path = CollapseBackslashes(path); });
        trap.step(AddFilesLines::AddFile, [&] { addPicked(path); });
    } // 142
    reportUnrepresentable();
}

} // namespace parvello
