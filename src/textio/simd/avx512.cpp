// The AVX-512 levels: with VBMI, the UTF-8 check 64 bytes at a time; with VBMI2 also, the
// quotes pass 64 bytes a group with compress and expand, with no branch on where the quotes
// and line breaks are. The searches gain nothing from the wider vectors: these levels take
// the AVX2 ones. Every function carries its level's target.
#include "textio/simd/entries.h"

#if PARVELLO_X86_VECTORS
#include "textio/simd/passbits.h"
#include "textio/simd/utf8tables.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace parvello::simd::avx512 {

namespace {
using namespace utf8check;

// ---- The UTF-8 check of the AVX2 level (avx2.cpp), 64 bytes at a time. ----

PARVELLO_TARGET_AVX512VBMI inline __m512i table512(const std::uint8_t (&entries)[16]) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The error bits of one block of 64 given the block before it; before[n] picks each byte's
// n-th byte before it out of the two blocks.
PARVELLO_TARGET_AVX512VBMI inline __m512i blockErrors512(__m512i input, __m512i previous,
                                                         const __m512i (&before)[4]) {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i prev1 = _mm512_permutex2var_epi8(previous, before[1], input);
    const __m512i byte1High = _mm512_shuffle_epi8(
        table512(Byte1High), _mm512_and_si512(_mm512_srli_epi16(prev1, 4), nibble));
    const __m512i byte1Low =
        _mm512_shuffle_epi8(table512(Byte1Low), _mm512_and_si512(prev1, nibble));
    const __m512i byte2High = _mm512_shuffle_epi8(
        table512(Byte2High), _mm512_and_si512(_mm512_srli_epi16(input, 4), nibble));
    const __m512i special = _mm512_and_si512(_mm512_and_si512(byte1High, byte1Low), byte2High);
    const __m512i third = _mm512_subs_epu8(_mm512_permutex2var_epi8(previous, before[2], input),
                                           _mm512_set1_epi8(char(0xE0 - 0x80)));
    const __m512i fourth = _mm512_subs_epu8(_mm512_permutex2var_epi8(previous, before[3], input),
                                            _mm512_set1_epi8(char(0xF0 - 0x80)));
    const __m512i must23 =
        _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(char(0x80)));
    return _mm512_xor_si512(must23, special);
}

// Checks the whole blocks of 64 of in[from..n); from and the return value are multiples of
// 64 past the start. Returns false at the first block with an error.
PARVELLO_TARGET_AVX512VBMI bool checkBlocks512(const unsigned char* in, std::ptrdiff_t& from,
                                               std::ptrdiff_t n, bool& nonAscii) {
    __m512i before[4];
    for (int k = 1; k < 4; ++k) {
        alignas(64) std::uint8_t index[64];
        for (int b = 0; b < 64; ++b)
            index[b] = std::uint8_t(64 - k + b); // from 64 on: input
        before[k] = _mm512_load_si512(index);
    }
    __m512i previous = from >= 64 ? _mm512_loadu_si512(in + from - 64) : _mm512_setzero_si512();
    __m512i errors = _mm512_setzero_si512();
    __m512i high = _mm512_setzero_si512();
    for (; from + 64 <= n; from += 64) {
        const __m512i input = _mm512_loadu_si512(in + from);
        errors = _mm512_or_si512(errors, blockErrors512(input, previous, before));
        high = _mm512_or_si512(high, input);
        previous = input;
    }
    nonAscii = nonAscii || _mm512_movepi8_mask(high) != 0;
    return _mm512_test_epi8_mask(errors, errors) == 0;
}

} // namespace

bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,
              bool& nonAscii) {
    return checkBlocks512(in, checked, filled, nonAscii);
}

// The rest padded with zero bytes, which also ends any sequence still open as too short.
PARVELLO_TARGET_AVX512VBMI bool finishUtf8(const unsigned char* in, std::ptrdiff_t& checked,
                                           std::ptrdiff_t total, bool& nonAscii) {
    alignas(64) unsigned char tail[128] = {};
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(checked - 64, 0);
    std::memcpy(tail + 64 - (checked - from), in + from, size_t(total - from));
    std::ptrdiff_t at = 64;
    if (!checkBlocks512(tail, at, 128, nonAscii))
        return false;
    checked = total;
    return true;
}

