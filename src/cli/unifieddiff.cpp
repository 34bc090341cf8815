#include "cli/unifieddiff.h"

#include "base/printabletext.h"
#include "cli/sha1.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

namespace parvello {

namespace {

// One line of a text, with its LF if it has one. A line longer than the limit keeps only
// its head in text, and a digest of all its units.
struct Line {
    std::u16string text;
    std::ptrdiff_t length = 0; // of the whole line, in UTF-16 units
    std::string digest;        // of the whole line, when text holds only its head

    bool operator==(const Line& other) const {
        return length == other.length && digest == other.digest && text == other.text;
    }
    bool endsWithLf() const {
        return digest.empty() ? !text.empty() && text.back() == u'\n' : bool(lastIsLf);
    }
    bool lastIsLf = false; // for a cut line
};

// The lines of a text, one at a time.
class LineReader {
public:
    LineReader(DiffText& text, std::ptrdiff_t lineUnits) : text_(text), lineUnits_(lineUnits) {}

    // The next line; false at the end of the text.
    bool read(Line& line) {
        line = Line();
        std::optional<Sha1> hash;
        bool any = false;
        for (;;) {
            if (at_ >= block_.size()) {
                if (ended_ || !text_.next(block_)) {
                    ended_ = true;
                    break;
                }
                at_ = 0;
                continue;
            }
            const size_t lf = block_.find(u'\n', at_);
            const size_t end = lf == block_.npos ? block_.size() : lf + 1;
            const std::u16string_view piece = block_.substr(at_, end - at_);
            at_ = end;
            any = true;
            line.length += std::ptrdiff_t(piece.size());
            if (!hash && std::ptrdiff_t(line.text.size() + piece.size()) > lineUnits_) {
                hash.emplace();
                addTo(*hash, line.text);
            }
            if (hash) {
                addTo(*hash, piece);
                line.text.append(
                    piece.substr(0, std::min(piece.size(), size_t(lineUnits_) - line.text.size())));
            } else {
                line.text.append(piece);
            }
            if (lf != block_.npos) {
                line.lastIsLf = true;
                break;
            }
        }
        if (hash)
            line.digest = hash->result();
        return any;
    }

    // Whether the text has no more lines (the next block is read to tell).
    bool atEnd() {
        while (!ended_ && at_ >= block_.size()) {
            if (text_.next(block_))
                at_ = 0;
            else
                ended_ = true;
        }
        return ended_;
    }

private:
    static void addTo(Sha1& hash, std::u16string_view units) {
        hash.add(reinterpret_cast<const unsigned char*>(units.data()),
                 units.size() * sizeof(char16_t));
    }

    DiffText& text_;
    const std::ptrdiff_t lineUnits_;
    std::u16string_view block_;
    size_t at_ = 0;
    bool ended_ = false;
};

// The lines of one text read but not yet taken by the diff.
class Window {
public:
    Window(DiffText& text, const DiffLimits& limits) : reader_(text, limits.lineUnits) {}

    // Reads on until the window holds n lines (or the text ends); never past the limits
    // once it holds a line. Whether it holds n lines.
    bool holds(std::ptrdiff_t n, const DiffLimits& limits) {
        while (size() < n && !ended_ &&
               (lines_.empty() || (size() < limits.windowLines && units_ < limits.windowUnits))) {
            Line line;
            if (!reader_.read(line)) {
                ended_ = true;
                break;
            }
            units_ += std::ptrdiff_t(line.text.size());
            lines_.push_back(std::move(line));
        }
        return size() >= n;
    }
    std::ptrdiff_t size() const { return std::ptrdiff_t(lines_.size()); }
    // Whether every line of the text has been read into the window.
    bool ended() { return ended_ || reader_.atEnd(); }
    const Line& operator[](std::ptrdiff_t i) const { return lines_[size_t(i)]; }
    Line take() {
        Line line = std::move(lines_.front());
        lines_.pop_front();
        units_ -= std::ptrdiff_t(line.text.size());
        ++taken_;
        return line;
    }
    std::ptrdiff_t taken() const { return taken_; }

private:
    LineReader reader_;
    std::deque<Line> lines_;
    std::ptrdiff_t units_ = 0;
    std::ptrdiff_t taken_ = 0;
    bool ended_ = false;
};

// The hunks, each written once it is complete: the kept lines before a change wait in a
// ring of `context`; a hunk ends after more than 2 * context kept lines follow its last
// change; its removed lines go before its added lines.
class HunkWriter {
public:
    HunkWriter(const DiffStyle& style, const DiffLimits& limits,
               const std::function<bool(std::string_view)>& write)
        : style_(style), limits_(limits), write_(write) {}

