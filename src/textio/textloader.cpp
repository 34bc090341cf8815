#include "textio/textloader.h"

#include "textio/codepage.h"
#include "textio/fileerrors.h"
#include "textio/textencoder.h"
#include "textio/textscan.h"

#include <QFile>
#include <QtEndian>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace parvello {

namespace {

// One decoded text kept for reuse per thread (see RecycleText), and the read buffer.
thread_local QString spareText;
thread_local QByteArray spareBytes;
thread_local std::unique_ptr<char[]> chunkBuffer;
thread_local std::vector<LineSpan> spareSpans;

// The file the mark test left open (see KeepOpenScope).
struct KeptFile {
    int scopes = 0;
    QString path;
    std::unique_ptr<ReadOnlyFile> file;
    unsigned char first[4] = {};
    int firstCount = 0;
};
thread_local KeptFile kept;
thread_local LoadedFileBytes lastLoaded;
thread_local ReadFileRecord lastRead;
constexpr qsizetype RecycleFrom = 1 << 20;

// Reads a file in chunks and grows the decoded text as needed.
class ChunkedFile {
public:
    explicit ChunkedFile(const QString& path) : path_(path) {
        lastLoaded.known = false;
        lastLoaded.bytes.clear();
        lastRead = ReadFileRecord();
        chunk_ = chunkBuffer ? std::move(chunkBuffer)
                             : std::make_unique_for_overwrite<char[]>(size_t(LoadChunkSize));
        if (kept.file && kept.path == path) {
            file_ = std::move(kept.file);
            firstCount_ = kept.firstCount;
            std::memcpy(chunk_.get(), kept.first, size_t(firstCount_));
        } else {
            file_ = std::make_unique<ReadOnlyFile>(path);
            if (!file_->open())
                ThrowOpenFailure(file_->errorString(), path);
        }
        kept.file.reset();
        size_ = file_->size();
        lastRead = {path, file_->identity(), file_->realPath()};
        noteIdentity();
    }
    ~ChunkedFile() { chunkBuffer = std::move(chunk_); }
    ChunkedFile(const ChunkedFile&) = delete;
    ChunkedFile& operator=(const ChunkedFile&) = delete;

    qint64 size() const { return size_; }

    // The next chunk (empty at the end of the file). Fails when the read breaks off. A file
    // that reports its size is read up to that size, without asking again at its end.
    // the bytes the mark test read already come first.
    QByteArrayView next() {
        if (size_ > 0 && consumed_ >= size_)
            return QByteArrayView();
        const qint64 first = std::exchange(firstCount_, 0);
        qint64 n = first;
        if (first == 0 || first < size_) {
            // Up to the reported size: no further call only to find the end.
            qint64 want = LoadChunkSize - first;
            if (size_ > 0)
                want = std::min(want, size_ - consumed_ - first);
            n = file_->read(chunk_.get() + first, want);
            if (n < 0)
                ThrowIoFailure(file_->errorString(), path_);
            n += first;
        }
        // A small file read in one chunk keeps its bytes (see LastLoadedFileBytes).
        if (lastLoaded.known) {
            if (consumed_ == 0 && n == size_ && n <= KeepBytesUpTo)
                lastLoaded.bytes = QByteArray(chunk_.get(), n);
            else
                lastLoaded.known = false;
        }
        consumed_ += n;
        return QByteArrayView(chunk_.get(), n);
    }

