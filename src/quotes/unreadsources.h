// Keeping a run from replacing a listed file before the row that lists it has read it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

namespace parvello {

// Which file a path names, as the system resolves it (links followed): its device and
// inode, or where the platform has none, its canonical path (UTF-8). Empty when nothing is
// there.
std::string PathIdentity(const std::filesystem::path& path);

// Why a row was left untouched when its result would replace a file a later row reads.
std::string ReplacesUnreadFileReason();

// The files that rows of a run still have to read, counted by identity, so that a link to
// a listed file or another spelling of its path counts as that file. Made once per run
// from every row's source (one look at each); each row then asks before it is processed.
class UnreadSources {
public:
    explicit UnreadSources(const std::vector<std::string>& sourceIdentities);

    // A row begins: its source is read now. Returns whether its result, written over the
    // file of identity output (empty: nothing is there), would replace a file that a later
    // row still has to read. The row's own source never counts: in place the output is the
    // source, and a file listed twice is processed twice.
    bool wouldReplaceUnread(const std::string& source, const std::string& output);
    // Whether some later row still has to read the file of this identity.
    bool isUnread(const std::string& identity) const {
        return unread_.count(listed(identity)) != 0;
    }
    // A row's result replaced the file `before` by the new file `after` under the same name:
    // the rows still to read `before` read `after` now.
    void replaced(const std::string& before, const std::string& after);

private:
    // The identity under which a file was listed when the run began.
    const std::string& listed(const std::string& identity) const {
        const auto it = listedAs_.find(identity);
        return it != listedAs_.end() ? it->second : identity;
    }

    std::unordered_map<std::string, std::ptrdiff_t> unread_; // listed identity -> rows to read it
    std::unordered_map<std::string, std::string> listedAs_;  // replacement -> listed identity
};

// For the rows of a run that has not begun (identities of sources and outputs, in list
// order): whether each row's result would replace a file that a later row still has to
// read. Such a row is left untouched; the later row then runs as usual.
std::vector<bool> RowsReplacingUnreadFiles(const std::vector<std::string>& sources,
                                           const std::vector<std::string>& outputs);

} // namespace parvello
