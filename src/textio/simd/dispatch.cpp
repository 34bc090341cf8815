// The one probe of the processor, the level chosen before main, and the table of each level.
#include "textio/simd/entries.h"

#include <cstdlib>

namespace parvello {

namespace {

using namespace simd;

constexpr ScanKernels plainKernels = {
    ScanLevel::Plain,        plain::findLineBreak,    plain::findCarriageReturn,
    plain::findAnyOf3,       plain::encodeUtf8,       plain::findAnyOf3Bytes,
    plain::asciiPrefix,      plain::widenAscii,       plain::decodeUtf16,
    plain::decodeSingleByte, plain::encodeSingleByte, plain::skipNonSurrogates,
    plain::feedUtf8,         plain::finishUtf8,       false,
    plain::quotesPassBytes,  plain::quotesPassUnits};

#if PARVELLO_X86_VECTORS
constexpr ScanKernels sse2Kernels = {
    ScanLevel::Sse2,        sse2::findLineBreak,    sse2::findCarriageReturn,
    sse2::findAnyOf3,       sse2::encodeUtf8,       sse2::findAnyOf3Bytes,
    sse2::asciiPrefix,      sse2::widenAscii,       sse2::decodeUtf16,
    sse2::decodeSingleByte, sse2::encodeSingleByte, sse2::skipNonSurrogates,
    sse2::feedUtf8,         plain::finishUtf8,      false,
    plain::quotesPassBytes, plain::quotesPassUnits};

constexpr ScanKernels avx2Kernels = {
    ScanLevel::Avx2,        avx2::findLineBreak,    avx2::findCarriageReturn,
    avx2::findAnyOf3,       avx2::encodeUtf8,       avx2::findAnyOf3Bytes,
    avx2::asciiPrefix,      avx2::widenAscii,       sse2::decodeUtf16,
    sse2::decodeSingleByte, sse2::encodeSingleByte, sse2::skipNonSurrogates,
    avx2::feedUtf8,         avx2::finishUtf8,       true,
    avx2::quotesPassBytes,  avx2::quotesPassUnits};

constexpr ScanKernels avx512VbmiKernels = {
    ScanLevel::Avx512Vbmi,  avx2::findLineBreak,    avx2::findCarriageReturn,
    avx2::findAnyOf3,       avx2::encodeUtf8,       avx2::findAnyOf3Bytes,
    avx2::asciiPrefix,      avx2::widenAscii,       sse2::decodeUtf16,
    sse2::decodeSingleByte, sse2::encodeSingleByte, sse2::skipNonSurrogates,
    avx512::feedUtf8,       avx512::finishUtf8,     true,
    avx2::quotesPassBytes,  avx2::quotesPassUnits};

constexpr ScanKernels avx512Vbmi2Kernels = {
    ScanLevel::Avx512Vbmi2,  avx2::findLineBreak,    avx2::findCarriageReturn,
    avx2::findAnyOf3,        avx2::encodeUtf8,       avx2::findAnyOf3Bytes,
    avx2::asciiPrefix,       avx2::widenAscii,       sse2::decodeUtf16,
    sse2::decodeSingleByte,  sse2::encodeSingleByte, sse2::skipNonSurrogates,
    avx512::feedUtf8,        avx512::finishUtf8,     true,
    avx512::quotesPassBytes, avx512::quotesPassUnits};
#endif

constexpr const char* LevelNames[] = {"plain", "sse2", "avx2", "avx512vbmi", "avx512vbmi2"};

// The offered level, lowered to the one PARVELLO_VECTOR_LEVEL names.
ScanLevel chooseLevel() {
    const ScanLevel offered = OfferedScanLevel();
    const char* const name = std::getenv("PARVELLO_VECTOR_LEVEL");
    const std::optional<ScanLevel> wanted = name ? ScanLevelNamed(name) : std::nullopt;
    return wanted && *wanted < offered ? *wanted : offered;
}

} // namespace

ScanLevel OfferedScanLevel() {
#if PARVELLO_X86_VECTORS
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") ||
        !__builtin_cpu_supports("popcnt"))
        return ScanLevel::Sse2;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
        !__builtin_cpu_supports("avx512vbmi"))
        return ScanLevel::Avx2;
    if (!__builtin_cpu_supports("avx512vbmi2") || !__builtin_cpu_supports("bmi2"))
        return ScanLevel::Avx512Vbmi;
    return ScanLevel::Avx512Vbmi2;
#else
    return ScanLevel::Plain;
#endif
}

const char* ScanLevelName(ScanLevel level) {
    return LevelNames[int(level)];
}

std::optional<ScanLevel> ScanLevelNamed(std::string_view name) {
    for (int k = 0; k < int(std::size(LevelNames)); ++k)
        if (name == LevelNames[k])
            return ScanLevel(k);
    return std::nullopt;
}

const ScanLevel chosenScanLevel = chooseLevel();

const ScanKernels& ScanKernelsFor(ScanLevel level) {
    switch (level <= chosenScanLevel ? level : ScanLevel::Plain) {
#if PARVELLO_X86_VECTORS
    case ScanLevel::Avx512Vbmi2:
        return avx512Vbmi2Kernels;
    case ScanLevel::Avx512Vbmi:
        return avx512VbmiKernels;
    case ScanLevel::Avx2:
        return avx2Kernels;
    case ScanLevel::Sse2:
        return sse2Kernels;
#endif
    default:
        return plainKernels;
    }
}

const ScanKernels& scanKernels = ScanKernelsFor(chosenScanLevel);

} // namespace parvello
