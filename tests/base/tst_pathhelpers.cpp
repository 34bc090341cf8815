// The path and list helpers, in both separator styles, and the status of a file.
#include "base/failure.h"
#include "base/filestatus.h"
#include "base/pathhelpers.h"
#include "base/printablename.h"
#include "base/qtpaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace parvello;

Q_DECLARE_METATYPE(parvello::PathStyle)
Q_DECLARE_METATYPE(parvello::FileKind)

namespace {
// Writes a Windows-style example in the given style.
QString inStyle(QString path, PathStyle style) {
    if (style == PathStyle::Posix)
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}
} // namespace

class TestPathHelpers : public QObject {
    Q_OBJECT
private slots:
    void collapseBackslashes_data();
    void collapseBackslashes();
    void nameAndFolder_data();
    void nameAndFolder();
    void sixteenBitLimits();
    void isFolder();
    void listHasItem();
    void printableName_data();
    void printableName();
#ifdef Q_OS_UNIX
    void fileStatus_data();
    void fileStatus();
#endif
};

void TestPathHelpers::collapseBackslashes_data() {
    QTest::addColumn<PathStyle>("style");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    // Written with backslashes; the POSIX rows use the same text with slashes.
    struct Row {
        const char* name;
        const char* input;
        const char* windows;
        const char* posix;
    };
    const Row rows[] = {
        {"doubled separator", R"(C:\Texts\\a.txt)", R"(C:\Texts\a.txt)", R"(C:\Texts\a.txt)"},
        {"drive root joined", R"(C:\\a.txt)", R"(C:\a.txt)", R"(C:\a.txt)"},
        {"three in a row", R"(C:\Texts\\\a.txt)", R"(C:\Texts\\a.txt)", R"(C:\Texts\\a.txt)"},
        {"four in a row", R"(C:\a\\\\b)", R"(C:\a\\b)", R"(C:\a\\b)"},
        {"five in a row", R"(C:\a\\\\\b)", R"(C:\a\\\b)", R"(C:\a\\\b)"},
        {"network path", R"(\\server\share\\dir\f.txt)", R"(\\server\share\dir\f.txt)",
         R"(\server\share\dir\f.txt)"},
        {"four leading", R"(\\\\server\f)", R"(\\server\f)", R"(\server\f)"},
        {"one leading", R"(\home\f.txt)", R"(\\home\f.txt)", R"(\home\f.txt)"},
        {"one alone", R"(\)", R"(\\)", R"(\)"},
        {"run alone", R"(\\\\\)", R"(\\)", R"(\)"},
        {"empty", "", "", ""},
        {"nothing to do", R"(C:\a\b.txt)", R"(C:\a\b.txt)", R"(C:\a\b.txt)"},
        {"trailing pair", R"(C:\a\\)", R"(C:\a\)", R"(C:\a\)"},
    };
    for (const Row& row : rows) {
        QTest::addRow("windows: %s", row.name)
            << PathStyle::Windows << QString::fromUtf8(row.input) << QString::fromUtf8(row.windows);
        QTest::addRow("posix: %s", row.name)
            << PathStyle::Posix << inStyle(QString::fromUtf8(row.input), PathStyle::Posix)
            << inStyle(QString::fromUtf8(row.posix), PathStyle::Posix);
    }
    // The other style's separator is an ordinary character.
    QTest::addRow("posix keeps backslashes") << PathStyle::Posix << R"(/a\\b)"
                                             << R"(/a\\b)";
}

void TestPathHelpers::collapseBackslashes() {
    QFETCH(PathStyle, style);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(CollapseBackslashes(input, style), expected);
}

