#include "multi_map.h"

#include <algorithm>
#include <concepts>
#include <limits>
#include <unordered_set>


namespace ks::container {

namespace {

constexpr std::int64_t kEntryNameOffset = 1;  // 8 bytes, the subfile's name

// byte repeated in every byte of a T.
template <std::unsigned_integral T>
constexpr T spread(std::uint8_t byte)
{
    return static_cast<T>(std::numeric_limits<T>::max() / 0xFFU * byte);
}

}  // namespace

LookupOutcome FindMaps(MapReader& reader, ContainerMaps& result)
{
    result.maps.clear();
    ImgState state;
    if (!ReadContainerHeader(reader, state)) {
        return LookupOutcome::NotImg;
    }
    result.XorByte = state.XorByte;
    result.BlockSize = state.BlockSize;
    result.FatEnd = state.FatEnd;
    const auto xorQuad = spread<std::uint64_t>(state.XorByte);

    std::unordered_set<std::uint64_t> names;
    // Where the first listed TRE subfile begins: the directory lies before
    // the data, so once a map is found the walk ends there even when FatEnd
    // reaches further (a TRE header read as an entry would look like one).
    std::int64_t dataStart = std::numeric_limits<std::int64_t>::max();
    for (auto entry = NextTreEntry(reader, state, kFirstEntryOffset); entry;
         entry = NextTreEntry(reader, state, NextEntry(*entry), dataStart)) {
        const std::uint64_t name = reader.read<std::uint64_t>(std::int64_t{*entry} + kEntryNameOffset) ^ xorQuad;
        if (!names.insert(name).second) {
            continue;  // a later part of a TRE subfile already listed
        }
        MapEntry map;
        map.name = name;
        map.FatPos = *entry;
        map.TreOffset = TreHeaderOffset(reader, state, *entry, map.BlockNr);
        dataStart = std::min(dataStart, std::int64_t{map.TreOffset});
        result.maps.push_back(map);
    }
    if (result.maps.empty()) {
        return LookupOutcome::TreNotFound;
    }

    // The headers are read after the walk so that the directory is read in one sweep.
    for (MapEntry& map : result.maps) {
        const auto flags = ReadTreFlags(reader, state, map.TreOffset);
        if (!flags) {
            return LookupOutcome::TreBad;
        }
        map.TreFlags = *flags;
    }
    return LookupOutcome::Found;
}

}  // namespace ks::container
