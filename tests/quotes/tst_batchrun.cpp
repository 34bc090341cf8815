// "Start Removing" through the real window offscreen, on real files.
#include "app/form1.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/listorder.h"
#include "common/runwindow.h"
#include "filelist/filelistmodel.h"
#include "quotes/unreadsources.h"
#include "textio/atomicfile.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include <functional>

#include <sys/stat.h>

using namespace parvello;
using namespace parvello::testing;

namespace {

// Runs `pause` each time the run lets the window handle events (once per file), with the
// number of that pause, counted from 1.
class Pauses : public QObject {
public:
    explicit Pauses(std::function<void(int)> pause) : pause_(std::move(pause)) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { pause_(++count_); });
        timer_.start();
    }
    int count() const { return count_; }

private:
    std::function<void(int)> pause_;
    QTimer timer_;
    int count_ = 0;
};

using Run = RunWindow;

} // namespace

class TestBatchRun : public QObject {
    Q_OBJECT
private slots:
    void emptyList();
    void folderMustExist();
    void progressAndDone();
    void intoFolder_data();
    void intoFolder();
    void inPlace();
    void sameNameTwiceIntoOneFolder();
    void ruleChangeBetweenFiles();
    void noSaveOptionWritesIntoTheFolder();
    void unreadableFileIsNotWritten();
    void untouchedFilesAreNamedAfterDone();
    void largeFileKeepsTheWindowAnswering();
    void listIsLockedDuringARun();
    void stoppedAtAFileBoundary_data();
    void stoppedAtAFileBoundary();
    void vanishedRowIsSkipped();
    void failedOutputIsReportedOnce();
    void failureIsReportedAtItsLine_data();
    void failureIsReportedAtItsLine();
    void listedFileIsReadBeforeItIsReplaced_data() { listOrderRows(); }
    void listedFileIsReadBeforeItIsReplaced();
};

void TestBatchRun::emptyList() {
    Run r;
    r.form->startRemoving();
    QCOMPARE(r.messages(), QStringList{"No files added."});
    QCOMPARE(r.prompts.calls.size(), 1);
    QCOMPARE(QDir(r.out).entryList(QDir::Files).size(), 0);
}

void TestBatchRun::folderMustExist() {
    Run r;
    const QString file = r.source("a.txt", "say \"hi\"\r\n");
    r.form->outputFolderBox->setText(r.path("missing/"));
    r.form->startRemoving();
    QCOMPARE(r.messages(), QStringList{"Folder does not exist. Please select another folder."});
    QCOMPARE(TestWindow::readFile(file), QByteArray("say \"hi\"\r\n"));
    // A file is not a folder either.
    r.form->outputFolderBox->setText(file);
    r.form->startRemoving();
    QCOMPARE(r.messages().size(), 2);
    // Beside the original, the folder box does not matter.
    r.form->inPlaceOption->click();
    r.form->startRemoving();
    QCOMPARE(r.messages().last(), QStringLiteral("Done."));
    QCOMPARE(TestWindow::readFile(file), QByteArray("say hi\r\n"));
}

void TestBatchRun::progressAndDone() {
    Run r;
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        r.source(QString::fromLatin1(name), "x");
    QList<int> positions;
    QStringList texts;
    QList<int> pointers;
    Pauses pauses([&](int) {
        positions << r.form->progressBar->value();
        texts << r.form->progressBar->text();
        pointers << r.form->MousePointer();
    });
    QString barAtDone;
    r.prompts.onBox([&](const PromptCall&) {
        barAtDone = QStringLiteral("%1 %2 %3")
                        .arg(r.form->progressBar->value())
                        .arg(r.form->progressBar->text())
                        .arg(r.form->MousePointer());
    });
    r.form->startRemoving();
    QCOMPARE(pauses.count(), 4); // events handled once per file
    QCOMPARE(positions, (QList<int>{25, 50, 75, 100}));
    QCOMPARE(texts, (QStringList{"Processing: 1.txt", "Processing: 2.txt", "Processing: 3.txt",
                                 "Processing: 4.txt"}));
    // The hourglass is first set after the first pause.
    QCOMPARE(pointers, (QList<int>{0, 11, 11, 11}));
    QCOMPARE(r.messages(), QStringList{"Done."});
    QCOMPARE(barAtDone, QStringLiteral("0 Progress Bar 0"));
}

