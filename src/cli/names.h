// Names as parvello-cli holds and shows them: a path is the name's own bytes on Unix (never
// turned into text and back, so a name that is not UTF-8 is opened exactly as given) and
// its UTF-16 units on Windows; a name is shown as its bytes made printable.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace parvello::cli {

// The bytes of a name: on Unix the name itself; on Windows its UTF-16 units in UTF-8, an
// unpaired surrogate (which Windows allows in names) as the three bytes it would take,
// which are not valid UTF-8 and so are shown escaped.
std::string NameBytes(const std::filesystem::path& path);

// The path of a command-line argument or a listed name given as those bytes (NameBytes
// backwards).
std::filesystem::path PathOfBytes(std::string_view bytes);

// A name as every line the program prints shows it (PrintableName of its bytes).
std::string PrintablePath(const std::filesystem::path& path);

// A name as --report json gives it: its bytes when they are valid UTF-8 (the JSON holds
// the name itself); else the printable form the lines on standard error show, between
// double quotes with every byte that is not UTF-8 in octal ("\"caf\\351.txt\""), so that
// the report never holds invalid UTF-8 and names the file as standard error does.
std::string JsonName(const std::filesystem::path& path);

} // namespace parvello::cli
