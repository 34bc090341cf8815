// The folder scan of the engine on a real tree, on every system: level order, names taken as
// the system gives them, failed steps kept as values, the name order.
#include "filelist/folderscan.h"
#include "filelist/foldertree.h"
#include "filelist/wildcard.h"

#include "common/plaintest.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

using namespace parvello;
namespace fs = std::filesystem;

namespace {

// An absolute path as the test makes and removes files by it: beyond MAX_PATH on Windows
// only in the "\\?\" form.
fs::path made(const fs::path::string_type& path) {
#if defined(PARVELLO_OS_WINDOWS)
    return fs::path(L"\\\\?\\" + path);
#else
    return fs::path(path);
#endif
}

// A fresh folder for one test, removed with everything in it afterwards.
struct Tree {
    fs::path root = fs::temp_directory_path() / "tst_folderscan";
    Tree() {
        std::error_code ignored;
        fs::remove_all(made(root.native()), ignored);
        fs::create_directory(root);
    }
    ~Tree() {
        std::error_code ignored;
        fs::remove_all(made(root.native()), ignored);
    }
    // The root with a separator, as the scan's entries end.
    fs::path::string_type entry() const { return root.native() + fs::path::preferred_separator; }
};

bool everyName(const fs::path&) {
    return true;
}

// A name that is not plain text on this system's terms: bytes that are not UTF-8 on Unix,
// a character beyond the BMP (two UTF-16 units) on Windows.
fs::path oddName() {
#if defined(PARVELLO_OS_WINDOWS)
    return fs::path(std::wstring{L'd', wchar_t(0xD83D), wchar_t(0xDE00)});
#else
    return fs::path("d\xE9");
#endif
}

} // namespace

PLAIN_TEST(namesAreTakenAsTheyAre) {
    Tree tree;
    const auto sep = fs::path::preferred_separator;
    const fs::path::string_type odd = tree.entry() + oddName().native() + sep;
    fs::create_directories(tree.root / "b" / "b1");
    fs::create_directory(tree.root / "a");
    fs::create_directory(odd);
    std::ofstream(fs::path(odd + fs::path("x.txt").native())) << "q";
    const auto local = LocalFolderAccess();
    FolderScan scan{*local};
    std::vector<fs::path> list{tree.entry()};
    ListSubfolders(scan, list, true);
    COMPARE(list.size(), 5);
    VERIFY(list[1].native() == tree.entry() + fs::path("a").native() + sep);
    VERIFY(list[3].native() == odd);
    VERIFY(list[4].native() == (tree.root / "b" / "b1").native() + sep);
    VERIFY(scan.unrepresentable.empty() && scan.skipped.empty() && scan.failures.empty());
    const std::vector<fs::path> names = ListFilesInFolder(*local, odd, everyName);
    COMPARE(names.size(), 1);
    VERIFY(TakeFoundFile(scan, odd + names[0].native()));
    VERIFY(!TakeFoundFile(scan, odd + names[0].native())); // each file once
    // A caller that cannot hold the name has the folder named instead of entered.
    FolderScan held{*local};
    held.holdsName = [](const fs::path& name) { return name.native() != oddName().native(); };
    list = {tree.entry()};
    ListSubfolders(held, list, false);
    COMPARE(list.size(), 3);
    COMPARE(held.unrepresentable.size(), 1);
    VERIFY(held.unrepresentable[0].native() == tree.entry() + oddName().native());
}

