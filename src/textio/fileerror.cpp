#include "textio/fileerror.h"

#include <QDir>
#include <QFileInfo>

#include <new>

namespace parvello {

FileError::FileError(FileProblem problem, const QString& description, const QString& reason)
    : std::runtime_error(description.toStdString()), problem_(problem), description_(description),
      reason_(reason.isEmpty() ? description : reason) {}

void ThrowOpenFailure(const QFileDevice& file, const QString& path) {
    ThrowOpenFailure(file.errorString(), path);
}

void ThrowOpenFailure(const QString& errorString, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        const QString missing = QStringLiteral("No such file or directory");
        if (!info.absoluteDir().exists())
            throw FileError(FileProblem::PathNotFound, QStringLiteral("Path not found: ") + path,
                            missing);
        throw FileError(FileProblem::FileNotFound, QStringLiteral("File not found: ") + path,
                        missing);
    }
    throw FileError(FileProblem::Denied,
                    QStringLiteral("Cannot open ") + path + QStringLiteral(": ") + errorString,
                    errorString);
}

void ThrowIoFailure(const QFileDevice& file, const QString& path) {
    ThrowIoFailure(file.errorString(), path);
}

void ThrowIoFailure(const QString& errorString, const QString& path) {
    throw FileError(FileProblem::InputOutput,
                    QStringLiteral("Input/output error on ") + path + QStringLiteral(": ") +
                        errorString,
                    errorString);
}

FileFailure FailureOf(FileStep step, std::exception_ptr error) {
    FileFailure failure;
    failure.step = step;
    try {
        std::rethrow_exception(std::move(error));
    } catch (const FileError& e) {
        failure.problem = e.problem();
        failure.description = e.description();
        failure.reason = e.reason();
    } catch (const std::bad_alloc&) {
        failure.description = QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        failure.description = QString::fromLocal8Bit(e.what());
    } catch (...) {
        failure.description = QStringLiteral("Unknown failure");
    }
    if (failure.reason.isEmpty())
        failure.reason = failure.description;
    return failure;
}

} // namespace parvello
