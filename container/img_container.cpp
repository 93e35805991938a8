#include "img_container.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>


namespace ks::container {

using platform::Failure;
using platform::RunTimeError;

namespace {

constexpr std::uint32_t kMaskLong = 0x5B5B5B5BU;  // kMaskByte in all four bytes
constexpr std::uint16_t kMaskWord = 0x5B5BU;      // kMaskByte in both bytes

// Detects the mask and reads the block size and the directory end; false
// when the file is no IMG container.
bool ReadContainerHeader(MapReader& reader, ImgState& img)
{
    const auto signature = reader.read<std::uint32_t>(kSignatureOffset);
    if (signature == kDskiPlain) {
        img.XorByte = 0;
        img.XorWord = 0;
        img.XorLong = 0;
    } else if (signature == (kDskiPlain ^ kMaskLong)) {
        img.XorByte = kMaskByte;
        img.XorWord = kMaskWord;
        img.XorLong = kMaskLong;
    } else {
        return false;
    }
    const auto e1 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent1Offset) ^ img.XorByte);
    const auto e2 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent2Offset) ^ img.XorByte);
    const auto exponent = static_cast<std::uint8_t>(e1 + e2);  // wraps modulo 256 by design
    if (exponent > kLargestExponent) {
        throw RunTimeError(Failure::Overflow);
    }
    img.BlockSize = std::uint32_t{1} << exponent;
    img.FatEnd = static_cast<std::int32_t>(reader.read<std::uint32_t>(kFatEndOffset) ^ img.XorLong);
    return true;
}

// The decoded flag byte and draw priority of a TRE header, given the bytes
// read from its start; nothing when the " TRE" signature or the flag byte is
// missing, or when the header's length leaves the flag byte out. The priority
// needs a header length and bytes that reach past it.
std::optional<MapEntry> TreHeaderIn(std::span<const std::uint8_t> header, const ImgState& img)
{
    if (header.size() < kTreFlagsSpan ||
        (le::load<std::uint32_t>(header.subspan<kTreSignatureOffset, 4>()) ^ img.XorLong) != kTreSignature) {
        return std::nullopt;
    }
    const auto length = static_cast<std::uint16_t>(le::load<std::uint16_t>(header.subspan<kTreLengthOffset, 2>()) ^
                                                   img.XorWord);
    if (length < kTreFlagsSpan) {
        return std::nullopt;
    }
    MapEntry map;
    map.TreFlags = static_cast<std::uint8_t>(header[kTreFlagsOffset] ^ img.XorByte);
    if (header.size() >= kTreHeaderSpan && length >= kTreHeaderSpan) {
        map.DrawPriority = le::load<std::uint32_t, 3>(header.subspan<kTrePriorityOffset, 3>()) ^
                           (img.XorLong & kTypeMask);
    }
    return map;
}

std::optional<MapEntry> ReadTreHeader(MapReader& reader, const ImgState& img, std::uint64_t treOffset)
{
    if (reader.pastEnd(treOffset + kTreFlagsOffset)) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kTreHeaderSpan> header{};
    const auto bytes = std::span(header).first(reader.pastEnd(treOffset + kTreHeaderSpan - 1) ? kTreFlagsSpan
                                                                                               : kTreHeaderSpan);
    reader.readBytes(treOffset, bytes);
    return TreHeaderIn(bytes, img);
}

// Whether the file read from 0 onwards starts as a TRE file of its own: its
// name, and a header length that holds the flag byte. The signature read
// before has brought these bytes in already when it was there.
bool IsRawTre(MapReader& reader)
{
    if (reader.pastEnd(kSignatureOffset)) {
        return false;
    }
    std::array<std::uint8_t, kTreNameOffset + kTreName.size()> head{};
    reader.readBytes(0, head);
    const auto length = le::load<std::uint16_t>(std::span(head).subspan<kTreLengthOffset, 2>());
    return std::equal(kTreName.begin(), kTreName.end(), head.begin() + kTreNameOffset) && length >= kTreFlagsSpan;
}

// Whether name ends with suffix, ASCII letters in any case.
bool EndsWithAnyCase(std::string_view name, std::string_view suffix)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return name.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

std::string Joined(const std::string& folder, const std::string& name)
{
    const bool separated = !folder.empty() && platform::kPathSeparators.find(folder.back()) != std::string::npos;
    return separated ? folder + name : folder + platform::kPathSeparators.front() + name;
}

