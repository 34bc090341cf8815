#include "base/printabletext.h"

#include <algorithm>

namespace parvello {

namespace {

bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The escape of one byte that may not be printed as it is.
void appendEscape(std::string& out, unsigned char byte) {
    static constexpr char named[] = "abtnvfr"; // 7..13
    out += '\\';
    if (byte >= 7 && byte <= 13) {
        out += named[byte - 7];
        return;
    }
    out += char('0' + (byte >> 6));
    out += char('0' + ((byte >> 3) & 7));
    out += char('0' + (byte & 7));
}

} // namespace

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

std::ptrdiff_t Utf8SequenceAt(std::string_view bytes, char32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    code = lead;
    if (lead < 0x80)
        return 1;
    std::ptrdiff_t length = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (std::ptrdiff_t(bytes.size()) < length)
        return 0;
    code = lead & (0x7F >> length);
    for (std::ptrdiff_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[size_t(k)]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t code = 0;
        const std::ptrdiff_t length = Utf8SequenceAt(bytes.substr(i), code);
        if (length == 0)
            return false;
        i += size_t(length);
    }
    return true;
}

std::string PrintableName(std::string_view name) {
    bool plain = name.empty() || name.front() != '"';
    for (size_t i = 0; plain && i < name.size();) {
        char32_t code = 0;
        const std::ptrdiff_t length = Utf8SequenceAt(name.substr(i), code);
        plain = length > 0 && !isControl(code);
        i += size_t(length);
    }
    if (plain)
        return std::string(name);
    std::string out(1, '"');
    for (size_t i = 0; i < name.size();) {
        char32_t code = 0;
        const auto length = size_t(Utf8SequenceAt(name.substr(i), code));
        if (length == 0 || isControl(code)) {
            for (const char byte : name.substr(i, std::max<size_t>(length, 1)))
                appendEscape(out, static_cast<unsigned char>(byte));
            i += std::max<size_t>(length, 1);
            continue;
        }
        if (code == '"' || code == '\\')
            out += '\\';
        out.append(name.substr(i, length));
        i += length;
    }
    out += '"';
    return out;
}

std::string PrintableLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size();) {
        char32_t code = 0;
        const auto length = size_t(Utf8SequenceAt(line.substr(i), code));
        if (length == 0 || isControl(code)) {
            for (const char byte : line.substr(i, std::max<size_t>(length, 1)))
                appendEscape(out, static_cast<unsigned char>(byte));
            i += std::max<size_t>(length, 1);
            continue;
        }
        out.append(line.substr(i, length));
        i += length;
    }
    return out;
}

std::string EscapedName(std::string_view name) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        char32_t code = 0;
        const auto length = size_t(Utf8SequenceAt(name.substr(i), code));
        if (length > 0) {
            shown.append(name.substr(i, length));
            i += length;
        } else {
            const auto byte = static_cast<unsigned char>(name[i]);
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 15];
            ++i;
        }
    }
    return shown;
}

std::u16string Utf16Of(std::string_view utf8) {
    std::u16string units;
    units.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t code = 0;
        const auto length = size_t(Utf8SequenceAt(utf8.substr(i), code));
        if (length == 0) {
            units += u'\uFFFD';
            ++i;
            continue;
        }
        i += length;
        if (code >= 0x10000) {
            units += char16_t(0xD800 + ((code - 0x10000) >> 10));
            units += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += char16_t(code);
        }
    }
    return units;
}

std::string Utf8Of(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        for (; i < units.size() && units[i] < 0x80; ++i) // ASCII, the most of most texts
            out += char(units[i]);
        if (i == units.size())
            break;
        char32_t code = units[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            out += '?';
            continue;
        }
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace parvello