// ---- The quotes pass (QuotesPass in textscan.h), with compress and expand. ----

namespace {

__extension__ typedef unsigned __int128 Bits128;

// The bits below bit count, for a count from 0 to 255 (all of them from 64 on).
PARVELLO_TARGET_AVX512VBMI2 inline std::uint64_t lowBits(int count) {
    return _bzhi_u64(~std::uint64_t(0), unsigned(count));
}

// The quotes in a group of 64 bytes, for the common rules in a shape that needs few
// comparisons, and for any rule. Each gives the bytes to remove, changes in v the last
// bytes of the quotes that stay (only where Changes), marks in changed the last byte of
// each quote counted as changed, tells how many bytes of a quote the group before wrote
// already that go, and carries what a quote cut by the group's end needs.

// What happens to one quote: drop (all its bytes go), dropFirst (its first bytes go),
// change (its last byte becomes last) and counted (it becomes something else than itself),
// each as all bits or none.
struct QuoteFate {
    std::uint64_t drop, dropFirst, change, counted;
    __m512i last;
    PARVELLO_TARGET_AVX512VBMI2 QuoteFate(const PassQuotes& quotes, size_t q)
        : drop(allWhere(quotes.kept[q] == 0)), dropFirst(allWhere(quotes.kept[q] <= 1)),
          change(allWhere(quotes.kept[q] > 0)), counted(allWhere(quotes.changes[q])),
          last(_mm512_set1_epi8(quotes.last[q])) {}
};

// Quotes of one byte each (a code page, or a family with one quote only).
template <bool Changes> struct SingleByteQuotes {
    __m512i quote[3];
    QuoteFate fate[3];
    static size_t presentOr(const PassQuotes& quotes, size_t q) {
        // A quote the encoding lacks compares, and goes, as another one of the family.
        size_t present = 0;
        while (quotes.length[present] == 0)
            ++present;
        return quotes.length[q] ? q : present;
    }
    struct Carry {};
    PARVELLO_TARGET_AVX512VBMI2 explicit SingleByteQuotes(const PassQuotes& quotes)
        : quote{_mm512_set1_epi8(quotes.bytes[presentOr(quotes, 0)][0]),
                _mm512_set1_epi8(quotes.bytes[presentOr(quotes, 1)][0]),
                _mm512_set1_epi8(quotes.bytes[presentOr(quotes, 2)][0])},
          fate{{quotes, presentOr(quotes, 0)},
               {quotes, presentOr(quotes, 1)},
               {quotes, presentOr(quotes, 2)}} {}
    static bool fits(const PassQuotes& quotes) {
        const auto& l = quotes.length;
        return l[0] <= 1 && l[1] <= 1 && l[2] <= 1 && l[0] + l[1] + l[2] > 0;
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    PARVELLO_TARGET_AVX512VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry&,
                                                      std::uint64_t& counted) const {
        takeBack = 0;
        if constexpr (!Changes) { // every quote goes
            counted = _mm512_cmpeq_epi8_mask(v, quote[0]) | _mm512_cmpeq_epi8_mask(v, quote[1]) |
                      _mm512_cmpeq_epi8_mask(v, quote[2]);
            return counted;
        }
        std::uint64_t removed = 0;
        counted = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint64_t at = _mm512_cmpeq_epi8_mask(v, quote[q]);
            removed |= at & fate[q].drop;
            counted |= at & fate[q].counted;
            changed = _mm512_mask_mov_epi8(changed, at & fate[q].change, fate[q].last);
        }
        v = changed;
        return removed;
    }
    void save(const Carry&, QuotesPassCarry&) const {}
};