void TestBatchRun::intoFolder_data() {
    QTest::addColumn<bool>("trailingSeparator");
    QTest::newRow("folder ends with a separator") << true;
    QTest::newRow("folder without one") << false;
}

void TestBatchRun::intoFolder() {
    QFETCH(bool, trailingSeparator);
    Run r;
    const QString file =
        r.source("100% \u201Cdone\u201D.txt", "He said \"yes\".\nIt's \u201Cfine\u201D.");
    r.form->outputFolderBox->setText(trailingSeparator ? r.out + "/" : r.out);
    r.form->startRemoving();
    QCOMPARE(r.messages(), QStringList{"Done."});
    // The source is left as it was; the result has CR LF after every line.
    QCOMPARE(TestWindow::readFile(file), QByteArray("He said \"yes\".\nIt's \u201Cfine\u201D."));
    QCOMPARE(QString::fromUtf8(TestWindow::readFile(r.out + "/100% \u201Cdone\u201D.txt")),
             QStringLiteral("He said yes.\r\nIt's fine.\r\n"));
}

void TestBatchRun::inPlace() {
    Run r;
    const QByteArray bom = "\xEF\xBB\xBF";
    const QString utf8 = r.source("bom.txt", bom + "\u2018a\u2019 \"b\"\r\n");
    const QString empty = r.source("empty.txt", "");
    r.form->inPlaceOption->click();
    r.form->removeSingleOption->click();
    r.form->startRemoving();
    QCOMPARE(r.messages(), QStringList{"Done."});
    // With the mark, the text ending in CR LF keeps its one line end: the file settles, and
    // later runs leave it exactly as it is (not even rewritten).
    QCOMPARE(TestWindow::readFile(utf8), bom + "a \"b\"\r\n");
    QCOMPARE(TestWindow::readFile(empty), QByteArray("\r\n"));
    QCOMPARE(QDir(r.out).entryList(QDir::Files).size(), 0);
    // The file's identity and time stamp to the nanosecond.
    const auto identity = [](const QString& path) {
        struct stat status {};
        ::stat(QFile::encodeName(path).constData(), &status);
        return QList<qint64>{qint64(status.st_ino), qint64(status.st_mtim.tv_sec),
                             qint64(status.st_mtim.tv_nsec)};
    };
    const QList<qint64> settled = identity(utf8);
    for (int run = 2; run <= 3; ++run) {
        r.form->startRemoving();
        QCOMPARE(TestWindow::readFile(utf8), bom + "a \"b\"\r\n");
        QCOMPARE(identity(utf8), settled);
    }
}

void TestBatchRun::sameNameTwiceIntoOneFolder() {
    Run r;
    TestWindow::writeFile(r.path("one/a.txt"), "first\"");
    TestWindow::writeFile(r.path("two/a.txt"), "second\"");
    r.form->listedFiles->Add(r.path("one/a.txt"));
    r.form->listedFiles->Add(r.path("two/a.txt"));
    TestWindow::writeFile(r.path("three/b.txt"), "third\"");
    r.form->listedFiles->Add(r.path("three/b.txt"));
    r.form->listedFiles->Add(r.path("two/a.txt")); // the same file again replaces nothing
    r.form->startRemoving();
    QCOMPARE(TestWindow::readFile(r.out + "/a.txt"), QByteArray("second\r\n"));
    QCOMPARE(r.messages(),
             (QStringList{"Done.", "1 result was replaced by a later file's result of the same "
                                   "name:\r\n" +
                                       r.out + "/a.txt: the result of " + r.path("one/a.txt") +
                                       " was replaced by the result of " + r.path("two/a.txt")}));
    // Beside the originals, no result takes another's place.
    r.form->inPlaceOption->click();
    r.form->startRemoving();
    QCOMPARE(r.messages().mid(2), QStringList{"Done."});
}