    // The whole file (from its first byte) in one buffer, read straight into it: up to the
    // reported size, or to the end for a file that reports none. The reads are a chunk
    // each, and after each one look(bytes, filled) sees the buffer filled so far, while
    // the new part is still in the cache.
    template <class Look> QByteArray readAll(Look&& look) {
        QByteArray bytes;
        const qsizetype expected = qsizetype(size_);
        if (expected >= RecycleFrom && spareBytes.capacity() >= expected && spareBytes.isDetached())
            bytes = std::move(spareBytes);
        spareBytes = QByteArray();
        if (bytes.capacity() < expected && expected >= RecycleFrom)
            bytes.reserve(expected + expected / 16);
        bytes.resize(std::max<qsizetype>(expected, firstCount_));
        std::memcpy(bytes.data(), chunk_.get(), size_t(firstCount_));
        qsizetype got = std::exchange(firstCount_, 0);
        qsizetype looked = 0;
        for (;;) {
            if (got > looked)
                look(bytes.constData(), looked = got);
            if (size_ > 0 && got >= expected)
                break;
            if (got == bytes.size())
                bytes.resize(std::max<qsizetype>(LoadChunkSize, bytes.size() * 2));
            const qsizetype want = std::min(bytes.size() - got, LoadChunkSize);
            const qint64 n = file_->read(bytes.data() + got, want);
            if (n < 0)
                ThrowIoFailure(file_->errorString(), path_);
            if (n == 0)
                break;
            got += qsizetype(n);
        }
        bytes.truncate(got);
        consumed_ = got;
        if (lastLoaded.known) {
            if (got == size_ && got <= KeepBytesUpTo)
                lastLoaded.bytes = QByteArray(bytes.constData(), got);
            else
                lastLoaded.known = false;
        }
        return bytes;
    }

    void rewind() {
        if (!file_->rewind())
            ThrowIoFailure(file_->errorString(), path_);
        consumed_ = 0;
        firstCount_ = 0;
    }

private:
    void noteIdentity() {
#ifdef Q_OS_UNIX
        const struct stat& status = file_->status();
        if (size_ <= KeepBytesUpTo && S_ISREG(status.st_mode) && status.st_size == size_) {
            lastLoaded.known = true;
            lastLoaded.device = status.st_dev;
            lastLoaded.inode = status.st_ino;
            lastLoaded.size = status.st_size;
            lastLoaded.modifiedSeconds = ModifiedTime(status).tv_sec;
            lastLoaded.modifiedNanoseconds = ModifiedTime(status).tv_nsec;
        }
#endif
    }

    QString path_;
    std::unique_ptr<ReadOnlyFile> file_;
    std::unique_ptr<char[]> chunk_;
    qint64 size_ = 0;
    qint64 consumed_ = 0;
    qint64 firstCount_ = 0;
};

// The decoded text under construction: a buffer sized from the file and grown when the
// file turns out longer.
class TextBuffer {
public:
    // Room for expectedUnits and the few units a decoder may ask for beyond them.
    explicit TextBuffer(qint64 expectedUnits) {
        const qsizetype units = qsizetype(expectedUnits) + 8;
        if (units >= RecycleFrom && spareText.capacity() >= units)
            text_ = std::move(spareText);
        spareText = QString(); // a spare too small is given up before the new text is made
        // A little room to spare, so that the next file of about the same size fits too.
        if (text_.capacity() < units && units >= RecycleFrom)
            text_.reserve(units + units / 16);
        text_.resize(units);
    }

