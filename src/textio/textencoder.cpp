#include "textio/textencoder.h"

#include "base/qtpaths.h"
#include "textio/codepage.h"
#include "textio/textscan.h"

#include <QSysInfo>
#include <QtEndian>

#include <cstring>

namespace parvello {

OutputEncoding OutputEncodingFor(const LineArray& lines) {
    return OutputEncodingFor(lines.format);
}

std::ptrdiff_t FindUnpairedSurrogate(QStringView text) {
    const char16_t* units = text.utf16();
    const std::ptrdiff_t n = text.size();
    std::ptrdiff_t i = 0;
    while (i < n) {
        // Blocks without any surrogate are passed over at the vector levels.
        i = scanKernels.skipNonSurrogates(units, i, n);
        if (i >= n)
            break;
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit)) {
            if (i + 1 >= n || !QChar::isLowSurrogate(units[i + 1]))
                return i;
            i += 2;
        } else if (QChar::isLowSurrogate(unit)) {
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

QByteArrayView TextEncoder::mark() const {
    switch (encoding_) {
    case OutputEncoding::Utf8WithMark:
        return QByteArrayView("\xEF\xBB\xBF", 3);
    case OutputEncoding::Utf16LE:
        return QByteArrayView("\xFF\xFE", 2);
    case OutputEncoding::CodePage:
    case OutputEncoding::Utf8:
        break;
    }
    return QByteArrayView();
}

char* TextEncoder::encode(QStringView text, char* out) const {
    if (text.isEmpty()) // an empty view may have no data at all
        return out;
    switch (encoding_) {
    case OutputEncoding::CodePage:
        if (codePage_->encode(text.utf16(), text.size(), out) >= 0)
            return nullptr;
        return out + text.size();
    case OutputEncoding::Utf16LE:
        if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
            // Copied and looked at for surrogates in one pass; their pairing is checked only
            // where there is one.
            if (DecodeUtf16Units(reinterpret_cast<const char*>(text.utf16()), text.size(), false,
                                 reinterpret_cast<char16_t*>(out)) &&
                FindUnpairedSurrogate(text) >= 0)
                return nullptr;
        } else {
            if (FindUnpairedSurrogate(text) >= 0)
                return nullptr;
            qToLittleEndian<char16_t>(text.utf16(), text.size(), out);
        }
        return out + 2 * text.size();
    case OutputEncoding::Utf8:
    case OutputEncoding::Utf8WithMark:
        break;
    }
    return EncodeUtf8(text, out);
}

bool TextEncoder::append(QStringView text, QByteArray& out) const {
    const std::ptrdiff_t start = out.size();
    out.resize(start + text.size() * maxBytesPerUnit());
    const char* end = encode(text, out.data() + start);
    if (!end)
        return false;
    out.truncate(end - out.constData());
    return true;
}

char* EncodeUtf8(QStringView text, char* out) {
    return EncodeUtf8Units(text.utf16(), text.size(), out);
}

QString TextEncoder::cannotHoldReason() const {
    return CannotHoldReason(encoding_);
}

QString CannotHoldReason(OutputEncoding encoding) {
    if (encoding == OutputEncoding::CodePage)
        return QStringLiteral("the code page %1 cannot hold the replacement text")
            .arg(ToQString(std::string_view(CodePage::ansi().name())));
    return QStringLiteral("the replacement text is not valid Unicode");
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
