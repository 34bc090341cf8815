#include "textio/writing.h"

#include "base/failure.h"
#include "base/platform.h"
#include "textio/fileerrors.h"
#include "textio/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace parvello {

namespace {

// Hands the pieces to a file and notes when the encoding refused one.
template <class File> class FileSink final : public PieceSink {
public:
    explicit FileSink(File& file) : file_(file) {}
    bool append(QStringView piece) override {
        if (file_.write(piece))
            return true;
        cannotHold_ = true;
        return false;
    }
    bool appendBytes(QByteArrayView bytes) override {
        file_.writeBytes(bytes);
        return true;
    }
    void restart(OutputEncoding encoding) override { file_.restart(encoding); }
    // After the last piece: false when the text ends with half a surrogate pair.
    bool finish() {
        cannotHold_ = !file_.endText();
        return !cannotHold_;
    }
    bool cannotHold() const { return cannotHold_; }

private:
    File& file_;
    bool cannotHold_ = false;
};

// Runs body; a failure that says the target changed while it was being processed (or that
// another program was writing it) sets result to Changed (or InUse) on its way to the trap.
template <class Body> void watchingChanges(WriteResult& result, Body&& body) {
    try {
        body();
    } catch (const Failure& failure) {
        if (failure.number() == failure_numbers::FileChanged)
            result = WriteResult::Changed;
        else if (failure.number() == failure_numbers::FileInUse)
            result = WriteResult::InUse;
        throw;
    }
}

// A piece appended in place to an existing file (a piece number above 1).
class AppendFile {
public:
    AppendFile(const QString& path, OutputEncoding encoding)
        : path_(path), file_(path), encoder_(encoding) {}

    void open() {
        const QFileInfo info(file_.fileName());
        // Opening a pipe to write would wait for a reader: only a file is appended to.
        if (info.exists() && !info.isFile() && !info.isDir())
            throw Failure(QStringLiteral("Cannot open ") + path_ +
                              QStringLiteral(": it is a pipe, socket or device, not a file"),
                          failure_numbers::PermissionDenied);
        if (info.exists() && (FileAttributes(file_.fileName()) & attributes::ReadOnly))
            throw Failure(QStringLiteral("Permission denied: ") + path_ +
                              QStringLiteral(" is read-only"),
                          failure_numbers::PermissionDenied);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            if (!info.absoluteDir().exists())
                throw Failure(QStringLiteral("Path not found: ") + path_,
                              failure_numbers::PathNotFound);
            throw Failure(QStringLiteral("Cannot open ") + path_ + QStringLiteral(": ") +
                              file_.errorString(),
                          failure_numbers::PermissionDenied);
        }
        // A file that this piece creates begins with the mark; appending adds none.
        if (file_.size() == 0)
            bytes_.append(encoder_.mark());
    }
    bool write(QStringView text) { return encoder_.append(text, bytes_); }
    void writeBytes(QByteArrayView bytes) { bytes_.append(bytes); }
    bool endText() { return true; }
    void restart(OutputEncoding encoding) {
        encoder_ = TextEncoder(encoding);
        bytes_.clear();
        if (file_.size() == 0)
            bytes_.append(encoder_.mark());
    }
    OutputFile::Result commit() {
        if (file_.write(bytes_) != bytes_.size())
            ThrowIoFailure(file_, path_);
        file_.close();
        return OutputFile::Result::Written;
    }
    void discard() { file_.close(); }

private:
    QString path_;
    QFile file_;
    TextEncoder encoder_;
    QByteArray bytes_;
};

WriteResult resultOf(OutputFile::Result result) {
    return result == OutputFile::Result::Unchanged ? WriteResult::Unchanged : WriteResult::Written;
}

// The lines of the two writers: the numbers users see in the "Application Error" box
// ("in ...RFTSFSO.<writer> at line N") when a step fails. Keep each number. A step with
// nothing to do on this system (a service to create or release, a setting it does not
// need) stays, empty, for its line.
struct AppendLines { // AppendStringFSO
    enum : int {
        CreateService = 102,
        AppendTest = 104,
        OpenToAppend = 106,
        OpenToReplace = 108,
        Write = 116,
        Close = 124,
        ReleaseStream = 126,
        ReleaseService = 128,
    };
};
struct Utf8WriteLines { // WriteFileToStringUTF
    enum : int {
        CreateService = 100,
        Charset = 102,
        Open = 104,
        WriteText = 106,
        Save = 108,
        Close = 110,
        Release = 112,
    };
};

