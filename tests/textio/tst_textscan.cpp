// The vector versions of the inner text loops against the plain ones (and the UTF-8 decoder
// against a plain strict decoder), on inputs that put the interesting units at every
// position around the vector widths.
#include "textio/textscan.h"

#include "common/plaintest.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace parvello;

namespace {

using uchar = unsigned char;
using ByteList = std::vector<std::string>;

const ScanLevel AllLevels[] = {ScanLevel::Plain, ScanLevel::Sse2, ScanLevel::Avx2,
                               ScanLevel::Avx512Vbmi, ScanLevel::Avx512Vbmi2};

void addLevelRows() {
    plaintest::addColumn<ScanLevel>("level");
    for (const ScanLevel level : AllLevels)
        if (ScanLevelAvailable(level))
            plaintest::newRow(ScanLevelName(level)) << level;
}

// The random cases: a Mersenne twister seeded with one number and drawn from as Qt's
// QRandomGenerator draws, so that every platform and build checks the same cases.
class Random {
public:
    explicit Random(std::uint32_t seed) {
        std::seed_seq sequence{seed};
        engine_.seed(sequence);
    }
    // A number from 0 up to (not including) highest.
    int bounded(int highest) {
        return int(std::uint64_t(engine_()) * std::uint32_t(highest) >> 32);
    }
    std::int64_t bounded(std::int64_t highest) {
        const auto limit = std::uint64_t(highest);
        const std::uint64_t mask = (std::uint64_t(1) << (64 - std::countl_zero(limit - 1))) - 1;
        std::uint64_t value;
        do {
            const std::uint64_t low = engine_();
            value = (low | std::uint64_t(engine_()) << 32) & mask;
        } while (value >= limit);
        return std::int64_t(value);
    }

private:
    std::mt19937 engine_;
};

std::u16string widened(std::string_view latin1) {
    std::u16string units;
    for (const char c : latin1)
        units += char16_t(uchar(c));
    return units;
}

std::string hex(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, text.empty() ? "%02x" : " %02x", unsigned(uchar(c)));
        text += digits;
    }
    return text;
}

// Strict UTF-8 (the well-formed sequences of the Unicode standard: no overlong form, no
// surrogate, nothing above U+10FFFF, no unfinished sequence) one character at a time, with
// one byte-order mark dropped at the start as a text stream's decoder drops it; the
// reference for Utf8Decoder.
bool referenceDecode(std::string_view bytes, std::u16string& text) {
    text.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > bytes.size())
            return false;
        // The second byte's range narrows after E0, ED, F0 and F4.
        const uchar low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const uchar high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const uchar byte = uchar(bytes[i + k]);
            if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF))
                return false;
            c = c << 6 | (byte & 0x3F);
        }
        i += length;
        if (c >= 0x10000) {
            text += char16_t(0xD800 + ((c - 0x10000) >> 10));
            text += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            text += char16_t(c);
        }
    }
    if (!text.empty() && text[0] == u'\uFEFF')
        text.erase(0, 1);
    return true;
}

// UTF-16 to UTF-8 one character at a time, a lone surrogate as U+FFFD; the reference for
// the encoders.
std::string referenceEncode(std::u16string_view text, bool* lone = nullptr) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
            if (lone)
                *lone = true;
        }
        if (c < 0x80) {
            bytes += char(c);
        } else if (c < 0x800) {
            bytes += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            bytes += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            bytes += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)),
                      char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        }
    }
    return bytes;
}

// Feeds bytes to a decoder in chunks cut at the given places.
bool ourDecode(const std::string& bytes, const std::vector<std::ptrdiff_t>& cuts, ScanLevel level,
               std::u16string& text) {
    Utf8Decoder decoder(level);
    std::vector<char16_t> out(bytes.size() + std::size_t(Utf8Decoder::Slack));
    char16_t* at = out.data();
    std::ptrdiff_t from = 0;
    std::vector<std::ptrdiff_t> ends = cuts;
    ends.push_back(std::ptrdiff_t(bytes.size()));
    for (const std::ptrdiff_t to : ends) {
        // Each chunk is copied to a buffer of its own size, so that reading past it shows
        // under the address sanitizer.
        std::vector<char> own(bytes.begin() + from, bytes.begin() + to);
        at = decoder.decode(own.data(), std::ptrdiff_t(own.size()), at);
        if (!at)
            return false;
        from = to;
    }
    text.assign(out.data(), std::size_t(at - out.data()));
    return decoder.finish();
}

