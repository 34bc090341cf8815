// Names and lines as the program prints them, in plain C++: always on one line, and never
// able to move the cursor, clear the screen or set the clipboard of the terminal that shows
// them. Shared by the window (base/printablename.h wraps it for its texts) and parvello-cli.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace parvello {

// The length of the valid UTF-8 sequence at the start of `bytes` (not empty), with the code
// point it stands for; 0 when it is not one (overlong forms, surrogates and code points
// beyond U+10FFFF are not valid).
std::ptrdiff_t Utf8SequenceAt(std::string_view bytes, char32_t& code);

// Whether every byte belongs to a valid UTF-8 sequence.
bool IsValidUtf8(std::string_view bytes);

// A name's bytes for printing, in UTF-8. A name that holds a control character (C0, DEL, or
// C1 as UTF-8, U+0080..U+009F), bytes that are not valid UTF-8, or that begins with a double
// quote, is printed between double quotes with C escapes: \a \b \t \n \v \f \r \" \\ and
// three octal digits for every other such byte ("a\nb.txt", "caf\351.txt"). Every other
// name is returned as it is, without quotes.
std::string PrintableName(std::string_view name);

// A line of text for printing (a message that may quote a name the program could not pick
// out): every control character in it, and every byte that is not part of valid UTF-8, is
// replaced by its escape, as inside a quoted name, so that the line stays one harmless line
// of UTF-8. Nothing else changes.
std::string PrintableLine(std::string_view line);

// A name's bytes for showing: valid UTF-8 as its characters, every other byte as \xHH
// ("caf\xE9.txt").
std::string EscapedName(std::string_view name);

// UTF-8 as UTF-16; each byte that is not part of a valid sequence becomes U+FFFD.
std::u16string Utf16Of(std::string_view utf8);

// One code point as UTF-8 (a surrogate, too, as three bytes).
void AppendUtf8(std::string& out, char32_t code);

// UTF-16 as UTF-8; each unpaired surrogate becomes "?".
std::string Utf8Of(std::u16string_view units);

} // namespace parvello
