#include "quotes/fileengine.h"

#include "base/failure.h"
#include "textio/reading.h"
#include "textio/textencoder.h"
#include "textio/writebehind.h"
#include "textio/writing.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace parvello {

namespace {

// Whether the path leads to a pipe, socket or device, asked without opening it.
bool isSpecialFile(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode) &&
           !S_ISDIR(status.st_mode);
#else
    const QFileInfo info(path);
    return info.exists() && !info.isFile() && !info.isDir();
#endif
}

// Whether output is the source's own name: the same text, or the same name in the same
// folder reached another way (the folder box naming the source's folder through a link).
bool isSourceName(const QString& source, const QString& output) {
    if (source == output)
        return true;
    const QFileInfo sourceInfo(source);
    const QFileInfo outputInfo(output);
    if (sourceInfo.fileName() != outputInfo.fileName())
        return false;
#ifdef Q_OS_UNIX
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(sourceInfo.path()).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(outputInfo.path()).constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#else
    const QString folder = QFileInfo(sourceInfo.path()).canonicalFilePath();
    return !folder.isEmpty() && folder == QFileInfo(outputInfo.path()).canonicalFilePath();
#endif
}

// The line numbers of the run's steps inside the engine, as the "Application Error" box
// shows them when a step fails (the steps before and after belong to the run itself).
namespace run_lines {
constexpr int Utf8Test = 128; // the UTF-8 route starts an empty output text
constexpr int Utf8Start = 130;
constexpr int LoopStart = 132;     // once per line:
constexpr int TakeLine = 134;      //   the current line
constexpr int FirstRuleTest = 136; //   the six rules' tests, eight lines apart; each
constexpr int RuleStride = 8;      //   rule's three replacements on the next even lines
constexpr int Utf8Append = 184;    //   UTF-8 route: the line and CR LF join the text
constexpr int Utf8Appended = 186;
constexpr int StreamAppend = 188;  //   text-stream route: the line and CR LF are written
constexpr int Utf8WriteTest = 192; // the UTF-8 route writes the whole text
constexpr int Utf8Write = 194;
} // namespace run_lines

// Reaches the rule's lines for one line of text: the tests of the options up to the
// selected one, then its three replacements (with no option selected, all six tests).
void reachRuleSteps(Trap& steps, QuoteRule rule) {
    const int selected = rule == QuoteRule::None ? 6 : int(rule) - 1;
    for (int option = 0; option < 6 && option <= selected; ++option)
        steps.reach(run_lines::FirstRuleTest + run_lines::RuleStride * option);
    if (selected < 6)
        for (int replacement = 1; replacement <= 3; ++replacement)
            steps.reach(run_lines::FirstRuleTest + run_lines::RuleStride * selected +
                        2 * replacement);
}