// The listing and the questions about a path answer beyond 260 characters too.
PLAIN_TEST(pathsBeyondTheOldLimit) {
    Tree tree;
    fs::path::string_type deep = tree.root.native();
    for (int i = 0; i < 4; ++i) {
        deep += fs::path::preferred_separator + fs::path(std::string(100, 'n')).native();
        fs::create_directory(made(deep));
    }
    const fs::path::string_type file =
        deep + fs::path::preferred_separator + fs::path("f.txt").native();
    std::ofstream(made(file)) << "q";
    // Removed deepest first, one by one: the library's own removal stops at the old limit.
    struct Removed {
        fs::path::string_type deep;
        const fs::path::string_type& root;
        ~Removed() {
            std::error_code ignored;
            for (; deep.size() > root.size();
                 deep.resize(deep.rfind(fs::path::preferred_separator)))
                fs::remove(made(deep), ignored);
        }
    } removed{file, tree.root.native()};
    const auto local = LocalFolderAccess();
    const std::vector<fs::path> names = ListFilesInFolder(*local, deep, everyName);
    COMPARE(names.size(), 1);
    VERIFY(names[0] == fs::path("f.txt"));
    VERIFY(IsExistingFile(*local, file));
    COMPARE(local->attributes(deep) & attributes::Directory, attributes::Directory);
    // (Wine's GetFinalPathNameByHandleW answers only within the old limit.)
    VERIFY(local->resolvedPath(tree.root) == local->resolvedPath(tree.entry()));
    VERIFY(!local->resolvedPath(tree.root).empty());
    VERIFY(!local->target(file).identity.empty());
    VERIFY(local->target(file).regularFile);
}

PLAIN_TEST(failedStepsAreKeptAndTheScanGoesOn) {
    Tree tree;
    fs::create_directory(tree.root / "a");
    fs::create_directory(tree.root / "b");
    const auto local = LocalFolderAccess();
    FolderScan scan{*local};
    int told = 0;
    scan.entering = [](int line) {
        if (line == ScanLines::HandleEventsAgain)
            throw std::runtime_error("injected");
    };
    scan.failed = [&told](const ScanFailure&) { ++told; };
    std::vector<fs::path> list{tree.entry()};
    ListSubfolders(scan, list, false);
    // Each failed step is kept with its line, and the steps after it ran.
    COMPARE(list.size(), 3);
    COMPARE(scan.failures.size(), 2);
    COMPARE(told, 2);
    for (const ScanFailure& failure : scan.failures) {
        COMPARE(failure.line, 156);
        try {
            std::rethrow_exception(failure.failure);
        } catch (const std::runtime_error& error) {
            COMPARE(std::string(error.what()), "injected");
        }
    }
}

PLAIN_TEST(aMissingFolderIsNotFound) {
    Tree tree;
    const auto local = LocalFolderAccess();
    const fs::path::string_type gone = tree.entry() + fs::path("gone").native();
    try {
        ListFilesInFolder(*local, gone, everyName);
        VERIFY(false);
    } catch (const ListingError& error) {
        VERIFY(error.problem() == ListingProblem::PathNotFound);
        VERIFY(error.folder().native() == gone + fs::path::preferred_separator);
    }
    // A scan passes over it, as over any entry that is no folder.
    FolderScan scan{*local};
    std::vector<fs::path> list{gone + fs::path::preferred_separator};
    ListSubfolders(scan, list, true);
    COMPARE(list.size(), 1);
    VERIFY(scan.skipped.empty() && scan.failures.empty());
    VERIFY(!IsExistingFile(*local, gone));
}

// The tree: the matching files of the folder and its subfolders, in the list's order, "~"
// names left out; a failed step is kept with its line, and a failed test counts as true.
PLAIN_TEST(treeAddsTheMatchingFilesAndKeepsFailedSteps) {
    Tree tree;
    fs::create_directory(tree.root / "sub");
    for (const char* name : {"a.txt", "c.TXT", "d.md", "~b.txt", "sub/e.txt"})
        std::ofstream(tree.root / fs::path(name).make_preferred()) << "q";
    const auto local = LocalFolderAccess();
    for (const bool failing : {false, true}) {
        FolderScan scan{*local};
        FolderTree walk{scan};
        int tests = 0;
        walk.entering = [&](int line) {
            if (failing && line == AddAllLines::TildeTest && ++tests == 3)
                throw std::runtime_error("injected");
        };
        std::vector<fs::path::string_type> added;
        AddFilesInFolderTree(walk, tree.root, u"txt",
                             [&added](const fs::path& path) { added.push_back(path.native()); });
        std::vector<fs::path::string_type> expected;
        for (const char* name : {"a.txt", "c.TXT", "~b.txt", "sub/e.txt"})
            if (failing || name[0] != '~')
                expected.push_back((tree.root / fs::path(name).make_preferred()).native());
        VERIFY(added == expected);
        COMPARE(walk.failures.size(), failing ? 1 : 0);
        VERIFY(!failing || walk.failures[0].line == AddAllLines::TildeTest);
    }
}

