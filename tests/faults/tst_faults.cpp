// Runs that meet trouble: no room to write, read-only targets, sources that vanish or turn
// into folders, links, a folder that may not be written, a link cycle in a scanned tree.
// Every case checks that no byte of any input was lost.
#include "app/fileboxes.h"
#include "base/qtpaths.h"
#include "common/otherwriter.h"
#include "common/runwindow.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "filelist/filelistmodel.h"
#include "quotes/fileengine.h"
#include "textio/atomicfile.h"
#include "textio/writebehind.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace parvello;
using namespace parvello::testing;

namespace {

constexpr rlim_t SizeLimit = 64 * 1024;

// A file four times the size limit, with quotes to remove.
QByteArray bigText(rlim_t limit = SizeLimit) {
    QByteArray text;
    while (text.size() < qsizetype(limit) * 4)
        text += "He said \"no room\" twice.\n";
    return text;
}

// Lowers the file-size limit of this process for its lifetime; writes past it fail with
// "file too large" instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit = SizeLimit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

using Scene = RunWindow;

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void noRoomInTheWindow_data();
    void noRoomInTheWindow();
    void noRoomInTheCli_data();
    void noRoomInTheCli();
    void readOnlyTargetEvenForRoot();
    void sourceDeletedAfterListing();
    void sourceReplacedByAFolder();
    void linkStaysALink();
    void specialFilesInTheList();
    void changedWhileProcessedInTheWindow();
    void folderThatMayNotBeWritten();
    void linkCycleInAScannedTree();
    void settingsFileOfGarbage();
    void settingsFileThatCannotBeWritten();
};

void TestFaults::noRoomInTheWindow_data() {
    QTest::addColumn<bool>("behind");
    QTest::newRow("written at once") << false;
    QTest::newRow("written behind") << true; // the write that fails is on another thread
}

void TestFaults::noRoomInTheWindow() {
    QFETCH(bool, behind);
    ForceWriteBehindForTests(behind);
    const auto normal = qScopeGuard([] { ForceWriteBehindForTests(false); });
    Scene s;
    const QByteArray big = bigText();
    const QString bigFile = s.source("big.txt", big);
    const QString smallFile = s.source("small.txt", "\"fits\"\n");
    s.form->inPlaceOption->click(); // in place: the riskiest case
    {
        FileSizeLimit limit;
        s.form->startRemoving();
    }
    QCOMPARE(TestWindow::readFile(bigFile), big);
    QCOMPARE(TestWindow::readFile(smallFile), QByteArray("fits\r\n"));
    QCOMPARE(s.prompts.errorTexts().size(), 1);
    QVERIFY2(s.prompts.errorTexts()[0].contains(QStringLiteral("RFTSFSO")),
             qPrintable(s.prompts.errorTexts()[0]));
    QCOMPARE(s.messages(), QStringList{"Done."});
    QCOMPARE(QDir(s.in).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"big.txt", "small.txt"}));
}

void TestFaults::noRoomInTheCli_data() {
    QTest::addColumn<qlonglong>("limit");
    QTest::newRow("at the first write") << qlonglong(SizeLimit);
    // Past the first mebibyte a large file is written behind where a processor is free.
    QTest::newRow("in a large file") << qlonglong(3 << 19);
}

void TestFaults::noRoomInTheCli() {
    QFETCH(qlonglong, limit);
    QTemporaryDir dir;
    const QByteArray big = bigText(rlim_t(limit));
    const QString bigFile = dir.filePath("big.txt");
    TestWindow::writeFile(bigFile, big);
    QProcess cli;
    cli.setChildProcessModifier([limit] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered{};
        getrlimit(RLIMIT_FSIZE, &lowered);
        lowered.rlim_cur = rlim_t(limit);
        setrlimit(RLIMIT_FSIZE, &lowered);
    });
    cli.start(QStringLiteral(PARVELLO_CLI), {"--rule", "remove-double", "--in-place", bigFile});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);
    const QString errors = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(errors.contains(bigFile), qPrintable(errors));
    QCOMPARE(TestWindow::readFile(bigFile), big);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"big.txt"});
}

