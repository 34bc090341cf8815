#include "base/printablename.h"

#include "base/printabletext.h"

#include <QFile>

namespace parvello {

namespace {

std::string_view viewOf(QByteArrayView bytes) {
    return std::string_view(bytes.data(), size_t(bytes.size()));
}

} // namespace

qsizetype Utf8SequenceAt(QByteArrayView bytes, char32_t& code) {
    return qsizetype(Utf8SequenceAt(viewOf(bytes), code));
}

QString PrintableName(QByteArrayView name) {
    return QString::fromStdString(PrintableName(viewOf(name)));
}

QString PrintablePath(const QString& path) {
    return PrintableName(QByteArrayView(QFile::encodeName(path)));
}

QString PrintableLine(const QString& line) {
    return QString::fromStdString(PrintableLine(line.toStdString()));
}

} // namespace parvello
