// The folder scan's routines on real temporary trees: level order, the folders it leaves
// out, listings that fail, links that lead back, the file lister and the name test.
#include "base/failure.h"
#include "base/platform.h"
#include "base/qtpaths.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "filelist/addfolder.h"
#include "filelist/folderaccess.h"
#include "filelist/foldertree.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace parvello;
using namespace parvello::testing;

namespace {

// The scan of one start folder; folder entries are returned relative to root.
struct Scan {
    FakePrompts prompts;
    FakePlatform platform;
    std::shared_ptr<FolderAccess> folders = LocalFolderAccess(platform);
    int eventPoints = 0;

    QStringList run(const QString& root, const QString& start, bool recurse = true) {
        ScanServices services{prompts, *folders, [this] { ++eventPoints; }};
        QStringList list{start};
        ListSubfolders(services, list, recurse);
        for (const ScanSkip& skip : services.skipped) // what it named follows the entries
            list << skip.path + ": " + skip.reason;
        QStringList relative;
        for (const QString& entry : list)
            relative << entry.mid(root.size());
        return relative;
    }
};

} // namespace

class TestAddFolder : public QObject {
    Q_OBJECT
private slots:
    void levelOrderInNameOrder();
    void onlyImmediateSubfoldersWithoutRecursion();
    void foldersLeftOut_data();
    void foldersLeftOut();
    void hiddenSystemStartFolderKeepsItsOwnFiles();
    void longEntriesAreNotDescended();
    void foldersThatCannotBeListed();
    void linksThatLeadBackAreNotFollowed();
    void doublingLinksEndAtOnce();
    void failureOutsideTheListingShowsTheBox();
    void wildcards_data();
    void wildcards();
    void listFiles();
    void browseForFolderPreselectsTheStartFolder();
    void theEngineReadsTheAttributesThePlatformReads();
};

void TestAddFolder::levelOrderInNameOrder() {
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {"b/b1/", "a/a2/deep/", "a/a1/", "c/", "a/file.txt"});
    Scan scan;
    const QStringList expected{"/",      "/a/",    "/b/",    "/c/",
                               "/a/a1/", "/a/a2/", "/b/b1/", "/a/a2/deep/"};
    QCOMPARE(scan.run(root, root + "/"), expected);
    QVERIFY(scan.prompts.calls.isEmpty());
    // Events are handled for every folder examined and every subfolder listed.
    QVERIFY(scan.eventPoints >= 2 * 8);
    // Scanning again gives the same order.
    QCOMPARE(scan.run(root, root + "/"), expected);
}

void TestAddFolder::onlyImmediateSubfoldersWithoutRecursion() {
    QTemporaryDir dir;
    makeTree(dir.path(), {"a/a1/", "b/"});
    Scan scan;
    QCOMPARE(scan.run(dir.path(), dir.path() + "/", false), (QStringList{"/", "/a/", "/b/"}));
}

// Hidden system folders are left out with everything below them; no folder is left out
// for the characters of its name.
void TestAddFolder::foldersLeftOut_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("attributeValue"); // 0: as the file system says
    QTest::addColumn<bool>("leftOut");
    QTest::newRow("hidden system folder (22)") << "sys" << 22 << true;
    QTest::newRow("hidden system link (1046)") << "sys" << 1046 << true;
    QTest::newRow("typographic apostrophe") << QString::fromUtf8("it\u2019s") << 0 << false;
    QTest::newRow("en dash") << QString::fromUtf8("a\u2013b") << 0 << false;
    QTest::newRow("control character") << QString::fromUtf8("tab\tname") << 0 << false;
    QTest::newRow("Cyrillic") << QString::fromUtf8("\u041f\u0430\u043f\u043a\u0430") << 0 << false;
    QTest::newRow("Greek") << QString::fromUtf8("\u03c6\u03ac\u03ba\u03b5\u03bb\u03bf\u03c2") << 0
                           << false;
    QTest::newRow("CJK") << QString::fromUtf8("\u4e2d\u6587") << 0 << false;
    QTest::newRow("outside the BMP") << QString::fromUtf8("\U0001F600") << 0 << false;
}

