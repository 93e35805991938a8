// Every map of an IMG container: the walk over the whole directory that finds
// the TRE subfile, and so the flag byte, of each map a combined container holds.
#pragma once

#include <cstdint>
#include <vector>

#include "img_container.h"
#include "map_reader.h"

namespace ks::container {

// One map of a container: the first directory entry of its TRE subfile and
// the flag byte that entry leads to.
struct MapEntry {
    std::uint64_t name = 0;        // the 8 name bytes at entry + 1, decoded, read little-endian
    std::int32_t FatPos = 0;       // directory entry of the subfile's first part
    std::int16_t BlockNr = 0;      // first block of the TRE subfile
    std::int32_t TreOffset = 0;    // offset of the TRE subfile header
    std::uint8_t TreFlags = 0;     // decoded TRE flag byte

    // File offset of the flag byte.
    std::int64_t flagOffset() const { return std::int64_t{TreOffset} + kTreFlagsOffset; }
};

// What the walk found. Maps are in directory order.
struct ContainerMaps {
    std::uint8_t XorByte = 0;     // 0x00 plain, 0x5B masked
    std::int32_t BlockSize = 0;   // container block size in bytes
    std::int32_t FatEnd = 0;      // first offset past the directory
    std::vector<MapEntry> maps;   // complete only when the walk returns Found
};

// Walks the directory with the bounds, mask and type test of TreLookup but
// past the first TRE entry, up to where the first listed TRE subfile begins:
// each TRE entry whose name no earlier TRE entry had starts a map, a repeated
// name is a later part of that map's subfile. Returns Found once every map's
// " TRE" header and flag byte are there; otherwise the first problem in
// directory order. For a container with one map the outcome, TreOffset and
// TreFlags equal TreLookup's. Throws RunTimeError 6 (overflow) or 63
// (position before the start of the file).
LookupOutcome FindMaps(MapReader& reader, ContainerMaps& result);

}  // namespace ks::container