// A quote of one byte and two of three bytes that begin with the same two (the UTF-8 family
// of the ASCII quote and its two curly ones).
template <bool Changes> struct OneAndTwoLongQuotes {
    __m512i single, first, second, lastA, lastB;
    QuoteFate fate[3];
    struct Carry {
        std::uint64_t firstBefore, secondBefore; // the long quotes' first bytes before the group
    };
    PARVELLO_TARGET_AVX512VBMI2 explicit OneAndTwoLongQuotes(const PassQuotes& quotes)
        : single(_mm512_set1_epi8(quotes.bytes[0][0])), first(_mm512_set1_epi8(quotes.bytes[1][0])),
          second(_mm512_set1_epi8(quotes.bytes[1][1])), lastA(_mm512_set1_epi8(quotes.bytes[1][2])),
          lastB(_mm512_set1_epi8(quotes.bytes[2][2])), fate{{quotes, 0}, {quotes, 1}, {quotes, 2}} {
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore[1], carry.secondBefore[1]};
    }
    static bool fits(const PassQuotes& quotes) {
        return quotes.length[0] == 1 && quotes.length[1] == 3 && quotes.length[2] == 3 &&
               quotes.bytes[1][0] == quotes.bytes[2][0] && quotes.bytes[1][1] == quotes.bytes[2][1];
    }
    PARVELLO_TARGET_AVX512VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry& c,
                                                      std::uint64_t& counted) const {
        const std::uint64_t singles = _mm512_cmpeq_epi8_mask(v, single);
        const std::uint64_t firsts = _mm512_cmpeq_epi8_mask(v, first);
        const std::uint64_t seconds = _mm512_cmpeq_epi8_mask(v, second);
        const std::uint64_t before =
            (seconds << 1 | c.secondBefore) & (firsts << 2 | c.firstBefore);
        const std::uint64_t endsA = _mm512_mask_cmpeq_epi8_mask(before, v, lastA);
        const std::uint64_t endsB = _mm512_mask_cmpeq_epi8_mask(before, v, lastB);
        c.firstBefore = firsts >> 62;
        c.secondBefore = seconds >> 63;
        if constexpr (!Changes) { // every quote goes
            const std::uint64_t ends = endsA | endsB;
            takeBack = takeBackFor(ends);
            counted = singles | ends;
            return singles | ends | ends >> 1 | ends >> 2;
        }
        counted =
            (singles & fate[0].counted) | (endsA & fate[1].counted) | (endsB & fate[2].counted);
        const std::uint64_t firstGone = (endsA & fate[1].dropFirst) | (endsB & fate[2].dropFirst);
        takeBack = takeBackFor(firstGone);
        v = _mm512_mask_mov_epi8(v, singles & fate[0].change, fate[0].last);
        v = _mm512_mask_mov_epi8(v, endsA & fate[1].change, fate[1].last);
        v = _mm512_mask_mov_epi8(v, endsB & fate[2].change, fate[2].last);
        return (singles & fate[0].drop) | (endsA & fate[1].drop) | (endsB & fate[2].drop) |
               firstGone >> 1 | firstGone >> 2;
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore[1] = c.firstBefore;
        carry.secondBefore[1] = c.secondBefore;
    }
};

// Any rule: each quote of one or three bytes compared on its own.
template <bool Changes> struct AnyQuotes {
    __m512i quoteBytes[3][3];
    QuoteFate fate[3];
    std::array<int, 3> length;
    struct Carry {
        std::array<std::uint64_t, 3> firstBefore;
        std::array<std::uint64_t, 3> secondBefore;
    };
    PARVELLO_TARGET_AVX512VBMI2 explicit AnyQuotes(const PassQuotes& quotes)
        : fate{{quotes, 0}, {quotes, 1}, {quotes, 2}}, length(quotes.length) {
        for (size_t q = 0; q < 3; ++q)
            for (size_t k = 0; k < 3; ++k)
                quoteBytes[q][k] = _mm512_set1_epi8(quotes.bytes[q][k]);
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore, carry.secondBefore};
    }
    PARVELLO_TARGET_AVX512VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry& c,
                                                      std::uint64_t& counted) const {
        std::uint64_t removed = 0;
        counted = 0;
        takeBack = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            std::uint64_t ends = 0;
            if (length[q] == 1) {
                ends = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][0]);
            } else if (length[q] == 3) {
                const std::uint64_t first = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][0]);
                const std::uint64_t second = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][1]);
                ends = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][2]) &
                       (second << 1 | c.secondBefore[q]) & (first << 2 | c.firstBefore[q]);
                const std::uint64_t firstGone = ends & fate[q].dropFirst;
                removed |= firstGone >> 1 | firstGone >> 2;
                takeBack = std::max(takeBack, takeBackFor(firstGone));
                c.firstBefore[q] = first >> 62;
                c.secondBefore[q] = second >> 63;
            }
            removed |= ends & fate[q].drop;
            counted |= ends & fate[q].counted;
            if constexpr (Changes)
                changed = _mm512_mask_mov_epi8(changed, ends & fate[q].change, fate[q].last);
        }
        v = changed;
        return removed;
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore = c.firstBefore;
        carry.secondBefore = c.secondBefore;
    }
};

