// File attributes in the Windows integer form, on every platform: what the folder scan tests
// and what the window's platform queries answer.
#pragma once

namespace parvello::attributes {
inline constexpr int ReadOnly = 1;
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;
inline constexpr int ReparsePoint = 1024;
} // namespace parvello::attributes
