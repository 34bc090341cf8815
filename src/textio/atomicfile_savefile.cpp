// The replace of a file on systems without the Unix calls: QSaveFile does it.
#include "textio/atomicfile.h"

#include "base/qtpaths.h"

#include <QFile>
#include <QSaveFile>

#ifndef Q_OS_UNIX

namespace parvello {

struct AtomicFile::SaveFile {
    explicit SaveFile(const QString& name) : file(name) {}
    QSaveFile file;
};

void AtomicFile::AllowUnnamedFiles(bool) {}

void AtomicFile::onDevice(unsigned long long) {}

// QSaveFile flushes each file at its own commit.
bool FlushTogether(const std::vector<int>&, std::vector<unsigned long long>*) {
    return false;
}
void FlushFolders(const std::vector<std::filesystem::path>&,
                  const std::vector<unsigned long long>&) {}
bool AtomicFile::mayShareFlush() {
    return false;
}
bool AtomicFile::flushesNothing() {
    return false;
}

AtomicFile::AtomicFile(std::filesystem::path target)
    : target_(std::move(target)), save_(std::make_unique<SaveFile>(ToQString(target_))) {}

AtomicFile::~AtomicFile() {
    cancel();
}

bool AtomicFile::open(bool, unsigned) {
    if (save_->file.open(QIODevice::WriteOnly))
        return true;
    error_ = save_->file.errorString().toStdString();
    return false;
}

bool AtomicFile::write(const char* data, std::int64_t n) {
    if (save_->file.write(data, n) == n)
        return true;
    error_ = save_->file.errorString().toStdString();
    return false;
}

bool AtomicFile::rewind() {
    if (save_->file.seek(0) && save_->file.resize(0))
        return true;
    error_ = save_->file.errorString().toStdString();
    return false;
}

int AtomicFile::handle() const {
    return save_->file.handle();
}

bool AtomicFile::openToWriteInto(const FileIdentity&) {
    error_ = "not supported on this system";
    return false;
}

void AtomicFile::keepBackup(const std::filesystem::path& backup, const FileIdentity& expected) {
    backup_ = backup;
    backupOf_ = expected;
}

// A copy of the target, itself written through a QSaveFile: never seen half made.
bool AtomicFile::makeBackup(bool) {
    QFile from(ToQString(target_));
    QSaveFile to(ToQString(backup_));
    bool made = from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly);
    while (made && !from.atEnd()) {
        const QByteArray block = from.read(1 << 18);
        made = !block.isEmpty() && to.write(block) == block.size();
    }
    if (made && to.commit())
        return true;
    error_ = "its backup could not be made: " +
             (from.error() != QFileDevice::NoError ? from.errorString() : to.errorString())
                 .toStdString();
    to.cancelWriting();
    return false;
}

bool AtomicFile::commit(const std::function<bool()>& stillSafe, const std::function<void()>&) {
    changed_ = false;
    hookRan_ = false;
    if (!checkStillSafe(stillSafe))
        return false;
    if (!backup_.empty() && !makeBackup(true)) {
        cancel();
        return false;
    }
    if (save_->file.commit()) {
        renamed_ = true;
        return true;
    }
    error_ = save_->file.errorString().toStdString();
    return false;
}

void AtomicFile::cancel() {
    if (save_->file.isOpen()) {
        save_->file.cancelWriting();
        save_->file.commit(); // with writing cancelled this removes the temporary file
    }
}

} // namespace parvello

#endif
