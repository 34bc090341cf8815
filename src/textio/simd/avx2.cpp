// The AVX2 level: the searches and the UTF-8 encoding 32 bytes at a time, the UTF-8 check
// 32 bytes at a time, and the quotes pass 64 bytes a group. Every function carries the
// level's target, so the file is built like any other.
#include "textio/simd/entries.h"

#if PARVELLO_X86_VECTORS
#include "textio/simd/passbits.h"
#include "textio/simd/plain.h"
#include "textio/simd/utf8tables.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace parvello::simd::avx2 {

PARVELLO_TARGET_AVX2 std::ptrdiff_t findAnyOf3Bytes(const char* bytes, std::ptrdiff_t n,
                                                    const std::array<char, 3>& chars) {
    const __m256i a = _mm256_set1_epi8(chars[0]);
    const __m256i b = _mm256_set1_epi8(chars[1]);
    const __m256i c = _mm256_set1_epi8(chars[2]);
    std::ptrdiff_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, a), _mm256_cmpeq_epi8(v, b)),
                            _mm256_cmpeq_epi8(v, c));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hit)))
            return i + std::countr_zero(mask);
    }
    return i < n ? i + sse2::findAnyOf3Bytes(bytes + i, n - i, chars) : n;
}

PARVELLO_TARGET_AVX2 std::ptrdiff_t asciiPrefix(const char* bytes, std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i < n ? i + sse2::asciiPrefix(bytes + i, n - i) : n;
}

PARVELLO_TARGET_AVX2 std::ptrdiff_t findLineBreak(const char16_t* units, std::ptrdiff_t n) {
    const __m256i cr = _mm256_set1_epi16('\r');
    const __m256i lf = _mm256_set1_epi16('\n');
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const unsigned mask = unsigned(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi16(v, cr), _mm256_cmpeq_epi16(v, lf))));
        if (mask)
            return i + std::countr_zero(mask) / 2;
    }
    return findLineBreakFrom(units, i, n);
}

PARVELLO_TARGET_AVX2 std::ptrdiff_t findUnit(const char16_t* units, std::ptrdiff_t n,
                                             char16_t unit) {
    const __m256i wanted = _mm256_set1_epi16(static_cast<short>(unit));
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, wanted))))
            return i + std::countr_zero(mask) / 2;
    }
    return findUnitFrom(units, i, n, unit);
}

PARVELLO_TARGET_AVX2 std::ptrdiff_t findAnyOf3(const char16_t* units, std::ptrdiff_t n,
                                               const std::array<char16_t, 3>& chars) {
    const __m256i a = _mm256_set1_epi16(static_cast<short>(chars[0]));
    const __m256i b = _mm256_set1_epi16(static_cast<short>(chars[1]));
    const __m256i c = _mm256_set1_epi16(static_cast<short>(chars[2]));
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, a), _mm256_cmpeq_epi16(v, b)),
                            _mm256_cmpeq_epi16(v, c));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hit)))
            return i + std::countr_zero(mask) / 2;
    }
    if (i < n && n >= 16) {
        // The last sixteen units, of which the first ones were looked at already.
        const std::ptrdiff_t from = n - 16;
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + from));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, a), _mm256_cmpeq_epi16(v, b)),
                            _mm256_cmpeq_epi16(v, c));
        const unsigned mask = unsigned(_mm256_movemask_epi8(hit)) & (~0u << (2 * (i - from)));
        return mask ? from + std::countr_zero(mask) / 2 : n;
    }
    return i < n ? sse2::findAnyOf3(units, n, chars) : n;
}