std::vector<std::string> BundleTreFiles(platform::FileLayer& files, const std::string& bundle)
{
    std::vector<std::string> found;
    for (const std::string& product : files.list(bundle).folders) {
        const std::string productPath = Joined(bundle, product);
        for (const std::string& tile : files.list(productPath).folders) {
            const std::string tilePath = Joined(productPath, tile);
            for (const std::string& name : files.list(tilePath).files) {
                if (EndsWithAnyCase(name, kTreSuffix)) {
                    found.push_back(Joined(tilePath, name));
                }
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::size_t ContainerMaps::transparentMaps() const
{
    return static_cast<std::size_t>(std::count_if(maps.begin(), maps.end(), [](const MapEntry& map) {
        return map.transparent();
    }));
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ContainerMaps::priorities() const
{
    std::optional<std::pair<std::uint32_t, std::uint32_t>> range;
    for (const MapEntry& map : maps) {
        if (map.DrawPriority) {
            const std::uint32_t value = *map.DrawPriority;
            range = range ? std::pair(std::min(range->first, value), std::max(range->second, value)) : std::pair(value, value);
        }
    }
    return range;
}

LookupOutcome FindMaps(MapReader& reader, ContainerMaps& found)
{
    found.maps.clear();
    found.kind = MapFileKind::Container;
    found.files.clear();
    ImgState& img = found.img;
    if (!ReadContainerHeader(reader, img)) {
        if (!IsRawTre(reader)) {
            return LookupOutcome::NotImg;
        }
        found.kind = MapFileKind::RawTre;
        img = ImgState{};
        const auto map = ReadTreHeader(reader, img, 0);
        if (!map) {
            return LookupOutcome::TreBad;
        }
        img.TreFlags = map->TreFlags;
        found.maps.push_back(*map);
        return LookupOutcome::Found;
    }
    const auto limit = static_cast<std::int32_t>(static_cast<std::uint32_t>(img.FatEnd) - 1U);
    // The directory lies before the data: the first TRE subfile found ends it,
    // however far FatEnd reaches (a TRE header read as an entry would look like one).
    std::uint64_t dataStart = UINT64_MAX;
    std::vector<MpsPart> mpsParts;  // every part of the MPS subfile, where the maps' families are
    std::vector<std::string> names;        // of each map's TRE entry
    for (img.FatPos = kFirstEntryOffset; img.FatPos <= limit && static_cast<std::uint64_t>(img.FatPos) < dataStart;
         img.FatPos += kEntrySize) {
        const auto entry = static_cast<std::uint64_t>(img.FatPos);
        if (reader.pastEnd(entry + kEntryTypeOffset)) {
            break;  // this and every later type field would read as zero bytes
        }
        const std::uint32_t type = (reader.read<std::uint32_t>(entry + kEntryTypeOffset) ^ img.XorLong) & kTypeMask;
        if (type == kTypeMps) {
            mpsParts.push_back(ReadMpsPart(reader, img, entry));  // while the entry is in the window
        }
        if (type != kTypeTre || (reader.read<std::uint16_t>(entry + kEntryPartOffset) ^ img.XorWord) != 0) {
            continue;  // another subfile, or a later part of a TRE subfile
        }
        std::array<std::uint8_t, kEntryNameSize> name{};
        reader.readBytes(entry + kEntryNameOffset, name);
        std::string& shown = names.emplace_back();
        for (const std::uint8_t byte : name) {
            shown += static_cast<char>(byte ^ img.XorByte);
        }
        MapEntry map;
        map.FatPos = img.FatPos;
        map.BlockNr = static_cast<std::uint16_t>(reader.read<std::uint16_t>(entry + kEntryBlockOffset) ^ img.XorWord);
        map.TreOffset = std::uint64_t{map.BlockNr} * img.BlockSize;
        dataStart = std::min(dataStart, map.TreOffset);
        found.maps.push_back(map);
    }
    if (found.maps.empty()) {
        return LookupOutcome::TreNotFound;
    }
    const MapEntry& first = found.maps.front();
    img.FatPos = first.FatPos;
    img.BlockNr = first.BlockNr;
    img.TreOffset = first.TreOffset;
    // The headers are read after the walk, so that the directory is read in one sweep.
    for (MapEntry& map : found.maps) {
        const auto header = ReadTreHeader(reader, img, map.TreOffset);
        if (!header) {
            return LookupOutcome::TreBad;
        }
        map.TreFlags = header->TreFlags;
        map.DrawPriority = header->DrawPriority;
    }
    img.TreFlags = first.TreFlags;
    std::vector<std::optional<MapFamily>> families;
    found.mps = ReadFamilies(reader, img, std::move(mpsParts), names, families);
    for (std::size_t i = 0; i < found.maps.size(); ++i) {
        found.maps[i].family = std::move(families[i]);
    }
    return LookupOutcome::Found;
}

std::uint8_t SwitchedFlags(std::uint8_t flags, bool transparent)
{
    return transparent ? static_cast<std::uint8_t>(flags | kTransparentBit)
                       : static_cast<std::uint8_t>(flags & ~kTransparentBit);
}

bool IsBundleName(std::string_view name)
{
    return EndsWithAnyCase(name, kBundleSuffix);
}

bool IsBundle(platform::FileLayer& files, const std::string& path)
{
    std::string_view name = path;
    while (!name.empty() && platform::kPathSeparators.find(name.back()) != std::string_view::npos) {
        name.remove_suffix(1);
    }
    return IsBundleName(name) && files.isFolder(path);
}


LookupOutcome FindBundleMaps(platform::FileLayer& files, const std::string& path, ContainerMaps& found,
                             platform::OpenMode mode)
{
    found = ContainerMaps{};
    found.kind = MapFileKind::Bundle;
    found.files = BundleTreFiles(files, path);
    if (found.files.empty()) {
        return LookupOutcome::TreNotFound;
    }
    for (std::size_t i = 0; i < found.files.size(); ++i) {
        ContainerMaps one;
        {
            const auto file = files.open(found.files[i], mode);
            MapReader reader(*file);
            if (FindMaps(reader, one) != LookupOutcome::Found || one.kind != MapFileKind::RawTre) {
                return LookupOutcome::TreBad;
            }
        }
        found.maps.push_back(one.maps.front());
        found.maps.back().File = i;
    }
    found.img.TreFlags = found.maps.front().TreFlags;
    return LookupOutcome::Found;
}

LookupOutcome ChangeOf(std::uint8_t flags, std::optional<std::uint32_t> priority, const MapChange& change,
                       ByteChange& byte)
{
    if (change.field == MapChange::Field::Transparency) {
        byte = {kTreFlagsOffset, flags, SwitchedFlags(flags, change.value != 0)};
        return LookupOutcome::Found;
    }
    if (!priority) {
        return LookupOutcome::NoPriority;
    }
    if ((*priority & ~kPriorityByte) != 0) {
        return LookupOutcome::WidePriority;
    }
    byte = {kTrePriorityOffset, static_cast<std::uint8_t>(*priority), change.value};
    return LookupOutcome::Found;
}

LookupOutcome WouldChange(const ContainerMaps& found, const MapChange& change, bool& changes)
{
    changes = false;
    for (const MapEntry& map : found.maps) {
        ByteChange byte;
        if (const LookupOutcome outcome = ChangeOf(map.TreFlags, map.DrawPriority, change, byte);
            outcome != LookupOutcome::Found) {
            return outcome;
        }
        changes = changes || byte.before != byte.after;
    }
    return LookupOutcome::Found;
}

LookupOutcome RewriteMaps(platform::MapFile& file, const ContainerMaps& found, const MapChange& change,
                          std::size_t& written, std::size_t fileIndex)
{
    written = 0;
    std::vector<std::pair<std::uint64_t, ByteChange>> planned;  // header offset, byte
    planned.reserve(found.maps.size());
    for (const MapEntry& map : found.maps) {
        if (map.File != fileIndex) {
            continue;
        }
        std::array<std::uint8_t, kTreHeaderSpan> header{};
        const std::size_t got = file.readAt(map.TreOffset, header);
        const auto now = TreHeaderIn(std::span(header).first(got), found.img);
        if (!now) {
            return LookupOutcome::TreBad;
        }
        ByteChange byte;
        if (const LookupOutcome outcome = ChangeOf(now->TreFlags, now->DrawPriority, change, byte);
            outcome != LookupOutcome::Found) {
            return outcome;
        }
        planned.emplace_back(map.TreOffset, byte);
    }
    std::unordered_set<std::uint64_t> done;  // maps sharing one TRE subfile share its bytes
    for (const auto& [treOffset, byte] : planned) {
        if (byte.after != byte.before && done.insert(treOffset + byte.offset).second) {
            file.writeByteAt(treOffset + byte.offset, static_cast<std::uint8_t>(byte.after ^ found.img.XorByte));
            ++written;
        }
    }
    return LookupOutcome::Found;
}

LookupOutcome RewriteBundle(FlushQueue& pending, const ContainerMaps& found, const MapChange& change,
                            const std::string& bundle, std::size_t& written, std::size_t& at)
{
    written = 0;
    for (at = 0; at < found.files.size(); ++at) {
        auto file = pending.open(found.files[at], platform::OpenMode::Change);
        std::size_t here = 0;  // a TRE file holds one map: a failed write has written nothing in it
        const LookupOutcome outcome = RewriteMaps(*file, found, change, here, at);
        written += here;
        if (here > 0) {
            file->finishWrites();
            pending.add(std::move(file), found.files[at], bundle);
        }
        if (outcome != LookupOutcome::Found) {
            return outcome;
        }
    }
    return LookupOutcome::Found;
}

}  // namespace ks::container
