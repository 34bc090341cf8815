// A run killed at random moments loses nothing: every file is afterwards exactly its
// original or exactly its finished result, and the next run over the same folder finishes
// the job and leaves no temporary file behind.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>

#include <csignal>

namespace {

// The folder's files by name, with their bytes.
using Folder = QMap<QString, QByteArray>;

QByteArray line(QRandomGenerator& random, int n) {
    static const char* const pieces[] = {"He said \"yes\". ",
                                         "It\xE2\x80\x99s \xE2\x80\x9C"
                                         "fine\xE2\x80\x9D. ",
                                         "plain words here ", "'single' ", "caf\xC3\xA9 "};
    QByteArray text;
    for (int i = 0; i < n; ++i)
        text += pieces[random.bounded(5)];
    return text;
}

// A few large files on every encoding road and many small ones.
Folder makeOriginals(QRandomGenerator& random) {
    Folder files;
    QByteArray big;
    while (big.size() < 6 * 1024 * 1024)
        big += line(random, 12) + "\n";
    files["big-utf8.txt"] = big;
    files["big-utf8-mark.txt"] = "\xEF\xBB\xBF" + big;
    const QString text = QString::fromUtf8(big.left(3 * 1024 * 1024));
    files["big-utf16.txt"] =
        QByteArray("\xFF\xFE") +
        QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    QByteArray latin = big.left(4 * 1024 * 1024);
    latin.replace("\xE2\x80\x99", "\x92")
        .replace("\xE2\x80\x9C", "\x93")
        .replace("\xE2\x80\x9D", "\x94")
        .replace("\xC3\xA9", "\xE9");
    files["big-cp1252.txt"] = latin;
    for (int i = 0; i < 300; ++i)
        files[QStringLiteral("small-%1.txt").arg(i, 3, 10, QLatin1Char('0'))] =
            line(random, 1 + i % 20) + "\r\n";
    return files;
}

void writeFolder(const QString& folder, const Folder& files) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(folder + QLatin1Char('/') + it.key());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), it.value().size());
    }
}

Folder readFolder(const QString& folder) {
    Folder files;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            files[name] = file.readAll();
    }
    return files;
}

QStringList cliArguments(const QString& folder, const Folder& files) {
    QStringList args{QStringLiteral("--rule"), QStringLiteral("remove-double"),
                     QStringLiteral("--in-place")};
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        args << folder + QLatin1Char('/') + it.key();
    return args;
}

int runToEnd(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PARVELLO_CLI), args);
    if (!process.waitForFinished(300000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Waits until the folder holds an entry of at least `size` bytes (0: any entry).
bool waitForEntry(const QString& folder, qint64 size) {
    for (int tick = 0; tick < 1000; ++tick, QThread::msleep(10))
        for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            if (it.next(), it.fileInfo().size() >= size)
                return true;
    return false;
}

} // namespace

class TestInterrupted : public QObject {
    Q_OBJECT
private slots:
    void killedAtRandomMoments();
    void onlyOurOwnLeftoversAreRemoved();
    void nothingLeftInTheTemporaryFolder_data();
    void nothingLeftInTheTemporaryFolder();
};

void TestInterrupted::killedAtRandomMoments() {
    // On tmpfs where there is one: the kills test what the program does, not the disk, and
    // a durable replace per file costs a disk flush elsewhere.
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/parvello-kill-XXXXXX"));
    QVERIFY(dir.isValid());
    QRandomGenerator random(20261208);
    const Folder originals = makeOriginals(random);

    // The finished results, from one uninterrupted run.
    const QString expectedFolder = dir.filePath(QStringLiteral("expected"));
    writeFolder(expectedFolder, originals);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runToEnd(cliArguments(expectedFolder, originals)), 0);
    const qint64 fullRun = std::max<qint64>(clock.elapsed(), 20);
    const Folder results = readFolder(expectedFolder);
    QCOMPARE(results.keys(), originals.keys());

    const QString work = dir.filePath(QStringLiteral("work"));
    const QStringList args = cliArguments(work, originals);
    const int moments = qEnvironmentVariableIntValue("PARVELLO_KILL_MOMENTS") > 0
                            ? qEnvironmentVariableIntValue("PARVELLO_KILL_MOMENTS")
                            : 50;
    int filesChecked = 0;
    int killedMidway = 0;
    qint64 bytesLost = 0;
    for (int moment = 0; moment < moments; ++moment) {
        writeFolder(work, originals);
        const qint64 delay = random.bounded(fullRun * 1000 * 11 / 10 + 1); // microseconds
        QProcess process;
        process.start(QStringLiteral(PARVELLO_CLI), args);
        QVERIFY(process.waitForStarted());
        QThread::usleep(static_cast<unsigned long>(delay));
        if (process.state() == QProcess::Running)
            ++killedMidway;
        process.kill(); // SIGKILL
        process.waitForFinished();

        // Each file is whole: its original or its result, nothing in between.
        const Folder after = readFolder(work);
        for (auto it = originals.cbegin(); it != originals.cend(); ++it) {
            const QByteArray now = after.value(it.key());
            ++filesChecked;
            if (now != it.value() && now != results.value(it.key())) {
                bytesLost += it.value().size();
                QFAIL(qPrintable(
                    QStringLiteral("moment %1 (%2 us): %3 is neither its original nor its result")
                        .arg(moment)
                        .arg(delay)
                        .arg(it.key())));
            }
        }
        // The next run finishes the job and leaves nothing of its own behind. (A file the
        // killed run had finished is processed once more, which is not always a no-op: a
        // UTF-8 file with a mark gains a line end each time.)
        QCOMPARE(runToEnd(args), 0);
        const Folder finished = readFolder(work);
        for (const QString& name : finished.keys())
            QVERIFY2(originals.contains(name), qPrintable(QStringLiteral("left behind: ") + name));
        QCOMPARE(finished.keys(), originals.keys());
        for (auto it = originals.cbegin(); it != originals.cend(); ++it)
            if (after.value(it.key()) == it.value())
                QVERIFY2(finished.value(it.key()) == results.value(it.key()), qPrintable(it.key()));
    }
    qInfo("%d moments killed (%d while the run was going on), %d files checked, %lld bytes lost",
          moments, killedMidway, filesChecked, bytesLost);
    QVERIFY(killedMidway >= moments / 2);
}