PARVELLO_TARGET_AVX2 char* encodeUtf8(const char16_t* units, std::ptrdiff_t n, char* out) {
    if (n < 16) {
        // Too short for a vector: the plain way, ASCII first.
        std::ptrdiff_t i = 0;
        while (i < n && units[i] < 0x80)
            *out++ = char(units[i++]);
        return i < n ? sse2::encodeUtf8(units + i, n - i, out) : out;
    }
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF80));
    const __m256i zero = _mm256_setzero_si256();
    std::ptrdiff_t i = 0;
    while (i + 32 <= n) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
        // Packing works per 128-bit lane; the permutation puts the bytes back in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
        const __m256i asciiA = _mm256_cmpeq_epi16(_mm256_and_si256(a, high), zero);
        const __m256i asciiB = _mm256_cmpeq_epi16(_mm256_and_si256(b, high), zero);
        const unsigned ascii = unsigned(_mm256_movemask_epi8(
            _mm256_permute4x64_epi64(_mm256_packs_epi16(asciiA, asciiB), 0xD8)));
        if (ascii == 0xFFFFFFFFu) {
            i += 32;
            out += 32;
            continue;
        }
        const int prefix = std::countr_one(ascii);
        i += prefix;
        out += prefix;
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    }
    // The tail: sixteen at a time, then one by one.
    return i < n ? sse2::encodeUtf8(units + i, n - i, out) : out;
}

PARVELLO_TARGET_AVX2 std::ptrdiff_t widenAscii(const unsigned char* in, std::ptrdiff_t n,
                                               char16_t* out) {
    std::ptrdiff_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 16),
                            _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i;
}

// ---- UTF-8 checked 32 bytes at a time without looking at single sequences: each byte is
// classified by table lookups on its high nibble and on both nibbles of the byte before it,
// and the classes of the two must agree (the method of Keiser and Lemire, "Validating UTF-8
// in less than one instruction per byte"). It accepts exactly what decodeSequence accepts. ----

namespace {
using namespace utf8check;

PARVELLO_TARGET_AVX2 inline __m256i table(const std::uint8_t (&entries)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The bytes of input moved n places later, the first n taken from the end of previous.
template <int N> PARVELLO_TARGET_AVX2 inline __m256i before(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// The error bits of one block given the block before it (zero bits: nothing wrong).
PARVELLO_TARGET_AVX2 inline __m256i blockErrors(__m256i input, __m256i previous) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i prev1 = before<1>(input, previous);
    const __m256i byte1High = _mm256_shuffle_epi8(
        table(Byte1High), _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
    const __m256i byte1Low = _mm256_shuffle_epi8(table(Byte1Low), _mm256_and_si256(prev1, nibble));
    const __m256i byte2High = _mm256_shuffle_epi8(
        table(Byte2High), _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble));
    const __m256i special = _mm256_and_si256(_mm256_and_si256(byte1High, byte1Low), byte2High);
    // The third and fourth bytes of longer sequences must be continuations, and only they
    // may be the second continuation in a row.
    const __m256i third =
        _mm256_subs_epu8(before<2>(input, previous), _mm256_set1_epi8(char(0xE0 - 0x80)));
    const __m256i fourth =
        _mm256_subs_epu8(before<3>(input, previous), _mm256_set1_epi8(char(0xF0 - 0x80)));
    const __m256i must23 =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
    return _mm256_xor_si256(must23, special);
}

// Checks the whole blocks of in[from..n); from and the return value are multiples of 32
// past the start. errors and high collect the error bits and the bytes above 0x7F.
PARVELLO_TARGET_AVX2 std::ptrdiff_t checkBlocks(const unsigned char* in, std::ptrdiff_t from,
                                                std::ptrdiff_t n, __m256i& errors, __m256i& high) {
    __m256i previous = from >= 32
                           ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + from - 32))
                           : _mm256_setzero_si256();
    for (; from + 32 <= n; from += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + from));
        errors = _mm256_or_si256(errors, blockErrors(input, previous));
        high = _mm256_or_si256(high, input);
        previous = input;
    }
    return from;
}
} // namespace

// feed() and finish() of the vector check: whole blocks as they come, and at the end the
// rest padded with zero bytes, which also ends any sequence still open as too short.
PARVELLO_TARGET_AVX2 bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked,
                                   std::ptrdiff_t filled, bool& nonAscii) {
    __m256i errors = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    checked = checkBlocks(in, checked, filled, errors, high);
    nonAscii = nonAscii || _mm256_movemask_epi8(high) != 0;
    return _mm256_testz_si256(errors, errors);
}