    void keep(Line line) {
        ++oldAt_;
        ++newAt_;
        if (!open_) {
            before_.push_back(std::move(line));
            if (std::ptrdiff_t(before_.size()) > style_.context)
                before_.pop_front();
            return;
        }
        endChange();
        ++trailing_;
        held_ += std::ptrdiff_t(line.text.size());
        entries_.push_back({' ', std::move(line)});
        if (trailing_ > 2 * style_.context)
            closeHunk();
    }
    void remove(Line line) { change(removed_, std::move(line), oldAt_); }
    void add(Line line) { change(added_, std::move(line), newAt_); }

    // Writes the last hunk; false when writing failed.
    bool finish() {
        if (open_) {
            endChange();
            closeHunk();
        }
        flush();
        return !failed_;
    }
    bool failed() const { return failed_; }
    bool any() const { return headed_; }

private:
    struct Entry {
        char kind;
        Line line;
    };

    void change(std::vector<Line>& side, Line line, std::ptrdiff_t& at) {
        if (!open_)
            openHunk();
        trailing_ = 0;
        held_ += std::ptrdiff_t(line.text.size());
        side.push_back(std::move(line));
        ++at;
        if (held_ > limits_.hunkUnits) { // written in pieces: the rest under a header of its own
            endChange();
            writeHunk(std::ptrdiff_t(entries_.size()));
            open_ = false;
        }
    }
    void openHunk() {
        open_ = true;
        trailing_ = 0;
        held_ = 0;
        oldStart_ = oldAt_ - std::ptrdiff_t(before_.size());
        newStart_ = newAt_ - std::ptrdiff_t(before_.size());
        for (Line& line : before_) {
            held_ += std::ptrdiff_t(line.text.size());
            entries_.push_back({' ', std::move(line)});
        }
        before_.clear();
    }
    void endChange() {
        for (Line& line : removed_)
            entries_.push_back({'-', std::move(line)});
        for (Line& line : added_)
            entries_.push_back({'+', std::move(line)});
        removed_.clear();
        added_.clear();
    }
    // Writes the hunk up to `context` kept lines after its last change; the kept lines after
    // those are the first context of the next one.
    void closeHunk() {
        const std::ptrdiff_t keepAfter = std::min<std::ptrdiff_t>(trailing_, style_.context);
        const std::ptrdiff_t end = std::ptrdiff_t(entries_.size()) - trailing_ + keepAfter;
        for (std::ptrdiff_t i = end; i < std::ptrdiff_t(entries_.size()); ++i) {
            before_.push_back(std::move(entries_[size_t(i)].line));
            if (std::ptrdiff_t(before_.size()) > style_.context)
                before_.pop_front();
        }
        writeHunk(end);
        open_ = false;
    }
    void writeHunk(std::ptrdiff_t end) {
        std::ptrdiff_t oldCount = 0;
        std::ptrdiff_t newCount = 0;
        for (std::ptrdiff_t i = 0; i < end; ++i) {
            oldCount += entries_[size_t(i)].kind != '+';
            newCount += entries_[size_t(i)].kind != '-';
        }
        if (!headed_) {
            headed_ = true;
            lineOf("--- " + style_.oldLabel, Bold);
            lineOf("+++ " + style_.newLabel, Bold);
        }
        lineOf("@@ -" + range(oldStart_, oldCount) + " +" + range(newStart_, newCount) + " @@",
               Cyan);
        for (std::ptrdiff_t i = 0; i < end; ++i) {
            Entry& entry = entries_[size_t(i)];
            shown(entry.kind, entry.line);
            if (std::ptrdiff_t(out_.size()) >= FlushAt)
                flush();
        }
        entries_.clear();
        oldStart_ += oldCount;
        newStart_ += newCount;
        flush();
    }

    static constexpr const char* Bold = "\033[1m";
    static constexpr const char* Cyan = "\033[36m";
    static constexpr const char* Red = "\033[31m";
    static constexpr const char* Green = "\033[32m";
    static constexpr std::ptrdiff_t FlushAt = 1 << 16;

    static std::string range(std::ptrdiff_t before, std::ptrdiff_t count) {
        const std::string start = std::to_string(count == 0 ? before : before + 1);
        return count == 1 ? start : start + ',' + std::to_string(count);
    }
    void lineOf(const std::string& text, const char* colour) {
        if (style_.colour)
            out_ += colour + text + "\033[m\n";
        else
            out_ += text + '\n';
    }
    void shown(char kind, const Line& line) {
        const bool hasLf = line.endsWithLf();
        std::u16string_view text = line.text;
        if (line.digest.empty() && hasLf)
            text.remove_suffix(1);
        std::string bytes(1, kind);
        if (kind == ' ') {
            bytes += Utf8Of(text);
        } else { // every CR shown as the symbol for carriage return
            for (size_t from = 0; from <= text.size();) {
                const size_t cr = std::min(text.find(u'\r', from), text.size());
                bytes += Utf8Of(text.substr(from, cr - from));
                if (cr < text.size())
                    bytes += "\u240D";
                from = cr + 1;
            }
        }
        if (!line.digest.empty())
            bytes +=
                " [... " +
                std::to_string(line.length - std::ptrdiff_t(line.text.size()) - (hasLf ? 1 : 0)) +
                " more characters]";
        if (kind == ' ')
            out_ += bytes + '\n';
        else
            lineOf(bytes, kind == '-' ? Red : Green);
        if (!hasLf)
            out_ += "\\ No newline at end of file\n";
    }
    void flush() {
        if (!out_.empty() && !failed_)
            failed_ = !write_(out_);
        out_.clear();
    }

