#include "textio/textloader.h"

namespace parvello {

LoadedText LoadText(SourceFile& source, LoadAs how, LineForm form) {
    LoadedText loaded;
    SourceBlocks blocks(source, how, form == LineForm::Bytes);
    loaded.inBytes = blocks.inBytes();
    for (;;) {
        switch (blocks.next()) {
        case SourceBlocks::Next::Block:
            if (loaded.inBytes)
                loaded.bytes.append(blocks.bytes());
            else
                loaded.text.append(blocks.units());
            break;
        case SourceBlocks::Next::Restart:
            loaded.bytes.clear();
            loaded.text.clear();
            break;
        case SourceBlocks::Next::NotText:
            loaded.notText = blocks.notText();
            loaded.inBytes = false;
            loaded.bytes.clear();
            loaded.text.clear();
            loaded.format = blocks.format();
            return loaded;
        case SourceBlocks::Next::End:
            loaded.format = blocks.format();
            return loaded;
        }
    }
}

} // namespace parvello
