// One output file, written with one open and replaced atomically.
#pragma once

#include "textio/atomicfile.h"
#include "textio/bufferpool.h"
#include "textio/readonlyfile.h"
#include "textio/textencoder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace parvello {

// Which file an output replaces.
struct OutputTarget {
    enum class Kind {
        // The file the name leads to, links resolved by the system; a name that leads to no
        // file (nothing there, or a dangling link) is taken itself.
        Resolved,
        // The name itself: a symbolic link there is replaced by the result, never followed.
        Name,
        // The file that was just read: exactly that file, at linkFreePath (a path to it
        // with no link at its end, as the reader found it), and only while that path still
        // holds it unchanged.
        FileRead,
    };
    Kind kind = Kind::Resolved;
    std::filesystem::path linkFreePath; // FileRead only
    FileIdentity identity;              // FileRead only: the file as it was when it was opened
    // FileRead only, or none: the open file just read, whose read lease (where one is held)
    // must still be unbroken when the result replaces it.
    ReadOnlyFile* source = nullptr;
    // FileRead only, or -1: the folder the file read was opened in by its own name (see
    // ReadOnlyFile::folderOfName), where the result then replaces it.
    int folder = -1;
    // The whole content of a small file just read, and that file as it was when it was
    // opened: a target that is still that file, unchanged, is compared with these bytes
    // instead of being read again.
    bool sourceBytesKnown = false;
    // Runs about every 20 ms while the commit of a large result waits for the disk (see
    // AtomicFile::whileWaiting).
    std::function<void()> whileWaiting;
    std::string sourceBytes;
    FileIdentity sourceIdentity;
    // Not empty: a file the result replaces is kept under its own path followed by this
    // (see AtomicFile::keepBackup). Nothing is kept where nothing is replaced.
    std::filesystem::path backupSuffix;
    // The result is only compared with what the target holds, as it comes: no temporary file
    // is made and nothing is written or replaced, read-only or not (see OutputFile::commit).
    bool compareOnly = false;
};

// Writes text to a file in one encoding and replaces the file only when everything is
// written: the bytes go to a temporary file beside the target, which is moved over it at
// commit() (no temporary file is left behind, a failure midway leaves the original as it
// was). Right before the move, the target's name must still hold what it held when the
// output was opened (or, for the file read, when that was opened), unchanged; otherwise
// nothing is replaced and the failure says the file changed while it was being processed.
// Only a regular file is replaced or compared (or a link, where the name itself is the
// target): a pipe, socket, device or folder is refused without being opened. A target whose
// attributes say read-only is refused, also for root, unless it already holds exactly the
// result. A replaced file keeps its permission bits and, where the system allows, its owner
// and group (at least the group, for a user who belongs to it). A result identical, byte for
// byte, to what the target already holds is not written at all, so the file keeps its time
// stamps.
class OutputFile {
public:
    // Refused: the target is read-only and the result differs from it (see refuse()).
    // Differs: compared only, and the target holds something else (or is not there).
    enum class Result { Written, Unchanged, Refused, Differs };

