#include "textio/codepage.h"

#include "app/failure.h"

#include <QStringDecoder>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace parvello {

namespace {

// windows-1252 above 0x7F: 0x80..0x9F as Microsoft defines them (the five undefined bytes
// as the control character of the same value), 0xA0..0xFF as Latin-1.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::array<char16_t, 256> windows1252Table() {
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = char16_t(b);
    for (int b = 0x80; b < 0xA0; ++b)
        table[b] = Windows1252High[b - 0x80];
    return table;
}

bool isWindows1252(const QString& name) {
    const QString n = name.trimmed().toLower();
    return n == u"windows-1252" || n == u"cp1252" || n == u"x-cp1252" || n == u"1252";
}

[[noreturn]] void notSingleByte(const QString& name) {
    throw Failure(QStringLiteral("\"%1\" is not a single-byte code page").arg(name),
                  failure_numbers::InvalidArgument);
}

QString systemCodePageName() {
#ifdef Q_OS_WIN
    return QStringLiteral("windows-%1").arg(GetACP());
#else
    const QString configured = qEnvironmentVariable("PARVELLO_CODEPAGE").trimmed();
    return configured.isEmpty() ? QStringLiteral("windows-1252") : configured;
#endif
}

} // namespace

CodePage::CodePage(QString name, const std::array<char16_t, 256>& table)
    : name_(std::move(name)), toUnicode_(table), fromUnicode_(65536, 0) {
    for (int b = 0; b < 256; ++b) {
        fromUnicode_[table[b]] = std::uint16_t(0x100 | b);
        if (b < 0x80 && table[b] != b)
            asciiCompatible_ = false;
    }
}

const CodePage& CodePage::ansi() {
    // A throwing initialiser leaves the static unset, so every later file reports it again.
    static const std::unique_ptr<CodePage> page = forName(systemCodePageName());
    return *page;
}

std::unique_ptr<CodePage> CodePage::forName(const QString& name) {
    if (isWindows1252(name))
        return std::unique_ptr<CodePage>(
            new CodePage(QStringLiteral("windows-1252"), windows1252Table()));
    const QByteArray encodedName = name.trimmed().toLatin1();
    QStringDecoder probe(encodedName.constData());
    if (!probe.isValid())
        throw Failure(QStringLiteral("Unknown code page \"%1\"").arg(name),
                      failure_numbers::InvalidArgument);

    // Decode every byte on its own. An undefined byte becomes the control character of the
    // same value; a byte that starts a longer sequence shows up below.
    std::array<char16_t, 256> table{};
    std::vector<bool> defined(256, false);
    for (int b = 0; b < 256; ++b) {
        QStringDecoder decoder(encodedName.constData(), QStringDecoder::Flag::Stateless);
        const char byte = char(b);
        const QString unit = decoder(QByteArrayView(&byte, 1));
        // Converters mark an undefined byte with U+FFFD or with SUB (U+001A).
        if (!decoder.hasError() && unit.size() == 1 && unit[0] != QChar::ReplacementCharacter &&
            !unit[0].isSurrogate() && (unit[0] != QChar(0x1A) || b == 0x1A)) {
            table[b] = unit[0].unicode();
            defined[b] = true;
        } else {
            table[b] = char16_t(b);
        }
        // In a multi-byte code page some byte pair decodes to fewer than two characters.
        for (const char trail : {'\x41', '\x80', '\xA1'}) {
            QStringDecoder pair(encodedName.constData(), QStringDecoder::Flag::Stateless);
            const char bytes[2] = {byte, trail};
            if (QString(pair(QByteArrayView(bytes, 2))).size() != 2)
                notSingleByte(name);
        }
    }
    // The table must be one-to-one, or some byte would not come back as itself.
    std::vector<int> seen(65536, -1);
    for (int b = 0; b < 256; ++b) {
        if (seen[table[b]] >= 0)
            notSingleByte(name);
        seen[table[b]] = b;
    }
    return std::unique_ptr<CodePage>(new CodePage(name.trimmed(), table));
}

void CodePage::decode(const char* bytes, qsizetype n, char16_t* out) const {
    qsizetype i = 0;
#if defined(__SSE2__)
    if (asciiCompatible_) {
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            if (_mm_movemask_epi8(chunk) == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                                 _mm_unpacklo_epi8(chunk, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8),
                                 _mm_unpackhi_epi8(chunk, zero));
            } else {
                for (qsizetype k = i; k < i + 16; ++k)
                    out[k] = toUnicode_[static_cast<unsigned char>(bytes[k])];
            }
        }
    }
#endif
    for (; i < n; ++i)
        out[i] = toUnicode_[static_cast<unsigned char>(bytes[i])];
}

qsizetype CodePage::encode(const char16_t* units, qsizetype n, char* out) const {
    qsizetype i = 0;
#if defined(__SSE2__)
    if (asciiCompatible_) {
        const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
            const __m128i nonAscii = _mm_and_si128(_mm_or_si128(a, b), high);
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(nonAscii, zero)) == 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
                continue;
            }
            for (qsizetype k = i; k < i + 16; ++k) {
                const std::uint16_t entry = fromUnicode_[units[k]];
                if (!entry)
                    return k;
                out[k] = char(entry & 0xFF);
            }
        }
    }
#endif
    for (; i < n; ++i) {
        const std::uint16_t entry = fromUnicode_[units[i]];
        if (!entry)
            return i;
        out[i] = char(entry & 0xFF);
    }
    return -1;
}

} // namespace parvello
