#include "textio/outputfile.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "textio/extendedattributes.h"
#include "textio/fileerror.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvello {

namespace {

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

// The folder a path names a file in: "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

[[noreturn]] void notOpen() {
    throw FileError(FileProblem::NotOpen, "The output file is not open");
}

#if defined(PARVELLO_OS_UNIX)
// Whether the running user may write the file, as the system decides it (its access list
// included). Root may write every file: for root the attributes alone decide.
bool userMayWrite(const std::filesystem::path& path, const FileIdentity& file) {
    const uid_t user = ::geteuid();
    if (user == 0)
        return true;
    if (user == file.owner) // the owner's own bits, whatever the group or a list allows
        return (file.mode & S_IWUSR) != 0;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno != EACCES;
}
#endif

[[noreturn]] void changedMeanwhile(const std::filesystem::path& path) {
    throw FileError(FileProblem::Changed,
                    "Cannot replace " + DescribedPath(path) +
                        ": it changed while it was being processed",
                    "it changed while it was being processed");
}

} // namespace

OutputFile::OutputFile(std::filesystem::path path, OutputEncoding encoding, OutputTarget where)
    : path_(std::move(path)), where_(std::move(where)), encoder_(encoding) {}

OutputFile::~OutputFile() {
    if (opened_)
        discard();
}

void OutputFile::open() {
    const TargetKind kind = examineTarget();
    if (kind == TargetKind::Folder)
        throw FileError(FileProblem::Denied,
                        "Cannot write " + DescribedPath(path_) + ": it is a folder",
                        "Is a directory");
    if (kind == TargetKind::Special)
        throw FileError(FileProblem::Denied,
                        "Cannot write " + DescribedPath(path_) +
                            ": it is a pipe, socket or device, not a file",
                        "it is a pipe, socket or device, not a file");
    exists_ = kind == TargetKind::File;
    takeKnownBytes();
    startComparing();
    // Decided by the attributes, not by trying: root could write over it anyway. It is
    // only compared, so that one that already holds its result is left as it is. A target
    // being compared gets its temporary file only once the result proves to differ from it:
    // one that already holds its result costs no temporary file at all.
    if (!readOnly_ && !where_.compareOnly) {
        if (differs_)
            openTemporary();
        else
            temporaryLater_ = true;
    }
    opened_ = true;
    buffer_ = PooledBuffer(BufferCapacity);
    const std::string_view mark = encoder_.mark();
    if (!mark.empty())
        std::memcpy(buffer_.data(), mark.data(), mark.size());
    filled_ = std::ptrdiff_t(mark.size());
}

