#include "tile_builder.h"

#include <algorithm>
#include <cstring>

namespace ks::testing {

namespace {

void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        if (at + i < bytes.size()) {
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
}

void putText(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text)
{
    for (std::size_t i = 0; i < text.size() && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(text[i]);
    }
}

}  // namespace

TileBuilder TileBuilder::ordinary(std::uint8_t treFlags)
{
    TileBuilder b;
    b.entries({{"RGN", 10}, {"TRE", 8}, {"LBL", 12}});
    b.treHeaderAt(8 * 512);
    b.treFlags(treFlags);
    b.size(14 * 512);
    return b;
}

TileBuilder& TileBuilder::masked(bool on) { masked_ = on; return *this; }
TileBuilder& TileBuilder::exponents(std::uint8_t e1, std::uint8_t e2) { e1_ = e1; e2_ = e2; return *this; }
TileBuilder& TileBuilder::fatEnd(std::int32_t value) { fatEndSet_ = true; fatEnd_ = value; return *this; }
TileBuilder& TileBuilder::entries(std::vector<DirEntry> list) { entries_ = std::move(list); return *this; }
TileBuilder& TileBuilder::treHeaderAt(std::int64_t offset) { treHeader_ = offset; return *this; }
TileBuilder& TileBuilder::treFlags(std::uint8_t flags) { treFlags_ = flags; return *this; }
TileBuilder& TileBuilder::size(std::size_t bytes) { size_ = bytes; return *this; }
TileBuilder& TileBuilder::signature(const std::string& four) { signature_ = four; return *this; }

std::vector<std::uint8_t> TileBuilder::build() const
{
    const std::size_t directoryEnd = 0x600 + entries_.size() * 0x200;
    std::size_t total = size_;
    if (total == 0) {
        total = std::max<std::size_t>(directoryEnd, treHeader_ >= 0 ? treHeader_ + 0x40 : 0);
    }
    std::vector<std::uint8_t> bytes(total, 0);
    putText(bytes, 0x02, "GARMIN");
    putText(bytes, 0x10, signature_);
    put(bytes, 0x61, e1_, 1);
    put(bytes, 0x62, e2_, 1);
    put(bytes, 0x40C, static_cast<std::uint32_t>(fatEndSet_ ? fatEnd_ : static_cast<std::int32_t>(directoryEnd)), 4);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const std::size_t at = 0x600 + k * 0x200;
        put(bytes, at, entries_[k].inUse, 1);
        putText(bytes, at + 1, "TESTTILE");
        putText(bytes, at + 9, entries_[k].type);
        put(bytes, at + 0x20, entries_[k].firstBlock, 2);
    }
    if (treHeader_ >= 0) {
        const auto at = static_cast<std::size_t>(treHeader_);
        put(bytes, at, 0x74, 2);  // header length
        putText(bytes, at + 2, "GARMIN TRE");
        put(bytes, at + 0x3F, treFlags_, 1);
    }
    if (masked_) {
        for (auto& b : bytes) {
            b ^= 0x5B;
        }
    }
    return bytes;
}

}  // namespace ks::testing
