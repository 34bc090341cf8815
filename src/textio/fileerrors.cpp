#include "textio/fileerrors.h"

#include "base/failure.h"

#include <QDir>
#include <QFileInfo>

namespace parvello {

void ThrowOpenFailure(const QFileDevice& file, const QString& path) {
    ThrowOpenFailure(file.errorString(), path);
}

void ThrowOpenFailure(const QString& errorString, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        if (!info.absoluteDir().exists())
            throw Failure(QStringLiteral("Path not found: ") + path, failure_numbers::PathNotFound);
        throw Failure(QStringLiteral("File not found: ") + path, failure_numbers::FileNotFound);
    }
    throw Failure(QStringLiteral("Cannot open ") + path + QStringLiteral(": ") + errorString,
                  failure_numbers::PermissionDenied);
}

void ThrowIoFailure(const QFileDevice& file, const QString& path) {
    ThrowIoFailure(file.errorString(), path);
}

void ThrowIoFailure(const QString& errorString, const QString& path) {
    throw Failure(QStringLiteral("Input/output error on ") + path + QStringLiteral(": ") +
                  errorString);
}

} // namespace parvello

namespace parvello {

QString FileRoutineTag(const char* routine) {
    return ModuleTag(QStringLiteral("RFTSFSO"), QLatin1String(routine));
}

} // namespace parvello
