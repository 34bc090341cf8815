// The main window driven offscreen: start-up from the settings store, the persisting
// handlers, the failure boxes of start-up, hover pointers, layout and skin.
#include "app/form1.h"
#include "app/systemplatform.h"
#include "base/addresses.h"
#include "base/failure.h"
#include "base/prompts.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"
#include "common/recordingstore.h"
#include "common/testwindow.h"
#include "filelist/filelistmodel.h"

#include <QAccessible>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

using namespace parvello;
using namespace parvello::testing;

namespace {

using Writes = QList<QPair<QString, QString>>;

using Window = TestWindow;

QString loadError(int line) {
    return QStringLiteral("\r\nin Qwellan2021/08/31.Form1.Form_Load at line ") +
           QString::number(line) +
           QStringLiteral("\r\rPlease email screenshot of this message to ") +
           QString::fromUtf8(addresses::SupportEmail);
}

void moveMouseOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// The text's contrast as painted: that of the pixel of `area` standing out most from the
// commonest one, the background.
double paintedContrast(QWidget* control, const QRect& area) {
    const QImage image = control->grab(area).toImage();
    const auto light = [](QRgb c) {
        return 0.2126 * std::pow(qRed(c) / 255.0, 2.2) + 0.7152 * std::pow(qGreen(c) / 255.0, 2.2) +
               0.0722 * std::pow(qBlue(c) / 255.0, 2.2) + 0.05;
    };
    QHash<QRgb, int> counts;
    for (int i = 0; i < image.width() * image.height(); ++i)
        ++counts[image.pixel(i % image.width(), i / image.width())];
    const double back =
        light(std::max_element(counts.keyValueBegin(), counts.keyValueEnd(), [](auto a, auto b) {
                  return a.second < b.second;
              })->first);
    double best = 1;
    for (const QRgb c : counts.keys())
        best = std::max({best, light(c) / back, back / light(c)});
    return best;
}

Writes sixOptionWrites(int selected) {
    Writes writes;
    for (int i = 1; i <= 6; ++i)
        writes.append({QStringLiteral("Option%1").arg(i), i == selected ? "True" : "False"});
    return writes;
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void firstStartOnEmptyStore();
    void desktopFolderGetsOneSeparator();
    void storedValues_data();
    void storedValues();
    void unreadableOptionValueReportsItsLine();
    void failureAtStep132ThenLoadingGoesOn();
    void failedTestAtStep150RunsStep152();
    void refusedSettingsWritesDuringLoad();
    void optionClicksWriteTheirGroup();
    void typingWritesEveryKeystroke();
    void refusedWriteFromAClick();
    void hoverPointers();
    void handPointerFile();
    void unloadableHandPointerFailsStep106();
    void homePageOpensOnSeven();
    void skinFollowsSkinFile();
    void layout();
    void closingEndsTheProgram();
    void readableInEveryTheme_data();
    void readableInEveryTheme();
    void namedForScreenReaders_data();
    void namedForScreenReaders();
    void fitsTheScreen_data();
    void fitsTheScreen();
    void desktopFolderOfTheSystem();
};

void TestForm1::cleanup() {
    Trap::setFaultInjector({});
}

void TestForm1::firstStartOnEmptyStore() {
    Window w;
    Form1& form = w.load();
    QCOMPARE(w.prompts.calls.size(), 0);
    QCOMPARE(form.windowTitle(), QStringLiteral("Parvello"));
    QCOMPARE(ApplicationTitle(), QStringLiteral("Parvello"));
    QVERIFY(form.removeDoubleOption->isChecked());
    for (QRadioButton* other : w.ruleOptions().mid(1))
        QVERIFY(!other->isChecked());
    QVERIFY(form.intoFolderOption->isChecked());
    QVERIFY(!form.inPlaceOption->isChecked());
    QVERIFY(form.outputFolderFrame->isEnabled());
    QCOMPARE(form.outputFolderBox->text(), QStringLiteral("/home/tester/Desktop/"));
    QCOMPARE(form.doubleReplacementBox->text(), QStringLiteral("'"));
    QCOMPARE(form.singleReplacementBox->text(), QStringLiteral("\""));
    QCOMPARE(form.listedFiles->Count(), 0);
    QCOMPARE(form.listedFiles->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("File(s)"));
    QCOMPARE(form.fileList->columnWidth(0), 467);
    // Only the record of the example files (empty here: the program folder has none, so
    // it is tried twice) and the three texts are written on a first start.
    const Writes expected{{"Snapshot", ""},
                          {"Snapshot", ""},
                          {"Text1", "/home/tester/Desktop/"},
                          {"Text2", "'"},
                          {"Text3", "\""}};
    QCOMPARE(w.store->writes, expected);
    QCOMPARE(UserSettingsStore::iniFolder(w.dir.filePath("config")).get("Text3", "x"),
             QStringLiteral("\""));
}

void TestForm1::desktopFolderGetsOneSeparator() {
    for (const QString& desktop :
         {QStringLiteral("/home/a/Desktop"), QStringLiteral("/home/a/Desktop/"),
          QStringLiteral("/home/a/Desktop//")}) {
        Window w;
        w.platform.desktop = desktop;
        QCOMPARE(w.load().outputFolderBox->text(), QStringLiteral("/home/a/Desktop/"));
    }
    Window root;
    root.platform.desktop = QStringLiteral("/");
    QCOMPARE(root.load().outputFolderBox->text(), QStringLiteral("/"));
}

void TestForm1::storedValues_data() {
    QTest::addColumn<QStringList>("stored");   // key=value pairs
    QTest::addColumn<QString>("ruleSelected"); // "Option3", or "" for none
    QTest::addColumn<bool>("option8");
    QTest::addColumn<bool>("option7");
    QTest::addColumn<QString>("text1");

    const QString desktop = QStringLiteral("/home/tester/Desktop/");
    QTest::newRow("save beside the original")
        << QStringList{"Option8=False", "Option7=True"} << "Option1" << false << true << desktop;
    QTest::newRow("empty folder box stays empty")
        << QStringList{"Text1="} << "Option1" << true << false << "";
    QTest::newRow("typed folder") << QStringList{"Text1=/srv/out"} << "Option1" << true << false
                                  << "/srv/out";
    QTest::newRow("no rule") << QStringList{"Option1=False", "Option2=False", "Option3=False",
                                            "Option4=False", "Option5=False", "Option6=False"}
                             << "" << true << false << desktop;
    QTest::newRow("number selects")
        << QStringList{"Option1=0", "Option3=1"} << "Option3" << true << false << desktop;
    QTest::newRow("default 1 then stored rule")
        << QStringList{"Option5=True"} << "Option5" << true << false << desktop;
    QTest::newRow("last true wins")
        << QStringList{"Option1=True", "Option4=True"} << "Option4" << true << false << desktop;
    QTest::newRow("option7 set after option8")
        << QStringList{"Option8=True", "Option7=True"} << "Option1" << false << true << desktop;
    QTest::newRow("no save option")
        << QStringList{"Option8=False", "Option7=False"} << "Option1" << false << false << desktop;
}

void TestForm1::storedValues() {
    QFETCH(QStringList, stored);
    QFETCH(QString, ruleSelected);
    QFETCH(bool, option8);
    QFETCH(bool, option7);
    QFETCH(QString, text1);
    Window w;
    for (const QString& pair : stored)
        w.preset(pair.section('=', 0, 0), pair.section('=', 1));
    Form1& form = w.load();
    QCOMPARE(w.prompts.calls.size(), 0);
    for (QRadioButton* option : w.ruleOptions())
        QCOMPARE(option->isChecked(), option->objectName() == ruleSelected);
    QCOMPARE(form.intoFolderOption->isChecked(), option8);
    QCOMPARE(form.inPlaceOption->isChecked(), option7);
    // The folder box and its button are usable exactly when intoFolderOption is selected.
    QCOMPARE(form.outputFolderFrame->isEnabled(), option8);
    QCOMPARE(form.outputFolderBox->isEnabled(), option8);
    QCOMPARE(form.browseFolderButton->isEnabled(), option8);
    QCOMPARE(form.outputFolderBox->text(), text1);
}

void TestForm1::unreadableOptionValueReportsItsLine() {
    Window w;
    w.preset("Option2", "maybe");
    w.preset("Option7", "sometimes");
    Form1& form = w.load();
    const QStringList errors = w.prompts.errorTexts();
    QCOMPARE(errors.size(), 2);
    QVERIFY(errors[0].endsWith(loadError(136)));
    QVERIFY(errors[1].endsWith(loadError(148)));
    // The buttons keep the state they had.
    QVERIFY(form.removeDoubleOption->isChecked());
    QVERIFY(!form.removeSingleOption->isChecked());
    QVERIFY(form.intoFolderOption->isChecked());
    QVERIFY(!form.inPlaceOption->isChecked());
}

void TestForm1::failureAtStep132ThenLoadingGoesOn() {
    Window w;
    w.platform.desktop.clear(); // the system knows no desktop folder
    w.preset("Text1", "/stored/folder/");
    w.preset("Option1", "False");
    w.preset("Option2", "True");
    Form1& form = w.load();
    QCOMPARE(w.prompts.calls.size(), 1);
    const PromptCall box = w.prompts.calls[0];
    QCOMPARE(box.kind, QStringLiteral("error"));
    QCOMPARE(box.title, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, QStringLiteral("warning"));
    QCOMPARE(box.text,
             QStringLiteral("Invalid procedure call or argument: the desktop folder is unknown") +
                 loadError(132));
    // The store is not read: the box stays empty and nothing is written for it.
    QCOMPARE(form.outputFolderBox->text(), QString());
    for (const auto& write : w.store->writes)
        QVERIFY(write.first != QStringLiteral("Text1"));
    // Steps 134 onwards ran.
    QVERIFY(!form.removeDoubleOption->isChecked());
    QVERIFY(form.removeSingleOption->isChecked());
    QCOMPARE(form.singleReplacementBox->text(), QStringLiteral("\""));
}

void TestForm1::failedTestAtStep150RunsStep152() {
    Window w;
    w.preset("Option8", "False");
    w.preset("Option7", "True");
    Trap::setFaultInjector([](const QString& tag, int line) {
        if (tag == FormTag(QStringLiteral("Form_Load")) && line == 150)
            throw Failure(QStringLiteral("Object required"));
    });
    Form1& form = w.load();
    QCOMPARE(w.prompts.errorTexts(),
             QStringList{QStringLiteral("Object required") + loadError(150)});
    QVERIFY(form.inPlaceOption->isChecked());
    QVERIFY(form.outputFolderFrame->isEnabled()); // the guarded step ran, not the alternative
}

void TestForm1::refusedSettingsWritesDuringLoad() {
    Window w;
    w.preset("Option3", "True");
    w.store->refuseWrites = true;
    Form1& form = w.load();
    // Each refused write is reported by start-up with the line that set the control.
    const QStringList errors = w.prompts.errorTexts();
    QCOMPARE(errors.size(), 6);
    QVERIFY(errors[0].endsWith(loadError(108)));
    QVERIFY(errors[1].endsWith(loadError(126)));
    QVERIFY(errors[2].endsWith(loadError(132)));
    QVERIFY(errors[3].endsWith(loadError(138)));
    QVERIFY(errors[4].endsWith(loadError(156)));
    QVERIFY(errors[5].endsWith(loadError(158)));
    QVERIFY(form.doubleToSingleOption->isChecked());
    QCOMPARE(form.singleReplacementBox->text(), QStringLiteral("\""));
}

void TestForm1::optionClicksWriteTheirGroup() {
    Window w;
    Form1& form = w.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QList<QRadioButton*> rules = w.ruleOptions();
    for (int i : {3, 6, 1}) {
        w.store->writes.clear();
        QTest::mouseClick(rules[i - 1], Qt::LeftButton);
        QVERIFY(rules[i - 1]->isChecked());
        QCOMPARE(w.store->writes, sixOptionWrites(i));
    }

    w.store->writes.clear();
    const QString folder = form.outputFolderBox->text();
    QTest::mouseClick(form.inPlaceOption, Qt::LeftButton);
    QCOMPARE(w.store->writes, (Writes{{"Option8", "False"}, {"Option7", "True"}}));
    QVERIFY(!form.outputFolderFrame->isEnabled());
    QVERIFY(!form.browseFolderButton->isEnabled());
    QCOMPARE(form.outputFolderBox->text(), folder);

    w.store->writes.clear();
    QTest::mouseClick(form.intoFolderOption, Qt::LeftButton);
    QCOMPARE(w.store->writes, (Writes{{"Option8", "True"}, {"Option7", "False"}}));
    QVERIFY(form.outputFolderFrame->isEnabled());
    QVERIFY(form.outputFolderBox->isEnabled());
    QCOMPARE(w.prompts.calls.size(), 0);
}

void TestForm1::typingWritesEveryKeystroke() {
    Window w;
    Form1& form = w.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (QLineEdit* box :
         {form.doubleReplacementBox, form.singleReplacementBox, form.outputFolderBox}) {
        box->clear();
        w.store->writes.clear();
        QTest::keyClicks(box, QStringLiteral("abc"));
        const QString key = box->objectName();
        QCOMPARE(w.store->writes, (Writes{{key, "a"}, {key, "ab"}, {key, "abc"}}));
    }
    // A cleared box stays cleared at the next start.
    form.outputFolderBox->clear();
    Window again;
    again.store = std::make_unique<RecordingStore>(w.dir.filePath("config"));
    QCOMPARE(again.load().outputFolderBox->text(), QString());
    QCOMPARE(again.form->doubleReplacementBox->text(), QStringLiteral("abc"));
}

void TestForm1::refusedWriteFromAClick() {
    Window w;
    Form1& form = w.load();
    w.store->refuseWrites = true;
    form.singleToDoubleOption->click();
    QVERIFY(form.singleToDoubleOption->isChecked());
    QCOMPARE(w.prompts.errorTexts().size(), 1);
    QVERIFY(w.prompts.errorTexts()[0].startsWith(QStringLiteral(
        "Cannot write the settings\r\nin Qwellan2021/08/31.Form1.Option4_Click at line 0\r\r")));
}

void TestForm1::hoverPointers() {
    Window w;
    Form1& form = w.load();
    QVERIFY(!form.HasCustomPointerImage());
    const QList<QWidget*> buttons{form.addFilesButton,     form.startButton, form.addFolderButton,
                                  form.browseFolderButton, form.helpButton,  form.clearListButton,
                                  form.samplesButton};
    const QList<QWidget*> plain{&form,
                                form.outputFolderFrame,
                                form.saveOptionsFrame,
                                form.ruleOptionsFrame,
                                form.outputFolderBox,
                                form.fileList->viewport()};
    for (QWidget* button : buttons) {
        form.SetMousePointer(PointerDefault);
        moveMouseOver(button);
        QCOMPARE(form.MousePointer(), int(PointerCustom));
        // Without the hand pointer file the custom pointer is the arrow.
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    }
    for (QWidget* surface : plain) {
        form.SetMousePointer(PointerCustom);
        moveMouseOver(surface);
        QCOMPARE(form.MousePointer(), int(PointerDefault));
    }
    // Controls without a pointer handler change nothing.
    for (QWidget* quiet : QList<QWidget*>{form.doubleToSingleOption, form.doubleReplacementBox,
                                          form.singleReplacementBox, form.progressBar}) {
        form.SetMousePointer(PointerCustom);
        moveMouseOver(quiet);
        QCOMPARE(form.MousePointer(), int(PointerCustom));
    }
    // A busy hourglass is never replaced by hovering.
    form.SetMousePointer(PointerHourglass);
    for (QWidget* any : buttons + plain)
        moveMouseOver(any);
    QCOMPARE(form.MousePointer(), int(PointerHourglass));
    QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
}

void TestForm1::handPointerFile() {
    Window w;
    QFile shipped(QStringLiteral(PARVELLO_RESOURCES_DIR "/HAND-M.CUR"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    w.programFile("HAND-M.CUR", shipped.readAll());
    Form1& form = w.load();
    QCOMPARE(w.prompts.calls.size(), 0);
    QVERIFY(form.HasCustomPointerImage());
    moveMouseOver(form.startButton);
    QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(form.cursor().hotSpot(), QPoint(10, 0));
    moveMouseOver(form.ruleOptionsFrame);
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
}

void TestForm1::unloadableHandPointerFailsStep106() {
    Window w;
    w.programFile("HAND-M.CUR", "not a cursor");
    Form1& form = w.load();
    QCOMPARE(w.prompts.errorTexts().size(), 1);
    QVERIFY(w.prompts.errorTexts()[0].endsWith(loadError(106)));
    QVERIFY(!form.HasCustomPointerImage());
    QVERIFY(form.removeDoubleOption->isChecked()); // loading went on
}

void TestForm1::homePageOpensOnSeven() {
    const struct {
        double draw;
        bool opens;
    } cases[] = {{0.06, true},     {0.0699, true}, {0.07, false},
                 {0.05999, false}, {0.0, false},   {0.999, false}};
    for (const auto& c : cases) {
        Window w;
        w.platform.draw = c.draw;
        w.load();
        const auto shell = w.prompts.callsOf(QStringLiteral("shell"));
        QCOMPARE(shell.size(), c.opens ? 1 : 0);
        if (c.opens)
            QCOMPARE(shell[0].text, QString::fromUtf8(addresses::HomePage));
    }
}

void TestForm1::skinFollowsSkinFile() {
    Window plain;
    Form1& white = plain.load();
    QCOMPARE(white.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(white.addFilesButton->palette().color(QPalette::Button), QColor(Qt::white));

    Window skinned;
    skinned.programFile("x/o.cjs", "skin");
    Form1& form = skinned.load();
    QCOMPARE(skinned.prompts.calls.size(), 0);
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    QCOMPARE(form.palette().color(QPalette::Window), face);
    for (QWidget* control :
         QList<QWidget*>{form.removeDoubleOption, form.intoFolderOption, form.outputFolderFrame,
                         form.saveOptionsFrame, form.ruleOptionsFrame}) {
        QCOMPARE(control->palette().color(QPalette::Window), face);
        QVERIFY(control->autoFillBackground());
    }
    // Push buttons are not skinned.
    QCOMPARE(form.addFilesButton->palette().color(QPalette::Button), QColor(Qt::white));
}

void TestForm1::layout() {
    Window w;
    Form1& form = w.load();
    QCOMPARE(form.size(), QSize(536, 651));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    // Control, container, caption, geometry in twips.
    const struct {
        QWidget* control;
        QWidget* container;
        const char* caption;
        QRect twips;
    } table[] = {
        {form.helpButton, &form, "Help", {120, 120, 7800, 405}},
        {form.fileList, &form, nullptr, {120, 630, 7800, 2530}},
        {form.addFilesButton, &form, "Add File(s)", {120, 3250, 3840, 405}},
        {form.addFolderButton, &form, "Add All File(s) In Folder", {4080, 3250, 3840, 405}},
        {form.clearListButton, &form, "Clear List", {120, 3760, 3840, 405}},
        {form.samplesButton, &form, "Load Sample/Example Files", {4080, 3760, 3840, 405}},
        {form.ruleOptionsFrame, &form, "Remove Options", {120, 4210, 7800, 2505}},
        {form.removeDoubleOption,
         form.ruleOptionsFrame,
         "Remove all double quotes",
         {240, 330, 3600, 255}},
        {form.removeSingleOption,
         form.ruleOptionsFrame,
         "Remove all single quotes",
         {240, 675, 4695, 255}},
        {form.doubleToSingleOption,
         form.ruleOptionsFrame,
         "Replace double quotes with single quotes",
         {240, 1020, 4695, 255}},
        {form.singleToDoubleOption,
         form.ruleOptionsFrame,
         "Replace single quotes with double quotes",
         {240, 1350, 4695, 255}},
        {form.doubleToTextOption,
         form.ruleOptionsFrame,
         "Replace double quotes with this",
         {240, 1695, 3855, 255}},
        {form.doubleReplacementBox, form.ruleOptionsFrame, nullptr, {4200, 1650, 1215, 345}},
        {form.singleToTextOption,
         form.ruleOptionsFrame,
         "Replace single quotes with this",
         {240, 2040, 3615, 255}},
        {form.singleReplacementBox, form.ruleOptionsFrame, nullptr, {4200, 2010, 1215, 345}},
        {form.saveOptionsFrame, &form, "Save Option", {120, 6760, 7800, 1845}},
        {form.intoFolderOption,
         form.saveOptionsFrame,
         "Save results to this folder:",
         {240, 300, 3615, 285}},
        {form.outputFolderFrame, form.saveOptionsFrame, "", {480, 540, 7080, 810}},
        {form.outputFolderBox, form.outputFolderFrame, nullptr, {240, 300, 5775, 345}},
        {form.browseFolderButton, form.outputFolderFrame, "...", {6240, 300, 600, 345}},
        {form.inPlaceOption,
         form.saveOptionsFrame,
         "Save results in folder of original file",
         {240, 1440, 3615, 285}},
        {form.startButton, &form, "Start Removing", {120, 8730, 7800, 405}},
        {form.progressBar, &form, nullptr, {120, 9250, 7800, 405}},
    };
    for (const auto& row : table) {
        const QString name = row.control->objectName();
        QVERIFY2(row.control->parentWidget() == row.container, qPrintable(name));
        const QRect expected(Twips(row.twips.x()), Twips(row.twips.y()), Twips(row.twips.width()),
                             Twips(row.twips.height()));
        QVERIFY2(row.control->geometry() == expected, qPrintable(name));
        if (!row.caption)
            continue;
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(row.control))
            caption = button->text();
        else if (auto* box = qobject_cast<QGroupBox*>(row.control))
            caption = box->title();
        QCOMPARE(caption, QString::fromUtf8(row.caption));
    }
    QCOMPARE(form.progressBar->text(), QStringLiteral("Progress Bar"));
    QCOMPARE(form.progressBar->value(), 0);
    QCOMPARE(
        form.fileList->toolTip(),
        QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line to "
                       "right and out of window to reveal full names."));

    // Fonts: Arial bold, 11.25 pt on push buttons, 9 pt elsewhere.
    QCOMPARE(form.startButton->font().family(), QStringLiteral("Arial"));
    QCOMPARE(form.startButton->font().pointSizeF(), 11.25);
    QVERIFY(form.startButton->font().bold());
    for (QWidget* control : QList<QWidget*>{form.removeDoubleOption, form.saveOptionsFrame,
                                            form.outputFolderBox, form.fileList}) {
        QCOMPARE(control->font().pointSizeF(), 9.0);
        QVERIFY(control->font().bold());
    }

    // Keyboard order.
    const QList<QWidget*> order{form.fileList,
                                form.addFilesButton,
                                form.addFolderButton,
                                form.startButton,
                                form.clearListButton,
                                form.samplesButton,
                                form.removeDoubleOption,
                                form.removeSingleOption,
                                form.doubleToSingleOption,
                                form.singleToDoubleOption,
                                form.doubleReplacementBox,
                                form.singleReplacementBox,
                                form.helpButton,
                                form.doubleToTextOption,
                                form.singleToTextOption,
                                form.inPlaceOption,
                                form.intoFolderOption,
                                form.outputFolderBox,
                                form.browseFolderButton};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget* next = order[i - 1]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus && !order.contains(next))
            next = next->nextInFocusChain();
        QVERIFY2(next == order[i], qPrintable(order[i - 1]->objectName()));
    }

