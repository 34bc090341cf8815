#include "textio/textsource.h"

#include "textio/codepage.h"
#include "textio/fileerror.h"
#include "textio/textencoder.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace parvello {

namespace {

using Byte = unsigned char;

std::atomic<std::ptrdiff_t> blockSizeForTests{0};

std::ptrdiff_t blockSize() {
    const std::ptrdiff_t size = blockSizeForTests.load(std::memory_order_relaxed);
    return size > 0 ? size : LoadChunkSize;
}

// Room for a block, the bytes kept from the one before and the four bytes of the mark test.
std::ptrdiff_t bufferBytes(std::ptrdiff_t block) {
    return std::max<std::ptrdiff_t>(block, 4) + 16;
}

constexpr const char* NulReason = "it holds a NUL byte, so it is not a text file";
constexpr const char* AfterMarkReason = "its bytes after the UTF-8 mark are not valid UTF-8";

// "0x" and eight hexadecimal digits, in lower case.
std::string hex8(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", unsigned(value));
    return text;
}

// Where the last, incomplete UTF-8 sequence of bytes[from..to) begins, or to when the bytes
// end with a whole character (or with bytes the check will refuse anyway).
std::ptrdiff_t cutAtCharacter(const char* bytes, std::ptrdiff_t from, std::ptrdiff_t to) {
    std::ptrdiff_t lead = to - 1;
    while (lead >= from && lead > to - 4 && (Byte(bytes[lead]) & 0xC0) == 0x80)
        --lead;
    if (lead < from)
        return to;
    const Byte b = Byte(bytes[lead]);
    const std::ptrdiff_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return lead + length > to ? lead : to;
}

} // namespace

std::ptrdiff_t ReadBlockSize() {
    return blockSize();
}

void SetReadBlockSizeForTests(std::ptrdiff_t size) {
    blockSizeForTests.store(size, std::memory_order_relaxed);
}

std::string SourceFile::smallBytes() const {
    return whole && headSize <= KeepBytesUpTo ? std::string(buffer.data(), size_t(headSize))
                                              : std::string();
}

bool MarkIsUnicode(std::string_view first, bool& fileIsUtf8) {
    fileIsUtf8 = false;
    const auto starts = [&](const char* mark, std::ptrdiff_t n) {
        return std::ptrdiff_t(first.size()) >= n && std::memcmp(first.data(), mark, size_t(n)) == 0;
    };
    if (starts("\xFF\xFE\x00\x00", 4) || starts("\x00\x00\xFE\xFF", 4))
        return true; // UTF-32
    if (starts("\xEF\xBB\xBF", 3)) {
        fileIsUtf8 = true;
        return false;
    }
    return starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2); // UTF-16
}

SourceFile OpenSource(const std::filesystem::path& path, int folder) {
    SourceFile source;
    source.path = path;
    source.file = std::make_unique<ReadOnlyFile>(path, folder);
    if (!source.file->open())
        ThrowOpenFailure(source.file->errorString(), path);
    source.identity = source.file->identity();
    const std::ptrdiff_t block = blockSize();
    const std::int64_t size = source.file->size();
    const std::int64_t atMost = std::max<std::ptrdiff_t>(block, 4);
    // A file that reports its size is read up to that size, without asking again at its end.
    const std::int64_t want = size > 0 ? std::min(size, atMost) : atMost;
    source.buffer = PooledBuffer(bufferBytes(block));
    const std::int64_t got = source.file->read(source.buffer.data(), want);
    if (got < 0)
        ThrowIoFailure(source.file->errorString(), path);
    source.headSize = std::ptrdiff_t(got);
    source.whole = got < want || (size > 0 && got == size);
    source.fileIsUnicode = MarkIsUnicode(
        std::string_view(source.buffer.data(), size_t(std::min<std::int64_t>(got, 4))),
        source.fileIsUtf8);
    return source;
}

