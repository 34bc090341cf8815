#include "filelist/foldertree.h"

#include "filelist/wildcard.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace parvello {

namespace {

using Path = std::filesystem::path;
using Text = Path::string_type;

// One numbered step of the tree; a failure in it is kept and the walk goes on with the next
// step. False when it failed.
template <class F> bool step(FolderTree& tree, int line, F&& body) {
    try {
        if (tree.entering)
            tree.entering(line);
        body();
        if (tree.leaving)
            tree.leaving();
        return true;
    } catch (...) {
        tree.failures.push_back({line, std::current_exception()});
        if (tree.failed)
            tree.failed(tree.failures.back());
        return false;
    }
}

// A numbered condition test: a failure in it is kept and counts as true, so the steps it
// guards run next.
template <class F> bool test(FolderTree& tree, int line, F&& condition) {
    bool result = false;
    return !step(tree, line, [&] { result = condition(); }) || result;
}

Path::value_type separatorOf(PathStyle style) {
    return style == PathStyle::Windows ? Path::value_type('\\') : Path::value_type('/');
}

// One left-to-right pass that turns each pair of separators it meets into one.
Text collapsePairs(std::basic_string_view<Path::value_type> text, Path::value_type separator) {
    Text result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        result.push_back(text[i]);
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i; // the second of the pair is dropped; scanning goes on after it
    }
    return result;
}

// The path the list shows for a found file, as the window's CollapseBackslashes makes it:
// pairs of separators made one, a leading run exactly two separators in the Windows style
// (a network path keeps its pair) and exactly one in the POSIX style.
Text collapsed(const Text& path, PathStyle style) {
    const Path::value_type separator = separatorOf(style);
    if (path.empty() || path[0] != separator)
        return collapsePairs(path, separator);
    std::size_t rest = 1;
    while (rest < path.size() && path[rest] == separator)
        ++rest;
    Text lead(style == PathStyle::Windows ? 2 : 1, separator);
    return lead +
           collapsePairs(std::basic_string_view<Path::value_type>(path).substr(rest), separator);
}

} // namespace

void AddFilesInFolderTree(FolderTree& tree, const Path& chosen, std::u16string_view extension,
                          const std::function<void(const Path&)>& add) {
    FolderScan& scan = tree.scan;
    FolderAccess& folders = scan.folders;
    const Path::value_type separator = separatorOf(folders.style());
    std::vector<Path> folderList;
    step(tree, AddAllLines::StartFolderList,
         [&] { folderList = {Path(chosen.native() + separator)}; });
    step(tree, AddAllLines::ScanSubfolders, [&] {
        if (tree.listSubfolders)
            tree.listSubfolders(folderList);
        else
            ListSubfolders(scan, folderList, true);
    });
    if (scan.stopped())
        return;
    const std::u16string pattern = u"*." + std::u16string(extension);
    const NameTest matches = [&pattern](const Path& name) {
        return MatchesWildcard(name, pattern);
    };
    Text entry;
    std::vector<Path> names;
    Text path;
    for (const Path& listed : folderList) {
        step(tree, AddAllLines::NextFolder, [&] { entry = listed.native(); });
        step(tree, AddAllLines::DropSeparator, [&] {
            if (!entry.empty())
                entry.pop_back();
        });
        step(tree, AddAllLines::ListFiles, [&] {
            names =
                ListFilesInFolder(folders, entry, matches, scan.holdsName, &scan.unrepresentable);
        });
        for (const Path& name : names) {
            const Text& text = name.native();
            if (test(tree, AddAllLines::TildeTest, [&] { return !text.starts_with('~'); })) {
                step(tree, AddAllLines::FilePath, [&] { path = entry + separator + text; });
                step(tree, AddAllLines::AddFile, [&] {
                    if (TakeFoundFile(scan, path))
                        add(Path(collapsed(path, folders.style())));
                });
            }
        }
    }
}

} // namespace parvello
