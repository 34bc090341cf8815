// The output side of one file's run: the pieces of its lines on their way to the writer.
#pragma once

#include "base/portable.h"
#include "quotes/quoterule.h"
#include "textio/bufferpool.h"
#include "textio/textencoder.h"
#include "textio/textscan.h"
#include "textio/textsource.h"
#include "textio/writing.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

namespace parvello {

template <class Unit, class Out> class BlockLines;

// Where the pieces of a file's lines go on their way to the output: unchanged stretches of
// bytes are joined into one piece, and the whole-block pass gathers what it writes in a stage
// that is handed to the output a block at a time. Once the output has refused a piece (its
// encoding cannot hold it), nothing more is handed on and refused() says so.
class StagedOutput {
public:
    explicit StagedOutput(const QuoteReplacer& rule) : rule_(&rule) {}

    // Starts a file's output (again, after a restart in another encoding): the pieces go to
    // sink, and the pass is set up for the road (see setUpPass); with lf, a line break that
    // stops the pass becomes LF instead of CR LF.
    void begin(PieceSink& sink, bool units, bool crLfOnly, OutputEncoding encoding,
               const ByteQuoteReplacer* byteRule, bool lf = false) {
        sink_ = &sink;
        byteRule_ = byteRule;
        lf_ = lf;
        runLength_ = 0;
        refused_ = false;
        quotesChanged_ = 0;
        passing_ = setUpPass(units, crLfOnly, encoding);
    }
    // Whether each block goes through in one pass (else line by line: a result too long for
    // the stage).
    bool passing() const { return passing_; }
    bool refused() const { return refused_; }
    // How many of the rule's quotes the pieces so far changed (a quote that becomes itself
    // is not counted); after a refusal, counted on by countQuotes().
    std::int64_t quotesChanged() const { return quotesChanged_; }
    // Counts the quotes of text that is not handed on: the rest of a file once the output
    // has refused a piece.
    void countQuotes(const char* bytes, std::ptrdiff_t n) {
        byteRule_->forEachPiece(
            std::string_view(bytes, size_t(n)), [](std::string_view) { return true; },
            [](std::u16string_view) { return true; }, &quotesChanged_);
    }
    void countQuotes(const char16_t* units, std::ptrdiff_t n) {
        rule_->forEachPiece(
            std::u16string_view(units, size_t(n)), [](std::u16string_view) { return true; },
            &quotesChanged_);
    }
    // Hands on everything gathered so far. False once the output has refused a piece.
    bool flush() {
        flushStage();
        if (runLength_ > 0 && !refused_)
            give(sink_->appendBytes({runStart_, size_t(std::exchange(runLength_, 0))}));
        return !refused_;
    }

private:
    template <class, class> friend class BlockLines;

    void give(bool taken) { refused_ = refused_ || !taken; }
    bool appendText(std::u16string_view piece) {
        if (flush())
            give(sink_->append(piece));
        return !refused_;
    }
    bool appendBytes(std::string_view piece) {
        if (runLength_ > 0 && piece.data() == runStart_ + runLength_) {
            runLength_ += std::ptrdiff_t(piece.size());
            return true;
        }
        if (!flush())
            return false;
        runStart_ = piece.data();
        runLength_ = std::ptrdiff_t(piece.size());
        return true;
    }

    // The whole-block pass (see BlockLines::pass): unchanged stretches, line ends and what
    // the quotes become are gathered in stage and handed to the output a block at a time.
    // stops() is null where nothing stops the copy.
    bool unitStage = false; // stage holds char16_t
    PooledBuffer stage{0};
    std::ptrdiff_t staged = 0; // bytes in stage
    std::ptrdiff_t limit = 0;  // see stageLimit()
    std::optional<StopUnits<char>> byteStops;
    std::optional<StopUnits<char16_t>> unitStops;