// The lines of a text that comes in blocks, each line written as it is read and ended
// with CR LF. On the text-stream road a line ends at CR LF, at a lone LF or at a lone CR; on
// the UTF-8 road at CR LF only (a lone CR or LF stays in its line). A final line break gives
// no extra line, an empty text one empty line. Content goes through the rule; the file's own
// CR LF goes out as it is. Unit is char for a text left in its bytes, char16_t for decoded
// text. Out has content(units, n), raw(units, n) and lineDone().
template <class Unit, class Out> class BlockLines {
public:
    BlockLines(bool crLfOnly, Out& out) : crLfOnly_(crLfOnly), out_(&out) {}

    void reset() { *this = BlockLines(crLfOnly_, *out_); }

    void block(const Unit* u, qsizetype n) {
        if (n == 0)
            return;
        any_ = true;
        if (crLfOnly_)
            crLfBlock(u, n);
        else
            anyBreakBlock(u, n);
        beforeLast_ = n >= 2 ? u[n - 2] : last_;
        last_ = u[n - 1];
    }

    // The whole block in one pass, for a run whose lines need no steps of their own: the
    // units are copied to the output's stage in vectors, and only a line break that is not
    // CR LF and a quote of the rule stop the copy. On the UTF-8 road a line
    // break changes nothing, so only the quotes stop it; a CR at the end of the block goes
    // out at once, as the LF that may follow it would anyway. Out also has stops(units),
    // put(units, n), stageEnd(units), setStageEnd(at), stageLimit(units),
    // flushStage(at, keep) and quote(units, from, at, o).
    void pass(const Unit* u, qsizetype n) {
        if (n == 0)
            return;
        any_ = true;
        qsizetype i = 0;
        if (!crLfOnly_ && std::exchange(pendingCr_, false) && u[0] == Unit('\n'))
            i = 1; // the rest of a CR LF written whole at its CR
        const StopUnits<Unit>* const stops = out_->stops(u);
        if (!stops) {
            out_->put(u + i, n - i);
        } else {
            // The units of a quote before its last one were copied already; they stay in
            // the stage when it is handed on early.
            constexpr qsizetype keep = sizeof(Unit) == 1 ? 2 : 0;
            qsizetype from = i; // where the quote that ends at a stop may begin
            Unit* o = out_->stageEnd(u);
            Unit* limit = out_->stageLimit(u);
            const auto roomFor = [&] {
                if (o > limit) {
                    o = out_->flushStage(o, keep);
                    limit = out_->stageLimit(u);
                }
            };
            if (out_->quotesPass)
                passInGroups(u, n, i, o, from, limit);
            if (stops->vectors()) {
                constexpr qsizetype width = StopUnits<Unit>::Width;
                // Sixty-four bytes at a time, while a copy of that many from anywhere in them
                // stays inside the block: the stretch before each stop is copied whole,
                // without a loop, and the stops are taken from one mask.
                constexpr qsizetype quad = 4 * width;
                const auto copyQuad = [&](qsizetype to) {
                    std::memcpy(o, u + i, 64);
                    o += to - i;
                    i = to;
                };
                // The CR bit of the unit before these, at bit 0.
                std::uint64_t crBefore = 0;
                for (qsizetype base = i; base + 2 * quad <= n; base += quad) {
                    std::uint64_t mask = 0;
                    std::uint64_t cr = 0;
                    std::uint64_t lf = 0;
                    for (int k = 0; k < 4; ++k) {
                        unsigned crBits = 0;
                        unsigned lfBits = 0;
                        mask |= std::uint64_t(stops->mask(u + base + k * width, crBits, lfBits))
                                << 16 * k;
                        cr |= std::uint64_t(crBits) << 16 * k;
                        lf |= std::uint64_t(lfBits) << 16 * k;
                    }
                    if (!crLfOnly_) {
                        // An LF right after a CR goes out with it, at the CR's stop: each
                        // stop is then the next bit, whatever the stop before it took.
                        mask &= ~(lf & (cr << sizeof(Unit) | crBefore));
                        crBefore = cr >> (64 - sizeof(Unit));
                    }
                    if (i > base) // past a CR LF that crossed into these units
                        mask &= ~std::uint64_t(0) << ((i - base) * qsizetype(sizeof(Unit)));
                    for (; mask; mask &= mask - 1) {
                        roomFor();
                        copyQuad(base + std::countr_zero(mask) / qsizetype(sizeof(Unit)));
                        stop(u, n, i, o, from);
                    }
                    if (i < base + quad) {
                        roomFor();
                        copyQuad(base + quad);
                    }
                }
                while (i + width <= n) {
                    roomFor();
                    const unsigned mask = stops->mask(u + i);
                    std::memcpy(o, u + i, 16);
                    if (!mask) {
                        o += width;
                        i += width;
                        continue;
                    }
                    const qsizetype k = std::countr_zero(mask) / qsizetype(sizeof(Unit));
                    o += k;
                    i += k;
                    stop(u, n, i, o, from);
                }
            }
            while (i < n) {
                roomFor();
                if (stops->isStop(u[i]))
                    stop(u, n, i, o, from);
                else
                    *o++ = u[i++];
            }
            out_->setStageEnd(o);
            // A CR at the end is a stop on the text-stream road; the LF that may follow it
            // in the next block belongs to it.
            pendingCr_ = !crLfOnly_ && u[n - 1] == Unit('\r');
        }
        beforeLast_ = n >= 2 ? u[n - 2] : last_;
        last_ = u[n - 1];
    }

    // The start of a pass for a rule that the vector pass serves (see fillPassQuotes), where
    // the processor has it: whole groups of 64 bytes (32 units of decoded text) at a time, the
    // stage handed on between calls as the stops do. On the text-stream road each group needs
    // the unit after it, and the pass stops early before a group with two line ends to make
    // between two kept units; the stops take the rest of the block.
    void passInGroups(const Unit* u, qsizetype n, qsizetype& i, Unit*& o, qsizetype& from,
                      Unit*& limit) {
        // A quote's first bytes, taken back by its last (the family's units are whole quotes).
        constexpr qsizetype keep = sizeof(Unit) == 1 ? 2 : 0;
        constexpr qsizetype group = 64 / qsizetype(sizeof(Unit)); // units read at a time
        constexpr qsizetype most = 2 * group;                     // and written at most
        const bool lineBreaks = !crLfOnly_;
        const qsizetype last = lineBreaks ? n - 1 : n;
        QuotesPassCarry carry;
        Unit* const stageEnd = out_->stageBytesEnd(u);
        while (i + group <= last) {
            if (o > limit || stageEnd - o < 2 * most) {
                o = out_->flushStage(o, keep);
                limit = out_->stageLimit(u);
            }
            // Each group may store up to most units past where it ends.
            const qsizetype groups =
                std::max<qsizetype>(1, (std::min(limit, stageEnd - most) - o) / most);
            const qsizetype end = std::min(last, i + group * groups);
            qsizetype at = i;
            if constexpr (sizeof(Unit) == 1)
                at = QuotesPass(u, i, end, o, out_->passQuotes, lineBreaks, carry);
            else
                at = QuotesPass(u, i, end, o, out_->passUnits, lineBreaks, carry);
            if (at == i)
                break;
            i = at;
            if (lineBreaks && u[i - 1] == Unit('\r') && u[i] == Unit('\n')) {
                // The LF of a CR LF cut where the groups ended goes out with its CR.
                *o++ = Unit('\n');
                carry = {};
                ++i;
            }
            if (at + group <= end) // stopped before a group it leaves to the stops
                break;
        }
        from = std::max(from, i - keep); // a quote's first bytes are never stops
    }

    // At the stop u[i] of a pass: a line break goes out as CR LF, a quote as what it becomes;
    // i moves past it, o past what was written for it.
    Q_ALWAYS_INLINE void stop(const Unit* u, qsizetype n, qsizetype& i, Unit*& o, qsizetype& from) {
        if (out_->tableStops) {
            tableStop(u, n, i, o, from);
            return;
        }
        searchedStop(u, n, i, o, from);
    }

    // The same for decoded text: the stop is a line break or one of the family's three
    // quotes, and the action to take is chosen without a branch on which.
    Q_ALWAYS_INLINE void tableStop(const char16_t* u, qsizetype n, qsizetype& i, char16_t*& o,
                                   qsizetype& from) {
        const auto& t = out_->unitTable;
        const char16_t c = u[i];
        const bool lineBreak = int(c == u'\r') | int(c == u'\n');
        const unsigned q = unsigned(c == t.family[1]) | unsigned(c == t.family[2]) << 1;
        const auto& action = t.actions[lineBreak ? 3 : q];
        std::memcpy(o, action.units, sizeof action.units);
        o += action.length;
        const bool crLf = c == u'\r' && i + 1 < n && u[i + 1] == u'\n';
        i += crLf ? 2 : 1;
        from = i;
    }

    // The same for the byte road with the output's table: what the byte becomes is looked
    // up, and only whether a quote's first bytes stand before its last one is compared.
    Q_ALWAYS_INLINE void tableStop(const char* u, qsizetype n, qsizetype& i, char*& o,
                                   qsizetype& from) {
        static constexpr char noBytes[2] = {};
        const auto& t = *out_->stopTable;
        const uchar c = uchar(u[i]);
        // The two bytes before, or none where they would lie before the quote may begin
        // (chosen without a branch: whether a stop is a quote of three bytes is not
        // predictable).
        quint16 two;
        std::memcpy(&two, i >= from + 2 ? u + i - 2 : noBytes, 2);
        const bool whole = int(t.before[c] == 0) | int(two == t.prefix[c]);
        const auto& action = t.actions[c + (whole ? 0u : 256u)];
        std::memcpy(o - action.back, action.bytes, sizeof action.bytes);
        o += action.length - action.back;
        const bool crLf = c == '\r' && i + 1 < n && u[i + 1] == '\n';
        i += crLf ? 2 : 1;
        from = action.ends ? i : from;
    }

    Q_ALWAYS_INLINE void searchedStop(const Unit* u, qsizetype n, qsizetype& i, Unit*& o,
                                      qsizetype& from) {
        const Unit c = u[i];
        if (c != Unit('\r') && c != Unit('\n')) {
            i = out_->quote(u, from, i, o);
            return;
        }
        *o++ = Unit('\r');
        *o++ = Unit('\n');
        const bool crLf = c == Unit('\r') && i + 1 < n && u[i + 1] == Unit('\n');
        pendingCr_ = c == Unit('\r') && i + 1 == n;
        i += crLf ? 2 : 1;
        from = i;
    }

    void finish() {
        if (crLfOnly_) {
            if (std::exchange(pendingCr_, false))
                out_->raw(cr(), 1); // a CR at the very end stays in the last line
            if (!any_ || beforeLast_ != Unit('\r') || last_ != Unit('\n'))
                endLine();
        } else if (!any_ || (last_ != Unit('\r') && last_ != Unit('\n'))) {
            endLine();
        }
    }

private:
    static const Unit* crLf() {
        if constexpr (std::is_same_v<Unit, char>)
            return "\r\n";
        else
            return u"\r\n";
    }
    static const Unit* cr() { return crLf(); }
    // Where the first CR (crOnly) or the first CR or LF is in u[0..n), or n.
    static qsizetype findBreak(const Unit* u, qsizetype n, bool crOnly) {
        if constexpr (std::is_same_v<Unit, char>)
            return crOnly ? FindCarriageReturnByte(u, n) : FindLineBreakByte(u, n);
        else
            return crOnly ? FindCarriageReturn(u, n) : FindLineBreak(u, n);
    }

    void endLine() {
        out_->lineDone();
        out_->raw(crLf(), 2);
    }

    void anyBreakBlock(const Unit* u, qsizetype n) {
        qsizetype pos = 0;
        // A CR LF cut by the end of the last block was written whole at its CR.
        if (std::exchange(pendingCr_, false) && u[0] == Unit('\n'))
            pos = 1;
        while (pos < n) {
            const qsizetype at = pos + findBreak(u + pos, n - pos, false);
            if (at >= n) {
                out_->content(u + pos, n - pos);
                return;
            }
            out_->content(u + pos, at - pos);
            if (u[at] == Unit('\r') && at + 1 < n && u[at + 1] == Unit('\n')) {
                out_->raw(u + at, 2);
                pos = at + 2;
            } else {
                out_->raw(crLf(), 2);
                pendingCr_ = u[at] == Unit('\r') && at + 1 == n;
                pos = at + 1;
            }
            out_->lineDone();
        }
    }

    void crLfBlock(const Unit* u, qsizetype n) {
        qsizetype start = 0;
        if (std::exchange(pendingCr_, false)) {
            if (u[0] == Unit('\n')) {
                out_->raw(crLf(), 2);
                out_->lineDone();
                start = 1;
            } else {
                out_->raw(cr(), 1);
            }
        }
        for (qsizetype search = start;;) {
            const qsizetype at = search + findBreak(u + search, n - search, true);
            if (at >= n) {
                out_->content(u + start, n - start);
                return;
            }
            if (at + 1 == n) { // is it a CR LF? The next block tells.
                out_->content(u + start, at - start);
                pendingCr_ = true;
                return;
            }
            search = at + 1;
            if (u[at + 1] == Unit('\n')) {
                out_->content(u + start, at - start);
                out_->raw(u + at, 2);
                out_->lineDone();
                start = search = at + 2;
            }
        }
    }

    bool crLfOnly_;
    Out* out_;
    bool any_ = false;
    bool pendingCr_ = false; // the last block ended with a CR
    Unit last_ = 0;
    Unit beforeLast_ = 0;
};

