#include "samples/scramble.h"

#include "textio/codepage.h"

namespace parvello {

namespace {

constexpr QChar Utf8Marker = QChar(0xFFFD);

int codeOf(QChar character, const CodePage& codePage) {
    const int code = codePage.fromUnicode(character.unicode());
    return code < 0 ? '?' : code;
}

// The shared walk over text and key: combine(c, f) gives the new code.
template <class Combine>
QString walk(const QString& text, const QString& key, const CodePage& codePage,
             const EventPump& pump, Combine combine) {
    QString result;
    result.reserve(text.size());
    qsizetype k = 0;
    for (const QChar character : text) {
        if (pump)
            pump();
        const int c = codeOf(character, codePage);
        const int f = key.isEmpty() ? 0 : codeOf(key[k], codePage);
        if (!key.isEmpty())
            k = (k + 1) % key.size();
        result.append(QChar(codePage.toUnicode(static_cast<unsigned char>(combine(c, f)))));
    }
    return result;
}

bool codePageHolds(const QString& text, const CodePage& codePage) {
    for (const QChar character : text)
        if (codePage.fromUnicode(character.unicode()) < 0)
            return false;
    return true;
}

} // namespace

QString ScrambleString(const QString& text, const QString& key, const CodePage& codePage,
                       const EventPump& pump) {
    return walk(text, key, codePage, pump, [](int c, int f) {
        const int v = c + f;
        return v > 255 ? v - 255 : v;
    });
}

QString UnscrambleString(const QString& text, const QString& key, const CodePage& codePage,
                         const EventPump& pump) {
    return walk(text, key, codePage, pump, [](int c, int f) {
        const int v = c - f;
        return v < 1 ? v + 255 : v;
    });
}

QString EncodeSampleRecord(const QStringList& paths, const CodePage& codePage,
                           const EventPump& pump) {
    const QString record = paths.join(QLatin1Char('|'));
    if (codePageHolds(record, codePage))
        return ScrambleString(record, SampleKeyWord, codePage, pump);
    // Each UTF-8 byte as the code-page character of that byte, then scrambled as usual.
    const QByteArray bytes = record.toUtf8();
    QString asCodePage;
    asCodePage.reserve(bytes.size());
    for (const char byte : bytes)
        asCodePage.append(QChar(codePage.toUnicode(static_cast<unsigned char>(byte))));
    return Utf8Marker + ScrambleString(asCodePage, SampleKeyWord, codePage, pump);
}

QStringList DecodeSampleRecord(const QString& stored, const CodePage& codePage,
                               const EventPump& pump) {
    if (!stored.startsWith(Utf8Marker))
        return UnscrambleString(stored, SampleKeyWord, codePage, pump).split(QLatin1Char('|'));
    const QString asCodePage = UnscrambleString(stored.mid(1), SampleKeyWord, codePage, pump);
    QByteArray bytes;
    bytes.reserve(asCodePage.size());
    for (const QChar character : asCodePage)
        bytes.append(static_cast<char>(codeOf(character, codePage)));
    return QString::fromUtf8(bytes).split(QLatin1Char('|'));
}

} // namespace parvello
