// The vector versions of the inner text loops against the plain ones (and the UTF-8 decoder
// against Qt's), on inputs that put the interesting units at every position around the
// vector widths.
#include "textio/textscan.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QtTest>

#include <algorithm>
#include <array>
#include <vector>

using namespace parvello;

Q_DECLARE_METATYPE(parvello::ScanLevel)

namespace {

const ScanLevel AllLevels[] = {ScanLevel::Plain, ScanLevel::Sse2, ScanLevel::Avx2,
                               ScanLevel::Avx512Vbmi, ScanLevel::Avx512Vbmi2};

void addLevelRows() {
    QTest::addColumn<ScanLevel>("level");
    for (const ScanLevel level : AllLevels)
        if (ScanLevelAvailable(level))
            QTest::newRow(ScanLevelName(level)) << level;
}

// Strict UTF-8 as Qt decodes it, with the check that the bytes do not stop inside a
// sequence; the reference for Utf8Decoder.
bool qtDecode(const QByteArray& bytes, QString& text) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    text = decoder(bytes);
    if (decoder.hasError())
        return false;
    for (qsizetype back = 1; back <= bytes.size() && back <= 4; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const int needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed <= back;
    }
    return true;
}

// Feeds bytes to a decoder in chunks cut at the given places.
bool ourDecode(const QByteArray& bytes, const std::vector<qsizetype>& cuts, ScanLevel level,
               QString& text) {
    Utf8Decoder decoder(level);
    std::vector<char16_t> out(size_t(bytes.size() + Utf8Decoder::Slack));
    char16_t* at = out.data();
    qsizetype from = 0;
    std::vector<qsizetype> ends = cuts;
    ends.push_back(bytes.size());
    for (const qsizetype to : ends) {
        // Each chunk is copied to a buffer of its own size, so that reading past it shows
        // under the address sanitizer.
        const QByteArray chunk = bytes.mid(from, to - from);
        std::vector<char> own(chunk.begin(), chunk.end());
        at = decoder.decode(own.data(), qsizetype(own.size()), at);
        if (!at)
            return false;
        from = to;
    }
    text = QString(reinterpret_cast<const QChar*>(out.data()), at - out.data());
    return decoder.finish();
}

// Texts that put a chosen piece at every position of a run of ASCII.
QList<QByteArray> aroundPiece(const QByteArray& piece, int width = 70) {
    QList<QByteArray> texts;
    for (int at = 0; at <= width; ++at)
        texts << QByteArray(at, 'a') + piece + QByteArray(width - at, 'b');
    return texts;
}

const QList<QByteArray>& utf8Pieces() {
    static const QList<QByteArray> pieces = {
        "\xC3\xA9",         // é
        "\xE2\x80\x9C",     // left double quote
        "\xF0\x9F\x98\x80", // a character beyond the first plane
        "\xEF\xBB\xBF",     // a mark inside the text stays
        "\xEF\xBF\xBE",     // a noncharacter
        "\xC2\x80",         // the lowest two-byte character
        "\xDF\xBF",         // the highest
        "\xE0\xA0\x80",     // the lowest three-byte character
        "\xED\x9F\xBF",     // just below the surrogates
        "\xEE\x80\x80",     // just above them
        "\xF4\x8F\xBF\xBF", // U+10FFFF
        // invalid
        "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xC3", "\xC3(", "\xE0\x80\x80", "\xE0\x9F\xBF",
        "\xED\xA0\x80", "\xED\xBF\xBF", "\xE2\x80", "\xE2(\x9C", "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFE",
        "\xFF", "\xF0\x9F\x98", QByteArray("\0", 1)};
    return pieces;
}

} // namespace

class TestTextScan : public QObject {
    Q_OBJECT

private slots:
    // The level runs as PARVELLO_VECTOR_LEVEL asks, at most the one the processor offers,
    // and the table in use is that level's.
    void chosenLevel() {
        const QByteArray name = qgetenv("PARVELLO_VECTOR_LEVEL");
        const ScanLevel offered = OfferedScanLevel();
        const std::optional<ScanLevel> wanted = ScanLevelNamed(name.toStdString());
        QCOMPARE(ChosenScanLevel(), wanted && *wanted < offered ? *wanted : offered);
        QCOMPARE(scanKernels.level, ChosenScanLevel());
        QCOMPARE(QuotesPassAvailable(), ChosenScanLevel() >= ScanLevel::Avx2);
        for (const ScanLevel level : AllLevels) {
            QCOMPARE(ScanLevelNamed(ScanLevelName(level)), level);
            QCOMPARE(ScanKernelsFor(level).level,
                     ScanLevelAvailable(level) ? level : ScanLevel::Plain);
        }
#if defined(PARVELLO_NO_VECTORS)
        QCOMPARE(offered, ScanLevel::Plain);
#endif
    }

