// One file through the per-file engine, bytes in and bytes out, checked against a model of
// what a run promises: how the bytes are classified by their mark, how lines are split and
// ended, what the rule does to each line (the three replacements, literally, one after the
// other) and how the result is encoded in the input's family. Any difference, a file left
// with other bytes than promised, a stray temporary file or a box shown for a valid file
// aborts the run, so libFuzzer keeps the input.
//
// Layout of an input:
//   byte 0   bits 0-2: the rule (value mod 7: none, then Option1 .. Option6)
//            bit 3:    the output is the source itself (in place)
//            bit 4:    the output path already holds a file ("previous\r\n")
//            bits 5-7: the size of the engine's reads (0: its own; else 1, 2, 3, 4, 7, 64 or 200
//                      bytes), so that characters, marks and CR LF straddle reads
//   byte 1   bits 0-2: length n of the replacement text (0..7)
//            bit 3:    the result is written behind, on a thread of its own
//            bit 4:    the vector pass that removes quotes is not used, where it could be
//   n bytes  characters of the replacement text, each from a small alphabet (see below)
//   the rest the file's bytes
#include "common/plainfiles.h"
#include "quotes/fileengine.h"
#include "quotes/quoterule.h"
#include "textio/codepage.h"
#include "textio/textscan.h"
#include "textio/textsource.h"
#include "textio/writebehind.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using parvello::FileOutcome;
using parvello::QuoteRule;
using parvello::testing::Utf8;
namespace fs = std::filesystem;

namespace {

// ---- The model -------------------------------------------------------------------------

// The family an output is written in.
enum class Family { CodePage, Utf8, Utf8WithMark, Utf16LE };

const char* familyName(Family family) {
    switch (family) {
    case Family::CodePage:
        return "code page";
    case Family::Utf8:
        return "UTF-8 without mark";
    case Family::Utf8WithMark:
        return "UTF-8 with mark";
    case Family::Utf16LE:
        return "UTF-16 LE";
    }
    return "?";
}

// windows-1252, 0x80..0x9F; the five bytes it leaves undefined stand for themselves.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252ToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : char16_t(byte);
}

std::optional<char> cp1252FromUnicode(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return char(unit);
    for (size_t i = 0; i < Cp1252High.size(); ++i)
        if (Cp1252High[i] == unit)
            return char(0x80 + i);
    return std::nullopt;
}

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
        out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += char16_t(cp);
    }
}

// Well-formed UTF-8 as the Unicode standard defines it (no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short).
std::optional<std::u16string> decodeUtf8(const unsigned char* p, size_t n) {
    std::u16string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned lead = p[i];
        if (lead < 0x80) {
            out += char16_t(lead);
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > n)
            return std::nullopt;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        appendCodePoint(out, cp);
        i += length;
    }
    return out;
}

bool isHigh(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}
bool isLow(char16_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

bool wellFormed(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1]))
            ++i;
        else if (isHigh(text[i]) || isLow(text[i]))
            return false;
    }
    return true;
}

// What the engine must make of the bytes of a file.
struct Reading {
    bool isText = false;
    Family family = Family::CodePage;
    bool crLfOnly = false; // the UTF-8 mark road splits lines at CR LF only
    std::u16string text;   // the decoded text after the mark
};