PARVELLO_TARGET_AVX2 bool finishUtf8(const unsigned char* in, std::ptrdiff_t& checked,
                                     std::ptrdiff_t total, bool& nonAscii) {
    alignas(32) unsigned char tail[64] = {};
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(checked - 32, 0);
    std::memcpy(tail + 32 - (checked - from), in + from, size_t(total - from));
    __m256i errors = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    checkBlocks(tail, 32, 64, errors, high);
    nonAscii = nonAscii || _mm256_movemask_epi8(high) != 0;
    if (!_mm256_testz_si256(errors, errors))
        return false;
    checked = total;
    return true;
}

namespace {

// ---- The quotes pass (QuotesPass in textscan.h): a group of 64 bytes is read as two
// vectors of 32, its quotes and lone line breaks found as bit masks, and the units between
// them copied 64 bytes at a time from the group as read (or as its quotes became), one copy
// for each quote that goes and each CR or LF to make. Without AVX-512 there is no compress
// or expand, but the copies are few: most groups have no quote and at most one line end. ----

// A group of 64 bytes as two vectors.
struct Halves {
    __m256i low, high;
};

// The lanes of such a group: bytes, or UTF-16 units; one bit a lane.
template <class Unit> struct HalfLanes;
template <> struct HalfLanes<char> {
    using Mask = std::uint64_t;
    static constexpr int Count = 64;
    PARVELLO_TARGET_AVX2 static __m256i all(char c) { return _mm256_set1_epi8(c); }
    PARVELLO_TARGET_AVX2 static Mask equal(const Halves& g, __m256i b) {
        const auto low = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g.low, b)));
        const auto high = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g.high, b)));
        return low | Mask(high) << 32;
    }
};
template <> struct HalfLanes<char16_t> {
    using Mask = std::uint32_t;
    static constexpr int Count = 32;
    PARVELLO_TARGET_AVX2 static __m256i all(char16_t c) { return _mm256_set1_epi16(short(c)); }
    PARVELLO_TARGET_AVX2 static Mask equal(const Halves& g, __m256i b) {
        // One byte a unit, the packing's lanes put back in order.
        const __m256i packed =
            _mm256_packs_epi16(_mm256_cmpeq_epi16(g.low, b), _mm256_cmpeq_epi16(g.high, b));
        return Mask(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
    }
};

// Quotes of one or three bytes, each compared on its own; the second of two three-byte
// quotes that begin with the same two bytes (the UTF-8 family) shares their comparisons.
// Gives the bytes that go, the quote ends whose last byte changes, the ends of the quotes
// counted as changed, and how many bytes of a quote the group before wrote already that go.
template <bool Changes> struct ByteQuotes {
    __m256i quoteBytes[3][3];
    std::array<int, 3> length;
    std::uint64_t drop[3], dropFirst[3], change[3], counted[3];
    std::array<char, 3> becomes;
    bool sameStart;
    struct Carry {
        std::array<std::uint64_t, 3> firstBefore;
        std::array<std::uint64_t, 3> secondBefore;
    };
    PARVELLO_TARGET_AVX2 explicit ByteQuotes(const PassQuotes& quotes)
        : length(quotes.length), becomes(quotes.last),
          sameStart(quotes.length[1] == 3 && quotes.length[2] == 3 &&
                    quotes.bytes[1][0] == quotes.bytes[2][0] &&
                    quotes.bytes[1][1] == quotes.bytes[2][1]) {
        for (size_t q = 0; q < 3; ++q) {
            for (size_t k = 0; k < 3; ++k)
                quoteBytes[q][k] = _mm256_set1_epi8(quotes.bytes[q][k]);
            drop[q] = allWhere(quotes.kept[q] == 0);
            dropFirst[q] = allWhere(quotes.kept[q] <= 1);
            change[q] = allWhere(quotes.kept[q] > 0);
            counted[q] = allWhere(quotes.changes[q]);
        }
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore, carry.secondBefore};
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore = c.firstBefore;
        carry.secondBefore = c.secondBefore;
    }
    PARVELLO_TARGET_AVX2 std::uint64_t removed(const Halves& g, int& takeBack, Carry& c,
                                               std::uint64_t (&changes)[3],
                                               std::uint64_t& changed) const {
        using L = HalfLanes<char>;
        std::uint64_t removed = 0;
        changed = 0;
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        takeBack = 0;
        for (size_t q = 0; q < 3; ++q) {
            std::uint64_t ends = 0;
            if (length[q] == 1) {
                ends = L::equal(g, quoteBytes[q][0]);
            } else if (length[q] == 3) {
                if (q != 2 || !sameStart) {
                    first = L::equal(g, quoteBytes[q][0]);
                    second = L::equal(g, quoteBytes[q][1]);
                }
                ends = L::equal(g, quoteBytes[q][2]) & (second << 1 | c.secondBefore[q]) &
                       (first << 2 | c.firstBefore[q]);
                c.firstBefore[q] = first >> 62;
                c.secondBefore[q] = second >> 63;
                const std::uint64_t firstGone = ends & dropFirst[q];
                removed |= firstGone >> 1 | firstGone >> 2;
                takeBack = std::max(takeBack, takeBackFor(firstGone));
            }
            removed |= ends & drop[q];
            changed |= ends & counted[q];
            if constexpr (Changes)
                changes[q] = ends & change[q];
        }
        return removed;
    }
};