    void searches_data() {
        addLevelRows();
    }
    void searches() {
        QFETCH(ScanLevel, level);
        const std::array<char16_t, 3> quotes = {u'"', u'\u201C', u'\u201D'};
        // Units that equal a wanted one in their low or high byte only must not match.
        const char16_t units[] = {
            u'\r',     u'\n',     u'"',      u'\u201C', u'\u201D',          u'\u010D',
            u'\u0D00', u'\uFF0A', u'\u201E', u'\u1C20', u'\u0022' | 0x8000, u'\uFFFF'};
        for (int length = 0; length <= 70; ++length) {
            for (int at = 0; at <= length; ++at) {
                for (const char16_t unit : units) {
                    std::vector<char16_t> text(size_t(length), u'x');
                    if (at < length)
                        text[size_t(at)] = unit;
                    if (at + 3 < length)
                        text[size_t(at + 3)] = u'\r'; // a second hit later on
                    const char16_t* data = text.data();
                    QCOMPARE(ScanKernelsFor(level).findLineBreak(data, length),
                             ScanKernelsFor(ScanLevel::Plain).findLineBreak(data, length));
                    QCOMPARE(ScanKernelsFor(level).findCarriageReturn(data, length),
                             ScanKernelsFor(ScanLevel::Plain).findCarriageReturn(data, length));
                    QCOMPARE(ScanKernelsFor(level).findAnyOf3(data, length, quotes),
                             ScanKernelsFor(ScanLevel::Plain).findAnyOf3(data, length, quotes));
                }
            }
        }
        // The plain versions themselves, on one text.
        const std::u16string text = u"ab\u201Dc\r\nd";
        QCOMPARE(
            ScanKernelsFor(ScanLevel::Plain).findLineBreak(text.data(), qsizetype(text.size())), 4);
        QCOMPARE(ScanKernelsFor(ScanLevel::Plain).findCarriageReturn(text.data(), 3), 3);
        QCOMPARE(ScanKernelsFor(ScanLevel::Plain)
                     .findAnyOf3(text.data(), qsizetype(text.size()), quotes),
                 2);
    }

    void encoder_data() {
        addLevelRows();
    }
    void encoder() {
        QFETCH(ScanLevel, level);
        // Pieces around vector widths: non-ASCII of each length, units at or above 0x8000
        // (which a signed pack would take for small numbers), pairs and lone surrogates.
        const QList<QString> pieces = {
            QStringLiteral("\u00E9"),      QStringLiteral("\u0080"),
            QStringLiteral("\u07FF"),      QStringLiteral("\u0800"),
            QStringLiteral("\u201C"),      QStringLiteral("\uFFFD"),
            QStringLiteral("\uE000"),      QString(QChar(0x8000)),
            QString(QChar(0xFF00)),        QStringLiteral("\U0001F600"),
            QString(QChar(0xD800)),        QString(QChar(0xDC00)),
            QString(QChar(0xDBFF)) + u'x', QString(QChar(0xDC00)) + QChar(0xD800),
            QString(QChar(0x00FF))};
        for (const QString& piece : pieces) {
            for (int at = 0; at <= 70; ++at) {
                for (const int after : {0, 1, 15, 16, 17, 31, 32, 33, 70 - at}) {
                    const QString text = QString(at, u'a') + piece + QString(after, u'b');
                    std::vector<char> plain(size_t(3 * text.size() + 1));
                    std::vector<char> vector(size_t(3 * text.size() + 1));
                    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
                    const char* plainEnd = ScanKernelsFor(ScanLevel::Plain)
                                               .encodeUtf8(units, text.size(), plain.data());
                    const char* vectorEnd =
                        ScanKernelsFor(level).encodeUtf8(units, text.size(), vector.data());
                    QCOMPARE(vectorEnd == nullptr, plainEnd == nullptr);
                    if (!plainEnd) {
                        QVERIFY(text.toUtf8().contains("\xEF\xBF\xBD") || !text.isValidUtf16());
                        continue;
                    }
                    const QByteArray got(vector.data(), vectorEnd - vector.data());
                    QCOMPARE(QByteArray(plain.data(), plainEnd - plain.data()), got);
                    QCOMPARE(got, text.toUtf8());
                }
            }
        }
    }