    // On the byte road, what each stop byte turns into, looked up instead of searched for,
    // so that a stop costs no branch on what it is: a line break becomes CR LF, the last
    // byte of a quote its result over the quote's bytes before it, any other byte itself.
    struct StopAction {
        char bytes[16] = {}; // written at the output, back bytes before where it stands
        std::int8_t length = 0;
        std::int8_t back = 0; // the quote's bytes before its last one, copied already
        bool ends = false;    // a line break or a quote: the next quote begins after it
        bool changes = false; // a whole quote that becomes something else than itself
    };
    struct StopTable {
        // [byte] where the byte ends its quote (or is a line break), [256 + byte] where
        // the bytes before it are not the rest of the quote.
        std::array<StopAction, 512> actions;
        std::array<std::int8_t, 256> before{};   // a quote's bytes before its last one: 0 or 2
        std::array<std::uint16_t, 256> prefix{}; // those two bytes, as they lie in memory
    };
    std::unique_ptr<StopTable> stopTable;
    // Whether what each stop becomes is looked up in the tables above (stopTable, unitTable)
    // rather than searched for in the rule.
    bool stopsLookedUp = false;
    // A rule whose quotes go, become one unit or change only their last byte goes through the
    // vector step where the processor has it.
    bool quotesPass = false;
    PassQuotes passQuotes;

    // Fills the rule for the vector pass (false where it cannot say it: a result that is not
    // nothing, one byte or the quote with another last byte, or that holds a line break).
    bool fillPassQuotes();
    // The same for decoded text: each result nothing or one unit that is no line break.
    PassUnits passUnits;
    bool fillPassUnits();
    // For decoded text: what each of the family's quotes becomes, and the line end for a
    // line break ([3]).
    struct UnitAction {
        char16_t units[8] = {};
        std::ptrdiff_t length = 0;
        bool changes = false; // a quote that becomes something else than itself
    };
    struct UnitTable {
        std::array<char16_t, 3> family{};
        std::array<UnitAction, 4> actions;
    } unitTable;

    bool fillUnitTable();

    // Fills the table for the byte rule (false where it cannot say it: a quote of another
    // length, two quotes ending in the same byte, or a result that is long or not in the
    // output's encoding).
    bool fillStopTable(bool crLfOnly);
    static constexpr std::ptrdiff_t StageBytes = 2 * LoadChunkSize;
    // Longer results go the way of single lines (a stop must fit in the stage).
    static constexpr std::ptrdiff_t LongestResult = 4096;