SourceBlocks::SourceBlocks(SourceFile& source, LoadAs how, bool inBytes)
    : source_(source), how_(how), buffer_(source.buffer.data()), blockSize_(blockSize()) {
    const std::string_view head(buffer_, size_t(source.headSize));
    const auto starts = [&](const char* mark, std::ptrdiff_t n) {
        return std::ptrdiff_t(head.size()) >= n && std::memcmp(head.data(), mark, size_t(n)) == 0;
    };
    switch (how) {
    case LoadAs::Utf8WithMark:
        format_ = SourceFormat::Utf8WithMark;
        skip_ = starts("\xEF\xBB\xBF", 3) ? 3 : 0;
        break;
    case LoadAs::Ansi:
        // Taken for UTF-8 until it proves otherwise; a code page that is not ASCII-compatible
        // needs decoding.
        format_ = SourceFormat::Utf8;
        inBytes = inBytes && CodePage::ansi().asciiCompatible();
        break;
    case LoadAs::Unicode:
        inBytes = false;
        if (starts("\xFF\xFE\x00\x00", 4)) {
            format_ = SourceFormat::Utf32LE;
            skip_ = 4;
        } else if (starts("\x00\x00\xFE\xFF", 4)) {
            format_ = SourceFormat::Utf32BE;
            skip_ = 4;
        } else if (starts("\xFE\xFF", 2)) {
            format_ = SourceFormat::Utf16BE;
            skip_ = 2;
        } else {
            // The Unicode format is UTF-16 little-endian; its FF FE mark is not part of the
            // text.
            format_ = SourceFormat::Utf16LE;
            skip_ = starts("\xFF\xFE", 2) ? 2 : 0;
        }
        bigEndian_ = format_ == SourceFormat::Utf16BE || format_ == SourceFormat::Utf32BE;
        break;
    }
    inBytes_ = inBytes;
    emptyText_ = source.headSize <= skip_;
    decoder_.keepLeadingMark(); // the file's own mark is dropped here, once
    if (!inBytes_)
        units_ = PooledBuffer(std::ptrdiff_t(sizeof(char16_t)) *
                              (bufferBytes(blockSize_) + Utf8Decoder::Slack + 8));
}

SourceBlocks::~SourceBlocks() = default;

bool SourceBlocks::fill() {
    if (first_) {
        first_ = false;
        filled_ = source_.headSize;
        consumed_ = filled_;
        ended_ = source_.whole;
        return filled_ > 0;
    }
    if (keep_ > 0)
        std::memmove(buffer_, buffer_ + filled_ - keep_, size_t(keep_));
    filled_ = keep_;
    if (ended_)
        return false;
    const std::int64_t size = source_.file->size();
    std::int64_t want = blockSize_;
    if (size > 0)
        want = std::min(want, size - consumed_);
    if (want <= 0) {
        ended_ = true;
        return false;
    }
    const std::int64_t got = source_.file->read(buffer_ + keep_, want);
    if (got < 0)
        ThrowIoFailure(source_.file->errorString(), source_.path);
    consumed_ += got;
    filled_ += std::ptrdiff_t(got);
    ended_ = got < want || (size > 0 && consumed_ >= size);
    return got > 0;
}

void SourceBlocks::restartAsCodePage() {
    if (!source_.file->rewind())
        ThrowIoFailure(source_.file->errorString(), source_.path);
    format_ = SourceFormat::CodePage;
    first_ = false;
    ended_ = false;
    consumed_ = 0;
    filled_ = 0;
    keep_ = 0;
    nonAscii_ = false;
}

SourceBlocks::Next SourceBlocks::notText(std::string reason) {
    notText_ = std::move(reason);
    return Next::NotText;
}

SourceBlocks::Next SourceBlocks::next() {
    for (;;) {
        const std::ptrdiff_t kept = keep_;
        const bool more = fill();
        const std::ptrdiff_t from = std::exchange(skip_, 0);
        const bool atEnd = !more || ended_;
        if (!more && kept == 0) {
            if (held_)
                return notText(std::string("its bytes are not valid ") +
                               (bigEndian_ ? "UTF-16 big-endian" : "UTF-16 little-endian") +
                               " (an unpaired surrogate)");
            if (how_ == LoadAs::Utf8WithMark && !inBytes_ && !decoder_.finish())
                return notText(AfterMarkReason);
            if (how_ != LoadAs::Ansi || format_ == SourceFormat::CodePage)
                return Next::End;
            if (!inBytes_ && !decoder_.finish()) {
                restartAsCodePage();
                return Next::Restart;
            }
            format_ = nonAscii_ || CodePage::ansi().asciiIsUtf8() ? SourceFormat::Utf8
                                                                  : SourceFormat::CodePage;
            // Decoded as the code page, pure ASCII would give other characters.
            if (!nonAscii_ && !inBytes_ && !CodePage::ansi().asciiCompatible()) {
                restartAsCodePage();
                return Next::Restart;
            }
            return Next::End;
        }
        if (how_ == LoadAs::Ansi &&
            std::memchr(buffer_ + kept, 0, size_t(filled_ - kept)) != nullptr)
            return notText(NulReason);
        if (!inBytes_) {
            const Next decoded = decodeUnits(from, filled_, atEnd);
            if (decoded != Next::Block || unitCount_ > 0)
                return decoded;
            continue;
        }
        blockFrom_ = from;
        blockTo_ = filled_;
        keep_ = 0;
        if (format_ != SourceFormat::CodePage) {
            const std::ptrdiff_t cut = atEnd ? filled_ : cutAtCharacter(buffer_, from, filled_);
            const Utf8Check check = CheckUtf8(buffer_ + from, cut - from);
            if (!check.valid) {
                if (how_ != LoadAs::Ansi)
                    return notText(AfterMarkReason);
                restartAsCodePage();
                return Next::Restart;
            }
            nonAscii_ = nonAscii_ || check.nonAscii;
            blockTo_ = cut;
            keep_ = filled_ - cut;
        }
        if (blockTo_ > blockFrom_)
            return Next::Block;
    }
}

