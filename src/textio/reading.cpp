#include "textio/reading.h"

#include "base/failure.h"
#include "textio/codepage.h"
#include "textio/fileerrors.h"
#include "textio/textloader.h"
#include "textio/textscan.h"

#include <QFile>

#include <memory>
#include <optional>
#include <type_traits>

namespace parvello {

namespace {

const QString& readLineTag() {
    static const QString tag =
        ModuleTag(QStringLiteral("RFTSFSO"), QStringLiteral("ReadFileToStringLine"));
    return tag;
}
const QString& fsoLineTag() {
    static const QString tag =
        ModuleTag(QStringLiteral("RFTSFSO"), QStringLiteral("ReadFileToStringFSOLine"));
    return tag;
}
const QString& utfLineTag() {
    static const QString tag =
        ModuleTag(QStringLiteral("RFTSFSO"), QStringLiteral("ReadFileToStringUTFLine"));
    return tag;
}

[[noreturn]] void streamNotOpen() {
    throw Failure(QStringLiteral("The file is not open"), failure_numbers::InvalidArgument);
}

// Where the line that begins at position ends in text (which may be undecoded bytes, in an
// encoding whose CR and LF are the bytes 0x0D and 0x0A), and where the next one begins. A
// line ends at CR LF, at a lone LF or at a lone CR. Bytes are searched with breaks.
template <class Unit>
LineSpan nextLine(const Unit* text, qsizetype n, qsizetype& position, ByteHits* breaks = nullptr) {
    qsizetype end;
    if constexpr (std::is_same_v<Unit, char>)
        end = breaks->next(position);
    else
        end = position + FindLineBreak(text + position, n - position);
    const LineSpan line{position, end - position};
    if (end >= n)
        position = n;
    else if (text[end] == Unit('\r') && end + 1 < n && text[end + 1] == Unit('\n'))
        position = end + 2;
    else
        position = end + 1;
    return line;
}

// The spans of text[from..n) split at every CR LF pair: lone CR and LF stay in their line,
// a text ending with CR LF gives a last, empty line, an empty text one empty line.
template <class Unit>
void splitAtCrLf(const Unit* units, qsizetype from, qsizetype n, std::vector<LineSpan>& spans) {
    spans.clear();
    qsizetype start = from;
    for (;;) {
        qsizetype cr;
        if constexpr (std::is_same_v<Unit, char>)
            cr = from + FindCarriageReturnByte(units + from, n - from);
        else
            cr = from + FindCarriageReturn(units + from, n - from);
        if (cr >= n)
            break;
        if (cr + 1 < n && units[cr + 1] == Unit('\n')) {
            spans.push_back(LineSpan{start, cr - start});
            start = cr + 2;
        }
        from = cr + 1;
    }
    spans.push_back(LineSpan{start, n - start});
}

// The text stream of the text-stream road: the whole file is loaded when it is opened and
// handed out line by line.
class TextStream {
public:
    void open(const QString& path, bool unicodeFormat, LineForm form) {
        loaded_ = LoadText(path, unicodeFormat ? LoadAs::Unicode : LoadAs::Ansi, form);
        if (loaded_.inBytes)
            breaks_.emplace(loaded_.bytes.constData(), loaded_.bytes.size(),
                            std::array<char, 3>{'\r', '\n', '\n'});
        open_ = true;
    }
    bool atEndOfStream() const {
        if (!open_)
            streamNotOpen();
        return position_ >= length();
    }
    LineSpan readLine() {
        if (atEndOfStream())
            throw Failure(QStringLiteral("Input past end of file"), 62);
        if (breaks_)
            return nextLine(loaded_.bytes.constData(), loaded_.bytes.size(), position_, &*breaks_);
        return nextLine(QStringView(loaded_.text).utf16(), loaded_.text.size(), position_);
    }
    void close() {
        if (!open_)
            streamNotOpen();
        open_ = false;
    }
    LoadedText& loaded() { return loaded_; }

private:
    qsizetype length() const {
        return loaded_.inBytes ? loaded_.bytes.size() : loaded_.text.size();
    }