void TestPathHelpers::nameAndFolder_data() {
    QTest::addColumn<PathStyle>("style");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder");
    struct Row {
        const char* label;
        const char* path;
        const char* name;
        const char* folder;
    };
    const Row rows[] = {
        {"file in folder", R"(C:\Texts\a.txt)", "a.txt", R"(C:\Texts\)"},
        {"no separator", "a.txt", "a.txt", ""},
        {"ends in separator", R"(C:\Texts\)", "", R"(C:\Texts\)"},
        {"drive root", R"(C:\)", "", R"(C:\)"},
        {"network file", R"(\\srv\share\b.txt)", "b.txt", R"(\\srv\share\)"},
        {"empty", "", "", ""},
    };
    for (const Row& row : rows) {
        for (PathStyle style : {PathStyle::Windows, PathStyle::Posix}) {
            QTest::addRow("%s: %s", style == PathStyle::Windows ? "windows" : "posix", row.label)
                << style << inStyle(QString::fromUtf8(row.path), style)
                << QString::fromUtf8(row.name) << inStyle(QString::fromUtf8(row.folder), style);
        }
    }
}

void TestPathHelpers::nameAndFolder() {
    QFETCH(PathStyle, style);
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, folder);
    QCOMPARE(FileNameOfPath(path, style), name);
    QCOMPARE(NameAfterLastSlash(path, style), name);
    QCOMPARE(FolderOfPath(path, style), folder);
}

void TestPathHelpers::sixteenBitLimits() {
    const QString longest = QString(32766, QLatin1Char('a')) + QLatin1Char('\\');
    QCOMPARE(longest.size(), 32767);
    QCOMPARE(FileNameOfPath(longest, PathStyle::Windows), QString());
    QCOMPARE(FolderOfPath(longest, PathStyle::Windows), longest);

    const QString tooLong = longest + QStringLiteral("b.txt");
    try {
        FileNameOfPath(tooLong, PathStyle::Windows);
        QFAIL("FileNameOfPath accepted a path longer than 32767 characters");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number(), failure_numbers::Overflow);
    }
    // A separator at position 32767 is still reachable; one beyond it is not.
    QCOMPARE(FolderOfPath(tooLong, PathStyle::Windows), longest);
    QVERIFY_THROWS_EXCEPTION(
        Failure,
        FolderOfPath(QString(32767, QLatin1Char('a')) + QStringLiteral("\\b"), PathStyle::Windows));
    // The single reverse search has no such limit.
    QCOMPARE(NameAfterLastSlash(tooLong, PathStyle::Windows), QStringLiteral("b.txt"));
}

