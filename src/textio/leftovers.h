// Temporary files of the atomic writer, and the clean-up of those that a run which was
// killed before it could rename them left behind.
#pragma once

#include <filesystem>
#include <string_view>

namespace parvello {

// A fresh name for a temporary file in the folder of `target`: ".~pv", the writing
// process's id, "-" and six random letters or digits. Short, so that it fits wherever the
// target's own name fits, and recognisable as ours.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target);
// The same name as the system's text of the path.
std::filesystem::path::string_type TemporaryTextBeside(const std::filesystem::path& target);

// Removes, from the folder of `target`, the temporary files of ours whose writing process
// no longer runs. Each folder is looked at once per process; files of a run still going on,
// files of other users and every file not named as ours are left alone.
void RemoveLeftoversBeside(const std::filesystem::path& target);

// Whether a name is one that TemporaryNameBeside gives, and the process id in it.
bool IsOwnTemporaryName(std::string_view name, long long* processId = nullptr);

} // namespace parvello