    void decoder_data() {
        addLevelRows();
    }
    void decoder() {
        QFETCH(ScanLevel, level);
        QList<QByteArray> texts = {"",
                                   "\xEF\xBB\xBF",
                                   "\xEF\xBB\xBF\xEF\xBB\xBFx",
                                   "\xEF\xBB\xBF"
                                   "abc",
                                   "a\xEF\xBB\xBF",
                                   "\xEF\xBB"};
        for (const QByteArray& piece : utf8Pieces())
            texts << aroundPiece(piece);
        for (const QByteArray& text : texts) {
            QString expected;
            const bool valid = qtDecode(text, expected);
            // Whole, then cut once at every place, then cut at every byte.
            std::vector<std::vector<qsizetype>> cutSets = {{}};
            for (qsizetype cut = 0; cut <= text.size(); ++cut)
                cutSets.push_back({cut});
            std::vector<qsizetype> everyByte;
            for (qsizetype cut = 1; cut < text.size(); ++cut)
                everyByte.push_back(cut);
            cutSets.push_back(everyByte);
            for (const std::vector<qsizetype>& cuts : cutSets) {
                QString got;
                const bool ok = ourDecode(text, cuts, level, got);
                if (ok != valid || (valid && got != expected))
                    qWarning() << "bytes" << text.toHex(' ') << "cuts" << cuts;
                QCOMPARE(ok, valid);
                if (valid)
                    QCOMPARE(got, expected);
            }
        }
    }

    // Random texts from a small alphabet of ASCII, valid and broken sequences.
    void decoderRandom_data() {
        addLevelRows();
    }
    void decoderRandom() {
        QFETCH(ScanLevel, level);
        QRandomGenerator random(20210831);
        const QList<QByteArray>& pieces = utf8Pieces();
        for (int round = 0; round < 3000; ++round) {
            QByteArray text;
            const int count = int(random.bounded(12));
            for (int k = 0; k < count; ++k) {
                text += QByteArray(int(random.bounded(40)), char('a' + k));
                // Mostly valid pieces, now and then a broken one.
                const int pick = int(random.bounded(round % 3 == 0 ? pieces.size() : 11));
                text += pieces[pick];
            }
            QString expected;
            const bool valid = qtDecode(text, expected);
            std::vector<qsizetype> cuts;
            for (qsizetype at = qsizetype(random.bounded(8)); at < text.size();
                 at += 1 + qsizetype(random.bounded(48)))
                cuts.push_back(at);
            QString got;
            const bool ok = ourDecode(text, cuts, level, got);
            if (ok != valid)
                qWarning() << "bytes" << text.toHex(' ');
            QCOMPARE(ok, valid);
            if (valid)
                QCOMPARE(got, expected);
        }
    }

    // The check without decoding gives the decoder's answer, whole and fed in parts, and
    // notices whether any byte is above 0x7F.
    void checkerRandom_data() {
        addLevelRows();
    }
    void checkerRandom() {
        QFETCH(ScanLevel, level);
        QRandomGenerator random(20261208);
        const QList<QByteArray>& pieces = utf8Pieces();
        for (int round = 0; round < 3000; ++round) {
            QByteArray text;
            const int count = int(random.bounded(12));
            for (int k = 0; k < count; ++k) {
                text += QByteArray(int(random.bounded(70)), char('a' + k));
                if (round % 4 != 1)
                    text += pieces[int(random.bounded(round % 3 == 0 ? pieces.size() : 11))];
            }
            QString decoded;
            const bool valid = qtDecode(text, decoded);
            const bool nonAscii = std::any_of(text.cbegin(), text.cend(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
            });
            const Utf8Check whole = CheckUtf8(text.constData(), text.size(), level);
            Utf8Checker parts(level);
            for (qsizetype filled = qsizetype(random.bounded(6)); filled < text.size();
                 filled += 1 + qsizetype(random.bounded(40)))
                parts.feed(text.constData(), filled);
            parts.feed(text.constData(), text.size());
            const Utf8Check fed = parts.finish(text.constData(), text.size());
            if (whole.valid != valid || fed.valid != valid)
                qWarning() << "bytes" << text.toHex(' ');
            QCOMPARE(whole.valid, valid);
            QCOMPARE(fed.valid, valid);
            if (valid) {
                QCOMPARE(whole.nonAscii, nonAscii);
                QCOMPARE(fed.nonAscii, nonAscii);
            }
        }
    }

