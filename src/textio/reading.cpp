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

constexpr const char* ReadLine = "ReadFileToStringLine";
constexpr const char* FsoLine = "ReadFileToStringFSOLine";
constexpr const char* UtfLine = "ReadFileToStringUTFLine";

// The lines of the three readers: the numbers users see in the "Application Error" box
// ("in ...RFTSFSO.<reader> at line N") when a step fails. Keep each number. The streamed
// reader (StreamedRead) runs the same steps, so it reports at the same lines. A step with
// nothing to do on this system (a service to create or release) stays, empty, for its line.
struct ReadLines { // ReadFileToStringLine
    enum : int { MarkTest = 100, Utf8Test = 102, Utf8Road = 104, TextStreamRoad = 106 };
};
struct FsoLines { // ReadFileToStringFSOLine
    enum : int {
        CreateService = 100,
        Open = 102,
        FirstIndex = 104,
        EmptyTest = 106,
        OneLine = 108,
        EmptyLine = 110,
        MoreTest = 112,
        GrowArray = 114,
        ReadLine = 116,
        NextIndex = 118,
        Close = 120,
        ReturnLines = 122,
    };
};
struct UtfLines { // ReadFileToStringUTFLine
    enum : int {
        CreateService = 100,
        Charset = 102,
        Open = 104,
        Load = 106,
        ReadText = 108,
        Split = 110,
        CopyLines = 112,
        Close = 114,
        Release = 116,
    };
};

[[noreturn]] void streamNotOpen() {
    throw Failure(QStringLiteral("The file is not open"), failure_numbers::InvalidArgument);
}

// Whether a stream is open; every use of a closed one fails as the system's stream would.
class StreamGuard {
public:
    void mustBeOpen() const {
        if (!open_)
            streamNotOpen();
    }

protected:
    bool open_ = false;
};

