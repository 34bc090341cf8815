// The main window: its controls, the start-up steps, the hover pointers and the handlers
// that keep the user's choices in the settings store.
#pragma once

#include "base/settingsstore.h"

#include <QCursor>
#include <QPersistentModelIndex>
#include <QWidget>

#include <memory>

class QGroupBox;
class QMimeData;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTreeView;

namespace parvello {

struct BatchRun;
class FileListModel;
class FolderAccess;
class Platform;
class Prompts;
class Trap;

// The window's pointer: one value for the whole window.
enum MousePointerValue : int { PointerDefault = 0, PointerHourglass = 11, PointerCustom = 99 };

// Control geometry is given in twips, 15 to a logical pixel.
constexpr int Twips(int twips) {
    return (twips + 7) / 15;
}

// The window's font: Arial at the size in points, bold unless asked otherwise.
QFont WindowFont(qreal points, bool bold = true);

// The window's colours: white backgrounds with the dark texts that go with them, under any
// theme; the theme gives only the selection colours.
QPalette WhiteWindowPalette(const QPalette& theme);

class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(Prompts& prompts, Platform& platform, SettingsStore& store, QWidget* parent = nullptr);
    ~Form1() override;

    // Places the window in the screen's available area; where it does not fit, its
    // controls scroll inside a window as large as fits. The same size and place as ever
    // where it fits.
    void FitInto(const QRect& available);

    // Runs the start-up steps; the window is shown by the caller afterwards.
    void Form_Load();
    // Ends the program (the close button and the system menu come here).
    void Form_Unload(bool& cancel);
    bool IsUnloading() const { return unloading_; }

    // Handles pending events from inside a long operation (a batch run, a folder scan).
    // Handlers that run meanwhile report their own failures.
    void DoEvents();

    // True while a batch run is going on: the list must not change under it.
    bool IsRunning() const { return running_; }
    // Escape or closing the window during a run: asks whether to stop after the current
    // file; true when the run is to stop. Asks once, however often it is called meanwhile.
    bool AskToStop();

    int MousePointer() const { return mousePointer_; }
    void SetMousePointer(int value);
    bool HasCustomPointerImage() const { return customPointerLoaded_; }

    // Choosing a rule (any of the six options), changing a replacement text.
    void ruleChosen();
    void doubleReplacementEdited();
    void singleReplacementEdited();
    // Choosing where results go (either save option), changing the output folder.
    void saveOptionChosen();
    void outputFolderEdited();

    // "Add File(s)": adds the files picked in the open-file dialog.
    void addFiles();
    // "Start Removing": applies the selected rule to every file of the list.
    void startRemoving();
    // "Load Sample/Example Files", and the record of the example files it loads.
    void loadSamples();
    void TakeSampleSnapshot();
    void LoadSampleFiles(FileListModel& list);
    // The program folder's "Samples" folder, without a trailing separator.
    QString samplesFolder();

    // "Help": the quote characters the rules act on, and the page to read about them.
    void showHelp();
    // "...": picks the output folder.
    void browseOutputFolder();

    // Hover pointers: the hand over a button, the window's own pointer over the window, the
    // frames and the output folder box. (fileListMouseMoved belongs to the row reordering
    // below.)
    void pointerOverButton();
    void pointerOverSurface();

    // The file list: the folder scan, drops, removing rows and reordering them by dragging.
    // "Add All File(s) In Folder".
    void addFilesInFolder();
    // "Clear List".
    void clearList();
    // A drag over the list: the effect becomes Qt::IgnoreAction unless it carries files.
    void fileListDragOver(const QMimeData* data, Qt::DropAction& effect);
    // Adds each dropped file, and every file inside each dropped folder.
    void fileListDropped(const QMimeData* data);
    // Adds the files and folders named on the command line, as a drop of them would.
    void OpenStartArguments(const QStringList& arguments);
    // Double-click and Delete remove the selected row.
    void fileListDoubleClicked();
    void fileListKeyPressed(int keyCode, Qt::KeyboardModifiers shift);
    // Row reordering: a press on a row starts a drag, each move over another row swaps the
    // two texts. The first step of every move is the hover pointer.
    void fileListPressed();
    void fileRowPressed();
    void fileListMouseMoved(int x, int y);
    void fileListReleased();
    // The list's own pointer: 0 as the window, 1 arrow, 99 the drag pointer.
    int fileListPointer() const { return listPointer_; }
    // The file system that the scan and drops read (the real one unless a test sets one).
    FolderAccess& folderAccess();
    void setFolderAccess(std::shared_ptr<FolderAccess> folders) { folders_ = std::move(folders); }
    // Row-drag state: a button is down on the list; the row being dragged; the row under
    // the pointer during one move. A removed row's index becomes invalid.
    bool MouseIsDown = false;
    QPersistentModelIndex DragRow;
    QPersistentModelIndex RowUnderMouse;

private:
    void connectFileListHandlers();
    bool fileListEvent(QObject* watched, QEvent* event);
    void removeSelectedRow();
    std::shared_ptr<FolderAccess> folders_;
    int listPointer_ = 0;

public:
    // Start-up routines that touch the window.
    void ApplySkin();

