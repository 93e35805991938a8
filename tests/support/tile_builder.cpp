#include "tile_builder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ks::testing {

namespace {

constexpr std::uint64_t kDirectory = 0x600;  // first directory entry
constexpr std::uint64_t kEntrySize = 0x200;
constexpr std::uint64_t kHeaderSpan = 0x40;  // a TRE header up to its flag byte

// Writes value's `width` low bytes little-endian at `at`, and text after them.
void put(Bytes& bytes, std::size_t at, std::uint64_t value, int width, const std::string& text = "")
{
    for (int i = 0; i < width; ++i) {
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + width));
}

Bytes entryBytes(const Entry& entry)
{
    Bytes bytes(kEntrySize, 0);
    put(bytes, 0, 1, 1, entry.name);  // in use
    put(bytes, 9, 0, 0, entry.type);
    put(bytes, 0x0C, entry.size, 4);
    put(bytes, 0x10, entry.part, 2);
    put(bytes, 0x20, entry.firstBlock, 2);
    for (std::size_t i = 0; i < entry.moreBlocks.size(); ++i) {
        put(bytes, 0x22 + 2 * i, entry.moreBlocks[i], 2);
    }
    put(bytes, 0x22 + 2 * entry.moreBlocks.size(), entry.size == 0 ? 0 : 0xFFFF, entry.moreBlocks.size() < 239 ? 2 : 0);
    return bytes;
}

}  // namespace

void Image::writeTo(const std::string& path) const
{
    std::ofstream(u8(path), std::ios::binary | std::ios::trunc).close();
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
    bool same = in && std::filesystem::file_size(u8(path)) == size;
    for (const auto& [at, bytes] : pieces) {
        Bytes read(bytes.size());
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(read.data()), static_cast<std::streamsize>(read.size()));
        same = same && in && read == bytes;
    }
    return same;
}

TileBuilder TileBuilder::ordinary(std::uint8_t treFlags)
{
    return TileBuilder().entries({{"RGN", 10}, {"TRE", 8}, {"LBL", 12}}).header(8 * 512, treFlags);
}

TileBuilder TileBuilder::combined(const std::vector<std::uint8_t>& flags, std::uint8_t exponent)
{
    TileBuilder b;
    b.exponents(exponent, 0);
    const std::uint64_t blockSize = std::uint64_t{1} << exponent;
    const std::uint64_t firstBlock = (kDirectory + flags.size() * kEntrySize + blockSize - 1) / blockSize;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "MAP%05zu", k % 100000);
        b.entries_.push_back({"TRE", static_cast<std::uint16_t>(firstBlock + k), 0, name});
        b.header((firstBlock + k) * blockSize, flags[k]);
    }
    return b;
}

