// Filling the list by drag and drop, removing rows (double-click, Delete, "Clear List"),
// and the routing of the list's events to its handlers.
#include "app/form1.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/qtpaths.h"
#include "filelist/addfolder.h"
#include "filelist/filelistmodel.h"
#include "filelist/folderaccess.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

namespace parvello {

namespace {

// The key code of Delete as the list's key handler receives it.
constexpr int KeyCodeDelete = 46;

// A drop is taken as a copy, or as a link where the source offers only that; never as a move.
Qt::DropAction CopyOrLink(Qt::DropActions offered) {
    if (offered & Qt::CopyAction)
        return Qt::CopyAction;
    if (offered & Qt::LinkAction)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

// The local files and folders a drag carries, in the order the source lists them. A path
// whose bytes cannot be held exactly as text goes, escaped, to `unrepresentable` instead.
QStringList droppedPaths(const QMimeData* data, QStringList* unrepresentable = nullptr) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        // The address carries the name's own bytes, percent-encoded; toLocalFile would
        // read bytes that are not UTF-8 as U+FFFD, the name of another file.
        const QByteArray bytes =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (NameRoundTrips(bytes))
            paths.append(QDir::toNativeSeparators(url.toLocalFile()));
        else if (unrepresentable)
            unrepresentable->append(EscapedName(bytes));
    }
    return paths;
}

bool isFolder(FolderAccess& folders, const QString& path) {
    try {
        return (folders.attributes(ToPath(path)) & attributes::Directory) != 0;
    } catch (const Failure&) {
        return false;
    }
}

} // namespace

// The list's own wiring; its buttons are wired with the others in connectHandlers.
void Form1::connectFileListHandlers() {
    // A press on a row: the list has selected it by now.
    connect(fileList, &QAbstractItemView::pressed, this, [this] {
        RunHandler(prompts_, FormTag(QStringLiteral("ListView1_ItemClick")),
                   [this] { fileRowPressed(); });
    });
    fileList->setAcceptDrops(true);
    fileList->viewport()->setAcceptDrops(true);
    fileList->setDragEnabled(false);
    fileList->installEventFilter(this);
}

bool Form1::fileListEvent(QObject* watched, QEvent* event) {
    const auto run = [this](const char* name, const std::function<void()>& handler) {
        RunHandler(prompts_, FormTag(QString::fromLatin1(name)), handler);
    };
    if (watched == fileList) {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const int keyCode = key->key() == Qt::Key_Delete ? KeyCodeDelete : key->key();
        run("ListView1_KeyDown", [&] { fileListKeyPressed(keyCode, key->modifiers()); });
        return keyCode == KeyCodeDelete;
    }
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* move = static_cast<QMouseEvent*>(event);
        const QPoint at = move->position().toPoint();
        run("ListView1_MouseMove", [&] { fileListMouseMoved(at.x(), at.y()); });
        // With a button down the list does not select rows of its own accord: the drag
        // handlers decide. A plain move belongs to the list alone, not to the window.
        if (move->buttons() == Qt::NoButton)
            watched->event(event);
        event->accept();
        return true;
    }
    case QEvent::MouseButtonPress: {
        run("ListView1_MouseDown", [&] { fileListPressed(); });
        // A press on a row: the list selects it and reports the item click. A press on the
        // empty space below the rows keeps the selection, so that a double-click there
        // removes the selected row.
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        return !fileList->indexAt(at).isValid();
    }
    case QEvent::MouseButtonRelease:
        run("ListView1_MouseUp", [&] { fileListReleased(); });
        return false;
    case QEvent::MouseButtonDblClick:
        run("ListView1_DblClick", [&] { fileListDoubleClicked(); });
        return true;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        Qt::DropAction effect = CopyOrLink(drag->possibleActions());
        if (effect != Qt::IgnoreAction)
            run("ListView1_OLEDragOver", [&] { fileListDragOver(drag->mimeData(), effect); });
        if (effect == Qt::IgnoreAction) {
            drag->ignore();
        } else {
            drag->setDropAction(effect);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const Qt::DropAction effect = CopyOrLink(drop->possibleActions());
        if (effect == Qt::IgnoreAction) {
            drop->ignore();
            return true;
        }
        run("ListView1_OLEDragDrop", [&] { fileListDropped(drop->mimeData()); });
        // The list only names the files: the source keeps them, so a source that offered
        // a move must never be told to delete them.
        drop->setDropAction(effect);
        drop->accept();
        return true;
    }
    default:
        return false;
    }
}

