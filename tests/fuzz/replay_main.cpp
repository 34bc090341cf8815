// Runs the fuzz target over each file given (or each file of each folder given), once with
// every read size it can choose, so that an ordinary build checks the seed corpus and every
// saved finding without libFuzzer; then over random inputs made of the bytes that matter.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size);

int main(int argc, char* argv[]) {
    LLVMFuzzerInitialize(&argc, &argv);
    int runs = 0;
    const auto run = [&](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return false;
        }
        QByteArray bytes = file.readAll();
        for (int readSize = 0; readSize < 8 && !bytes.isEmpty(); ++readSize) {
            bytes[0] = char((uchar(bytes[0]) & 0x1F) | (readSize << 5));
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   size_t(bytes.size()));
        }
        ++runs;
        return true;
    };
    // Marks, line breaks, both families of quotes in UTF-8 and in the code page, pieces of
    // sequences, a surrogate half and NUL, strung together at random.
    static const char* const pieces[] = {"\xEF\xBB\xBF",
                                         "\xFF\xFE",
                                         "\xFE\xFF",
                                         "\xFF\xFE\0\0",
                                         "\r",
                                         "\n",
                                         "\r\n",
                                         "\"",
                                         "'",
                                         "\xE2\x80\x9C",
                                         "\xE2\x80\x9D",
                                         "\xE2\x80\x98",
                                         "\xE2\x80\x99",
                                         "\xE2\x80",
                                         "\x93",
                                         "\xC3\xA9",
                                         "\xF0\x9F\x98\x80",
                                         "\xD8",
                                         "a",
                                         "bc",
                                         "\0"};
    QRandomGenerator random(20260105);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes(2, '\0');
        bytes[0] = char(random.bounded(256));
        bytes[1] = char(random.bounded(4));
        for (int n = random.bounded(40); n > 0; --n) {
            const char* piece = pieces[random.bounded(int(std::size(pieces)))];
            bytes += *piece ? QByteArray(piece) : QByteArray(1, '\0');
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               size_t(bytes.size()));
    }
    // Long texts of line breaks, quotes and letters, as UTF-8 with and without the mark,
    // UTF-16 and the code page: many 64-byte steps, cut by reads and by the output's stage.
    static const char16_t* const textPieces[] = {u"\r",     u"\n",     u"\r\n",   u"\"",
                                                 u"'",      u"\u201C", u"\u201D", u"\u2018",
                                                 u"\u2019", u"\u00E9", u"a",      u"bc de"};
    for (int i = 0; i < 1200; ++i) {
        QString text;
        for (int n = random.bounded(400); n > 0; --n)
            text += QStringView(textPieces[random.bounded(int(std::size(textPieces)))]);
        QByteArray bytes(2, '\0');
        bytes[0] = char(random.bounded(256));
        bytes[1] = char(random.bounded(4));
        switch (i % 4) {
        case 0:
            bytes += text.toUtf8();
            break;
        case 1:
            bytes += "\xEF\xBB\xBF" + text.toUtf8();
            break;
        case 2:
            bytes += "\xFF\xFE";
            bytes += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
            break;
        default: // windows-1252: the curly quotes are 93, 94, 91 and 92
            for (const QChar c : text)
                bytes += c == u'\u201C'   ? '\x93'
                         : c == u'\u201D' ? '\x94'
                         : c == u'\u2018' ? '\x91'
                         : c == u'\u2019' ? '\x92'
                                          : char(c.unicode());
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               size_t(bytes.size()));
    }
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (QFileInfo(path).isDir()) {
            const QStringList names = QDir(path).entryList(QDir::Files, QDir::Name);
            for (const QString& name : names)
                if (!run(QDir(path).filePath(name)))
                    return 1;
        } else if (!run(path)) {
            return 1;
        }
    }
    if (runs == 0) {
        std::fprintf(stderr, "no input files\n");
        return 1;
    }
    std::printf("%d inputs replayed, every property held\n", runs);
    return 0;
}