// Which file the result replaces (target_), what it is, and what it must still be when it is
// replaced (expected_); whether it is read-only, and the owner, group and bits to keep.
OutputFile::TargetKind OutputFile::examineTarget() {
#if defined(PARVELLO_OS_UNIX)
    target_ = path_;
    if (where_.kind == OutputTarget::Kind::FileRead) {
        target_ = where_.linkFreePath;
    } else if (where_.kind == OutputTarget::Kind::Resolved) {
        if (char* resolved = ::realpath(path_.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    // One status call of the name itself answers everything: a link there (only where the
    // name itself is the target) is replaced like a file that is not there; the read-only
    // attribute is "no write bit in the mode", as FileAttributes reports it on this system.
    if (where_.kind == OutputTarget::Kind::FileRead && where_.identity.known) {
        // The file just read, as it was when it was opened: whether its name still holds it,
        // unchanged, is asked right before it is replaced.
        expected_ = where_.identity;
    } else {
        expected_ = target_.empty() ? FileIdentity()
                                    : FileIdentity::Of(FileStatus::Of(target_, Links::DoNotFollow));
        if (where_.kind == OutputTarget::Kind::FileRead)
            changedMeanwhile(path_); // the reader could not say which file it read
    }
    if (!expected_.known || S_ISLNK(expected_.type))
        return TargetKind::Missing;
    if (S_ISDIR(expected_.type))
        return TargetKind::Folder;
    if (!S_ISREG(expected_.type))
        return TargetKind::Special;
    readOnly_ = (expected_.mode & 0222) == 0 || !userMayWrite(target_, expected_);
    restoreOwner_ = true;
    ownerId_ = expected_.owner;
    groupId_ = expected_.group;
    mode_ = expected_.mode & 07777;
    return TargetKind::File;
#else
    target_ = where_.kind == OutputTarget::Kind::FileRead ? where_.linkFreePath : path_;
    // The status of what the name leads to; the read-only attribute is the mode's missing
    // write bits there.
    const FileStatus info = target_.empty() ? FileStatus() : FileStatus::Of(target_);
    if (where_.kind == OutputTarget::Kind::Resolved && info.exists()) {
        std::error_code error;
        std::filesystem::path resolved = std::filesystem::canonical(target_, error);
        if (!error)
            target_ = std::move(resolved);
    }
    if (!info.exists())
        return TargetKind::Missing;
    if (info.isFolder())
        return TargetKind::Folder;
    if (!info.isRegular())
        return TargetKind::Special;
    // What the file must still be: the file just read as it was opened, else the file found
    // now. The result is compared with it only while it is.
    expected_ = where_.kind == OutputTarget::Kind::FileRead && where_.identity.known
                    ? where_.identity
                    : FileIdentity::Of(info);
    readOnly_ = info.unwritable();
    return TargetKind::File;
#endif
}

// The file just read, unchanged since: its bytes are at hand to compare the result with.
void OutputFile::takeKnownBytes() {
#if defined(PARVELLO_OS_UNIX)
    const FileIdentity& read = where_.sourceIdentity;
    if (exists_ && where_.sourceBytesKnown && read.known && read.device == expected_.device &&
        read.inode == expected_.inode && read.size == expected_.size &&
        read.modified[0] == expected_.modified[0] && read.modified[1] == expected_.modified[1] &&
        std::int64_t(where_.sourceBytes.size()) == expected_.size) {
        knownBytes_ = std::move(where_.sourceBytes);
        useKnownBytes_ = true;
    }
#endif
}

// The temporary file the result is written to, or, in place, the private one whose bytes
// are copied into the file itself: for a file with other names, so that every name sees the
// result, and for a file in a folder where its temporary file cannot be made or renamed,
// where the file itself may still be written.
void OutputFile::openTemporary() {
    save_ = std::make_unique<AtomicFile>(target_);
    save_->whileWaiting(where_.whileWaiting);
#if defined(PARVELLO_OS_UNIX)
    if (where_.kind == OutputTarget::Kind::FileRead)
        save_->lendFolder(where_.folder);
    const unsigned permissionBits = mode_ & 0777;
#else
    const unsigned permissionBits = 0;
#endif
    const bool fileRead = where_.kind == OutputTarget::Kind::FileRead && exists_;
    intoTarget_ = fileRead && expected_.links > 1;
    bool ready =
        intoTarget_ ? save_->openToWriteInto(expected_) : save_->open(exists_, permissionBits);
    if (!ready && !intoTarget_ && fileRead && save_->folderRefused()) {
        intoTarget_ = true;
        ready = save_->openToWriteInto(expected_);
    }
    if (!ready) {
        if (!FileStatus::Of(folderOf(target_)).isFolder())
            throw FileError(FileProblem::PathNotFound, "Path not found: " + DescribedPath(path_),
                            "No such file or directory");
        throw FileError(FileProblem::Denied,
                        (exists_ ? "Cannot replace " : "Cannot create ") + DescribedPath(path_) +
                            ": " + save_->errorString(),
                        save_->errorString());
    }
    if (exists_ && !intoTarget_)
        carryAttributes();
    if (exists_ && !where_.backupSuffix.empty()) {
        std::filesystem::path backup = target_;
        backup += where_.backupSuffix;
        save_->keepBackup(backup, expected_);
    }
}

// The result takes the place of a file that exists: it gets that file's extended attributes
// and access list (or none, where the folder's default list gave the temporary file one), so
// it gives no one more access than the file gave.
void OutputFile::carryAttributes() {
#if defined(PARVELLO_OS_LINUX)
    // In place they come from the very file that was read, open still.
    const int read =
        where_.kind == OutputTarget::Kind::FileRead && where_.source ? where_.source->handle() : -1;
    const std::string error = read >= 0 ? CopyExtendedAttributes(read, save_->handle())
                                        : CopyExtendedAttributes(target_, save_->handle());
    save_->forgetStatus(); // an access list given is in the permission bits too
    if (!error.empty()) {
        save_->cancel();
        throw FileError(FileProblem::Denied,
                        "Cannot replace " + DescribedPath(path_) + ": " + error, error);
    }
#endif
}

void OutputFile::startComparing() {
    differs_ = true;
    compared_ = 0;
    if (useKnownBytes_) {
        differs_ = false;
    } else if (exists_) {
        // Opened without following a link and without waiting, and compared only while it
        // is the file just looked at.
        existing_ = std::make_unique<ReadOnlyFile>(target_);
        if (existing_->open(false) && existing_->identity() == expected_)
            differs_ = false;
        else
            existing_.reset();
    }
}

void OutputFile::restart(OutputEncoding encoding) {
    if (!opened_)
        notOpen();
    if (save_ && !save_->rewind())
        ThrowIoFailure(save_->errorString(), path_);
    existing_.reset();
    startComparing();
    encoder_ = TextEncoder(encoding);
    pendingHigh_ = 0;
    made_ = 0;
    const std::string_view mark = encoder_.mark();
    if (!mark.empty())
        std::memcpy(buffer_.data(), mark.data(), mark.size());
    filled_ = std::ptrdiff_t(mark.size());
}

bool OutputFile::write(std::u16string_view text) {
    if (!opened_)
        notOpen();
    if (pendingHigh_ && !text.empty()) {
        // The high surrogate that ended the last piece goes with this one's first unit.
        const char16_t pair[2] = {std::exchange(pendingHigh_, 0), text.front()};
        if (!write(std::u16string_view(pair, 2)))
            return false;
        text.remove_prefix(1);
    }
    if (!text.empty() && isHighSurrogate(text.back())) {
        pendingHigh_ = text.back();
        text.remove_suffix(1);
    }
    const int perUnit = encoder_.maxBytesPerUnit();
    const auto size = [&text] { return std::ptrdiff_t(text.size()); };
    // The usual piece: short, and room for it in the buffer.
    if (size() <= SliceUnits && filled_ + size() * perUnit <= BufferCapacity) {
        char* const end = encoder_.encode(text, buffer_.data() + filled_);
        if (!end)
            return false;
        filled_ = end - buffer_.data();
        if (filled_ >= BufferSize)
            flush();
        return true;
    }
    while (!text.empty()) {
        std::ptrdiff_t n = std::min<std::ptrdiff_t>(size(), SliceUnits);
        if (n < size() && isHighSurrogate(text[size_t(n - 1)]))
            --n; // keep a surrogate pair in one slice
        if (filled_ + n * perUnit > BufferCapacity)
            flush();
        char* const end = encoder_.encode(text.substr(0, size_t(n)), buffer_.data() + filled_);
        if (!end)
            return false;
        filled_ = end - buffer_.data();
        text.remove_prefix(size_t(n));
    }
    if (filled_ >= BufferSize)
        flush();
    return true;
}

void OutputFile::writeBytes(std::string_view bytes) {
    if (!opened_)
        notOpen();
    if (bytes.empty())
        return;
    if (pendingHigh_)
        throw FileError(FileProblem::InvalidArgument,
                        "Cannot write " + DescribedPath(path_) + ": a surrogate without its pair",
                        "a surrogate without its pair");
    // A long stretch (such as a block the engine's pass gathered) goes to the file straight
    // from where it is, without a copy.
    if (std::ptrdiff_t(bytes.size()) >= BufferSize / 4) {
        flush();
        put(bytes.data(), std::ptrdiff_t(bytes.size()));
        return;
    }
    while (filled_ + std::ptrdiff_t(bytes.size()) > BufferCapacity) {
        const std::ptrdiff_t n = BufferCapacity - filled_;
        std::memcpy(buffer_.data() + filled_, bytes.data(), size_t(n));
        filled_ += n;
        bytes.remove_prefix(size_t(n));
        flush();
    }
    std::memcpy(buffer_.data() + filled_, bytes.data(), bytes.size());
    filled_ += std::ptrdiff_t(bytes.size());
    if (filled_ >= BufferSize)
        flush();
}

void OutputFile::flush() {
    if (filled_ == 0)
        return;
    put(buffer_.data(), filled_);
    filled_ = 0;
}

// The result differs from the target after its first `equal` bytes, which the target holds
// too: the temporary file is made now and given those bytes first, read again from the
// target (the file compared, still open) or taken from the bytes the reader kept.
void OutputFile::startTemporary(std::int64_t equal) {
    temporaryLater_ = false;
    try {
        openTemporary();
    } catch (...) {
        temporaryRefused_ = true;
        throw;
    }
    if (useKnownBytes_) {
        if (equal > 0 && !save_->write(knownBytes_.data(), equal))
            ThrowIoFailure(save_->errorString(), path_);
        return;
    }
    if (!existing_->rewind())
        ThrowIoFailure(existing_->errorString(), path_);
    const std::int64_t sliceSize = std::min<std::int64_t>(equal, BufferCapacity);
    const std::unique_ptr<char[]> slice(new char[size_t(std::max<std::int64_t>(sliceSize, 1))]);
    for (std::int64_t left = equal; left > 0;) {
        const std::int64_t got = existing_->read(slice.get(), std::min(left, sliceSize));
        if (got <= 0)
            changedMeanwhile(path_); // the target is no longer what it was when compared
        if (!save_->write(slice.get(), got))
            ThrowIoFailure(save_->errorString(), path_);
        left -= got;
    }
}

void OutputFile::put(const char* bytes, std::ptrdiff_t n) {
    const std::int64_t equal = made_; // bytes of the result so far, all equal to the target's
    made_ += n;
    if (!differs_ && useKnownBytes_) {
        if (std::ptrdiff_t(knownBytes_.size()) - compared_ < n ||
            std::memcmp(knownBytes_.data() + compared_, bytes, size_t(n)) != 0)
            differs_ = true;
        compared_ += n;
    } else if (!differs_) {
        // Compared in slices of the buffer's size, so that memory stays bounded.
        for (std::ptrdiff_t done = 0; done < n && !differs_;) {
            const std::ptrdiff_t slice = std::min(n - done, BufferCapacity);
            if (slice > compareSize_) {
                compareBuffer_.reset(new char[size_t(slice)]);
                compareSize_ = slice;
            }
            const std::int64_t got = existing_->read(compareBuffer_.get(), slice);
            if (got != slice || std::memcmp(compareBuffer_.get(), bytes + done, size_t(got)) != 0) {
                differs_ = true;
                compareBuffer_.reset();
                compareSize_ = 0;
            }
            done += slice;
        }
    }
    if (differs_ && temporaryLater_)
        startTemporary(equal);
    if (differs_)
        existing_.reset();
    if (save_ && !save_->write(bytes, n))
        ThrowIoFailure(save_->errorString(), path_);
}

void OutputFile::finishWriting() {
    if (!opened_)
        notOpen();
    if (finished_)
        return;
    if (pendingHigh_)
        throw FileError(FileProblem::InvalidArgument,
                        "Cannot write " + DescribedPath(path_) + ": a surrogate without its pair",
                        "a surrogate without its pair");
    flush();
    if (!differs_ && useKnownBytes_) {
        unchanged_ = compared_ == std::ptrdiff_t(knownBytes_.size());
    } else if (!differs_) {
        char extra = 0;
        unchanged_ = existing_->read(&extra, 1) == 0;
    }
    // The whole result is the start of what the target holds.
    if (!unchanged_ && temporaryLater_)
        startTemporary(made_);
    finished_ = true;
    // What only the writing needed goes: a result waiting for its replace holds no buffer.
    buffer_ = PooledBuffer(0);
    existing_.reset();
    compareBuffer_.reset();
    compareSize_ = 0;
    knownBytes_ = std::string();
    where_.sourceBytes = std::string();
}

bool OutputFile::mayShareFlush() {
    return finished_ && !unchanged_ && !readOnly_ && save_ && !intoTarget_ &&
           save_->mayShareFlush();
}

OutputFile::Result OutputFile::commit() {
    finishWriting();
    if (unchanged_) {
        discard();
        return Result::Unchanged;
    }
    existing_.reset();
    if (where_.compareOnly) {
        discard();
        return Result::Differs;
    }
    if (readOnly_) {
        discard();
        return Result::Refused;
    }
    anotherWriter_ = false;
#if defined(PARVELLO_OS_UNIX)
    if (restoreOwner_ && !intoTarget_) {
        const int fd = save_->handle();
        // Only root may give a file away; anyone else may still give it the original's
        // group when they belong to it, and this keeps what the system allows.
        const FileStatus now = save_->resultStatus();
        const bool known = now.exists();
        bool ownerKept = known && now.owner == ownerId_ && now.group == groupId_;
        if (!ownerKept)
            ownerKept = ::fchown(fd, ownerId_, groupId_) == 0;
        const bool groupKept =
            ownerKept || (known && now.group == groupId_) || ::fchown(fd, uid_t(-1), groupId_) == 0;
        // After a change of owner or group the set-user and set-group bits need setting
        // again; a file that now belongs to the running user keeps its permission bits, and
        // the set-group bit only with its group.
        // The bits the file was made with may also have lost some to the folder's default
        // access list.
        const bool specialBits = (mode_ & 07000) != 0;
        const unsigned bits = ownerKept ? mode_ : groupKept ? mode_ & 02777 : mode_ & 0777;
        const bool bitsDiffer = !known || now.mode != bits;
        if ((specialBits || !ownerKept || bitsDiffer) && ::fchmod(fd, mode_t(bits)) != 0) {
            // The temporary file already has the permission bits.
        }
        save_->forgetStatus();
    }
#endif
    opened_ = false;
    // The source's read lease is given back before the result is written into it: this
    // process's own open for writing would break it.
    const auto releaseLease = [this] {
        if (where_.source)
            where_.source->releaseLease();
    };
#if defined(PARVELLO_OS_WINDOWS)
    // Windows renames over a file that is open only with POSIX semantics, which not every
    // file system (nor every Windows) offers: the file read is closed before it is replaced.
    if (where_.source)
        where_.source->close();
#endif
    if (!save_->commit([this] { return stillSafe(); }, releaseLease)) {
        if (anotherWriter_)
            throw FileError(FileProblem::InUse,
                            "Cannot replace " + DescribedPath(path_) +
                                ": another program is writing it",
                            "another program is writing it");
        if (save_->changedMeanwhile())
            changedMeanwhile(path_);
        throw FileError(FileProblem::Denied,
                        "Cannot replace " + DescribedPath(path_) + ": " + save_->errorString(),
                        save_->errorString());
    }
    return Result::Written;
}

bool OutputFile::stillSafe() {
    if (where_.source && !where_.source->leaseIntact()) {
        anotherWriter_ = true;
        return false;
    }
    return (save_ ? save_->identityAtTarget() : FileIdentity::AtName(target_)) == expected_;
}

void OutputFile::refuse() const {
    throw FileError(FileProblem::Denied,
                    "Permission denied: " + DescribedPath(path_) + " is read-only",
                    "it is read-only");
}

void OutputFile::discard() {
    opened_ = false;
    existing_.reset();
    if (save_)
        save_->cancel();
}

} // namespace parvello
