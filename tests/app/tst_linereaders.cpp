// The window's line readers (app/linereaders): the same lines as the engine's reader for
// every file of the reading tests, and every failure shown in the boxes of the routine and
// line the window has always named, each step carrying on after its failure.
#include "app/linereaders.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "textio/reading.h"
#include "textio/readingrows.h"

#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

namespace {

QString tag(const char* routine) {
    return ModuleTag(QStringLiteral("RFTSFSO"), QString::fromLatin1(routine));
}

} // namespace

class TestLineReaders : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Trap::setFaultInjector(nullptr); }

    // Every file of the engine's reader test, decoded and in bytes: the same lines, format,
    // form and status, and no box.
    void sameAsTheEngineReader_data() {
        QTest::addColumn<QByteArray>("bytes");
        for (const auto& rows : {LinesRows(), NotTextRows(), ShortRows()})
            for (const ReadingRow& row : rows)
                QTest::newRow(row.name.c_str()) << QByteArray::fromStdString(row.bytes);
    }
    void sameAsTheEngineReader() {
        QFETCH(QByteArray, bytes);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", bytes);
        for (const LineForm form : {LineForm::Text, LineForm::Bytes}) {
            const LineArray window = ReadFileLines(path, prompts, form);
            const LineArray engine = ReadWholeLines(ToPath(path), form);
            QCOMPARE(window.status, engine.status);
            QCOMPARE(window.problem, engine.problem);
            QCOMPARE(LinesToStringList(window), LinesToStringList(engine));
            QCOMPARE(window.format, engine.format);
            QCOMPARE(window.inBytes, engine.inBytes);
            QCOMPARE(window.fileIsUtf8, engine.fileIsUtf8);
            QCOMPARE(window.fileIsUnicode, engine.fileIsUnicode);
        }
        QCOMPARE(prompts.calls.size(), 0);
    }

    void missingFileGivesOneEmptyLineAfterFourBoxes() {
        TempFolder folder;
        FakePrompts prompts;
        const LineArray read = ReadFileLines(folder.path("missing.txt"), prompts);
        QCOMPARE(read.status, ReadStatus::NotRead);
        QCOMPARE(LinesToStringList(read), QStringList{""});
        QVERIFY(!read.fileIsUtf8);
        const QStringList boxes = prompts.errorTexts();
        QCOMPARE(boxes.size(), 4);
        const QStringList where = {tag("ReadFileToStringLine") + " at line 100",
                                   tag("ReadFileToStringFSOLine") + " at line 102",
                                   tag("ReadFileToStringFSOLine") + " at line 106",
                                   tag("ReadFileToStringFSOLine") + " at line 120"};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(boxes[i].contains("\r\nin " + where[i] + "\r\r"), qPrintable(boxes[i]));
        QVERIFY(boxes[0].startsWith("File not found: "));
    }

    // A folder is no file to read, in QFile's words.
    void folderIsNotRead() {
        TempFolder folder;
        FakePrompts prompts;
        const LineArray read = ReadFileLines(folder.root(), prompts);
        QCOMPARE(read.status, ReadStatus::NotRead);
        const QStringList boxes = prompts.errorTexts();
        QVERIFY(!boxes.isEmpty());
        QVERIFY2(boxes[0].startsWith("Cannot open " + folder.root() +
                                     ": file to open is a directory\r\n"),
                 qPrintable(boxes[0]));
    }

    void unreadableFileIsNotRead() {
        TempFolder folder;
        const QString path = folder.write("secret.txt", "a \"b\"\r\n");
        QFile::setPermissions(path, QFileDevice::Permissions());
        const int status = RunUnprivileged([&] {
            FakePrompts prompts;
            const LineArray read = ReadFileLines(path, prompts);
            return read.status == ReadStatus::NotRead && prompts.errorTexts().size() == 4 ? 0 : 1;
        });
        QCOMPARE(status, 0);
    }

    // A failing end-of-stream test runs the empty-file branch; a failing ReadLine ends the
    // loop instead of repeating forever.
    void failingStepsCarryOn_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("at end test") << 106 << QStringList{""};
        QTest::newRow("ReadLine") << 116 << QStringList{""};
        QTest::newRow("counter") << 118 << QStringList{"a"};
    }
    void failingStepsCarryOn() {
        QFETCH(int, line);
        QFETCH(QStringList, lines);
        TempFolder folder;
        const QString path = folder.write("f", "a\r\nb\r\n");
        FakePrompts prompts;
        Trap::setFaultInjector([line](const QString& where, int at) {
            if (where == tag("ReadFileToStringFSOLine") && at == line)
                throw Failure(QStringLiteral("Injected"));
        });
        const LineArray read = ReadFileLines(path, prompts);
        QCOMPARE(prompts.errorTexts().size(), 1);
        QCOMPARE(read.status, ReadStatus::NotRead);
        QCOMPARE(LinesToStringList(read), lines);
    }

#ifdef Q_OS_LINUX
    // Asked on its own, the mark test keeps no file open; a read closes what it opened.
    void noFileStaysOpen() {
        const auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size();
        };
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", "abc\r\n");
        const qsizetype before = openFiles();
        bool utf8 = false;
        QVERIFY(!IsFileUnicode(ToPath(path), utf8));
        QCOMPARE(openFiles(), before);
        ReadFileLines(path, prompts);
        QCOMPARE(openFiles(), before);
    }
#endif
};

QTEST_GUILESS_MAIN(TestLineReaders)
#include "tst_linereaders.moc"
