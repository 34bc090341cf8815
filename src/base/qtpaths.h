#pragma once

// Where the window (Qt) meets the engine (plain C++): a path as the window holds it
// (QString) and as the engine holds it (std::filesystem::path: the bytes of the name on
// Unix, its UTF-16 units on Windows), and texts the engine reports in UTF-8.

#include <QFile>
#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace parvello {

// The path the engine opens for a name the window holds. On Unix the name's bytes are those
// Qt would pass to the system (QFile::encodeName), so both open the same file.
inline std::filesystem::path ToPath(const QString& name) {
#ifdef Q_OS_WIN
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

// The name the window shows and passes on for a path of the engine (QFile::decodeName on
// Unix, so that ToPath gives the same path back for every name Qt can hold).
inline QString ToQString(const std::filesystem::path& path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

// A text the engine reports (UTF-8) as the window shows it.
inline QString ToQString(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
inline QString ToQString(const std::string& utf8) {
    return ToQString(std::string_view(utf8));
}
inline QString ToQString(const char* utf8) {
    return ToQString(std::string_view(utf8));
}

} // namespace parvello
