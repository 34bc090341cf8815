// The file list on the real window, offscreen: "Add All File(s) In Folder", drops,
// removing rows, "Clear List" and reordering rows by dragging.
#include "app/form1.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/runwindow.h"
#include "common/tempfiles.h"
#include "common/testwindow.h"
#include "filelist/addfolder.h"
#include "filelist/filelistmodel.h"
#include "filelist/folderaccess.h"

#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace parvello;
using namespace parvello::testing;

namespace {

// The real file system seen as if `realRoot` were the root `rootPath` ("R:\" in the
// Windows style, "/" in the POSIX style), so the handling of root paths can be checked.
class RootedView : public FolderAccess {
public:
    RootedView(Platform& platform, PathStyle style, QString rootPath, QString realRoot)
        : local_(LocalFolderAccess(platform)), style_(style), root_(std::move(rootPath)),
          real_(std::move(realRoot)) {}

    PathStyle style() const override { return style_; }
    int attributes(const std::filesystem::path& path) override {
        return local_->attributes(real(path));
    }
    bool isRootFolder(const std::filesystem::path& path) override {
        const QString folder = ToQString(path);
        const QString rest = folder.mid(root_.size() - 1);
        return folder.startsWith(root_.chopped(1)) &&
               std::all_of(rest.begin(), rest.end(),
                           [this](QChar c) { return c == Separator(style_); });
    }
    std::vector<SubFolder> subFolders(const std::filesystem::path& folder) override {
        return local_->subFolders(real(folder));
    }
    std::vector<FileEntry> fileNames(const std::filesystem::path& folder) override {
        return local_->fileNames(real(folder));
    }
    bool isRegularFile(const std::filesystem::path& path) override {
        return local_->isRegularFile(real(path));
    }
    std::filesystem::path resolvedPath(const std::filesystem::path& folder) override {
        return local_->resolvedPath(real(folder));
    }

private:
    std::filesystem::path real(const std::filesystem::path& path) const {
        QString rest = ToQString(path).mid(root_.size() - 1);
        rest.replace(Separator(style_), QLatin1Char('/'));
        return ToPath(real_ + rest);
    }
    std::shared_ptr<FolderAccess> local_;
    PathStyle style_;
    QString root_;
    QString real_;
};

// Shows the window offscreen, so the list has its real size and rows their places.
Form1& shown(Form1& form) {
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        QTest::qFail("the window was not shown", __FILE__, __LINE__);
    return form;
}

QPoint rowCentre(Form1& form, int row) {
    return form.fileList->visualRect(form.listedFiles->index(row - 1, 0)).center();
}

void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, target->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void press(Form1& form, QPoint at) {
    mouse(form.fileList->viewport(), QEvent::MouseButtonPress, at, Qt::LeftButton);
}
void dragOver(Form1& form, int row) {
    mouse(form.fileList->viewport(), QEvent::MouseMove, rowCentre(form, row), Qt::LeftButton);
}
void release(Form1& form, QPoint at) {
    mouse(form.fileList->viewport(), QEvent::MouseButtonRelease, at, Qt::NoButton);
}
// A double-click as a real mouse gives it: press, release, press, double-click, release.
void doubleClick(Form1& form, QPoint at) {
    QWidget* list = form.fileList->viewport();
    for (const QEvent::Type type :
         {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
          QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
        mouse(list, type, at, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton);
}
void pressDelete(Form1& form) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(form.fileList, &key);
}

void select(Form1& form, int row) {
    form.fileList->selectionModel()->setCurrentIndex(form.listedFiles->index(row - 1, 0),
                                                     QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
}

// Drops the paths on the list; false when the list refused the drag.
bool drop(Form1& form, QMimeData& data) {
    QWidget* viewport = form.fileList->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &dropped);
    return true;
}
bool dropPaths(Form1& form, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    return drop(form, data);
}

void setRows(Form1& form, const QStringList& rows) {
    form.listedFiles->Clear();
    form.listedFiles->AddMany(rows);
}

int topRow(Form1& form) {
    return form.fileList->indexAt(QPoint(2, 2)).row() + 1;
}

const QString ExtensionPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all "
    "doc files, etc.)");

} // namespace

class TestFileListWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void scanCancelled_data();
    void scanCancelled();
    void scanAddsMatchingFiles_data();
    void scanAddsMatchingFiles();
    void scanOfManyFilesTwice();
    void scanOfADriveRoot_data();
    void scanOfADriveRoot();
    void scanFailuresAreReportedAndTheScanGoesOn_data();
    void scanFailuresAreReportedAndTheScanGoesOn();
    void drops_data();
    void drops();
    void dropsAreCopies_data();
    void dropsAreCopies();
    void dropOfTheRoot();
    void dragWithoutFilesIsRefused();
    void removingRows();
    void clearList();
    void rowDragSwapsTexts_data();
    void rowDragSwapsTexts();
    void rowDragPointer();
    void removedDragRowDoesNothing();
    void swapScrollsAtScreenLines_data();
    void swapScrollsAtScreenLines();
    void noRowDragDuringARun();
    void closingStopsLongLoops_data();
    void closingStopsLongLoops();
    void namesNotHeldExactly();
};

void TestFileListWindow::cleanup() {
    Trap::setFaultInjector({});
}

void TestFileListWindow::scanCancelled_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("browse");
    QTest::newRow("cancel in the input box") << "" << false;
    QTest::newRow("cancel in the folder dialog") << "txt" << true;
}

void TestFileListWindow::scanCancelled() {
    QFETCH(QString, extension);
    QFETCH(bool, browse);
    TestWindow w;
    w.preset("Extension", "doc");
    w.preset("LastFolder", "/srv/last");
    Form1& form = w.load();
    form.listedFiles->Add("/kept.txt");
    w.store->writes.clear(); // only the scan's own writes count below
    w.prompts.answerInput(extension);
    if (browse)
        w.prompts.answerFolder("");
    form.addFolderButton->click();

    QCOMPARE(w.prompts.calls[0].kind, QStringLiteral("input"));
    QCOMPARE(w.prompts.calls[0].text, ExtensionPrompt);
    QCOMPARE(w.prompts.calls[0].title, QStringLiteral("Parvello"));
    QCOMPARE(w.prompts.calls[0].extra, QStringLiteral("doc"));
    QCOMPARE(w.prompts.calls.size(), browse ? 2 : 1);
    if (browse) {
        QCOMPARE(w.prompts.calls[1].text, QStringLiteral("Please select folder:"));
        QCOMPARE(w.prompts.calls[1].extra, QStringLiteral("/srv/last"));
    }
    // A typed extension is kept even when the folder is not chosen; LastFolder is not.
    using Writes = QList<QPair<QString, QString>>;
    const Writes scanWrites = browse ? Writes{{"Extension", extension}} : Writes{};
    QCOMPARE(w.store->writes, scanWrites);
    QCOMPARE(form.listedFiles->Rows(), QStringList{"/kept.txt"});
    QCOMPARE(form.MousePointer(), int(PointerDefault));
}

void TestFileListWindow::scanAddsMatchingFiles_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("rows"); // relative to the chosen folder
    const QStringList txt{"/.r35.txt", "/B.TXT", "/a.txt", "/sub/d.txt"};
    QTest::newRow("txt") << "txt" << txt;
    QTest::newRow("everything") << "*" << QStringList{"/.r35.txt", "/B.TXT", "/a.txt",
                                                      "/c.md",     "/noext", "/sub/d.txt"};
    QTest::newRow("no match") << "doc" << QStringList{};
}

