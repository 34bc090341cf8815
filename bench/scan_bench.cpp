// Times "Add All File(s) In Folder" on the real window (offscreen, scripted boxes) over a
// large tree, beside `find DIR -type f | wc -l` on the same tree in the same run, and
// checks that the list stays usable with every file in it (scrolling, Delete, adding).
//   scan_bench [--tree DIR] [--runs N]
// The tree (100 folders of 100 folders, 10 files in each of those: 100,000 files in
// 10,101 folders) is made under DIR when DIR/.complete is missing.
#include "app/form1.h"
#include "app/systemplatform.h"
#include "base/prompts.h"
#include "base/settingsstore.h"
#include "filelist/filelistmodel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>

using namespace parvello;

namespace {

// Answers the extension prompt and the folder dialog; any other box is counted.
class ScriptedPrompts : public Prompts {
public:
    QString extension;
    QString folder;
    int otherBoxes = 0;

    void message(const QString&) override { ++otherBoxes; }
    bool askYesNo(const QString&) override { return ++otherBoxes, false; }
    void applicationError(const QString& text) override {
        ++otherBoxes;
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
    }
    QString inputBox(const QString&, const QString&, const QString&) override { return extension; }
    QString openFiles(const QString&, const QString&) override { return ++otherBoxes, QString(); }
    QString browseForFolder(const QString&, const QString&) override { return folder; }
    void shellOpen(const QString&) override {}
};

void makeTree(const QString& root) {
    if (QFile::exists(root + "/.complete"))
        return;
    std::fprintf(stderr, "making the tree in %s ...\n", qPrintable(root));
    QDir().mkpath(root);
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 100; ++b) {
            const QString folder = QStringLiteral("%1/d%2/e%3").arg(root).arg(a).arg(b);
            QDir().mkpath(folder);
            for (int f = 0; f < 10; ++f) {
                QFile file(QStringLiteral("%1/file%2.txt").arg(folder).arg(f));
                if (!file.open(QIODevice::WriteOnly))
                    qFatal("cannot write %s", qPrintable(file.fileName()));
                file.write("\"quoted\"\n");
            }
        }
    }
    QFile done(root + "/.complete");
    if (!done.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(done.fileName()));
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString tree = QStringLiteral("/var/tmp/parvello-scan-bench");
    int runs = 5;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--tree"))
            tree = args[i + 1];
        else if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
    }
    makeTree(tree);

    QTemporaryDir config;
    SystemPlatform platform;
    ScriptedPrompts prompts;
    UserSettingsStore store = UserSettingsStore::iniFolder(config.path());
    Form1 form(prompts, platform, store);
    form.Form_Load();
    form.show();
    QCoreApplication::processEvents();
    prompts.extension = QStringLiteral("txt");
    prompts.folder = tree;

    // Event-loop turns during a scan, and the longest wait between two of them.
    int turns = 0;
    double longestGap = 0;
    QElapsedTimer sinceTurn;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        ++turns;
        longestGap = std::max(longestGap, ms(sinceTurn));
        sinceTurn.restart();
    });

    QList<double> scanTimes;
    QList<double> findTimes;
    int rows = 0;
    int turnsPerScan = 0;
    double gapPerScan = 0;
    QString findCount;
    for (int run = 0; run < runs; ++run) {
        form.listedFiles->Clear();
        QCoreApplication::processEvents();
        turns = 0;
        longestGap = 0;
        sinceTurn.start();
        probe.start(0);
        QElapsedTimer timer;
        timer.start();
        form.addFolderButton->click();
        scanTimes << ms(timer);
        probe.stop();
        rows = form.listedFiles->Count();
        turnsPerScan = turns;
        gapPerScan = longestGap;

        QProcess find;
        timer.restart();
        find.start(QStringLiteral("sh"),
                   {QStringLiteral("-c"), QStringLiteral("find \"$1\" -type f | wc -l"),
                    QStringLiteral("sh"), tree});
        find.waitForFinished(-1);
        findTimes << ms(timer);
        findCount = QString::fromLatin1(find.readAllStandardOutput()).trimmed();
    }
    const double scan = median(scanTimes);
    const double find = median(findTimes);
    std::printf("tree: %s\n", qPrintable(tree));
    std::printf("rows added by the scan: %d (find counts %s files, one of them .complete)\n", rows,
                qPrintable(findCount));
    std::printf("scan through the window, median of %d: %.1f ms\n", runs, scan);
    std::printf("find -type f | wc -l, median of %d:   %.1f ms\n", runs, find);
    std::printf("ratio scan / find: %.1fx\n", scan / find);
    std::printf("event-loop turns during one scan: %d, longest wait between two: %.1f ms\n",
                turnsPerScan, gapPerScan);
    std::printf("other boxes shown: %d\n", prompts.otherBoxes);

    // The list with every file in it.
    QTreeView* list = form.fileList;
    QElapsedTimer timer;
    timer.start();
    list->scrollToBottom();
    QCoreApplication::processEvents();
    const double toBottom = ms(timer);
    timer.restart();
    for (int page = 0; page < 200; ++page) {
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() - 10);
        list->viewport()->repaint();
    }
    const double pages = ms(timer) / 200;
    QList<double> deletes;
    for (const int row : {1, rows / 2, rows - 10}) {
        list->selectionModel()->setCurrentIndex(form.listedFiles->index(row - 1, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        timer.restart();
        QCoreApplication::sendEvent(list, &key);
        QCoreApplication::processEvents();
        deletes << ms(timer);
    }
    timer.restart();
    form.listedFiles->Add(QStringLiteral("/one/more.txt"));
    QCoreApplication::processEvents();
    const double addOne = ms(timer);
    std::printf("list of %d rows: scroll to the end %.1f ms, one scroll step with repaint "
                "%.2f ms, Delete %.1f / %.1f / %.1f ms (first, middle, end row), one more "
                "row %.1f ms; rows now %d\n",
                rows, toBottom, pages, deletes[0], deletes[1], deletes[2], addOne,
                form.listedFiles->Count());
    return rows == 100000 && form.listedFiles->Count() == rows - 2 ? 0 : 1;
}
