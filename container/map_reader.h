// Bounds-checked little-endian reads from an open map file, served from one
// window of the file so that a lookup costs as few reads of the medium as it can.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "le.h"
#include "platform/files.h"

namespace ks::container {

class MapReader {
public:
    // Bytes fetched by a read of the medium; a forward sweep, as through a
    // long directory, doubles them up to kLargestWindow.
    static constexpr std::size_t kWindowSize = 4096;
    static constexpr std::size_t kLargestWindow = 64 * 1024;

    explicit MapReader(platform::MapFile& file);

    // Reads the little-endian value at offset; bytes past the end of the file
    // read as zero. Throws the file layer's RunTimeError; a failed read changes nothing.
    template <std::unsigned_integral T>
    T read(std::uint64_t offset)
    {
        std::array<std::uint8_t, sizeof(T)> bytes{};
        readBytes(offset, bytes);
        return le::load<T>(bytes);
    }

    // Fills out with the bytes at offset, zero past the end of the file.
    // Throws the file layer's RunTimeError; a failed read changes nothing.
    void readBytes(std::uint64_t offset, std::span<std::uint8_t> out);

    // Whether offset lies at or past the end of the file.
    bool pastEnd(std::uint64_t offset) const { return offset >= fileSize_; }

private:

    platform::MapFile& file_;
    std::uint64_t fileSize_;
    std::vector<std::uint8_t> window_;  // valid for windowLength_ bytes from windowStart_
    std::vector<std::uint8_t> spare_;   // the next window, until its read has succeeded
    std::size_t windowSize_ = kWindowSize;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
};

}  // namespace ks::container
