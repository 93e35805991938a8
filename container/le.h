// Little-endian decoding: the one place where multi-byte fields are assembled.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ks::le {

// Assembles an unsigned value from N little-endian bytes, fewer than T holds.
template <std::unsigned_integral T, std::size_t N>
    requires(N <= sizeof(T))
constexpr T load(std::span<const std::uint8_t, N> bytes)
{
    T value = 0;
    for (std::size_t i = 0; i < N; ++i) {
        value = static_cast<T>(value | static_cast<T>(static_cast<T>(bytes[i]) << (8U * i)));
    }
    return value;
}

// Assembles an unsigned value from sizeof(T) little-endian bytes.
template <std::unsigned_integral T>
constexpr T load(std::span<const std::uint8_t, sizeof(T)> bytes)
{
    return load<T, sizeof(T)>(bytes);
}

}  // namespace ks::le
