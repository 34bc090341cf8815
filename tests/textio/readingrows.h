// The files of the reading tests and the lines each must give, shared by the engine's reader
// test (tst_reading) and the window's (tst_linereaders), which must read them alike.
#pragma once

#include "textio/codepage.h"
#include "textio/linearray.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parvello::testing {

struct ReadingRow {
    std::string name;
    std::string bytes;
    std::vector<std::u16string> lines; // none for a file that is not text
    SourceFormat format = SourceFormat::CodePage;
};

inline std::string Utf16LEOf(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

inline std::string Utf32(const char32_t* text, bool bigEndian) {
    std::string bytes =
        bigEndian ? std::string("\x00\x00\xFE\xFF", 4) : std::string("\xFF\xFE\x00\x00", 4);
    for (; *text; ++text)
        for (int i = 0; i < 4; ++i)
            bytes += char((*text >> (bigEndian ? 24 - 8 * i : 8 * i)) & 0xFF);
    return bytes;
}

// Each road's decoding and line splitting.
inline std::vector<ReadingRow> LinesRows() {
    using S = std::string;
    using L = std::vector<std::u16string>;
    const auto cp = SourceFormat::CodePage;
    // Plain ASCII is taken for UTF-8 where the locale speaks it.
    const auto ascii = CodePage::ansi().asciiIsUtf8() ? SourceFormat::Utf8 : cp;
    return {
        {"empty file: one empty line", S(), L{u""}, ascii},
        {"code page: final CR LF adds no line", S("a\r\nb\r\n"), L{u"a", u"b"}, ascii},
        {"code page: no final break", S("a\r\nb"), L{u"a", u"b"}, ascii},
        {"code page: lone LF and lone CR end lines", S("a\nb\rc\r\r\nd"),
         L{u"a", u"b", u"c", u"", u"d"}, ascii},
        {"code page: only a break", S("\r\n"), L{u""}, ascii},
        {"windows-1252 high bytes, undefined ones included",
         S("\x80\x81\x8D\x8F\x90\x93\x9D\xE9\xFF"),
         L{u"\u20AC\u0081\u008D\u008F\u0090\u201C\u009D\u00E9\u00FF"}, cp},
        {"mark-less UTF-8 with a curly quote", S("caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D\nx"),
         L{u"caf\u00E9 \u201Cq\u201D", u"x"}, SourceFormat::Utf8},
        {"UTF-8 road: final CR LF adds no line",
         S("\xEF\xBB\xBF"
           "a\r\nb\r\n"),
         L{u"a", u"b"}, SourceFormat::Utf8WithMark},
        {"UTF-8 road: only a break", S("\xEF\xBB\xBF\r\n"), L{u""}, SourceFormat::Utf8WithMark},
        {"UTF-8 road: a lone LF at the end stays",
         S("\xEF\xBB\xBF"
           "a\r\n\n"),
         L{u"a", u"\n"}, SourceFormat::Utf8WithMark},
        {"UTF-8 road: lone LF and CR stay in the line",
         S("\xEF\xBB\xBF"
           "a\nb\rc"),
         L{u"a\nb\rc"}, SourceFormat::Utf8WithMark},
        {"UTF-8 road: mark alone", S("\xEF\xBB\xBF"), L{u""}, SourceFormat::Utf8WithMark},
        {"UTF-16 LE splits like the code page",
         S("\xFF\xFE") + Utf16LEOf(u"\u201Ca\u201D\r\nb\nc\r\n"), L{u"\u201Ca\u201D", u"b", u"c"},
         SourceFormat::Utf16LE},
        {"UTF-16 LE mark alone", S("\xFF\xFE"), L{u""}, SourceFormat::Utf16LE},
        {"UTF-16 BE by its mark",
         S("\xFE\xFF\x00"
           "a\x20\x1C\x00\n\xD8\x3D\xDE\x00",
           12),
         L{u"a\u201C", u"\U0001F600"}, SourceFormat::Utf16BE},
        {"UTF-32 LE by its mark", Utf32(U"a\"\U0001F600\r\nb", false), L{u"a\"\U0001F600", u"b"},
         SourceFormat::Utf32LE},
        {"UTF-32 BE by its mark", Utf32(U"\u2019x", true), L{u"\u2019x"}, SourceFormat::Utf32BE},
    };
}

// Bytes that do not decode in the encoding they claim, and binary data.
inline std::vector<ReadingRow> NotTextRows() {
    using S = std::string;
    const std::pair<const char*, std::string> files[] = {
        {"NUL in a mark-less file", S("abc\0def", 7)},
        {"invalid UTF-8 after the mark", S("\xEF\xBB\xBF"
                                           "a\xC3(b")},
        {"UTF-8 cut off at the end", S("\xEF\xBB\xBF"
                                       "a\xE2\x80")},
        {"UTF-8 encoded surrogate", S("\xEF\xBB\xBF\xED\xA0\x80")},
        {"odd UTF-16 length", S("\xFF\xFE"
                                "a\x00"
                                "b")}, // up to the NUL: three bytes
        {"unpaired UTF-16 surrogate", S("\xFF\xFE\x00\xD8"
                                        "a\x00",
                                        6)},
        {"UTF-32 beyond U+10FFFF", S("\xFF\xFE\x00\x00\x00\x00\x11\x00", 8)},
        {"UTF-32 length", S("\x00\x00\xFE\xFF\x00\x00\x00", 7)},
    };
    std::vector<ReadingRow> rows;
    for (const auto& [name, bytes] : files)
        rows.push_back({name, bytes, {}, SourceFormat::CodePage});
    return rows;
}

// The mark test's open file is the one the reader goes on with: the bytes it has already
// taken come first, whatever the file's length around four bytes.
inline std::vector<ReadingRow> ShortRows() {
    using S = std::string;
    using L = std::vector<std::u16string>;
    const auto any = SourceFormat::CodePage; // not compared
    return {
        {"0", S(), L{u""}, any},
        {"1", S("a"), L{u"a"}, any},
        {"3", S("abc"), L{u"abc"}, any},
        {"4", S("ab\r\n"), L{u"ab"}, any},
        {"5", S("abcd\n"), L{u"abcd"}, any},
        {"UTF-8 mark, 3", S("\xEF\xBB\xBF"), L{u""}, any},
        {"UTF-8 mark, 4", S("\xEF\xBB\xBFx"), L{u"x"}, any},
        {"UTF-8 mark, 5", S("\xEF\xBB\xBF\xC3\xA9"), L{u"\u00E9"}, any},
        {"UTF-16 LE, 4", S("\xFF\xFEx\0", 4), L{u"x"}, any},
        {"UTF-16 LE, 6", S("\xFF\xFEx\0y\0", 6), L{u"xy"}, any},
        {"UTF-16 BE, 4", S("\xFE\xFF\0x", 4), L{u"x"}, any},
        {"UTF-32 LE, 8", S("\xFF\xFE\0\0x\0\0\0", 8), L{u"x"}, any},
        {"mark-less UTF-8, 4", S("\xE2\x80\x9C!"), L{u"\u201C!"}, any},
    };
}

} // namespace parvello::testing
