// Failures of file operations, with descriptions a person can act on.
#pragma once

#include <QFileDevice>
#include <QString>

namespace parvello {

// Throws the failure for a file that could not be opened: "File not found", "Path not
// found", "Permission denied", or the system's own description.
[[noreturn]] void ThrowOpenFailure(const QFileDevice& file, const QString& path);
// The same with the system's description of why the file did not open.
[[noreturn]] void ThrowOpenFailure(const QString& errorString, const QString& path);

// Throws the failure for a read or write that broke off.
[[noreturn]] void ThrowIoFailure(const QFileDevice& file, const QString& path);
// The same with the system's description of what went wrong.
[[noreturn]] void ThrowIoFailure(const QString& errorString, const QString& path);

// The location tag of one of the file routines of the RFTSFSO module: the text of
// ModuleTag("RFTSFSO", routine).
QString FileRoutineTag(const char* routine);

} // namespace parvello