Reading classify(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    const auto starts = [&](std::initializer_list<unsigned char> mark) {
        if (n < mark.size())
            return false;
        size_t i = 0;
        for (const unsigned char b : mark)
            if (p[i++] != b)
                return false;
        return true;
    };
    Reading r;
    if (starts({0xFF, 0xFE, 0x00, 0x00}) || starts({0x00, 0x00, 0xFE, 0xFF})) {
        const bool big = p[0] == 0x00;
        r.family = Family::Utf16LE;
        if ((n - 4) % 4 != 0)
            return r;
        for (size_t i = 4; i < n; i += 4) {
            const char32_t cp = big ? char32_t(p[i]) << 24 | char32_t(p[i + 1]) << 16 |
                                          char32_t(p[i + 2]) << 8 | p[i + 3]
                                    : char32_t(p[i + 3]) << 24 | char32_t(p[i + 2]) << 16 |
                                          char32_t(p[i + 1]) << 8 | p[i];
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                return r;
            appendCodePoint(r.text, cp);
        }
        r.isText = true;
        return r;
    }
    if (starts({0xEF, 0xBB, 0xBF})) {
        r.family = Family::Utf8WithMark;
        r.crLfOnly = true;
        std::optional<std::u16string> text = decodeUtf8(p + 3, n - 3);
        r.isText = text.has_value();
        r.text = text.value_or(std::u16string());
        return r;
    }
    if (starts({0xFF, 0xFE}) || starts({0xFE, 0xFF})) {
        const bool big = p[0] == 0xFE;
        r.family = Family::Utf16LE;
        if ((n - 2) % 2 != 0)
            return r;
        for (size_t i = 2; i < n; i += 2)
            r.text += char16_t(big ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i]);
        r.isText = wellFormed(r.text);
        return r;
    }
    // No mark: a NUL byte means binary data; valid UTF-8 with some non-ASCII byte is UTF-8,
    // and so is plain ASCII where the locale speaks UTF-8; anything else is the code page.
    if (bytes.find('\0') != std::string::npos)
        return r;
    r.isText = true;
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = p[i] < 0x80;
    if (!ascii || parvello::CodePage::ansi().asciiIsUtf8()) {
        if (std::optional<std::u16string> text = decodeUtf8(p, n)) {
            r.family = Family::Utf8;
            r.text = *text;
            return r;
        }
    }
    r.family = Family::CodePage;
    r.text.reserve(n);
    for (size_t i = 0; i < n; ++i)
        r.text += cp1252ToUnicode(p[i]);
    return r;
}

// Lines as the readers split them.
std::vector<std::u16string> splitLines(const std::u16string& text, bool crLfOnly) {
    std::vector<std::u16string> lines;
    if (crLfOnly) {
        size_t start = 0;
        for (size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] == u'\r' && text[i + 1] == u'\n') {
                lines.push_back(text.substr(start, i - start));
                start = i + 2;
                ++i;
            }
        // A final CR LF adds no empty line (unless it is the only line).
        if (start < text.size() || lines.empty())
            lines.push_back(text.substr(start));
        return lines;
    }
    // CR LF, lone CR and lone LF each end a line; a final break adds no empty line.
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != u'\r' && text[i] != u'\n') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? 2 : 1;
        start = i;
    }
    if (start < text.size() || lines.empty())
        lines.push_back(text.substr(start));
    return lines;
}

// Every unit c in text replaced by replacement.
void replaceAll(std::u16string& text, char16_t c, const std::u16string& replacement) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t unit : text)
        if (unit == c)
            out += replacement;
        else
            out += unit;
    text = std::move(out);
}

// The rule as the product defines it: three replacements on the whole line, one per
// position of the family (straight, left, right), each on the result of the one before.
std::u16string applyRule(std::u16string line, QuoteRule rule,
                         const std::u16string& replacementText) {
    static constexpr std::array<char16_t, 3> doubles = {u'"', u'\u201C', u'\u201D'};
    static constexpr std::array<char16_t, 3> singles = {u'\'', u'\u2018', u'\u2019'};
    if (rule == QuoteRule::None)
        return line;
    const bool doubleFamily = rule == QuoteRule::RemoveDouble ||
                              rule == QuoteRule::DoubleToSingle || rule == QuoteRule::DoubleToText;
    const auto& family = doubleFamily ? doubles : singles;
    const auto& other = doubleFamily ? singles : doubles;
    for (size_t p = 0; p < 3; ++p) {
        std::u16string replacement;
        if (rule == QuoteRule::DoubleToSingle || rule == QuoteRule::SingleToDouble)
            replacement = std::u16string(1, other[p]);
        else if (rule == QuoteRule::DoubleToText || rule == QuoteRule::SingleToText)
            replacement = replacementText;
        replaceAll(line, family[p], replacement);
    }
    return line;
}

// The bytes of a whole output file, or nothing when the family cannot hold the text.
std::optional<std::string> encode(const std::u16string& text, Family family) {
    std::string out;
    switch (family) {
    case Family::CodePage:
        for (const char16_t c : text) {
            const std::optional<char> byte = cp1252FromUnicode(c);
            if (!byte)
                return std::nullopt;
            out += *byte;
        }
        return out;
    case Family::Utf16LE:
        if (!wellFormed(text))
            return std::nullopt;
        out = std::string("\xFF\xFE", 2);
        for (const char16_t c : text) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        }
        return out;
    case Family::Utf8WithMark:
        out = std::string("\xEF\xBB\xBF", 3);
        [[fallthrough]];
    case Family::Utf8:
        if (!wellFormed(text))
            return std::nullopt;
        out += Utf8(text);
        return out;
    }
    return std::nullopt;
}