void TestPathHelpers::isFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("f.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(IsFolder(dir.path()));
    QVERIFY(!IsFolder(file.fileName()));
    QVERIFY(!IsFolder(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(!IsFolder(QString()));
}

void TestPathHelpers::listHasItem() {
    const QStringList rows{QStringLiteral("/a/x.txt"), QStringLiteral("/a/y.txt"),
                           QStringLiteral("/a/x.txt")};
    QVERIFY(ListHasItem(rows, QStringLiteral("/a/x.txt")));
    QVERIFY(ListHasItem(rows, QStringLiteral("/a/y.txt")));
    QVERIFY(!ListHasItem(rows, QStringLiteral("/a/X.txt")));
    QVERIFY(!ListHasItem({}, QStringLiteral("/a/x.txt")));
}

// Names print on one line, harmless, quoted with C escapes only where they must be.
void TestPathHelpers::printableName_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("printed");
    QTest::newRow("plain") << QByteArray("/a/b c.txt") << "/a/b c.txt";
    QTest::newRow("accented, curly quotes") << QByteArray("caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D")
                                            << QStringLiteral("caf\u00E9 \u201Cx\u201D");
    QTest::newRow("quote and backslash inside") << QByteArray("it's \"a\\b\"") << "it's \"a\\b\"";
    QTest::newRow("every named escape")
        << QByteArray("\a\b\t\n\v\f\r") << "\"\\a\\b\\t\\n\\v\\f\\r\"";
    QTest::newRow("escape sequence, with quote and backslash")
        << QByteArray("\x1B[2J\"\\") << "\"\\033[2J\\\"\\\\\"";
    QTest::newRow("NUL and DEL") << QByteArray("a\0\x7F", 3) << "\"a\\000\\177\"";
    QTest::newRow("C1 control as UTF-8") << QByteArray("a\xC2\x9B"
                                                       "2J")
                                         << "\"a\\302\\2332J\"";
    QTest::newRow("last below C1 stays") << QByteArray("\xC2\xA0") << QStringLiteral("\u00A0");
    QTest::newRow("not UTF-8") << QByteArray("caf\xE9.txt") << "\"caf\\351.txt\"";
    QTest::newRow("truncated sequence") << QByteArray("\xE2\x80") << "\"\\342\\200\"";
    QTest::newRow("leading double quote") << QByteArray("\"x\"") << "\"\\\"x\\\"\"";
}

void TestPathHelpers::printableName() {
    QFETCH(QByteArray, name);
    QFETCH(QString, printed);
    QCOMPARE(PrintableName(name), printed);
    // A name held as text prints from the bytes that text stands for.
    if (NameRoundTrips(name))
        QCOMPARE(PrintablePath(QFile::decodeName(name)), printed);
    // Any line: control characters escaped, nothing else touched.
    QCOMPARE(PrintableLine(QStringLiteral("x\n\u009B\u00E9\"")), "x\\n\\302\\233\u00E9\"");
}

#ifdef Q_OS_UNIX
void TestPathHelpers::fileStatus_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<FileKind>("kind");
    QTest::addColumn<int>("error");
    const auto row = [](const char* tag, const char* name, bool follow, FileKind kind, int error) {
        QTest::newRow(tag) << QString::fromLatin1(name) << follow << kind << error;
    };
    row("file", "file", true, FileKind::Regular, 0);
    row("second name of the file", "hard", false, FileKind::Regular, 0);
    row("folder", "folder", true, FileKind::Folder, 0);
    row("pipe", "pipe", false, FileKind::Other, 0);
    row("link followed", "link", true, FileKind::Regular, 0);
    row("link itself", "link", false, FileKind::Link, 0);
    row("link to nothing followed", "dangling", true, FileKind::Missing, ENOENT);
    row("link to nothing itself", "dangling", false, FileKind::Link, 0);
    row("missing", "missing", false, FileKind::Missing, ENOENT);
    row("below a file", "file/x", true, FileKind::Missing, ENOTDIR);
}

// Every way of asking (a name, an open file, with the attributes) agrees, and every name of
// a file gives the same identity.
void TestPathHelpers::fileStatus() {
    QFETCH(QString, name);
    QFETCH(bool, follow);
    QFETCH(FileKind, kind);
    QFETCH(int, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray at = QFile::encodeName(dir.path()) + '/';
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("text") == 4);
    file.close();
    QVERIFY(::link(at + "file", at + "hard") == 0 && ::mkdir(at + "folder", 0700) == 0 &&
            ::mkfifo(at + "pipe", 0600) == 0 && ::symlink("file", at + "link") == 0 &&
            ::symlink("missing", at + "dangling") == 0);

    const Links links = follow ? Links::Follow : Links::DoNotFollow;
    const FileStatus status = FileStatus::Of(ToPath(dir.filePath(name)), links);
    QCOMPARE(status.kind, kind);
    QCOMPARE(status.error, error);
    QVERIFY(FileStatus::Of(ToPath(dir.filePath(name)), links, Attributes::Read) == status);
    if (!status.isRegular())
        return;
    const FileStatus first =
        FileStatus::Of(ToPath(dir.filePath(QStringLiteral("file"))), Links::DoNotFollow);
    QCOMPARE(status.id, first.id);
    QCOMPARE(status.id.text(),
             FileStatus::Of(ToPath(dir.filePath(QStringLiteral("hard")))).id.text());
    QCOMPARE(status.size, 4ll);
    QCOMPARE(status.links, 2ull);
    const int fd = ::open(at + name.toLatin1(), O_RDONLY);
    QVERIFY(fd >= 0);
    const FileStatus open = FileStatus::Of(fd);
    ::close(fd);
    QVERIFY(open == first);
    QVERIFY(FileStatus::Of(ToPath(dir.filePath(QStringLiteral("folder")))).id != first.id);
}
#endif

QTEST_APPLESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