    char16_t* reserve(qsizetype units) {
        if (used_ + units > text_.size())
            text_.resize(std::max(used_ + units, text_.size() * 2));
        return reinterpret_cast<char16_t*>(text_.data()) + used_;
    }
    void commit(qsizetype units) { used_ += units; }
    void reset() { used_ = 0; }
    qsizetype used() const { return used_; }
    QString take() {
        text_.truncate(used_);
        return std::move(text_);
    }

private:
    QString text_;
    qsizetype used_ = 0;
};

const QString& nulReason() {
    static const QString reason = QStringLiteral("it holds a NUL byte, so it is not a text file");
    return reason;
}
const QString& afterMarkReason() {
    static const QString reason =
        QStringLiteral("its bytes after the UTF-8 mark are not valid UTF-8");
    return reason;
}

// Decodes UTF-8 chunk after chunk. Returns false at the first invalid or incomplete
// sequence. With dropMark a UTF-8 mark at the start of the file is not part of the text.
bool decodeUtf8(ChunkedFile& file, TextBuffer& out, bool dropMark, bool refuseNul, bool& sawNul,
                qint64& bytes) {
    Utf8Decoder decoder;
    decoder.keepLeadingMark(); // the file's own mark is handled here, once
    bytes = 0;
    for (QByteArrayView chunk = file.next(); !chunk.isEmpty(); chunk = file.next()) {
        if (refuseNul && std::memchr(chunk.data(), 0, size_t(chunk.size()))) {
            sawNul = true;
            return false;
        }
        if (dropMark && bytes == 0 && chunk.startsWith(QByteArrayView("\xEF\xBB\xBF", 3)))
            chunk = chunk.sliced(3);
        dropMark = false;
        bytes += chunk.size();
        char16_t* at = out.reserve(chunk.size() + Utf8Decoder::Slack);
        const char16_t* end = decoder.decode(chunk.data(), chunk.size(), at);
        if (!end)
            return false;
        out.commit(end - at);
    }
    return decoder.finish();
}

LoadedText loadAnsi(ChunkedFile& file) {
    const CodePage& codePage = CodePage::ansi();
    LoadedText loaded;
    TextBuffer out(file.size());
    bool sawNul = false;
    qint64 bytes = 0;
    if (decodeUtf8(file, out, false, true, sawNul, bytes)) {
        // Every non-ASCII sequence decodes to fewer units than it has bytes.
        loaded.format = out.used() < bytes ? SourceFormat::Utf8 : SourceFormat::CodePage;
        loaded.text = out.take();
        return loaded;
    }
    if (!sawNul) {
        loaded.format = SourceFormat::CodePage;
        file.rewind();
        out.reset();
        for (QByteArrayView chunk = file.next(); !chunk.isEmpty(); chunk = file.next()) {
            if (std::memchr(chunk.data(), 0, size_t(chunk.size()))) {
                sawNul = true;
                break;
            }
            codePage.decode(chunk.data(), chunk.size(), out.reserve(chunk.size()));
            out.commit(chunk.size());
        }
        if (!sawNul) {
            loaded.text = out.take();
            return loaded;
        }
    }
    loaded.notText = nulReason();
    return loaded;
}

// The byte form of the two readers: the same decisions as loadAnsi and loadUtf8WithMark,
// taken on the bytes without decoding them.
LoadedText loadAnsiBytes(ChunkedFile& file) {
    LoadedText loaded;
    Utf8Checker utf8;
    qsizetype searched = 0;
    bool sawNul = false;
    QByteArray bytes = file.readAll([&](const char* data, qsizetype filled) {
        sawNul = sawNul || std::memchr(data + searched, 0, size_t(filled - searched));
        searched = filled;
        if (!sawNul)
            utf8.feed(data, filled);
    });
    if (sawNul) {
        RecycleBytes(std::move(bytes));
        loaded.notText = nulReason();
        return loaded;
    }
    const Utf8Check check = utf8.finish(bytes.constData(), bytes.size());
    loaded.format = check.valid && check.nonAscii ? SourceFormat::Utf8 : SourceFormat::CodePage;
    loaded.inBytes = true;
    loaded.bytes = std::move(bytes);
    return loaded;
}

LoadedText loadUtf8WithMarkBytes(ChunkedFile& file) {
    LoadedText loaded;
    loaded.format = SourceFormat::Utf8WithMark;
    Utf8Checker utf8;
    qsizetype from = -1;
    QByteArray bytes = file.readAll([&](const char* data, qsizetype filled) {
        if (from < 0) {
            if (filled < 3)
                return;
            from = QByteArrayView(data, 3) == QByteArrayView("\xEF\xBB\xBF", 3) ? 3 : 0;
        }
        utf8.feed(data + from, filled - from);
    });
    if (from < 0) { // shorter than the mark
        from = 0;
        utf8.feed(bytes.constData(), bytes.size());
    }
    if (!utf8.finish(bytes.constData() + from, bytes.size() - from).valid) {
        RecycleBytes(std::move(bytes));
        loaded.notText = afterMarkReason();
        return loaded;
    }
    loaded.inBytes = true;
    loaded.bytes = std::move(bytes);
    loaded.bytesFrom = from;
    return loaded;
}

LoadedText loadUtf8WithMark(ChunkedFile& file) {
    LoadedText loaded;
    loaded.format = SourceFormat::Utf8WithMark;
    TextBuffer out(file.size());
    bool sawNul = false;
    qint64 bytes = 0;
    if (decodeUtf8(file, out, true, false, sawNul, bytes))
        loaded.text = out.take();
    else
        loaded.notText = afterMarkReason();
    return loaded;
}

// UTF-16 in either byte order: the units are copied and checked for unpaired surrogates.
void loadUtf16(ChunkedFile& file, QByteArrayView first, bool bigEndian, LoadedText& loaded) {
    TextBuffer out(file.size() / 2);
    QByteArray carry; // an odd byte left over from the previous chunk
    const auto feed = [&](QByteArrayView bytes) {
        if (!carry.isEmpty() && !bytes.isEmpty()) {
            carry.append(bytes.first(1));
            bytes = bytes.sliced(1);
            *out.reserve(1) = bigEndian ? qFromBigEndian<char16_t>(carry.constData())
                                        : qFromLittleEndian<char16_t>(carry.constData());
            out.commit(1);
            carry.clear();
        }
        const qsizetype units = bytes.size() / 2;
        char16_t* at = out.reserve(units);
        if (bigEndian)
            qFromBigEndian<char16_t>(bytes.data(), units, at);
        else
            qFromLittleEndian<char16_t>(bytes.data(), units, at);
        out.commit(units);
        if (bytes.size() % 2)
            carry = bytes.last(1).toByteArray();
    };
    feed(first);
    for (QByteArrayView chunk = file.next(); !chunk.isEmpty(); chunk = file.next())
        feed(chunk);

    const QLatin1String name(bigEndian ? "UTF-16 big-endian" : "UTF-16 little-endian");
    if (!carry.isEmpty()) {
        loaded.notText =
            QStringLiteral("it has an odd number of bytes after its %1 mark").arg(name);
        return;
    }
    loaded.text = out.take();
    if (FindUnpairedSurrogate(loaded.text) >= 0) {
        loaded.text.clear();
        loaded.notText =
            QStringLiteral("its bytes are not valid %1 (an unpaired surrogate)").arg(name);
    }
}

void loadUtf32(ChunkedFile& file, QByteArrayView first, bool bigEndian, LoadedText& loaded) {
    TextBuffer out(file.size() / 2);
    QByteArray pending;
    const QLatin1String name(bigEndian ? "UTF-32 big-endian" : "UTF-32 little-endian");
    const auto feed = [&](QByteArrayView bytes) {
        pending.append(bytes);
        const qsizetype whole = pending.size() / 4 * 4;
        char16_t* const begin = out.reserve(whole / 2);
        char16_t* at = begin;
        for (qsizetype i = 0; i < whole; i += 4) {
            const quint32 cp = bigEndian ? qFromBigEndian<quint32>(pending.constData() + i)
                                         : qFromLittleEndian<quint32>(pending.constData() + i);
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                loaded.notText =
                    QStringLiteral("its bytes are not valid %1 (%2 is not a character)")
                        .arg(name, QStringLiteral("0x%1").arg(cp, 8, 16, QLatin1Char('0')));
                return false;
            }
            if (cp >= 0x10000) {
                *at++ = QChar::highSurrogate(cp);
                *at++ = QChar::lowSurrogate(cp);
            } else {
                *at++ = char16_t(cp);
            }
        }
        out.commit(at - begin);
        pending.remove(0, whole);
        return true;
    };
    if (!feed(first))
        return;
    for (QByteArrayView chunk = file.next(); !chunk.isEmpty(); chunk = file.next())
        if (!feed(chunk))
            return;
    if (!pending.isEmpty()) {
        loaded.notText =
            QStringLiteral("its length after its %1 mark is not a multiple of four bytes")
                .arg(name);
        return;
    }
    loaded.text = out.take();
}

