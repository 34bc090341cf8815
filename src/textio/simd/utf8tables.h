// The tables of the vector UTF-8 check, shared by the AVX2 and the AVX-512 levels.
// Internal to src/textio/simd.
#pragma once

#include <cstdint>

// UTF-8 checked 32 bytes at a time without looking at single sequences: each byte is
// classified by table lookups on its high nibble and on both nibbles of the byte before it,
// and the classes of the two must agree (the method of Keiser and Lemire, "Validating UTF-8
// in less than one instruction per byte"). It accepts exactly what decodeSequence accepts.
namespace parvello::simd::utf8check {

constexpr std::uint8_t TooShort = 1 << 0;     // a lead byte not followed by a continuation
constexpr std::uint8_t TooLong = 1 << 1;      // ASCII followed by a continuation
constexpr std::uint8_t Overlong3 = 1 << 2;    // E0 80..9F
constexpr std::uint8_t TooLarge = 1 << 3;     // F4 90..BF, F5..FF
constexpr std::uint8_t Surrogate = 1 << 4;    // ED A0..BF
constexpr std::uint8_t Overlong2 = 1 << 5;    // C0, C1
constexpr std::uint8_t TooLarge1000 = 1 << 6; // F5..FF 80..8F
constexpr std::uint8_t Overlong4 = 1 << 6;    // F0 80..8F
constexpr std::uint8_t TwoConts = 1 << 7;     // a continuation after a continuation
constexpr std::uint8_t Carry = TooShort | TooLong | TwoConts;

// What each byte's high nibble, the byte before's high nibble and the byte before's low
// nibble say may be wrong; a pair is wrong where all three agree on a bit.
constexpr std::uint8_t Byte1High[16] = {TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TwoConts,
                                        TwoConts,
                                        TwoConts,
                                        TwoConts,
                                        TooShort | Overlong2,
                                        TooShort,
                                        TooShort | Overlong3 | Surrogate,
                                        TooShort | TooLarge | TooLarge1000 | Overlong4};
constexpr std::uint8_t Byte1Low[16] = {Carry | Overlong3 | Overlong2 | Overlong4,
                                       Carry | Overlong2,
                                       Carry,
                                       Carry,
                                       Carry | TooLarge,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000 | Surrogate,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000};
constexpr std::uint8_t Byte2High[16] = {TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge1000 |
                                            Overlong4,
                                        TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge,
                                        TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,
                                        TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort};

} // namespace parvello::simd::utf8check