void TestAddFolder::foldersLeftOut() {
    QFETCH(QString, folder);
    QFETCH(int, attributeValue);
    QFETCH(bool, leftOut);
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {"keep/inner/", folder + "/below/"});
    Scan scan;
    if (attributeValue)
        scan.platform.attributeOverrides[root + "/" + folder + "/"] = attributeValue;
    // Level order, each level in name order.
    QStringList level{"/keep/"};
    if (!leftOut)
        level << "/" + folder + "/";
    std::sort(level.begin(), level.end());
    QStringList expected = QStringList{"/"} + level;
    for (const QString& entry : std::as_const(level))
        expected << entry + (entry == "/keep/" ? "inner/" : "below/");
    QCOMPARE(scan.run(root, root + "/"), expected);
    QVERIFY(scan.prompts.calls.isEmpty());
}

void TestAddFolder::hiddenSystemStartFolderKeepsItsOwnFiles() {
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {"sys/inner/"});
    Scan scan;
    scan.platform.attributeOverrides[root + "/sys/"] = 22;
    QCOMPARE(scan.run(root, root + "/sys/"), QStringList{"/sys/"});
}

void TestAddFolder::longEntriesAreNotDescended() {
    QTemporaryDir dir;
    const QString root = dir.path();
    const QString part(100, QLatin1Char('n'));
    // The third level's entry is 260 characters or more: it is reported, but its own
    // subfolder is not.
    makeTree(root, {part + "/" + part + "/" + part + "/" + part + "/"});
    Scan scan;
    const QString third = "/" + part + "/" + part + "/" + part + "/";
    QVERIFY((root + third).size() >= 260);
    QVERIFY((root + "/" + part + "/" + part + "/").size() < 260);
    QCOMPARE(scan.run(root, root + "/"),
             (QStringList{"/", "/" + part + "/", "/" + part + "/" + part + "/", third,
                          third + part + "/: its path is 260 characters or more"}));
}

// Scans `start` as a user whom permission bits really stop (see RunUnprivileged) and
// compares the result with `expected`: 0 when it matches and no box appeared.
static int scanDenied(const QString& root, const QString& start, const QStringList& expected) {
    return RunUnprivileged([&] {
        // The denial must be real before the scan counts.
        if (::access(QFile::encodeName(root + "/locked").constData(), R_OK) == 0)
            return 2;
        Scan scan;
        const QStringList list = scan.run(root, start);
        if (list != expected) {
            qWarning() << "scanned" << list;
            return 3;
        }
        return scan.prompts.calls.isEmpty() ? 0 : 4;
    });
}

void TestAddFolder::foldersThatCannotBeListed() {
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {"open/inner/", "locked/inside/", "open/locked2/deeper/"});
    for (const QString& folder : {root, root + "/open", root + "/open/inner"})
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    for (const QString& folder : {root + "/locked", root + "/open/locked2"})
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0) == 0);

    // Each folder that cannot be listed is missing with everything below it, and named.
    const QStringList named{"/locked/: permission denied", "/open/locked2/: permission denied"};
    QCOMPARE(scanDenied(root, root + "/", QStringList{"/", "/open/", "/open/inner/"} + named), 0);
    // A start folder that cannot be listed leaves nothing to scan.
    QCOMPARE(scanDenied(root, root + "/locked/", named.mid(0, 1)), 0);

    for (const QString& folder : {root + "/locked", root + "/open/locked2"})
        ::chmod(QFile::encodeName(folder).constData(), 0700);
}

