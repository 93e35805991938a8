#include "tile_builder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace ks::testing {

namespace {

constexpr std::uint64_t kDirectory = 0x600;  // first directory entry
constexpr std::uint64_t kEntrySize = 0x200;
constexpr std::uint64_t kHeaderSpan = 0x40;

void put(Bytes& bytes, std::size_t at, std::uint64_t value, int width)
{
    for (int i = 0; i < width && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void putText(Bytes& bytes, std::size_t at, const std::string& text)
{
    for (std::size_t i = 0; i < text.size() && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(text[i]);
    }
}

Bytes entryBytes(const Entry& entry)
{
    Bytes bytes(kEntrySize, 0);
    put(bytes, 0, 1, 1);  // in use
    putText(bytes, 1, entry.name);
    putText(bytes, 9, entry.type);
    put(bytes, 0x10, entry.part, 2);
    put(bytes, 0x20, entry.firstBlock, 2);
    return bytes;
}

}  // namespace

void Image::writeTo(const std::string& path) const
{
    {
        std::ofstream out(u8(path), std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    std::filesystem::resize_file(u8(path), size);
    std::fstream out(u8(path), std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [at, bytes] : pieces) {
        out.seekp(static_cast<std::streamoff>(at));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool Image::isOnDisk(const std::string& path) const
{
    std::ifstream in(u8(path), std::ios::binary);
    if (!in || std::filesystem::file_size(u8(path)) != size) {
        return false;
    }
    for (const auto& [at, bytes] : pieces) {
        Bytes read(bytes.size());
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(read.data()), static_cast<std::streamsize>(read.size()));
        if (!in || read != bytes) {
            return false;
        }
    }
    return true;
}

TileBuilder TileBuilder::ordinary(std::uint8_t treFlags)
{
    TileBuilder b;
    b.entries({{"RGN", 10}, {"TRE", 8}, {"LBL", 12}});
    b.header(8 * 512, treFlags);
    return b;
}

TileBuilder TileBuilder::combined(const std::vector<std::uint8_t>& flags, std::uint8_t exponent)
{
    TileBuilder b;
    b.exponents(exponent, 0);
    const std::uint64_t blockSize = std::uint64_t{1} << exponent;
    const std::uint64_t firstBlock = (kDirectory + flags.size() * kEntrySize + blockSize - 1) / blockSize;
    std::vector<Entry> list;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "MAP%05zu", k % 100000);
        list.push_back({"TRE", static_cast<std::uint16_t>(firstBlock + k), 0, name});
        b.header((firstBlock + k) * blockSize, flags[k]);
    }
    b.entries(list);
    return b;
}

Bytes TileBuilder::kind(const std::string& name)
{
    static const std::map<std::string, Bytes> kinds = {
        {"o", ordinary(0x00).build()},
        {"t", ordinary(0x02).build()},
        {"m", ordinary(0x80).masked().build()},
        {"M", ordinary(0x82).masked().build()},
        {"mixed", combined({0x00, 0x02, 0x00}).build()},
        {"all", combined({0x02, 0x02, 0x02}).build()},
        {"none", combined({0x00, 0x00, 0x00}).build()},
        {"notre", ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build()},
        {"nohead", ordinary(0).treHeaderAt(-1).size(8192).build()},
        {"overflow", ordinary(0).exponents(16, 15).build()},
        {"txt", Bytes(700, 'x')},
        {"empty", Bytes{}},
    };
    return kinds.at(name);
}

TileBuilder& TileBuilder::masked(bool on) { masked_ = on; return *this; }
TileBuilder& TileBuilder::exponents(std::uint8_t e1, std::uint8_t e2) { e1_ = e1; e2_ = e2; return *this; }
TileBuilder& TileBuilder::fatEnd(std::int32_t value) { fatEndSet_ = true; fatEnd_ = value; return *this; }
TileBuilder& TileBuilder::entries(std::vector<Entry> list) { entries_ = std::move(list); return *this; }
TileBuilder& TileBuilder::size(std::uint64_t bytes) { size_ = bytes; return *this; }
TileBuilder& TileBuilder::signature(const std::string& four) { signature_ = four; return *this; }

TileBuilder& TileBuilder::treHeaderAt(std::int64_t offset)
{
    if (offset < 0) {
        headers_.clear();
    } else if (headers_.empty()) {
        headers_.emplace_back(static_cast<std::uint64_t>(offset), 0);
    } else {
        headers_[0].first = static_cast<std::uint64_t>(offset);
    }
    return *this;
}

TileBuilder& TileBuilder::header(std::uint64_t offset, std::uint8_t flags)
{
    headers_.emplace_back(offset, flags);
    return *this;
}

TileBuilder& TileBuilder::entryAt(std::uint64_t offset, Entry entry)
{
    farEntries_.emplace_back(offset, std::move(entry));
    return *this;
}

Image TileBuilder::image() const
{
    const std::uint64_t directoryEnd = kDirectory + entries_.size() * kEntrySize;
    Image image;
    Bytes head(directoryEnd, 0);
    putText(head, 0x02, "GARMIN");
    putText(head, 0x10, signature_);
    put(head, 0x61, e1_, 1);
    put(head, 0x62, e2_, 1);
    put(head, 0x40C, static_cast<std::uint32_t>(fatEndSet_ ? fatEnd_ : static_cast<std::int32_t>(directoryEnd)), 4);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        std::ranges::copy(entryBytes(entries_[k]), head.begin() + static_cast<std::ptrdiff_t>(kDirectory + k * kEntrySize));
    }
    image.pieces[0] = std::move(head);
    for (const auto& [at, entry] : farEntries_) {
        image.pieces[at] = entryBytes(entry);
    }
    for (const auto& [at, flags] : headers_) {
        Bytes header(kHeaderSpan, 0);
        put(header, 0, 0x74, 2);  // header length
        putText(header, 2, "GARMIN TRE");
        put(header, 0x3F, flags, 1);
        image.pieces[at] = std::move(header);
    }
    const auto& [lastAt, last] = *image.pieces.rbegin();
    image.size = size_.value_or(lastAt + last.size());
    // Pieces end at the end of the file, as the bytes of a shorter file would.
    for (auto it = image.pieces.begin(); it != image.pieces.end();) {
        if (it->first >= image.size) {
            it = image.pieces.erase(it);
            continue;
        }
        it->second.resize(std::min<std::uint64_t>(it->second.size(), image.size - it->first));
        if (masked_) {
            std::ranges::for_each(it->second, [](std::uint8_t& b) { b ^= 0x5B; });
        }
        ++it;
    }
    return image;
}

Bytes TileBuilder::build() const
{
    const Image image = this->image();
    Bytes bytes(image.size, masked_ ? 0x5B : 0x00);
    for (const auto& [at, piece] : image.pieces) {
        std::ranges::copy(piece, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return bytes;
}

}  // namespace ks::testing
