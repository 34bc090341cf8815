#include "app/runtexts.h"

#include "base/pathhelpers.h"

namespace parvello {

QString ProgressText(const QString& sourcePath) {
    QString text = QStringLiteral("Processing: ") + NameAfterLastSlash(sourcePath);
    return text.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

QString UntouchedSummary(const QList<Untouched>& files) {
    QString text = files.size() == 1
                       ? QStringLiteral("1 file was left untouched:")
                       : QStringLiteral("%1 files were left untouched:").arg(files.size());
    for (std::ptrdiff_t i = 0; i < files.size() && i < SummaryNames; ++i)
        text += QStringLiteral("\r\n") + files[i].path + QStringLiteral(": ") + files[i].reason;
    if (files.size() > SummaryNames)
        text += QStringLiteral("\r\n... and %1 more.").arg(files.size() - SummaryNames);
    return text;
}

} // namespace parvello
