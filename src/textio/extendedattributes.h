// What a file carries besides its bytes and its mode: extended attributes, the access list
// among them.
#pragma once

#include <filesystem>
#include <string>

namespace parvello {

// Gives the open file `to` the extended attributes of the file at `from` (a path with no
// link at its end), its access list included, and takes from `to` an access list that
// `from` does not have (one a folder's default list gave it when it was made). File
// capabilities are not carried over: without them the file only has fewer rights. Returns
// an empty text on success, else why something could not be carried over. Where the system
// has no extended attributes, or the file system keeps none, there is nothing to carry.
std::string CopyExtendedAttributes(const std::filesystem::path& from, int to);
// The same, from the open file `from` (a descriptor): the attributes of exactly the file that
// was read, without a walk along its path.
std::string CopyExtendedAttributes(int from, int to);

} // namespace parvello
