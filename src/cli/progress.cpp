#include "cli/progress.h"

#include "base/portable.h"
#include "cli/names.h"
#include "cli/report.h"
#include "cli/stderrprompts.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <sys/ioctl.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include <windows.h>
#endif

namespace parvello::cli {

namespace {

// The terminal's width in columns (80 where it does not say), so the line never wraps.
int terminalColumns() {
#if defined(PARVELLO_OS_UNIX)
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
#elif defined(PARVELLO_OS_WINDOWS)
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 20)
            return columns;
    }
#endif
    return 80;
}

// The digits of a whole number with a comma between each group of three.
std::string grouped(std::string digits) {
    const size_t first = digits[0] == '-' ? 1 : 0;
    for (std::ptrdiff_t at = std::ptrdiff_t(digits.size()) - 3; at > std::ptrdiff_t(first); at -= 3)
        digits.insert(size_t(at), 1, ',');
    return digits;
}

// How many UTF-16 units a UTF-8 text takes (what a terminal column stands for here).
std::ptrdiff_t unitsOf(std::string_view text) {
    std::ptrdiff_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80;
        units += byte >= 0xF0; // a code point past U+FFFF takes two
    }
    return units;
}

// The end of a UTF-8 text that takes at most `units` UTF-16 units.
std::string_view lastUnits(std::string_view text, std::ptrdiff_t units) {
    size_t from = text.size();
    for (std::ptrdiff_t taken = 0; from > 0;) {
        size_t start = from - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const std::ptrdiff_t width = static_cast<unsigned char>(text[start]) >= 0xF0 ? 2 : 1;
        if (taken + width > units)
            break;
        taken += width;
        from = start;
    }
    return text.substr(from);
}

} // namespace

std::string GroupedNumber(std::int64_t n) {
    return grouped(std::to_string(n));
}

std::string BytesText(std::int64_t bytes) {
    const std::uint64_t size = bytes < 0 ? std::uint64_t(-bytes) : std::uint64_t(bytes);
    int power = 0;
    for (std::uint64_t rest = size; rest >= 1024 && power < 6; rest >>= 10)
        ++power;
    if (power == 0)
        return GroupedNumber(bytes) + " bytes";
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    // In tenths, a half rounded up, of the size as a double holds it (whole above 2^53).
    const auto whole = static_cast<std::uint64_t>(double(size));
    const int shift = 10 * power;
    const std::uint64_t rest = whole & ((std::uint64_t(1) << shift) - 1);
    const std::uint64_t tenths =
        (whole >> shift) * 10 + ((rest * 10 + (std::uint64_t(1) << (shift - 1))) >> shift);
    return (bytes < 0 ? "-" : "") + grouped(std::to_string(tenths / 10)) + '.' +
           char('0' + tenths % 10) + ' ' + units[power - 1];
}

RunProgress::RunProgress(StderrPrompts& prompts, std::int64_t totalBytes, bool shown)
    : prompts_(prompts), total_(std::max<std::int64_t>(totalBytes, 1)), shown_(shown),
      start_(std::chrono::steady_clock::now()) {}

std::int64_t RunProgress::elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void RunProgress::advance(std::int64_t bytes, const std::filesystem::path& path) {
    if (!shown_)
        return;
    done_ += bytes;
    if (elapsed() <= 1000)
        return;
    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || elapsed() - lastDrawn_ < 200)
        return;
    lastDrawn_ = elapsed();
    drawn_ = true;
    prompts_.showProgress(line(path));
}

std::string RunProgress::line(const std::filesystem::path& path) const {
    const std::int64_t done = std::min(done_.load(), total_);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d", int(done * 100 / total_));
    const std::string head =
        "[" + std::string(percent) + "%] " + BytesText(done) + " of " + BytesText(total_) + "  ";
    // The path keeps its end (the file's name) when the line is too long for the terminal.
    std::string shown = PrintablePath(path);
    const std::ptrdiff_t room = terminalColumns() - 1 - unitsOf(head);
    if (unitsOf(shown) > room)
        shown = "..." + std::string(lastUnits(shown, std::max<std::ptrdiff_t>(room - 3, 0)));
    return head + shown;
}

void RunProgress::clear() {
    const std::lock_guard lock(mutex_);
    if (std::exchange(drawn_, false))
        prompts_.showProgress("");
}

std::string SummaryLine(const Tally& tally, bool checking) {
    const auto files = [](std::int64_t n) {
        return GroupedNumber(n) + (n == 1 ? " file" : " files");
    };
    std::string line =
        checking ? files(tally.wouldChange) + " would change" : files(tally.written) + " changed";
    line += ", " + GroupedNumber(tally.unchanged) + " unchanged";
    if (tally.untouched > 0)
        line += ", " + GroupedNumber(tally.untouched) + " left untouched";
    const std::int64_t quotes = tally.quotesChanged;
    line += ", " + GroupedNumber(quotes) + (quotes == 1 ? " quote" : " quotes");
    return line;
}

} // namespace parvello::cli
