#include "app/linereaders.h"

#include "app/fileboxes.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/textloader.h"
#include "textio/textscan.h"

#include <optional>
#include <type_traits>

namespace parvello {

namespace {

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
        source = OpenSource(ToPath(path));
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

// The text stream of the text-stream road: the whole file is loaded when it is opened and
// handed out line by line.
class TextStream : StreamGuard {
public:
    void open(std::optional<SourceFile>& source, const QString& path, bool unicodeFormat,
              LineForm form) {
        loaded_ = LoadText(openedSource(source, path),
                           unicodeFormat ? LoadAs::Unicode : LoadAs::Ansi, form);
        if (loaded_.inBytes)
            breaks_.emplace(loaded_.bytes.data(), qsizetype(loaded_.bytes.size()),
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
            return nextLine(loaded_.bytes.data(), qsizetype(loaded_.bytes.size()), position_,
                            &*breaks_);
        return nextLine(loaded_.text.data(), qsizetype(loaded_.text.size()), position_);
    }
    void close() {
        mustBeOpen();
        open_ = false;
    }
    LoadedText& loaded() { return loaded_; }

private:
    qsizetype length() const {
        return qsizetype(loaded_.inBytes ? loaded_.bytes.size() : loaded_.text.size());
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
    std::u16string readText() {
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

void markNotText(LineArray& lines, const std::string& problem) {
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
    Trap trap(prompts, FileRoutineTag(file_routines::ReadTextStream));
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
    if (!loaded.notText.empty())
        markNotText(lines, loaded.notText);
    else if (trap.failureCount() > 0)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

// The UTF-8 road on a file the mark test may have opened already.
LineArray readUtf(std::optional<SourceFile>& source, const QString& path, Prompts& prompts,
                  LineForm form) {
    Trap trap(prompts, FileRoutineTag(file_routines::ReadUtf8));
    Utf8Stream stream;
    LineArray lines;
    LineArray split;
    std::u16string text;
    trap.step(UtfLines::CreateService, [] {}); // the stream needs no service of its own
    trap.step(UtfLines::Charset, [] {});       // it always decodes UTF-8
    trap.step(UtfLines::Open, [&] { stream.open(); });
    trap.step(UtfLines::Load, [&] { stream.loadFromFile(source, path, form); });
    LoadedText& loaded = stream.loaded();
    if (loaded.inBytes) {
        // The bytes after the mark stand for the text and are split where it would be.
        trap.step(UtfLines::ReadText, [] {}); // the bytes stand for the text
        trap.step(UtfLines::Split, [&] { SplitStringToLines(std::move(loaded.bytes), 0, split); });
    } else {
        trap.step(UtfLines::ReadText, [&] { text = stream.readText(); });
        trap.step(UtfLines::Split, [&] { SplitStringToLines(std::move(text), split); });
    }
    trap.step(UtfLines::CopyLines, [&] {
        // A text that ends with CR LF, the line break of this road, has no further line:
        // the result ends with that one CR LF, so a second run leaves the file as it is.
        if (split.spans.size() > 1 && split.spans.back().length == 0)
            split.spans.pop_back();
        lines = std::move(split);
    });
    loaded.bytes = std::string();
    trap.step(UtfLines::Close, [&] { stream.close(); });
    trap.step(UtfLines::Release, [] {}); // the stream is released with its object

    lines.format = SourceFormat::Utf8WithMark;
    if (!loaded.notText.empty())
        markNotText(lines, loaded.notText);
    else if (trap.failureCount() > 0)
        lines.status = ReadStatus::NotRead;
    ensureOneLine(lines);
    return lines;
}

} // namespace

LineArray ReadFileLines(const QString& path, Prompts& prompts, LineForm form) {
    Trap trap(prompts, FileRoutineTag(file_routines::ReadLines));
    // The mark test opens the file and reads its first block; the road goes on with it.
    std::optional<SourceFile> source;
    bool fileIsUnicode = false;
    bool fileIsUtf8 = false;
    LineArray lines;
    trap.step(ReadLines::MarkTest, [&] {
        source = OpenSource(ToPath(path));
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

LineArray ReadTextStreamLines(const QString& path, bool fileIsUnicode, Prompts& prompts,
                              LineForm form) {
    std::optional<SourceFile> source;
    return readFso(source, path, fileIsUnicode, prompts, form);
}

LineArray ReadUtf8Lines(const QString& path, Prompts& prompts, LineForm form) {
    std::optional<SourceFile> source;
    return readUtf(source, path, prompts, form);
}

QStringList LinesToStringList(const LineArray& lines) {
    QStringList list;
    list.reserve(lines.size());
    for (std::ptrdiff_t i = 0; i < lines.size(); ++i) {
        if (!lines.inBytes) {
            list << QStringView(lines[i]).toString();
        } else if (lines.format == SourceFormat::CodePage) {
            const std::string_view line = lines.byteLine(i);
            QString decoded(qsizetype(line.size()), Qt::Uninitialized);
            CodePage::ansi().decode(line.data(), std::ptrdiff_t(line.size()),
                                    reinterpret_cast<char16_t*>(decoded.data()));
            list << decoded;
        } else {
            const std::string_view line = lines.byteLine(i);
            list << QString::fromUtf8(line.data(), qsizetype(line.size()));
        }
    }
    return list;
}

} // namespace parvello
