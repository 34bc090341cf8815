#include "cli/stderrprompts.h"

#include "base/printablename.h"
#include "cli/scratchfolder.h"

#include <algorithm>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace parvello {

StderrPrompts::StderrPrompts() : terminal_(isatty(2) != 0) {}

QString StderrPrompts::errorLine(const QString& boxText) {
    // Description CR LF "in <tag> at line <n>" CR CR request: the request is left out.
    QString line = boxText.section(QStringLiteral("\r\r"), 0, 0);
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

void StderrPrompts::write(const QByteArray& bytes) {
    if (RunIsEnding())
        return;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void StderrPrompts::printLine(const QString& text) {
    const std::lock_guard lock(mutex_);
    QByteArray out;
    if (terminal_ && !progress_.isEmpty())
        out += "\r\x1b[K";
    out += "parvello-cli: " + PrintableLine(text).toLocal8Bit() + '\n';
    if (terminal_ && !progress_.isEmpty())
        out += progress_.toLocal8Bit();
    write(out);
}

void StderrPrompts::showProgress(const QString& text) {
    if (!terminal_)
        return;
    const std::lock_guard lock(mutex_);
    progress_ = PrintableLine(text);
    write("\r\x1b[K" + progress_.toLocal8Bit());
}

void StderrPrompts::message(const QString& text) {
    printLine(text);
}

bool StderrPrompts::askYesNo(const QString& text) {
    printLine(text + QStringLiteral(" (answered No)"));
    return false;
}

void StderrPrompts::applicationError(const QString& text) {
    printLine(QStringLiteral("error: ") + errorLine(text));
}

QString StderrPrompts::inputBox(const QString&, const QString&, const QString&) {
    return {};
}
QString StderrPrompts::openFiles(const QString&, const QString&) {
    return {};
}
QString StderrPrompts::browseForFolder(const QString&, const QString&) {
    return {};
}
void StderrPrompts::shellOpen(const QString&) {}

} // namespace parvello