    // The list's column can be widened past the list's edge.
    QVERIFY(!form.fileList->header()->stretchLastSection());
}

void TestForm1::closingEndsTheProgram() {
    Window w;
    Form1& form = w.load();
    form.listedFiles->Add(QStringLiteral("/tmp/a.txt"));
    form.show();
    w.store->writes.clear();
    QVERIFY(form.close());
    QVERIFY(form.IsUnloading());
    QVERIFY(w.store->writes.isEmpty()); // nothing is saved at the end
}

void TestForm1::readableInEveryTheme_data() {
    QTest::addColumn<QPalette>("theme");
    QTest::addColumn<bool>("skin");
    const QColor light(0xee, 0xee, 0xee), grey(0x35, 0x35, 0x35);
    const QPalette dark(light, grey, grey.lighter(), grey.darker(), grey, light, Qt::white,
                        grey.darker(), grey.darker(130));
    QTest::newRow("light") << QPalette(QColor(0xef, 0xef, 0xef)) << false;
    QTest::newRow("dark") << dark << false;
    QTest::newRow("dark, skinned") << dark << true;
}

// Every caption, title, box, bar and list text, as painted under the theme.
void TestForm1::readableInEveryTheme() {
    QFETCH(QPalette, theme);
    QFETCH(bool, skin);
    struct Restore {
        QPalette palette = QApplication::palette();
        ~Restore() { QApplication::setPalette(palette); }
    } restore;
    QApplication::setPalette(theme);
    Window w;
    if (skin)
        w.programFile("x/o.cjs", "");
    Form1& form = w.load();
    form.listedFiles->Add(QStringLiteral("/home/tester/a.txt"));
    form.show();
    int checked = 0;
    for (QWidget* control : form.findChildren<QWidget*>()) {
        QRect area = control->rect().adjusted(4, 4, -4, -4); // inside any frame
        auto* group = qobject_cast<QGroupBox*>(control);
        if (group && !group->title().isEmpty())
            area = QRect(0, 0, group->width(), group->fontMetrics().height()); // the title
        else if (qobject_cast<QRadioButton*>(control))
            area.setLeft(control->height()); // the caption, right of the round mark
        else if (!control->isVisible() || group ||
                 !(qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                   qobject_cast<QProgressBar*>(control) || control == form.fileList->viewport() ||
                   control == form.fileList->header()))
            continue;
        ++checked;
        const double ratio = paintedContrast(control, area);
        QVERIFY2(ratio >= 4.5, qPrintable(control->objectName() + QString(": %1").arg(ratio)));
    }
    QCOMPARE(checked, 23);
}