void Form1::fileListDragOver(const QMimeData* data, Qt::DropAction& effect) {
    // Only a list of files can be dropped, and not while a batch run uses the list. Files
    // whose names cannot be held are accepted too, so that the drop can name them.
    QStringList unrepresentable;
    if ((droppedPaths(data, &unrepresentable).isEmpty() && unrepresentable.isEmpty()) ||
        IsRunning())
        effect = Qt::IgnoreAction;
}

void Form1::fileListDropped(const QMimeData* data) {
    if (IsRunning())
        return;
    FolderAccess& folders = folderAccess();
    const PathStyle style = folders.style();
    const QChar separator = Separator(style);
    QStringList unrepresentable;
    QList<ScanSkip> skipped;
    const QStringList paths = droppedPaths(data, &unrepresentable);
    for (const QString& p : paths) {
        if (!isFolder(folders, p)) {
            // A dropped file is added as it is: no test, no clean-up.
            listedFiles->Add(p);
            continue;
        }
        QStringList folderList{p + separator};
        ScanServices services{prompts_, folders, [this] { DoEvents(); },
                              [this] { return IsUnloading(); }};
        ListSubfolders(services, folderList, true);
        // Closed during the scan: the program ends, and no row is added now.
        if (IsUnloading())
            return;
        unrepresentable += services.unrepresentable;
        for (const QString& listed : std::as_const(folderList)) {
            const QString d = listed.chopped(1);
            const QStringList names =
                ListFilesInFolder(folders, d, QStringLiteral("*.*"), &unrepresentable);
            for (qsizetype i = 1; i < names.size(); ++i) {
                if (names[i].startsWith(QLatin1Char('~')))
                    continue;
                const QString s = d + separator + names[i];
                if (TakeFoundFile(services, s))
                    listedFiles->Add(CollapseBackslashes(s, style));
            }
        }
        skipped += services.skipped;
    }
    if (!unrepresentable.isEmpty())
        prompts_.message(UnrepresentableNamesMessage(unrepresentable));
    if (!skipped.isEmpty())
        prompts_.message(ScanSkipsMessage(skipped));
}

void Form1::OpenStartArguments(const QStringList& arguments) {
    // The files and folders the program was started with (the desktop's "Open With") are
    // added as if they were dropped on the list together.
    QList<QUrl> urls;
    for (const QString& argument : arguments)
        urls.append(QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath()));
    if (urls.isEmpty())
        return;
    QMimeData data;
    data.setUrls(urls);
    RunHandler(prompts_, FormTag(QStringLiteral("ListView1_OLEDragDrop")),
               [&] { fileListDropped(&data); });
}

void Form1::removeSelectedRow() {
    // Nothing is removed while the window is busy or a batch run works through the list.
    if (MousePointer() == PointerHourglass || IsRunning() || listedFiles->Count() < 1)
        return;
    const QModelIndexList selected = fileList->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    listedFiles->Remove(selected.first().row() + 1);
}

void Form1::fileListDoubleClicked() {
    removeSelectedRow();
}

void Form1::fileListKeyPressed(int keyCode, Qt::KeyboardModifiers shift) {
    Q_UNUSED(shift);
    if (keyCode == KeyCodeDelete)
        removeSelectedRow();
}

// The lines of "Clear" (clearList): the numbers users see in the "Application
// Error" box ("in ...PushButton8_Click at line N") when a step fails. Keep each number.
struct ClearLines {
    enum : int {
        ClearList = 100,
    };
};

void Form1::clearList() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton8_Click")));
    if (IsRunning())
        return;
    trap.step(ClearLines::ClearList, [&] { listedFiles->Clear(); });
}

} // namespace parvello
