#pragma once

// The collapsing of doubled separators that every joined path goes through, in plain C++
// over any kind of character, so that the window's texts (UTF-16), the bytes of a name on
// Unix and the UTF-16 paths of Windows all collapse by one rule.

#include "base/pathstyle.h"

#include <string>
#include <string_view>

namespace parvello {

template <typename Char> constexpr Char SeparatorOf(PathStyle style) {
    return style == PathStyle::Windows ? Char('\\') : Char('/');
}

// One left-to-right pass that turns each pair of separators it meets into one, so a run
// of n becomes ceil(n/2). A leading run becomes exactly two separators in the Windows
// style (a network path keeps its pair) and exactly one in the POSIX style.
template <typename Char>
std::basic_string<Char> CollapseSeparators(std::basic_string_view<Char> path, PathStyle style) {
    const Char separator = SeparatorOf<Char>(style);
    std::basic_string<Char> result;
    result.reserve(path.size());
    size_t i = 0;
    if (!path.empty() && path[0] == separator) {
        while (i < path.size() && path[i] == separator)
            ++i;
        result.append(style == PathStyle::Windows ? 2 : 1, separator);
    }
    for (; i < path.size(); ++i) {
        result += path[i];
        if (path[i] == separator && i + 1 < path.size() && path[i + 1] == separator)
            ++i; // the second of the pair is dropped; scanning goes on after it
    }
    return result;
}

// The part after the last separator (the whole path when it has none).
template <typename Char>
std::basic_string_view<Char> NameAfterLastSeparator(std::basic_string_view<Char> path,
                                                    PathStyle style) {
    const auto last = path.rfind(SeparatorOf<Char>(style));
    return last == path.npos ? path : path.substr(last + 1);
}

// Where a run writes the result of a source into a folder: the folder, a separator and
// the source's name, with doubled separators collapsed.
template <typename Char>
std::basic_string<Char> PathInFolder(std::basic_string_view<Char> folder,
                                     std::basic_string_view<Char> source, PathStyle style) {
    std::basic_string<Char> joined(folder);
    joined += SeparatorOf<Char>(style);
    joined += NameAfterLastSeparator(source, style);
    return CollapseSeparators<Char>(joined, style);
}

} // namespace parvello
