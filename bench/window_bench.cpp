// Times "Start Removing" through the real main window, offscreen, with every box answered
// by a script: the files named on the command line, rule "Remove all double quotes",
// results into one folder. Prints seconds, files per second and MB/s of input.
//   parvello-window-bench OUT-FOLDER LIST-FILE   (LIST-FILE: one source path per line)
#include "app/form1.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/settingsstore.h"
#include "filelist/filelistmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace parvello;

// Boxes are counted, never shown.
class CountingPrompts : public Prompts {
public:
    int errors = 0;
    QStringList messages;
    void message(const QString& text) override { messages << text; }
    bool askYesNo(const QString&) override { return false; }
    void applicationError(const QString& text) override {
        if (++errors <= 5)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString openFiles(const QString&, const QString&) override { return {}; }
    QString browseForFolder(const QString&, const QString&) override { return {}; }
    void shellOpen(const QString&) override {}
};

class FixedPlatform : public Platform {
public:
    QString folder;
    QString programFolder() override { return folder; }
    QString desktopFolder() override { return folder; }
    int fileAttributes(const QString& path) override { return FileAttributes(path); }
    QPoint cursorPosition() override { return {}; }
    double randomDraw() override { return 0.5; }
};

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT-FOLDER LIST-FILE\n", argv[0]);
        return 2;
    }
    QFile list(QString::fromLocal8Bit(argv[2]));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    QStringList paths;
    qint64 bytes = 0;
    while (!list.atEnd()) {
        const QString path = QString::fromUtf8(list.readLine()).trimmed();
        if (!path.isEmpty()) {
            paths << path;
            bytes += QFileInfo(path).size();
        }
    }

    QTemporaryDir home;
    CountingPrompts prompts;
    FixedPlatform platform;
    platform.folder = home.path();
    UserSettingsStore store = UserSettingsStore::iniFolder(home.path());
    Form1 form(prompts, platform, store);
    form.Form_Load();
    form.show();
    form.removeDoubleOption->setChecked(true);
    form.intoFolderOption->setChecked(true);
    form.outputFolderBox->setText(QString::fromLocal8Bit(argv[1]));
    form.listedFiles->AddMany(paths);

    QElapsedTimer timer;
    timer.start();
    form.startRemoving();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("%.4f s  %d files  %.0f files/s  %.1f MB/s  boxes: %s, %d errors\n", seconds,
                int(paths.size()), paths.size() / seconds, double(bytes) / 1e6 / seconds,
                qPrintable(prompts.messages.join(QStringLiteral(" | "))), prompts.errors);
    return prompts.errors == 0 && prompts.messages == QStringList{QStringLiteral("Done.")} ? 0 : 1;
}