    OutputFile(std::filesystem::path path, OutputEncoding encoding, OutputTarget where = {});
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares the target and the temporary file and puts the mark first. Fails when the
    // target is a folder, a pipe, socket or device, is no longer the file read, or the
    // temporary file cannot be created.
    void open();
    // Appends the encoding of text. Returns false when the encoding cannot hold some
    // character of it (nothing is then written; see cannotHoldReason()). Fails when a write
    // breaks off. Consecutive pieces are encoded as the one text they join to: a surrogate
    // pair may be split between two of them.
    bool write(std::u16string_view text);
    // Appends bytes already in the file's encoding. Fails when a write breaks off.
    void writeBytes(std::string_view bytes);
    // After the last piece: false when the text ends with half a surrogate pair, which the
    // encoding cannot hold on its own.
    bool endText() { return pendingHigh_ == 0; }
    // Drops everything written so far and starts again, in another encoding.
    void restart(OutputEncoding encoding);
    // After the last piece: the result is all in its temporary file, and whether it differs
    // from the target is known (see unchanged()); the buffers are given back. commit() does
    // this itself where it was not done.
    void finishWriting();
    // Whether a failure came from the temporary file, made once the result proved to differ:
    // it is told as a failure to prepare the output, as when it is made at open().
    bool temporaryRefused() const { return temporaryRefused_; }
    // After finishWriting(): the target already holds exactly the result.
    bool unchanged() const { return unchanged_; }
    // After finishWriting(): whether the commit may leave the flush of the result's data to
    // one shared with other files (FlushTogether over temporaryHandle(), then
    // flushedAlready()).
    bool mayShareFlush();
    int temporaryHandle() const { return save_ ? save_->handle() : -1; }
    // A result that waits past the call that wrote it no longer runs that call's hook.
    void stopWaitingHook() {
        where_.whileWaiting = {};
        if (save_)
            save_->whileWaiting({});
    }
    void flushedAlready() {
        if (save_)
            save_->flushedAlready();
    }
    // After a commit that wrote: whether the result took its name by a rename, so that the
    // folder of targetPath() received a new name.
    bool renamed() const { return save_ && save_->renamed(); }
    // Whether the new name of a renamed result needs its folder flushed to be durable (not
    // on a file system held in memory only).
    bool nameNeedsFlush() {
        return save_ && save_->renamed() && !save_->folderFlushed() && !save_->flushesNothing();
    }
    // Moves the complete result over the target, or leaves an identical target alone. A
    // read-only target that would change is left alone too, with Result::Refused; one that
    // is only compared with Result::Differs.
    Result commit();
    // Throws the failure of a read-only target (after Result::Refused).
    [[noreturn]] void refuse() const;
    // Drops everything written so far; the target stays as it was.
    void discard();

    const std::filesystem::path& targetPath() const { return target_; }
    // The bytes of the result so far, its mark included (all of it after commit()).
    std::int64_t size() const { return made_ + filled_; }
    std::string cannotHoldReason() const { return encoder_.cannotHoldReason(); }

    // Bytes gathered before each write to the temporary file.
    static constexpr std::ptrdiff_t BufferSize = 1 << 18;
    // Text is encoded in slices of at most this many units, so the buffer stays small even
    // for a file that is one long line.
    static constexpr std::ptrdiff_t SliceUnits = 1 << 16;
    static constexpr std::ptrdiff_t BufferCapacity = BufferSize + 3 * SliceUnits;

private:
    enum class TargetKind { Missing, File, Folder, Special };
    TargetKind examineTarget();
    void takeKnownBytes();
    void openTemporary();
    void flush();
    void put(const char* bytes, std::ptrdiff_t n);
    void startComparing();
    void startTemporary(std::int64_t equal);

    bool stillSafe();
    void carryAttributes();

    std::filesystem::path path_;
    std::filesystem::path target_;
    OutputTarget where_;
    FileIdentity expected_; // what the target's name holds while it is safe to replace it
    bool readOnly_ = false; // then only compared, never written
    TextEncoder encoder_;
    PooledBuffer buffer_{0}; // BufferCapacity bytes once open
    std::ptrdiff_t filled_ = 0;
    std::unique_ptr<AtomicFile> save_;
    // The existing target, read alongside to find out whether the result differs from it.
    std::unique_ptr<ReadOnlyFile> existing_;
    std::unique_ptr<char[]> compareBuffer_; // compareSize_ bytes, grown as slices need
    std::ptrdiff_t compareSize_ = 0;
    // Or the bytes of the target as the reader found them, when it read this very file.
    std::string knownBytes_;
    bool useKnownBytes_ = false;
    std::ptrdiff_t compared_ = 0;
    std::int64_t made_ = 0; // bytes of the result handed on past the buffer
    bool differs_ = true;
    bool finished_ = false; // finishWriting() ran
    // The temporary file is made once the result differs from the target (startTemporary).
    bool temporaryLater_ = false;
    bool temporaryRefused_ = false; // the temporary file made late could not be made
    bool unchanged_ = false;        // and found the result identical to the target
    bool exists_ = false;
    char16_t pendingHigh_ = 0; // a high surrogate that ended a piece, paired with the next
    bool opened_ = false;
    bool intoTarget_ = false;    // the result is written into the target, not renamed over it
    bool anotherWriter_ = false; // the source's lease was broken: another program writes it
    bool restoreOwner_ = false;
    unsigned ownerId_ = 0;
    unsigned groupId_ = 0;
    unsigned mode_ = 0;
};

} // namespace parvello
