// Bit helpers shared by the quotes passes of the AVX2 and the AVX-512 levels, and the
// target attributes of the levels above SSE2 (each function of such a level carries its
// level's attribute, so that nothing of it reaches a processor without the instructions).
// Internal to src/textio/simd.
#pragma once

#include <cstdint>

#define PARVELLO_TARGET_AVX2 __attribute__((target("avx2,bmi,popcnt")))
#define PARVELLO_TARGET_AVX512VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define PARVELLO_TARGET_AVX512VBMI2                                                                \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

namespace parvello::simd {

// All bits where on, none elsewhere.
constexpr std::uint64_t allWhere(bool on) {
    return on ? ~std::uint64_t(0) : 0;
}

// A quote that ends at bit 0 of a group had two bytes in the group before, at bit 1 one:
// the bytes to take back where its first bytes go.
inline int takeBackFor(std::uint64_t ends) {
    return (0x2120 >> (4 * int(ends & 3))) & 0xF;
}

} // namespace parvello::simd