void TestFileListWindow::scanAddsMatchingFiles() {
    QFETCH(QString, extension);
    QFETCH(QStringList, rows);
    TestWindow w;
    const QString root = w.dir.filePath("tree");
    // ".h34.txt" reads hidden + archive (34) and is left out; ".r35.txt" is also
    // read-only (35) and is added. Names beginning with "~" are left out, and so is
    // everything in the hidden system folder "sys".
    makeTree(root, {"a.txt", "B.TXT", "c.md", "noext", "~$a.txt", ".h34.txt", ".r35.txt",
                    "sub/d.txt", "sub/~e.txt", "sys/f.txt"});
    QVERIFY(QFile::link(w.dir.path(), root + "/up")); // leads out: named after the scan
    QVERIFY(::chmod(QFile::encodeName(root + "/.r35.txt").constData(), 0444) == 0);
    w.platform.attributeOverrides[root + "/sys/"] = 22;
    Form1& form = w.load();
    w.prompts.answerInput(extension);
    w.prompts.answerFolder(root);
    // The pointer shows the hourglass while the scan handles events.
    QList<int> pointers;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { pointers << form.MousePointer(); });
    probe.start(0);
    form.addFolderButton->click();
    probe.stop();

    QStringList expected;
    for (const QString& row : rows)
        expected << root + row;
    QCOMPARE(form.listedFiles->Rows(), expected);
    QCOMPARE(w.prompts.callsOf("error").size(), 0);
    QCOMPARE(w.prompts.calls.size(), 3);
    QCOMPARE(w.prompts.calls[2].text, "These folders and links were left out of the scan:\r\n" +
                                          root + "/up/: the link leads out of the chosen folder");
    QCOMPARE(w.store->get("Extension", ""), extension);
    QCOMPARE(w.store->get("LastFolder", ""), root);
    QVERIFY(!pointers.isEmpty());
    QVERIFY(
        std::all_of(pointers.begin(), pointers.end(), [](int p) { return p == PointerHourglass; }));
    QCOMPARE(form.MousePointer(), int(PointerDefault));
}

void TestFileListWindow::scanOfManyFilesTwice() {
    TestWindow w;
    const QString root = w.dir.filePath("many");
    QStringList files;
    for (int i = 0; i < 130; ++i)
        files << QStringLiteral("n%1.txt").arg(i, 3, 10, QLatin1Char('0'));
    makeTree(root, files);
    Form1& form = w.load();
    for (int turn = 0; turn < 2; ++turn) {
        w.prompts.answerInput("txt");
        w.prompts.answerFolder(root);
        form.addFolderButton->click();
    }
    // Every file of the folder, and all of them again on the second scan.
    QCOMPARE(form.listedFiles->Count(), 260);
    QCOMPARE(form.listedFiles->Item(1), root + "/n000.txt");
    QCOMPARE(form.listedFiles->Item(130), root + "/n129.txt");
    QCOMPARE(form.listedFiles->Item(131), root + "/n000.txt");
    // The folder just chosen is offered next time.
    QCOMPARE(w.prompts.callsOf("folder").last().extra, root);
}

void TestFileListWindow::scanOfADriveRoot_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("rootPath");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("Windows drive")
        << int(PathStyle::Windows) << "R:\\"
        << QStringList{"R:\\a.txt", "R:\\sub\\b.txt", "R:\\sub\\deeper\\c.txt"};
    QTest::newRow("POSIX root") << int(PathStyle::Posix) << "/"
                                << QStringList{"/a.txt", "/sub/b.txt", "/sub/deeper/c.txt"};
}

void TestFileListWindow::scanOfADriveRoot() {
    QFETCH(int, style);
    QFETCH(QString, rootPath);
    QFETCH(QStringList, rows);
    TestWindow w;
    const QString real = w.dir.filePath("drive");
    makeTree(real, {"a.txt", "sub/b.txt", "sub/deeper/c.txt"});
    // The root itself has the attributes of a hidden system folder, as drive roots often
    // do; it is a root, so it is descended into all the same.
    w.platform.attributeOverrides[real + "/"] = 22;
    Form1& form = w.load();
    form.setFolderAccess(
        std::make_shared<RootedView>(w.platform, PathStyle(style), rootPath, real));
    w.prompts.answerInput("txt");
    w.prompts.answerFolder(rootPath);
    form.addFolderButton->click();
    // One separator after the root, in the root and below it alike.
    QCOMPARE(form.listedFiles->Rows(), rows);
}