void TestForm1::namedForScreenReaders_data() {
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("afterHelp"); // the controls Tab reaches from Help
    QTest::newRow("first start") << QStringList{} << QStringList{"Option8", "Text1"};
    QTest::newRow("replace double, beside the original")
        << QStringList{"Option1=False", "Option5=True", "Option8=False", "Option7=True"}
        << QStringList{"Option5", "Option7", "fileList"}; // the folder box is off
    QTest::newRow("replace single") << QStringList{"Option1=False", "Option6=True"}
                                    << QStringList{"Option6", "Option8", "Text1"};
}

// Each control's name for screen readers, the list's rows, and where Tab goes from Help.
void TestForm1::namedForScreenReaders() {
    QFETCH(QStringList, stored);
    QFETCH(QStringList, afterHelp);
    Window w;
    for (const QString& pair : stored)
        w.preset(pair.section('=', 0, 0), pair.section('=', 1));
    Form1& form = w.load();
    form.listedFiles->AddMany({"/home/tester/first.txt", "/home/tester/second.txt"});
    form.show();
    const auto nameOf = [](QObject* control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    QSet<QString> names{QString()};
    for (QWidget* control : form.findChildren<QWidget*>())
        if (control->focusPolicy() != Qt::NoFocus || control == form.progressBar)
            names.insert(nameOf(control));
    QCOMPARE(names.size(), 21); // one for each control that takes focus and the bar, and ""
    QCOMPARE((QStringList{nameOf(form.fileList), nameOf(form.outputFolderBox),
                          nameOf(form.browseFolderButton), nameOf(form.doubleReplacementBox),
                          nameOf(form.singleReplacementBox), nameOf(form.progressBar)}),
             (QStringList{"Files to process", "Output folder", "Choose output folder",
                          "Replacement for double quotes", "Replacement for single quotes",
                          "Progress"}));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(form.fileList);
    QCOMPARE(list->child(list->childCount() - 1)->text(QAccessible::Name),
             "/home/tester/second.txt");

    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.helpButton->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (qsizetype i = 0; i < afterHelp.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->objectName();
        if (auto* option = qobject_cast<QRadioButton*>(QApplication::focusWidget()))
            QVERIFY(option->isChecked()); // a Space here changes nothing
    }
    QCOMPARE(reached, afterHelp);
}

void TestForm1::fitsTheScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::newRow("1600x1200 at 100 %") << QRect(0, 0, 1600, 1160);
    QTest::newRow("1600x1200 at 200 %") << QRect(0, 0, 800, 580);
    QTest::newRow("a narrow, low screen") << QRect(100, 50, 400, 300);
}