TileBuilder TileBuilder::joined(const std::vector<std::uint8_t>& flags, const std::vector<std::uint16_t>& families,
                                std::uint8_t exponent, const std::string& prefix)
{
    constexpr std::size_t kBlocksPerEntry = 240;
    constexpr std::uint32_t kFirstNumber = 63300000;
    Bytes mps;
    const auto record = [&mps](char type, const Bytes& body) {
        mps.push_back(static_cast<std::uint8_t>(type));
        mps.push_back(static_cast<std::uint8_t>(body.size()));
        mps.push_back(static_cast<std::uint8_t>(body.size() >> 8));
        mps.insert(mps.end(), body.begin(), body.end());
    };
    for (std::size_t k = 0; k < flags.size(); ++k) {
        Bytes body(8, 0);
        put(body, 0, 1, 2);
        put(body, 2, families.at(k), 2);
        put(body, 4, kFirstNumber + k, 4);
        const std::string texts = std::string("Serie") + '\0' + "Karte " + std::to_string(k) + '\0' + "Gebiet" + '\0';
        body.insert(body.end(), texts.begin(), texts.end());
        body.resize(body.size() + 8, 0);
        put(body, body.size() - 8, kFirstNumber + k, 4);
        record('L', body);
    }
    std::vector<std::uint16_t> ids(families.begin(), families.end());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (const std::uint16_t id : ids) {
        const std::string name = prefix + std::to_string(id);
        Bytes body(4 + name.size() + 1, 0);  // the name ends with a zero byte
        put(body, 0, 1, 2);
        put(body, 2, id, 2, name);
        record('F', body);
    }
    const std::uint64_t blockSize = std::uint64_t{1} << exponent;
    const std::size_t mpsBlocks = (mps.size() + blockSize - 1) / blockSize;
    const std::size_t mpsEntries = (mpsBlocks + kBlocksPerEntry - 1) / kBlocksPerEntry;
    TileBuilder b = combined(flags, exponent);
    const std::uint64_t shift = (mpsEntries * kEntrySize + blockSize - 1) / blockSize;  // the directory grows
    b.headers_.clear();
    for (std::size_t k = 0; k < flags.size(); ++k) {
        Entry& entry = b.entries_[k];
        entry.firstBlock = static_cast<std::uint16_t>(entry.firstBlock + shift);
        entry.name = std::to_string(kFirstNumber + k);
        b.header(entry.firstBlock * blockSize, flags[k]);
    }
    const std::uint64_t mpsStart = b.entries_.empty() ? 2 + shift : b.entries_.back().firstBlock + 1U;
    for (std::size_t part = 0; part < mpsEntries; ++part) {
        Entry entry{"MPS", static_cast<std::uint16_t>(mpsStart + part * kBlocksPerEntry), static_cast<std::uint16_t>(part),
                    "KARTEN  ", {}, static_cast<std::uint32_t>(mps.size())};
        for (std::size_t i = part * kBlocksPerEntry + 1; i < std::min(mpsBlocks, (part + 1) * kBlocksPerEntry); ++i) {
            entry.moreBlocks.push_back(static_cast<std::uint16_t>(mpsStart + i));
        }
        b.entries_.insert(b.entries_.begin() + static_cast<std::ptrdiff_t>(part), entry);
    }
    b.data_[mpsStart * blockSize] = mps;
    return b;
}

Bytes TileBuilder::kind(const std::string& name)
{
    static const std::map<std::string, Bytes> kinds = {
        {"o", ordinary(0x00).build()}, {"t", ordinary(0x02).build()},
        {"m", ordinary(0x80).masked().build()}, {"M", ordinary(0x82).masked().build()},
        {"mixed", combined({0x00, 0x02, 0x00}).build()}, {"all", combined({0x02, 0x02, 0x02}).build()},
        {"none", combined({0x00, 0x00, 0x00}).build()}, {"txt", Bytes(700, 'x')}, {"empty", Bytes{}},
        {"notre", ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build()},
        {"nohead", ordinary(0).treHeaderAt(-1).size(8192).build()}, {"overflow", ordinary(0).exponents(16, 15).build()},
        {"p", ordinary(0).priority(25).build()}, {"p0", ordinary(0).priority(0).build()},
        {"p8", ordinary(0).priority(8).build()}, {"p10", ordinary(0).priority(10).build()},
        {"mp", ordinary(0).priority(25).masked().build()}, {"mp0", ordinary(0).priority(0).masked().build()},
        {"wide", ordinary(0).priority(0x0119).build()}, {"tre", treFile(0)}, {"tret", treFile(2)},
        {"tre0", treFile(0, 0)}, {"trew", treFile(0, 0x0119)}, {"cut", [] { Bytes b = treFile(0); b.resize(0x30); return b; }()},
        {"tre40", [] { Bytes b = treFile(0); b.resize(0x40); return b; }()},
        {"spread", [] { Bytes b = combined({0, 2}).priority(12).build(); b[0xC40] = 31; return b; }()},
        {"hlen0", [] { Bytes b(5047, 0); put(b, 0, 0, 2, "GARMIN TRE"); return b; }()},
        {"short", [] { Bytes b = ordinary(0).masked().build(); b[0x1000] = 0x20 ^ 0x5B; return b; }()},
        {"fam", joined({0, 0, 2, 2}, {7, 7, 9, 9}).build()}, {"famt", joined({2, 2, 2, 2}, {7, 7, 9, 9}).build()},
        {"famx", joined({0}, {7}, 9, "\x1b[2J\xe2\x80\xae").build()},
    };
    if (name == "card" || name == "cardo") {  // mkgmap's sample, read only when asked for
        Bytes b = readFile(KS_SAMPLE_DIR "/families.img");
        if (name == "cardo") {
            b.at(0x443F) &= 0xFD, b.at(0x503F) &= 0xFD;  // the flag bytes of maps 63290010 and 63290011
        }
        return b;
    }
    return kinds.at(name);
}

