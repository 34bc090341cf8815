#include "base/printablename.h"

#include <QFile>

namespace parvello {

namespace {

bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The escape of one byte that may not be printed as it is.
void appendEscape(QString& out, uchar byte) {
    static constexpr char named[] = "abtnvfr"; // 7..13
    out += QLatin1Char('\\');
    if (byte >= 7 && byte <= 13) {
        out += QLatin1Char(named[byte - 7]);
        return;
    }
    out += QLatin1Char(char('0' + (byte >> 6)));
    out += QLatin1Char(char('0' + ((byte >> 3) & 7)));
    out += QLatin1Char(char('0' + (byte & 7)));
}

} // namespace

qsizetype Utf8SequenceAt(QByteArrayView bytes, char32_t& code) {
    const auto lead = uchar(bytes[0]);
    code = lead;
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
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
    if (bytes.size() < length)
        return 0;
    code = lead & (0x7F >> length);
    for (qsizetype k = 1; k < length; ++k) {
        const auto next = uchar(bytes[k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

QString PrintableName(QByteArrayView name) {
    bool plain = !name.startsWith('"');
    for (qsizetype i = 0; plain && i < name.size();) {
        char32_t code = 0;
        const qsizetype length = Utf8SequenceAt(name.sliced(i), code);
        plain = length > 0 && !isControl(code);
        i += length;
    }
    if (plain)
        return QString::fromUtf8(name);
    QString out(QLatin1Char('"'));
    for (qsizetype i = 0; i < name.size();) {
        char32_t code = 0;
        const qsizetype length = Utf8SequenceAt(name.sliced(i), code);
        if (length == 0 || isControl(code)) {
            for (const char byte : name.sliced(i, std::max<qsizetype>(length, 1)))
                appendEscape(out, uchar(byte));
            i += std::max<qsizetype>(length, 1);
            continue;
        }
        if (code == '"' || code == '\\')
            out += QLatin1Char('\\');
        out += QString::fromUtf8(name.sliced(i, length));
        i += length;
    }
    out += QLatin1Char('"');
    return out;
}

QString PrintablePath(const QString& path) {
    return PrintableName(QByteArrayView(QFile::encodeName(path)));
}

QString PrintableLine(const QString& line) {
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        if (!isControl(c.unicode())) {
            out += c;
            continue;
        }
        for (const char byte : QString(c).toUtf8())
            appendEscape(out, uchar(byte));
    }
    return out;
}

} // namespace parvello
