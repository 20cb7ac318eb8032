// Fixed-width integer types of the runtime. Lengths and counts are u64 everywhere.
#pragma once

#include <cstdint>

using u8 = std::uint8_t;
using s8 = std::int8_t;
using u16 = std::uint16_t;
using s16 = std::int16_t;
using u32 = std::uint32_t;
using s32 = std::int32_t;
using u64 = std::uint64_t;
using s64 = std::int64_t;
__extension__ typedef unsigned __int128 u128;
__extension__ typedef __int128 s128;

static_assert(sizeof(u128) == 16 && sizeof(s128) == 16);