// Texts that put a chosen piece at every position of a run of ASCII.
ByteList aroundPiece(const std::string& piece, int width = 70) {
    ByteList texts;
    for (int at = 0; at <= width; ++at)
        texts.push_back(std::string(std::size_t(at), 'a') + piece +
                        std::string(std::size_t(width - at), 'b'));
    return texts;
}

const ByteList& utf8Pieces() {
    static const ByteList pieces = {"\xC3\xA9",         // é
                                    "\xE2\x80\x9C",     // left double quote
                                    "\xF0\x9F\x98\x80", // a character beyond the first plane
                                    "\xEF\xBB\xBF",     // a mark inside the text stays
                                    "\xEF\xBF\xBE",     // a noncharacter
                                    "\xC2\x80",         // the lowest two-byte character
                                    "\xDF\xBF",         // the highest
                                    "\xE0\xA0\x80",     // the lowest three-byte character
                                    "\xED\x9F\xBF",     // just below the surrogates
                                    "\xEE\x80\x80",     // just above them
                                    "\xF4\x8F\xBF\xBF", // U+10FFFF
                                    // invalid
                                    "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xC3", "\xC3(",
                                    "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                                    "\xE2\x80", "\xE2(\x9C", "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF",
                                    "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80",
                                    "\xFE", "\xFF", "\xF0\x9F\x98", std::string("\0", 1)};
    return pieces;
}

} // namespace

// The level runs as PARVELLO_VECTOR_LEVEL asks, at most the one the processor offers, and the
// table in use is that level's.
PLAIN_TEST(chosenLevel) {
    const char* const name = std::getenv("PARVELLO_VECTOR_LEVEL");
    const ScanLevel offered = OfferedScanLevel();
    const std::optional<ScanLevel> wanted = ScanLevelNamed(name ? name : "");
    COMPARE(ChosenScanLevel(), wanted && *wanted < offered ? *wanted : offered);
    COMPARE(scanKernels.level, ChosenScanLevel());
    COMPARE(QuotesPassAvailable(), ChosenScanLevel() >= ScanLevel::Avx2);
    for (const ScanLevel level : AllLevels) {
        COMPARE(ScanLevelNamed(ScanLevelName(level)), level);
        COMPARE(ScanKernelsFor(level).level, ScanLevelAvailable(level) ? level : ScanLevel::Plain);
    }
#if defined(PARVELLO_NO_VECTORS)
    COMPARE(offered, ScanLevel::Plain);
#endif
}

PLAIN_TEST_DATA(searches) {
    addLevelRows();
}
PLAIN_TEST(searches) {
    FETCH(ScanLevel, level);
    const std::array<char16_t, 3> quotes = {u'"', u'\u201C', u'\u201D'};
    // Units that equal a wanted one in their low or high byte only must not match.
    const char16_t units[] = {
        u'\r',     u'\n',     u'"',      u'\u201C', u'\u201D',          u'\u010D',
        u'\u0D00', u'\uFF0A', u'\u201E', u'\u1C20', u'\u0022' | 0x8000, u'\uFFFF'};
    for (int length = 0; length <= 70; ++length) {
        for (int at = 0; at <= length; ++at) {
            for (const char16_t unit : units) {
                std::vector<char16_t> text(size_t(length), u'x');
                if (at < length)
                    text[size_t(at)] = unit;
                if (at + 3 < length)
                    text[size_t(at + 3)] = u'\r'; // a second hit later on
                const char16_t* data = text.data();
                COMPARE(ScanKernelsFor(level).findLineBreak(data, length),
                        ScanKernelsFor(ScanLevel::Plain).findLineBreak(data, length));
                COMPARE(ScanKernelsFor(level).findCarriageReturn(data, length),
                        ScanKernelsFor(ScanLevel::Plain).findCarriageReturn(data, length));
                COMPARE(ScanKernelsFor(level).findAnyOf3(data, length, quotes),
                        ScanKernelsFor(ScanLevel::Plain).findAnyOf3(data, length, quotes));
            }
        }
    }
    // The plain versions themselves, on one text.
    const std::u16string text = u"ab\u201Dc\r\nd";
    COMPARE(
        ScanKernelsFor(ScanLevel::Plain).findLineBreak(text.data(), std::ptrdiff_t(text.size())),
        4);
    COMPARE(ScanKernelsFor(ScanLevel::Plain).findCarriageReturn(text.data(), 3), 3);
    COMPARE(ScanKernelsFor(ScanLevel::Plain)
                .findAnyOf3(text.data(), std::ptrdiff_t(text.size()), quotes),
            2);
}

