#include "app/form1.h"

#include "app/cursorfile.h"
#include "app/runtexts.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/startup.h"
#include "filelist/filelistmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <limits>

namespace parvello {

QPalette WhiteWindowPalette(const QPalette& theme) {
    // Built from white buttons on a white window, so every text colour is the dark one
    // that goes with white, whatever the theme's colour scheme (a dark scheme's light text
    // would otherwise land on the fixed white). The selection colours stay the theme's.
    QPalette palette(QColor(Qt::white), QColor(Qt::white));
    const QColor disabledText(0x6d, 0x6d, 0x6d); // 5.2:1 on white
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role :
             {QPalette::Highlight, QPalette::HighlightedText, QPalette::Link})
            palette.setColor(group, role, theme.color(group, role));
    }
    return palette;
}

Form1::Form1(Prompts& prompts, Platform& platform, SettingsStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      prompts_(prompts), platform_(platform), store_(store) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(Twips(8040), Twips(9765));
    setFont(WindowFont(9));
    setAutoFillBackground(true);
    setPalette(WhiteWindowPalette(QGuiApplication::palette()));
    setMouseTracking(true);

    createControls();
    setTabOrderFromTable();
    connectHandlers();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - rect().center());
    }
}

Form1::~Form1() = default;

void Form1::FitInto(const QRect& available) {
    const QSize content(Twips(8040), Twips(9765));
    // Room for the window's own area: the title bar goes above it.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QSize room(available.width(), available.height() - titleBar);
    if (content.width() <= room.width() && content.height() <= room.height()) {
        move(available.center() - rect().center());
        return;
    }
    // Larger than the screen (a large scale factor, a small screen): the controls move, as
    // they are, into an area that scrolls, and the window is made as large as fits.
    if (!scroller_) {
        scroller_ = new QScrollArea(this);
        scroller_->setObjectName(QStringLiteral("Scroller"));
        scroller_->setFrameShape(QFrame::NoFrame);
        scroller_->setWidgetResizable(false);
        auto* page = new QWidget;
        page->setObjectName(QStringLiteral("Page"));
        page->setFixedSize(content);
        page->setMouseTracking(true);
        page->installEventFilter(this); // moves over the page are moves over the window
        scroller_->setWidget(page);
        const auto controls = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* control : controls) {
            if (control != scroller_)
                control->setParent(page);
        }
        setTabOrderFromTable();
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    QSize fitted = content;
    if (content.height() > room.height())
        fitted = QSize(content.width() + bar, room.height());
    if (fitted.width() > room.width())
        fitted = QSize(room.width(), std::min(fitted.height() + bar, room.height()));
    setFixedSize(fitted);
    scroller_->setGeometry(rect());
    move(available.topLeft());
}