    const DiffStyle& style_;
    const DiffLimits& limits_;
    const std::function<bool(std::string_view)>& write_;
    std::string out_;
    bool headed_ = false;
    bool failed_ = false;
    std::deque<Line> before_;
    std::vector<Entry> entries_;
    std::vector<Line> removed_;
    std::vector<Line> added_;
    bool open_ = false;
    std::ptrdiff_t trailing_ = 0; // kept lines since the last change of the open hunk
    std::ptrdiff_t held_ = 0;     // units held by the open hunk
    std::ptrdiff_t oldAt_ = 0;    // lines of each text before the next one
    std::ptrdiff_t newAt_ = 0;
    std::ptrdiff_t oldStart_ = 0;
    std::ptrdiff_t newStart_ = 0;
};

// The diff proper: lines are taken while the texts agree; where they disagree, the edit
// script to the next stretch where they agree again is found within the windows.
class Differ {
public:
    Differ(DiffText& oldText, DiffText& newText, const DiffLimits& limits, int context,
           HunkWriter& hunks)
        : a_(oldText, limits), b_(newText, limits), limits_(limits), context_(context),
          hunks_(hunks) {}

    void run() {
        while (!hunks_.failed()) {
            const bool hasOld = a_.holds(1, limits_);
            const bool hasNew = b_.holds(1, limits_);
            if (!hasOld && !hasNew)
                return;
            if (hasOld && hasNew && a_[0] == b_[0])
                keepBoth();
            else if (!hasNew)
                hunks_.remove(a_.take());
            else if (!hasOld)
                hunks_.add(b_.take());
            else
                resync();
        }
    }

private:
    void keepBoth() {
        b_.take();
        hunks_.keep(a_.take());
    }

    // The lines of agreement that end a search: as many as the hunks' context on both sides
    // and one, so that two changes closer than that are found together.
    std::ptrdiff_t syncLines() const { return 2 * std::ptrdiff_t(context_) + 1; }

    // Myers' greedy search from the first lines (which differ) for the shortest edit script
    // that reaches a stretch of syncLines() agreeing lines, or the end of both texts.
    void resync() {
        a_.holds(limits_.windowLines, limits_);
        b_.holds(limits_.windowLines, limits_);
        const std::ptrdiff_t n = a_.size();
        const std::ptrdiff_t m = b_.size();
        const bool textsEnd = a_.ended() && b_.ended();
        const int maxD = limits_.maxEdits;
        // v[d] holds, for each diagonal k = x - y in -d..d, the furthest x reached with d edits.
        std::vector<std::vector<std::ptrdiff_t>> v;
        for (int d = 0; d <= maxD; ++d) {
            std::vector<std::ptrdiff_t> row(size_t(2 * d + 1), -1);
            for (int k = -d; k <= d; k += 2) {
                const std::ptrdiff_t x0 = d == 0 ? 0 : reach(v.back(), d, k).x;
                if (x0 < 0)
                    continue;
                std::ptrdiff_t x = x0;
                std::ptrdiff_t y = x - k;
                while (x < n && y < m && x - x0 < syncLines() && a_[x] == b_[y]) {
                    ++x;
                    ++y;
                }
                row[size_t(k + d)] = x;
                const bool atEnd = x == n && y == m && textsEnd;
                if (x - x0 >= syncLines() || atEnd) {
                    v.push_back(std::move(row));
                    commit(v, d, k, x0);
                    return;
                }
            }
            v.push_back(std::move(row));
        }
        // No agreement found within maxD edits: the path that got furthest is taken, when it
        // keeps lines (changes close together), but only its first half, where the paths
        // that got nearly as far agree with it; one that keeps none (a long disagreement) is
        // cut short.
        int best = 0;
        const std::vector<std::ptrdiff_t>& last = v.back();
        const auto far = [&](int k) { return 2 * last[size_t(k + maxD)] - k; }; // x + y
        for (int k = -maxD; k <= maxD; k += 2)
            if (last[size_t(k + maxD)] >= 0 &&
                (last[size_t(best + maxD)] < 0 || far(k) > far(best) ||
                 (far(k) == far(best) && std::abs(k) < std::abs(best))))
                best = k;
        if (last[size_t(best + maxD)] >= 0 && far(best) > maxD)
            commit(v, maxD, best, last[size_t(best + maxD)], far(best) / 2);
        else
            cut();
    }