LoadedText loadUnicode(ChunkedFile& file) {
    LoadedText loaded;
    // The first chunk holds the mark (a file shorter than a chunk is one chunk).
    const QByteArray first = file.next().toByteArray();
    const auto starts = [&](const char* mark, qsizetype n) {
        return first.size() >= n && std::memcmp(first.constData(), mark, size_t(n)) == 0;
    };
    if (starts("\xFF\xFE\x00\x00", 4)) {
        loaded.format = SourceFormat::Utf32LE;
        loadUtf32(file, QByteArrayView(first).sliced(4), false, loaded);
    } else if (starts("\x00\x00\xFE\xFF", 4)) {
        loaded.format = SourceFormat::Utf32BE;
        loadUtf32(file, QByteArrayView(first).sliced(4), true, loaded);
    } else if (starts("\xFE\xFF", 2)) {
        loaded.format = SourceFormat::Utf16BE;
        loadUtf16(file, QByteArrayView(first).sliced(2), true, loaded);
    } else {
        // The Unicode format is UTF-16 little-endian; its FF FE mark is not part of the text.
        loaded.format = SourceFormat::Utf16LE;
        loadUtf16(file, QByteArrayView(first).sliced(starts("\xFF\xFE", 2) ? 2 : 0), false, loaded);
    }
    return loaded;
}

} // namespace

