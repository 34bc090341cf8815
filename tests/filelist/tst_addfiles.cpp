// "Add File(s)" through the scripted open-file dialog.
#include "base/prompts.h"
#include "common/testwindow.h"
#include "filelist/filelistmodel.h"

#include <QPushButton>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace parvello;
using namespace parvello::testing;

namespace {
QString selection(const QString& folder, const QStringList& names) {
    return folder + QChar(u'\0') + names.join(QChar(u'\0'));
}
} // namespace

class TestAddFiles : public QObject {
    Q_OBJECT
private slots:
    void dialogSettingsAndCancel();
    void selections_data();
    void selections();
    void selectionText_data();
    void selectionText();
    void addingTwiceGivesTwoRows();
    void tooManyFiles();
    void otherDialogFailureIsReported();
    void pickedNameThatMayStandForAnother();
};

void TestAddFiles::dialogSettingsAndCancel() {
    TestWindow w;
    Form1& form = w.load();
    w.prompts.answerOpenFiles(QString());
    QTest::mouseClick(form.addFilesButton, Qt::LeftButton);
    QCOMPARE(form.listedFiles->Count(), 0);
    QCOMPARE(w.prompts.calls.size(), 1);
    QCOMPARE(w.prompts.calls[0].kind, QStringLiteral("openfiles"));
    QCOMPARE(w.prompts.calls[0].title,
             QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files"));
    QCOMPARE(w.prompts.calls[0].extra, QStringLiteral("All Files (*.*)|*.*|"));
}

void TestAddFiles::selections_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("one file, unchanged")
        << "/home/ann//notes/a.txt" << QStringList{"/home/ann//notes/a.txt"};
    QTest::newRow("three files in a folder")
        << selection("/home/ann/notes", {"b.txt", "a.txt", "c.md"})
        << QStringList{"/home/ann/notes/b.txt", "/home/ann/notes/a.txt", "/home/ann/notes/c.md"};
    QTest::newRow("three files in the root")
        << selection("/", {"a", "b", "c"}) << QStringList{"/a", "/b", "/c"};
    QTest::newRow("same name twice in one selection")
        << selection("/srv", {"x.txt", "x.txt"}) << QStringList{"/srv/x.txt", "/srv/x.txt"};
    QTest::newRow("names with spaces and quotes")
        << selection("/d", {"it's \"here\".txt", "\u201Cq\u201D.txt"})
        << QStringList{"/d/it's \"here\".txt", "/d/\u201Cq\u201D.txt"};
    // Full paths typed into the dialog may name files of different folders.
    QTest::newRow("files from two folders")
        << OpenFileSelectionText({"/T/a/x.txt", "/T/b/y.txt", "/T/z.txt"})
        << QStringList{"/T/a/x.txt", "/T/b/y.txt", "/T/z.txt"};
    QTest::newRow("files whose only shared folder is the root")
        << OpenFileSelectionText({"/a/x.txt", "/b/y.txt"}) << QStringList{"/a/x.txt", "/b/y.txt"};
}

// The dialog's selection as text: folder, NUL, names wherever the files share one folder.
void TestAddFiles::selectionText_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("text");
    QTest::newRow("one file") << QStringList{"/a/x.txt"} << false << "/a/x.txt";
    QTest::newRow("one folder") << QStringList{"/a/x.txt", "/a/y.txt"} << false
                                << selection("/a", {"x.txt", "y.txt"});
    QTest::newRow("the root") << QStringList{"/x", "/y"} << false << selection("/", {"x", "y"});
    QTest::newRow("two folders, one shared name prefix")
        << QStringList{"/T/ab/x.txt", "/T/a/y.txt"} << false
        << selection("/T", {"ab/x.txt", "a/y.txt"});
    QTest::newRow("Windows: two folders") << QStringList{"C:\\T\\a\\x.txt", "C:\\T\\b\\y.txt"}
                                          << true << selection("C:\\T", {"a\\x.txt", "b\\y.txt"});
    QTest::newRow("Windows: the drive root") << QStringList{"C:\\x.txt", "C:\\d\\y.txt"} << true
                                             << selection("C:\\", {"x.txt", "d\\y.txt"});
    QTest::newRow("Windows: two drives") << QStringList{"C:\\x.txt", "D:\\y.txt"} << true
                                         << selection("", {"C:\\x.txt", "D:\\y.txt"});
}

void TestAddFiles::selectionText() {
    QFETCH(QStringList, files);
    QFETCH(bool, windows);
    QFETCH(QString, text);
    QCOMPARE(OpenFileSelectionText(files, windows ? PathStyle::Windows : PathStyle::Posix), text);
}

