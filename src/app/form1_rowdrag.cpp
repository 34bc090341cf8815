// Reordering the list by dragging a row: each move over another row swaps the two texts,
// and a swap near the top or bottom of the screen scrolls the list by one row.
#include "app/cursorfile.h"
#include "app/form1.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/startup.h"
#include "filelist/filelistmodel.h"

#include <QItemSelectionModel>
#include <QTreeView>

namespace parvello {

namespace {

// Screen lines (pixels from the top of the screen): a swap above the first scrolls up,
// one below the second scrolls down.
constexpr int ScrollUpAbove = 305;
constexpr int ScrollDownBelow = 364;

// The list's own pointer values.
constexpr int ListPointerArrow = 1;
constexpr int ListPointerCustom = 99;

} // namespace

// While a batch run works through the list, a press starts no drag: the rows stay where
// they are, so every listed file is processed once.
void Form1::fileListPressed() {
    if (IsRunning())
        return;
    MouseIsDown = true;
}

void Form1::fileRowPressed() {
    if (IsRunning())
        return;
    // The drag pointer; without a usable drag.ico the drag works with the system's one.
    QCursor pointer(Qt::DragMoveCursor);
    try {
        pointer = LoadCursorFile(ProgramFile(platform_, QStringLiteral("drag.ico")));
    } catch (const Failure&) {
    }
    fileList->viewport()->setCursor(pointer);
    listPointer_ = ListPointerCustom;
    // The list never starts a drag of its own rows.
    fileList->setDragEnabled(false);
    const QModelIndexList selected = fileList->selectionModel()->selectedRows();
    DragRow = selected.isEmpty() ? QPersistentModelIndex() : QPersistentModelIndex(selected[0]);
}

void Form1::fileListMouseMoved(int x, int y) {
    hoverPointer(PointerDefault);
    if (!MouseIsDown || IsRunning())
        return;
    const QModelIndex hit = fileList->indexAt(QPoint(x, y));
    RowUnderMouse =
        hit.isValid() ? QPersistentModelIndex(hit.siblingAtColumn(0)) : QPersistentModelIndex();
    // A dragged row removed meanwhile leaves an invalid index: nothing happens then.
    if (RowUnderMouse.isValid() && DragRow.isValid()) {
        const int dragRow = DragRow.row() + 1;
        const int targetRow = RowUnderMouse.row() + 1;
        const QString dragged = listedFiles->Item(dragRow);
        const QString target = listedFiles->Item(targetRow);
        if (dragged != target) {
            listedFiles->SetItem(dragRow, target);
            listedFiles->SetItem(targetRow, dragged);
            const QModelIndex selected = listedFiles->index(targetRow - 1, 0);
            fileList->selectionModel()->setCurrentIndex(
                selected, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            DragRow = QPersistentModelIndex(selected);
            const int screenY = platform_.cursorPosition().y();
            if (screenY < ScrollUpAbove && targetRow - 1 >= 1)
                fileList->scrollTo(listedFiles->index(targetRow - 2, 0));
            else if (screenY > ScrollDownBelow && listedFiles->Count() >= targetRow + 1)
                fileList->scrollTo(listedFiles->index(targetRow, 0));
        }
    }
    RowUnderMouse = QPersistentModelIndex();
}

void Form1::fileListReleased() {
    if (IsRunning() && !MouseIsDown)
        return; // the press started nothing: the pointer stays as it is
    MouseIsDown = false;
    // Back to the arrow; the window's hourglass, when shown, shows over the list too.
    fileList->viewport()->unsetCursor();
    listPointer_ = ListPointerArrow;
}

} // namespace parvello