// Decoded text: the family's quotes are one unit each, so nothing of a quote lies in the
// group before; each is removed or becomes one unit.
template <bool Changes> struct UnitQuotes {
    __m512i quote[3];
    __m512i becomes[3];
    std::uint32_t drop[3], countedAt[3];
    struct Carry {};
    PARVELLO_TARGET_AVX512VBMI2 explicit UnitQuotes(const PassUnits& quotes) {
        for (size_t q = 0; q < 3; ++q) {
            quote[q] = _mm512_set1_epi16(short(quotes.quotes[q]));
            becomes[q] = _mm512_set1_epi16(short(quotes.becomes[q]));
            drop[q] = quotes.removed[q] ? ~std::uint32_t(0) : 0;
            countedAt[q] = quotes.changes[q] ? ~std::uint32_t(0) : 0;
        }
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    PARVELLO_TARGET_AVX512VBMI2 std::uint32_t removed(__m512i& v, int& takeBack, Carry&,
                                                      std::uint32_t& counted) const {
        takeBack = 0;
        if constexpr (!Changes) { // every quote goes
            counted = _mm512_cmpeq_epi16_mask(v, quote[0]) | _mm512_cmpeq_epi16_mask(v, quote[1]) |
                      _mm512_cmpeq_epi16_mask(v, quote[2]);
            return counted;
        }
        std::uint32_t removed = 0;
        counted = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint32_t at = _mm512_cmpeq_epi16_mask(v, quote[q]);
            removed |= at & drop[q];
            counted |= at & countedAt[q];
            changed = _mm512_mask_mov_epi16(changed, at & ~drop[q], becomes[q]);
        }
        v = changed;
        return removed;
    }
    void save(const Carry&, QuotesPassCarry&) const {}
};

