// The window's controls: their creation and place (in twips, as the layout table gives
// them), their names, fonts and screen-reader names, and the order Tab takes through them.
#include "app/form1.h"

#include "app/runtexts.h"
#include "filelist/filelistmodel.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include <limits>

namespace parvello {

namespace {

const QString ListToolTip = QStringLiteral(
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
    "window to reveal full names.");

} // namespace

QFont WindowFont(qreal points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

namespace {

template <class W> W* place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
    return widget;
}

QPushButton* pushButton(QWidget* parent, const QString& name, const QString& caption, int left,
                        int top, int width, int height) {
    auto* button = place(new QPushButton(caption, parent), left, top, width, height);
    button->setObjectName(name);
    button->setFont(WindowFont(11.25));
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

void Form1::createControls() {
    createListControls();
    createRuleOptions();
    createSaveOptions();
    startButton = pushButton(this, QStringLiteral("startButton"), QStringLiteral("Start Removing"),
                             120, 8730, 7800, 405);
    progressBar = place(new QProgressBar(this), 120, 9250, 7800, 405);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(true);
    progressBar->setAlignment(Qt::AlignCenter);
    progressBar->setFormat(IdleProgressText);

    // What a screen reader says for the controls whose captions do not say what they are
    // for (the boxes would otherwise take their frame's title, the browse button its dots).
    fileList->setAccessibleName(QStringLiteral("Files to process"));
    outputFolderBox->setAccessibleName(QStringLiteral("Output folder"));
    browseFolderButton->setAccessibleName(QStringLiteral("Choose output folder"));
    doubleReplacementBox->setAccessibleName(QStringLiteral("Replacement for double quotes"));
    singleReplacementBox->setAccessibleName(QStringLiteral("Replacement for single quotes"));
    progressBar->setAccessibleName(QStringLiteral("Progress"));
}

// "Help", the list of files and the four buttons that fill it.
void Form1::createListControls() {
    helpButton =
        pushButton(this, QStringLiteral("helpButton"), QStringLiteral("Help"), 120, 120, 7800, 405);

    listedFiles = new FileListModel(this);
    fileList = place(new QTreeView(this), 120, 630, 7800, 2530);
    fileList->setObjectName(QStringLiteral("fileList"));
    fileList->setModel(listedFiles);
    fileList->setRootIsDecorated(false);
    fileList->setItemsExpandable(false);
    fileList->setUniformRowHeights(true);
    fileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    fileList->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    fileList->header()->setStretchLastSection(false);
    fileList->header()->setSectionsMovable(false);
    fileList->setToolTip(ListToolTip);
    fileList->setFont(WindowFont(9));

    addFilesButton = pushButton(this, QStringLiteral("addFilesButton"),
                                QStringLiteral("Add File(s)"), 120, 3250, 3840, 405);
    addFolderButton =
        pushButton(this, QStringLiteral("addFolderButton"),
                   QStringLiteral("Add All File(s) In Folder"), 4080, 3250, 3840, 405);
    clearListButton = pushButton(this, QStringLiteral("clearListButton"),
                                 QStringLiteral("Clear List"), 120, 3760, 3840, 405);
    samplesButton = pushButton(this, QStringLiteral("samplesButton"),
                               QStringLiteral("Load Sample/Example Files"), 4080, 3760, 3840, 405);
}

// "Remove Options": the six rules and the two replacement boxes.
void Form1::createRuleOptions() {
    ruleOptionsFrame = frame(this, QStringLiteral("ruleOptionsFrame"),
                             QStringLiteral("Remove Options"), 120, 4210, 7800, 2505);
    removeDoubleOption =
        optionButton(ruleOptionsFrame, QStringLiteral("Option1"),
                     QStringLiteral("Remove all double quotes"), 240, 330, 3600, 255);
    removeSingleOption =
        optionButton(ruleOptionsFrame, QStringLiteral("Option2"),
                     QStringLiteral("Remove all single quotes"), 240, 675, 4695, 255);
    doubleToSingleOption = optionButton(ruleOptionsFrame, QStringLiteral("Option3"),
                                        QStringLiteral("Replace double quotes with single quotes"),
                                        240, 1020, 4695, 255);
    singleToDoubleOption = optionButton(ruleOptionsFrame, QStringLiteral("Option4"),
                                        QStringLiteral("Replace single quotes with double quotes"),
                                        240, 1350, 4695, 255);
    doubleToTextOption =
        optionButton(ruleOptionsFrame, QStringLiteral("Option5"),
                     QStringLiteral("Replace double quotes with this"), 240, 1695, 3855, 255);
    doubleReplacementBox = textBox(ruleOptionsFrame, QStringLiteral("Text2"),
                                   QStringLiteral("Text2"), 4200, 1650, 1215, 345);
    singleToTextOption =
        optionButton(ruleOptionsFrame, QStringLiteral("Option6"),
                     QStringLiteral("Replace single quotes with this"), 240, 2040, 3615, 255);
    singleReplacementBox = textBox(ruleOptionsFrame, QStringLiteral("Text3"),
                                   QStringLiteral("Text3"), 4200, 2010, 1215, 345);
    removeDoubleOption->setChecked(true);
}

// "Save Option": into one folder (its box and browse button) or beside each original.
void Form1::createSaveOptions() {
    saveOptionsFrame = frame(this, QStringLiteral("saveOptionsFrame"),
                             QStringLiteral("Save Option"), 120, 6760, 7800, 1845);
    intoFolderOption =
        optionButton(saveOptionsFrame, QStringLiteral("Option8"),
                     QStringLiteral("Save results to this folder:"), 240, 300, 3615, 285);
    outputFolderFrame = frame(saveOptionsFrame, QStringLiteral("outputFolderFrame"), QString(), 480,
                              540, 7080, 810);
    outputFolderBox =
        textBox(outputFolderFrame, QStringLiteral("Text1"), QString(), 240, 300, 5775, 345);
    browseFolderButton = pushButton(outputFolderFrame, QStringLiteral("browseFolderButton"),
                                    QStringLiteral("..."), 6240, 300, 600, 345);
    inPlaceOption = optionButton(saveOptionsFrame, QStringLiteral("Option7"),
                                 QStringLiteral("Save results in folder of original file"), 240,
                                 1440, 3615, 285);
    intoFolderOption->setChecked(true);
}

void Form1::keepTabOnSelectedOptions() {
    // Tab enters each group of options at its selected option (its first when none is);
    // the arrow keys move within the group. So Tab never rests on an option that a Space
    // would select by accident.
    const QList<QList<QRadioButton*>> groups{ruleOptions(), {inPlaceOption, intoFolderOption}};
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
    const QList<QWidget*> order{fileList,
                                addFilesButton,
                                addFolderButton,
                                startButton,
                                clearListButton,
                                samplesButton,
                                removeDoubleOption,
                                removeSingleOption,
                                doubleToSingleOption,
                                singleToDoubleOption,
                                doubleReplacementBox,
                                singleReplacementBox,
                                helpButton,
                                doubleToTextOption,
                                singleToTextOption,
                                inPlaceOption,
                                intoFolderOption,
                                outputFolderBox,
                                browseFolderButton};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    progressBar->setFocusPolicy(Qt::NoFocus);
}

} // namespace parvello
