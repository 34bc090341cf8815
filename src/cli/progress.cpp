#include "cli/progress.h"

#include "base/printablename.h"
#include "cli/report.h"
#include "cli/stderrprompts.h"

#include <QLocale>

#include <utility>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace parvello::cli {

namespace {

// The terminal's width in columns (80 where it does not say), so the line never wraps.
int terminalColumns() {
#ifdef Q_OS_UNIX
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
#endif
    return 80;
}

QString bytesText(qint64 bytes) {
    return QLocale(QLocale::English).formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
}

} // namespace

QString GroupedNumber(qint64 n) {
    return QLocale(QLocale::English).toString(n);
}

RunProgress::RunProgress(StderrPrompts& prompts, qint64 totalBytes, bool shown)
    : prompts_(prompts), total_(std::max<qint64>(totalBytes, 1)), shown_(shown) {
    clock_.start();
}

void RunProgress::advance(qint64 bytes, const QString& path) {
    if (!shown_)
        return;
    done_ += bytes;
    if (clock_.elapsed() <= 1000)
        return;
    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || clock_.elapsed() - lastDrawn_ < 200)
        return;
    lastDrawn_ = clock_.elapsed();
    drawn_ = true;
    prompts_.showProgress(line(path));
}

QString RunProgress::line(const QString& path) const {
    const qint64 done = std::min(done_.load(), total_);
    QString head = QStringLiteral("[%1%] %2 of %3  ")
                       .arg(int(done * 100 / total_), 3)
                       .arg(bytesText(done), bytesText(total_));
    // The path keeps its end (the file's name) when the line is too long for the terminal.
    QString shown = PrintablePath(path);
    const qsizetype room = terminalColumns() - 1 - head.size();
    if (shown.size() > room)
        shown = QStringLiteral("...") + shown.right(std::max<qsizetype>(room - 3, 0));
    return head + shown;
}

void RunProgress::clear() {
    const std::lock_guard lock(mutex_);
    if (std::exchange(drawn_, false))
        prompts_.showProgress(QString());
}

QString SummaryLine(const Tally& tally, bool checking) {
    const auto files = [](qint64 n) {
        return GroupedNumber(n) + (n == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    };
    QStringList parts;
    parts << (checking ? files(tally.wouldChange) + QStringLiteral(" would change")
                       : files(tally.written) + QStringLiteral(" changed"));
    parts << GroupedNumber(tally.unchanged) + QStringLiteral(" unchanged");
    if (tally.untouched > 0)
        parts << GroupedNumber(tally.untouched) + QStringLiteral(" left untouched");
    const qint64 quotes = tally.quotesChanged;
    parts << GroupedNumber(quotes) +
                 (quotes == 1 ? QStringLiteral(" quote") : QStringLiteral(" quotes"));
    return parts.join(QStringLiteral(", "));
}

} // namespace parvello::cli
