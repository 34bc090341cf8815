// The writers as the window calls them: a piece number that replaces or appends, and each
// failure of the output shown once, in the box of the routine and line the window has always
// named. The bytes the writers write are the engine's, tested in tests/textio/tst_writing.
#include "app/fileboxes.h"
#include "base/failure.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "textio/writing.h"

#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

namespace {

QString appendTag() {
    return ModuleTag(QStringLiteral("RFTSFSO"), QStringLiteral("AppendStringFSO"));
}

TextPieces pieces(const QStringList& list) {
    return [list](PieceSink& sink) {
        for (const QString& piece : list)
            if (!sink.append(piece.toStdU16String()))
                return false;
        return true;
    };
}

} // namespace

class TestFileBoxes : public QObject {
    Q_OBJECT

private slots:
    void pieceNumbers() {
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", "old content");
        AppendInEncoding(u"x", path, 0, OutputEncoding::CodePage, prompts);
        QCOMPARE(ReadBytes(path), QByteArray("x"));
        AppendInEncoding(u"y", path, -3, OutputEncoding::CodePage, prompts);
        QCOMPARE(ReadBytes(path), QByteArray("y"));
        // Piece 2 on a missing file creates it, with the mark since the file is new.
        const QString missing = folder.path("missing");
        AppendInEncoding(u"z", missing, 2, OutputEncoding::Utf16LE, prompts);
        QCOMPARE(ReadBytes(missing), QByteArray("\xFF\xFEz\x00", 4));
        QCOMPARE(prompts.calls.size(), 0);
    }

    // Attribute based, so it holds for root too; reported once, at the open.
    void readOnlyTargetIsRefused() {
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("ro.txt", "keep");
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        QCOMPARE(WriteInEncoding(path, OutputEncoding::CodePage, pieces({"new"}), prompts),
                 WriteResult::Failed);
        QCOMPARE(ReadBytes(path), QByteArray("keep"));
        const QStringList boxes = prompts.errorTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains("in " + appendTag() + " at line 108"), qPrintable(boxes[0]));
        QCOMPARE(folder.entries(), QStringList{"ro.txt"});
    }

    void missingFolderIsReportedOnce() {
        TempFolder folder;
        FakePrompts prompts;
        QCOMPARE(WriteUtf8WithMark(folder.path("no/such/f"), u"x", prompts), WriteResult::Failed);
        const QStringList boxes = prompts.errorTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("Path not found: "));
        QVERIFY(boxes[0].contains(" at line 108\r\r"));
    }

    void unwritableFolderIsReported() {
        TempFolder folder;
        const QString sub = folder.path("locked");
        QVERIFY(QDir().mkdir(sub));
        QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadOther | QFileDevice::ExeOther |
                                       QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        const int status = RunUnprivileged([&] {
            FakePrompts prompts;
            const WriteResult result =
                WriteInEncoding(sub + "/f", OutputEncoding::CodePage, pieces({"x"}), prompts);
            return result == WriteResult::Failed && prompts.errorTexts().size() == 1 ? 0 : 1;
        });
        QCOMPARE(status, 0);
        QVERIFY(!QFile::exists(sub + "/f"));
    }
};

QTEST_GUILESS_MAIN(TestFileBoxes)
#include "tst_fileboxes.moc"
