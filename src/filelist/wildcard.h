// The name patterns of the folder scan ("*.txt", "Makefile.*"), matched the way the lists
// have always matched them: on the name's UTF-16 units, letter case ignored.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace parvello {

// Whether `name` matches `pattern`: `*` stands for any run of units (none included), `?`
// for exactly one, every other unit for itself with letter case ignored (Unicode simple
// case folding); brackets and the rest are plain. A pattern ending in ".*" also matches a
// name without any extension, so "*.*" matches every name.
bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern);

// The same for a name as the system holds it. On Unix its bytes are read as UTF-8 for the
// comparison; a byte that is not part of a UTF-8 character stands for one unit U+FFFD, so
// such a name still matches `*` and whatever else it matches character by character.
bool MatchesWildcard(const std::filesystem::path& name, std::u16string_view pattern);

// The name as UTF-16 for the comparison above (odd bytes as U+FFFD on Unix).
std::u16string NameUnits(const std::filesystem::path& name);

// The simple case folding of one UTF-16 unit; a unit without one is itself.
char16_t FoldedUnit(char16_t unit);

} // namespace parvello