void TestAddFiles::selections() {
    QFETCH(QString, answer);
    QFETCH(QStringList, rows);
    TestWindow w;
    Form1& form = w.load();
    w.prompts.answerOpenFiles(answer);
    form.addFiles();
    QCOMPARE(form.listedFiles->Rows(), rows);
    QCOMPARE(w.prompts.calls.size(), 1); // the dialog only
}

void TestAddFiles::addingTwiceGivesTwoRows() {
    TestWindow w;
    Form1& form = w.load();
    w.prompts.answerOpenFiles(QStringLiteral("/a/x.txt"));
    w.prompts.answerOpenFiles(QStringLiteral("/a/x.txt"));
    form.addFiles();
    form.addFiles();
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"/a/x.txt", "/a/x.txt"}));
}

void TestAddFiles::tooManyFiles() {
    TestWindow w;
    Form1& form = w.load();
    form.listedFiles->Add(QStringLiteral("/kept.txt"));
    QStringList names;
    for (int i = 0; i < 2000; ++i)
        names << QStringLiteral("a-rather-long-file-name-%1.txt").arg(i);
    const QString tooLong = selection(QStringLiteral("/data"), names);
    QVERIFY(tooLong.size() > Prompts::MaxSelectionLength);
    w.prompts.answerOpenFiles(tooLong);
    form.addFiles();
    QCOMPARE(form.listedFiles->Rows(), QStringList{"/kept.txt"});
    QCOMPARE(w.prompts.calls.size(), 2);
    const PromptCall box = w.prompts.calls[1];
    QCOMPARE(box.kind, QStringLiteral("message"));
    QCOMPARE(box.title, QStringLiteral("Parvello"));
    QCOMPARE(box.text,
             QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                            "the \"Add All\" button."));
}

void TestAddFiles::otherDialogFailureIsReported() {
    // A failed step is reported with its own line, and the handler goes on.
    struct Case {
        int line;
        int boxes;
        QStringList rows;
    };
    for (const Case& c :
         {Case{138, 2, {"/d/a", "/d/b"}}, Case{124, 1, {"/a", "/b"}}, Case{118, 1, {"/d"}}}) {
        TestWindow w;
        Form1& form = w.load();
        Trap::setFaultInjector([&](const QString& tag, int line) {
            if (tag.endsWith(QLatin1String("PushButton1_Click")) && line == c.line)
                throw Failure(QStringLiteral("Out of string space"));
        });
        w.prompts.answerOpenFiles(selection(QStringLiteral("/d"), {"a", "b"}));
        form.addFiles();
        Trap::setFaultInjector({});
        QCOMPARE(w.prompts.errorTexts().size(), c.boxes);
        QVERIFY(w.prompts.errorTexts()[0].contains(
            QStringLiteral("in Qwellan2021/08/31.Form1.PushButton1_Click at line %1\r\r")
                .arg(c.line)));
        QCOMPARE(form.listedFiles->Rows(), c.rows);
    }
}

// The dialog shows a name whose bytes are not valid in the file-name encoding with U+FFFD;
// a picked name that may stand for such a name is reported instead of added.
void TestAddFiles::pickedNameThatMayStandForAnother() {
    TestWindow w;
    Form1& form = w.load();
    const QString root = w.path("picked");
    const QByteArray native = QFile::encodeName(root);
    QVERIFY(QDir().mkpath(root));
    for (const QByteArray& name : {QByteArray("caf\xE9.txt"), QByteArray("caf\xEF\xBF\xBD.txt"),
                                   QByteArray("only\xEF\xBF\xBD.txt")})
        QVERIFY(::close(::open((native + "/" + name).constData(), O_CREAT | O_WRONLY, 0644)) == 0);
    struct RemoveRawName {
        QByteArray path;
        ~RemoveRawName() { ::unlink(path.constData()); }
    } removeRawName{native + "/caf\xE9.txt"};
    w.prompts.answerOpenFiles(
        selection(root, {QStringLiteral("caf\uFFFD.txt"), QStringLiteral("only\uFFFD.txt")}));
    form.addFiles();
    QCOMPARE(form.listedFiles->Rows(), QStringList{root + QStringLiteral("/only\uFFFD.txt")});
    QCOMPARE(w.prompts.callsOf("message").size(), 1);
    QCOMPARE(w.prompts.callsOf("message")[0].text,
             QStringLiteral("These names cannot be held exactly, so they were left out:\r\n") +
                 root + QStringLiteral("/caf\\xE9.txt"));
}

QTEST_MAIN(TestAddFiles)
#include "tst_addfiles.moc"