void TestInterrupted::onlyOurOwnLeftoversAreRemoved() {
    QTemporaryDir dir;
    // The id of a process that has ended.
    QProcess ended;
    ended.start(QStringLiteral("true"));
    QVERIFY(ended.waitForFinished());
    const QString gone = QString::number(ended.processId() > 0 ? ended.processId() : 999999);
    const QString live = QString::number(QCoreApplication::applicationPid());
    const QStringList left{".~pv" + gone + "-Ab3dE9"};
    const QStringList kept{".~pv" + live + "-Ab3dE9",
                           ".~pv1-Ab3dE9",
                           ".~pv" + gone + "-short",
                           ".~pvx-Ab3dE9",
                           "a.txt.Ab3dE9",
                           "notes.txt"};
    for (const QString& name : left + kept) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // Any write into the folder looks for leftovers first.
    QFile source(dir.filePath("notes.txt"));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("\"x\"\n");
    source.close();
    QCOMPARE(runToEnd({"--rule", "remove-double", "--in-place", source.fileName()}), 0);
    QStringList expected = kept;
    expected.sort();
    QStringList now = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    now.sort();
    QCOMPARE(now, expected);
}

// --check, --diff and the filter keep their results in a private folder in TMPDIR: a closed
// pipe or a signal at any moment leaves nothing there; a run killed outright leaves a folder
// that the next run recognises as its own and removes.
void TestInterrupted::nothingLeftInTheTemporaryFolder_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("signal"); // 0: standard output is a pipe closed at once
    QTest::addColumn<bool>("input"); // false: none yet, more is awaited
    QTest::newRow("filter, closed pipe") << "-" << 0 << true;
    QTest::newRow("filter, closed pipe, SIGPIPE ignored") << "- PIPE" << 0 << true;
    QTest::newRow("filter, SIGINT while waiting for input") << "-" << SIGINT << false;
    QTest::newRow("filter, SIGINT while working") << "-" << SIGINT << true;
    QTest::newRow("diff, SIGTERM while working") << "--diff" << SIGTERM << true;
    QTest::newRow("filter, killed outright") << "-" << SIGKILL << false;
}

void TestInterrupted::nothingLeftInTheTemporaryFolder() {
    QFETCH(QString, mode);
    QFETCH(int, signal);
    QFETCH(bool, input);
    QTemporaryDir dir, tmp;
    const QString source = dir.filePath("in.txt");
    constexpr int size = 8 << 20;
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) &&
            file.write(QByteArray("\"a\"\n").repeated(size / 4)) && file.flush());
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.path());
    process.setProcessEnvironment(env);
    qint64 child = 0;
    if (signal == 0) {
        // The filter's result goes to a pipe whose reader leaves after one byte.
        process.start("/bin/sh",
                      {"-c", "trap '' ${2:-USR1}; \"$0\" --rule remove-double - <\"$1\" | head -c1",
                       PARVELLO_CLI, source, mode.section(' ', 1)});
    } else {
        if (input)
            process.setStandardInputFile(source);
        process.start(PARVELLO_CLI,
                      QStringList{"--rule", "remove-double", mode} +
                          (mode == "-" ? QStringList() : QStringList{source, source}));
        // Standard output is not read: a run that has worked through its input waits there.
        QVERIFY(waitForEntry(tmp.path(), input && mode == "-" ? size : 0));
        QThread::msleep(100);
        child = process.processId();
        ::kill(pid_t(child), signal);
    }
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.readAllStandardError(), QByteArray()); // a closed pipe is no failure
    if (signal != 0)
        QVERIFY(process.exitStatus() == QProcess::CrashExit && process.exitCode() == signal);
    if (signal == SIGKILL) {
        const QString left = ".~pv" + QString::number(child) + "-*";
        QCOMPARE(QDir(tmp.path()).entryList({left}, QDir::Dirs | QDir::Hidden).size(), 1);
        process.start(PARVELLO_CLI, {"--rule", "remove-double", "--check", source});
        QVERIFY(process.waitForFinished());
    }
    QVERIFY(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

QTEST_GUILESS_MAIN(TestInterrupted)
#include "tst_interrupted.moc"
