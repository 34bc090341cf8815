// The single-byte code page of the ASCII text-stream format: the system's ANSI code page on
// Windows, elsewhere windows-1252 unless PARVELLO_CODEPAGE names another single-byte one.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace parvello {

// A code page held as two tables. Every byte decodes to exactly one UTF-16 unit and each of
// those 256 units encodes back to its byte, so every byte of a file survives a read and a
// write unchanged. A byte the code page leaves undefined decodes to the control character of
// the same value where it lies among the control characters (0x81 becomes U+0081, as Windows
// does for windows-1252), else to a character of the Private Use Area; a character the code
// page leaves undefined has no byte, so it is never written.
class CodePage {
public:
    // The code page of the ASCII format for this process, looked up once. Fails, naming the
    // variable, when PARVELLO_CODEPAGE names something that is not a single-byte code page.
    static const CodePage& ansi();

    // The named code page. Fails when the name is unknown or not a stateless single-byte code
    // page, one in which every byte decodes on its own to one character whatever surrounds it
    // (IBM437 and ISO-8859-7 are; UTF-8, Shift_JIS and ISO-2022-JP are not). The system
    // decodes each byte: iconv on Unix (names as iconv knows them, and the ICU forms
    // "ibm-850" and "x-mac-roman" as well), MultiByteToWideChar on Windows (windows-N, cpN,
    // ibm-N, ISO-8859-N, macintosh, KOI8-R, KOI8-U and US-ASCII).
    static std::unique_ptr<CodePage> forName(std::string_view name);

    const std::string& name() const { return name_; }
    // Whether bytes 0..127 are the ASCII characters U+0000..U+007F.
    bool asciiCompatible() const { return asciiCompatible_; }
    // Whether a mark-less file of plain ASCII is taken for UTF-8 rather than for this code
    // page: on a system whose locale speaks UTF-8 (not on Windows), unless PARVELLO_CODEPAGE
    // names a code page. Its bytes are the same either way; a replacement that is not ASCII
    // is then written in UTF-8, as every other program on such a system reads it.
    bool asciiIsUtf8() const { return asciiIsUtf8_; }

    char16_t toUnicode(unsigned char byte) const { return toUnicode_[byte]; }
    // The byte for a character, or -1 when the code page cannot hold it.
    int fromUnicode(char16_t unit) const {
        const std::uint16_t entry = fromUnicode_[unit];
        return entry ? int(entry & 0xFF) : -1;
    }

    // Decodes n bytes into n units.
    void decode(const char* bytes, std::ptrdiff_t n, char16_t* out) const;
    // Encodes n units into n bytes. Returns the index of the first unit the code page cannot
    // hold, or -1 when all of them were encoded.
    std::ptrdiff_t encode(const char16_t* units, std::ptrdiff_t n, char* out) const;

private:
    CodePage(std::string name, const std::array<char16_t, 256>& table);

    std::string name_;
    std::array<char16_t, 256> toUnicode_;
    struct Free {
        void operator()(void* memory) const { std::free(memory); }
    };
    // 65536 entries: 0x100 | byte, or 0 for none. Zeroed by calloc, so that the system's
    // zero pages stand for the entries no byte decodes to instead of 128 KiB faulted in.
    std::unique_ptr<std::uint16_t[], Free> fromUnicode_;
    bool asciiCompatible_ = true; // bytes 0..127 are U+0000..U+007F
    bool asciiIsUtf8_ = false;
};

} // namespace parvello
