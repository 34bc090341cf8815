#include "filelist/wildcard.h"

#include "base/portable.h"
#include "filelist/casefolding.h"

#include <algorithm>
#include <cstddef>

namespace parvello {

namespace {

// `*` and `?` as above, with backtracking to the last `*` only: linear in practice.
bool globMatch(std::u16string_view name, std::u16string_view pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = std::u16string_view::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || FoldedUnit(pattern[p]) == FoldedUnit(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::u16string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

#if !defined(PARVELLO_OS_WINDOWS)
// The length of the UTF-8 character that `lead` starts and the least code point it may
// encode; 0 for a byte that starts none.
struct Lead {
    int length;
    char32_t least;
};
Lead leadOf(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80};
    if (lead >= 0xE0 && lead <= 0xEF)
        return {3, 0x800};
    if (lead >= 0xF0 && lead <= 0xF4)
        return {4, 0x10000};
    return {0, 0};
}

// The code point of the UTF-8 character at `at`, or U+FFFD (taking one byte) when the bytes
// there are not one: truncated, overlong, a surrogate or beyond U+10FFFF.
char32_t decodeAt(std::string_view bytes, std::size_t& at) {
    if (static_cast<unsigned char>(bytes[at]) < 0x80)
        return char32_t(bytes[at++]);
    const Lead lead = leadOf(static_cast<unsigned char>(bytes[at]));
    if (lead.length == 0 || at + std::size_t(lead.length) > bytes.size()) {
        ++at;
        return 0xFFFD;
    }
    char32_t code = static_cast<unsigned char>(bytes[at]) & (0x7F >> lead.length);
    for (int i = 1; i < lead.length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + std::size_t(i)]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return 0xFFFD;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if ((code < lead.least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
        ++at;
        return 0xFFFD;
    }
    at += std::size_t(lead.length);
    return code;
}
#endif

} // namespace

char16_t FoldedUnit(char16_t unit) {
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? char16_t(unit + 0x20) : unit;
    const auto& folds = casefolding::Folds;
    const auto at = std::lower_bound(
        folds.begin(), folds.end(), unit,
        [](const casefolding::Fold& fold, char16_t wanted) { return fold.unit < wanted; });
    return at != folds.end() && at->unit == unit ? at->folded : unit;
}

bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern) {
    if (globMatch(name, pattern))
        return true;
    return pattern.ends_with(u".*") && globMatch(name, pattern.substr(0, pattern.size() - 2));
}

std::u16string NameUnits(const std::filesystem::path& name) {
    const std::filesystem::path::string_type& native = name.native();
#if defined(PARVELLO_OS_WINDOWS)
    return std::u16string(native.begin(), native.end());
#else
    std::u16string units;
    units.reserve(native.size());
    for (std::size_t at = 0; at < native.size();) {
        const char32_t code = decodeAt(native, at);
        if (code < 0x10000) {
            units.push_back(char16_t(code));
        } else {
            units.push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
    }
    return units;
#endif
}

bool MatchesWildcard(const std::filesystem::path& name, std::u16string_view pattern) {
    const std::u16string units = NameUnits(name);
    return MatchesWildcard(std::u16string_view(units), pattern);
}

} // namespace parvello
