#include "app/cursorfile.h"

#include "base/failure.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

namespace parvello {

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot open the pointer file ") + path,
                      failure_numbers::FileNotFound);
    QByteArray bytes = file.readAll();
    // Header: reserved, type (1 icon, 2 cursor), count; then 16-byte entries whose
    // fields 4..7 are the hot spot in a cursor file.
    if (bytes.size() < 22 || qFromLittleEndian<quint16>(bytes.constData()) != 0)
        throw Failure(QStringLiteral("Invalid picture: ") + path, 481);
    const quint16 type = qFromLittleEndian<quint16>(bytes.constData() + 2);
    int hotX = -1;
    int hotY = -1;
    if (type == 2) {
        hotX = qFromLittleEndian<quint16>(bytes.constData() + 10);
        hotY = qFromLittleEndian<quint16>(bytes.constData() + 12);
        // The image decoder reads icons; a cursor differs only in its type field.
        bytes[2] = 1;
        bytes[10] = 1;
        bytes[11] = 0;
        bytes[12] = 32;
        bytes[13] = 0;
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull())
        throw Failure(QStringLiteral("Invalid picture: ") + path, 481);
    if (hotX >= image.width() || hotY >= image.height())
        hotX = hotY = -1;
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

} // namespace parvello
