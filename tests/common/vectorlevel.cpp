// Linked into the tests that CTest runs once per processor level: a run whose
// PARVELLO_VECTOR_LEVEL names a level above what this processor offers would only repeat a
// lower level, so it says so and ends before the tests, and CTest counts it as skipped. A
// name that is no level fails the run.
#include "textio/simd/level.h"

#include <cstdio>
#include <cstdlib>

namespace {

const bool levelChecked = [] {
    const char* const name = std::getenv("PARVELLO_VECTOR_LEVEL");
    if (!name)
        return true;
    const std::optional<parvello::ScanLevel> level = parvello::ScanLevelNamed(name);
    if (!level) {
        std::fprintf(stderr, "PARVELLO_VECTOR_LEVEL=%s names no processor level\n", name);
        std::exit(1);
    }
    const parvello::ScanLevel offered = parvello::OfferedScanLevel();
    if (*level > offered) {
        std::printf("SKIPPED: this processor does not offer the level %s (it offers %s)\n", name,
                    parvello::ScanLevelName(offered));
        std::fflush(stdout);
        std::_Exit(0);
    }
    return true;
}();

} // namespace