void TestAddFolder::linksThatLeadBackAreNotFollowed() {
    QTemporaryDir dir;
    const QString root = dir.path();
    makeTree(root, {"a/", "b/x/"});
    QVERIFY(QFile::link(root, root + "/a/loop"));          // back to the start folder
    QVERIFY(QFile::link("/", root + "/a/top"));            // to a folder above it
    QVERIFY(QFile::link(root + "/b", root + "/a/side"));   // elsewhere: followed
    QVERIFY(QFile::link(root + "/a", root + "/b/x/back")); // into a/, which holds side -> b
    Scan scan;
    // loop, side and back lead to folders entered already; top leads out, and is named.
    QCOMPARE(scan.run(root, root + "/"),
             (QStringList{"/", "/a/", "/b/", "/b/x/",
                          "/a/top/: the link leads out of the chosen folder"}));
    QVERIFY(scan.prompts.calls.isEmpty());
}

// Two links from each of 30 folders to the next: each folder and file is taken once, at once.
void TestAddFolder::doublingLinksEndAtOnce() {
    QTemporaryDir dir;
    QStringList expected;
    for (int i = 1; i <= 30; ++i) {
        const QString folder = dir.path() + QStringLiteral("/d%1").arg(i);
        makeTree(folder, {"f.txt"});
        expected << folder + "/f.txt";
        for (const QString link : {"/x", "/y"})
            QVERIFY(i == 30 || QFile::link(QStringLiteral("../d%1").arg(i + 1), folder + link));
    }
    QVERIFY(QFile::link(expected[0], dir.path() + "/d30/twin.txt"));
    std::sort(expected.begin(), expected.end());
    Scan scan;
    ScanServices services{scan.prompts, *scan.folders, [] {}};
    Trap trap(scan.prompts, QStringLiteral("scan"));
    QStringList taken;
    const auto start = std::chrono::steady_clock::now();
    AddFilesInFolderTree(services, trap, dir.path(), "txt", [&](const QString& p) { taken << p; });
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500));
    QCOMPARE(taken, expected);
}

void TestAddFolder::failureOutsideTheListingShowsTheBox() {
    QTemporaryDir dir;
    makeTree(dir.path(), {"a/", "b/"});
    Scan scan;
    int failures = 0;
    Trap::setFaultInjector([&](const QString& tag, int line) {
        if (tag == ListSubfoldersTag && line == 156 && failures++ == 0)
            throw Failure(QStringLiteral("Injected"));
    });
    const QStringList list = scan.run(dir.path(), dir.path() + "/");
    Trap::setFaultInjector({});
    QCOMPARE(scan.prompts.errorTexts().size(), 1);
    QVERIFY(scan.prompts.errorTexts()[0].startsWith(
        "Injected\r\nin Dorrimane2021/08/31.AddFolder.GetSubDirectories2016 at line 156\r\r"));
    // The scan carried on with the next step.
    QCOMPARE(list, (QStringList{"/", "/a/", "/b/"}));
}

void TestAddFolder::wildcards_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");
    QTest::newRow("*.* without a dot") << "README"
                                       << "*.*" << true;
    QTest::newRow("*.* several dots") << "a.b.c"
                                      << "*.*" << true;
    QTest::newRow("*.* dot name") << ".profile"
                                  << "*.*" << true;
    QTest::newRow("extension any case") << "Notes.TXT"
                                        << "*.txt" << true;
    QTest::newRow("other extension") << "notes.md"
                                     << "*.txt" << false;
    QTest::newRow("extension in the middle") << "a.txt.bak"
                                             << "*.txt" << false;
    QTest::newRow("? one character") << "a.txt"
                                     << "?.txt" << true;
    QTest::newRow("? not two") << "ab.txt"
                               << "?.txt" << false;
    QTest::newRow("name.* without extension") << "Makefile"
                                              << "Makefile.*" << true;
    QTest::newRow("backtracking star") << "aXbXc.log"
                                       << "*X*.log" << true;
    QTest::newRow("brackets are plain") << "[a].txt"
                                        << "[a].*" << true;
    QTest::newRow("non-ASCII case")
        << QString::fromUtf8("\u00c9t\u00c9.TXT") << QString::fromUtf8("\u00e9t\u00e9.txt") << true;
}