// ---- The harness -----------------------------------------------------------------------

// The characters a replacement text is made of: quotes of both families, characters that
// the code page holds and some it does not, line breaks, NUL, a byte-order mark, lone
// surrogates and a character outside the Basic Multilingual Plane.
const std::array<std::u16string, 18>& alphabet() {
    static const std::array<std::u16string, 18> characters = {
        u"'",  u"\"",     u"\u2018", u"\u2019", u"\u201C",     u"\u201D",
        u"x",  u"\u00E9", u"\u20AC", u"\u4E2D", u"\u0081",     u"\uFEFF",
        u"\r", u"\n",     u"\xD83D", u"\xDE00", u"\U0001F600", std::u16string(1, u'\0'),
    };
    return characters;
}

struct Workspace {
    parvello::testing::TempFolder dir;
    fs::path source = dir.path("source.txt");
    fs::path output = dir.path("output.txt");
};
Workspace* workspace = nullptr;

[[noreturn]] void violation(const char* property, const std::string& detail,
                            const std::string& box = {}) {
    std::fprintf(stderr, "\n*** property violated: %s\n%s\n", property, detail.c_str());
    if (!box.empty())
        std::fprintf(stderr, "    failure: %s\n", box.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), std::streamsize(bytes.size())) || !out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        std::abort();
    }
}

std::string hex(const std::string& bytes) {
    constexpr size_t shown = 96;
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < shown; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x",
                      unsigned(static_cast<unsigned char>(bytes[i])));
        text += pair;
    }
    if (bytes.size() > shown)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// The replacement text readable in the report: UTF-8, with &, <, > and " escaped.
std::string escaped(const std::u16string& text) {
    std::string out;
    for (const char c : Utf8(text))
        out += c == '&'   ? "&amp;"
               : c == '<' ? "&lt;"
               : c == '>' ? "&gt;"
               : c == '"' ? "&quot;"
                          : std::string(1, c);
    return out;
}

const char* outcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Written:
        return "Written";
    case FileOutcome::Unchanged:
        return "Unchanged";
    case FileOutcome::NotText:
        return "NotText";
    case FileOutcome::CannotHold:
        return "CannotHold";
    case FileOutcome::NotRead:
        return "NotRead";
    case FileOutcome::NotWritten:
        return "NotWritten";
    case FileOutcome::NotAFile:
        return "NotAFile";
    case FileOutcome::Changed:
        return "Changed";
    case FileOutcome::InUse:
        return "InUse";
    case FileOutcome::WouldChange:
        return "WouldChange";
    }
    return "?";
}

// Whether the folder holds anything but the source and the output: a temporary file left.
std::string leftInFolder(const fs::path& folder) {
    std::string left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "source.txt" && name != "output.txt")
            left += (left.empty() ? "" : ", ") + name;
    }
    return left;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The code page of mark-less files is windows-1252, which the model knows.
#if defined(PARVELLO_OS_WINDOWS)
    _putenv_s("PARVELLO_CODEPAGE", "");
#else
    ::unsetenv("PARVELLO_CODEPAGE");
