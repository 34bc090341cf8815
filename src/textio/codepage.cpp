#include "textio/codepage.h"

#include "textio/fileerror.h"
#include "textio/simd/kernels.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <bitset>
#include <cstring>
#include <new>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifndef Q_OS_WIN
#include <clocale>
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
    throw FileError(FileProblem::InvalidArgument,
                    QStringLiteral("\"%1\" is not a single-byte code page: some byte does not "
                                   "decode on its own to one character")
                        .arg(name)
                        .toStdString());
}

// The table of a code page from the unit each byte decodes to alone. Each byte must come
// back as itself, so a byte the code page leaves undefined, and a byte whose character another
// byte decodes to as well (the character stays with the byte it is written as), stand for a
// character of their own that no byte of the code page has: the control character of the
// same value where the byte lies among the control characters and that one is free (as
// Windows does for windows-1252), else a character of the Private Use Area. So the code page
// holds none of the characters it leaves undefined: a replacement text with the registered
// sign in ISO-8859-7, which has no such character at 0xAE, is refused, not written as 0xAE.
std::array<char16_t, 256> tableOf(const QByteArray& encodedName,
                                  const std::array<char16_t, 256>& alone,
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
        QStringEncoder encoder(encodedName.constData(), QStringEncoder::Flag::Stateless);
        const QByteArray back = encoder(QStringView(&unit, 1));
        if (back.size() == 1 && static_cast<unsigned char>(back[0]) == b) {
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

std::unique_ptr<CodePage> systemCodePage() {
#ifdef Q_OS_WIN
    return CodePage::forName(QStringLiteral("windows-%1").arg(GetACP()));
#else
    const QString configured = qEnvironmentVariable("PARVELLO_CODEPAGE").trimmed();
    if (configured.isEmpty())
        return CodePage::forName(QStringLiteral("windows-1252"));
    try {
        return CodePage::forName(configured);
    } catch (const FileError& failure) {
        throw FileError(failure.problem(), "PARVELLO_CODEPAGE: " + failure.description());
    }
#endif
}

} // namespace

CodePage::CodePage(QString name, const std::array<char16_t, 256>& table)
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
#ifndef Q_OS_WIN
        // The character set the user's locale names, read from the environment as the
        // system reads it, whether or not the program has set its locale yet.
        bool localeUtf8 = false;
        if (const locale_t user = ::newlocale(LC_CTYPE_MASK, "", locale_t(nullptr))) {
            const char* characters = ::nl_langinfo_l(CODESET, user);
            localeUtf8 = characters && qstricmp(characters, "UTF-8") == 0;
            ::freelocale(user);
        }
        system->asciiIsUtf8_ =
            localeUtf8 && qEnvironmentVariable("PARVELLO_CODEPAGE").trimmed().isEmpty();
#endif
        return system;
    }();
    return *page;
}

std::unique_ptr<CodePage> CodePage::forName(const QString& name) {
    const QString trimmed = name.trimmed();
    if (isWindows1252(trimmed))
        return std::unique_ptr<CodePage>(
            new CodePage(QStringLiteral("windows-1252"), windows1252Table()));
    const QByteArray encodedName = trimmed.toLatin1();
    if (trimmed.isEmpty() || !QStringDecoder(encodedName.constData()).isValid())
        throw FileError(FileProblem::InvalidArgument,
                        QStringLiteral("Unknown code page \"%1\"").arg(name).toStdString());
    const auto decode = [&](QByteArrayView bytes, bool* error = nullptr) {
        QStringDecoder decoder(encodedName.constData(), QStringDecoder::Flag::Stateless);
        QString text = decoder(bytes);
        if (error)
            *error = decoder.hasError();
        return text;
    };

    // Every byte on its own must give exactly one unit. A byte that gives nothing begins a
    // longer sequence or switches the decoder into another state (the escape of
    // ISO-2022-JP, the shift bytes of EBCDIC double-byte pages); more than one unit does not
    // fit the table.
    std::array<char16_t, 256> alone{};
    std::bitset<256> defined;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        bool error = false;
        const QString unit = decode(QByteArrayView(&byte, 1), &error);
        if (unit.size() != 1)
            notSingleByte(name);
        alone[b] = unit[0].unicode();
        // The codec marks an undefined byte as an error (its unit is U+FFFD or SUB); SUB
        // without an error is a real character, as 0x7F is in IBM437.
        defined[b] = !error && unit[0] != QChar::ReplacementCharacter && !unit[0].isSurrogate();
    }
    // No byte may change how the bytes after it decode (a lead byte of Shift_JIS or UTF-8
    // decodes alone as an error, but takes the next byte with it): each byte before every
    // byte, and the 256 bytes in a row, must give what they give alone.
    const auto decodesAsAlone = [&](const QByteArray& bytes) {
        QString expected(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            expected[i] = QChar(alone[static_cast<unsigned char>(bytes[i])]);
        return decode(bytes) == expected;
    };
    QByteArray bytes(512, '\0');
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    if (!decodesAsAlone(bytes.first(256)))
        notSingleByte(name);
    for (int b = 0; b < 256; ++b) {
        for (int x = 0; x < 256; ++x) {
            bytes[2 * x] = char(b);
            bytes[2 * x + 1] = char(x);
        }
        if (!decodesAsAlone(bytes))
            notSingleByte(name);
    }
    return std::unique_ptr<CodePage>(new CodePage(trimmed, tableOf(encodedName, alone, defined)));
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