void Form1::connectHandlers() {
    for (QRadioButton* option :
         ruleOptions() + QList<QRadioButton*>{inPlaceOption, intoFolderOption})
        connect(option, &QRadioButton::toggled, this, [this] { keepTabOnSelectedOptions(); });
    keepTabOnSelectedOptions();
    // Each handler runs under its location tag, the text users see in the "Application
    // Error" box ("...Form1.Option5_Click"): the names the handlers had in earlier releases,
    // kept as they were.
    const auto onSelected = [this](QRadioButton* button, const QString& tag,
                                   void (Form1::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, tag, handler](bool selected) {
            if (selected)
                RunHandler(prompts_, FormTag(tag), [this, handler] { (this->*handler)(); });
        });
    };
    onSelected(removeDoubleOption, QStringLiteral("Option1_Click"), &Form1::ruleChosen);
    onSelected(removeSingleOption, QStringLiteral("Option2_Click"), &Form1::ruleChosen);
    onSelected(doubleToSingleOption, QStringLiteral("Option3_Click"), &Form1::ruleChosen);
    onSelected(singleToDoubleOption, QStringLiteral("Option4_Click"), &Form1::ruleChosen);
    onSelected(doubleToTextOption, QStringLiteral("Option5_Click"), &Form1::ruleChosen);
    onSelected(singleToTextOption, QStringLiteral("Option6_Click"), &Form1::ruleChosen);
    onSelected(inPlaceOption, QStringLiteral("Option7_Click"), &Form1::saveOptionChosen);
    onSelected(intoFolderOption, QStringLiteral("Option8_Click"), &Form1::saveOptionChosen);

    const auto onChange = [this](QLineEdit* box, const QString& tag, void (Form1::*handler)()) {
        connect(box, &QLineEdit::textChanged, this, [this, tag, handler] {
            RunHandler(prompts_, FormTag(tag), [this, handler] { (this->*handler)(); });
        });
    };
    onChange(outputFolderBox, QStringLiteral("Text1_Change"), &Form1::outputFolderEdited);
    onChange(doubleReplacementBox, QStringLiteral("Text2_Change"), &Form1::doubleReplacementEdited);
    onChange(singleReplacementBox, QStringLiteral("Text3_Change"), &Form1::singleReplacementEdited);

    // Click handlers carry their own trap; the boundary only guards what lies between steps.
    const auto onClick = [this](QPushButton* button, const QString& tag, void (Form1::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, tag, handler] {
            RunHandler(prompts_, FormTag(tag), [this, handler] { (this->*handler)(); });
        });
    };
    onClick(addFilesButton, QStringLiteral("PushButton1_Click"), &Form1::addFiles);
    onClick(startButton, QStringLiteral("PushButton2_Click"), &Form1::startRemoving);
    onClick(addFolderButton, QStringLiteral("PushButton3_Click"), &Form1::addFilesInFolder);
    onClick(browseFolderButton, QStringLiteral("PushButton4_Click"), &Form1::browseOutputFolder);
    onClick(helpButton, QStringLiteral("PushButton5_Click"), &Form1::showHelp);
    onClick(clearListButton, QStringLiteral("PushButton8_Click"), &Form1::clearList);
    onClick(samplesButton, QStringLiteral("PushButton9_Click"), &Form1::loadSamples);

    // Mouse-move notices: the handlers' own controls, and the controls without a pointer
    // handler, which keep moves over them from reaching the frame or window beneath.
    const QList<QWidget*> watched{
        outputFolderFrame,    saveOptionsFrame,     ruleOptionsFrame,   outputFolderBox,
        doubleReplacementBox, singleReplacementBox, addFilesButton,     startButton,
        addFolderButton,      browseFolderButton,   helpButton,         clearListButton,
        samplesButton,        removeDoubleOption,   removeSingleOption, doubleToSingleOption,
        singleToDoubleOption, doubleToTextOption,   singleToTextOption, inPlaceOption,
        intoFolderOption,     progressBar};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
    fileList->viewport()->setMouseTracking(true);
    fileList->viewport()->installEventFilter(this);
    connectFileListHandlers();
}

// The lines of loading the window (Form_Load): the numbers users see in the "Application
// Error" box ("in ...Form_Load at line N") when a step fails. Keep each number.
struct LoadLines {
    enum : int {
        Skin = 100,
        Title = 102,
        HandPointerTest = 104,
        HandPointer = 106,
        HomePage = 108,
        SnapshotTest = 108,
        Snapshot = 108,
        SnapshotAgainTest = 126,
        SnapshotAgain = 126,
        ListColumn = 128,
        ColumnWidth = 130,
        OutputFolderBox = 132,
        RestoreOption1 = 134,
        RestoreOption2 = 136,
        RestoreOption3 = 138,
        RestoreOption4 = 140,
        RestoreOption5 = 142,
        RestoreOption6 = 144,
        RestoreOption8 = 146,
        RestoreOption7 = 148,
        FolderFrameTest = 150,
        FolderFrameOn = 152,
        FolderFrameOff = 154,
        DoubleQuoteText = 156,
        SingleQuoteText = 158,
    };
};