PLAIN_TEST_DATA(encoder) {
    addLevelRows();
}
PLAIN_TEST(encoder) {
    FETCH(ScanLevel, level);
    // Pieces around vector widths: non-ASCII of each length, units at or above 0x8000 (which a
    // signed pack would take for small numbers), pairs and lone surrogates.
    const std::u16string pieces[] = {u"\u00E9",
                                     u"\u0080",
                                     u"\u07FF",
                                     u"\u0800",
                                     u"\u201C",
                                     u"\uFFFD",
                                     u"\uE000",
                                     {char16_t(0x8000)},
                                     {char16_t(0xFF00)},
                                     u"\U0001F600",
                                     {char16_t(0xD800)},
                                     {char16_t(0xDC00)},
                                     {char16_t(0xDBFF), u'x'},
                                     {char16_t(0xDC00), char16_t(0xD800)},
                                     {char16_t(0x00FF)}};
    for (const std::u16string& piece : pieces) {
        for (int at = 0; at <= 70; ++at) {
            for (const int after : {0, 1, 15, 16, 17, 31, 32, 33, 70 - at}) {
                const std::u16string text =
                    std::u16string(size_t(at), u'a') + piece + std::u16string(size_t(after), u'b');
                const auto size = std::ptrdiff_t(text.size());
                std::vector<char> plain(size_t(3 * size + 1));
                std::vector<char> vector(size_t(3 * size + 1));
                const char* plainEnd =
                    ScanKernelsFor(ScanLevel::Plain).encodeUtf8(text.data(), size, plain.data());
                const char* vectorEnd =
                    ScanKernelsFor(level).encodeUtf8(text.data(), size, vector.data());
                COMPARE(vectorEnd == nullptr, plainEnd == nullptr);
                bool lone = false;
                const std::string reference = referenceEncode(text, &lone);
                if (!plainEnd) {
                    VERIFY(reference.find("\xEF\xBF\xBD") != std::string::npos || lone);
                    continue;
                }
                const std::string got(vector.data(), size_t(vectorEnd - vector.data()));
                COMPARE(std::string(plain.data(), size_t(plainEnd - plain.data())), got);
                COMPARE(got, reference);
            }
        }
    }
}

PLAIN_TEST_DATA(decoder) {
    addLevelRows();
}
PLAIN_TEST(decoder) {
    FETCH(ScanLevel, level);
    ByteList texts = {"",
                      "\xEF\xBB\xBF",
                      "\xEF\xBB\xBF\xEF\xBB\xBFx",
                      "\xEF\xBB\xBF"
                      "abc",
                      "a\xEF\xBB\xBF",
                      "\xEF\xBB"};
    for (const std::string& piece : utf8Pieces()) {
        const ByteList around = aroundPiece(piece);
        texts.insert(texts.end(), around.begin(), around.end());
    }
    for (const std::string& text : texts) {
        std::u16string expected;
        const bool valid = referenceDecode(text, expected);
        // Whole, then cut once at every place, then cut at every byte.
        const auto size = std::ptrdiff_t(text.size());
        std::vector<std::vector<std::ptrdiff_t>> cutSets = {{}};
        for (std::ptrdiff_t cut = 0; cut <= size; ++cut)
            cutSets.push_back({cut});
        std::vector<std::ptrdiff_t> everyByte;
        for (std::ptrdiff_t cut = 1; cut < size; ++cut)
            everyByte.push_back(cut);
        cutSets.push_back(everyByte);
        for (const std::vector<std::ptrdiff_t>& cuts : cutSets) {
            std::u16string got;
            const bool ok = ourDecode(text, cuts, level, got);
            if (ok != valid || (valid && got != expected)) {
                std::string where;
                for (const std::ptrdiff_t cut : cuts)
                    where += ' ' + std::to_string(cut);
                std::fprintf(stderr, "bytes %s cuts%s\n", hex(text).c_str(), where.c_str());
            }
            COMPARE(ok, valid);
            if (valid)
                COMPARE(got, expected);
        }
    }
}

