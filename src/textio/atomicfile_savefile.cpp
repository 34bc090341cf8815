// The replace of a file on systems without the Unix calls: QSaveFile does it.
#include "textio/atomicfile.h"

#include <QFile>

#ifndef Q_OS_UNIX

namespace parvello {

void AtomicFile::AllowUnnamedFiles(bool) {}

void AtomicFile::onDevice(unsigned long long) {}

// QSaveFile flushes each file at its own commit.
bool FlushTogether(const std::vector<int>&, std::vector<unsigned long long>*) {
    return false;
}
void FlushFolders(const QStringList&, const std::vector<unsigned long long>&) {}
bool AtomicFile::mayShareFlush() {
    return false;
}
bool AtomicFile::flushesNothing() {
    return false;
}

AtomicFile::AtomicFile(const QString& target) : target_(target), save_(target) {}

AtomicFile::~AtomicFile() {
    cancel();
}

bool AtomicFile::open(bool, unsigned) {
    if (save_.open(QIODevice::WriteOnly))
        return true;
    error_ = save_.errorString();
    return false;
}

bool AtomicFile::write(const char* data, qint64 n) {
    if (save_.write(data, n) == n)
        return true;
    error_ = save_.errorString();
    return false;
}

bool AtomicFile::rewind() {
    if (save_.seek(0) && save_.resize(0))
        return true;
    error_ = save_.errorString();
    return false;
}

int AtomicFile::handle() const {
    return save_.handle();
}

bool AtomicFile::openToWriteInto(const FileIdentity&) {
    error_ = QStringLiteral("not supported on this system");
    return false;
}

void AtomicFile::keepBackup(const QString& backup, const FileIdentity& expected) {
    backup_ = backup;
    backupOf_ = expected;
}

// A copy of the target, itself written through a QSaveFile: never seen half made.
bool AtomicFile::makeBackup(bool) {
    QFile from(target_);
    QSaveFile to(backup_);
    bool made = from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly);
    while (made && !from.atEnd()) {
        const QByteArray block = from.read(1 << 18);
        made = !block.isEmpty() && to.write(block) == block.size();
    }
    if (made && to.commit())
        return true;
    error_ = QStringLiteral("its backup could not be made: ") +
             (from.error() != QFileDevice::NoError ? from.errorString() : to.errorString());
    to.cancelWriting();
    return false;
}

bool AtomicFile::commit(const std::function<bool()>& stillSafe, const std::function<void()>&) {
    changed_ = false;
    hookRan_ = false;
    if (!checkStillSafe(stillSafe))
        return false;
    if (!backup_.isEmpty() && !makeBackup(true)) {
        cancel();
        return false;
    }
    if (save_.commit()) {
        renamed_ = true;
        return true;
    }
    error_ = save_.errorString();
    return false;
}

void AtomicFile::cancel() {
    if (save_.isOpen()) {
        save_.cancelWriting();
        save_.commit(); // with writing cancelled this removes the temporary file
    }
}

} // namespace parvello

#endif
