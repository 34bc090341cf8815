#include "textio/textencoder.h"

#include "textio/codepage.h"
#include "textio/textscan.h"

#include <bit>
#include <cstring>

namespace parvello {

OutputEncoding OutputEncodingFor(const LineArray& lines) {
    return OutputEncodingFor(lines.format);
}

namespace {

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

} // namespace

std::ptrdiff_t FindUnpairedSurrogate(std::u16string_view text) {
    const char16_t* units = text.data();
    const std::ptrdiff_t n = std::ptrdiff_t(text.size());
    std::ptrdiff_t i = 0;
    while (i < n) {
        // Blocks without any surrogate are passed over at the vector levels.
        i = scanKernels.skipNonSurrogates(units, i, n);
        if (i >= n)
            break;
        const char16_t unit = units[i];
        if (isHighSurrogate(unit)) {
            if (i + 1 >= n || !isLowSurrogate(units[i + 1]))
                return i;
            i += 2;
        } else if (isLowSurrogate(unit)) {
            return i;
        } else {
            ++i;
        }
    }
    return -1;
}

TextEncoder::TextEncoder(OutputEncoding encoding) : encoding_(encoding) {
    switch (encoding_) {
    case OutputEncoding::CodePage:
        codePage_ = &CodePage::ansi();
        bytesPerUnit_ = 1;
        break;
    case OutputEncoding::Utf16LE:
        bytesPerUnit_ = 2;
        break;
    case OutputEncoding::Utf8:
    case OutputEncoding::Utf8WithMark:
        bytesPerUnit_ = 3;
        break;
    }
}

std::string_view TextEncoder::mark() const {
    switch (encoding_) {
    case OutputEncoding::Utf8WithMark:
        return std::string_view("\xEF\xBB\xBF", 3);
    case OutputEncoding::Utf16LE:
        return std::string_view("\xFF\xFE", 2);
    case OutputEncoding::CodePage:
    case OutputEncoding::Utf8:
        break;
    }
    return std::string_view();
}

char* TextEncoder::encode(std::u16string_view text, char* out) const {
    if (text.empty()) // an empty view may have no data at all
        return out;
    const std::ptrdiff_t n = std::ptrdiff_t(text.size());
    switch (encoding_) {
    case OutputEncoding::CodePage:
        if (codePage_->encode(text.data(), n, out) >= 0)
            return nullptr;
        return out + n;
    case OutputEncoding::Utf16LE:
        if constexpr (std::endian::native == std::endian::little) {
            // Copied and looked at for surrogates in one pass; their pairing is checked only
            // where there is one.
            if (DecodeUtf16Units(reinterpret_cast<const char*>(text.data()), n, false,
                                 reinterpret_cast<char16_t*>(out)) &&
                FindUnpairedSurrogate(text) >= 0)
                return nullptr;
        } else {
            if (FindUnpairedSurrogate(text) >= 0)
                return nullptr;
            for (std::ptrdiff_t i = 0; i < n; ++i) {
                out[2 * i] = char(text[size_t(i)] & 0xFF);
                out[2 * i + 1] = char(text[size_t(i)] >> 8);
            }
        }
        return out + 2 * n;
    case OutputEncoding::Utf8:
    case OutputEncoding::Utf8WithMark:
        break;
    }
    return EncodeUtf8(text, out);
}

bool TextEncoder::append(std::u16string_view text, std::string& out) const {
    const std::size_t start = out.size();
    out.resize(start + text.size() * std::size_t(maxBytesPerUnit()));
    const char* end = encode(text, out.data() + start);
    if (!end)
        return false;
    out.resize(std::size_t(end - out.data()));
    return true;
}

char* EncodeUtf8(std::u16string_view text, char* out) {
    return EncodeUtf8Units(text.data(), std::ptrdiff_t(text.size()), out);
}

std::string TextEncoder::cannotHoldReason() const {
    return CannotHoldReason(encoding_);
}

std::string CannotHoldReason(OutputEncoding encoding) {
    if (encoding == OutputEncoding::CodePage)
        return "the code page " + CodePage::ansi().name() + " cannot hold the replacement text";
    return "the replacement text is not valid Unicode";
}

} // namespace parvello

namespace parvello {

OutputEncoding OutputEncodingFor(SourceFormat format) {
    switch (format) {
    case SourceFormat::Utf8WithMark:
        return OutputEncoding::Utf8WithMark;
    case SourceFormat::Utf16LE:
    case SourceFormat::Utf16BE:
    case SourceFormat::Utf32LE:
    case SourceFormat::Utf32BE:
        return OutputEncoding::Utf16LE;
    case SourceFormat::Utf8:
        return OutputEncoding::Utf8;
    case SourceFormat::CodePage:
        break;
    }
    return OutputEncoding::CodePage;
}

} // namespace parvello