// Random texts from a small alphabet of ASCII, valid and broken sequences.
PLAIN_TEST_DATA(decoderRandom) {
    addLevelRows();
}
PLAIN_TEST(decoderRandom) {
    FETCH(ScanLevel, level);
    Random random(20210831);
    const ByteList& pieces = utf8Pieces();
    const auto pieceCount = std::int64_t(pieces.size());
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = random.bounded(12);
        for (int k = 0; k < count; ++k) {
            text += std::string(size_t(random.bounded(40)), char('a' + k));
            // Mostly valid pieces, now and then a broken one.
            text += pieces[size_t(random.bounded(round % 3 == 0 ? pieceCount : 11))];
        }
        std::u16string expected;
        const bool valid = referenceDecode(text, expected);
        std::vector<std::ptrdiff_t> cuts;
        for (std::ptrdiff_t at = random.bounded(8); at < std::ptrdiff_t(text.size());
             at += 1 + random.bounded(48))
            cuts.push_back(at);
        std::u16string got;
        const bool ok = ourDecode(text, cuts, level, got);
        if (ok != valid)
            std::fprintf(stderr, "bytes %s\n", hex(text).c_str());
        COMPARE(ok, valid);
        if (valid)
            COMPARE(got, expected);
    }
}

// The check without decoding gives the decoder's answer, whole and fed in parts, and notices
// whether any byte is above 0x7F.
PLAIN_TEST_DATA(checkerRandom) {
    addLevelRows();
}
PLAIN_TEST(checkerRandom) {
    FETCH(ScanLevel, level);
    Random random(20261208);
    const ByteList& pieces = utf8Pieces();
    const auto pieceCount = std::int64_t(pieces.size());
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = random.bounded(12);
        for (int k = 0; k < count; ++k) {
            text += std::string(size_t(random.bounded(70)), char('a' + k));
            if (round % 4 != 1)
                text += pieces[size_t(random.bounded(round % 3 == 0 ? pieceCount : 11))];
        }
        std::u16string decoded;
        const bool valid = referenceDecode(text, decoded);
        const bool nonAscii =
            std::any_of(text.cbegin(), text.cend(), [](char c) { return uchar(c) >= 0x80; });
        const auto size = std::ptrdiff_t(text.size());
        const Utf8Check whole = CheckUtf8(text.data(), size, level);
        Utf8Checker parts(level);
        for (std::ptrdiff_t filled = random.bounded(6); filled < size;
             filled += 1 + random.bounded(40))
            parts.feed(text.data(), filled);
        parts.feed(text.data(), size);
        const Utf8Check fed = parts.finish(text.data(), size);
        if (whole.valid != valid || fed.valid != valid)
            std::fprintf(stderr, "bytes %s\n", hex(text).c_str());
        COMPARE(whole.valid, valid);
        COMPARE(fed.valid, valid);
        if (valid) {
            COMPARE(whole.nonAscii, nonAscii);
            COMPARE(fed.nonAscii, nonAscii);
        }
    }
}

