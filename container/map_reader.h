// Bounds-checked little-endian reads from an open map file, served from one
// small window so that a lookup costs as few reads of the medium as it can.
#pragma once

#include <array>
#include <cstdint>

#include "le.h"
#include "platform/platform.h"

namespace ks::container {

class MapReader {
public:
    // Bytes fetched per read of the medium.
    static constexpr std::size_t kWindowSize = 4096;

    explicit MapReader(platform::MapFile& file);

    // Reads the little-endian value at offset. Bytes past the end of the file
    // read as zero. Throws RunTimeError 63 for a negative offset and 6 for a
    // position past the 32-bit range; a failed read changes nothing.
    template <std::unsigned_integral T>
    T read(std::int64_t offset)
    {
        std::array<std::uint8_t, sizeof(T)> bytes{};
        fetch(offset, bytes);
        return le::load<T>(bytes);
    }

    // Whether offset lies at or past the end of the file.
    bool pastEnd(std::int64_t offset) const;

private:
    void fetch(std::int64_t offset, std::span<std::uint8_t> out);

    platform::MapFile& file_;
    std::uint64_t fileSize_;
    std::array<std::uint8_t, kWindowSize> window_;  // valid for windowLength_ bytes from windowStart_
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
};

}  // namespace ks::container