void TestBatchRun::ruleChangeBetweenFiles() {
    Run r;
    r.source("1.txt", "\"d\" 's'");
    r.source("2.txt", "\"d\" 's'");
    Pauses pauses([&](int pause) {
        if (pause == 2) {
            r.form->doubleToTextOption->click();
            r.form->doubleReplacementBox->setText(QStringLiteral("<>"));
        }
    });
    r.form->startRemoving();
    QCOMPARE(TestWindow::readFile(r.out + "/1.txt"), QByteArray("d 's'\r\n"));
    QCOMPARE(TestWindow::readFile(r.out + "/2.txt"), QByteArray("<>d<> 's'\r\n"));
}

void TestBatchRun::noSaveOptionWritesIntoTheFolder() {
    TestWindow w;
    w.preset("Option8", "False");
    w.preset("Option7", "False");
    w.preset("Text1", w.path("out"));
    QDir().mkpath(w.path("out"));
    w.load();
    TestWindow::writeFile(w.path("in/a.txt"), "\"q\"");
    w.form->listedFiles->Add(w.path("in/a.txt"));
    w.form->startRemoving();
    QCOMPARE(TestWindow::readFile(w.path("out/a.txt")), QByteArray("q\r\n"));
    QCOMPARE(TestWindow::readFile(w.path("in/a.txt")), QByteArray("\"q\""));
}

void TestBatchRun::unreadableFileIsNotWritten() {
    Run r;
    r.form->listedFiles->Add(r.in + "/missing.txt");
    r.source("b.txt", "\"b\"");
    r.form->startRemoving();
    // The reader reports the missing file (four times, as it always has); nothing else does.
    QCOMPARE(r.prompts.errorTexts().size(), 4);
    for (const QString& error : r.prompts.errorTexts())
        QVERIFY2(error.contains(QStringLiteral("RFTSFSO.ReadFileToString")), qPrintable(error));
    QVERIFY(!QFile::exists(r.out + "/missing.txt"));
    QCOMPARE(TestWindow::readFile(r.out + "/b.txt"), QByteArray("b\r\n"));
    QCOMPARE(r.messages(), QStringList{"Done."});
}

void TestBatchRun::untouchedFilesAreNamedAfterDone() {
    Run r;
    const QString binary = r.source("image.bin", QByteArray("\x89PNG\0\0\"", 7));
    r.source("ok.txt", "\"ok\"");
    r.form->startRemoving();
    const QStringList messages = r.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0], QStringLiteral("Done."));
    QVERIFY2(
        messages[1].startsWith(QStringLiteral("1 file was left untouched:\r\n") + binary + ": "),
        qPrintable(messages[1]));
    QVERIFY(!QFile::exists(r.out + "/image.bin"));
    QCOMPARE(TestWindow::readFile(r.out + "/ok.txt"), QByteArray("ok\r\n"));
}

void TestBatchRun::stoppedAtAFileBoundary_data() {
    QTest::addColumn<bool>("close");          // else Escape after files 1 and 3
    QTest::addColumn<QList<bool>>("answers"); // to "Stop after the current file?", in turn
    QTest::addColumn<int>("done");
    QTest::newRow("Escape: No, then Yes") << false << QList<bool>{false, true} << 3;
    QTest::newRow("Escape: No, No") << false << QList<bool>{false, false} << 5;
    QTest::newRow("closing after file 2: No") << true << QList<bool>{false} << 5;
    QTest::newRow("closing after file 2: Yes") << true << QList<bool>{true} << 2;
}

