#include "app/fileboxes.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "textio/codepage.h"
#include "textio/writing.h"

#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace parvello;
using namespace parvello::testing;

Q_DECLARE_METATYPE(parvello::OutputEncoding)

namespace {

ino_t inodeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

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

class TestWriting : public QObject {
    Q_OBJECT

private slots:
    void utf8WriterBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty text: the mark alone") << QString() << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("written as given") << QStringLiteral("\u201Ca\u201D\r\n\n")
                                          << QByteArray("\xEF\xBB\xBF\xE2\x80\x9C"
                                                        "a\xE2\x80\x9D\r\n\n");
    }
    void utf8WriterBytes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("out.txt", "an older and longer content");
        QCOMPARE(WriteUtf8WithMark(path, text, prompts), WriteResult::Written);
        QCOMPARE(ReadBytes(path), bytes);
        QCOMPARE(prompts.calls.size(), 0);
    }

    // Pieces appended one call at a time, and the whole file written with one open, give
    // the same bytes; the mark comes once.
    void piecesAndAppendsAgree_data() {
        QTest::addColumn<OutputEncoding>("encoding");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("code page") << OutputEncoding::CodePage << QByteArray("a\x93\r\nb\r\n\r\n");
        QTest::newRow("UTF-16 LE")
            << OutputEncoding::Utf16LE
            << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("a\u201C\r\nb\r\n\r\n"));
        QTest::newRow("UTF-8 without mark")
            << OutputEncoding::Utf8 << QByteArray("a\xE2\x80\x9C\r\nb\r\n\r\n");
    }
    void piecesAndAppendsAgree() {
        QFETCH(OutputEncoding, encoding);
        QFETCH(QByteArray, bytes);
        const QStringList list = {QStringLiteral("a\u201C\r\n"), "b\r\n", "\r\n"};
        TempFolder folder;
        FakePrompts prompts;
        const QString appended = folder.write("appended", "old");
        for (int i = 0; i < list.size(); ++i)
            QCOMPARE(AppendInEncoding(list[i], appended, i + 1, encoding, prompts),
                     WriteResult::Written);
        QCOMPARE(ReadBytes(appended), bytes);
        const QString whole = folder.path("whole");
        QCOMPARE(WriteInEncoding(whole, encoding, pieces(list), prompts), WriteResult::Written);
        QCOMPARE(ReadBytes(whole), bytes);
        QCOMPARE(prompts.calls.size(), 0);
    }

    // The code pages taken are the stateless single-byte ones, found by trying the codec.
    // In each, every byte comes back as itself, the undefined and the doubly mapped ones too.
    void codePages_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("taken");
        for (const char* name :
             {"IBM437", "ISO-8859-7", "ibm-874"}) // ibm-874: 0xA0 and 0xE8 are U+0E48
            QTest::newRow(name) << name << true;
        for (const char* name :
             {"ISO-2022-JP", "Shift_JIS", "UTF-8", "UTF-16LE", "GB18030", "EUC-KR", "UTF-7",
              "HZ-GB-2312", "x11-compound-text", "BOCU-1", "no such code page"})
            QTest::newRow(name) << name << false;
    }
    void codePages() {
        QFETCH(QString, name);
        QFETCH(bool, taken);
        std::unique_ptr<CodePage> page;
        try {
            page = CodePage::forName(name.toStdString());
        } catch (const FileError& failure) {
            QVERIFY2(!taken, failure.description().c_str());
            return;
        }
        QVERIFY(taken);
        char bytes[256], back[256];
        char16_t units[256];
        for (int b = 0; b < 256; ++b)
            bytes[b] = char(b);
        page->decode(bytes, 256, units);
        QCOMPARE(page->encode(units, 256, back), qsizetype(-1));
        QCOMPARE(QByteArray(back, 256), QByteArray(bytes, 256));
    }

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

    // A piece appended to what cannot take it is refused before anything is written, in
    // the system's words where the system refused it.
    void appendRefusals_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("reason");
        const int denied = int(FileProblem::Denied);
        QTest::newRow("read-only") << "read-only" << denied << "it is read-only";
        QTest::newRow("pipe") << "pipe" << denied << "it is a pipe, socket or device, not a file";
        QTest::newRow("folder") << "folder" << denied << "Is a directory";
        QTest::newRow("no folder") << "no folder" << int(FileProblem::PathNotFound)
                                   << "No such file or directory";
    }
    void appendRefusals() {
        QFETCH(QString, kind);
        QFETCH(int, problem);
        QFETCH(QString, reason);
        TempFolder folder;
        QString path = folder.path("f");
        if (kind == "read-only")
            QFile::setPermissions(folder.write("f", "old"), QFileDevice::ReadOwner);
        else if (kind == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir(folder.root()).mkdir("f"));
        else
            path = folder.path("missing/f");
        const WriteOutcome outcome = AppendOutput(ToPath(path), OutputEncoding::Utf16LE, u"x");
        QCOMPARE(outcome.result, WriteResult::Failed);
        QCOMPARE(outcome.failure.step, FileStep::OpenOutput);
        QCOMPARE(int(outcome.failure.problem), problem);
        QCOMPARE(ToQString(outcome.failure.reason), reason);
        if (kind == "read-only")
            QCOMPARE(ReadBytes(path), QByteArray("old"));
    }

    // A character outside the code page is never written as "?": the file stays as it was
    // and no temporary file is left behind.
    void cannotHoldLeavesTheFileUntouched() {
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", "original\r\n");
        QCOMPARE(WriteInEncoding(path, OutputEncoding::CodePage,
                                pieces({"fine\r\n", QStringLiteral("\u2605\r\n")}), prompts),
                 WriteResult::CannotHold);
        QCOMPARE(ReadBytes(path), QByteArray("original\r\n"));
        QCOMPARE(folder.entries(), QStringList{"f"});
        QCOMPARE(prompts.calls.size(), 0);
        QCOMPARE(WriteUtf8WithMark(path, QString(QChar(0xD800)), prompts),
                 WriteResult::CannotHold);
        QCOMPARE(ReadBytes(path), QByteArray("original\r\n"));
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
        QCOMPARE(WriteUtf8WithMark(folder.path("no/such/f"), u"x", prompts),
                 WriteResult::Failed);
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

    void replacingKeepsModeAndOwner() {
        if (!RunningAsRoot())
            QSKIP("giving a file to another owner needs root");
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("owned", "old");
        const QByteArray native = QFile::encodeName(path);
        QCOMPARE(::chown(native.constData(), NobodyId, NobodyId), 0);
        QCOMPARE(::chmod(native.constData(), 02640), 0);
        QCOMPARE(WriteInEncoding(path, OutputEncoding::CodePage, pieces({"new"}), prompts),
                 WriteResult::Written);
        struct stat status {};
        QCOMPARE(::stat(native.constData(), &status), 0);
        QCOMPARE(status.st_uid, NobodyId);
        QCOMPARE(status.st_gid, NobodyId);
        QCOMPARE(status.st_mode & 07777, 02640u);
        QCOMPARE(ReadBytes(path), QByteArray("new"));
    }

    // A replaced file keeps its permission bits whatever the process's mask for new files
    // takes away, also when the mask changes during the run (the file is then made with
    // fewer bits than the writer expected, as under a folder's default access list).
    void replacingKeepsPermissionBits_data() {
        QTest::addColumn<unsigned>("bits");
        QTest::addColumn<unsigned>("mask");
        QTest::newRow("0666, mask 022") << 0666u << 022u;
        QTest::newRow("0640, mask 077") << 0640u << 077u;
        QTest::newRow("0604, no mask") << 0604u << 0u;
        QTest::newRow("0777, mask 0777") << 0777u << 0777u;
    }
    void replacingKeepsPermissionBits() {
        QFETCH(unsigned, bits);
        QFETCH(unsigned, mask);
        TempFolder folder;
        FakePrompts prompts;
        const QString first = folder.write("first", "old");
        QCOMPARE(WriteInEncoding(first, OutputEncoding::CodePage, pieces({"new"}), prompts),
                 WriteResult::Written);
        const QString path = folder.write("file", "old");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(bits)), 0);
        const mode_t before = ::umask(mode_t(mask));
        const WriteResult result =
            WriteInEncoding(path, OutputEncoding::CodePage, pieces({"new"}), prompts);
        ::umask(before);
        QCOMPARE(result, WriteResult::Written);
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, bits);
        QCOMPARE(ReadBytes(path), QByteArray("new"));
    }

    void symbolicLinkStaysALink() {
        TempFolder folder;
        FakePrompts prompts;
        const QString target = folder.write("target", "old");
        const QString link = folder.path("link");
        QVERIFY(QFile::link(target, link));
        QCOMPARE(WriteUtf8WithMark(link, u"new", prompts), WriteResult::Written);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ReadBytes(target), QByteArray("\xEF\xBB\xBFnew"));
        QCOMPARE(folder.entries(), (QStringList{"link", "target"}));
    }

    // The same bytes again: not written, so the file keeps its time stamp and inode.
    void identicalResultIsNotWritten() {
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("same", "a\r\nb\r\n");
        const QDateTime past = QDateTime::currentDateTime().addDays(-3);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(past, QFileDevice::FileModificationTime));
        file.close();
        const ino_t inode = inodeOf(path);
        QCOMPARE(
            WriteInEncoding(path, OutputEncoding::CodePage, pieces({"a\r\n", "b\r\n"}), prompts),
            WriteResult::Unchanged);
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), past.toSecsSinceEpoch());
        QCOMPARE(inodeOf(path), inode);
        // One byte more or less is a change.
        QCOMPARE(WriteInEncoding(path, OutputEncoding::CodePage, pieces({"a\r\n", "b\r"}), prompts),
                 WriteResult::Written);
        QCOMPARE(
            WriteInEncoding(path, OutputEncoding::CodePage, pieces({"a\r\n", "b\r\n"}), prompts),
            WriteResult::Written);
        QCOMPARE(folder.entries(), QStringList{"same"});
    }
};

QTEST_GUILESS_MAIN(TestWriting)
#include "tst_writing.moc"
