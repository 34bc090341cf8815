#pragma once

#include <QCursor>
#include <QString>

namespace parvello {

// Loads a Windows cursor (.cur) or icon (.ico) file as a pointer. For a cursor file the hot
// spot comes from the file; for an icon it is the image's centre. Fails (Failure) when the
// file cannot be read as an image.
QCursor LoadCursorFile(const QString& path);

} // namespace parvello