void Form1::Form_Load() {
    Trap trap(prompts_, FormTag(QStringLiteral("Form_Load")));
    trap.step(LoadLines::Skin, [&] { ApplySkin(); });
    trap.step(LoadLines::Title, [&] {
        setWindowTitle(QStringLiteral("Parvello"));
        setWindowIcon(QApplication::windowIcon());
        SetAppTitle(windowTitle());
    });
    const QString handPointer = ProgramFile(platform_, QStringLiteral("HAND-M.CUR"));
    if (trap.test(LoadLines::HandPointerTest, [&] { return FileExists(handPointer); })) {
        trap.step(LoadLines::HandPointer, [&] {
            customPointer_ = LoadCursorFile(handPointer);
            customPointerLoaded_ = true;
        });
    }
    trap.step(LoadLines::HomePage, [&] { OpenHomePageAtRandom(platform_, prompts_); });
    // The first start that finds example files records them.
    const auto noSnapshot = [&] {
        return store_.get(QStringLiteral("Snapshot"), QString()).isEmpty();
    };
    if (trap.test(LoadLines::SnapshotTest, noSnapshot))
        trap.step(LoadLines::Snapshot, [&] { TakeSampleSnapshot(); });
    if (trap.test(LoadLines::SnapshotAgainTest, noSnapshot))
        trap.step(LoadLines::SnapshotAgain, [&] { TakeSampleSnapshot(); });
    trap.step(LoadLines::ListColumn, [&] { listedFiles->AddColumn(QStringLiteral("File(s)")); });
    trap.step(LoadLines::ColumnWidth, [&] {
        if (listedFiles->columnCount() < 1)
            throw Failure(QStringLiteral("Index out of bounds"), 35600);
        fileList->setColumnWidth(0, Twips(7000));
    });
    trap.step(LoadLines::OutputFolderBox, [&] {
        const QString desktop = GetDesktopFolder(platform_);
        setText(outputFolderBox, store_.get(QStringLiteral("Text1"), desktop));
    });
    trap.step(LoadLines::RestoreOption1,
              [&] { restoreOption(removeDoubleOption, QStringLiteral("Option1"), 1); });
    trap.step(LoadLines::RestoreOption2,
              [&] { restoreOption(removeSingleOption, QStringLiteral("Option2"), 0); });
    trap.step(LoadLines::RestoreOption3,
              [&] { restoreOption(doubleToSingleOption, QStringLiteral("Option3"), 0); });
    trap.step(LoadLines::RestoreOption4,
              [&] { restoreOption(singleToDoubleOption, QStringLiteral("Option4"), 0); });
    trap.step(LoadLines::RestoreOption5,
              [&] { restoreOption(doubleToTextOption, QStringLiteral("Option5"), 0); });
    trap.step(LoadLines::RestoreOption6,
              [&] { restoreOption(singleToTextOption, QStringLiteral("Option6"), 0); });
    trap.step(LoadLines::RestoreOption8,
              [&] { restoreOption(intoFolderOption, QStringLiteral("Option8"), 1); });
    trap.step(LoadLines::RestoreOption7,
              [&] { restoreOption(inPlaceOption, QStringLiteral("Option7"), 0); });
    if (trap.test(LoadLines::FolderFrameTest, [&] { return intoFolderOption->isChecked(); }))
        trap.step(LoadLines::FolderFrameOn, [&] { outputFolderFrame->setEnabled(true); });
    else
        trap.step(LoadLines::FolderFrameOff, [&] { outputFolderFrame->setEnabled(false); });
    trap.step(LoadLines::DoubleQuoteText, [&] {
        setText(doubleReplacementBox, store_.get(QStringLiteral("Text2"), QStringLiteral("'")));
    });
    trap.step(LoadLines::SingleQuoteText, [&] {
        setText(singleReplacementBox, store_.get(QStringLiteral("Text3"), QStringLiteral("\"")));
    });
}

void Form1::restoreOption(QRadioButton* button, const QString& key, int defaultValue) {
    setOption(button, OptionValueFromText(store_.get(key, defaultValue)));
}