    // Bytes drawn around the edges of every rule (lead bytes at their limits, continuations
    // at theirs, ASCII), at every length around the vector width: every level agrees with
    // Qt's decoder, whole and fed in two parts.
    void checkerEdgeBytes_data() {
        addLevelRows();
    }
    void checkerEdgeBytes() {
        QFETCH(ScanLevel, level);
        static const unsigned char leads[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC1,
                                              0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                              0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
        static const unsigned char continuations[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0x41};
        QRandomGenerator random(99);
        for (int round = 0; round < 20000; ++round) {
            // A few characters, each a lead byte and zero to three continuation bytes,
            // between runs of ASCII.
            QByteArray text(int(random.bounded(40)), 'a');
            const int count = int(random.bounded(5));
            for (int c = 0; c < count; ++c) {
                text += char(leads[random.bounded(int(std::size(leads)))]);
                for (int k = int(random.bounded(4)); k > 0; --k)
                    text += char(continuations[random.bounded(int(std::size(continuations)))]);
                text += QByteArray(int(random.bounded(36)), 'b');
            }
            const qsizetype length = text.size();
            QString decoded;
            const bool valid = qtDecode(text, decoded);
            const Utf8Check whole = CheckUtf8(text.constData(), text.size(), level);
            Utf8Checker parts(level);
            parts.feed(text.constData(), qsizetype(random.bounded(length + 1)));
            const Utf8Check fed = parts.finish(text.constData(), text.size());
            if (whole.valid != valid || fed.valid != valid)
                qWarning() << "bytes" << text.toHex(' ');
            QCOMPARE(whole.valid, valid);
            QCOMPARE(fed.valid, valid);
        }
    }

    // The byte searches find every hit, in order, wherever it lies around the vector widths.
    void byteSearches_data() {
        addLevelRows();
    }
    void byteSearches() {
        QFETCH(ScanLevel, level);
        const ScanKernels& kernels = ScanKernelsFor(level);
        const std::array<char, 3> wanted = {'"', '\xE2', '\n'};
        const auto plainNext = [&](const QByteArray& text, qsizetype from) {
            for (; from < text.size(); ++from)
                if (text[from] == wanted[0] || text[from] == wanted[1] || text[from] == wanted[2])
                    return from;
            return text.size();
        };
        QRandomGenerator random(7);
        for (int length = 0; length <= 80; ++length) {
            for (int round = 0; round < 40; ++round) {
                QByteArray text(length, 'x');
                for (qsizetype i = 0; i < length; ++i)
                    if (random.bounded(10) == 0)
                        text[i] = "\"\xE2\n\x80\r\x9C\x9D"[random.bounded(7)];
                QCOMPARE(kernels.findAnyOf3Bytes(text.constData(), length, wanted),
                         plainNext(text, 0));
                qsizetype ascii = 0;
                while (ascii < length && static_cast<unsigned char>(text[ascii]) < 0x80)
                    ++ascii;
                QCOMPARE(kernels.asciiPrefix(text.constData(), length), ascii);
                // ByteHits, stopping at every hit or jumping ahead by a few bytes.
                ByteHits hits(text.constData(), length, wanted);
                for (qsizetype from = 0; from <= length;) {
                    const qsizetype found = hits.next(from);
                    QCOMPARE(found, plainNext(text, from));
                    from = round % 2 ? found + 1 : from + 1 + qsizetype(random.bounded(20));
                }
                // The bytes as UTF-16 in both byte orders, and whether a unit is half a pair.
                QByteArray pairs = text;
                if (length > 0)
                    pairs[random.bounded(length)] = '\xD9';
                for (const bool big : {false, true}) {
                    std::vector<char16_t> got(size_t(length / 2) + 1);
                    bool half = false;
                    const bool found =
                        DecodeUtf16Units(pairs.constData(), length / 2, big, got.data());
                    for (qsizetype k = 0; k < length / 2; ++k) {
                        const auto a = uchar(pairs[2 * k]);
                        const auto b = uchar(pairs[2 * k + 1]);
                        const char16_t unit = big ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
                        QCOMPARE(got[size_t(k)], unit);
                        half = half || (unit & 0xF800) == 0xD800;
                    }
                    QCOMPARE(found, half);
                }
                // StopUnits: the vector's bits are the units that stop, in bytes and units.
                const StopUnits<char> bytes({'\r', '\n', '"', '\x9C', '\x9D'},
                                            level != ScanLevel::Plain);
                const QString units = QString::fromLatin1(text);
                const StopUnits<char16_t> wide({u'\r', u'\n', u'"', u'\u009C', u'\u009D'},
                                               level != ScanLevel::Plain);
                for (qsizetype i = 0; bytes.vectors() && i + 16 <= length; ++i) {
                    unsigned byteBits = 0;
                    unsigned unitBits = 0;
                    for (qsizetype k = 0; k < 16; ++k) {
                        byteBits |= unsigned(bytes.isStop(text[i + k])) << k;
                        if (k < 8 && wide.isStop(units[i + k].unicode()))
                            unitBits |= 1u << (2 * k);
                    }
                    QCOMPARE(bytes.mask(text.constData() + i), byteBits);
                    QCOMPARE(wide.mask(QStringView(units).utf16() + i), unitBits);
                }
            }
        }
    }

    // The vector pass gives what taking the quotes one by one gives, for rules that remove
    // them, replace them by one byte or change their last byte, with quotes cut by its
    // groups and by its calls, and three-byte quotes that overlap.
    void quotesPass_data() {
        QTest::addColumn<QByteArrayList>("rule");
        QTest::addColumn<QByteArrayList>("results");
        QTest::addColumn<bool>("units"); // decoded text: each byte widened to a unit
        QTest::addColumn<ScanLevel>("level");
        const QByteArrayList utf8 = {"\"", "\xE2\x80\x9C", "\xE2\x80\x9D"};
        const QByteArrayList codePage = {"'", "\x91", "\x92"};
        const QByteArrayList oneMissing = {"\x93", "", "\x94"};
        const QByteArrayList other = {"\xE2\x80\x9C", "\"", "\xE2\x80\x9D"};
        const QByteArrayList decoded = {"\"", "\x93", "\x94"};
        const QByteArrayList removed = {"", "", ""};
        const struct {
            const char* name;
            QByteArrayList rule, results;
            bool units;
        } rows[] = {
            {"UTF-8, removed", utf8, removed, false},
            {"UTF-8, to single quotes", utf8, {"'", "\xE2\x80\x98", "\xE2\x80\x99"}, false},
            {"UTF-8, to one byte", utf8, {"'", "'", "'"}, false},
            {"UTF-8, mixed", utf8, {"", "*", "\xE2\x80\x99"}, false},
            {"code page, removed", codePage, removed, false},
            {"code page, to double quotes", codePage, {"\"", "\x93", "\x94"}, false},
            {"code page, one missing", oneMissing, removed, false},
            {"code page, one missing, changed", oneMissing, {"'", "", "x"}, false},
            {"any other, removed", other, removed, false},
            {"any other, changed", other, {"'", "", "\xE2\x80\x99"}, false},
            {"decoded text, removed", decoded, removed, true},
            {"decoded text, changed", decoded, {"'", "", "\x91"}, true},
        };
        // Each for the pass of each processor level this one runs (at a level without one,
        // once, to say so).
        const bool anyPass = ScanLevelAvailable(ScanLevel::Avx2);
        for (const auto& row : rows)
            for (const ScanLevel level : {ScanLevel::Avx2, ScanLevel::Avx512Vbmi2})
                if (ScanLevelAvailable(level) || (!anyPass && level == ScanLevel::Avx2))
                    QTest::addRow("%s, %s", row.name, ScanLevelName(level))
                        << row.rule << row.results << row.units << level;
    }
    void quotesPass() {
        QFETCH(QByteArrayList, rule);
        QFETCH(QByteArrayList, results);
        QFETCH(bool, units);
        QFETCH(ScanLevel, level);
        const ScanKernels& kernels = ScanKernelsFor(level);
        if (!kernels.quotesPass)
            QSKIP("the level in use has no quotes pass (below AVX2); the engine's other pass is "
                  "used");
        const qsizetype group = units ? 32 : 64;
        PassUnits family;
        PassQuotes quotes;
        for (size_t q = 0; q < 3; ++q) {
            const QByteArray& quote = rule[qsizetype(q)];
            const QByteArray& result = results[qsizetype(q)];
            quotes.length[q] = int(quote.size());
            std::copy(quote.begin(), quote.end(), quotes.bytes[q].begin());
            quotes.kept[q] = int(result.size());
            quotes.last[q] = result.isEmpty() ? '\0' : result.back();
            family.quotes[q] = char16_t(uchar(quote.isEmpty() ? '"' : quote[0]));
            family.removed[q] = result.isEmpty();
            family.becomes[q] = char16_t(uchar(result.isEmpty() ? '\0' : result[0]));
        }
        // What the pass writes for text[0..at): the quotes that end before at as they become
        // and, with line breaks, each lone CR or LF made CR LF (a quote cut at at stays for
        // now).
        const auto plain = [&](const QByteArray& text, qsizetype at, bool lineBreaks) {
            QByteArray kept;
            for (qsizetype i = 0; i < at;) {
                const auto quote = std::find_if(rule.begin(), rule.end(), [&](const auto& q) {
                    return !q.isEmpty() && text.sliced(i).startsWith(q);
                });
                if (quote != rule.end() && i + quote->size() <= at) {
                    kept += results[quote - rule.begin()];
                    i += quote->size();
                    continue;
                }
                const char c = text[i++];
                const bool crLf = c == '\r' && i < text.size() && text[i] == '\n';
                const bool lfOfCrLf = c == '\n' && i >= 2 && text[i - 2] == '\r';
                kept += lineBreaks && (c == '\r' || c == '\n') && !crLf && !lfOfCrLf
                            ? QByteArray("\r\n")
                            : QByteArray(1, c);
            }
            return kept;
        };
        const char* const pieces[] = {"x",        "\"",   "'",    "\xE2\x80\x9C", "\xE2\x80\x9D",
                                      "\xE2\x80", "\xE2", "\x9C", "\x91",         "\x93",
                                      "\r\n",     "\n",   "\r",   "\r\"\n"};
        QRandomGenerator random(11);
        for (int round = 0; round < 800; ++round) {
            const bool lineBreaks = round % 2;
            // With line breaks the byte after each group is looked at.
            const qsizetype length = 64 * (1 + random.bounded(8)) + (lineBreaks ? 1 : 0);
            QByteArray text;
            while (text.size() < length)
                text += random.bounded(3) ? "x" : pieces[random.bounded(14)];
            text.truncate(length);
            qsizetype i = 0;
            const auto run = [&](const auto* data, auto* start, qsizetype& written, auto&& pass) {
                auto* o = start;
                QuotesPassCarry carry;
                while (i + group < length || (!lineBreaks && i + group <= length)) {
                    const qsizetype last = lineBreaks ? length - 1 : length;
                    const qsizetype end = std::min(last, i + group * (1 + random.bounded(3)));
                    const qsizetype at = pass(data, end, o, carry);
                    QCOMPARE((at - i) % group, 0);
                    const bool whole = at == end - (end - i) % group;
                    QVERIFY(whole || lineBreaks);
                    i = at;
                    if (!whole)
                        break; // a group left to the caller
                }
                written = o - start;
            };
            if (units) {
                const QString wide = QString::fromLatin1(text);
                QString out(2 * length + 128, QChar(0));
                qsizetype written = 0;
                run(reinterpret_cast<const char16_t*>(wide.utf16()),
                    reinterpret_cast<char16_t*>(out.data()), written,
                    [&](const char16_t* data, qsizetype end, char16_t*& o, QuotesPassCarry& carry) {
                        return kernels.quotesPassUnits(data, i, end, o, family, lineBreaks, carry);
                    });
                QCOMPARE(out.first(written), QString::fromLatin1(plain(text, i, lineBreaks)));
            } else {
                QByteArray out(2 * length + 128, '\0');
                qsizetype written = 0;
                run(text.constData(), out.data(), written,
                    [&](const char* data, qsizetype end, char*& o, QuotesPassCarry& carry) {
                        return kernels.quotesPassBytes(data, i, end, o, quotes, lineBreaks, carry);
                    });
                QCOMPARE(out.first(written), plain(text, i, lineBreaks));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTextScan)
#include "tst_textscan.moc"