// Thrown out of the line loop when one of the reader's per-line steps failed.
struct ReadStopped {};
// Thrown out of the line loop when the output refused a piece.
struct OutputRefused {};

// Where the lines' pieces go: the output, with a failure of the output itself told apart
// from the steps' failures.
struct PieceOut {
    PieceSink* sink = nullptr;
    const QuoteReplacer* rule = nullptr;
    const ByteQuoteReplacer* byteRule = nullptr;
    bool* outputFailed = nullptr;
    std::function<void()> onLine; // set only where the lines' steps are marked
    // Bytes that lie one after the other go to the output as one piece: most of a file
    // is copied in long stretches, line breaks that already are CR LF included.
    const char* runStart = nullptr;
    qsizetype runLength = 0;

    template <class F> bool output(F&& write) {
        try {
            return write();
        } catch (...) {
            *outputFailed = true;
            throw;
        }
    }
    bool appendText(QStringView piece) {
        if (!flush() || !output([&] { return sink->append(piece); }))
            throw OutputRefused{};
        return true;
    }
    bool appendBytes(QByteArrayView piece) {
        if (runLength > 0 && piece.data() == runStart + runLength) {
            runLength += piece.size();
            return true;
        }
        flush();
        runStart = piece.data();
        runLength = piece.size();
        return true;
    }
    bool flush() {
        flushStage();
        if (runLength > 0 && !output([&] {
                return sink->appendBytes({runStart, std::exchange(runLength, 0)});
            }))
            throw OutputRefused{};
        return true;
    }