// The file the mark test opened, when it opened it, else the file opened now.
SourceFile& openedSource(std::optional<SourceFile>& source, const QString& path) {
    if (!source || !source->file)
        source = OpenSource(path);
    return *source;
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
class TextStream : StreamGuard {
public:
    void open(std::optional<SourceFile>& source, const QString& path, bool unicodeFormat,
              LineForm form) {
        loaded_ = LoadText(openedSource(source, path),
                           unicodeFormat ? LoadAs::Unicode : LoadAs::Ansi, form);
        if (loaded_.inBytes)
            breaks_.emplace(loaded_.bytes.constData(), loaded_.bytes.size(),
                            std::array<char, 3>{'\r', '\n', '\n'});
        open_ = true;
    }
    bool atEndOfStream() const {
        mustBeOpen();
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
        mustBeOpen();
        open_ = false;
    }
    LoadedText& loaded() { return loaded_; }

private:
    qsizetype length() const {
        return loaded_.inBytes ? loaded_.bytes.size() : loaded_.text.size();
    }

    LoadedText loaded_;
    std::optional<ByteHits> breaks_; // the line breaks of a byte-form text
    qsizetype position_ = 0;
};

// The stream of the UTF-8 road: loaded whole, read as one text.
class Utf8Stream : StreamGuard {
public:
    void open() { open_ = true; }
    void loadFromFile(std::optional<SourceFile>& source, const QString& path, LineForm form) {
        mustBeOpen();
        loaded_ = LoadText(openedSource(source, path), LoadAs::Utf8WithMark, form);
    }
    QString readText() {
        mustBeOpen();
        return std::move(loaded_.text);
    }
    void close() {
        mustBeOpen();
        open_ = false;
    }
    LoadedText& loaded() { return loaded_; }

private:
    LoadedText loaded_;
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

// The text-stream road on a file the mark test may have opened already.
LineArray readFso(std::optional<SourceFile>& source, const QString& path, bool fileIsUnicode,
                  Prompts& prompts, LineForm form) {
    Trap trap(prompts, FileRoutineTag(FsoLine));
    TextStream stream;
    LineArray lines;
    qsizetype i = 0;
    trap.step(FsoLines::CreateService, [] {}); // the stream needs no service of its own
    trap.step(FsoLines::Open, [&] { stream.open(source, path, fileIsUnicode, form); });
    trap.step(FsoLines::FirstIndex, [&] { i = 0; });
    if (trap.test(FsoLines::EmptyTest, [&] { return stream.atEndOfStream(); })) {
        trap.step(FsoLines::OneLine, [&] { lines.spans.assign(1, LineSpan{}); });
        trap.step(FsoLines::EmptyLine, [&] { lines.spans[0] = LineSpan{}; });
    } else {
        for (;;) {
            const int failuresBefore = trap.failureCount();
            if (!trap.test(FsoLines::MoreTest, [&] { return !stream.atEndOfStream(); }))
                break;
            trap.step(FsoLines::GrowArray, [&] { lines.spans.emplace_back(); });
            trap.step(FsoLines::ReadLine, [&] { lines.spans.at(size_t(i)) = stream.readLine(); });
            trap.step(FsoLines::NextIndex, [&] { ++i; });
            // A stream that fails once would fail on every turn: stop rather than loop.
            if (trap.failureCount() != failuresBefore)
                break;
        }
    }
    trap.step(FsoLines::Close, [&] { stream.close(); });
    trap.step(FsoLines::ReturnLines, [] {}); // the lines are returned below

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

// The UTF-8 road on a file the mark test may have opened already.
LineArray readUtf(std::optional<SourceFile>& source, const QString& path, Prompts& prompts,
                  LineForm form) {
    Trap trap(prompts, FileRoutineTag(UtfLine));
    Utf8Stream stream;
    LineArray lines;
    LineArray split;
    QString text;
    trap.step(UtfLines::CreateService, [] {}); // the stream needs no service of its own
    trap.step(UtfLines::Charset, [] {});       // it always decodes UTF-8
    trap.step(UtfLines::Open, [&] { stream.open(); });
    trap.step(UtfLines::Load, [&] { stream.loadFromFile(source, path, form); });
    LoadedText& loaded = stream.loaded();
    if (loaded.inBytes) {
        // The bytes after the mark stand for the text and are split where it would be.
        trap.step(UtfLines::ReadText, [] {}); // the bytes stand for the text
        trap.step(UtfLines::Split, [&] { SplitStringToLines(loaded.bytes, 0, split); });
    } else {
        trap.step(UtfLines::ReadText, [&] { text = stream.readText(); });
        trap.step(UtfLines::Split, [&] { SplitStringToLines(text, split); });
    }
    trap.step(UtfLines::CopyLines, [&] {
        // A text that ends with CR LF, the line break of this road, has no further line:
        // the result ends with that one CR LF, so a second run leaves the file as it is.
        if (split.spans.size() > 1 && split.spans.back().length == 0)
            split.spans.pop_back();
        lines = std::move(split);
    });
    loaded.bytes = QByteArray();
    trap.step(UtfLines::Close, [&] { stream.close(); });
    trap.step(UtfLines::Release, [] {}); // the stream is released with its object

    lines.format = SourceFormat::Utf8WithMark;
    if (!loaded.notText.isEmpty())
        markNotText(lines, loaded.notText);
    else if (trap.failureCount() > 0)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

} // namespace

bool IsFileUnicode(const QString& path, bool& fileIsUtf8) {
    fileIsUtf8 = false;
    ReadOnlyFile file(path);
    if (!file.open())
        ThrowOpenFailure(file.errorString(), path);
    char first[4] = {0, 0, 0, 0};
    // Every test needs at most four bytes, so the bytes read stand for the file's length.
    const qint64 length = file.read(first, 4);
    if (length < 0)
        ThrowIoFailure(file.errorString(), path);
    return MarkIsUnicode(QByteArrayView(first, length), fileIsUtf8);
}

LineArray ReadFileToStringLine(const QString& path, Prompts& prompts, LineForm form) {
    Trap trap(prompts, FileRoutineTag(ReadLine));
    // The mark test opens the file and reads its first block; the road goes on with it.
    std::optional<SourceFile> source;
    bool fileIsUnicode = false;
    bool fileIsUtf8 = false;
    LineArray lines;
    trap.step(ReadLines::MarkTest, [&] {
        source = OpenSource(path);
        fileIsUnicode = source->fileIsUnicode;
        fileIsUtf8 = source->fileIsUtf8;
    });
    if (trap.test(ReadLines::Utf8Test, [&] { return fileIsUtf8; }))
        trap.step(ReadLines::Utf8Road, [&] { lines = readUtf(source, path, prompts, form); });
    else
        trap.step(ReadLines::TextStreamRoad,
                  [&] { lines = readFso(source, path, fileIsUnicode, prompts, form); });

    lines.fileIsUnicode = fileIsUnicode;
    lines.fileIsUtf8 = fileIsUtf8;
    if (trap.failureCount() > 0 && lines.status == ReadStatus::Read)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

LineArray ReadFileToStringFSOLine(const QString& path, bool fileIsUnicode, Prompts& prompts,
                                  LineForm form) {
    std::optional<SourceFile> source;
    return readFso(source, path, fileIsUnicode, prompts, form);
}

LineArray ReadFileToStringUTFLine(const QString& path, Prompts& prompts, LineForm form) {
    std::optional<SourceFile> source;
    return readUtf(source, path, prompts, form);
}

StreamedRead::StreamedRead(const QString& path, Prompts& prompts, bool inBytes) {
    outer_.emplace(prompts, FileRoutineTag(ReadLine));
    std::optional<SourceFile> opened;
    outer_->step(ReadLines::MarkTest, [&] {
        opened = OpenSource(path);
        fileIsUnicode_ = opened->fileIsUnicode;
        fileIsUtf8_ = opened->fileIsUtf8;
    });
    // The road's own open: the file the mark test opened, else a second try.
    const auto open = [&](LoadAs how) {
        source_ = std::move(openedSource(opened, path));
        blocks_.emplace(source_, how, inBytes);
        open_ = true;
    };
    if (outer_->test(ReadLines::Utf8Test, [&] { return fileIsUtf8_; })) {
        outer_->step(ReadLines::Utf8Road, [&] {
            road_.emplace(prompts, FileRoutineTag(UtfLine));
            // Nothing to create, set or open before the file itself: the lines stay.
            road_->step(UtfLines::CreateService, [] {});
            road_->step(UtfLines::Charset, [] {});
            road_->step(UtfLines::Open, [] {});
            road_->step(UtfLines::Load, [&] { open(LoadAs::Utf8WithMark); });
        });
    } else {
        outer_->step(ReadLines::TextStreamRoad, [&] {
            road_.emplace(prompts, FileRoutineTag(FsoLine));
            road_->step(FsoLines::CreateService, [] {}); // no service of its own
            road_->step(FsoLines::Open,
                        [&] { open(fileIsUnicode_ ? LoadAs::Unicode : LoadAs::Ansi); });
            road_->step(FsoLines::FirstIndex, [] {}); // lines are counted as they are written
            if (road_->test(FsoLines::EmptyTest, [&] {
                    if (!open_)
                        streamNotOpen();
                    return blocks_->emptyText();
                })) {
                empty_ = true;
                // An empty file gives one empty line, written as the file ends.
                road_->step(FsoLines::OneLine, [] {});
                road_->step(FsoLines::EmptyLine, [] {});
            }
        });
    }
    if (failed())
        finish();
}

StreamedRead::~StreamedRead() {
    blocks_.reset();
    road_.reset(); // the traps go in the order they came
    outer_.reset();
}

bool StreamedRead::failed() const {
    return outer_->failureCount() > 0 || (road_ && road_->failureCount() > 0);
}

SourceBlocks::Next StreamedRead::next() {
    SourceBlocks::Next next = SourceBlocks::Next::End;
    road_->step(fileIsUtf8_ ? int(UtfLines::Load) : int(FsoLines::Open),
                [&] { next = blocks_->next(); });
    if (failed()) {
        open_ = false;
        finish();
    }
    return next;
}

bool StreamedRead::lineRead() {
    if (empty_ || status_ != ReadStatus::Read || fileIsUtf8_)
        return status_ == ReadStatus::Read;
    road_->test(FsoLines::MoreTest, [] { return true; });
    // One more line has been read; its steps stay so that a fault there is seen per line.
    road_->step(FsoLines::GrowArray, [] {});
    road_->step(FsoLines::ReadLine, [] {});
    road_->step(FsoLines::NextIndex, [] {});
    if (failed()) {
        finish();
        return false;
    }
    return true;
}

void StreamedRead::finish() {
    if (std::exchange(finished_, true))
        return;
    const auto close = [&] {
        if (!open_)
            streamNotOpen();
        open_ = false;
    };
    if (road_ && fileIsUtf8_) {
        for (const int line : {UtfLines::ReadText, UtfLines::Split, UtfLines::CopyLines})
            road_->step(line, [] {}); // the blocks were read and split as they came
        road_->step(UtfLines::Close, close);
        road_->step(UtfLines::Release, [] {}); // released with its object
    } else if (road_) {
        if (!empty_ && !failed())
            road_->test(FsoLines::MoreTest, [] { return false; });
        road_->step(FsoLines::Close, close);
        road_->step(FsoLines::ReturnLines, [] {}); // the lines went to the writer
    }
    if (failed())
        status_ = ReadStatus::NotRead;
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