// The lanes of a group of 64 bytes: bytes, or UTF-16 units.
template <class Unit> struct Lanes;
template <> struct Lanes<char> {
    using Mask = std::uint64_t;
    static constexpr int Count = 64;
    PARVELLO_TARGET_AVX512VBMI2 static __m512i all(char c) { return _mm512_set1_epi8(c); }
    PARVELLO_TARGET_AVX512VBMI2 static Mask equal(__m512i a, __m512i b) {
        return _mm512_cmpeq_epi8_mask(a, b);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i compress(Mask m, __m512i v) {
        return _mm512_maskz_compress_epi8(m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i expand(Mask m, __m512i v) {
        return _mm512_maskz_expand_epi8(m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i expandOver(__m512i under, Mask m, __m512i v) {
        return _mm512_mask_expand_epi8(under, m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i blend(__m512i v, Mask m, __m512i with) {
        return _mm512_mask_mov_epi8(v, m, with);
    }
    PARVELLO_TARGET_AVX512VBMI2 static int count(Mask m) { return int(_mm_popcnt_u64(m)); }
    PARVELLO_TARGET_AVX512VBMI2 static Mask extract(Mask bits, Mask where) {
        return _pext_u64(bits, where);
    }
};
template <> struct Lanes<char16_t> {
    using Mask = std::uint32_t;
    static constexpr int Count = 32;
    PARVELLO_TARGET_AVX512VBMI2 static __m512i all(char16_t c) {
        return _mm512_set1_epi16(short(c));
    }
    PARVELLO_TARGET_AVX512VBMI2 static Mask equal(__m512i a, __m512i b) {
        return _mm512_cmpeq_epi16_mask(a, b);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i compress(Mask m, __m512i v) {
        return _mm512_maskz_compress_epi16(m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i expand(Mask m, __m512i v) {
        return _mm512_maskz_expand_epi16(m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i expandOver(__m512i under, Mask m, __m512i v) {
        return _mm512_mask_expand_epi16(under, m, v);
    }
    PARVELLO_TARGET_AVX512VBMI2 static __m512i blend(__m512i v, Mask m, __m512i with) {
        return _mm512_mask_mov_epi16(v, m, with);
    }
    PARVELLO_TARGET_AVX512VBMI2 static int count(Mask m) { return int(_mm_popcnt_u32(m)); }
    PARVELLO_TARGET_AVX512VBMI2 static Mask extract(Mask bits, Mask where) {
        return _pext_u32(bits, where);
    }
};

// Writes at o a group's kept units (packed: kept of them, marked by keep among the group's
// units) with each lone CR or LF of the group made CR LF, as input (the group as read), the
// unit after the group and whether the unit before was a CR (crBefore, updated) tell. False,
// with nothing written, where a removed quote stands between a lone CR and a lone LF.
template <class Unit>
PARVELLO_TARGET_AVX512VBMI2 PARVELLO_ALWAYS_INLINE bool
writeWithLineEnds(__m512i input, Unit after, __m512i packed, typename Lanes<Unit>::Mask keep,
                  int kept, typename Lanes<Unit>::Mask& crBefore, Unit*& o) {
    using L = Lanes<Unit>;
    using Mask = typename L::Mask;
    constexpr int count = L::Count;
    const __m512i cr = L::all(Unit('\r'));
    const __m512i lf = L::all(Unit('\n'));
    const Mask crs = L::equal(input, cr);
    const Mask lfs = L::equal(input, lf);
    const Mask lfAfter = lfs >> 1 | Mask(after == Unit('\n')) << (count - 1);
    const Mask loneLf = lfs & ~Mask(crs << 1 | crBefore);
    const Mask loneCr = crs & ~lfAfter;
    if ((loneLf | loneCr) == 0) { // no line end to make: every break already is CR LF
        crBefore = crs >> (count - 1);
        _mm512_storeu_si512(o, packed);
        o += kept;
        return true;
    }
    // Where a CR LF is to be made, counted among the kept units: a CR before a lone LF, an
    // LF after a lone CR (a slot before the kept unit that follows it).
    const Mask lfKept = L::extract(loneLf, keep);
    const Mask crKept = L::extract(loneCr, keep);
    if (lfKept & crKept << 1)
        return false; // a lone CR, a removed quote, a lone LF: two slots between two units
    crBefore = crs >> (count - 1);
    const Mask slots = lfKept | Mask(crKept << 1);
    // An LF after all of them: a lone CR as the last of all the group's units, kept.
    const Mask last = crKept >> (count - 1) & Mask(kept / count);
    if ((slots & (slots - 1)) == 0 && last == 0) {
        // One line end to make, the most common case: the kept units from the slot on move
        // one place up (the last of them lands past the group through the store of all of
        // them one place up), and the slot gets a CR before an LF, else an LF.
        const __m512i moved = L::expandOver(cr, Mask(~slots), packed);
        _mm512_storeu_si512(o + 1, packed);
        _mm512_storeu_si512(o, L::blend(moved, Mask(crKept << 1), lf));
        o += kept + 1;
        return true;
    }
    // Two bits a kept unit (a slot before it, the unit), each half of the group on its own,
    // the unused slots left out: the kept units' places among the written ones.
    constexpr int half = count / 2;
    const std::uint64_t even = 0x5555555555555555u & lowBits(count);
    const std::uint64_t odd = 0xAAAAAAAAAAAAAAAAu & lowBits(count);
    const std::uint64_t keptBits = lowBits(kept);
    const std::uint64_t spreadLow = _pdep_u64(slots, even) | _pdep_u64(keptBits, odd);
    const std::uint64_t spreadHigh =
        _pdep_u64(slots >> half, even) | _pdep_u64(keptBits >> half, odd);
    const int lowCount = int(_mm_popcnt_u64(spreadLow));
    const Bits128 places =
        Bits128(_pext_u64(odd, spreadHigh)) << lowCount | _pext_u64(odd, spreadLow);
    const Mask places0 = Mask(places);
    const Mask places1 = Mask(places >> count);
    const int length = kept + L::count(slots) + int(last);
    const int first = L::count(places0);
    __m512i out0 = L::expand(places0, packed);
    __m512i out1 = L::expand(places1, L::compress(Mask(~lowBits(first)), packed));
    // Each slot is a CR before an LF, else an LF after a CR.
    const Mask free0 = ~places0 & Mask(lowBits(length));
    const Mask free1 = ~places1 & Mask(lowBits(std::max(0, length - count)));
    const Mask lf0 = L::equal(out0, lf);
    const Mask lf1 = L::equal(out1, lf);
    const Mask cr0 = free0 & (lf0 >> 1 | Mask(lf1 << (count - 1)));
    const Mask cr1 = free1 & lf1 >> 1;
    out0 = L::blend(L::blend(out0, free0 & ~cr0, lf), cr0, cr);
    out1 = L::blend(L::blend(out1, free1 & ~cr1, lf), cr1, cr);
    _mm512_storeu_si512(o, out0);
    _mm512_storeu_si512(o + count, out1);
    o += length;
    return true;
}

// The pass over units[i..end) a group at a time, for the quotes of Quotes and Rule.
template <class Unit, class Quotes, class Rule>
PARVELLO_TARGET_AVX512VBMI2 std::ptrdiff_t
passGroups(const Unit* units, std::ptrdiff_t i, std::ptrdiff_t end, Unit*& out, const Rule& rule,
           bool lineBreaks, QuotesPassCarry& carry) {
    using L = Lanes<Unit>;
    // Whether the unit before the group was a CR, at bit 0.
    typename L::Mask crBefore = typename L::Mask(carry.crBefore);
    const Quotes quotes(rule);
    typename Quotes::Carry quoteCarry = quotes.load(carry);
    std::int64_t quotesChanged = carry.changed;
    Unit* o = out;
    for (; i + L::Count <= end; i += L::Count) {
        // The group as read (its line breaks), and as its quotes become.
        const __m512i input = _mm512_loadu_si512(units + i);
        __m512i v = input;
        // A group left to the caller leaves the quotes' carry as it was.
        typename Quotes::Carry next = quoteCarry;
        int takeBack = 0;             // units of a quote written with the group before that go
        typename L::Mask counted = 0; // the last units of the quotes counted as changed
        const typename L::Mask keep = ~quotes.removed(v, takeBack, next, counted);
        const int kept = L::count(keep);
        const __m512i packed = L::compress(keep, v);
        Unit* at = o - takeBack;
        if (!lineBreaks) {
            _mm512_storeu_si512(at, packed);
            at += kept;
        } else if (!writeWithLineEnds(input, units[i + L::Count], packed, keep, kept, crBefore,
                                      at)) {
            break;
        }
        o = at;
        quoteCarry = next;
        quotesChanged += L::count(counted);
    }
    carry.crBefore = crBefore;
    carry.changed = quotesChanged;
    quotes.save(quoteCarry, carry);
    out = o;
    return i;
}

} // namespace

std::ptrdiff_t quotesPassBytes(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t end, char*& out,
                               const PassQuotes& quotes, bool lineBreaks, QuotesPassCarry& carry) {
    const bool changes = quotes.kept[0] + quotes.kept[1] + quotes.kept[2] > 0;
    const auto pass = [&]<template <bool> class Quotes>() {
        return changes
                   ? passGroups<char, Quotes<true>>(bytes, i, end, out, quotes, lineBreaks, carry)
                   : passGroups<char, Quotes<false>>(bytes, i, end, out, quotes, lineBreaks, carry);
    };
    if (OneAndTwoLongQuotes<false>::fits(quotes))
        return pass.template operator()<OneAndTwoLongQuotes>();
    if (SingleByteQuotes<false>::fits(quotes))
        return pass.template operator()<SingleByteQuotes>();
    return pass.template operator()<AnyQuotes>();
}

std::ptrdiff_t quotesPassUnits(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t end,
                               char16_t*& out, const PassUnits& quotes, bool lineBreaks,
                               QuotesPassCarry& carry) {
    const bool changes = !quotes.removed[0] || !quotes.removed[1] || !quotes.removed[2];
    return changes ? passGroups<char16_t, UnitQuotes<true>>(units, i, end, out, quotes, lineBreaks,
                                                            carry)
                   : passGroups<char16_t, UnitQuotes<false>>(units, i, end, out, quotes, lineBreaks,
                                                             carry);
}

} // namespace parvello::simd::avx512
#endif