    // The controls. Their object names are their member names, except that each option and
    // box is named after the settings key its state is stored under ("Option1", "Text1").
    QPushButton* addFilesButton;        // "Add File(s)"
    QPushButton* startButton;           // "Start Removing"
    QPushButton* addFolderButton;       // "Add All File(s) In Folder"
    QPushButton* browseFolderButton;    // "...", beside the output folder
    QPushButton* helpButton;            // "Help"
    QPushButton* clearListButton;       // "Clear List"
    QPushButton* samplesButton;         // "Load Sample/Example Files"
    QGroupBox* outputFolderFrame;       // around the output folder box and its "..." button
    QGroupBox* saveOptionsFrame;        // "Save Option"
    QGroupBox* ruleOptionsFrame;        // "Remove Options"
    QRadioButton* removeDoubleOption;   // "Remove all double quotes"
    QRadioButton* removeSingleOption;   // "Remove all single quotes"
    QRadioButton* doubleToSingleOption; // "Replace double quotes with single quotes"
    QRadioButton* singleToDoubleOption; // "Replace single quotes with double quotes"
    QRadioButton* doubleToTextOption;   // "Replace double quotes with this"
    QRadioButton* singleToTextOption;   // "Replace single quotes with this"
    QRadioButton* inPlaceOption;        // "Save results in folder of original file"
    QRadioButton* intoFolderOption;     // "Save results to this folder:"
    QLineEdit* outputFolderBox;
    QLineEdit* doubleReplacementBox; // beside doubleToTextOption
    QLineEdit* singleReplacementBox; // beside singleToTextOption
    QTreeView* fileList;             // one column, "File(s)"
    FileListModel* listedFiles;      // the rows of fileList
    QProgressBar* progressBar;       // "Progress Bar" while idle

    Prompts& prompts() { return prompts_; }
    Platform& platform() { return platform_; }
    SettingsStore& store() { return store_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createListControls();
    void createRuleOptions();
    void createSaveOptions();
    void setTabOrderFromTable();
    void keepTabOnSelectedOptions();
    // The six rule options, in the order of the window.
    QList<QRadioButton*> ruleOptions() const;
    void connectHandlers();
    void hoverPointer(int value);
    // Sets a control the way code does it, raising its own handling; a failure of that
    // handling fails the calling step.
    void setOption(QRadioButton* button, bool selected);
    void setText(QLineEdit* box, const QString& text);
    // Reads an option key at start-up and sets its button from it.
    void restoreOption(QRadioButton* button, const QString& key, int defaultValue);
    // Disables "Start Removing" and every way of changing the list while a run goes on.
    void setRunning(bool running);
    // The steps of "Start Removing" (form1_batchrun.cpp), over the state of one run.
    bool runMayStart(Trap& trap);
    void listRunFiles(BatchRun& run);
    bool runRow(BatchRun& run, int row);
    void processRow(BatchRun& run, int row, const QString& sourcePath, const QString& outputPath,
                    bool intoFolder);
    void endRun(BatchRun& run);

    Prompts& prompts_;
    Platform& platform_;
    SettingsStore& store_;
    int mousePointer_ = PointerDefault;
    QCursor customPointer_;
    bool customPointerLoaded_ = false;
    bool unloading_ = false;
    bool running_ = false;
    QScrollArea* scroller_ = nullptr;
    bool stopRequested_ = false;
    bool askingToStop_ = false;
};

// The question Escape asks during a run, and the bar's text after a stopped run.
inline const QString StopQuestion = QStringLiteral("Stop after the current file?");
QString StoppedProgressText(int done, int total);

} // namespace parvello
