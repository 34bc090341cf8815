// The two texts of a file's diff, each read as lines block by block: the source as the
// engine read it, and its result in the encoding it was written in.
#include "cli/unifieddiff.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/readonlyfile.h"
#include "textio/textscan.h"
#include "textio/textsource.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace parvello {

namespace {

// A source file decoded block by block, as the engine reads it.
class SourceText : public DiffText {
public:
    SourceText(const std::filesystem::path& path, SourceFormat format) : read_(path, false) {
        if (!read_.failed() && format == SourceFormat::CodePage && !read_.fileIsUtf8() &&
            !read_.fileIsUnicode())
            read_.blocks().restartAsCodePage();
    }
    bool next(std::u16string_view& block) override {
        for (;;) {
            const SourceBlocks::Next next = read_.next();
            if (read_.failed())
                throw DiffFailure("it could not be read again for its diff (" +
                                  read_.failure().description + ")");
            switch (next) {
            case SourceBlocks::Next::Block:
                block = read_.blocks().units();
                if (block.empty())
                    continue;
                return true;
            case SourceBlocks::Next::End:
                return false;
            case SourceBlocks::Next::Restart: // not as the engine found it
            case SourceBlocks::Next::NotText:
                throw DiffFailure("it changed while it was being processed");
            }
        }
    }

private:
    SourceReader read_;
};

// A result file decoded block by block from the encoding it was written in.
class ResultText : public DiffText {
public:
    ResultText(const std::filesystem::path& path, OutputEncoding encoding)
        : file_(path), encoding_(encoding), bytes_(std::make_unique_for_overwrite<char[]>(Block)),
          units_(std::make_unique_for_overwrite<char16_t[]>(Block + Utf8Decoder::Slack)) {
        if (!file_.open())
            throw DiffFailure("its result could not be read (" + file_.errorString() + ")");
        std::int64_t mark = 0;
        if (encoding == OutputEncoding::Utf8WithMark)
            mark = 3;
        else if (encoding == OutputEncoding::Utf16LE)
            mark = 2;
        if (mark > 0 && file_.read(bytes_.get(), mark) < 0)
            throw DiffFailure("its result could not be read (" + file_.errorString() + ")");
        utf8_.keepLeadingMark(); // the mark was taken off: a second one is text
    }
    bool next(std::u16string_view& block) override {
        const std::int64_t got = file_.read(bytes_.get(), Block);
        if (got < 0)
            throw DiffFailure("its result could not be read (" + file_.errorString() + ")");
        if (got == 0)
            return false;
        char16_t* end = units_.get();
        switch (encoding_) {
        case OutputEncoding::CodePage:
            CodePage::ansi().decode(bytes_.get(), got, units_.get());
            end += got;
            break;
        case OutputEncoding::Utf16LE: {
            // A unit cut in two by the block's end waits for its second byte.
            std::ptrdiff_t at = 0;
            if (odd_) {
                *end++ = char16_t(std::uint8_t(*odd_) | std::uint8_t(bytes_[0]) << 8);
                odd_.reset();
                at = 1;
            }
            const std::ptrdiff_t whole = (got - at) / 2;
            DecodeUtf16Units(bytes_.get() + at, whole, false, end);
            end += whole;
            if ((got - at) % 2 != 0)
                odd_ = bytes_[size_t(got - 1)];
            break;
        }
        default:
            end = utf8_.decode(bytes_.get(), got, units_.get());
            if (!end)
                throw DiffFailure("it changed while it was being processed");
        }
        block = std::u16string_view(units_.get(), size_t(end - units_.get()));
        return true;
    }

private:
    static constexpr std::int64_t Block = 1 << 18;

    ReadOnlyFile file_;
    OutputEncoding encoding_;
    std::unique_ptr<char[]> bytes_;
    std::unique_ptr<char16_t[]> units_;
    Utf8Decoder utf8_;
    std::optional<char> odd_;
};

} // namespace

bool WriteFileDiff(const std::string& label, const std::filesystem::path& sourcePath,
                   SourceFormat format, const std::filesystem::path& resultPath,
                   OutputEncoding encoding, bool colour,
                   const std::function<bool(std::string_view)>& write, const DiffLimits& limits) {
    SourceText source(sourcePath, format);
    ResultText result(resultPath, encoding);
    return WriteUnifiedDiff(source, result, {label, label, colour}, write, limits);
}

} // namespace parvello