// The steps of AppendStringFSO for one output file, given whole (replacing) or as one
// piece to append. Each failure is reported once: after a failed open nothing is written
// and nothing is closed.
WriteResult appendSteps(const QString& path, OutputEncoding encoding, const TextPieces& text,
                        int pieceNumber, Prompts& prompts, const OutputTarget& where = {}) {
    Trap trap(prompts, FileRoutineTag("AppendStringFSO"));
    std::optional<OutputFile> replacing;
    std::optional<AppendFile> appending;
    bool opened = false;
    bool written = false;
    WriteResult result = WriteResult::Failed;

    const auto writeAll = [&](auto& file) {
        FileSink sink(file);
        if (text(sink) && sink.finish()) {
            written = true;
        } else if (sink.cannotHold()) {
            file.discard();
            result = WriteResult::CannotHold;
        }
    };

    trap.step(AppendLines::CreateService, [] {}); // no service to create: the file is opened below
    if (trap.test(AppendLines::AppendTest, [&] { return pieceNumber > 1; })) {
        trap.step(AppendLines::OpenToAppend, [&] {
            appending.emplace(path, encoding);
            appending->open();
            opened = true;
        });
    } else {
        trap.step(AppendLines::OpenToReplace, [&] {
            replacing.emplace(path, encoding, where);
            watchingChanges(result, [&] { replacing->open(); });
            opened = true;
        });
    }
    if (opened)
        trap.step(AppendLines::Write, [&] {
            if (appending)
                writeAll(*appending);
            else
                writeAll(*replacing);
        });
    bool refused = false;
    if (written)
        trap.step(AppendLines::Close, [&] {
            watchingChanges(result, [&] {
                const OutputFile::Result done =
                    appending ? appending->commit() : replacing->commit();
                refused = done == OutputFile::Result::Refused;
                if (!refused)
                    result = resultOf(done);
            });
        });
    // A read-only target is refused as its open would be, once it is known to differ.
    if (refused)
        trap.step(AppendLines::OpenToReplace, [&] { replacing->refuse(); });
    // The stream and its service are released with the objects above.
    trap.step(AppendLines::ReleaseStream, [] {});
    trap.step(AppendLines::ReleaseService, [] {});
    return result;
}

TextPieces onePiece(QStringView text) {
    return [text](PieceSink& sink) { return sink.append(text); };
}

} // namespace

WriteResult WriteFileToStringUTF(const QString& path, QStringView text, Prompts& prompts) {
    return WriteFileToStringUTF(path, onePiece(text), prompts);
}

WriteResult WriteFileToStringUTF(const QString& path, const TextPieces& text, Prompts& prompts,
                                 const OutputTarget& where) {
    Trap trap(prompts, FileRoutineTag("WriteFileToStringUTF"));
    WriteResult result = WriteResult::Failed;
    // No service to create, no charset to set and nothing to open: the output file is
    // prepared, written and saved in one step at Save, which encodes as it goes.
    trap.step(Utf8WriteLines::CreateService, [] {});
    trap.step(Utf8WriteLines::Charset, [] {});
    trap.step(Utf8WriteLines::Open, [] {});
    trap.step(Utf8WriteLines::WriteText, [] {});
    trap.step(Utf8WriteLines::Save, [&] {
        watchingChanges(result, [&] {
            OutputFile file(path, OutputEncoding::Utf8WithMark, where);
            file.open();
            FileSink sink(file);
            if (!text(sink) || !sink.finish()) {
                if (sink.cannotHold())
                    result = WriteResult::CannotHold;
            } else if (const OutputFile::Result done = file.commit();
                       done == OutputFile::Result::Refused) {
                file.refuse();
            } else {
                result = resultOf(done);
            }
        });
    });
    // The file was closed when it was saved; nothing is left to release.
    trap.step(Utf8WriteLines::Close, [] {});
    trap.step(Utf8WriteLines::Release, [] {});
    return result;
}

WriteResult AppendStringFSO(QStringView text, const QString& path, int pieceNumber,
                            OutputEncoding encoding, Prompts& prompts) {
    return appendSteps(path, encoding, onePiece(text), pieceNumber, prompts);
}

WriteResult WritePiecesFSO(const QString& path, OutputEncoding encoding, const TextPieces& text,
                           Prompts& prompts, const OutputTarget& where) {
    return appendSteps(path, encoding, text, 1, prompts, where);
}

} // namespace parvello
