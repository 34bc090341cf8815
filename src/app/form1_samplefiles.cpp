// The example files in the program folder's "Samples": recorded once, at the first start
// that finds any, and added to the list by "Load Sample/Example Files".
#include "app/form1.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/startup.h"
#include "filelist/addfolder.h"
#include "filelist/filelistmodel.h"
#include "samples/scramble.h"
#include "textio/codepage.h"

namespace parvello {

namespace {

const QString SnapshotKey = QStringLiteral("Snapshot");

} // namespace

QString Form1::samplesFolder() {
    return platform_.programFolder() + Separator() + QStringLiteral("Samples");
}

void Form1::TakeSampleSnapshot() {
    QStringList paths;
    // A samples folder that is missing is as good as an empty one: nothing to record yet,
    // and the next start looks again.
    if (IsFolder(samplesFolder())) {
        const QStringList names =
            ListFilesInFolder(folderAccess(), samplesFolder(), QStringLiteral("*.*"));
        for (qsizetype i = 1; i < names.size(); ++i)
            paths << samplesFolder() + Separator() + names[i];
    }
    store_.save(SnapshotKey, EncodeSampleRecord(paths, CodePage::ansi(), [this] { DoEvents(); }));
}

void Form1::LoadSampleFiles(FileListModel& list) {
    const QString stored = store_.get(SnapshotKey, false);
    // Once the window is closing, the rest of the record is read without handling events,
    // and then nothing is added and no box is shown: the program ends.
    const QStringList paths = DecodeSampleRecord(stored, CodePage::ansi(), [this] {
        if (!IsUnloading())
            DoEvents();
    });
    if (IsUnloading())
        return;
    for (const QString& path : paths) {
        if (FileExists(path) && !ListHasItem(list.Rows(), path))
            list.Add(path);
    }
    const bool open = prompts_.askYesNo(
        QStringLiteral("Would you like this software to open the folder where these sample files "
                       "are stored (so that you can view them before working with them)?"));
    if (open)
        prompts_.shellOpen(QLatin1Char('"') + samplesFolder() + Separator() + QLatin1Char('"'));
}

// The lines of "Examples" (loadSamples): the numbers users see in the "Application
// Error" box ("in ...PushButton9_Click at line N") when a step fails. Keep each number.
struct ExamplesLines {
    enum : int {
        LoadExamples = 100,
    };
};

void Form1::loadSamples() {
    // The list stays as it is while a batch run works through it.
    if (IsRunning())
        return;
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton9_Click")));
    trap.step(ExamplesLines::LoadExamples, [&] { LoadSampleFiles(*listedFiles); });
}

} // namespace parvello