// Decoded text: the family's quotes are one unit each, removed or replaced by one unit.
template <bool Changes> struct UnitQuotes {
    __m256i quote[3];
    std::array<char16_t, 3> becomes;
    std::uint32_t drop[3], counted[3];
    struct Carry {};
    PARVELLO_TARGET_AVX2 explicit UnitQuotes(const PassUnits& quotes) : becomes(quotes.becomes) {
        for (size_t q = 0; q < 3; ++q) {
            quote[q] = _mm256_set1_epi16(short(quotes.quotes[q]));
            drop[q] = quotes.removed[q] ? ~std::uint32_t(0) : 0;
            counted[q] = quotes.changes[q] ? ~std::uint32_t(0) : 0;
        }
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    void save(const Carry&, QuotesPassCarry&) const {}
    PARVELLO_TARGET_AVX2 std::uint32_t removed(const Halves& g, int& takeBack, Carry&,
                                               std::uint32_t (&changes)[3],
                                               std::uint32_t& changed) const {
        using L = HalfLanes<char16_t>;
        takeBack = 0;
        std::uint32_t removed = 0;
        changed = 0;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint32_t at = L::equal(g, quote[q]);
            removed |= at & drop[q];
            changed |= at & counted[q];
            if constexpr (Changes)
                changes[q] = at & ~drop[q];
        }
        return removed;
    }
};

// Copies 64 bytes from from to to (the caller keeps as many of them as it needs).
PARVELLO_TARGET_AVX2 PARVELLO_ALWAYS_INLINE void copy64(void* to, const void* from) {
    const auto* in = static_cast<const __m256i*>(from);
    auto* out = static_cast<__m256i*>(to);
    const __m256i low = _mm256_loadu_si256(in);
    const __m256i high = _mm256_loadu_si256(in + 1);
    _mm256_storeu_si256(out, low);
    _mm256_storeu_si256(out + 1, high);
}

