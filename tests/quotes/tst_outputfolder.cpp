// The "Save Option" frame: the browse button and the folder box.
#include "common/testwindow.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

using Writes = QList<QPair<QString, QString>>;

class TestOutputFolder : public QObject {
    Q_OBJECT
private slots:
    void chosenFolderGetsOneSeparator_data();
    void chosenFolderGetsOneSeparator();
    void cancelChangesNothing();
    void opensAtLastChosenFolder();
    void refusedStoreWriteStillFillsTheBox();
};

void TestOutputFolder::chosenFolderGetsOneSeparator_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("text1");
    QTest::newRow("folder") << "/home/ann/out"
                            << "/home/ann/out/";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("non-latin") << "/home/\u0416/\u201Cout\u201D"
                               << "/home/\u0416/\u201Cout\u201D/";
}

void TestOutputFolder::chosenFolderGetsOneSeparator() {
    QFETCH(QString, chosen);
    QFETCH(QString, text1);
    TestWindow w;
    Form1& form = w.load();
    w.store->writes.clear();
    w.prompts.answerFolder(chosen);
    QTest::mouseClick(form.browseFolderButton, Qt::LeftButton);
    QCOMPARE(form.outputFolderBox->text(), text1);
    QCOMPARE(w.store->writes, (Writes{{"LastFolderDot", chosen}, {"Text1", text1}}));
    QCOMPARE(w.prompts.calls.size(), 1);
    QCOMPARE(w.prompts.calls[0].text, QStringLiteral("Please select folder:"));
}

void TestOutputFolder::cancelChangesNothing() {
    TestWindow w;
    w.preset("LastFolderDot", "/before");
    Form1& form = w.load();
    const QString folder = form.outputFolderBox->text();
    w.store->writes.clear();
    w.prompts.answerFolder(QString());
    form.browseOutputFolder();
    QCOMPARE(form.outputFolderBox->text(), folder);
    QVERIFY(w.store->writes.isEmpty());
    QCOMPARE(w.store->get("LastFolderDot", "x"), QStringLiteral("/before"));
}

void TestOutputFolder::opensAtLastChosenFolder() {
    TestWindow w;
    Form1& form = w.load();
    w.prompts.answerFolder(QStringLiteral("/first"));
    form.browseOutputFolder();
    // The user types another folder; the dialog still opens at the one chosen through it.
    form.outputFolderBox->setText(QStringLiteral("/typed/elsewhere/"));
    w.prompts.answerFolder(QString());
    form.browseOutputFolder();
    QCOMPARE(w.prompts.calls[0].extra, QString());
    QCOMPARE(w.prompts.calls[1].extra, QStringLiteral("/first"));
    // And across program runs.
    TestWindow again;
    again.store = std::make_unique<RecordingStore>(w.dir.filePath("config"));
    again.load();
    again.prompts.answerFolder(QString());
    again.form->browseOutputFolder();
    QCOMPARE(again.prompts.calls[0].extra, QStringLiteral("/first"));
}

void TestOutputFolder::refusedStoreWriteStillFillsTheBox() {
    TestWindow w;
    Form1& form = w.load();
    w.store->refuseWrites = true;
    w.prompts.answerFolder(QStringLiteral("/"));
    form.browseOutputFolder();
    // The failed step was the separator test: the step it guards runs.
    QCOMPARE(w.prompts.errorTexts().size(), 2);
    QVERIFY(
        w.prompts.errorTexts()[0].contains(QStringLiteral("PushButton4_Click at line 104\r\r")));
    QVERIFY(
        w.prompts.errorTexts()[1].contains(QStringLiteral("PushButton4_Click at line 106\r\r")));
    QCOMPARE(form.outputFolderBox->text(), QStringLiteral("//"));
}

QTEST_MAIN(TestOutputFolder)
#include "tst_outputfolder.moc"
