#include "quotes/outputpath.h"

#include "base/separators.h"

namespace parvello {

QString OutputPathFor(const QString& sourcePath, SaveChoice choice, const QString& folderText,
                      PathStyle style, PathLength length) {
    const QChar separator = Separator(style);
    if (choice == SaveChoice::BesideOriginal) // the source's own path
        return CollapseBackslashes(
            FolderOfPath(sourcePath, style) + separator + FileNameOfPath(sourcePath, style), style);
    if (length == PathLength::WindowLimit)
        FileNameOfPath(sourcePath, style); // fails with an overflow past the window's limit
    const auto units = [](const QString& text) {
        return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                   size_t(text.size()));
    };
    return QString::fromStdU16String(PathInFolder(units(folderText), units(sourcePath), style));
}

} // namespace parvello
