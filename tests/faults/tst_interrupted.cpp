// A run killed at random moments loses nothing: every file is afterwards exactly its
// original or exactly its finished result, and the next run over the same folder finishes
// the job and leaves no temporary file behind.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>

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

} // namespace

class TestInterrupted : public QObject {
    Q_OBJECT
private slots:
    void killedAtRandomMoments();
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

QTEST_GUILESS_MAIN(TestInterrupted)
#include "tst_interrupted.moc"