void TestFileListWindow::scanFailuresAreReportedAndTheScanGoesOn_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("line");
    QTest::addColumn<QStringList>("rows");
    const QString click = QStringLiteral("Qwellan2021/08/31.Form1.PushButton3_Click");
    QTest::newRow("adding a row") << click << 136 << QStringList{"/b/y.txt"};
    QTest::newRow("the hourglass") << click << 116 << QStringList{"/a/x.txt", "/b/y.txt"};
    QTest::newRow("inside the scan")
        << ListSubfoldersTag << 114 << QStringList{"/a/x.txt", "/b/y.txt"};
}

void TestFileListWindow::scanFailuresAreReportedAndTheScanGoesOn() {
    QFETCH(QString, tag);
    QFETCH(int, line);
    QFETCH(QStringList, rows);
    TestWindow w;
    const QString root = w.dir.filePath("tree");
    makeTree(root, {"a/x.txt", "b/y.txt"});
    Form1& form = w.load();
    int failures = 0;
    Trap::setFaultInjector([&](const QString& at, int number) {
        if (at == tag && number == line && failures++ == 0)
            throw Failure(QStringLiteral("Injected"));
    });
    w.prompts.answerInput("txt");
    w.prompts.answerFolder(root);
    form.addFolderButton->click();
    QCOMPARE(w.prompts.errorTexts().size(), 1);
    QVERIFY(w.prompts.errorTexts()[0].startsWith(
        QStringLiteral("Injected\r\nin %1 at line %2\r\r").arg(tag).arg(line)));
    QStringList expected;
    for (const QString& row : rows)
        expected << root + row;
    QCOMPARE(form.listedFiles->Rows(), expected);
    QCOMPARE(form.MousePointer(), int(PointerDefault));
}

void TestFileListWindow::drops_data() {
    QTest::addColumn<QStringList>("dropped"); // relative to the tree
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("files as they are") << QStringList{"A/~$b.txt", "A/.h34.txt", "A/a.txt"}
                                       << QStringList{"A/~$b.txt", "A/.h34.txt", "A/a.txt"};
    QTest::newRow("a folder") << QStringList{"A"}
                              << QStringList{"A/.r35.txt", "A/a.txt", "A/sub/c.txt"};
    QTest::newRow("two folders") << QStringList{"B", "A"}
                                 << QStringList{"B/z.md", "A/.r35.txt", "A/a.txt", "A/sub/c.txt"};
    QTest::newRow("a folder and a file")
        << QStringList{"A/sub", "B/z.md"} << QStringList{"A/sub/c.txt", "B/z.md"};
}

void TestFileListWindow::drops() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, rows);
    TestWindow w;
    const QString root = w.dir.filePath("tree");
    makeTree(root, {"A/a.txt", "A/~$b.txt", "A/.h34.txt", "A/.r35.txt", "A/sub/c.txt", "B/z.md"});
    QVERIFY(::chmod(QFile::encodeName(root + "/A/.r35.txt").constData(), 0444) == 0);
    Form1& form = w.load();
    form.listedFiles->Add("/before.txt");
    QStringList paths;
    for (const QString& path : dropped)
        paths << root + "/" + path;
    QVERIFY(dropPaths(form, paths));
    QStringList expected{"/before.txt"};
    for (const QString& row : rows)
        expected << root + "/" + row;
    QCOMPARE(form.listedFiles->Rows(), expected);
    QVERIFY(w.prompts.calls.isEmpty());
    // Started with the same paths (the desktop's "Open With"), the list is the same.
    TestWindow started;
    Form1& opened = started.load();
    opened.listedFiles->Add("/before.txt");
    opened.OpenStartArguments(paths);
    QCOMPARE(opened.listedFiles->Rows(), expected);
}

