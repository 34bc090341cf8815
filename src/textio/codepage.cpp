#include "textio/codepage.h"

#include "base/portable.h"
#include "textio/fileerror.h"
#include "textio/simd/kernels.h"

#include <bitset>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#if defined(PARVELLO_OS_WINDOWS)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>
#endif

namespace parvello {

namespace {

// windows-1252 above 0x7F: 0x80..0x9F as Microsoft defines them (the five undefined bytes
// as the control character of the same value), 0xA0..0xFF as Latin-1.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t ReplacementCharacter = 0xFFFD;

std::array<char16_t, 256> windows1252Table() {
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = char16_t(b);
    for (int b = 0x80; b < 0xA0; ++b)
        table[b] = Windows1252High[b - 0x80];
    return table;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

bool isWindows1252(std::string_view name) {
    const std::string n = lowered(trimmed(name));
    return n == "windows-1252" || n == "cp1252" || n == "x-cp1252" || n == "1252";
}

[[noreturn]] void refuse(const std::string& description) {
    throw FileError(FileProblem::InvalidArgument, description);
}

[[noreturn]] void notSingleByte(std::string_view name) {
    refuse("\"" + std::string(name) +
           "\" is not a single-byte code page: some byte does not decode on its own to one "
           "character");
}

// What one byte gives when it is decoded on its own.
struct Alone {
    enum Kind { Unit, Undefined, NotOne } kind;
    char16_t unit = ReplacementCharacter;
};

#if defined(PARVELLO_OS_WINDOWS)

// The number of a code page the system knows by one of its names, or 0.
UINT codePageNumber(std::string_view name) {
    const std::string n = lowered(name);
    const auto numberAfter = [&](std::string_view prefix) -> UINT {
        if (n.size() <= prefix.size() || n.compare(0, prefix.size(), prefix) != 0)
            return 0;
        UINT number = 0;
        for (std::size_t i = prefix.size(); i < n.size(); ++i) {
            if (n[i] < '0' || n[i] > '9' || number > 100000)
                return 0;
            number = number * 10 + UINT(n[i] - '0');
        }
        return number;
    };
    if (const UINT iso = numberAfter("iso-8859-"); iso > 0 && iso < 17)
        return 28590 + iso;
    if (n == "macintosh")
        return 10000;
    if (n == "koi8-r")
        return 20866;
    if (n == "koi8-u")
        return 21866;
    if (n == "us-ascii")
        return 20127;
    for (std::string_view prefix : {"windows-", "cp", "ibm-", "ibm", ""})
        if (const UINT number = numberAfter(prefix))
            return number;
    return 0;
}

// A code page of the system, by its number. Only pages whose characters are one byte each
// are taken (a lead byte of a double-byte page decodes alone as an error, but would take
// the next byte with it).
class Converter {
public:
    static std::optional<Converter> open(std::string_view name) {
        const UINT page = codePageNumber(name);
        if (page == 0 || !IsValidCodePage(page))
            return std::nullopt;
        return Converter(page);
    }
    bool multiByte() const {
        CPINFO info{};
        return !GetCPInfo(page_, &info) || info.MaxCharSize != 1;
    }
    Alone decodeAlone(unsigned char byte) {
        const char in = char(byte);
        wchar_t out[4] = {};
        const int got = MultiByteToWideChar(page_, MB_ERR_INVALID_CHARS, &in, 1, out, 4);
        if (got == 0)
            return {GetLastError() == ERROR_NO_UNICODE_TRANSLATION ? Alone::Undefined
                                                                   : Alone::NotOne};
        if (got != 1)
            return {Alone::NotOne};
        return {Alone::Unit, char16_t(out[0])};
    }
    // The bytes of a single-byte page decode one by one; an undefined byte gives U+FFFD.
    std::optional<std::u16string> decode(const char* bytes, std::size_t n) {
        std::u16string units;
        for (std::size_t i = 0; i < n; ++i) {
            const Alone alone = decodeAlone(static_cast<unsigned char>(bytes[i]));
            if (alone.kind == Alone::NotOne)
                return std::nullopt;
            units.push_back(alone.kind == Alone::Unit ? alone.unit : ReplacementCharacter);
        }
        return units;
    }
    bool encodesTo(char16_t unit, unsigned char byte) {
        const wchar_t in = wchar_t(unit);
        char out[8] = {};
        BOOL usedDefault = FALSE;
        const int got = WideCharToMultiByte(page_, WC_NO_BEST_FIT_CHARS, &in, 1, out,
                                            int(sizeof out), nullptr, &usedDefault);
        return got == 1 && !usedDefault && static_cast<unsigned char>(out[0]) == byte;
    }

private:
    explicit Converter(UINT page) : page_(page) {}
    UINT page_;
};

#else

// The names iconv knows for code pages that ICU names otherwise ("ibm-850" is IBM850 to
// iconv, "x-mac-roman" MACINTOSH), tried when iconv does not know the name as it is.
std::vector<std::string> iconvNames(std::string_view name) {
    std::vector<std::string> names{std::string(name)};
    std::string n = lowered(name);
    if (n.compare(0, 2, "x-") == 0)
        names.push_back(n = n.substr(2));
    if (n == "mac-roman" || n == "macroman")
        names.push_back("MACINTOSH");
    if (n.compare(0, 4, "ibm-") == 0)
        names.push_back("IBM" + n.substr(4));
    if (n.compare(0, 4, "mac-") == 0)
        names.push_back("MAC" + n.substr(4));
    return names;
}

// A code page through iconv: its decoder to UTF-16 LE and its encoder from it.
class Converter {
public:
    static std::optional<Converter> open(std::string_view name) {
        // iconv takes "" for the locale's character set and "//" for ways of converting
        // what cannot be held: neither is the name of a code page.
        if (name.empty() || name.find('/') != std::string_view::npos)
            return std::nullopt;
        for (const std::string& candidate : iconvNames(name)) {
            const iconv_t decoder = ::iconv_open("UTF-16LE", candidate.c_str());
            if (decoder != iconv_t(-1))
                return Converter(decoder, ::iconv_open(candidate.c_str(), "UTF-16LE"));
        }
        return std::nullopt;
    }
    Converter(Converter&& other) noexcept
        : decoder_(std::exchange(other.decoder_, iconv_t(-1))),
          encoder_(std::exchange(other.encoder_, iconv_t(-1))) {}
    Converter& operator=(Converter&&) = delete;
    ~Converter() {
        if (decoder_ != iconv_t(-1))
            ::iconv_close(decoder_);
        if (encoder_ != iconv_t(-1))
            ::iconv_close(encoder_);
    }
    // Whether the code page is known to take more than one byte per character. iconv does
    // not say: the bytes themselves show it (see CodePage::forName).
    bool multiByte() const { return false; }

    // A byte that iconv refuses (EILSEQ) is undefined; one it waits for more bytes after
    // (EINVAL), or that gives no unit or more than one, is not a character on its own.
    Alone decodeAlone(unsigned char byte) {
        char in = char(byte);
        char out[16];
        char* inAt = &in;
        char* outAt = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        ::iconv(decoder_, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(decoder_, &inAt, &inLeft, &outAt, &outLeft) == std::size_t(-1))
            return {errno == EILSEQ ? Alone::Undefined : Alone::NotOne};
        if (::iconv(decoder_, nullptr, nullptr, &outAt, &outLeft) == std::size_t(-1) ||
            outAt - out != 2)
            return {Alone::NotOne};
        return {Alone::Unit, unitAt(out)};
    }
    // The units of bytes decoded together; an undefined byte, or bytes cut short at the
    // end, give U+FFFD and decoding goes on after that byte. Nothing when the units do not
    // fit in two per byte (then they cannot be one per byte either).
    std::optional<std::u16string> decode(const char* bytes, std::size_t n) {
        std::string out(4 * n + 16, '\0');
        char* inAt = const_cast<char*>(bytes);
        char* outAt = out.data();
        std::size_t inLeft = n, outLeft = out.size();
        ::iconv(decoder_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0 &&
               ::iconv(decoder_, &inAt, &inLeft, &outAt, &outLeft) == std::size_t(-1)) {
            if (errno == E2BIG || outLeft < 2)
                return std::nullopt;
            *outAt++ = char(ReplacementCharacter & 0xFF);
            *outAt++ = char(ReplacementCharacter >> 8);
            outLeft -= 2;
            ++inAt;
            --inLeft;
        }
        if (::iconv(decoder_, nullptr, nullptr, &outAt, &outLeft) == std::size_t(-1))
            return std::nullopt;
        std::u16string units(std::size_t(outAt - out.data()) / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = unitAt(out.data() + 2 * i);
        return units;
    }
    bool encodesTo(char16_t unit, unsigned char byte) {
        if (encoder_ == iconv_t(-1))
            return false;
        char in[2] = {char(unit & 0xFF), char(unit >> 8)};
        char out[16];
        char* inAt = in;
        char* outAt = out;
        std::size_t inLeft = 2, outLeft = sizeof out;
        ::iconv(encoder_, nullptr, nullptr, nullptr, nullptr);
        return ::iconv(encoder_, &inAt, &inLeft, &outAt, &outLeft) != std::size_t(-1) &&
               ::iconv(encoder_, nullptr, nullptr, &outAt, &outLeft) != std::size_t(-1) &&
               outAt - out == 1 && static_cast<unsigned char>(out[0]) == byte;
    }

private:
    Converter(iconv_t decoder, iconv_t encoder) : decoder_(decoder), encoder_(encoder) {}
    static char16_t unitAt(const char* bytes) {
        return char16_t(static_cast<unsigned char>(bytes[0]) | static_cast<unsigned char>(bytes[1])
                                                                   << 8);
    }
    iconv_t decoder_;
    iconv_t encoder_;
};

#endif

// The table of a code page from the unit each byte decodes to alone. Each byte must come
// back as itself, so a byte the code page leaves undefined, and a byte whose character another
// byte decodes to as well (the character stays with the byte it is written as), stand for a
// character of their own that no byte of the code page has: the control character of the
// same value where the byte lies among the control characters and that one is free (as
// Windows does for windows-1252), else a character of the Private Use Area. So the code page
// holds none of the characters it leaves undefined: a replacement text with the registered
// sign in ISO-8859-7, which has no such character at 0xAE, is refused, not written as 0xAE.
std::array<char16_t, 256> tableOf(Converter& converter, const std::array<char16_t, 256>& alone,
                                  std::bitset<256> defined) {
    std::vector<int> owner(65536, -1); // the byte that decodes to each unit
    for (int b = 0; b < 256; ++b) {
        if (!defined[b])
            continue;
        const char16_t unit = alone[b];
        if (owner[unit] < 0) {
            owner[unit] = b;
            continue;
        }
        if (converter.encodesTo(unit, static_cast<unsigned char>(b))) {
            defined[owner[unit]] = false;
            owner[unit] = b;
        } else {
            defined[b] = false;
        }
    }
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        if (defined[b])
            table[b] = alone[b];
    for (int b = 0; b < 256; ++b) {
        if (defined[b])
            continue;
        const bool control = b < 0x20 || (b >= 0x7F && b < 0xA0);
        char16_t unit = control && owner[b] < 0 ? char16_t(b) : char16_t(0xF700 + b);
        while (owner[unit] >= 0)
            ++unit;
        owner[unit] = b;
        table[b] = unit;
    }
    return table;
}

// Whether no byte changes how the bytes after it decode (a lead byte of Shift_JIS or UTF-8
// decodes alone as an error, but takes the next byte with it): each byte before every byte,
// and the 256 bytes in a row, must give what they give alone.
bool decodesAsAlone(Converter& converter, const std::array<char16_t, 256>& alone) {
    const auto same = [&](const char* bytes, std::size_t n) {
        const std::optional<std::u16string> units = converter.decode(bytes, n);
        if (!units || units->size() != n)
            return false;
        for (std::size_t i = 0; i < n; ++i)
            if ((*units)[i] != alone[static_cast<unsigned char>(bytes[i])])
                return false;
        return true;
    };
    char bytes[512];
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    if (!same(bytes, 256))
        return false;
    for (int b = 0; b < 256; ++b) {
        for (int x = 0; x < 256; ++x) {
            bytes[2 * x] = char(b);
            bytes[2 * x + 1] = char(x);
        }
        if (!same(bytes, 512))
            return false;
    }
    return true;
}

std::unique_ptr<CodePage> systemCodePage() {
#if defined(PARVELLO_OS_WINDOWS)
    return CodePage::forName("windows-" + std::to_string(GetACP()));
#else
    const char* variable = std::getenv("PARVELLO_CODEPAGE");
    const std::string_view configured = trimmed(variable ? variable : "");
    if (configured.empty())
        return CodePage::forName("windows-1252");
    try {
        return CodePage::forName(configured);
    } catch (const FileError& failure) {
        throw FileError(failure.problem(), "PARVELLO_CODEPAGE: " + failure.description());
    }
#endif
}

#if !defined(PARVELLO_OS_WINDOWS)
// Whether the character set the user's locale names is UTF-8, read from the environment as
// the system reads it, whether or not the program has set its locale yet.
bool localeIsUtf8() {
    bool utf8 = false;
    if (const locale_t user = ::newlocale(LC_CTYPE_MASK, "", locale_t(nullptr))) {
        const char* characters = ::nl_langinfo_l(CODESET, user);
        utf8 = characters && lowered(characters) == "utf-8";
        ::freelocale(user);
    }
    return utf8;
}
#endif

} // namespace

CodePage::CodePage(std::string name, const std::array<char16_t, 256>& table)
    : name_(std::move(name)), toUnicode_(table),
      fromUnicode_(static_cast<std::uint16_t*>(std::calloc(65536, sizeof(std::uint16_t)))) {
    if (!fromUnicode_)
        throw std::bad_alloc();
    for (int b = 0; b < 256; ++b) {
        fromUnicode_[table[b]] = std::uint16_t(0x100 | b);
        if (b < 0x80 && table[b] != b)
            asciiCompatible_ = false;
    }
}

const CodePage& CodePage::ansi() {
    // A throwing initialiser leaves the static unset, so every later file reports it again.
    static const std::unique_ptr<CodePage> page = [] {
        std::unique_ptr<CodePage> system = systemCodePage();
#if !defined(PARVELLO_OS_WINDOWS)
        const char* configured = std::getenv("PARVELLO_CODEPAGE");
        system->asciiIsUtf8_ = localeIsUtf8() && trimmed(configured ? configured : "").empty();
#endif
        return system;
    }();
    return *page;
}

std::unique_ptr<CodePage> CodePage::forName(std::string_view name) {
    const std::string_view given = trimmed(name);
    if (isWindows1252(given))
        return std::unique_ptr<CodePage>(new CodePage("windows-1252", windows1252Table()));
    std::optional<Converter> converter = Converter::open(given);
    if (!converter)
        refuse("Unknown code page \"" + std::string(name) + "\"");
    if (converter->multiByte())
        notSingleByte(name);

    // Every byte on its own must give exactly one unit. A byte that gives nothing begins a
    // longer sequence or switches the decoder into another state (the escape of
    // ISO-2022-JP, the shift bytes of EBCDIC double-byte pages); more than one unit does not
    // fit the table. An undefined byte is marked; a surrogate or U+FFFD stands for no
    // character of the code page either.
    std::array<char16_t, 256> alone{};
    std::bitset<256> defined;
    for (int b = 0; b < 256; ++b) {
        const Alone decoded = converter->decodeAlone(static_cast<unsigned char>(b));
        if (decoded.kind == Alone::NotOne)
            notSingleByte(name);
        const bool surrogate = decoded.unit >= 0xD800 && decoded.unit < 0xE000;
        defined[b] =
            decoded.kind == Alone::Unit && decoded.unit != ReplacementCharacter && !surrogate;
        alone[b] = defined[b] ? decoded.unit : ReplacementCharacter;
    }
    if (!decodesAsAlone(*converter, alone))
        notSingleByte(name);
    return std::unique_ptr<CodePage>(
        new CodePage(std::string(given), tableOf(*converter, alone, defined)));
}

// A page whose bytes 0..127 are ASCII takes blocks of ASCII whole at the vector levels;
// any other page goes through its table one byte or unit at a time.
void CodePage::decode(const char* bytes, std::ptrdiff_t n, char16_t* out) const {
    const ScanKernels& kernels = asciiCompatible_ ? scanKernels : ScanKernelsFor(ScanLevel::Plain);
    kernels.decodeSingleByte(bytes, n, out, toUnicode_.data());
}

std::ptrdiff_t CodePage::encode(const char16_t* units, std::ptrdiff_t n, char* out) const {
    const ScanKernels& kernels = asciiCompatible_ ? scanKernels : ScanKernelsFor(ScanLevel::Plain);
    return kernels.encodeSingleByte(units, n, out, fromUnicode_.get());
}

} // namespace parvello