void RecycleText(QString&& text) {
    if (text.capacity() >= RecycleFrom && text.isDetached() &&
        text.capacity() > spareText.capacity())
        spareText = std::move(text);
    text = QString();
}

KeepOpenScope::KeepOpenScope() {
    ++kept.scopes;
}

KeepOpenScope::~KeepOpenScope() {
    if (--kept.scopes == 0) {
        kept.file.reset();
        kept.path.clear();
    }
}

void RecycleBytes(QByteArray&& bytes) {
    if (bytes.capacity() >= RecycleFrom && bytes.isDetached() &&
        bytes.capacity() > spareBytes.capacity())
        spareBytes = std::move(bytes);
    bytes = QByteArray();
}

void KeepOpenForLoad(const QString& path, std::unique_ptr<ReadOnlyFile> file,
                     QByteArrayView firstBytes) {
    kept.file.reset();
    if (kept.scopes == 0 || firstBytes.size() > 4)
        return;
    kept.path = path;
    kept.file = std::move(file);
    kept.firstCount = int(firstBytes.size());
    if (!firstBytes.isEmpty())
        std::memcpy(kept.first, firstBytes.data(), size_t(firstBytes.size()));
}

const LoadedFileBytes& LastLoadedFileBytes() {
    return lastLoaded;
}

const ReadFileRecord& LastReadFile() {
    return lastRead;
}

void RecycleSpans(std::vector<LineSpan>&& spans) {
    if (spans.capacity() > spareSpans.capacity())
        spareSpans = std::move(spans);
    spans = std::vector<LineSpan>();
}

std::vector<LineSpan> TakeSpareSpans() {
    std::vector<LineSpan> spans = std::move(spareSpans);
    spareSpans = std::vector<LineSpan>();
    spans.clear();
    return spans;
}

LoadedText LoadText(const QString& path, LoadAs how, LineForm form) {
    ChunkedFile file(path);
    const bool bytes = form == LineForm::Bytes;
    switch (how) {
    case LoadAs::Utf8WithMark:
        return bytes ? loadUtf8WithMarkBytes(file) : loadUtf8WithMark(file);
    case LoadAs::Unicode:
        return loadUnicode(file);
    case LoadAs::Ansi:
        break;
    }
    return bytes && CodePage::ansi().asciiCompatible() ? loadAnsiBytes(file) : loadAnsi(file);
}

} // namespace parvello