SourceBlocks::Next SourceBlocks::decodeUnits(std::ptrdiff_t from, std::ptrdiff_t to, bool atEnd) {
    const char* const bytes = buffer_ + from;
    const std::ptrdiff_t n = to - from;
    unitCount_ = 0;
    keep_ = 0;
    switch (format_) {
    case SourceFormat::CodePage:
        CodePage::ansi().decode(bytes, n, unitsData());
        unitCount_ = n;
        return Next::Block;
    case SourceFormat::Utf8:
    case SourceFormat::Utf8WithMark:
        return decodeUtf8(bytes, n);
    case SourceFormat::Utf16LE:
    case SourceFormat::Utf16BE:
        return decodeUtf16(bytes, n, atEnd);
    case SourceFormat::Utf32LE:
    case SourceFormat::Utf32BE:
        return decodeUtf32(bytes, n, atEnd);
    }
    return Next::Block;
}

SourceBlocks::Next SourceBlocks::decodeUtf8(const char* bytes, std::ptrdiff_t n) {
    char16_t* const out = unitsData();
    const char16_t* end = decoder_.decode(bytes, n, out);
    if (!end) {
        if (how_ != LoadAs::Ansi)
            return notText(AfterMarkReason);
        restartAsCodePage();
        return Next::Restart;
    }
    unitCount_ = end - out;
    // Every non-ASCII sequence decodes to fewer units than it has bytes; a sequence cut by
    // the end of the read counts where it ends.
    for (std::ptrdiff_t i = 0; how_ == LoadAs::Ansi && i < n && !nonAscii_; ++i)
        nonAscii_ = Byte(bytes[i]) >= 0x80;
    return Next::Block;
}

SourceBlocks::Next SourceBlocks::decodeUtf16(const char* bytes, std::ptrdiff_t n, bool atEnd) {
    const std::string name = bigEndian_ ? "UTF-16 big-endian" : "UTF-16 little-endian";
    if (atEnd && n % 2)
        return notText("it has an odd number of bytes after its " + name + " mark");
    char16_t* const out = unitsData();
    std::ptrdiff_t count = 0;
    if (held_)
        out[count++] = std::exchange(held_, 0);
    const std::ptrdiff_t whole = n / 2;
    const bool surrogates = DecodeUtf16Units(bytes, whole, bigEndian_, out + count) || count > 0;
    count += whole;
    keep_ = n - whole * 2;
    // A pair is never cut: a high surrogate at the end waits for the next block.
    if (!atEnd && count > 0 && out[count - 1] >= 0xD800 && out[count - 1] < 0xDC00)
        held_ = out[--count];
    if (surrogates && FindUnpairedSurrogate(std::u16string_view(out, size_t(count))) >= 0) {
        // A file of an odd length is named for that, as a whole-file check would.
        const std::int64_t size = source_.file->size();
        if (size > 0 && size % 2)
            return notText("it has an odd number of bytes after its " + name + " mark");
        return notText("its bytes are not valid " + name + " (an unpaired surrogate)");
    }
    unitCount_ = count;
    return Next::Block;
}

SourceBlocks::Next SourceBlocks::decodeUtf32(const char* bytes, std::ptrdiff_t n, bool atEnd) {
    const std::string name = bigEndian_ ? "UTF-32 big-endian" : "UTF-32 little-endian";
    const std::ptrdiff_t whole = n / 4 * 4;
    char16_t* const out = unitsData();
    char16_t* at = out;
    for (std::ptrdiff_t i = 0; i < whole; i += 4) {
        const auto b = [&](int k) {
            return std::uint32_t(Byte(bytes[i + (bigEndian_ ? 3 - k : k)]));
        };
        const std::uint32_t cp = b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return notText("its bytes are not valid " + name + " (" + hex8(cp) +
                           " is not a character)");
        if (cp >= 0x10000) {
            *at++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            *at++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            *at++ = char16_t(cp);
        }
    }
    if (atEnd && whole < n)
        return notText("its length after its " + name + " mark is not a multiple of four bytes");
    keep_ = n - whole;
    unitCount_ = at - out;
    return Next::Block;
}

} // namespace parvello
