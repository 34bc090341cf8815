#include "quotes/unreadsources.h"

#include "base/filestatus.h"
#include "base/portable.h"

#include <system_error>
#include <utility>

namespace parvello {

std::string PathIdentity(const std::filesystem::path& path) {
    if (path.empty())
        return {};
#if defined(PARVELLO_OS_UNIX)
    const FileStatus status = FileStatus::Of(path);
    return status.exists() ? status.id.text() : std::string();
#else
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(path, error);
    if (error)
        return {};
    const std::u8string utf8 = canonical.generic_u8string();
    return std::string(utf8.begin(), utf8.end());
#endif
}

std::string ReplacesUnreadFileReason() {
    return "its result would replace a listed file that has not been processed yet";
}

UnreadSources::UnreadSources(const std::vector<std::string>& sourceIdentities) {
    unread_.reserve(sourceIdentities.size());
    for (const std::string& identity : sourceIdentities)
        if (!identity.empty())
            ++unread_[identity];
}

bool UnreadSources::wouldReplaceUnread(const std::string& source, const std::string& output) {
    const std::string reading = listed(source);
    if (const auto it = unread_.find(reading); it != unread_.end() && --it->second == 0)
        unread_.erase(it);
    const std::string& replacing = listed(output);
    return !replacing.empty() && replacing != reading && unread_.count(replacing) != 0;
}

void UnreadSources::replaced(const std::string& before, const std::string& after) {
    if (!before.empty() && !after.empty() && before != after) {
        std::string original = listed(before);
        listedAs_.insert_or_assign(after, std::move(original));
    }
}

std::vector<bool> RowsReplacingUnreadFiles(const std::vector<std::string>& sources,
                                           const std::vector<std::string>& outputs) {
    UnreadSources unread(sources);
    std::vector<bool> rows(sources.size(), false);
    for (size_t i = 0; i < sources.size() && i < outputs.size(); ++i)
        rows[i] = unread.wouldReplaceUnread(sources[i], outputs[i]);
    return rows;
}

} // namespace parvello