Bytes TileBuilder::treFile(std::uint8_t flags, std::uint32_t priority)
{
    Bytes bytes(0xBC, 0);
    put(bytes, 0, bytes.size(), 2, "GARMIN TRE");
    bytes[0x3F] = flags;
    put(bytes, 0x40, priority, 3);
    return bytes;
}

TileBuilder& TileBuilder::treHeaderAt(std::int64_t offset)
{
    offset < 0 ? headers_.clear() : void(headers_.at(0).first = static_cast<std::uint64_t>(offset));
    return *this;
}

Image TileBuilder::image() const
{
    const std::uint64_t directoryEnd = kDirectory + entries_.size() * kEntrySize;
    Image image;
    Bytes& head = image.pieces[0] = Bytes(directoryEnd, 0);
    put(head, 0x02, 0, 0, "GARMIN");
    put(head, 0x10, 0, 0, signature_);
    put(head, 0x61, e1_, 1);
    put(head, 0x62, e2_, 1);
    put(head, 0x40C, static_cast<std::uint32_t>(fatEnd_.value_or(static_cast<std::int32_t>(directoryEnd))), 4);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        std::ranges::copy(entryBytes(entries_[k]), head.begin() + static_cast<std::ptrdiff_t>(kDirectory + k * kEntrySize));
    }
    for (const auto& [at, entry] : farEntries_) {
        image.pieces[at] = entryBytes(entry);
    }
    for (const auto& [at, bytes] : data_) {
        image.pieces[at] = bytes;
    }
    for (const auto& [at, flags] : headers_) {
        Bytes& header = image.pieces[at] = Bytes(priority_ ? kHeaderSpan + 3 : kHeaderSpan, 0);
        put(header, 0, priority_ ? 0x43 : kHeaderSpan, 2, "GARMIN TRE");  // header length (just long enough), then the signature
        header[0x3F] = flags;
        put(header, 0x40, priority_.value_or(0), priority_ ? 3 : 0);
    }
    image.size = size_.value_or(image.pieces.rbegin()->first + image.pieces.rbegin()->second.size());
    // Pieces end at the end of the file, as the bytes of a shorter file would.
    std::erase_if(image.pieces, [&](const auto& piece) { return piece.first >= image.size; });
    for (auto& [at, bytes] : image.pieces) {
        bytes.resize(std::min<std::uint64_t>(bytes.size(), image.size - at));
        std::ranges::for_each(bytes, [this](std::uint8_t& b) { b ^= masked_ ? 0x5B : 0x00; });
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

void putFiles(const TempDir& folder, const std::string& files, std::map<std::string, Bytes>& written)
{
    for (const std::string& file : split(files, ' ')) {
        const std::string name = file.substr(0, file.rfind('='));
        const std::string kind = file.substr(file.rfind('=') + 1);
        if (kind.starts_with('@')) {
            std::filesystem::create_symlink(u8(kind.substr(1)), u8(folder.file(name)));
            continue;
        }
        written[name] = TileBuilder::kind(kind.substr(0, kind.find(',')));
        folder.put(name, written[name]);
        if (kind.ends_with(",ro")) {
            makeReadOnly(folder.file(name));
        }
    }
}

void putDemoFolder(const std::string& folder)
{
    namespace fs = std::filesystem;
    for (const std::string& file : split(kDemoFiles, ' ')) {
        const std::string kind = file.substr(file.rfind('=') + 1);
        const fs::path path = u8(folder) / u8(file.substr(0, file.rfind('=')));
        fs::create_directories(path.parent_path());
        if (fs::exists(path)) {
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        }
        writeFile(u8(path), TileBuilder::kind(kind.substr(0, kind.find(','))));
        if (kind.ends_with(",ro")) {
            makeReadOnly(u8(path));
        }
    }
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        part.erase(0, part.find_first_not_of(' '));
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

}  // namespace ks::testing