    // The whole-block pass (see BlockLines::pass): unchanged stretches, line ends and what
    // the quotes become are gathered in stage and handed to the output a block at a time.
    // stops() is null where nothing stops the copy.
    bool passing = false;
    bool unitStage = false; // stage holds char16_t
    PooledBuffer stage{0};
    qsizetype staged = 0; // bytes in stage
    qsizetype limit = 0;  // see stageLimit()
    std::optional<StopUnits<char>> byteStops;
    std::optional<StopUnits<char16_t>> unitStops;

    // On the byte road, what each stop byte turns into, looked up instead of searched for,
    // so that a stop costs no branch on what it is: a line break becomes CR LF, the last
    // byte of a quote its result over the quote's bytes before it, any other byte itself.
    struct StopAction {
        char bytes[16] = {}; // written at the output, back bytes before where it stands
        qint8 length = 0;
        qint8 back = 0;    // the quote's bytes before its last one, copied already
        bool ends = false; // a line break or a quote: the next quote begins after it
    };
    struct StopTable {
        // [byte] where the byte ends its quote (or is a line break), [256 + byte] where
        // the bytes before it are not the rest of the quote.
        std::array<StopAction, 512> actions;
        std::array<qint8, 256> before{};   // a quote's bytes before its last one: 0 or 2
        std::array<quint16, 256> prefix{}; // those two bytes, as they lie in memory
    };
    std::unique_ptr<StopTable> stopTable;
    bool tableStops = false;
    // A rule whose quotes go, become one unit or change only their last byte goes through the
    // vector step where the processor has it.
    bool quotesPass = false;
    PassQuotes passQuotes;

    // Fills the rule for the vector pass (false where it cannot say it: a result that is not
    // nothing, one byte or the quote with another last byte, or that holds a line break).
    bool fillPassQuotes() {
        if (!QuotesPassAvailable())
            return false;
        passQuotes = {};
        for (size_t q = 0; q < 3; ++q) {
            const QByteArrayView quote = byteRule->quoteBytes(int(q));
            passQuotes.length[q] = int(quote.size());
            if (quote.isEmpty())
                continue;
            const QByteArrayView result = byteRule->resultBytes(int(q));
            if (!byteRule->resultEncodable(int(q)) || result.contains('\r') ||
                result.contains('\n'))
                return false;
            const bool lastDiffers = result.size() == quote.size() && quote.size() == 3 &&
                                     result.first(2) == quote.first(2);
            if (!result.isEmpty() && result.size() != 1 && !lastDiffers)
                return false;
            std::memcpy(passQuotes.bytes[q].data(), quote.data(), size_t(quote.size()));
            passQuotes.kept[q] = int(result.size());
            passQuotes.last[q] = result.isEmpty() ? '\0' : result.back();
        }
        return true;
    }
    // The same for decoded text: each result nothing or one unit that is no line break.
    PassUnits passUnits;
    bool fillPassUnits() {
        if (!QuotesPassAvailable())
            return false;
        for (size_t q = 0; q < 3; ++q) {
            const UnitAction& action = unitTable.actions[q];
            if (action.length > 1 ||
                (action.length == 1 && (action.units[0] == u'\r' || action.units[0] == u'\n')))
                return false;
            passUnits.quotes[q] = unitTable.family[q];
            passUnits.removed[q] = action.length == 0;
            passUnits.becomes[q] = action.units[0];
        }
        return true;
    }
    // For decoded text: what each of the family's quotes becomes, and CR LF for a line
    // break ([3]).
    struct UnitAction {
        char16_t units[8] = {};
        qsizetype length = 0;
    };
    struct UnitTable {
        std::array<char16_t, 3> family{};
        std::array<UnitAction, 4> actions;
    } unitTable;