void TestForm1::fitsTheScreen() {
    QFETCH(QRect, available);
    Window w;
    Form1& form = w.load();
    form.FitInto(available);
    auto* scroller = form.findChild<QScrollArea*>();
    if (available.width() > 1000) { // it fits: as ever
        QVERIFY(!scroller);
        QCOMPARE(form.geometry(), QRect(available.center() - QPoint(267, 325), QSize(536, 651)));
        return;
    }
    const int titleBar = form.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &form);
    QCOMPARE(form.pos(), available.topLeft());
    QVERIFY(form.width() <= available.width() && form.height() <= available.height() - titleBar);
    form.show();
    // The page scrolls over its whole height; the controls keep their places on it.
    QCOMPARE(scroller->verticalScrollBar()->maximum() + scroller->viewport()->height(), 651);
    QCOMPARE(form.progressBar->mapTo(scroller->widget(), QPoint()), QPoint(8, 617));
}

void TestForm1::desktopFolderOfTheSystem() {
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path())); // this test runs last
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    Window::writeFile(home.filePath("user-dirs.dirs"), "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    SystemPlatform system;
    QCOMPARE(system.desktopFolder(), home.path()); // no such folder: the home folder
    QVERIFY(QDir(home.path()).mkdir("Bureau"));
    QCOMPARE(system.desktopFolder(), home.filePath("Bureau"));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
