#include "cli/names.h"

#include "base/portable.h"
#include "base/printabletext.h"

namespace parvello::cli {

#if defined(PARVELLO_OS_WINDOWS)

std::string NameBytes(const std::filesystem::path& path) {
    const std::wstring& units = path.native();
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t code = char16_t(units[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() &&
            char16_t(units[i + 1]) >= 0xDC00 && char16_t(units[i + 1]) <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (char16_t(units[++i]) - 0xDC00);
        AppendUtf8(out, code); // an unpaired surrogate too
    }
    return out;
}

std::filesystem::path PathOfBytes(std::string_view bytes) {
    std::wstring units;
    units.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        char32_t code = 0;
        if (lead >= 0xE0 && lead <= 0xEF && i + 2 < bytes.size() &&
            (static_cast<unsigned char>(bytes[i + 1]) & 0xC0) == 0x80 &&
            (static_cast<unsigned char>(bytes[i + 2]) & 0xC0) == 0x80) {
            code = char32_t(lead & 0x0F) << 12 |
                   char32_t(static_cast<unsigned char>(bytes[i + 1]) & 0x3F) << 6 |
                   char32_t(static_cast<unsigned char>(bytes[i + 2]) & 0x3F);
            if (code >= 0x800) { // a surrogate written by NameBytes comes back as it was
                units += wchar_t(code);
                i += 3;
                continue;
            }
        }
        const std::ptrdiff_t length = Utf8SequenceAt(bytes.substr(i), code);
        if (length == 0) {
            units += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        i += size_t(length);
        if (code >= 0x10000) {
            units += wchar_t(0xD800 + ((code - 0x10000) >> 10));
            units += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += wchar_t(code);
        }
    }
    return std::filesystem::path(std::move(units));
}

#else

std::string NameBytes(const std::filesystem::path& path) {
    return path.native();
}

std::filesystem::path PathOfBytes(std::string_view bytes) {
    return std::filesystem::path(std::string(bytes));
}

#endif

std::string PrintablePath(const std::filesystem::path& path) {
    return PrintableName(NameBytes(path));
}

std::string JsonName(const std::filesystem::path& path) {
    std::string bytes = NameBytes(path);
    return IsValidUtf8(bytes) ? bytes : PrintableName(bytes);
}

} // namespace parvello::cli