PLAIN_TEST_DATA(nameOrderIsTheOrderOfUtf16) {
    plaintest::addColumn<std::u8string>("first");
    plaintest::addColumn<std::u8string>("second");
    plaintest::newRow("ASCII") << std::u8string(u8"a.txt") << std::u8string(u8"b.txt");
    plaintest::newRow("capitals first") << std::u8string(u8"Z") << std::u8string(u8"a");
    plaintest::newRow("prefix first") << std::u8string(u8"ab") << std::u8string(u8"abc");
    plaintest::newRow("Latin before CJK") << std::u8string(u8"\u00e9") << std::u8string(u8"\u4e2d");
    plaintest::newRow("beyond the BMP before U+FFFD")
        << std::u8string(u8"x\U0001F600") << std::u8string(u8"x\uFFFD");
    plaintest::newRow("beyond the BMP after U+D7FF")
        << std::u8string(u8"\uD7FF") << std::u8string(u8"\U00010000");
}

PLAIN_TEST(nameOrderIsTheOrderOfUtf16) {
    FETCH(std::u8string, first);
    FETCH(std::u8string, second);
    VERIFY(NameOrderLess(fs::path(first), fs::path(second)));
    VERIFY(!NameOrderLess(fs::path(second), fs::path(first)));
    VERIFY(!NameOrderLess(fs::path(first), fs::path(first)));
}

// The name patterns on the names as the system holds them: case folded unit by unit, `?` one
// UTF-16 unit, a trailing ".*" also for names without an extension, and bytes that are not
// UTF-8 (on Unix) each one unit that only `*` and `?` match.
PLAIN_TEST_DATA(wildcards) {
    plaintest::addColumn<fs::path>("name");
    plaintest::addColumn<std::u16string>("pattern");
    plaintest::addColumn<bool>("matches");
    const auto row = [](const char* title, std::u8string name, std::u16string pattern, bool yes) {
        plaintest::newRow(title) << fs::path(name) << pattern << yes;
    };
    row("*.* without a dot", u8"README", u"*.*", true);
    row("extension in the middle", u8"a.txt.bak", u"*.txt", false);
    row("name.* without extension", u8"Makefile", u"Makefile.*", true);
    row("backtracking star", u8"aXbXcX.log", u"*X*X.log", true);
    row("brackets are plain", u8"[a].txt", u"[a].*", true);
    row("Latin-1 case", u8"\u00c9T\u00c9.TXT", u"\u00e9t\u00e9.txt", true);
    row("Greek final sigma folds", u8"\u03a3\u03c2.txt", u"\u03c3\u03c3.*", true);
    row("Cyrillic case", u8"\u0416\u0443\u0440.doc", u"\u0436\u0423\u0420.DOC", true);
    row("Kelvin sign is k", u8"\u212A.txt", u"k.txt", true);
    row("capital sharp s is sharp s", u8"\u1E9E.txt", u"\u00df.txt", true);
    row("dotted capital I stays", u8"\u0130.txt", u"i.txt", false);
    row("Cherokee small to capital", u8"\uAB70.txt", u"\u13A0.txt", true);
    row("? is one unit", u8"\U0001F600.txt", u"?.txt", false);
    row("?? is a pair", u8"\U0001F600.txt", u"??.txt", true);
#if !defined(PARVELLO_OS_WINDOWS)
    plaintest::newRow("odd byte matches *")
        << fs::path("caf\xE9.txt") << std::u16string(u"*.txt") << true;
    plaintest::newRow("odd byte is one unit")
        << fs::path("caf\xE9.txt") << std::u16string(u"caf?.TXT") << true;
    plaintest::newRow("overlong pair is two units")
        << fs::path("\xC0\xAF") << std::u16string(u"??") << true;
    plaintest::newRow("cut character before ASCII")
        << fs::path("\xE2\x80.txt") << std::u16string(u"??.txt") << true;
    plaintest::newRow("odd byte is no letter")
        << fs::path("caf\xE9.txt") << std::u16string(u"cafe.txt") << false;
#endif
}

PLAIN_TEST(wildcards) {
    FETCH(fs::path, name);
    FETCH(std::u16string, pattern);
    FETCH(bool, matches);
    COMPARE(MatchesWildcard(name, pattern), matches);
}