// The pass over units[i..end) a group at a time, for the quotes of Quotes and Rule.
template <class Unit, class Quotes, class Rule>
PARVELLO_TARGET_AVX2 std::ptrdiff_t passGroups(const Unit* units, std::ptrdiff_t i,
                                               std::ptrdiff_t end, Unit*& out, const Rule& rule,
                                               bool lineBreaks, QuotesPassCarry& carry) {
    using L = HalfLanes<Unit>;
    using Mask = typename L::Mask;
    constexpr int count = L::Count;
    constexpr int half = count / 2;
    // Whether the unit before the group was a CR, at bit 0.
    Mask crBefore = Mask(carry.crBefore);
    const Quotes quotes(rule);
    typename Quotes::Carry quoteCarry = quotes.load(carry);
    std::int64_t quotesChanged = carry.changed;
    const __m256i cr = L::all(Unit('\r'));
    const __m256i lf = L::all(Unit('\n'));
    // The group as its quotes become, with room for a copy from anywhere in it.
    alignas(32) Unit group[2 * count];
    Unit* o = out;
    for (; i + count <= end; i += count) {
        const Halves input{_mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i)),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + half))};
        int takeBack = 0; // units of a quote written with the group before that go
        Mask changes[3] = {};
        Mask changed = 0; // the ends of the quotes counted
        const Mask removed = quotes.removed(input, takeBack, quoteCarry, changes, changed);
        quotesChanged += std::popcount(changed);
        // The line ends to make: a CR before each lone LF, an LF after each lone CR (before
        // the unit that follows it, or after the whole group).
        Mask crFirst = 0;
        Mask lfFirst = 0;
        bool lfLast = false;
        if (lineBreaks) {
            const Mask crs = L::equal(input, cr);
            const Mask lfs = L::equal(input, lf);
            const Mask lfAfter = Mask(lfs >> 1) | Mask(units[i + count] == Unit('\n'))
                                                      << (count - 1);
            const Mask loneCr = crs & ~lfAfter;
            crFirst = lfs & ~Mask(crs << 1 | crBefore);
            lfFirst = Mask(loneCr << 1);
            lfLast = loneCr >> (count - 1);
            crBefore = crs >> (count - 1);
        }
        // Copies read up to a group past where they start: from the block while it has that
        // many units, else (and where quotes change) from the copy of the group.
        const Unit* from = units + i;
        if ((changes[0] | changes[1] | changes[2]) || i + 2 * count > end) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(group), input.low);
            _mm256_store_si256(reinterpret_cast<__m256i*>(group + half), input.high);
            for (size_t q = 0; q < 3; ++q)
                for (Mask at = changes[q]; at; at &= at - 1)
                    group[std::countr_zero(at)] = quotes.becomes[q];
            from = group;
        }
        Unit* at = o - takeBack;
        // An event where a CR or LF is to be made, and where a run of units that go begins
        // (a quote of three bytes is one run).
        const Mask made = crFirst | lfFirst;
        Mask events = made | (removed & ~Mask(removed << 1));
        int next = 0; // the group's next unit to write
        for (; events; events &= events - 1) {
            // The units before the event copied, then, without a branch on what the event is,
            // a CR or LF (always stored, kept only where one is made; the next copy goes
            // over it otherwise) and the units that go from there skipped.
            const int e = std::countr_zero(events);
            copy64(at, from + next);
            at += e - next;
            *at = (crFirst >> e) & 1 ? Unit('\r') : Unit('\n');
            at += (made >> e) & 1;
            next = e + std::countr_one(Mask(removed >> e));
        }
        copy64(at, from + next);
        at += count - next;
        if (lfLast)
            *at++ = Unit('\n');
        o = at;
    }
    carry.crBefore = crBefore;
    carry.changed = quotesChanged;
    quotes.save(quoteCarry, carry);
    out = o;
    return i;
}

} // namespace

std::ptrdiff_t findCarriageReturn(const char16_t* units, std::ptrdiff_t n) {
    return findUnit(units, n, u'\r');
}

std::ptrdiff_t quotesPassBytes(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t end, char*& out,
                               const PassQuotes& quotes, bool lineBreaks, QuotesPassCarry& carry) {
    return quotes.kept[0] + quotes.kept[1] + quotes.kept[2] > 0
               ? passGroups<char, ByteQuotes<true>>(bytes, i, end, out, quotes, lineBreaks, carry)
               : passGroups<char, ByteQuotes<false>>(bytes, i, end, out, quotes, lineBreaks, carry);
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

} // namespace parvello::simd::avx2
#endif