void TestBatchRun::stoppedAtAFileBoundary() {
    QFETCH(bool, close);
    QFETCH(QList<bool>, answers);
    QFETCH(int, done);
    Run r;
    r.form->show();
    for (int i = 1; i <= 5; ++i)
        r.source(QStringLiteral("%1.txt").arg(i), "\"x\"");
    for (bool answer : answers)
        r.prompts.answerYesNo(answer);
    // Escape again while the question is open asks nothing more.
    r.prompts.onBox([&](const PromptCall&) { QTest::keyClick(r.form.get(), Qt::Key_Escape); });
    Pauses pauses([&](int pause) {
        if (close && pause == 3)
            r.form->close();
        else if (!close && pause % 2 == 0) // from a box that takes keys, or the list
            QTest::keyClick(pause == 2 ? static_cast<QWidget*>(r.form->doubleReplacementBox)
                                       : r.form->fileList,
                            Qt::Key_Escape);
    });
    r.form->startRemoving();
    QCOMPARE(r.prompts.callsOf("yesno").size(), answers.size());
    QCOMPARE(r.prompts.callsOf("yesno").last().text, StopQuestion);
    QCOMPARE(QDir(r.out).entryList(QDir::Files).size(), done);
    QCOMPARE(r.form->IsUnloading(), close && answers.last());
    if (done == 3)
        QCOMPARE(r.form->progressBar->format(), QStringLiteral("Stopped after 3 of 5 files."));
    QCOMPARE(r.messages(), done == 5 ? QStringList{"Done."} : QStringList{});
    QCOMPARE(StoppedProgressText(1234, 100000),
             QStringLiteral("Stopped after 1,234 of 100,000 files."));
}

// Escape during a large file: until its result is in place (its blocks, then its flush to a
// disk that takes its time) the window answers at most 100 ms apart and the bar moves; the
// file is completed and the run stops after it.
void TestBatchRun::largeFileKeepsTheWindowAnswering() {
    Run r;
    r.form->show();
    const QString large = r.source("large.txt", {});
    QFile file(large);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray lines = QByteArray("say \"hi\" to them\n").repeated(1 << 16);
    for (qint64 written = 0; written < 256 << 20; written += lines.size())
        file.write(lines);
    file.close();
    r.source("small.txt", "\"x\"");
    r.form->doubleToTextOption->click(); // a longer replacement: the slower road
    r.form->doubleReplacementBox->setText("<<>>");
    r.prompts.answerYesNo(true);
    QElapsedTimer clock, sinceTick;
    qint64 longest = 0, blocksTime = 0;
    bool largeFileNotDone = true; // at the tick before
    QSet<int> bar;
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, [&] {
        if (!r.form->IsRunning())
            return;
        if (!sinceTick.isValid())
            clock.start();
        else if (largeFileNotDone) {
            longest = std::max(longest, sinceTick.elapsed());
            blocksTime = clock.elapsed();
        }
        largeFileNotDone = !QFile::exists(r.out + "/large.txt");
        sinceTick.start();
        bar.insert(r.form->progressBar->value());
        if (clock.elapsed() > 50 && r.prompts.callsOf("yesno").isEmpty())
            QTest::keyClick(r.form.get(), Qt::Key_Escape);
    });
    ticks.start(5);
    AtomicFile::SetSlowDiskForTests(400);
    r.form->startRemoving();
    AtomicFile::SetSlowDiskForTests(0);
    QVERIFY2(blocksTime > 120, qPrintable(QString::number(blocksTime) + " ms: too short to tell"));
    QVERIFY2(longest <= 100, qPrintable(QString::number(longest)));
    QVERIFY(std::any_of(bar.cbegin(), bar.cend(), [](int v) { return v > 0 && v < 50; }));
    QCOMPARE(QFileInfo(r.out + "/large.txt").size(), QFileInfo(large).size() / 17 * 24);
    QVERIFY(!QFile::exists(r.out + "/small.txt"));
    QCOMPARE(r.form->progressBar->format(), QStringLiteral("Stopped after 1 of 2 files."));
}