// Bytes drawn around the edges of every rule (lead bytes at their limits, continuations at
// theirs, ASCII), at every length around the vector width: every level agrees with the
// reference decoder, whole and fed in two parts.
PLAIN_TEST_DATA(checkerEdgeBytes) {
    addLevelRows();
}
PLAIN_TEST(checkerEdgeBytes) {
    FETCH(ScanLevel, level);
    static const unsigned char leads[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC1,
                                          0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                          0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    static const unsigned char continuations[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0x41};
    Random random(99);
    for (int round = 0; round < 20000; ++round) {
        // A few characters, each a lead byte and zero to three continuation bytes, between
        // runs of ASCII.
        std::string text(size_t(random.bounded(40)), 'a');
        const int count = random.bounded(5);
        for (int c = 0; c < count; ++c) {
            text += char(leads[random.bounded(int(std::size(leads)))]);
            for (int k = random.bounded(4); k > 0; --k)
                text += char(continuations[random.bounded(int(std::size(continuations)))]);
            text += std::string(size_t(random.bounded(36)), 'b');
        }
        const auto length = std::int64_t(text.size());
        std::u16string decoded;
        const bool valid = referenceDecode(text, decoded);
        const Utf8Check whole = CheckUtf8(text.data(), length, level);
        Utf8Checker parts(level);
        parts.feed(text.data(), random.bounded(length + 1));
        const Utf8Check fed = parts.finish(text.data(), length);
        if (whole.valid != valid || fed.valid != valid)
            std::fprintf(stderr, "bytes %s\n", hex(text).c_str());
        COMPARE(whole.valid, valid);
        COMPARE(fed.valid, valid);
    }
}

// The byte searches find every hit, in order, wherever it lies around the vector widths.
PLAIN_TEST_DATA(byteSearches) {
    addLevelRows();
}
PLAIN_TEST(byteSearches) {
    FETCH(ScanLevel, level);
    const ScanKernels& kernels = ScanKernelsFor(level);
    const std::array<char, 3> wanted = {'"', '\xE2', '\n'};
    const auto plainNext = [&](const std::string& text, std::ptrdiff_t from) {
        for (; from < std::ptrdiff_t(text.size()); ++from)
            if (text[size_t(from)] == wanted[0] || text[size_t(from)] == wanted[1] ||
                text[size_t(from)] == wanted[2])
                return from;
        return std::ptrdiff_t(text.size());
    };
    Random random(7);
    for (int length = 0; length <= 80; ++length) {
        for (int round = 0; round < 40; ++round) {
            std::string text(size_t(length), 'x');
            for (int i = 0; i < length; ++i)
                if (random.bounded(10) == 0)
                    text[size_t(i)] = "\"\xE2\n\x80\r\x9C\x9D"[random.bounded(7)];
            COMPARE(kernels.findAnyOf3Bytes(text.data(), length, wanted), plainNext(text, 0));
            std::ptrdiff_t ascii = 0;
            while (ascii < length && uchar(text[size_t(ascii)]) < 0x80)
                ++ascii;
            COMPARE(kernels.asciiPrefix(text.data(), length), ascii);
            // ByteHits, stopping at every hit or jumping ahead by a few bytes.
            ByteHits hits(text.data(), length, wanted);
            for (std::ptrdiff_t from = 0; from <= length;) {
                const std::ptrdiff_t found = hits.next(from);
                COMPARE(found, plainNext(text, from));
                from = round % 2 ? found + 1 : from + 1 + random.bounded(20);
            }
            // The bytes as UTF-16 in both byte orders, and whether a unit is half a pair.
            std::string pairs = text;
            if (length > 0)
                pairs[size_t(random.bounded(length))] = '\xD9';
            for (const bool big : {false, true}) {
                std::vector<char16_t> got(size_t(length / 2) + 1);
                bool half = false;
                const bool found = DecodeUtf16Units(pairs.data(), length / 2, big, got.data());
                for (int k = 0; k < length / 2; ++k) {
                    const auto a = uchar(pairs[size_t(2 * k)]);
                    const auto b = uchar(pairs[size_t(2 * k + 1)]);
                    const char16_t unit = big ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
                    COMPARE(got[size_t(k)], unit);
                    half = half || (unit & 0xF800) == 0xD800;
                }
                COMPARE(found, half);
            }
            // StopUnits: the vector's bits are the units that stop, in bytes and units.
            const StopUnits<char> bytes({'\r', '\n', '"', '\x9C', '\x9D'},
                                        level != ScanLevel::Plain);
            const std::u16string units = widened(text);
            const StopUnits<char16_t> wide({u'\r', u'\n', u'"', u'\u009C', u'\u009D'},
                                           level != ScanLevel::Plain);
            for (int i = 0; bytes.vectors() && i + 16 <= length; ++i) {
                unsigned byteBits = 0;
                unsigned unitBits = 0;
                for (int k = 0; k < 16; ++k) {
                    byteBits |= unsigned(bytes.isStop(text[size_t(i + k)])) << k;
                    if (k < 8 && wide.isStop(units[size_t(i + k)]))
                        unitBits |= 1u << (2 * k);
                }
                COMPARE(bytes.mask(text.data() + i), byteBits);
                COMPARE(wide.mask(units.data() + i), unitBits);
            }
        }
    }
}

// The vector pass gives what taking the quotes one by one gives, for rules that remove them,
// replace them by one byte or change their last byte, with quotes cut by its groups and by
// its calls, and three-byte quotes that overlap.
PLAIN_TEST_DATA(quotesPass) {
    plaintest::addColumn<ByteList>("rule");
    plaintest::addColumn<ByteList>("results");
    plaintest::addColumn<bool>("units"); // decoded text: each byte widened to a unit
    plaintest::addColumn<ScanLevel>("level");
    const ByteList utf8 = {"\"", "\xE2\x80\x9C", "\xE2\x80\x9D"};
    const ByteList codePage = {"'", "\x91", "\x92"};
    const ByteList oneMissing = {"\x93", "", "\x94"};
    const ByteList other = {"\xE2\x80\x9C", "\"", "\xE2\x80\x9D"};
    const ByteList decoded = {"\"", "\x93", "\x94"};
    const ByteList removed = {"", "", ""};
    const struct {
        const char* name;
        ByteList rule, results;
        bool units;
    } rows[] = {
        {"UTF-8, removed", utf8, removed, false},
        {"UTF-8, to single quotes", utf8, {"'", "\xE2\x80\x98", "\xE2\x80\x99"}, false},
        {"UTF-8, to one byte", utf8, {"'", "'", "'"}, false},
        {"UTF-8, mixed", utf8, {"", "*", "\xE2\x80\x99"}, false},
        {"code page, removed", codePage, removed, false},
        {"code page, to double quotes", codePage, {"\"", "\x93", "\x94"}, false},
        {"code page, one missing", oneMissing, removed, false},
        {"code page, one missing, changed", oneMissing, {"'", "", "x"}, false},
        {"any other, removed", other, removed, false},
        {"any other, changed", other, {"'", "", "\xE2\x80\x99"}, false},
        {"decoded text, removed", decoded, removed, true},
        {"decoded text, changed", decoded, {"'", "", "\x91"}, true},
    };
    // Each for the pass of each processor level this one runs (at a level without one, once,
    // to say so).
    const bool anyPass = ScanLevelAvailable(ScanLevel::Avx2);
    for (const auto& row : rows)
        for (const ScanLevel level : {ScanLevel::Avx2, ScanLevel::Avx512Vbmi2})
            if (ScanLevelAvailable(level) || (!anyPass && level == ScanLevel::Avx2))
                plaintest::addRow("%s, %s", row.name, ScanLevelName(level))
                    << row.rule << row.results << row.units << level;
}
PLAIN_TEST(quotesPass) {
    FETCH(ByteList, rule);
    FETCH(ByteList, results);
    FETCH(bool, units);
    FETCH(ScanLevel, level);
    const ScanKernels& kernels = ScanKernelsFor(level);
    if (!kernels.quotesPass)
        SKIP("the level in use has no quotes pass (below AVX2); the engine's other pass is used");
    const std::ptrdiff_t group = units ? 32 : 64;
    PassUnits family;
    PassQuotes quotes;
    for (size_t q = 0; q < 3; ++q) {
        const std::string& quote = rule[q];
        const std::string& result = results[q];
        quotes.length[q] = int(quote.size());
        std::copy(quote.begin(), quote.end(), quotes.bytes[q].begin());
        quotes.kept[q] = int(result.size());
        quotes.last[q] = result.empty() ? '\0' : result.back();
        family.quotes[q] = char16_t(uchar(quote.empty() ? '"' : quote[0]));
        family.removed[q] = result.empty();
        family.becomes[q] = char16_t(uchar(result.empty() ? '\0' : result[0]));
    }
    // What the pass writes for text[0..at): the quotes that end before at as they become and,
    // with line breaks, each lone CR or LF made CR LF (a quote cut at at stays for now).
    const auto plain = [&](const std::string& text, std::ptrdiff_t at, bool lineBreaks) {
        std::string kept;
        const auto size = std::ptrdiff_t(text.size());
        for (std::ptrdiff_t i = 0; i < at;) {
            const auto quote = std::find_if(rule.begin(), rule.end(), [&](const auto& q) {
                return !q.empty() && std::string_view(text).substr(size_t(i)).starts_with(q);
            });
            if (quote != rule.end() && i + std::ptrdiff_t(quote->size()) <= at) {
                kept += results[size_t(quote - rule.begin())];
                i += std::ptrdiff_t(quote->size());
                continue;
            }
            const char c = text[size_t(i++)];
            const bool crLf = c == '\r' && i < size && text[size_t(i)] == '\n';
            const bool lfOfCrLf = c == '\n' && i >= 2 && text[size_t(i - 2)] == '\r';
            kept += lineBreaks && (c == '\r' || c == '\n') && !crLf && !lfOfCrLf
                        ? std::string("\r\n")
                        : std::string(1, c);
        }
        return kept;
    };
    const char* const pieces[] = {"x",        "\"",   "'",    "\xE2\x80\x9C", "\xE2\x80\x9D",
                                  "\xE2\x80", "\xE2", "\x9C", "\x91",         "\x93",
                                  "\r\n",     "\n",   "\r",   "\r\"\n"};
    Random random(11);
    for (int round = 0; round < 800; ++round) {
        const bool lineBreaks = round % 2;
        // With line breaks the byte after each group is looked at.
        const std::ptrdiff_t length = 64 * (1 + random.bounded(8)) + (lineBreaks ? 1 : 0);
        std::string text;
        while (std::ptrdiff_t(text.size()) < length)
            text += random.bounded(3) ? "x" : pieces[random.bounded(14)];
        text.resize(size_t(length));
        std::ptrdiff_t i = 0;
        const auto run = [&](const auto* data, auto* start, std::ptrdiff_t& written, auto&& pass) {
            auto* o = start;
            QuotesPassCarry carry;
            while (i + group < length || (!lineBreaks && i + group <= length)) {
                const std::ptrdiff_t last = lineBreaks ? length - 1 : length;
                const std::ptrdiff_t end = std::min(last, i + group * (1 + random.bounded(3)));
                const std::ptrdiff_t at = pass(data, end, o, carry);
                COMPARE((at - i) % group, 0);
                const bool whole = at == end - (end - i) % group;
                VERIFY(whole || lineBreaks);
                i = at;
                if (!whole)
                    break; // a group left to the caller
            }
            written = o - start;
        };
        if (units) {
            const std::u16string wide = widened(text);
            std::u16string out(size_t(2 * length + 128), u'\0');
            std::ptrdiff_t written = 0;
            run(wide.data(), out.data(), written,
                [&](const char16_t* data, std::ptrdiff_t end, char16_t*& o,
                    QuotesPassCarry& carry) {
                    return kernels.quotesPassUnits(data, i, end, o, family, lineBreaks, carry);
                });
            COMPARE(out.substr(0, size_t(written)), widened(plain(text, i, lineBreaks)));
        } else {
            std::string out(size_t(2 * length + 128), '\0');
            std::ptrdiff_t written = 0;
            run(text.data(), out.data(), written,
                [&](const char* data, std::ptrdiff_t end, char*& o, QuotesPassCarry& carry) {
                    return kernels.quotesPassBytes(data, i, end, o, quotes, lineBreaks, carry);
                });
            COMPARE(out.substr(0, size_t(written)), plain(text, i, lineBreaks));
        }
    }
}