void TestAddFolder::wildcards() {
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    QCOMPARE(MatchesWildcard(name, pattern), matches);
}

void TestAddFolder::listFiles() {
    QTemporaryDir dir;
    const QString root = dir.path();
    QStringList many;
    for (int i = 0; i < 150; ++i)
        many << QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0'));
    makeTree(root, many + QStringList{".hidden.txt", "other.md", "dir.txt/", "sub/deep.txt"});
    QVERIFY(QFile::link(root + "/f000.txt", root + "/link.txt"));
    QVERIFY(QFile::link(root + "/missing", root + "/broken.txt"));
    Scan scan;
    // More than 100 matches, hidden files and links to files included; folders, broken
    // links and files of subfolders are not; element 0 is the unused empty text.
    const QStringList names = ListFilesInFolder(*scan.folders, root, "*.txt");
    QStringList expected{QString(), ".hidden.txt"};
    expected << many << "link.txt";
    QCOMPARE(names, expected);
    QCOMPARE(ListFilesInFolder(*scan.folders, root + "/", "*.TXT"), expected);
    // Nothing matched: the single empty element.
    QCOMPARE(ListFilesInFolder(*scan.folders, root, "*.doc"), QStringList{QString()});
    QVERIFY(IsExistingFile(*scan.folders, root + "/f001.txt"));
    QVERIFY(!IsExistingFile(*scan.folders, root + "/sub"));
    QVERIFY(!IsExistingFile(*scan.folders, root + "/nothing"));
    QVERIFY(!IsExistingFile(*scan.folders, QString()));
    QVERIFY_THROWS_EXCEPTION(Failure, ListFilesInFolder(*scan.folders, root + "/gone", "*.*"));
}

void TestAddFolder::browseForFolderPreselectsTheStartFolder() {
    FakePrompts prompts;
    prompts.answerFolder("/srv/data");
    QCOMPARE(BrowseForFolder(prompts, "Please select folder:", "/home/a"),
             QStringLiteral("/srv/data"));
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].text, QStringLiteral("Please select folder:"));
    QCOMPARE(prompts.calls[0].extra, QStringLiteral("/home/a"));
    QCOMPARE(BrowseStartFolder, QStringLiteral("/home/a") + QChar(0));
    QString selection = "unchanged";
    QCOMPARE(BrowseCallback(2, selection), 0);
    QCOMPARE(selection, QStringLiteral("unchanged"));
}

// The engine reads, for the command line, the attributes the window reads through its
// platform.
void TestAddFolder::theEngineReadsTheAttributesThePlatformReads() {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    makeTree(dir.path(), {"f.txt", ".h.txt", "ro.txt", "dir/", ".hdir/"});
    QVERIFY(::chmod(QFile::encodeName(root + "ro.txt").constData(), 0444) == 0);
    QVERIFY(QFile::link(root + "f.txt", root + "link"));
    QVERIFY(QFile::link(root + "dir", root + "dlink"));
    QVERIFY(QFile::link(root + "missing", root + "broken"));
    const auto local = LocalFolderAccess();
    for (const QString name : {"f.txt", ".h.txt", "ro.txt", "dir", "dir/", ".hdir", ".hdir/",
                               "link", "dlink", "dlink/", "broken", "missing", ""}) {
        const QString path = name.isEmpty() ? QString() : root + name;
        int platform = -1;
        int engine = -1;
        try {
            platform = FileAttributes(path);
        } catch (const Failure&) {
        }
        try {
            engine = local->attributes(ToPath(path));
        } catch (const AttributesError&) {
        }
        QVERIFY2(platform == engine, qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestAddFolder)
#include "tst_addfolder.moc"