void TestBatchRun::listIsLockedDuringARun() {
    Run r;
    r.source("1.txt", "a");
    r.source("2.txt", "b");
    QList<bool> enabled;
    Pauses pauses([&](int) {
        for (QPushButton* button :
             {r.form->addFilesButton, r.form->startButton, r.form->addFolderButton,
              r.form->clearListButton, r.form->samplesButton})
            enabled << button->isEnabled();
        // A second press while the run goes on starts nothing, and no way of changing the
        // list changes it, even when reached other than through its disabled button.
        r.form->startRemoving();
        const QStringList rows = r.form->listedFiles->Rows();
        r.form->clearList();
        r.form->addFilesInFolder();
        r.form->loadSamples();
        r.form->fileList->setCurrentIndex(r.form->listedFiles->index(0, 0));
        r.form->fileListDoubleClicked();
        r.form->fileListKeyPressed(Qt::Key_Delete, Qt::NoModifier);
        QMimeData drop;
        drop.setUrls({QUrl::fromLocalFile(r.in + "/1.txt")});
        r.form->fileListDropped(&drop);
        QCOMPARE(r.form->listedFiles->Rows(), rows);
    });
    r.form->startRemoving();
    QCOMPARE(enabled, QList<bool>(10, false));
    QCOMPARE(r.prompts.calls.size(), 1); // only "Done."
    QCOMPARE(r.messages(), QStringList{"Done."});
    QVERIFY(r.form->startButton->isEnabled());
    QVERIFY(r.form->clearListButton->isEnabled());
}

void TestBatchRun::vanishedRowIsSkipped() {
    Run r;
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        r.source(QString::fromLatin1(name), QByteArray(name) + "\"");
    Pauses pauses([&](int pause) {
        if (pause == 1)
            r.form->listedFiles->Remove(3);
    });
    r.form->startRemoving();
    QCOMPARE(pauses.count(), 3);
    QCOMPARE(QDir(r.out).entryList(QDir::Files), (QStringList{"1.txt", "2.txt", "4.txt"}));
    QCOMPARE(TestWindow::readFile(r.out + "/4.txt"), QByteArray("4.txt\r\n"));
}

void TestBatchRun::failedOutputIsReportedOnce() {
    Run r;
    r.source("lines.txt", "a\nb\nc\nd\n");
    QDir().mkpath(r.out + "/lines.txt"); // a folder stands where the output would go
    r.form->startRemoving();
    QCOMPARE(r.prompts.errorTexts().size(), 1);
    QCOMPARE(r.messages(), QStringList{"Done."});
}

// A failure in a step of the run is reported at that step's line; the run goes on, and a
// file whose output path could not be made is left alone.
void TestBatchRun::failureIsReportedAtItsLine_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QString>("written"); // "out", "in" or "" (the file left alone)
    QTest::addColumn<bool>("utf8Mark");
    QTest::addColumn<int>("option"); // the rule's button, removeDoubleOption to singleToTextOption
    QTest::newRow("116 which folder (a failed test goes on as if true)")
        << 116 << true << "out" << false << 1;
    QTest::newRow("118 into the folder") << 118 << false << "" << false << 1;
    QTest::newRow("120 beside the original") << 120 << true << "in" << false << 1;
    QTest::newRow("122 beside the original") << 122 << true << "" << false << 1;
    QTest::newRow("124 doubled separators (the path as joined)")
        << 124 << false << "out" << false << 1;
    // Inside the engine a failed step leaves the file as it was, in place or not.
    const struct {
        int line;
        bool utf8Mark;
        int option;
    } engine[] = {{128, true, 1},  {130, true, 1},  {132, false, 1}, {134, false, 1},
                  {136, false, 1}, {142, false, 1}, {152, false, 3}, {158, false, 3},
                  {176, true, 6},  {182, false, 6}, {184, true, 1},  {186, true, 1},
                  {188, false, 1}, {192, true, 1},  {194, true, 1}};
    for (const auto& row : engine)
        for (const bool inPlace : {false, true})
            QTest::addRow("%d Option%d%s%s", row.line, row.option,
                          row.utf8Mark ? " UTF-8 mark" : "", inPlace ? " in place" : "")
                << row.line << inPlace << "" << row.utf8Mark << row.option;
}

