// Builds IMG containers byte by byte, as small files or as sparse images
// whose maps lie gigabytes apart, for tests, the demo folder, the benchmark
// and the fuzzer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace ks::testing {

// A container's size and the ranges that hold its bytes; zeros elsewhere.
struct Image {
    std::uint64_t size = 0;
    std::map<std::uint64_t, Bytes> pieces;

    // Writes the image to path as a sparse file.
    void writeTo(const std::string& path) const;
    // Whether the file at path has this size and these bytes in every piece.
    bool isOnDisk(const std::string& path) const;
};

// One directory entry; the lookup reads its name, type, part and first block.
struct Entry {
    std::string type;
    std::uint16_t firstBlock = 0;
    std::uint16_t part = 0;
    std::string name = "TESTTILE";
};

class TileBuilder {
public:
    // A tile with RGN, TRE and LBL entries, 512-byte blocks and the TRE header
    // at block 8 (offset 4096) with the given flag byte, which ends the file.
    static TileBuilder ordinary(std::uint8_t treFlags);
    // A container of maps named MAP00000, ... with the given flag bytes: one
    // TRE entry each, headers in consecutive blocks of 2^exponent bytes after the directory.
    static TileBuilder combined(const std::vector<std::uint8_t>& flags, std::uint8_t exponent = 9);

    TileBuilder& masked(bool on = true);                  // every byte exclusive-or'd with 0x5B
    TileBuilder& exponents(std::uint8_t e1, std::uint8_t e2);
    TileBuilder& fatEnd(std::int32_t value);              // default: just past the last entry
    TileBuilder& entries(std::vector<Entry> list);
    TileBuilder& treHeaderAt(std::int64_t offset);        // moves the first header; -1: no header at all
    TileBuilder& header(std::uint64_t offset, std::uint8_t flags);  // one more " TRE" header
    TileBuilder& entryAt(std::uint64_t offset, Entry entry);        // a directory entry far out
    TileBuilder& size(std::uint64_t bytes);               // default: just past the last header or entry
    TileBuilder& signature(const std::string& four);      // default "DSKI"

    // A file by a short name, for tables of folders: o and t (an ordinary
    // tile, opaque or transparent), m and M (masked, 0x80 and 0x82), mixed
    // (three maps, the middle one transparent), all and none (all three
    // transparent or opaque), notre, nohead, overflow (broken maps), txt, empty.
    static Bytes kind(const std::string& name);

    // The whole file; for images of a few megabytes at most.
    Bytes build() const;
    Image image() const;
    // Offset of the first header's flag byte.
    std::uint64_t flagOffset() const { return headers_.at(0).first + 0x3F; }

private:
    bool masked_ = false;
    std::uint8_t e1_ = 9;
    std::uint8_t e2_ = 0;
    bool fatEndSet_ = false;
    std::int32_t fatEnd_ = 0;
    std::vector<Entry> entries_;
    std::vector<std::pair<std::uint64_t, Entry>> farEntries_;
    std::vector<std::pair<std::uint64_t, std::uint8_t>> headers_;  // offset, flag byte
    std::optional<std::uint64_t> size_;
    std::string signature_ = "DSKI";
};

}  // namespace ks::testing