    // Where diagonal k is reached with edit d from the furthest points of edit d - 1 (last):
    // x after the move (-1 when no move within the windows gets there), and whether the move
    // removed an old line (else it added a new one). Of two, the one that gets further.
    struct Reach {
        std::ptrdiff_t x;
        bool removed;
    };
    Reach reach(const std::vector<std::ptrdiff_t>& last, int d, int k) const {
        const auto at = [&](int diagonal) -> std::ptrdiff_t {
            return diagonal < -(d - 1) || diagonal > d - 1 ? -1 : last[size_t(diagonal + d - 1)];
        };
        const std::ptrdiff_t down = at(k + 1); // x stays, y grows: a new line added
        const std::ptrdiff_t right = at(k - 1) >= 0 ? at(k - 1) + 1 : -1; // an old line removed
        const std::ptrdiff_t downOk = down >= 0 && down - k <= b_.size() ? down : -1;
        const std::ptrdiff_t rightOk = right >= 0 && right <= a_.size() ? right : -1;
        return {std::max(downOk, rightOk), rightOk > downOk};
    }

    // Takes the edit script that ends on diagonal k after d edits at x, traced back through
    // v; only as far as the first stretch of kept lines that ends past upTo lines of both
    // texts, when upTo is given.
    void commit(const std::vector<std::vector<std::ptrdiff_t>>& v, int d, int k, std::ptrdiff_t x,
                std::ptrdiff_t upTo = std::numeric_limits<std::ptrdiff_t>::max()) {
        // The moves, last first: a removed or an added line, each with the kept lines that
        // follow it.
        struct Move {
            bool removed;
            std::ptrdiff_t keptAfter;
        };
        std::vector<Move> moves;
        for (int e = d; e > 0; --e) {
            // The same move as the search made.
            const auto [from, removed] = reach(v[size_t(e - 1)], e, k); // x after the move
            moves.push_back({removed, x - from});
            k += removed ? -1 : 1;
            x = removed ? from - 1 : from;
        }
        // The kept lines before the first move.
        for (std::ptrdiff_t i = 0; i < x; ++i)
            keepBoth();
        std::ptrdiff_t taken = 2 * x; // lines of both texts
        for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
            if (taken >= upTo && move != moves.rbegin())
                return;
            taken += 1 + 2 * move->keptAfter;
            if (move->removed)
                hunks_.remove(a_.take());
            else
                hunks_.add(b_.take());
            for (std::ptrdiff_t i = 0; i < move->keptAfter; ++i)
                keepBoth();
        }
    }

    // A long disagreement: of the next 4 * maxEdits lines of each text, the old lines up to
    // the first one found again among the new ones are removed, and the new lines before it
    // added; with none found, all of them.
    void cut() {
        const std::ptrdiff_t span = 4 * std::ptrdiff_t(limits_.maxEdits);
        const std::ptrdiff_t n = std::min(a_.size(), span);
        const std::ptrdiff_t m = std::min(b_.size(), span);
        // The first new line of each hash.
        std::unordered_map<size_t, std::ptrdiff_t> newLines;
        const auto key = [](const Line& line) {
            return std::hash<std::u16string_view>{}(line.text) ^ size_t(line.length);
        };
        for (std::ptrdiff_t j = 0; j < m; ++j)
            newLines.try_emplace(key(b_[j]), j);
        std::ptrdiff_t i = 0;
        std::ptrdiff_t j = m;
        for (; i < n; ++i) {
            const auto found = newLines.find(key(a_[i]));
            if (found != newLines.end() && a_[i] == b_[found->second]) {
                j = found->second;
                break;
            }
        }
        for (std::ptrdiff_t r = 0; r < i; ++r)
            hunks_.remove(a_.take());
        for (std::ptrdiff_t r = 0; r < j; ++r)
            hunks_.add(b_.take());
    }

    Window a_;
    Window b_;
    const DiffLimits& limits_;
    const int context_;
    HunkWriter& hunks_;
};

} // namespace

bool WriteUnifiedDiff(DiffText& oldText, DiffText& newText, const DiffStyle& style,
                      const std::function<bool(std::string_view)>& write,
                      const DiffLimits& limits) {
    HunkWriter hunks(style, limits, write);
    Differ(oldText, newText, limits, style.context, hunks).run();
    hunks.finish();
    return hunks.any();
}

bool DiffInColour(cli::Colour option, bool terminal, std::string_view noColor) {
    switch (option) {
    case cli::Colour::Always:
        return true;
    case cli::Colour::Never:
        return false;
    case cli::Colour::Auto:
        break;
    }
    return terminal && noColor.empty();
}

} // namespace parvello
