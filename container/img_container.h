// Garmin map files: the walk from the start of an IMG container, a TRE file
// of its own or a map bundle to the TRE flag byte and draw priority of every
// map it holds, and the one writer that rewrites those bytes. No window here:
// what is found and what failed come back as values and run-time errors.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "families.h"
#include "flush_queue.h"
#include "map_reader.h"
#include "platform/files.h"

namespace ks::container {

// Container layout (0-based file offsets, little-endian, every value stored
// exclusive-or'd with the container's mask).
inline constexpr std::uint64_t kSignatureOffset = 0x10;   // 4 bytes "DSKI", compared raw
inline constexpr std::uint64_t kExponent1Offset = 0x61;   // 1 byte, block-size exponent E1
inline constexpr std::uint64_t kExponent2Offset = 0x62;   // 1 byte, block-size exponent E2
inline constexpr std::uint64_t kFatEndOffset = 0x40C;     // 4 bytes, end of the directory area (signed)
inline constexpr std::int64_t kFirstEntryOffset = 0x600;  // first directory entry
inline constexpr std::int64_t kEntrySize = 0x200;         // bytes per directory entry
// Fields of a directory entry, from its start.
inline constexpr std::uint64_t kEntryTypeOffset = 9;      // 3 letters of the subfile type
inline constexpr std::uint64_t kEntryPartOffset = 0x10;   // 2 bytes, part number: 0 starts a subfile
inline constexpr std::uint64_t kEntryBlockOffset = 0x20;  // 2 bytes, first block of the subfile (unsigned)
// Fields of a TRE subfile header, from its start.
inline constexpr std::uint64_t kTreLengthOffset = 0;       // 2 bytes, header length; below kTreFlagsSpan: no flag byte
inline constexpr std::uint64_t kTreNameOffset = 2;         // "GARMIN TRE", checked in a TRE file of its own
inline constexpr std::uint64_t kTreSignatureOffset = 8;    // 4 bytes " TRE"
inline constexpr std::uint64_t kTreFlagsOffset = 0x3F;     // 1 byte, the TRE flag byte
inline constexpr std::uint64_t kTrePriorityOffset = 0x40;  // 3 bytes, the map's draw priority
inline constexpr std::size_t kTreFlagsSpan = 0x40;         // header bytes up to the flag byte
inline constexpr std::size_t kTreHeaderSpan = 0x43;        // header bytes up to the draw priority
inline constexpr std::string_view kTreName = "GARMIN TRE";

inline constexpr std::uint32_t kDskiPlain = 0x494B5344;     // "DSKI" read little-endian
inline constexpr std::uint8_t kMaskByte = 0x5B;             // the one mask a container may use
inline constexpr std::uint32_t kTypeMask = 0x00FFFFFF;      // keeps the three type letters
inline constexpr std::uint32_t kTypeTre = 0x455254;         // "TRE"
inline constexpr std::uint32_t kTreSignature = 0x45525420;  // " TRE"
inline constexpr std::uint8_t kTransparentBit = 0x02;       // set in the flag byte: transparent
inline constexpr int kLargestExponent = 30;                 // 2^31 no longer fits a block size
inline constexpr std::uint32_t kPriorityByte = 0xFF;        // the draw priority's byte that is ever written
inline constexpr std::uint8_t kHighestPriority = 31;        // the highest draw priority a map may get
inline constexpr std::string_view kBundleSuffix = ".gmap";  // a map bundle's folder name ends so, any case
inline constexpr std::string_view kTreSuffix = ".tre";      // a TRE file's name ends so, any case

// What the last walk found: the container's mask, block size and directory
// end, and the TRE entry, header and flag byte of its first map.
struct ImgState {
    std::uint8_t XorByte = 0;     // 0x00 plain, 0x5B masked
    std::uint32_t XorLong = 0;    // XorByte in all four bytes
    std::uint64_t TreOffset = 0;  // offset of the TRE subfile header
    std::uint8_t TreFlags = 0;    // decoded TRE flag byte
    std::uint32_t BlockSize = 0;  // container block size in bytes
    std::int32_t FatEnd = 0;      // first offset past the directory
    std::int64_t FatPos = 0;      // directory entry examined last; the first TRE entry after a walk
    std::uint16_t BlockNr = 0;    // first block of the TRE subfile
    std::uint16_t XorWord = 0;    // XorByte in both bytes
};

// One map: the entry that starts its TRE subfile, and the header it leads to.
struct MapEntry {
    std::int64_t FatPos = 0;      // the directory entry
    std::uint16_t BlockNr = 0;    // first block of the TRE subfile
    std::uint64_t TreOffset = 0;  // offset of the TRE subfile header
    std::uint8_t TreFlags = 0;    // decoded TRE flag byte
    std::optional<std::uint32_t> DrawPriority;  // decoded; none when the header is too short for it
    std::size_t File = 0;         // in a bundle, the index of its TRE file
    std::optional<MapFamily> family;  // in a container, as its MPS subfile names it