    bool fillUnitTable() {
        unitTable.family = rule->family();
        for (size_t q = 0; q < 3; ++q) {
            const QStringView result = rule->result(q);
            if (result.size() > 8)
                return false;
            std::memcpy(unitTable.actions[q].units, result.utf16(), size_t(result.size()) * 2);
            unitTable.actions[q].length = result.size();
        }
        unitTable.actions[3] = UnitAction{{u'\r', u'\n'}, 2};
        return true;
    }

    // Fills the table for the byte rule (false where it cannot say it: a quote of another
    // length, two quotes ending in the same byte, or a result that is long or not in the
    // output's encoding).
    bool fillStopTable(bool crLfOnly) {
        if (!stopTable)
            stopTable = std::make_unique<StopTable>();
        StopTable& t = *stopTable;
        // Only the stop bytes are ever looked up: each stands for itself unless it is a
        // line break or ends a quote.
        for (int q = -2; q < 3; ++q) {
            const uchar c = q == -2   ? '\r'
                            : q == -1 ? '\n'
                                      : uchar(byteRule->lastBytes()[size_t(q)]);
            StopAction self;
            self.bytes[0] = char(c);
            self.length = 1;
            t.actions[c] = t.actions[c + 256u] = self;
            t.before[c] = 0;
        }
        if (!crLfOnly)
            for (const uchar c : {uchar('\r'), uchar('\n')})
                t.actions[c] = StopAction{{'\r', '\n'}, 2, 0, true};
        std::array<bool, 256> taken{};
        for (int q = 0; q < 3; ++q) {
            const QByteArrayView quote = byteRule->quoteBytes(q);
            if (quote.isEmpty())
                continue;
            const QByteArrayView result = byteRule->resultBytes(q);
            const uchar last = uchar(quote.back());
            if ((quote.size() != 1 && quote.size() != 3) || !byteRule->resultEncodable(q) ||
                result.size() > 16 || taken[last] || last == '\r' || last == '\n')
                return false;
            taken[last] = true;
            StopAction action;
            std::memcpy(action.bytes, result.data(), size_t(result.size()));
            action.length = qint8(result.size());
            action.back = qint8(quote.size() - 1);
            action.ends = true;
            t.actions[last] = action;
            t.before[last] = qint8(quote.size() - 1);
            if (quote.size() == 3)
                std::memcpy(&t.prefix[last], quote.data(), 2);
        }
        return true;
    }
    static constexpr qsizetype StageBytes = 2 * LoadChunkSize;
    // Longer results go the way of single lines (a stop must fit in the stage).
    static constexpr qsizetype LongestResult = 4096;

    // Sets the pass up for the rule and road (false: results too long for it); the stops
    // are the line breaks (on the text-stream road) and the last unit of each quote the
    // rule looks for.
    // Decoded text whose units in memory already are the output's bytes (UTF-16 LE on a
    // little-endian processor) goes out as bytes, without being encoded again: the source
    // was checked for unpaired surrogates as it was read, and so were the results here.
    bool unitsAreOutput = false;

