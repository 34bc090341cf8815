#include "app/form1.h"

#include "app/cursorfile.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/startup.h"
#include "filelist/filelistmodel.h"
#include "quotes/runtexts.h"

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

namespace {

const QString ListToolTip = QStringLiteral(
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
    "window to reveal full names.");

QFont arial(qreal points, bool bold = true) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

template <class W> W* place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
    return widget;
}

QPushButton* pushButton(QWidget* parent, const QString& name, const QString& caption, int left,
                        int top, int width, int height) {
    auto* button = place(new QPushButton(caption, parent), left, top, width, height);
    button->setObjectName(name);
    button->setFont(arial(11.25));
    return button; // white, with dark text, from the window's palette
}

QRadioButton* optionButton(QWidget* parent, const QString& name, const QString& caption, int left,
                           int top, int width, int height) {
    auto* option = place(new QRadioButton(caption, parent), left, top, width, height);
    option->setObjectName(name);
    return option;
}

QGroupBox* frame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width, int height) {
    auto* box = place(new QGroupBox(caption, parent), left, top, width, height);
    box->setObjectName(name);
    return box;
}

QLineEdit* textBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                   int width, int height) {
    auto* box = place(new QLineEdit(text, parent), left, top, width, height);
    box->setObjectName(name);
    // Paths and replacement texts may be long; nothing is ever cut off.
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

} // namespace

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
    setFont(arial(9));
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

void Form1::createControls() {
    PushButton5 = pushButton(this, QStringLiteral("PushButton5"), QStringLiteral("Help"), 120, 120,
                             7800, 405);

    ListItems = new FileListModel(this);
    ListView1 = place(new QTreeView(this), 120, 630, 7800, 2530);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(ListItems);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ListView1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->setToolTip(ListToolTip);
    ListView1->setFont(arial(9));

    PushButton1 = pushButton(this, QStringLiteral("PushButton1"), QStringLiteral("Add File(s)"),
                             120, 3250, 3840, 405);
    PushButton3 = pushButton(this, QStringLiteral("PushButton3"),
                             QStringLiteral("Add All File(s) In Folder"), 4080, 3250, 3840, 405);
    PushButton8 = pushButton(this, QStringLiteral("PushButton8"), QStringLiteral("Clear List"), 120,
                             3760, 3840, 405);
    PushButton9 = pushButton(this, QStringLiteral("PushButton9"),
                             QStringLiteral("Load Sample/Example Files"), 4080, 3760, 3840, 405);

    Frame3 = frame(this, QStringLiteral("Frame3"), QStringLiteral("Remove Options"), 120, 4210,
                   7800, 2505);
    Option1 = optionButton(Frame3, QStringLiteral("Option1"),
                           QStringLiteral("Remove all double quotes"), 240, 330, 3600, 255);
    Option2 = optionButton(Frame3, QStringLiteral("Option2"),
                           QStringLiteral("Remove all single quotes"), 240, 675, 4695, 255);
    Option3 = optionButton(Frame3, QStringLiteral("Option3"),
                           QStringLiteral("Replace double quotes with single quotes"), 240, 1020,
                           4695, 255);
    Option4 = optionButton(Frame3, QStringLiteral("Option4"),
                           QStringLiteral("Replace single quotes with double quotes"), 240, 1350,
                           4695, 255);
    Option5 = optionButton(Frame3, QStringLiteral("Option5"),
                           QStringLiteral("Replace double quotes with this"), 240, 1695, 3855, 255);
    Text2 =
        textBox(Frame3, QStringLiteral("Text2"), QStringLiteral("Text2"), 4200, 1650, 1215, 345);
    Option6 = optionButton(Frame3, QStringLiteral("Option6"),
                           QStringLiteral("Replace single quotes with this"), 240, 2040, 3615, 255);
    Text3 =
        textBox(Frame3, QStringLiteral("Text3"), QStringLiteral("Text3"), 4200, 2010, 1215, 345);
    Option1->setChecked(true);

    Frame2 =
        frame(this, QStringLiteral("Frame2"), QStringLiteral("Save Option"), 120, 6760, 7800, 1845);
    Option8 = optionButton(Frame2, QStringLiteral("Option8"),
                           QStringLiteral("Save results to this folder:"), 240, 300, 3615, 285);
    Frame1 = frame(Frame2, QStringLiteral("Frame1"), QString(), 480, 540, 7080, 810);
    Text1 = textBox(Frame1, QStringLiteral("Text1"), QString(), 240, 300, 5775, 345);
    PushButton4 = pushButton(Frame1, QStringLiteral("PushButton4"), QStringLiteral("..."), 6240,
                             300, 600, 345);
    Option7 = optionButton(Frame2, QStringLiteral("Option7"),
                           QStringLiteral("Save results in folder of original file"), 240, 1440,
                           3615, 285);
    Option8->setChecked(true);

    PushButton2 = pushButton(this, QStringLiteral("PushButton2"), QStringLiteral("Start Removing"),
                             120, 8730, 7800, 405);
    ProgressBar1 = place(new QProgressBar(this), 120, 9250, 7800, 405);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->setFormat(IdleProgressText);

    // What a screen reader says for the controls whose captions do not say what they are
    // for (the boxes would otherwise take their frame's title, the browse button its dots).
    ListView1->setAccessibleName(QStringLiteral("Files to process"));
    Text1->setAccessibleName(QStringLiteral("Output folder"));
    PushButton4->setAccessibleName(QStringLiteral("Choose output folder"));
    Text2->setAccessibleName(QStringLiteral("Replacement for double quotes"));
    Text3->setAccessibleName(QStringLiteral("Replacement for single quotes"));
    ProgressBar1->setAccessibleName(QStringLiteral("Progress"));
}

