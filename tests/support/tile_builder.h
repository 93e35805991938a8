// Builds synthetic IMG containers byte by byte, for tests and the demo folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks::testing {

// One directory entry: its three type letters and first block number.
struct DirEntry {
    std::string type;
    std::uint16_t firstBlock = 0;
    std::uint8_t inUse = 1;  // the entry's own flag byte; the lookup ignores it
};

class TileBuilder {
public:
    // A tile with RGN, TRE and LBL entries, 512-byte blocks and the TRE header
    // at block 8 (offset 4096), with the given TRE flag byte.
    static TileBuilder ordinary(std::uint8_t treFlags);

    TileBuilder& masked(bool on = true);                     // every byte exclusive-or'd with 0x5B
    TileBuilder& exponents(std::uint8_t e1, std::uint8_t e2);
    TileBuilder& fatEnd(std::int32_t value);                 // default: just past the last entry
    TileBuilder& entries(std::vector<DirEntry> list);
    TileBuilder& treHeaderAt(std::int64_t offset);           // -1: no " TRE" header anywhere
    TileBuilder& treFlags(std::uint8_t flags);
    TileBuilder& size(std::size_t bytes);                    // default: just past the TRE header
    TileBuilder& signature(const std::string& four);         // default "DSKI"

    // The file's bytes, masked if asked for.
    std::vector<std::uint8_t> build() const;
    // Offset of the TRE flag byte in the built file.
    std::int64_t flagOffset() const { return treHeader_ + 0x3F; }

private:
    bool masked_ = false;
    std::uint8_t e1_ = 9;
    std::uint8_t e2_ = 0;
    bool fatEndSet_ = false;
    std::int32_t fatEnd_ = 0;
    std::vector<DirEntry> entries_;
    std::int64_t treHeader_ = -1;
    std::uint8_t treFlags_ = 0;
    std::size_t size_ = 0;
    std::string signature_ = "DSKI";
};

}  // namespace ks::testing