void TestFileListWindow::dropsAreCopies_data() {
    QTest::addColumn<int>("offered");
    QTest::addColumn<int>("taken");
    QTest::newRow("move or copy") << int(Qt::MoveAction | Qt::CopyAction) << int(Qt::CopyAction);
    QTest::newRow("all three") << int(Qt::MoveAction | Qt::LinkAction | Qt::CopyAction)
                               << int(Qt::CopyAction);
    QTest::newRow("move or link") << int(Qt::MoveAction | Qt::LinkAction) << int(Qt::LinkAction);
    QTest::newRow("move only") << int(Qt::MoveAction) << int(Qt::IgnoreAction);
}

void TestFileListWindow::dropsAreCopies() {
    QFETCH(int, offered);
    QFETCH(int, taken);
    TestWindow w;
    Form1& form = w.load();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(w.dir.path())});
    QDragEnterEvent enter(QPoint(5, 5), Qt::DropActions(offered), &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(form.fileList->viewport(), &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::DropActions(offered), &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(form.fileList->viewport(), &dropped);
    for (const QDropEvent* event : {static_cast<QDropEvent*>(&enter), &dropped})
        QCOMPARE(int(event->isAccepted() ? event->dropAction() : Qt::IgnoreAction), taken);
}

void TestFileListWindow::dropOfTheRoot() {
    TestWindow w;
    const QString real = w.dir.filePath("drive");
    makeTree(real, {"a.txt", "sub/b.txt"});
    Form1& form = w.load();
    form.setFolderAccess(std::make_shared<RootedView>(w.platform, PathStyle::Posix, "/", real));
    QVERIFY(dropPaths(form, {"/"}));
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"/a.txt", "/sub/b.txt"}));
}

void TestFileListWindow::dragWithoutFilesIsRefused() {
    TestWindow w;
    Form1& form = w.load();
    QMimeData text;
    text.setText("some words from an editor");
    QVERIFY(!drop(form, text));
    QMimeData web;
    web.setUrls({QUrl("https://example.com/a.txt")});
    QVERIFY(!drop(form, web));
    QCOMPARE(form.listedFiles->Count(), 0);
}

void TestFileListWindow::removingRows() {
    TestWindow w;
    Form1& form = shown(w.load());
    // Nothing happens on an empty list or without a selected row.
    doubleClick(form, QPoint(5, 5));
    pressDelete(form);
    setRows(form, {"1", "2", "3", "4"});
    form.fileList->selectionModel()->clearSelection();
    pressDelete(form);
    QCOMPARE(form.listedFiles->Count(), 4);

    // Double-click below the last row removes the selected row, not the one under it.
    select(form, 2);
    const QPoint below(5, form.fileList->viewport()->height() - 3);
    QVERIFY(!form.fileList->indexAt(below).isValid());
    doubleClick(form, below);
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"1", "3", "4"}));
    select(form, 3);
    pressDelete(form);
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"1", "3"}));
    // Other keys do nothing.
    select(form, 1);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QCoreApplication::sendEvent(form.fileList, &other);
    QCOMPARE(form.listedFiles->Count(), 2);

    // While the hourglass shows, nothing is removed.
    form.SetMousePointer(PointerHourglass);
    doubleClick(form, rowCentre(form, 1));
    pressDelete(form);
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"1", "3"}));
    QVERIFY(w.prompts.calls.isEmpty());
}

void TestFileListWindow::clearList() {
    TestWindow w;
    Form1& form = w.load();
    setRows(form, {"a", "b"});
    // The hourglass does not hold "Clear List" back.
    form.SetMousePointer(PointerHourglass);
    form.clearListButton->click();
    QCOMPARE(form.listedFiles->Count(), 0);
    form.clearListButton->click();
    QCOMPARE(form.listedFiles->Count(), 0);
    QVERIFY(w.prompts.calls.isEmpty());
}

