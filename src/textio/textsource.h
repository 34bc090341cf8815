// A source file read block by block: its mark, and the blocks of its text checked (and
// decoded where the road needs it) as they come, so that memory does not grow with the file.
#pragma once

#include "textio/bufferpool.h"
#include "textio/linearray.h"
#include "textio/readonlyfile.h"
#include "textio/textscan.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace parvello {

// What the reader was asked for.
enum class LoadAs {
    Utf8WithMark, // the UTF-8 road: the mark is dropped, the rest must be valid UTF-8
    Unicode,      // decoded by the UTF-16 or UTF-32 mark it begins with
    Ansi,         // no mark: UTF-8 when valid and not pure ASCII, else the ANSI code page
};

// The size of one read; a multi-byte sequence may straddle two reads.
inline constexpr std::ptrdiff_t LoadChunkSize = 1 << 18;
// For tests: the size of every read from now on, down to one byte (0: LoadChunkSize).
void SetReadBlockSizeForTests(std::ptrdiff_t size);
// The size of every read now: LoadChunkSize, or the size set for tests.
std::ptrdiff_t ReadBlockSize();

// Files up to this size keep their bytes, for an output that replaces the same file to tell
// whether the result differs without reading it again.
inline constexpr std::ptrdiff_t KeepBytesUpTo = 64 * 1024;

// An open source file as the reader found it, with all that the writer needs of it: which
// file it is as it was opened, its mark, and the bytes of a small one.
struct SourceFile {
    std::filesystem::path path;
    std::unique_ptr<ReadOnlyFile> file;
    FileIdentity identity; // as it was opened
    bool fileIsUnicode = false;
    bool fileIsUtf8 = false;
    PooledBuffer buffer{0};      // the first read, then each block read after it
    std::ptrdiff_t headSize = 0; // bytes of the first read
    bool whole = false;          // the first read holds the whole file
    // The whole file, when it was small enough (see KeepBytesUpTo); empty otherwise.
    std::string smallBytes() const;
};

// The mark test on a file's first bytes (at least the first four, or the whole file): true for
// a UTF-32 LE, UTF-32 BE, UTF-16 LE or UTF-16 BE mark; fileIsUtf8 for the UTF-8 mark.
bool MarkIsUnicode(std::string_view first, bool& fileIsUtf8);

// Opens path (by its name in `folder`, see ReadOnlyFile), reads its first block and makes
// the mark test on it. Fails when the file cannot be opened or read.
SourceFile OpenSource(const std::filesystem::path& path, int folder = -1);

// The text of an open source, block after block. A block holds whole characters only: a
// sequence cut by the end of a read waits for the next one. Bytes that are not text in the
// road's encoding end the blocks with NotText. A mark-less file is first taken for UTF-8;
// when it proves not to be, the blocks start over from its first byte as the code page
// (Restart). Read failures are thrown.
class SourceBlocks {
public:
    enum class Next { Block, End, Restart, NotText };

    // In bytes (bytes()) when asked for and the road allows it (UTF-8, with or without its
    // mark, or an ASCII-compatible code page); otherwise decoded (units()).
    SourceBlocks(SourceFile& source, LoadAs how, bool inBytes);
    ~SourceBlocks();
    SourceBlocks(const SourceBlocks&) = delete;
    SourceBlocks& operator=(const SourceBlocks&) = delete;

    Next next();
    std::string_view bytes() const { return {buffer_ + blockFrom_, size_t(blockTo_ - blockFrom_)}; }
    std::u16string_view units() const { return {unitsData(), size_t(unitCount_)}; }
    bool inBytes() const { return inBytes_; }
    // The road's format; for a mark-less file a guess until End.
    SourceFormat format() const { return format_; }
    // At End of a mark-less file: whether it held only ASCII.
    bool pureAscii() const { return !nonAscii_; }
    const std::string& notText() const { return notText_; }
    // Whether the file has no text at all (nothing after its mark).
    bool emptyText() const { return emptyText_; }
    // Starts the blocks over from the first byte as the code page (see pureAscii()).
    void restartAsCodePage();

private:
    bool fill();
    Next decodeUnits(std::ptrdiff_t from, std::ptrdiff_t to, bool atEnd);
    Next decodeUtf8(const char* bytes, std::ptrdiff_t n);
    Next decodeUtf16(const char* bytes, std::ptrdiff_t n, bool atEnd);
    Next decodeUtf32(const char* bytes, std::ptrdiff_t n, bool atEnd);
    Next notText(std::string reason);

    SourceFile& source_;
    LoadAs how_;
    bool inBytes_;
    SourceFormat format_ = SourceFormat::CodePage;
    char* buffer_;
    std::ptrdiff_t blockSize_;
    std::int64_t consumed_ = 0; // bytes of the file read so far
    std::ptrdiff_t filled_ = 0; // bytes in buffer_
    std::ptrdiff_t keep_ = 0;   // bytes at the end of buffer_ kept for the next block
    std::ptrdiff_t skip_ = 0;   // the mark, at the start of the first block
    bool first_ = true;         // the first read is still to be handed out
    bool emptyText_ = false;
    bool ended_ = false; // the file is read to its end
    std::ptrdiff_t blockFrom_ = 0;
    std::ptrdiff_t blockTo_ = 0;
    char16_t* unitsData() const { return reinterpret_cast<char16_t*>(units_.data()); }
    PooledBuffer units_{0};
    std::ptrdiff_t unitCount_ = 0;
    bool nonAscii_ = false;
    bool bigEndian_ = false;
    char16_t held_ = 0; // a high surrogate at a block's end, for the next block
    Utf8Decoder decoder_;
    std::string notText_;
};

} // namespace parvello