void Form1::setOption(QRadioButton* button, bool selected) {
    if (selected) {
        button->setChecked(true);
    } else if (button->isChecked()) {
        // Clearing a button never selects another, so a group may end up with none.
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
    Trap::rethrowPending();
}

void Form1::setText(QLineEdit* box, const QString& text) {
    box->setText(text);
    Trap::rethrowPending();
}

void Form1::Form_Unload(bool& cancel) {
    cancel = false;
    // Every choice was stored when it changed: nothing to save. A long run that is
    // handling events sees IsUnloading() and stops.
    unloading_ = true;
    QCoreApplication::quit();
}

void Form1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && IsRunning()) {
        RunHandler(prompts_, FormTag(QStringLiteral("Form_KeyDown")), [this] { AskToStop(); });
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    // During a run, closing is stopping: the program ends once the current file is done.
    if (IsRunning() && !IsUnloading()) {
        bool stop = false;
        RunHandler(prompts_, FormTag(QStringLiteral("Form_QueryUnload")),
                   [&] { stop = AskToStop(); });
        if (!stop) {
            event->ignore();
            return;
        }
    }
    bool cancel = false;
    RunHandler(prompts_, FormTag(QStringLiteral("Form_Unload")), [&] { Form_Unload(cancel); });
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void Form1::DoEvents() {
    Trap::Suspend eventsReportTheirOwnFailures;
    QCoreApplication::processEvents();
}

void Form1::SetMousePointer(int value) {
    if (value == mousePointer_ && value != PointerCustom)
        return; // already showing; a run sets the hourglass once per file
    mousePointer_ = value;
    switch (value) {
    case PointerHourglass:
        setCursor(Qt::WaitCursor);
        break;
    case PointerCustom:
        if (customPointerLoaded_)
            setCursor(customPointer_);
        else
            setCursor(Qt::ArrowCursor);
        break;
    default:
        unsetCursor();
        break;
    }
}

void Form1::hoverPointer(int value) {
    if (MousePointer() == PointerHourglass)
        return;
    SetMousePointer(value);
}

QList<QRadioButton*> Form1::ruleOptions() const {
    return {removeDoubleOption,   removeSingleOption, doubleToSingleOption,
            singleToDoubleOption, doubleToTextOption, singleToTextOption};
}

void Form1::ruleChosen() {
    // All six are stored, under "Option1" .. "Option6" in the order of the window.
    const QList<QRadioButton*> options = ruleOptions();
    for (qsizetype i = 0; i < options.size(); ++i)
        store_.save(QStringLiteral("Option%1").arg(i + 1), BoolText(options[i]->isChecked()));
}

void Form1::saveOptionChosen() {
    store_.save(QStringLiteral("Option8"), BoolText(intoFolderOption->isChecked()));
    store_.save(QStringLiteral("Option7"), BoolText(inPlaceOption->isChecked()));
    outputFolderFrame->setEnabled(intoFolderOption->isChecked());
}

void Form1::outputFolderEdited() {
    store_.save(QStringLiteral("Text1"), outputFolderBox->text());
}
void Form1::doubleReplacementEdited() {
    store_.save(QStringLiteral("Text2"), doubleReplacementBox->text());
}
void Form1::singleReplacementEdited() {
    store_.save(QStringLiteral("Text3"), singleReplacementBox->text());
}

void Form1::pointerOverButton() {
    hoverPointer(PointerCustom);
}
void Form1::pointerOverSurface() {
    hoverPointer(PointerDefault);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    RunHandler(prompts_, FormTag(QStringLiteral("Form_MouseMove")),
               [this] { pointerOverSurface(); });
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileList || watched == fileList->viewport())
        return fileListEvent(watched, event);
    if (event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    // Each control's hover handler, with the location tag its failures are reported under.
    const struct {
        QObject* control;
        const char* tag;
        void (Form1::*handler)();
    } handlers[] = {
        {outputFolderFrame, "Frame1_MouseMove", &Form1::pointerOverSurface},
        {saveOptionsFrame, "Frame2_MouseMove", &Form1::pointerOverSurface},
        {ruleOptionsFrame, "Frame3_MouseMove", &Form1::pointerOverSurface},
        {outputFolderBox, "Text1_MouseMove", &Form1::pointerOverSurface},
        {addFilesButton, "PushButton1_MouseMove", &Form1::pointerOverButton},
        {startButton, "PushButton2_MouseMove", &Form1::pointerOverButton},
        {addFolderButton, "PushButton3_MouseMove", &Form1::pointerOverButton},
        {browseFolderButton, "PushButton4_MouseMove", &Form1::pointerOverButton},
        {helpButton, "PushButton5_MouseMove", &Form1::pointerOverButton},
        {clearListButton, "PushButton8_MouseMove", &Form1::pointerOverButton},
        {samplesButton, "PushButton9_MouseMove", &Form1::pointerOverButton},
        {scroller_ ? scroller_->widget() : nullptr, "Form_MouseMove", &Form1::pointerOverSurface},
    };
    for (const auto& entry : handlers) {
        if (entry.control == watched) {
            RunHandler(prompts_, FormTag(QString::fromLatin1(entry.tag)),
                       [this, &entry] { (this->*entry.handler)(); });
            break;
        }
    }
    // A plain move belongs to the control under the mouse alone: it is not passed on to
    // the frame or window beneath, whose handlers would set their own pointer.
    if (static_cast<QMouseEvent*>(event)->buttons() != Qt::NoButton)
        return false;
    watched->event(event); // the control still sees its own move
    event->accept();
    return true;
}

void Form1::ApplySkin() {
    if (!QFileInfo(ProgramFile(platform_, QStringLiteral("x/o.cjs"))).isFile())
        return;
    // The skin takes the theme's button face, and with it the theme's text colour.
    const QPalette theme = QGuiApplication::palette();
    const QColor buttonFace = theme.color(QPalette::Button);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, buttonFace);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        windowPalette.setColor(group, QPalette::WindowText,
                               theme.color(group, QPalette::ButtonText));
    setPalette(windowPalette);
    const auto skinned = findChildren<QWidget*>();
    for (QWidget* control : skinned) {
        if (!qobject_cast<QRadioButton*>(control) && !qobject_cast<QCheckBox*>(control) &&
            !qobject_cast<QGroupBox*>(control) && !qobject_cast<QLabel*>(control))
            continue;
        QPalette controlPalette = control->palette();
        // Option buttons fill with their button colour: it is the face too.
        controlPalette.setColor(QPalette::Window, buttonFace);
        controlPalette.setColor(QPalette::Button, buttonFace);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            controlPalette.setColor(group, QPalette::WindowText,
                                    theme.color(group, QPalette::ButtonText));
            controlPalette.setColor(group, QPalette::ButtonText,
                                    theme.color(group, QPalette::ButtonText));
        }
        control->setPalette(controlPalette);
        control->setAutoFillBackground(true);
    }
}

} // namespace parvello