void TestFileListWindow::rowDragSwapsTexts_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<QList<int>>("movesOver");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("selected");
    QTest::newRow("one row at a time")
        << QStringList{"A", "B", "C"} << 1 << QList<int>{2, 3} << QStringList{"B", "C", "A"} << 3;
    QTest::newRow("straight to the fourth") << QStringList{"A", "B", "C", "D"} << 1 << QList<int>{4}
                                            << QStringList{"D", "B", "C", "A"} << 4;
    QTest::newRow("back again") << QStringList{"A", "B", "C"} << 3 << QList<int>{1, 2}
                                << QStringList{"B", "C", "A"} << 2;
    QTest::newRow("same text") << QStringList{"A", "B", "A"} << 1 << QList<int>{3}
                               << QStringList{"A", "B", "A"} << 1;
    QTest::newRow("over itself") << QStringList{"A", "B"} << 1 << QList<int>{1}
                                 << QStringList{"A", "B"} << 1;
}

void TestFileListWindow::rowDragSwapsTexts() {
    QFETCH(QStringList, rows);
    QFETCH(int, pressed);
    QFETCH(QList<int>, movesOver);
    QFETCH(QStringList, after);
    QFETCH(int, selected);
    TestWindow w;
    Form1& form = shown(w.load());
    setRows(form, rows);
    press(form, rowCentre(form, pressed));
    QVERIFY(form.MouseIsDown);
    QCOMPARE(form.DragRow.row() + 1, pressed);
    for (int row : movesOver)
        dragOver(form, row);
    release(form, rowCentre(form, movesOver.last()));
    QCOMPARE(form.listedFiles->Rows(), after);
    const QModelIndexList selection = form.fileList->selectionModel()->selectedRows();
    QCOMPARE(selection.size(), 1);
    QCOMPARE(selection[0].row() + 1, selected);
    // Moves after the button came up change nothing.
    dragOver(form, 1);
    QCOMPARE(form.listedFiles->Rows(), after);
    QVERIFY(w.prompts.calls.isEmpty());
}

void TestFileListWindow::rowDragPointer() {
    for (const bool shipped : {true, false}) {
        TestWindow w;
        if (shipped) {
            QFile icon(QStringLiteral(PARVELLO_RESOURCES_DIR "/drag.ico"));
            QVERIFY(icon.open(QIODevice::ReadOnly));
            w.programFile("drag.ico", icon.readAll());
        }
        Form1& form = shown(w.load());
        setRows(form, {"A", "B"});
        QWidget* list = form.fileList->viewport();
        press(form, rowCentre(form, 1));
        QCOMPARE(form.fileListPointer(), 99);
        QCOMPARE(list->cursor().shape(), shipped ? Qt::BitmapCursor : Qt::DragMoveCursor);
        dragOver(form, 2);
        QCOMPARE(form.listedFiles->Rows(), (QStringList{"B", "A"}));
        release(form, rowCentre(form, 2));
        QCOMPARE(form.fileListPointer(), 1);
        QCOMPARE(list->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!form.MouseIsDown);
        QVERIFY(w.prompts.calls.isEmpty());
    }
}

void TestFileListWindow::removedDragRowDoesNothing() {
    TestWindow w;
    Form1& form = shown(w.load());
    setRows(form, {"A", "B", "C"});
    press(form, rowCentre(form, 3));
    release(form, rowCentre(form, 3));
    pressDelete(form); // removes the dragged row
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"A", "B"}));
    // A later press on empty space starts no item click: the old drag row is used.
    press(form, QPoint(5, form.fileList->viewport()->height() - 3));
    dragOver(form, 1);
    dragOver(form, 2);
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"A", "B"}));
    release(form, rowCentre(form, 2));
    // The same after "Clear List" and new rows.
    press(form, rowCentre(form, 1));
    release(form, rowCentre(form, 1));
    form.clearListButton->click();
    setRows(form, {"X", "Y"});
    press(form, QPoint(5, form.fileList->viewport()->height() - 3));
    dragOver(form, 2);
    QCOMPARE(form.listedFiles->Rows(), (QStringList{"X", "Y"}));
    QVERIFY(w.prompts.calls.isEmpty());
}

