// The processor levels of the vector code, the one probe of what the processor offers, and
// the level the program runs, chosen once when it starts.
#pragma once

#include <optional>
#include <string_view>

// The vector levels exist on x86-64 with GCC or Clang, unless the build asks for the plain
// loops only (the CMake option PARVELLO_NO_VECTORS).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(PARVELLO_NO_VECTORS)
#define PARVELLO_X86_VECTORS 1
#else
#define PARVELLO_X86_VECTORS 0
#endif

namespace parvello {

// Which version of the loops runs; each level includes the ones below it.
enum class ScanLevel {
    Plain,       // one unit at a time: the reference, on every system
    Sse2,        // 16 bytes at a time (every x86-64 processor)
    Avx2,        // 32 bytes at a time; the quotes pass 64 bytes a group (AVX2, BMI1, POPCNT)
    Avx512Vbmi,  // as Avx2, and the UTF-8 check 64 bytes at a time (AVX-512 F, BW and VBMI)
    Avx512Vbmi2, // as Avx512Vbmi, and the quotes pass with compress and expand (VBMI2, BMI2)
};

// The highest level this build and processor run: the one probe of the processor.
ScanLevel OfferedScanLevel();

// The level the program runs: the offered one, or a lower one named by the environment
// variable PARVELLO_VECTOR_LEVEL (plain, sse2, avx2, avx512vbmi or avx512vbmi2; a level
// above the offered one, or a name it does not know, leaves the offered one). Chosen once
// before main.
extern const ScanLevel chosenScanLevel;

inline ScanLevel ChosenScanLevel() {
    return chosenScanLevel;
}
// Whether the given level runs here: at most the chosen one.
inline bool ScanLevelAvailable(ScanLevel level) {
    return level <= chosenScanLevel;
}

// The name of a level as PARVELLO_VECTOR_LEVEL writes it, and the level of such a name.
const char* ScanLevelName(ScanLevel level);
std::optional<ScanLevel> ScanLevelNamed(std::string_view name);

} // namespace parvello
