// 32-bit signed arithmetic that wraps around (two's complement), as the programs compute
// with ints: grids, polynomial coefficients, coefficient products and power sums.
// The work is done in uint32_t, where overflow is defined, so the sanitizers stay silent.
#pragma once

#include <cstdint>

namespace console {

// a + b modulo 2^32: 2147483647 + 1 gives -2147483648.
constexpr std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// a - b modulo 2^32.
constexpr std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// a * b modulo 2^32.
constexpr std::int32_t wrap_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

}  // namespace console