void TestFileListWindow::swapScrollsAtScreenLines_data() {
    QTest::addColumn<int>("screenY");
    QTest::addColumn<bool>("atTop"); // swap with the top visible row, or the bottom one
    QTest::addColumn<int>("scrolled");
    QTest::newRow("304, top row") << 304 << true << -1;
    QTest::newRow("305, top row") << 305 << true << 0;
    QTest::newRow("364, bottom row") << 364 << false << 0;
    QTest::newRow("365, bottom row") << 365 << false << 1;
    QTest::newRow("0, bottom row visible") << 0 << false << 0;
    QTest::newRow("2000, top row") << 2000 << true << 0;
}

void TestFileListWindow::swapScrollsAtScreenLines() {
    QFETCH(int, screenY);
    QFETCH(bool, atTop);
    QFETCH(int, scrolled);
    TestWindow w;
    Form1& form = shown(w.load());
    QStringList rows;
    for (int i = 1; i <= 60; ++i)
        rows << QStringLiteral("row %1").arg(i);
    setRows(form, rows);
    form.fileList->scrollTo(form.listedFiles->index(19, 0), QAbstractItemView::PositionAtTop);
    const int top = topRow(form);
    QCOMPARE(top, 20);
    const int bottom =
        form.fileList->indexAt(QPoint(2, form.fileList->viewport()->height() - 1)).row() + 1;
    QVERIFY(bottom > top + 2);
    const int target = atTop ? top : bottom - 1;
    const int from = atTop ? top + 1 : target - 1;
    w.platform.cursor = QPoint(400, screenY);
    press(form, rowCentre(form, from));
    dragOver(form, target);
    release(form, rowCentre(form, target));
    QCOMPARE(form.listedFiles->Item(target), QStringLiteral("row %1").arg(from));
    QCOMPARE(topRow(form), top + scrolled);
}

// A row dragged with the real mouse while a run pauses between files moves nothing: every
// file is processed once, and the list's pointer does not change.
void TestFileListWindow::noRowDragDuringARun() {
    RunWindow r;
    Form1& form = shown(*r.form);
    QStringList files;
    for (const char* name : {"1.txt", "2.txt", "3.txt"})
        files << r.source(QString::fromLatin1(name), QByteArray(name).left(1) + "\"");
    form.inPlaceOption->click();
    form.doubleToTextOption->click();
    form.doubleReplacementBox->setText("x\"");
    int pauses = 0;
    QTimer pause;
    connect(&pause, &QTimer::timeout, [&] {
        if (++pauses != 2)
            return;
        press(form, rowCentre(form, 1));
        dragOver(form, 2);
        dragOver(form, 3);
        release(form, rowCentre(form, 3));
    });
    pause.start(0);
    form.startRemoving();
    pause.stop();
    QVERIFY(pauses >= 2);
    QCOMPARE(form.listedFiles->Rows(), files);
    QCOMPARE(form.fileListPointer(), 0);
    QVERIFY(!form.MouseIsDown);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(TestWindow::readFile(files[i]), QByteArray::number(i + 1) + "x\"\r\n");
    QCOMPARE(r.messages(), QStringList{"Done."});
}

// Closing the window at the first pause of a long loop ends it there: no row is added and
// no box appears afterwards.
void TestFileListWindow::closingStopsLongLoops_data() {
    QTest::addColumn<QString>("loop");
    QTest::newRow("folder scan") << "scan";
    QTest::newRow("drop of folders") << "drop";
    QTest::newRow("loading the examples") << "examples";
}

