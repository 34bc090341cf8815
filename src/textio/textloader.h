// Loading a whole file into one text, as the two line readers need it.
#pragma once

#include "textio/linearray.h"
#include "textio/textsource.h"

#include <string>

namespace parvello {

struct LoadedText {
    std::u16string text;
    // Instead of text, for LineForm::Bytes where the encoding allows it: the file's bytes
    // after its mark, checked to be text in format.
    bool inBytes = false;
    std::string bytes;
    SourceFormat format = SourceFormat::CodePage;
    std::string notText; // non-empty when the bytes are not text in their encoding (UTF-8)
};

// Reads the rest of an open source whole (its blocks joined) and decodes it. Fails when a
// read breaks off; bytes that are not text are not a failure but are named in
// LoadedText::notText. With LineForm::Bytes a file in UTF-8 or in an ASCII-compatible code
// page is checked but not decoded (LoadedText::inBytes).
LoadedText LoadText(SourceFile& source, LoadAs how, LineForm form = LineForm::Text);

} // namespace parvello
