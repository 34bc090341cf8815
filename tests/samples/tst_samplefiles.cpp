// The example files: recorded at the first start that finds them, loaded by the button.
#include "common/testwindow.h"
#include "filelist/filelistmodel.h"
#include "samples/scramble.h"
#include "textio/codepage.h"

#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

namespace {

const QString Question = QStringLiteral(
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?");

struct Samples : TestWindow {
    QString folder() const { return platform.programFolderPath + QStringLiteral("/Samples"); }
    QString sample(const QString& name) const { return folder() + QLatin1Char('/') + name; }
    void add(const QString& name) { writeFile(sample(name), "\"" + name.toUtf8() + "\""); }
    QStringList recorded() {
        return DecodeSampleRecord(store->get(QStringLiteral("Snapshot"), QString()),
                                  CodePage::ansi());
    }
    int snapshotWrites() const {
        int count = 0;
        for (const auto& write : store->writes)
            count += write.first == QStringLiteral("Snapshot");
        return count;
    }
    // Another start of the program with the same store and program folder.
    void restart() {
        form.reset();
        store = std::make_unique<RecordingStore>(dir.filePath(QStringLiteral("config")));
        load();
    }
};

} // namespace

class TestSampleFiles : public QObject {
    Q_OBJECT
private slots:
    void firstStartRecordsTheFiles();
    void storedRecordIsNotTakenAgain();
    void emptyOrMissingFolderIsTriedAgain();
    void loadTwiceAddsOnceAndAsksTwice();
    void deletedAndLaterFiles();
    void loadBeforeAnyRecord();
    void yesOpensTheSamplesFolder();
    void folderOutsideTheCodePage();
    void shippedExamplesAreProcessedCorrectly();
};

void TestSampleFiles::firstStartRecordsTheFiles() {
    Samples s;
    s.add("b.txt");
    s.add("a.txt");
    s.load();
    QCOMPARE(s.recorded(), (QStringList{s.sample("a.txt"), s.sample("b.txt")}));
    QCOMPARE(s.snapshotWrites(), 1);
    QCOMPARE(s.prompts.calls.size(), 0);
    // The stored text is the scrambled form of the "|"-joined paths.
    QCOMPARE(s.store->get("Snapshot", ""),
             ScrambleString(s.sample("a.txt") + "|" + s.sample("b.txt"), SampleKeyWord,
                            CodePage::ansi()));
}

void TestSampleFiles::storedRecordIsNotTakenAgain() {
    Samples s;
    s.add("a.txt");
    s.preset("Snapshot", "x");
    s.load();
    QCOMPARE(s.snapshotWrites(), 0);
}

void TestSampleFiles::emptyOrMissingFolderIsTriedAgain() {
    Samples s;
    s.load(); // no Samples folder at all: no box, nothing recorded
    QCOMPARE(s.prompts.calls.size(), 0);
    QCOMPARE(s.store->get("Snapshot", "missing"), QString());
    QDir().mkpath(s.folder());
    s.restart(); // an empty folder
    QCOMPARE(s.store->get("Snapshot", "missing"), QString());
    s.add("late.txt");
    s.restart();
    QCOMPARE(s.recorded(), QStringList{s.sample("late.txt")});
}

void TestSampleFiles::loadTwiceAddsOnceAndAsksTwice() {
    Samples s;
    s.add("a.txt");
    s.add("b.txt");
    Form1& form = s.load();
    s.prompts.answerYesNo(false);
    s.prompts.answerYesNo(false);
    QTest::mouseClick(form.samplesButton, Qt::LeftButton);
    form.loadSamples();
    QCOMPARE(form.listedFiles->Rows(), (QStringList{s.sample("a.txt"), s.sample("b.txt")}));
    QCOMPARE(s.prompts.calls.size(), 2);
    for (const PromptCall& call : s.prompts.calls) {
        QCOMPARE(call.kind, QStringLiteral("yesno"));
        QCOMPARE(call.title, QStringLiteral("Parvello"));
        QCOMPARE(call.text, Question);
    }
}

void TestSampleFiles::deletedAndLaterFiles() {
    Samples s;
    s.add("a.txt");
    s.add("b.txt");
    Form1& form = s.load();
    QVERIFY(QFile::remove(s.sample("b.txt")));
    s.add("c.txt");
    s.prompts.answerYesNo(false);
    form.loadSamples();
    QCOMPARE(form.listedFiles->Rows(), QStringList{s.sample("a.txt")});
    QCOMPARE(s.prompts.errorTexts().size(), 0);
}

void TestSampleFiles::loadBeforeAnyRecord() {
    Samples s;
    Form1& form = s.load();
    s.prompts.answerYesNo(false);
    form.loadSamples();
    QCOMPARE(form.listedFiles->Count(), 0);
    QCOMPARE(s.prompts.calls.size(), 1);
}

void TestSampleFiles::yesOpensTheSamplesFolder() {
    Samples s;
    s.add("a.txt");
    Form1& form = s.load();
    s.prompts.answerYesNo(true);
    form.loadSamples();
    QCOMPARE(s.prompts.calls.size(), 2);
    QCOMPARE(s.prompts.calls[1].kind, QStringLiteral("shell"));
    QCOMPARE(s.prompts.calls[1].text, "\"" + s.folder() + "/\"");
}

void TestSampleFiles::folderOutsideTheCodePage() {
    Samples s;
    s.platform.programFolderPath = s.path(QStringLiteral("\u0416\u4E2D program"));
    s.add("a.txt");
    Form1& form = s.load();
    QVERIFY(s.store->get("Snapshot", "").startsWith(QChar(0xFFFD)));
    s.prompts.answerYesNo(false);
    form.loadSamples();
    QCOMPARE(form.listedFiles->Rows(), QStringList{s.sample("a.txt")});
}

void TestSampleFiles::shippedExamplesAreProcessedCorrectly() {
    Samples s;
    QDirIterator shipped(QStringLiteral(PARVELLO_RESOURCES_DIR "/Samples"), QDir::Files);
    int count = 0;
    while (shipped.hasNext()) {
        const QString file = shipped.next();
        TestWindow::writeFile(s.sample(QFileInfo(file).fileName()), TestWindow::readFile(file));
        ++count;
    }
    QCOMPARE(count, 5);
    QDir().mkpath(s.path("Desktop"));
    s.platform.desktop = s.path("Desktop");
    Form1& form = s.load(); // the default choices: remove double quotes, into the desktop folder
    s.prompts.answerYesNo(false);
    form.loadSamples();
    QCOMPARE(form.listedFiles->Count(), 5);
    form.startRemoving();
    QCOMPARE(s.prompts.callsOf("message").size(), 1); // "Done." and nothing left untouched
    QCOMPARE(s.prompts.errorTexts().size(), 0);

    const struct {
        const char* name;
        const char* encoding;
        QByteArray mark;
    } expected[] = {
        {"Night Garden - UTF-8 with mark.txt", "UTF-8", "\xEF\xBB\xBF"},
        {"Lighthouse Letter - UTF-8.txt", "UTF-8", ""},
        {"Scones - UTF-16 LE.txt", "UTF-16LE", "\xFF\xFE"},
        {"Cafe Notes - Windows-1252.txt", "windows-1252", ""},
        {"Plain Quotes - ASCII.txt", "UTF-8", ""},
    };
    for (const auto& file : expected) {
        const QByteArray before = TestWindow::readFile(s.sample(QString::fromUtf8(file.name)));
        const QByteArray after =
            TestWindow::readFile(s.path("Desktop/") + QString::fromUtf8(file.name));
        QVERIFY2(after.startsWith(file.mark), file.name);
        QVERIFY2(!file.mark.isEmpty() || !after.startsWith("\xEF\xBB\xBF"), file.name);
        QStringDecoder decode(file.encoding);
        const QString in = decode(before.mid(file.mark.size()));
        QStringDecoder decodeAgain(file.encoding);
        const QString out = decodeAgain(after.mid(file.mark.size()));
        // Every double quote is gone, everything else is kept, every line ends in CR LF.
        QString expectedText = in;
        expectedText.remove(QChar(0x22)).remove(QChar(0x201C)).remove(QChar(0x201D));
        expectedText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expectedText.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        if (!expectedText.endsWith(QStringLiteral("\r\n")))
            expectedText += QStringLiteral("\r\n");
        QCOMPARE(out, expectedText);
        QVERIFY(out.contains(QChar(0x2019)) || out.contains(QLatin1Char('\'')));
    }
}

QTEST_MAIN(TestSampleFiles)
#include "tst_samplefiles.moc"