void TestBatchRun::failureIsReportedAtItsLine() {
    QFETCH(int, line);
    QFETCH(bool, inPlace);
    QFETCH(QString, written);
    QFETCH(bool, utf8Mark);
    QFETCH(int, option);
    Run r;
    const QByteArray content = utf8Mark ? QByteArray("\xEF\xBB\xBF\"a\"") : QByteArray("\"a\"");
    const QString source = r.source("a.txt", content);
    r.form->outputFolderBox->setText(r.out); // no doubled separator to collapse
    const QList<QRadioButton*> options = {
        r.form->removeDoubleOption,   r.form->removeSingleOption, r.form->doubleToSingleOption,
        r.form->singleToDoubleOption, r.form->doubleToTextOption, r.form->singleToTextOption};
    options[option - 1]->click();
    if (inPlace)
        r.form->inPlaceOption->click();
    int failures = 0;
    Trap::setFaultInjector([&](const QString& tag, int at) {
        if (tag.endsWith(QLatin1String("PushButton2_Click")) && at == line && failures++ == 0)
            throw Failure(QStringLiteral("Injected"));
    });
    r.form->startRemoving();
    Trap::setFaultInjector({});
    QCOMPARE(r.prompts.errorTexts().size(), 1);
    QVERIFY2(r.prompts.errorTexts()[0].startsWith(
                 QStringLiteral("Injected\r\nin Qwellan2021/08/31.Form1.PushButton2_Click at "
                                "line %1\r\r")
                     .arg(line)),
             qPrintable(r.prompts.errorTexts()[0]));
    QCOMPARE(r.messages(), QStringList{"Done."});
    const QByteArray result("a\r\n");
    QCOMPARE(TestWindow::readFile(source), written == "in" ? result : content);
    QCOMPARE(QFile::exists(r.out + "/a.txt"), written == "out");
    if (written == "out")
        QCOMPARE(TestWindow::readFile(r.out + "/a.txt"), result);
    QCOMPARE(QDir(r.in).entryList(QDir::Files | QDir::Hidden), QStringList{"a.txt"});
}

// A row whose result would replace a file that a later row still has to read is left
// untouched and named after "Done."; the later row runs as usual.
void TestBatchRun::listedFileIsReadBeforeItIsReplaced() {
    QFETCH(QStringList, rows);
    QFETCH(bool, inPlace);
    QFETCH(QString, untouched);
    Run r;
    const QString root = QFileInfo(r.in).path();
    writeListOrderFiles(root);
    for (const QString& row : rows)
        r.form->listedFiles->Add(root + "/" + row);
    if (inPlace)
        r.form->inPlaceOption->click();
    QStringList messages = {"Done."};
    if (!untouched.isEmpty())
        messages << "1 file was left untouched:\r\n" + root + "/" + untouched + ": " +
                        ToQString(ReplacesUnreadFileReason());
    r.form->startRemoving();
    QCOMPARE(r.messages(), messages);
    QCOMPARE(r.prompts.calls.size(), messages.size());
    QCOMPARE(TestWindow::readFile(root + "/in/a.txt"), QByteArray("one\""));
    QCOMPARE(TestWindow::readFile(root + "/out/a.txt"), QByteArray("two\r\n"));
}

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