void TestFaults::readOnlyTargetEvenForRoot() {
    Scene s;
    const QString file = s.source("locked.txt", "\"keep me\"\n");
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    s.form->inPlaceOption->click();
    s.form->startRemoving();
    QCOMPARE(TestWindow::readFile(file), QByteArray("\"keep me\"\n"));
    QCOMPARE(s.prompts.errorTexts().size(), 1);
    QCOMPARE(s.messages(), QStringList{"Done."});
}

void TestFaults::sourceDeletedAfterListing() {
    Scene s;
    const QString gone = s.source("gone.txt", "\"x\"");
    s.source("kept.txt", "\"y\"");
    QVERIFY(QFile::remove(gone));
    s.form->startRemoving();
    QVERIFY(!QFile::exists(s.out + "/gone.txt"));
    QCOMPARE(TestWindow::readFile(s.out + "/kept.txt"), QByteArray("y\r\n"));
    QVERIFY(!s.prompts.errorTexts().isEmpty());
    QCOMPARE(s.messages(), QStringList{"Done."});
}

void TestFaults::sourceReplacedByAFolder() {
    Scene s;
    const QString path = s.source("turned.txt", "\"x\"");
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path + "/inner"));
    TestWindow::writeFile(path + "/inner/note.txt", "\"inside\"");
    s.form->inPlaceOption->click();
    s.form->startRemoving();
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(TestWindow::readFile(path + "/inner/note.txt"), QByteArray("\"inside\""));
    QCOMPARE(s.messages(), QStringList{"Done."});
}

void TestFaults::linkStaysALink() {
    Scene s;
    const QString target = s.path("elsewhere/real.txt");
    TestWindow::writeFile(target, "\"linked\"\n");
    const QString link = s.in + "/link.txt";
    QVERIFY(QFile::link(target, link));
    s.form->listedFiles->Add(link);
    s.form->inPlaceOption->click();
    s.form->startRemoving();
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    QCOMPARE(TestWindow::readFile(target), QByteArray("linked\r\n"));
    QCOMPARE(s.prompts.errorTexts().size(), 0);
}

// A pipe, a socket and a device in the list are named after "Done." and left as they are;
// none is opened, so none can hold the window.
void TestFaults::specialFilesInTheList() {
    Scene s;
    const QString text = s.source("text.txt", "\"a\"\n");
    QStringList specials = {s.in + "/pipe", s.in + "/socket", s.in + "/device"};
    const mode_t types[] = {S_IFIFO, S_IFSOCK, S_IFCHR};
    for (int i = 0; i < 3; ++i) {
        if (!MakeSpecial(specials[i], types[i]))
            specials[i] = "/dev/null"; // a device node only root may make
        s.form->listedFiles->Add(specials[i]);
    }
    s.form->inPlaceOption->click();
    std::atomic<bool> fired{false};
    {
        const std::jthread guard = FreePipeLater(specials[0], fired);
        s.form->startRemoving();
    }
    QVERIFY(!fired);
    QCOMPARE(s.prompts.errorTexts(), QStringList());
    QCOMPARE(s.messages().size(), 2);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(s.messages()[1].contains(specials[i] + ": it is a pipe, socket or device"));
        QCOMPARE(FileType(specials[i]), types[i]);
    }
    QCOMPARE(TestWindow::readFile(text), QByteArray("a\r\n"));
}

// Text another program adds while a file is processed is kept: the file is left as it is
// now, and the failure to replace it is reported as any other failure to write.
void TestFaults::changedWhileProcessedInTheWindow() {
    Scene s;
    const QString file = s.source("grows.txt", "\"a\"\n");
    s.form->inPlaceOption->click();
    std::optional<AppendingWriter> writer;
    AtomicFile::SetBeforeReplaceHook(
        [&](const std::filesystem::path&) { writer.emplace(ToPath(file), "more\n"); });
    s.form->startRemoving();
    AtomicFile::SetBeforeReplaceHook({});
    QVERIFY(writer && writer->wait());
    QCOMPARE(TestWindow::readFile(file), QByteArray("\"a\"\nmore\n"));
    QCOMPARE(s.prompts.errorTexts().size(), 1);
    QVERIFY(s.prompts.errorTexts()[0].startsWith(
        "Cannot replace " + file +
        ": another program is writing it\r\n"
        "in Qwellan2021/08/31.RFTSFSO.AppendStringFSO at line 124"));
    QCOMPARE(s.messages(), QStringList{"Done."});
    QCOMPARE(QDir(s.in).entryList(QDir::Files | QDir::Hidden), QStringList{"grows.txt"});
}

