#include "quotes/unreadsources.h"

#include "base/filestatus.h"
#include "base/qtpaths.h"

#include <QFileInfo>

namespace parvello {

QString PathIdentity(const QString& path) {
    if (path.isEmpty())
        return {};
#ifdef Q_OS_UNIX
    const FileStatus status = FileStatus::Of(ToPath(path));
    return status.exists() ? ToQString(status.id.text()) : QString();
#else
    return QFileInfo(path).canonicalFilePath();
#endif
}

QString ReplacesUnreadFileReason() {
    return QStringLiteral("its result would replace a listed file that has not been processed yet");
}

UnreadSources::UnreadSources(const QStringList& sourceIdentities) {
    unread_.reserve(sourceIdentities.size());
    for (const QString& identity : sourceIdentities)
        if (!identity.isEmpty())
            ++unread_[identity];
}

bool UnreadSources::wouldReplaceUnread(const QString& source, const QString& output) {
    const QString reading = listed(source);
    if (const auto it = unread_.find(reading); it != unread_.end() && --*it == 0)
        unread_.erase(it);
    const QString replacing = listed(output);
    return !replacing.isEmpty() && replacing != reading && unread_.contains(replacing);
}

void UnreadSources::replaced(const QString& before, const QString& after) {
    if (!before.isEmpty() && !after.isEmpty() && before != after)
        listedAs_.insert(after, listed(before));
}

std::vector<bool> RowsReplacingUnreadFiles(const QStringList& sources, const QStringList& outputs) {
    UnreadSources unread(sources);
    std::vector<bool> rows(size_t(sources.size()), false);
    for (std::ptrdiff_t i = 0; i < sources.size() && i < outputs.size(); ++i)
        rows[size_t(i)] = unread.wouldReplaceUnread(sources[i], outputs[i]);
    return rows;
}

} // namespace parvello