    LoadedText loaded_;
    std::optional<ByteHits> breaks_; // the line breaks of a byte-form text
    bool open_ = false;
    qsizetype position_ = 0;
};

// The stream of the UTF-8 road: loaded whole, read as one text.
class Utf8Stream {
public:
    void open() { open_ = true; }
    void loadFromFile(const QString& path, LineForm form) {
        if (!open_)
            streamNotOpen();
        loaded_ = LoadText(path, LoadAs::Utf8WithMark, form);
    }
    QString readText() {
        if (!open_)
            streamNotOpen();
        return std::move(loaded_.text);
    }
    void close() {
        if (!open_)
            streamNotOpen();
        open_ = false;
    }
    LoadedText& loaded() { return loaded_; }

private:
    LoadedText loaded_;
    bool open_ = false;
};

// Every result holds at least one line.
void ensureOneLine(LineArray& lines) {
    if (lines.spans.empty())
        lines.spans.push_back(LineSpan{});
}

void markNotText(LineArray& lines, const QString& problem) {
    lines.status = ReadStatus::NotText;
    lines.problem = problem;
    lines.text.clear();
    lines.inBytes = false;
    lines.bytes.clear();
    lines.spans.assign(1, LineSpan{});
}

} // namespace

bool IsFileUnicode(const QString& path, bool& fileIsUtf8) {
    fileIsUtf8 = false;
    auto file = std::make_unique<ReadOnlyFile>(path);
    if (!file->open())
        ThrowOpenFailure(file->errorString(), path);
    unsigned char b[4] = {0, 0, 0, 0};
    // Every test needs at most four bytes, so the bytes read stand for the file's length.
    const qint64 length = file->read(reinterpret_cast<char*>(b), 4);
    if (length < 0)
        ThrowIoFailure(file->errorString(), path);
    // The reader that comes next goes on with this open file (see KeepOpenScope).
    KeepOpenForLoad(path, std::move(file), QByteArrayView(b, length));

    if (length >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00)
        return true; // UTF-32 little-endian
    if (length >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF)
        return true; // UTF-32 big-endian
    if (length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        fileIsUtf8 = true; // UTF-8
        return false;
    }
    if (length >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return true; // UTF-16 little-endian
    if (length >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return true; // UTF-16 big-endian
    return false;
}

LineArray ReadFileToStringLine(const QString& path, Prompts& prompts, LineForm form) {
    Trap trap(prompts, readLineTag());
    const KeepOpenScope openOnce;
    bool fileIsUnicode = false;
    bool fileIsUtf8 = false;
    LineArray lines;
    trap.step(100, [&] { fileIsUnicode = IsFileUnicode(path, fileIsUtf8); });
    if (trap.test(102, [&] { return fileIsUtf8; }))
        trap.step(104, [&] { lines = ReadFileToStringUTFLine(path, prompts, form); });
    else
        trap.step(106,
                  [&] { lines = ReadFileToStringFSOLine(path, fileIsUnicode, prompts, form); });

    lines.fileIsUnicode = fileIsUnicode;
    lines.fileIsUtf8 = fileIsUtf8;
    if (trap.failureCount() > 0 && lines.status == ReadStatus::Read)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

LineArray ReadFileToStringFSOLine(const QString& path, bool fileIsUnicode, Prompts& prompts,
                                  LineForm form) {
    Trap trap(prompts, fsoLineTag());
    TextStream stream;
    LineArray lines;
    lines.spans = TakeSpareSpans();
    qsizetype i = 0;
    trap.step(100, [] {}); // the stream needs no service of its own
    trap.step(102, [&] { stream.open(path, fileIsUnicode, form); });
    trap.step(104, [&] { i = 0; });
    if (trap.test(106, [&] { return stream.atEndOfStream(); })) {
        trap.step(108, [&] { lines.spans.assign(1, LineSpan{}); });
        trap.step(110, [&] { lines.spans[0] = LineSpan{}; });
    } else {
        for (;;) {
            const int failuresBefore = trap.failureCount();
            if (!trap.test(112, [&] { return !stream.atEndOfStream(); }))
                break;
            trap.step(114, [&] { lines.spans.emplace_back(); });
            trap.step(116, [&] { lines.spans.at(size_t(i)) = stream.readLine(); });
            trap.step(118, [&] { ++i; });
            // A stream that fails once would fail on every turn: stop rather than loop.
            if (trap.failureCount() != failuresBefore)
                break;
        }
    }
    trap.step(120, [&] { stream.close(); });
    trap.step(122, [] {});

    LoadedText& loaded = stream.loaded();
    lines.format = loaded.format;
    lines.text = std::move(loaded.text);
    lines.inBytes = loaded.inBytes;
    lines.bytes = std::move(loaded.bytes);
    if (!loaded.notText.isEmpty())
        markNotText(lines, loaded.notText);
    else if (trap.failureCount() > 0)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

LineArray ReadFileToStringUTFLine(const QString& path, Prompts& prompts, LineForm form) {
    Trap trap(prompts, utfLineTag());
    Utf8Stream stream;
    LineArray lines;
    LineArray split;
    split.spans = TakeSpareSpans();
    QString text;
    trap.step(100, [] {}); // the stream needs no service of its own
    trap.step(102, [] {}); // it always decodes UTF-8
    trap.step(104, [&] { stream.open(); });
    trap.step(106, [&] { stream.loadFromFile(path, form); });
    LoadedText& loaded = stream.loaded();
    if (loaded.inBytes) {
        // The bytes after the mark stand for the text and are split where it would be.
        trap.step(108, [] {});
        trap.step(110, [&] { SplitStringToLines(loaded.bytes, loaded.bytesFrom, split); });
    } else {
        trap.step(108, [&] { text = stream.readText(); });
        trap.step(110, [&] { SplitStringToLines(text, split); });
    }
    trap.step(112, [&] {
        // A text that ends with CR LF, the line break of this road, has no further line:
        // the result ends with that one CR LF, so a second run leaves the file as it is.
        if (split.spans.size() > 1 && split.spans.back().length == 0)
            split.spans.pop_back();
        lines = std::move(split);
    });
    text = QString(); // the lines hold the only reference, so the text can be reused
    loaded.bytes = QByteArray();
    trap.step(114, [&] { stream.close(); });
    trap.step(116, [] {});

    lines.format = SourceFormat::Utf8WithMark;
    if (!loaded.notText.isEmpty())
        markNotText(lines, loaded.notText);
    else if (trap.failureCount() > 0)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

void SplitStringToLines(const QString& text, LineArray& lines) {
    lines.text = text;
    lines.inBytes = false;
    lines.bytes.clear();
    splitAtCrLf(QStringView(text).utf16(), 0, text.size(), lines.spans);
}

void SplitStringToLines(const QByteArray& bytes, qsizetype from, LineArray& lines) {
    lines.text.clear();
    lines.inBytes = true;
    lines.bytes = bytes;
    splitAtCrLf(bytes.constData(), from, bytes.size(), lines.spans);
}

QStringList LineArray::toStringList() const {
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i) {
        if (!inBytes) {
            list << (*this)[i].toString();
        } else if (format == SourceFormat::CodePage) {
            const QByteArrayView line = byteLine(i);
            QString decoded(line.size(), Qt::Uninitialized);
            CodePage::ansi().decode(line.data(), line.size(),
                                    reinterpret_cast<char16_t*>(decoded.data()));
            list << decoded;
        } else {
            list << QString::fromUtf8(byteLine(i));
        }
    }
    return list;
}

} // namespace parvello