    // Sets the pass up for the rule and road (false: results too long for it); the stops
    // are the line breaks (unless crLfOnly) and the last unit of each quote the rule looks
    // for.
    bool setUpPass(bool units, bool crLfOnly, OutputEncoding encoding);
    // Decoded text whose units in memory already are the output's bytes (UTF-16 LE on a
    // little-endian processor) goes out as bytes, without being encoded again: the source
    // was checked for unpaired surrogates as it was read, and so were the results here.
    bool unitsAreOutput = false;

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
    template <class Unit> Unit* flushStage(Unit* at, std::ptrdiff_t keep) {
        setStageEnd(at - keep);
        flushStage();
        std::memmove(stage.data(), at - keep, size_t(keep) * sizeof(Unit));
        staged = keep * std::ptrdiff_t(sizeof(Unit));
        return stageEnd(at);
    }
    template <class Unit> void put(const Unit* units, std::ptrdiff_t n) {
        const std::ptrdiff_t bytes = n * std::ptrdiff_t(sizeof(Unit));
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
    void hand(const char* bytes, std::ptrdiff_t n) {
        if (!refused_)
            give(sink_->appendBytes({bytes, size_t(n)}));
    }
    void hand(const char16_t* units, std::ptrdiff_t n) {
        if (refused_)
            return;
        if (unitsAreOutput)
            give(sink_->appendBytes({reinterpret_cast<const char*>(units), size_t(2 * n)}));
        else
            give(sink_->append({units, size_t(n)}));
    }
    void flushStage() {
        if (staged == 0)
            return;
        const std::ptrdiff_t bytes = std::exchange(staged, 0);
        if (unitStage)
            hand(reinterpret_cast<const char16_t*>(stage.data()), bytes / 2);
        else
            hand(stage.data(), bytes);
    }
    // At a stop that is not a line break: the last byte of a quote of the rule, which goes
    // out as what it becomes (its bytes before the last one are taken back from o), or of
    // another character, which goes out as it is. Returns where the pass goes on.
    PARVELLO_ALWAYS_INLINE std::ptrdiff_t quote(const char* bytes, std::ptrdiff_t& from,
                                                std::ptrdiff_t at, char*& o) {
        const int q = byteRule_->quoteEndingAt(bytes, from, at);
        if (q < 0) {
            *o++ = bytes[at];
            return at + 1;
        }
        o -= byteRule_->quoteLength(q) - 1;
        quotesChanged_ += byteRule_->changes(q);
        if (byteRule_->resultEncodable(q)) {
            const std::string_view result = byteRule_->resultBytes(q);
            if (!result.empty())
                std::memcpy(o, result.data(), result.size());
            o += result.size();
        } else {
            setStageEnd(o);
            flushStage();
            hand(byteRule_->resultText(q).data(), std::ptrdiff_t(byteRule_->resultText(q).size()));
            o = stageEnd(bytes);
        }
        from = at + 1;
        return from;
    }
    PARVELLO_ALWAYS_INLINE std::ptrdiff_t quote(const char16_t* units, std::ptrdiff_t& from,
                                                std::ptrdiff_t at, char16_t*& o) {
        const std::array<char16_t, 3>& family = rule_->family();
        const char16_t c = units[at];
        const size_t q = c == family[0] ? 0 : c == family[1] ? 1 : 2;
        quotesChanged_ += rule_->changes(q);
        const std::u16string_view result = rule_->result(q);
        if (!result.empty())
            std::memcpy(o, result.data(), result.size() * 2);
        o += result.size();
        from = at + 1;
        return from;
    }

    // A line's content through the rule; where the output refuses a piece, the line's
    // quotes are counted whole apart.
    void content(const char* bytes, std::ptrdiff_t n) {
        std::int64_t changed = 0;
        if (n > 0 && !byteRule_->forEachPiece(
                         std::string_view(bytes, size_t(n)),
                         [&](std::string_view b) { return appendBytes(b); },
                         [&](std::u16string_view t) { return appendText(t); }, &changed))
            return countQuotes(bytes, n);
        quotesChanged_ += changed;
    }
    void raw(const char* bytes, std::ptrdiff_t n) {
        if (passing_)
            put(bytes, n);
        else
            appendBytes({bytes, size_t(n)});
    }
    void content(const char16_t* units, std::ptrdiff_t n) {
        std::int64_t changed = 0;
        if (n > 0 && !rule_->forEachPiece(
                         std::u16string_view(units, size_t(n)),
                         [&](std::u16string_view t) { return appendText(t); }, &changed))
            return countQuotes(units, n);
        quotesChanged_ += changed;
    }
    void raw(const char16_t* units, std::ptrdiff_t n) {
        if (passing_)
            put(units, n);
        else
            appendText({units, size_t(n)});
    }

    const QuoteReplacer* rule_;
    const ByteQuoteReplacer* byteRule_ = nullptr;
    PieceSink* sink_ = nullptr;
    bool lf_ = false; // line ends are LF
    bool passing_ = false;
    bool refused_ = false;
    std::int64_t quotesChanged_ = 0;
    // Bytes that lie one after the other go to the output as one piece: most of a file
    // is copied in long stretches, line breaks that already are CR LF included.
    const char* runStart_ = nullptr;
    std::ptrdiff_t runLength_ = 0;
};

} // namespace parvello
