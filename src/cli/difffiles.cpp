// The two texts of a file's diff, each read as lines block by block: the source as the
// engine read it, and its result in the encoding it was written in.
#include "base/failure.h"
#include "base/qtpaths.h"
#include "cli/unifieddiff.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/textsource.h"

#include <QFile>
#include <QStringDecoder>

namespace parvello {

namespace {

// A source file decoded block by block, as the engine reads it.
class SourceText : public DiffText {
public:
    SourceText(const QString& path, SourceFormat format) : read_(ToPath(path), false) {
        if (!read_.failed() && format == SourceFormat::CodePage && !read_.fileIsUtf8() &&
            !read_.fileIsUnicode())
            read_.blocks().restartAsCodePage();
    }
    bool next(QStringView& block) override {
        for (;;) {
            const SourceBlocks::Next next = read_.next();
            if (read_.failed())
                throw Failure(QStringLiteral("it could not be read again for its diff (%1)")
                                  .arg(ToQString(read_.failure().description)));
            switch (next) {
            case SourceBlocks::Next::Block:
                block = read_.blocks().units();
                if (block.isEmpty())
                    continue;
                return true;
            case SourceBlocks::Next::End:
                return false;
            case SourceBlocks::Next::Restart: // not as the engine found it
            case SourceBlocks::Next::NotText:
                throw Failure(QStringLiteral("it changed while it was being processed"));
            }
        }
    }

private:
    SourceReader read_;
};

// A result file decoded block by block from the encoding it was written in.
class ResultText : public DiffText {
public:
    ResultText(const QString& path, OutputEncoding encoding)
        : file_(path), encoding_(encoding), bytes_(1 << 18, Qt::Uninitialized) {
        if (!file_.open(QIODevice::ReadOnly))
            throw Failure(
                QStringLiteral("its result could not be read (%1)").arg(file_.errorString()));
        qsizetype mark = 0;
        if (encoding == OutputEncoding::Utf8WithMark)
            mark = 3;
        else if (encoding == OutputEncoding::Utf16LE)
            mark = 2;
        file_.read(bytes_.data(), mark);
        if (encoding == OutputEncoding::Utf16LE)
            decoder_ = QStringDecoder(QStringConverter::Utf16LE,
                                      QStringConverter::Flag::ConvertInitialBom);
    }
    bool next(QStringView& block) override {
        const qint64 got = file_.read(bytes_.data(), bytes_.size());
        if (got < 0)
            throw Failure(
                QStringLiteral("its result could not be read (%1)").arg(file_.errorString()));
        if (got == 0)
            return false;
        const QByteArrayView bytes(bytes_.constData(), got);
        if (encoding_ == OutputEncoding::CodePage) {
            units_.resize(got);
            CodePage::ansi().decode(bytes.data(), got, reinterpret_cast<char16_t*>(units_.data()));
        } else {
            units_ = decoder_(bytes);
        }
        block = units_;
        return true;
    }

private:
    QFile file_;
    OutputEncoding encoding_;
    QByteArray bytes_;
    QString units_;
    QStringDecoder decoder_{QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom};
};

} // namespace

bool WriteFileDiff(const QString& label, const QString& sourcePath, SourceFormat format,
                   const QString& resultPath, OutputEncoding encoding, bool colour,
                   const std::function<bool(QByteArrayView)>& write, const DiffLimits& limits) {
    SourceText source(sourcePath, format);
    ResultText result(resultPath, encoding);
    return WriteUnifiedDiff(source, result, {label, label, colour}, write, limits);
}

} // namespace parvello
