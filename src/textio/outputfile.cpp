#include "textio/outputfile.h"

#include "app/failure.h"
#include "app/platform.h"
#include "textio/fileerrors.h"
#include "textio/textloader.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvello {

namespace {

// The output buffer of the last file on this thread, taken again by the next one so that
// a run of many files does not allocate and fault in a fresh buffer for each.
thread_local std::unique_ptr<char[]> spareBuffer;

[[noreturn]] void notOpen() {
    throw Failure(QStringLiteral("The output file is not open"), failure_numbers::InvalidArgument);
}

} // namespace

QString ResolveLinks(const QString& path) {
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        const QString target = info.symLinkTarget();
        if (target.isEmpty())
            return current;
        current = target;
    }
    return current;
}

OutputFile::OutputFile(QString path, OutputEncoding encoding)
    : path_(std::move(path)), encoder_(encoding) {}

OutputFile::~OutputFile() {
    if (opened_)
        discard();
    if (buffer_)
        spareBuffer = std::move(buffer_);
}

void OutputFile::open() {
    bool exists = false;
    bool folder = false;
    bool readOnly = false;
#ifdef Q_OS_UNIX
    // One status call answers everything for a path that is not a link: the read-only
    // attribute is "no write bit in the mode", as FileAttributes reports it on this system.
    struct stat status {};
    bool haveStatus = false;
    if (::lstat(QFile::encodeName(path_).constData(), &status) == 0) {
        if (!S_ISLNK(status.st_mode)) {
            target_ = path_;
            haveStatus = true;
        }
    } else if (errno == ENOENT) {
        target_ = path_; // nothing there yet, so no link to follow
    }
    if (!haveStatus && target_.isEmpty()) {
        target_ = ResolveLinks(path_);
        haveStatus = ::stat(QFile::encodeName(target_).constData(), &status) == 0;
    }
    if (haveStatus) {
        exists = true;
        folder = S_ISDIR(status.st_mode);
        readOnly = (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
        restoreOwner_ = true;
        ownerId_ = status.st_uid;
        groupId_ = status.st_gid;
        mode_ = status.st_mode & 07777;
    }
#else
    target_ = ResolveLinks(path_);
    const QFileInfo info(target_);
    exists = info.exists();
    folder = exists && info.isDir();
    readOnly = exists && !folder && (FileAttributes(target_) & attributes::ReadOnly);
#endif
    if (folder)
        throw Failure(QStringLiteral("Cannot write ") + path_ + QStringLiteral(": it is a folder"),
                      failure_numbers::PermissionDenied);
    // Decided by the attributes, not by trying: root could write over it anyway.
    if (readOnly)
        throw Failure(QStringLiteral("Permission denied: ") + path_ +
                          QStringLiteral(" is read-only"),
                      failure_numbers::PermissionDenied);
#ifdef Q_OS_UNIX
    // The file just read, unchanged since: its bytes are at hand.
    const LoadedFileBytes& loaded = LastLoadedFileBytes();
    if (exists && !folder && loaded.known && loaded.device == status.st_dev &&
        loaded.inode == status.st_ino && loaded.size == status.st_size &&
        loaded.modifiedSeconds == ModifiedTime(status).tv_sec &&
        loaded.modifiedNanoseconds == ModifiedTime(status).tv_nsec &&
        loaded.bytes.size() == status.st_size) {
        knownBytes_ = loaded.bytes;
        useKnownBytes_ = true;
        differs_ = false;
    }
#endif
    if (exists && !useKnownBytes_) {
        existing_ = std::make_unique<QFile>(target_);
        if (existing_->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            differs_ = false;
        else
            existing_.reset();
    }
    save_ = std::make_unique<AtomicFile>(target_);
#ifdef Q_OS_UNIX
    const unsigned permissionBits = mode_ & 0777;
#else
    const unsigned permissionBits = 0;
#endif
    if (!save_->open(exists, permissionBits)) {
        if (!QFileInfo(target_).absoluteDir().exists())
            throw Failure(QStringLiteral("Path not found: ") + path_,
                          failure_numbers::PathNotFound);
        throw Failure(QStringLiteral("Cannot create ") + path_ + QStringLiteral(": ") +
                          save_->errorString(),
                      failure_numbers::PermissionDenied);
    }
    opened_ = true;
    buffer_ = spareBuffer ? std::move(spareBuffer)
                          : std::make_unique_for_overwrite<char[]>(BufferCapacity);
    const QByteArrayView mark = encoder_.mark();
    if (!mark.isEmpty())
        std::memcpy(buffer_.get(), mark.data(), size_t(mark.size()));
    filled_ = mark.size();
}

bool OutputFile::write(QStringView text) {
    if (!opened_)
        notOpen();
    const int perUnit = encoder_.maxBytesPerUnit();
    // The usual piece: short, and room for it in the buffer.
    if (text.size() <= SliceUnits && filled_ + text.size() * perUnit <= BufferCapacity) {
        char* const end = encoder_.encode(text, buffer_.get() + filled_);
        if (!end)
            return false;
        filled_ = end - buffer_.get();
        if (filled_ >= BufferSize)
            flush();
        return true;
    }
    while (!text.isEmpty()) {
        qsizetype n = std::min(text.size(), SliceUnits);
        if (n < text.size() && text[n - 1].isHighSurrogate())
            --n; // keep a surrogate pair in one slice
        if (filled_ + n * perUnit > BufferCapacity)
            flush();
        char* const end = encoder_.encode(text.first(n), buffer_.get() + filled_);
        if (!end)
            return false;
        filled_ = end - buffer_.get();
        text = text.sliced(n);
    }
    if (filled_ >= BufferSize)
        flush();
    return true;
}

void OutputFile::writeBytes(QByteArrayView bytes) {
    if (!opened_)
        notOpen();
    if (bytes.isEmpty())
        return;
    while (filled_ + bytes.size() > BufferCapacity) {
        const qsizetype n = BufferCapacity - filled_;
        std::memcpy(buffer_.get() + filled_, bytes.data(), size_t(n));
        filled_ += n;
        bytes = bytes.sliced(n);
        flush();
    }
    std::memcpy(buffer_.get() + filled_, bytes.data(), size_t(bytes.size()));
    filled_ += bytes.size();
    if (filled_ >= BufferSize)
        flush();
}

void OutputFile::flush() {
    if (filled_ == 0)
        return;
    if (!differs_ && useKnownBytes_) {
        if (knownBytes_.size() - compared_ < filled_ ||
            std::memcmp(knownBytes_.constData() + compared_, buffer_.get(), size_t(filled_)) != 0)
            differs_ = true;
        compared_ += filled_;
    } else if (!differs_) {
        compareBuffer_.resize(filled_);
        qint64 got = 0;
        while (got < filled_) {
            const qint64 n = existing_->read(compareBuffer_.data() + got, filled_ - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (got != filled_ ||
            std::memcmp(compareBuffer_.constData(), buffer_.get(), size_t(got)) != 0) {
            differs_ = true;
            existing_.reset();
            compareBuffer_ = QByteArray();
        }
    }
    if (!save_->write(buffer_.get(), filled_))
        ThrowIoFailure(save_->errorString(), path_);
    filled_ = 0;
}

OutputFile::Result OutputFile::commit() {
    if (!opened_)
        notOpen();
    flush();
    if (!differs_ && useKnownBytes_) {
        if (compared_ == knownBytes_.size()) {
            discard();
            return Result::Unchanged;
        }
    } else if (!differs_) {
        char extra = 0;
        if (existing_->read(&extra, 1) == 0) {
            discard();
            return Result::Unchanged;
        }
    }
    existing_.reset();
#ifdef Q_OS_UNIX
    if (restoreOwner_) {
        const int fd = save_->handle();
        // Only root may give a file away; for anyone else this keeps what the system allows.
        bool ownerKept = ownerId_ == ::geteuid() && groupId_ == ::getegid();
        if (!ownerKept)
            ownerKept = ::fchown(fd, ownerId_, groupId_) == 0;
        // After a change of owner the set-user and set-group bits need setting again; a file
        // that now belongs to the running user keeps only its permission bits.
        const bool specialBits = (mode_ & 07000) != 0;
        if ((specialBits || !ownerKept) &&
            ::fchmod(fd, mode_t(ownerKept ? mode_ : mode_ & 0777)) != 0) {
            // The temporary file already has the permission bits.
        }
    }
#endif
    opened_ = false;
    if (!save_->commit())
        throw Failure(QStringLiteral("Cannot replace ") + path_ + QStringLiteral(": ") +
                          save_->errorString(),
                      failure_numbers::PermissionDenied);
    return Result::Written;
}

void OutputFile::discard() {
    opened_ = false;
    existing_.reset();
    if (save_)
        save_->cancel();
}

} // namespace parvello