#endif
    workspace = new Workspace;
    std::atexit([] { delete workspace; }); // the folder goes when the fuzzer stops in time
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    size_t at = 0;
    const unsigned flags = size > at ? data[at++] : 0;
    const unsigned second = size > at ? data[at++] : 0;
    const unsigned textLength = second & 7;
    // The result written behind on a thread of its own.
    parvello::ForceWriteBehindForTests(second & 8);
    // Bits 16 and 32 are left unread: the processor level comes from PARVELLO_VECTOR_LEVEL.
    std::u16string replacementText;
    for (unsigned i = 0; i < textLength && at < size; ++i)
        replacementText += alphabet()[data[at++] % alphabet().size()];
    const std::string input(reinterpret_cast<const char*>(data + at), size - at);

    static constexpr std::array<QuoteRule, 7> rules = {
        QuoteRule::None,           QuoteRule::RemoveDouble,   QuoteRule::RemoveSingle,
        QuoteRule::DoubleToSingle, QuoteRule::SingleToDouble, QuoteRule::DoubleToText,
        QuoteRule::SingleToText};
    const QuoteRule rule = rules[(flags & 7) % rules.size()];
    const bool inPlace = flags & 8;
    const bool outputExists = !inPlace && (flags & 16);
    static constexpr std::array<std::ptrdiff_t, 8> readSizes = {0, 1, 2, 3, 4, 7, 64, 200};
    parvello::SetReadBlockSizeForTests(readSizes[(flags >> 5) & 7]);
    const std::string previous("previous\r\n");

    Workspace& ws = *workspace;
    std::error_code ignored;
    fs::remove(ws.output, ignored);
    writeAll(ws.source, input);
    if (outputExists)
        writeAll(ws.output, previous);
    const fs::path& outputPath = inPlace ? ws.source : ws.output;

    // What must happen.
    const Reading reading = classify(input);
    const std::optional<std::string> targetHeld = inPlace        ? std::optional(input)
                                                  : outputExists ? std::optional(previous)
                                                                 : std::nullopt;
    FileOutcome expectedOutcome = FileOutcome::NotText;
    std::string expected;
    std::u16string expectedText;
    if (reading.isText) {
        for (const std::u16string& line : splitLines(reading.text, reading.crLfOnly))
            expectedText += applyRule(line, rule, replacementText) + u"\r\n";
        const std::optional<std::string> bytes = encode(expectedText, reading.family);
        if (!bytes)
            expectedOutcome = FileOutcome::CannotHold;
        else if (targetHeld && *bytes == *targetHeld) // a target holding the result stays
            expected = *bytes, expectedOutcome = FileOutcome::Unchanged;
        else
            expected = *bytes, expectedOutcome = FileOutcome::Written;
    }

    // What happened.
    const parvello::FileReport report = parvello::ProcessFile(
        ws.source, outputPath, parvello::QuoteReplacer(rule, replacementText, replacementText));
    const std::string sourceAfter = readAll(ws.source);
    const bool outputPresent = fs::exists(ws.output);
    const std::string outputAfter = inPlace ? sourceAfter : readAll(ws.output);

    const std::string context = "rule " + std::to_string(int(rule)) + ", " +
                                (inPlace        ? "in place"
                                 : outputExists ? "over an existing output"
                                                : "to a new output") +
                                ", replacement \"" + escaped(replacementText) + "\" (" +
                                std::to_string(replacementText.size()) + " units), read as " +
                                familyName(reading.family) + (reading.isText ? "" : " (not text)") +
                                "\ninput:    " + hex(input);

    if (report.failure)
        violation("a valid temporary file is processed without any failure", context,
                  report.failure.description);
    if (report.outcome != expectedOutcome)
        violation("the outcome follows from the bytes",
                  context + "\nexpected " + outcomeName(expectedOutcome) + ", got " +
                      outcomeName(report.outcome) + " (" + report.reason + ")");
    if (!inPlace && sourceAfter != input)
        violation("the source is never modified when the output goes elsewhere",
                  context + "\nsource now: " + hex(sourceAfter));

    switch (expectedOutcome) {
    case FileOutcome::Written:
    case FileOutcome::Unchanged:
        if (outputAfter != expected) {
            const char* property = rule == QuoteRule::None
                                       ? "with no rule the output differs only in line ends"
                                       : "the output is the input, ruled, in the input's family";
            violation(property,
                      context + "\nexpected: " + hex(expected) + "\ngot:      " + hex(outputAfter));
        }
        break;
    default:
        if (report.reason.empty())
            violation("a file left untouched says why", context);
        if (inPlace ? sourceAfter != input
                    : (outputExists ? outputAfter != previous : outputPresent))
            violation("a file left untouched gets no output and keeps its bytes",
                      context + "\noutput now: " + hex(outputAfter));
        break;
    }

    // Nothing but the source and the output remains in the folder: no temporary file.
    if (const std::string left = leftInFolder(ws.dir.root()); !left.empty())
        violation("no temporary file is left behind", context + "\nleft: " + left);
    return 0;
}
