// One output file, written with one open and replaced atomically.
#pragma once

#include "textio/atomicfile.h"
#include "textio/textencoder.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace parvello {

// Writes text to a file in one encoding and replaces the file only when everything is
// written: the bytes go to a temporary file beside the target, which is moved over it at
// commit() (no temporary file is left behind, a failure midway leaves the original as it
// was). A symbolic link stays a link: its target receives the result. A target whose
// attributes say read-only is refused, also for root. A replaced file keeps its permission
// bits and, where the system allows, its owner and group. A result identical, byte for
// byte, to what the target already holds is not written at all, so the file keeps its
// time stamps.
class OutputFile {
public:
    enum class Result { Written, Unchanged };

    OutputFile(QString path, OutputEncoding encoding);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares the target and the temporary file and puts the mark first. Fails when the
    // target is read-only, is a folder, or the temporary file cannot be created.
    void open();
    // Appends the encoding of text. Returns false when the encoding cannot hold some
    // character of it (nothing is then written; see cannotHoldReason()). Fails when a write
    // breaks off.
    bool write(QStringView text);
    // Appends bytes already in the file's encoding. Fails when a write breaks off.
    void writeBytes(QByteArrayView bytes);
    // Moves the complete result over the target, or leaves an identical target alone.
    Result commit();
    // Drops everything written so far; the target stays as it was.
    void discard();

    const QString& targetPath() const { return target_; }
    QString cannotHoldReason() const { return encoder_.cannotHoldReason(); }

    // Bytes gathered before each write to the temporary file.
    static constexpr qsizetype BufferSize = 1 << 18;
    // Text is encoded in slices of at most this many units, so the buffer stays small even
    // for a file that is one long line.
    static constexpr qsizetype SliceUnits = 1 << 16;
    static constexpr qsizetype BufferCapacity = BufferSize + 3 * SliceUnits;

private:
    void flush();

    QString path_;
    QString target_;
    TextEncoder encoder_;
    std::unique_ptr<char[]> buffer_; // BufferCapacity bytes, kept per thread between files
    qsizetype filled_ = 0;
    std::unique_ptr<AtomicFile> save_;
    // The existing target, read alongside to find out whether the result differs from it.
    std::unique_ptr<QFile> existing_;
    QByteArray compareBuffer_;
    // Or the bytes of the target as the reader found them, when it read this very file.
    QByteArray knownBytes_;
    bool useKnownBytes_ = false;
    qsizetype compared_ = 0;
    bool differs_ = true;
    bool opened_ = false;
    bool restoreOwner_ = false;
    unsigned ownerId_ = 0;
    unsigned groupId_ = 0;
    unsigned mode_ = 0;
};

// The file a path finally names: symbolic links are followed, also a dangling one (whose
// target does not exist yet). Other paths come back as they are.
QString ResolveLinks(const QString& path);

} // namespace parvello