    bool startPassing(bool units, bool crLfOnly, OutputEncoding encoding) {
        staged = 0;
        tableStops = false;
        quotesPass = false;
        unitsAreOutput = units && encoding == OutputEncoding::Utf16LE &&
                         QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        for (size_t k = 0; k < 3 && unitsAreOutput; ++k)
            unitsAreOutput = FindUnpairedSurrogate(rule->result(k)) < 0;
        byteStops.reset();
        unitStops.reset();
        std::array<char16_t, 5> stop = {u'\r', u'\n', u'\r', u'\r', u'\r'};
        bool anyQuote = false;
        qsizetype longest = 4; // CR LF
        if (units && rule->rule() != QuoteRule::None) {
            anyQuote = true;
            for (size_t k = 0; k < 3; ++k) {
                stop[k + 2] = rule->family()[k];
                longest = std::max(longest, rule->result(k).size() * 2);
            }
        } else if (!units && !byteRule->findsNothing()) {
            anyQuote = true;
            for (int k = 0; k < 3; ++k) {
                stop[size_t(k) + 2] = char16_t(uchar(byteRule->lastBytes()[size_t(k)]));
                longest = std::max(longest, byteRule->resultBytes(k).size());
            }
        }
        passing = longest <= LongestResult;
        if (!passing)
            return false;
        unitStage = units;
        if (!stage.data())
            stage = PooledBuffer(StageBytes);
        // The stage is handed on about every half block's worth (every few bytes where the
        // tests read a few at a time, so that quotes are seen cut by hand-overs).
        limit = std::min(StageBytes - 64 - 2 * longest - qsizetype(sizeof(StopAction::bytes)),
                         std::max<qsizetype>(ReadBlockSize() / 2, 4));
        if (crLfOnly) // line breaks stop nothing: only quotes, or no search at all
            stop[0] = stop[1] = stop[2];
        if (crLfOnly && !anyQuote)
            return true;
        if (units) {
            unitStops.emplace(stop);
            tableStops = anyQuote && fillUnitTable();
            quotesPass = tableStops && fillPassUnits();
        } else {
            std::array<char, 5> bytes{};
            for (size_t k = 0; k < 5; ++k)
                bytes[k] = char(stop[k]);
            byteStops.emplace(bytes);
            tableStops = fillStopTable(crLfOnly);
            quotesPass = tableStops && fillPassQuotes();
        }
        return true;
    }
    const StopUnits<char>* stops(const char*) const { return byteStops ? &*byteStops : nullptr; }
    const StopUnits<char16_t>* stops(const char16_t*) const {
        return unitStops ? &*unitStops : nullptr;
    }
    template <class Unit> Unit* stageEnd(const Unit*) const {
        return reinterpret_cast<Unit*>(stage.data() + staged);
    }
    template <class Unit> Unit* stageBytesEnd(const Unit*) const {
        return reinterpret_cast<Unit*>(stage.data() + StageBytes);
    }
    template <class Unit> void setStageEnd(Unit* at) {
        staged = reinterpret_cast<char*>(at) - stage.data();
    }
    // Past it, the stage has no room for sixty-four more bytes and what one stop writes
    // (a table stop writes all sixteen bytes of its action).
    template <class Unit> Unit* stageLimit(const Unit*) const {
        return reinterpret_cast<Unit*>(stage.data() + limit);
    }
    // Hands on the stage up to at but its last keep units, which move to its start.
    template <class Unit> Unit* flushStage(Unit* at, qsizetype keep) {
        setStageEnd(at - keep);
        flushStage();
        std::memmove(stage.data(), at - keep, size_t(keep) * sizeof(Unit));
        staged = keep * qsizetype(sizeof(Unit));
        return stageEnd(at);
    }
    template <class Unit> void put(const Unit* units, qsizetype n) {
        const qsizetype bytes = n * qsizetype(sizeof(Unit));
        if (bytes <= 0)
            return;
        if (staged + bytes > StageBytes) {
            flushStage();
            if (bytes > StageBytes / 2) { // a long stretch goes out from where it is
                hand(units, n);
                return;
            }
        }
        std::memcpy(stage.data() + staged, units, size_t(bytes));
        staged += bytes;
    }
    void hand(const char* bytes, qsizetype n) {
        output([&] { return sink->appendBytes({bytes, n}); });
    }
    void hand(const char16_t* units, qsizetype n) {
        if (unitsAreOutput) {
            output([&] {
                return sink->appendBytes({reinterpret_cast<const char*>(units), 2 * n});
            });
            return;
        }
        if (!output([&] { return sink->append(QStringView(units, n)); }))
            throw OutputRefused{};
    }
    void flushStage() {
        if (staged == 0)
            return;
        const qsizetype bytes = std::exchange(staged, 0);
        if (unitStage)
            hand(reinterpret_cast<const char16_t*>(stage.data()), bytes / 2);
        else
            hand(stage.data(), bytes);
    }
    // At a stop that is not a line break: the last byte of a quote of the rule, which goes
    // out as what it becomes (its bytes before the last one are taken back from o), or of
    // another character, which goes out as it is. Returns where the pass goes on.
    Q_ALWAYS_INLINE qsizetype quote(const char* bytes, qsizetype& from, qsizetype at, char*& o) {
        const int q = byteRule->quoteEndingAt(bytes, from, at);
        if (q < 0) {
            *o++ = bytes[at];
            return at + 1;
        }
        o -= byteRule->quoteLength(q) - 1;
        if (byteRule->resultEncodable(q)) {
            const QByteArrayView result = byteRule->resultBytes(q);
            if (!result.isEmpty())
                std::memcpy(o, result.data(), size_t(result.size()));
            o += result.size();
        } else {
            setStageEnd(o);
            flushStage();
            hand(byteRule->resultText(q).utf16(), byteRule->resultText(q).size());
            o = stageEnd(bytes);
        }
        from = at + 1;
        return from;
    }
    Q_ALWAYS_INLINE qsizetype quote(const char16_t* units, qsizetype& from, qsizetype at,
                                    char16_t*& o) {
        const std::array<char16_t, 3>& family = rule->family();
        const char16_t c = units[at];
        const QStringView result = rule->result(c == family[0] ? 0 : c == family[1] ? 1 : 2);
        if (!result.isEmpty())
            std::memcpy(o, result.utf16(), size_t(result.size()) * 2);
        o += result.size();
        from = at + 1;
        return from;
    }