void TestFileListWindow::closingStopsLongLoops() {
    QFETCH(QString, loop);
    TestWindow w;
    const QString root = w.dir.filePath("tree");
    QStringList entries;
    for (int i = 0; i < 40; ++i)
        entries << QStringLiteral("f%1/a.txt").arg(i, 2, 10, QLatin1Char('0'));
    makeTree(root, entries);
    w.programFile("Samples/one.txt", "one");
    w.programFile("Samples/two.txt", "two");
    Form1& form = shown(w.load());
    const qsizetype boxesBefore = w.prompts.calls.size();
    int pauses = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (++pauses == 1)
            QVERIFY(form.close());
    });
    closer.start(0);
    if (loop == "scan") {
        w.prompts.answerInput("txt");
        w.prompts.answerFolder(root);
        form.addFolderButton->click();
    } else if (loop == "drop") {
        QVERIFY(dropPaths(form, {root}));
    } else {
        form.samplesButton->click(); // the Yes/No box that would follow has no answer
    }
    closer.stop();
    QVERIFY(form.IsUnloading());
    QCOMPARE(pauses, 1);
    QCOMPARE(form.listedFiles->Count(), 0);
    QCOMPARE(w.prompts.calls.size(), boxesBefore + (loop == "scan" ? 2 : 0));
}

// Names whose bytes are not valid in the file-name encoding are reported and left out of
// the list; the file whose name really holds U+FFFD is added once.
void TestFileListWindow::namesNotHeldExactly() {
    TestWindow w;
    const QString root = w.dir.filePath("tree");
    makeTree(root, {QStringLiteral("caf\uFFFD.txt")});
    const QByteArray native = QFile::encodeName(root);
    for (const QByteArray& raw : {native + "/caf\xE9.txt", native + "/d\xE9"}) {
        const bool folder = raw.endsWith("d\xE9");
        QVERIFY(folder ? ::mkdir(raw.constData(), 0755) == 0
                       : ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0644)) == 0);
    }
    QVERIFY(::close(::open((native + "/d\xE9/inner.txt").constData(), O_CREAT | O_WRONLY, 0644)) ==
            0);
    // The temporary folder's own clean-up reads names as text and cannot remove these.
    struct RemoveRawNames {
        QByteArray root;
        ~RemoveRawNames() {
            ::unlink((root + "/caf\xE9.txt").constData());
            ::unlink((root + "/d\xE9/inner.txt").constData());
            ::rmdir((root + "/d\xE9").constData());
        }
    } removeRawNames{native};
    Form1& form = w.load();
    const QString added = root + QStringLiteral("/caf\uFFFD.txt");
    const QString report =
        QStringLiteral("These names cannot be held exactly, so they were left out:"
                       "\r\n%1/d\\xE9\r\n%1/caf\\xE9.txt")
            .arg(root);
    // The folder scan, and a drop of the folder.
    w.prompts.answerInput("txt");
    w.prompts.answerFolder(root);
    form.addFolderButton->click();
    QVERIFY(dropPaths(form, {root}));
    QCOMPARE(form.listedFiles->Rows(), (QStringList{added, added}));
    QCOMPARE(w.prompts.callsOf("message").size(), 2);
    for (const PromptCall& box : w.prompts.callsOf("message"))
        QCOMPARE(box.text, report);
    // A drop of the file itself: its address carries the name's own bytes.
    QMimeData data;
    data.setUrls({QUrl::fromEncoded(
        "file://" + QUrl::toPercentEncoding(QString::fromLatin1(native), "/") + "/caf%E9.txt")});
    QVERIFY(drop(form, data));
    QCOMPARE(form.listedFiles->Count(), 2);
    QCOMPARE(w.prompts.callsOf("message").last().text,
             QStringLiteral(
                 "These names cannot be held exactly, so they were left out:\r\n%1/caf\\xE9.txt")
                 .arg(root));
}

QTEST_MAIN(TestFileListWindow)
#include "tst_filelistwindow.moc"
