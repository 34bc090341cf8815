// One block of a file's text after another through the rule, line ends made CR LF (or LF, or
// kept as they stand): line by line, or in one vector pass over the whole block where the
// output's stage allows it.
#pragma once

#include "textio/textscan.h"

#include "base/portable.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace parvello {

// The lines of a text that comes in blocks, each line written as it is read and ended
// with CR LF (with LF where lf is set). With crLfOnly unset (the text-stream road, and any
// road whose lines end in LF) a line ends at CR LF, at a lone LF or at a lone CR; with it set
// (the UTF-8 road, and a text whose breaks are kept) at CR LF only: a lone CR or LF stays in
// its line, and the file's own CR LF goes out as it is. A final line break gives no extra
// line, an empty text one empty line; without endLast nothing is added at the end (every
// break then stays as it stands). Content goes through the rule. Unit is char for a text left
// in its bytes, char16_t for decoded text. Out has content(units, n) and raw(units, n).
template <class Unit, class Out> class BlockLines {
public:
    BlockLines(bool crLfOnly, Out& out, bool lf = false, bool endLast = true)
        : crLfOnly_(crLfOnly), lf_(lf), endLast_(endLast), out_(&out) {}

    void reset() { *this = BlockLines(crLfOnly_, *out_, lf_, endLast_); }

    void block(const Unit* u, std::ptrdiff_t n) {
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
    void pass(const Unit* u, std::ptrdiff_t n) {
        if (n == 0)
            return;
        any_ = true;
        std::ptrdiff_t i = 0;
        if (!crLfOnly_ && std::exchange(pendingCr_, false) && u[0] == Unit('\n'))
            i = 1; // the rest of a CR LF written whole at its CR
        if (const StopUnits<Unit>* const stops = out_->stops(u))
            passToStops(u, n, i, *stops);
        else
            out_->put(u + i, n - i);
        beforeLast_ = n >= 2 ? u[n - 2] : last_;
        last_ = u[n - 1];
    }

private:
    // The pass where something stops the copy: groups of quotes first where the processor
    // takes them, then sixty-four bytes, then sixteen, then one unit at a time.
    PARVELLO_ALWAYS_INLINE void passToStops(const Unit* u, std::ptrdiff_t n, std::ptrdiff_t i,
                                            const StopUnits<Unit>& stops) {
        std::ptrdiff_t from = i; // where the quote that ends at a stop may begin
        Unit* o = out_->stageEnd(u);
        Unit* limit = out_->stageLimit(u);
        if (out_->quotesPass)
            passInGroups(u, n, i, o, from, limit);
        if (stops.vectors()) {
            passInQuads(u, n, i, o, from, limit, stops);
            constexpr std::ptrdiff_t width = StopUnits<Unit>::Width;
            while (i + width <= n) {
                roomFor(u, o, limit);
                const unsigned mask = stops.mask(u + i);
                std::memcpy(o, u + i, 16);
                if (!mask) {
                    o += width;
                    i += width;
                    continue;
                }
                const std::ptrdiff_t k = std::countr_zero(mask) / std::ptrdiff_t(sizeof(Unit));
                o += k;
                i += k;
                stop(u, n, i, o, from);
            }
        }
        while (i < n) {
            roomFor(u, o, limit);
            if (stops.isStop(u[i]))
                stop(u, n, i, o, from);
            else
                *o++ = u[i++];
        }
        out_->setStageEnd(o);
        // A CR at the end is a stop on the text-stream road; the LF that may follow it in the
        // next block belongs to it.
        pendingCr_ = !crLfOnly_ && u[n - 1] == Unit('\r');
    }

    // Hands the stage on when the next stop might not fit. The units of a quote before its
    // last one were copied already; they stay in the stage when it is handed on early.
    PARVELLO_ALWAYS_INLINE void roomFor(const Unit* u, Unit*& o, Unit*& limit) {
        constexpr std::ptrdiff_t keep = sizeof(Unit) == 1 ? 2 : 0;
        if (o > limit) {
            o = out_->flushStage(o, keep);
            limit = out_->stageLimit(u);
        }
    }

    // Sixty-four bytes at a time, while a copy of that many from anywhere in them stays
    // inside the block: the stretch before each stop is copied whole, without a loop, and the
    // stops are taken from one mask.
    PARVELLO_ALWAYS_INLINE void passInQuads(const Unit* u, std::ptrdiff_t n, std::ptrdiff_t& i,
                                            Unit*& o, std::ptrdiff_t& from, Unit*& limit,
                                            const StopUnits<Unit>& stops) {
        constexpr std::ptrdiff_t width = StopUnits<Unit>::Width;
        constexpr std::ptrdiff_t quad = 4 * width;
        const auto copyQuad = [&](std::ptrdiff_t to) {
            std::memcpy(o, u + i, 64);
            o += to - i;
            i = to;
        };
        // The CR bit of the unit before these, at bit 0.
        std::uint64_t crBefore = 0;
        for (std::ptrdiff_t base = i; base + 2 * quad <= n; base += quad) {
            std::uint64_t mask = 0;
            std::uint64_t cr = 0;
            std::uint64_t lf = 0;
            for (int k = 0; k < 4; ++k) {
                unsigned crBits = 0;
                unsigned lfBits = 0;
                mask |= std::uint64_t(stops.mask(u + base + k * width, crBits, lfBits)) << 16 * k;
                cr |= std::uint64_t(crBits) << 16 * k;
                lf |= std::uint64_t(lfBits) << 16 * k;
            }
            if (!crLfOnly_) {
                // An LF right after a CR goes out with it, at the CR's stop: each stop is
                // then the next bit, whatever the stop before it took.
                mask &= ~(lf & (cr << sizeof(Unit) | crBefore));
                crBefore = cr >> (64 - sizeof(Unit));
            }
            if (i > base) // past a CR LF that crossed into these units
                mask &= ~std::uint64_t(0) << ((i - base) * std::ptrdiff_t(sizeof(Unit)));
            for (; mask; mask &= mask - 1) {
                roomFor(u, o, limit);
                copyQuad(base + std::countr_zero(mask) / std::ptrdiff_t(sizeof(Unit)));
                stop(u, n, i, o, from);
            }
            if (i < base + quad) {
                roomFor(u, o, limit);
                copyQuad(base + quad);
            }
        }
    }

public:
    // The start of a pass for a rule that the vector pass serves (see fillPassQuotes), where
    // the processor has it: whole groups of 64 bytes (32 units of decoded text) at a time, the
    // stage handed on between calls as the stops do. On the text-stream road each group needs
    // the unit after it, and the pass stops early before a group with two line ends to make
    // between two kept units; the stops take the rest of the block.
    void passInGroups(const Unit* u, std::ptrdiff_t n, std::ptrdiff_t& i, Unit*& o,
                      std::ptrdiff_t& from, Unit*& limit) {
        // A quote's first bytes, taken back by its last (the family's units are whole quotes).
        constexpr std::ptrdiff_t keep = sizeof(Unit) == 1 ? 2 : 0;
        constexpr std::ptrdiff_t group = 64 / std::ptrdiff_t(sizeof(Unit)); // units read at a time
        constexpr std::ptrdiff_t most = 2 * group;                          // and written at most
        const bool lineBreaks = !crLfOnly_;
        const std::ptrdiff_t last = lineBreaks ? n - 1 : n;
        QuotesPassCarry carry;
        Unit* const stageEnd = out_->stageBytesEnd(u);
        while (i + group <= last) {
            if (o > limit || stageEnd - o < 2 * most) {
                o = out_->flushStage(o, keep);
                limit = out_->stageLimit(u);
            }
            // Each group may store up to most units past where it ends.
            const std::ptrdiff_t groups =
                std::max<std::ptrdiff_t>(1, (std::min(limit, stageEnd - most) - o) / most);
            const std::ptrdiff_t end = std::min(last, i + group * groups);
            std::ptrdiff_t at = i;
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
                carry = {.changed = carry.changed};
                ++i;
            }
            if (at + group <= end) // stopped before a group it leaves to the stops
                break;
        }
        out_->quotesChanged_ += carry.changed;
        from = std::max(from, i - keep); // a quote's first bytes are never stops
    }

    // At the stop u[i] of a pass: a line break goes out as the line end, a quote as what it
    // becomes; i moves past it, o past what was written for it.
    PARVELLO_ALWAYS_INLINE void stop(const Unit* u, std::ptrdiff_t n, std::ptrdiff_t& i, Unit*& o,
                                     std::ptrdiff_t& from) {
        if (out_->stopsLookedUp) {
            tableStop(u, n, i, o, from);
            return;
        }
        searchedStop(u, n, i, o, from);
    }

    // The same for decoded text: the stop is a line break or one of the family's three
    // quotes, and the action to take is chosen without a branch on which.
    PARVELLO_ALWAYS_INLINE void tableStop(const char16_t* u, std::ptrdiff_t n, std::ptrdiff_t& i,
                                          char16_t*& o, std::ptrdiff_t& from) {
        const auto& t = out_->unitTable;
        const char16_t c = u[i];
        const bool lineBreak = int(c == u'\r') | int(c == u'\n');
        const unsigned q = unsigned(c == t.family[1]) | unsigned(c == t.family[2]) << 1;
        const auto& action = t.actions[lineBreak ? 3 : q];
        std::memcpy(o, action.units, sizeof action.units);
        o += action.length;
        out_->quotesChanged_ += action.changes;
        const bool crLf = c == u'\r' && i + 1 < n && u[i + 1] == u'\n';
        i += crLf ? 2 : 1;
        from = i;
    }

    // The same for the byte road with the output's table: what the byte becomes is looked
    // up, and only whether a quote's first bytes stand before its last one is compared.
    PARVELLO_ALWAYS_INLINE void tableStop(const char* u, std::ptrdiff_t n, std::ptrdiff_t& i,
                                          char*& o, std::ptrdiff_t& from) {
        static constexpr char noBytes[2] = {};
        const auto& t = *out_->stopTable;
        const unsigned char c = static_cast<unsigned char>(u[i]);
        // The two bytes before, or none where they would lie before the quote may begin
        // (chosen without a branch: whether a stop is a quote of three bytes is not
        // predictable).
        std::uint16_t two;
        std::memcpy(&two, i >= from + 2 ? u + i - 2 : noBytes, 2);
        const bool whole = int(t.before[c] == 0) | int(two == t.prefix[c]);
        const auto& action = t.actions[c + (whole ? 0u : 256u)];
        std::memcpy(o - action.back, action.bytes, sizeof action.bytes);
        o += action.length - action.back;
        out_->quotesChanged_ += action.changes;
        const bool crLf = c == '\r' && i + 1 < n && u[i + 1] == '\n';
        i += crLf ? 2 : 1;
        from = action.ends ? i : from;
    }

    PARVELLO_ALWAYS_INLINE void searchedStop(const Unit* u, std::ptrdiff_t n, std::ptrdiff_t& i,
                                             Unit*& o, std::ptrdiff_t& from) {
        const Unit c = u[i];
        if (c != Unit('\r') && c != Unit('\n')) {
            i = out_->quote(u, from, i, o);
            return;
        }
        if (!lf_)
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
            if (endLast_ && (!any_ || beforeLast_ != Unit('\r') || last_ != Unit('\n')))
                endLine();
        } else if (endLast_ && (!any_ || (last_ != Unit('\r') && last_ != Unit('\n')))) {
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
    static std::ptrdiff_t findBreak(const Unit* u, std::ptrdiff_t n, bool crOnly) {
        if constexpr (std::is_same_v<Unit, char>)
            return crOnly ? FindCarriageReturnByte(u, n) : FindLineBreakByte(u, n);
        else
            return crOnly ? FindCarriageReturn(u, n) : FindLineBreak(u, n);
    }

    // CR LF, or its LF alone.
    void endLine() { out_->raw(crLf() + int(lf_), 2 - int(lf_)); }

    void anyBreakBlock(const Unit* u, std::ptrdiff_t n) {
        std::ptrdiff_t pos = 0;
        // A CR LF cut by the end of the last block was written whole at its CR.
        if (std::exchange(pendingCr_, false) && u[0] == Unit('\n'))
            pos = 1;
        while (pos < n) {
            const std::ptrdiff_t at = pos + findBreak(u + pos, n - pos, false);
            if (at >= n) {
                out_->content(u + pos, n - pos);
                return;
            }
            out_->content(u + pos, at - pos);
            if (u[at] == Unit('\r') && at + 1 < n && u[at + 1] == Unit('\n')) {
                if (lf_)
                    endLine();
                else
                    out_->raw(u + at, 2);
                pos = at + 2;
            } else {
                endLine();
                pendingCr_ = u[at] == Unit('\r') && at + 1 == n;
                pos = at + 1;
            }
        }
    }

    void crLfBlock(const Unit* u, std::ptrdiff_t n) {
        std::ptrdiff_t start = 0;
        if (std::exchange(pendingCr_, false)) {
            if (u[0] == Unit('\n')) {
                out_->raw(crLf(), 2);
                start = 1;
            } else {
                out_->raw(cr(), 1);
            }
        }
        for (std::ptrdiff_t search = start;;) {
            const std::ptrdiff_t at = search + findBreak(u + search, n - search, true);
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
                start = search = at + 2;
            }
        }
    }

    bool crLfOnly_;
    bool lf_;      // lines end with LF, not CR LF
    bool endLast_; // the last line gains its end, an empty text one
    Out* out_;
    bool any_ = false;
    bool pendingCr_ = false; // the last block ended with a CR
    Unit last_ = 0;
    Unit beforeLast_ = 0;
};

} // namespace parvello