    std::uint64_t flagOffset() const { return TreOffset + kTreFlagsOffset; }
    bool transparent() const { return (TreFlags & kTransparentBit) != 0; }
};

// What holds a map file's maps.
enum class MapFileKind {
    Container,  // an IMG container: maps at the directory's TRE entries, maybe masked
    RawTre,     // a TRE file of its own: one map, its header at 0, no mask
    Bundle,     // a NAME.gmap folder: one map in each TRE file NAME.gmap/*/*/*.TRE
};

// A map file and its maps: everything one walk found. Maps are in directory
// order, or in the order of a bundle's TRE files.
struct ContainerMaps {
    ImgState img;
    std::vector<MapEntry> maps;  // complete only when the walk ends Found
    MapFileKind kind = MapFileKind::Container;
    std::vector<std::string> files;  // a bundle's TRE files, sorted
    MpsOutcome mps = MpsOutcome::NoMps;  // how reading the families ended; Read when every map has its own

    std::size_t transparentMaps() const;
    // The lowest and highest draw priority of the maps that have one.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> priorities() const;
};

// How a walk or a rewrite ended.
enum class LookupOutcome {
    Found,        // every map's header and flag byte are there
    NotImg,       // the signature matches neither form
    TreNotFound,  // no TRE subfile in the directory, no TRE file in the bundle
    TreBad,       // a map's " TRE" header or flag byte is not where its entry points, or the header is too short
    NoPriority,   // rewrite only: a map's header has no draw priority
    WidePriority, // rewrite only: a map's draw priority has non-zero upper bytes
};

// Walks a TRE file of its own (kTreName at kTreNameOffset, a header length
// that holds the flag byte), or an IMG container: the directory from 0x600
// in 512-byte steps while the entry lies before FatEnd (signed, its limit
// wrapping in 32 bits), before the end of the file and before the first TRE
// subfile found; each entry of type TRE with part number 0 starts a map.
// Then reads every map's flag byte, from a header long enough to hold it,
// and, from the MPS subfile when there is one, every map's family (a fault
// there leaves every map without one, as in a container without MPS). Fills
// found as far as it gets. Throws RunTimeError: Overflow for a block-size
// exponent above 30, and whatever the file layer raises.
LookupOutcome FindMaps(MapReader& reader, ContainerMaps& found);

// Whether path (a trailing separator aside) names a map bundle: a folder whose
// name ends in ".gmap". Looks at the disk only for such a name.
bool IsBundle(platform::FileLayer& files, const std::string& path);
// Whether a folder's name is a map bundle's.
bool IsBundleName(std::string_view name);
// Walks every TRE file of the bundle at path, each opened in mode (to be
// looked at) and closed again. Throws the file layer's RunTimeError; the file
// it concerns is then found.files[found.maps.size()] when that exists.
LookupOutcome FindBundleMaps(platform::FileLayer& files, const std::string& path, ContainerMaps& found,
                             platform::OpenMode mode = platform::OpenMode::Probe);

// The flag byte after making a map transparent (true) or opaque (false);
// every other bit keeps its value.
std::uint8_t SwitchedFlags(std::uint8_t flags, bool transparent);

// One byte of every map to rewrite: the transparency bit or the draw priority.
struct MapChange {
    enum class Field { Transparency, DrawPriority };
    Field field = Field::Transparency;
    std::uint8_t value = 0;  // Transparency: non-zero makes the map transparent; DrawPriority: the priority
};

// Where change rewrites a map whose header holds flags and priority, and the
// byte's decoded value before and after; Found, NoPriority or WidePriority.
struct ByteChange {
    std::uint64_t offset = 0;  // from the header's start
    std::uint8_t before = 0;
    std::uint8_t after = 0;
};
LookupOutcome ChangeOf(std::uint8_t flags, std::optional<std::uint32_t> priority, const MapChange& change,
                       ByteChange& byte);
// Whether change can be made to every map as found (Found) and would rewrite a byte (changes).
LookupOutcome WouldChange(const ContainerMaps& found, const MapChange& change, bool& changes);

// Rewrites the maps of found that lie in file (a bundle's TRE file number
// fileIndex), which must be the file they were found in: reads each header
// afresh and writes nothing at all unless every one is still there and the
// change fits each; then writes each byte that differs from the byte just
// read. written counts the bytes written, also when a RunTimeError of the
// file layer ends it early.
LookupOutcome RewriteMaps(platform::MapFile& file, const ContainerMaps& found, const MapChange& change,
                          std::size_t& written, std::size_t fileIndex = 0);

// Rewrites the maps of the bundle found at path bundle, one TRE file after
// the other: opens each for a change through pending (which makes room when
// no descriptor is left), rewrites it as RewriteMaps does and hands it to
// pending, as a file of bundle, when it wrote a byte. Stops at the first file
// that fails, whose index is then in at. Throws the file layer's RunTimeError.
LookupOutcome RewriteBundle(FlushQueue& pending, const ContainerMaps& found, const MapChange& change,
                            const std::string& bundle, std::size_t& written, std::size_t& at);

}  // namespace ks::container
