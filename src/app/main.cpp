// Parvello: removes or replaces quotation marks in many text files at once.
#include "app/form1.h"
#include "app/systemplatform.h"
#include "app/widgetprompts.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "base/settingsstore.h"
#include "textio/codepage.h"
#include "textio/fileerror.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parvello"));
    QApplication::setOrganizationName(QStringLiteral("Kestrilon"));
    QApplication::setDesktopFileName(QStringLiteral("example.kestrilon.parvello"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/parvello/icons/parvello-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    parvello::SystemPlatform platform;
    parvello::WidgetPrompts prompts;
    parvello::UserSettingsStore store = parvello::UserSettingsStore::userStore();
    // Files without a mark are read and written in the code page: with a code page that
    // cannot be used the program does not start, rather than fail on every file of a run.
    try {
        parvello::CodePage::ansi();
    } catch (const parvello::FileError& failure) {
        prompts.applicationError(
            parvello::ToQString(failure.description())); // it names the variable
        return 2;
    }
    parvello::Form1 form(prompts, platform, store);
    prompts.setOwner(&form);
    form.Form_Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        form.FitInto(screen->availableGeometry());
    form.show();
    form.OpenStartArguments(QApplication::arguments().mid(1));
    return QApplication::exec();
}