void Form1::keepTabOnSelectedOptions() {
    // Tab enters each group of options at its selected option (its first when none is);
    // the arrow keys move within the group. So Tab never rests on an option that a Space
    // would select by accident.
    const QList<QList<QRadioButton*>> groups{{Option1, Option2, Option3, Option4, Option5, Option6},
                                             {Option7, Option8}};
    for (const QList<QRadioButton*>& group : groups) {
        QRadioButton* entry = group.first();
        for (QRadioButton* option : group) {
            if (option->isChecked())
                entry = option;
        }
        for (QRadioButton* option : group)
            option->setFocusPolicy(option == entry ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void Form1::setTabOrderFromTable() {
    // Keyboard order of the controls that take focus, by their tab index.
    const QList<QWidget*> order{ListView1,   PushButton1, PushButton3, PushButton2, PushButton8,
                                PushButton9, Option1,     Option2,     Option3,     Option4,
                                Text2,       Text3,       PushButton5, Option5,     Option6,
                                Option7,     Option8,     Text1,       PushButton4};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
}

void Form1::connectHandlers() {
    for (QRadioButton* option :
         {Option1, Option2, Option3, Option4, Option5, Option6, Option7, Option8})
        connect(option, &QRadioButton::toggled, this, [this] { keepTabOnSelectedOptions(); });
    keepTabOnSelectedOptions();
    const auto onSelected = [this](QRadioButton* button, const QString& name,
                                   void (Form1::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, name, handler](bool selected) {
            if (selected)
                RunHandler(prompts_, FormTag(name), [this, handler] { (this->*handler)(); });
        });
    };
    onSelected(Option1, QStringLiteral("Option1_Click"), &Form1::Option1_Click);
    onSelected(Option2, QStringLiteral("Option2_Click"), &Form1::Option2_Click);
    onSelected(Option3, QStringLiteral("Option3_Click"), &Form1::Option3_Click);
    onSelected(Option4, QStringLiteral("Option4_Click"), &Form1::Option4_Click);
    onSelected(Option5, QStringLiteral("Option5_Click"), &Form1::Option5_Click);
    onSelected(Option6, QStringLiteral("Option6_Click"), &Form1::Option6_Click);
    onSelected(Option7, QStringLiteral("Option7_Click"), &Form1::Option7_Click);
    onSelected(Option8, QStringLiteral("Option8_Click"), &Form1::Option8_Click);

    const auto onChange = [this](QLineEdit* box, const QString& name, void (Form1::*handler)()) {
        connect(box, &QLineEdit::textChanged, this, [this, name, handler] {
            RunHandler(prompts_, FormTag(name), [this, handler] { (this->*handler)(); });
        });
    };
    onChange(Text1, QStringLiteral("Text1_Change"), &Form1::Text1_Change);
    onChange(Text2, QStringLiteral("Text2_Change"), &Form1::Text2_Change);
    onChange(Text3, QStringLiteral("Text3_Change"), &Form1::Text3_Change);

    // Click handlers carry their own trap; the boundary only guards what lies between steps.
    const auto onClick = [this](QPushButton* button, const QString& name,
                                void (Form1::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, name, handler] {
            RunHandler(prompts_, FormTag(name), [this, handler] { (this->*handler)(); });
        });
    };
    onClick(PushButton1, QStringLiteral("PushButton1_Click"), &Form1::PushButton1_Click);
    onClick(PushButton2, QStringLiteral("PushButton2_Click"), &Form1::PushButton2_Click);
    onClick(PushButton3, QStringLiteral("PushButton3_Click"), &Form1::PushButton3_Click);
    onClick(PushButton4, QStringLiteral("PushButton4_Click"), &Form1::PushButton4_Click);
    onClick(PushButton5, QStringLiteral("PushButton5_Click"), &Form1::PushButton5_Click);
    onClick(PushButton8, QStringLiteral("PushButton8_Click"), &Form1::PushButton8_Click);
    onClick(PushButton9, QStringLiteral("PushButton9_Click"), &Form1::PushButton9_Click);

    // Mouse-move notices: the handlers' own controls, and the controls without a pointer
    // handler, which keep moves over them from reaching the frame or window beneath.
    const QList<QWidget*> watched{Frame1,      Frame2,      Frame3,      Text1,       Text2,
                                  Text3,       PushButton1, PushButton2, PushButton3, PushButton4,
                                  PushButton5, PushButton8, PushButton9, Option1,     Option2,
                                  Option3,     Option4,     Option5,     Option6,     Option7,
                                  Option8,     ProgressBar1};
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);
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
    trap.step(LoadLines::ListColumn, [&] { ListItems->AddColumn(QStringLiteral("File(s)")); });
    trap.step(LoadLines::ColumnWidth, [&] {
        if (ListItems->columnCount() < 1)
            throw Failure(QStringLiteral("Index out of bounds"), 35600);
        ListView1->setColumnWidth(0, Twips(7000));
    });
    trap.step(LoadLines::OutputFolderBox, [&] {
        const QString desktop = GetDesktopFolder(platform_);
        setText(Text1, store_.get(QStringLiteral("Text1"), desktop));
    });
    trap.step(LoadLines::RestoreOption1,
              [&] { restoreOption(Option1, QStringLiteral("Option1"), 1); });
    trap.step(LoadLines::RestoreOption2,
              [&] { restoreOption(Option2, QStringLiteral("Option2"), 0); });
    trap.step(LoadLines::RestoreOption3,
              [&] { restoreOption(Option3, QStringLiteral("Option3"), 0); });
    trap.step(LoadLines::RestoreOption4,
              [&] { restoreOption(Option4, QStringLiteral("Option4"), 0); });
    trap.step(LoadLines::RestoreOption5,
              [&] { restoreOption(Option5, QStringLiteral("Option5"), 0); });
    trap.step(LoadLines::RestoreOption6,
              [&] { restoreOption(Option6, QStringLiteral("Option6"), 0); });
    trap.step(LoadLines::RestoreOption8,
              [&] { restoreOption(Option8, QStringLiteral("Option8"), 1); });
    trap.step(LoadLines::RestoreOption7,
              [&] { restoreOption(Option7, QStringLiteral("Option7"), 0); });
    if (trap.test(LoadLines::FolderFrameTest, [&] { return Option8->isChecked(); }))
        trap.step(LoadLines::FolderFrameOn, [&] { Frame1->setEnabled(true); });
    else
        trap.step(LoadLines::FolderFrameOff, [&] { Frame1->setEnabled(false); });
    trap.step(LoadLines::DoubleQuoteText,
              [&] { setText(Text2, store_.get(QStringLiteral("Text2"), QStringLiteral("'"))); });
    trap.step(LoadLines::SingleQuoteText,
              [&] { setText(Text3, store_.get(QStringLiteral("Text3"), QStringLiteral("\""))); });
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

void Form1::writeRuleOptions() {
    const QRadioButton* const options[] = {Option1, Option2, Option3, Option4, Option5, Option6};
    for (int i = 0; i < 6; ++i)
        store_.save(QStringLiteral("Option%1").arg(i + 1), BoolText(options[i]->isChecked()));
}

void Form1::writeSaveOptions() {
    store_.save(QStringLiteral("Option8"), BoolText(Option8->isChecked()));
    store_.save(QStringLiteral("Option7"), BoolText(Option7->isChecked()));
    Frame1->setEnabled(Option8->isChecked());
}

void Form1::Option1_Click() {
    writeRuleOptions();
}
void Form1::Option2_Click() {
    writeRuleOptions();
}
void Form1::Option3_Click() {
    writeRuleOptions();
}
void Form1::Option4_Click() {
    writeRuleOptions();
}
void Form1::Option5_Click() {
    writeRuleOptions();
}
void Form1::Option6_Click() {
    writeRuleOptions();
}
void Form1::Option7_Click() {
    writeSaveOptions();
}
void Form1::Option8_Click() {
    writeSaveOptions();
}
void Form1::Text1_Change() {
    store_.save(QStringLiteral("Text1"), Text1->text());
}
void Form1::Text2_Change() {
    store_.save(QStringLiteral("Text2"), Text2->text());
}
void Form1::Text3_Change() {
    store_.save(QStringLiteral("Text3"), Text3->text());
}

void Form1::Form_MouseMove() {
    hoverPointer(PointerDefault);
}
void Form1::Frame1_MouseMove() {
    hoverPointer(PointerDefault);
}
void Form1::Frame2_MouseMove() {
    hoverPointer(PointerDefault);
}
void Form1::Frame3_MouseMove() {
    hoverPointer(PointerDefault);
}
void Form1::Text1_MouseMove() {
    hoverPointer(PointerDefault);
}
void Form1::PushButton1_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton2_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton3_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton4_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton5_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton8_MouseMove() {
    hoverPointer(PointerCustom);
}
void Form1::PushButton9_MouseMove() {
    hoverPointer(PointerCustom);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    RunHandler(prompts_, FormTag(QStringLiteral("Form_MouseMove")), [this] { Form_MouseMove(); });
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 || watched == ListView1->viewport())
        return fileListEvent(watched, event);
    if (event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    const struct {
        QObject* control;
        const char* name;
        void (Form1::*handler)();
    } handlers[] = {
        {Frame1, "Frame1_MouseMove", &Form1::Frame1_MouseMove},
        {Frame2, "Frame2_MouseMove", &Form1::Frame2_MouseMove},
        {Frame3, "Frame3_MouseMove", &Form1::Frame3_MouseMove},
        {Text1, "Text1_MouseMove", &Form1::Text1_MouseMove},
        {PushButton1, "PushButton1_MouseMove", &Form1::PushButton1_MouseMove},
        {PushButton2, "PushButton2_MouseMove", &Form1::PushButton2_MouseMove},
        {PushButton3, "PushButton3_MouseMove", &Form1::PushButton3_MouseMove},
        {PushButton4, "PushButton4_MouseMove", &Form1::PushButton4_MouseMove},
        {PushButton5, "PushButton5_MouseMove", &Form1::PushButton5_MouseMove},
        {PushButton8, "PushButton8_MouseMove", &Form1::PushButton8_MouseMove},
        {PushButton9, "PushButton9_MouseMove", &Form1::PushButton9_MouseMove},
        {scroller_ ? scroller_->widget() : nullptr, "Form_MouseMove", &Form1::Form_MouseMove},
    };
    for (const auto& entry : handlers) {
        if (entry.control == watched) {
            RunHandler(prompts_, FormTag(QString::fromLatin1(entry.name)),
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