void TestFaults::folderThatMayNotBeWritten() {
    // Permission bits stop only an unprivileged user: as root, this runs as "nobody".
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther | QFileDevice::WriteOther));
    const QString locked = dir.filePath("locked");
    QVERIFY(QDir().mkpath(locked));
    const QString source = dir.filePath("source.txt");
    TestWindow::writeFile(source, "\"stay\"\n");
    // A result that differs from a file already there is refused at the same step (its
    // temporary file is made only once the difference is found).
    TestWindow::writeFile(locked + "/there.txt", "stax\r\n");
    QVERIFY(QFile::setPermissions(locked + "/there.txt", QFileDevice::Permissions(0x6666)));
    QVERIFY(QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther));
    const int outcome = RunUnprivileged([&] {
        // The denial must be real for this user.
        if (::access(QFile::encodeName(locked).constData(), W_OK) == 0)
            return 10;
        QStringList places;
        for (const QString& output : {locked + "/source.txt", locked + "/there.txt"}) {
            FakePrompts prompts;
            const FileReport report = ProcessFileShowingFailures(
                source, output, QuoteReplacer(QuoteRule::RemoveDouble, u"", u""), prompts);
            if (report.outcome != FileOutcome::NotWritten)
                return 11;
            if (prompts.errorTexts().size() != 1)
                return 12;
            places << prompts.errorTexts()[0].section(QStringLiteral("\r\n"), 1);
        }
        if (places[0] != places[1])
            return 14;
        return QDir(locked).entryList(QDir::Files | QDir::Hidden) == QStringList{"there.txt"} ? 0
                                                                                              : 13;
    });
    QCOMPARE(outcome, 0);
    QCOMPARE(TestWindow::readFile(source), QByteArray("\"stay\"\n"));
}

void TestFaults::linkCycleInAScannedTree() {
    Scene s;
    TestWindow::writeFile(s.path("tree/a/one.txt"), "1");
    TestWindow::writeFile(s.path("tree/a/b/two.txt"), "2");
    QVERIFY(QFile::link(s.path("tree"), s.path("tree/a/b/back")));
    s.prompts.answerInput("txt");
    s.prompts.answerFolder(s.path("tree"));
    s.form->addFilesInFolder();
    QStringList rows = s.form->listedFiles->Rows();
    rows.sort();
    QCOMPARE(rows, (QStringList{s.path("tree/a/b/two.txt"), s.path("tree/a/one.txt")}));
}

void TestFaults::settingsFileOfGarbage() {
    TestWindow w;
    QByteArray junk(8192, '\0');
    QRandomGenerator random(7);
    for (char& c : junk)
        c = char(random.bounded(256));
    TestWindow::writeFile(w.store->file(), junk);
    Form1& form = w.load();
    // The program starts with every default; the file is written afresh in good form.
    QCOMPARE(w.prompts.calls.size(), 0);
    QVERIFY(form.removeDoubleOption->isChecked());
    QVERIFY(form.intoFolderOption->isChecked());
    QCOMPARE(form.doubleReplacementBox->text(), QStringLiteral("'"));
    QCOMPARE(form.singleReplacementBox->text(), QStringLiteral("\""));
    QCOMPARE(w.store->get("Text2", "missing"), QStringLiteral("'"));
}

void TestFaults::settingsFileThatCannotBeWritten() {
    TestWindow w;
    QVERIFY(QDir().mkpath(w.store->file())); // a folder stands where the file would be
    Form1& form = w.load();
    QVERIFY(form.removeDoubleOption->isChecked());
    QCOMPARE(form.doubleReplacementBox->text(), QStringLiteral("'"));
    // Each refused write is reported with the start-up step that made it.
    const QStringList errors = w.prompts.errorTexts();
    QCOMPARE(errors.size(), 5);
    int index = 0;
    for (int line : {108, 126, 132, 156, 158})
        QVERIFY2(errors[index++].contains(QStringLiteral("Form_Load at line %1\r\r").arg(line)),
                 qPrintable(errors[index - 1]));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