    void content(const char* bytes, qsizetype n) {
        if (n > 0)
            byteRule->forEachPiece(
                QByteArrayView(bytes, n), [&](QByteArrayView b) { return appendBytes(b); },
                [&](QStringView t) { return appendText(t); });
    }
    void raw(const char* bytes, qsizetype n) {
        if (passing)
            put(bytes, n);
        else
            appendBytes({bytes, n});
    }
    void content(const char16_t* units, qsizetype n) {
        if (n > 0)
            rule->forEachPiece(QStringView(units, n), [&](QStringView t) { return appendText(t); });
    }
    void raw(const char16_t* units, qsizetype n) {
        if (passing)
            put(units, n);
        else
            appendText(QStringView(units, n));
    }
    void lineDone() {
        if (onLine)
            onLine();
    }
};
} // namespace

FileReport ProcessFile(const QString& sourcePath, const QString& outputPath,
                       const QuoteReplacer& rule, Prompts& prompts, Trap* steps,
                       const std::function<void(qint64 bytesRead)>& afterBlock) {
    // A pipe could keep the run waiting for ever and a device never end, and neither is
    // the user's text: they are left alone without being opened.
    if (isSpecialFile(sourcePath))
        return {FileOutcome::NotAFile,
                QStringLiteral("it is a pipe, socket or device, not a file")};
    const bool inPlace = isSourceName(sourcePath, outputPath);
    const FileInProgress inProgress;

    // A rule whose pieces stand alone works on the file's own bytes where the encoding
    // allows it: nothing is decoded and encoded again only to come out the same.
    const bool byPieces = rule.piecesStandAlone();
    StreamedRead read(sourcePath, prompts, byPieces);
    const FileReport notRead{FileOutcome::NotRead, QStringLiteral("it could not be read")};
    if (read.status() != ReadStatus::Read)
        return notRead;
    SourceBlocks& blocks = read.blocks();
    SourceFile& source = read.source();
    // In place, what another program writes to the file would be lost with the file it
    // writes to: a file open for writing elsewhere is left alone, and the lease taken (where
    // the system grants one) tells at the replace whether a writer came meanwhile.
    const FileReport inUse{FileOutcome::InUse, QStringLiteral("another program is writing it")};
    if (inPlace && source.file->takeReadLease() == ReadOnlyFile::Lease::Busy) {
        read.finish();
        return inUse;
    }
    const bool utf8Route = read.fileIsUtf8();
    const auto encodingNow = [&] {
        if (utf8Route)
            return OutputEncoding::Utf8WithMark;
        if (read.fileIsUnicode())
            return OutputEncoding::Utf16LE;
        return blocks.format() == SourceFormat::Utf8 ? OutputEncoding::Utf8
                                                     : OutputEncoding::CodePage;
    };
    // The first block is taken before the output is opened: a small file is then known to
    // be text, in its encoding, before anything is written.
    const auto pull = [&] {
        SourceBlocks::Next next = read.next();
        while (next == SourceBlocks::Next::Restart && read.status() == ReadStatus::Read)
            next = read.next();
        return next;
    };
    SourceBlocks::Next next = pull();
    if (read.status() != ReadStatus::Read)
        return notRead;
    if (next == SourceBlocks::Next::NotText) {
        read.finish();
        return {FileOutcome::NotText, blocks.notText()};
    }

    // In place, the result goes to the file just read (the file a link there leads to, not
    // the link); elsewhere it takes the output name's place. A small file's bytes go along, to
    // compare the result with.
    OutputTarget where;
    where.kind = OutputTarget::Kind::Name;
    if (inPlace) {
        where.kind = OutputTarget::Kind::FileRead;
        where.linkFreePath = source.file->linkFreePath();
        where.identity = source.identity;
        where.source = source.file.get();
    }
    where.sourceBytes = source.smallBytes();
    where.sourceBytesKnown = source.whole && source.headSize <= KeepBytesUpTo;
    where.sourceIdentity = source.identity;

    if (steps && utf8Route) {
        steps->reach(run_lines::Utf8Test);
        steps->reach(run_lines::Utf8Start);
    }
    // The run's steps met while the result is written: a failure in one of them stops the
    // transformation, the writer discards what it wrote, and the failure goes back to the
    // run's trap once the writer is done, reported at the step's line. A failure of the
    // output itself stays with the writer, which reports it under its own tag. The reader's
    // per-line steps are only marked where a failure could be made to happen in them.
    const QuoteRule selected = rule.rule();
    // Where no fault can be made to happen in a step, the lines' steps change nothing but the
    // line the run's trap shows, which is the same after one line as after many: the lines
    // are then not visited one by one, and each block goes through in one pass.
    const bool passing = !Trap::injectingFaults();
    OutputEncoding encoding = encodingNow();
    bool outputFailed = false;
    bool readFailed = false;
    QString notText;
    std::optional<ByteQuoteReplacer> byteRule;
    // A pure-ASCII file taken for UTF-8 comes out the same as the code page would give it,
    // unless what a straight quote becomes is not ASCII.
    bool resultAscii = true;
    for (const QChar c : rule.result(0))
        resultAscii = resultAscii && c.unicode() < 0x80;

    PieceOut out;
    out.rule = &rule;
    out.outputFailed = &outputFailed;
    if (!passing)
        out.onLine = [&] {
            if (!read.lineRead())
                throw ReadStopped{};
            if (steps) {
                steps->reach(run_lines::TakeLine);
                reachRuleSteps(*steps, selected);
                steps->reach(utf8Route ? run_lines::Utf8Append : run_lines::StreamAppend);
                if (utf8Route)
                    steps->reach(run_lines::Utf8Appended);
            }
        };
    BlockLines<char, PieceOut> byteLines(utf8Route, out);
    BlockLines<char16_t, PieceOut> unitLines(utf8Route, out);

    const TextPieces transformAll = [&](PieceSink& sink) {
        out.sink = &sink;
        const auto setUp = [&] {
            if (blocks.inBytes())
                out.byteRule = &byteRule.emplace(rule, encoding);
            out.passing = passing && out.startPassing(!blocks.inBytes(), utf8Route, encoding);
        };
        const auto startOver = [&] {
            encoding = encodingNow();
            out.output([&] {
                sink.restart(encoding);
                return true;
            });
            byteLines.reset();
            unitLines.reset();
            out.runLength = 0;
            setUp();
        };
        setUp();
        if (passing && steps) {
            steps->reach(run_lines::TakeLine);
            reachRuleSteps(*steps, selected);
            steps->reach(utf8Route ? run_lines::Utf8Append : run_lines::StreamAppend);
            if (utf8Route)
                steps->reach(run_lines::Utf8Appended);
        }
        bool refused = false;
        qint64 blocksRead = 0;
        for (;;) {
            switch (next) {
            case SourceBlocks::Next::Block:
                if (refused)
                    break; // only read on, in case the rest turns out not to be text
                try {
                    if (blocks.inBytes()) {
                        const QByteArrayView bytes = blocks.bytes();
                        if (out.passing)
                            byteLines.pass(bytes.data(), bytes.size());
                        else
                            byteLines.block(bytes.data(), bytes.size());
                        out.flush(); // the block's buffer is read into again
                    } else {
                        const QStringView units = blocks.units();
                        if (out.passing) {
                            unitLines.pass(units.utf16(), units.size());
                            out.flush();
                        } else {
                            unitLines.block(units.utf16(), units.size());
                        }
                    }
                } catch (const OutputRefused&) {
                    refused = true;
                }
                if (afterBlock)
                    afterBlock(++blocksRead * ReadBlockSize());
                break;
            case SourceBlocks::Next::Restart:
                // The file is read again in another encoding: a refusal in the old one no
                // longer holds.
                refused = false;
                blocksRead = 0;
                startOver();
                break;
            case SourceBlocks::Next::NotText:
                notText = blocks.notText();
                return false;
            case SourceBlocks::Next::End:
                if (encodingNow() != encoding && !resultAscii) {
                    refused = false;
                    blocks.restartAsCodePage();
                    startOver();
                    break;
                }
                if (refused) {
                    encoding = encodingNow();
                    return false;
                }
                encoding = encodingNow();
                try {
                    if (blocks.inBytes())
                        byteLines.finish();
                    else
                        unitLines.finish();
                    out.flush();
                } catch (const OutputRefused&) {
                    return false;
                }
                return true;
            }
            next = read.next();
            if (read.status() != ReadStatus::Read) {
                readFailed = true;
                return false;
            }
        }
    };
    std::exception_ptr stepFailure;
    const TextPieces transformed = [&](PieceSink& sink) {
        try {
            if (steps)
                steps->reach(run_lines::LoopStart);
            if (!transformAll(sink))
                return false;
            if (steps && utf8Route) {
                steps->reach(run_lines::Utf8WriteTest);
                steps->reach(run_lines::Utf8Write);
            }
            return true;
        } catch (const ReadStopped&) {
            readFailed = true;
            return false;
        } catch (...) {
            if (outputFailed || !steps)
                throw;
            stepFailure = std::current_exception();
            return false;
        }
    };
    const WriteResult written =
        utf8Route ? WriteFileToStringUTF(outputPath, transformed, prompts, where)
                  : WritePiecesFSO(outputPath, encoding, transformed, prompts, where);
    read.finish();
    if (stepFailure)
        std::rethrow_exception(stepFailure);
    if (readFailed || read.status() != ReadStatus::Read)
        return notRead;
    if (!notText.isEmpty())
        return {FileOutcome::NotText, notText};
    switch (written) {
    case WriteResult::Written:
        return {FileOutcome::Written, {}};
    case WriteResult::Unchanged:
        return {FileOutcome::Unchanged, {}};
    case WriteResult::CannotHold:
        return {FileOutcome::CannotHold, CannotHoldReason(encoding)};
    case WriteResult::Changed:
        return {FileOutcome::Changed, QStringLiteral("it changed while it was being processed")};
    case WriteResult::InUse: // reported as a failure to write, as a change is
        return {FileOutcome::Changed, inUse.reason};
    case WriteResult::Failed:
        break;
    }
    return {FileOutcome::NotWritten, QStringLiteral("it could not be written")};
}

} // namespace parvello
