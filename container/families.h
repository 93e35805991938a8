// Map families: which maps of a combined container belong together, as its
// MPS subfile records them (a base map and its contour overlay, say).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "map_reader.h"

namespace ks::container {

struct ImgState;
struct ContainerMaps;

// Directory entry fields the family reader uses besides those of the walk.
inline constexpr std::uint64_t kEntryNameOffset = 1;    // 8 characters, the subfile's name (a map's number)
inline constexpr std::size_t kEntryNameSize = 8;
inline constexpr std::uint64_t kEntrySizeOffset = 0x0C;  // 4 bytes, the subfile's size; in part 0
inline constexpr std::size_t kEntryBlockCount = 240;     // block numbers an entry lists from kEntryBlockOffset
inline constexpr std::uint16_t kBlockListEnd = 0xFFFF;   // ends an entry's block list
inline constexpr std::uint32_t kTypeMps = 0x53504D;      // "MPS"

// MPS records: a type byte, a 2-byte length, then length bytes.
inline constexpr std::uint8_t kMapRecord = 0x4C;     // 'L': product, family, map number, 3 strings, hex number
inline constexpr std::uint8_t kFamilyRecord = 0x46;  // 'F': product, family, the family's name
inline constexpr std::size_t kRecordHead = 3;        // type byte and length
inline constexpr std::uint32_t kLargestMps = 16U << 20;  // larger MPS subfiles are not read

// A map's family and its own names, as the container's MPS subfile gives them;
// texts in UTF-8, unescaped.
struct MapFamily {
    std::uint16_t familyId = 0;
    std::uint16_t productId = 0;
    std::uint32_t mapNumber = 0;
    std::string description;  // the map's description
    std::string familyName;   // empty when no F record names the family
};

// The records of an MPS subfile that name maps and families.
struct MpsRecords {
    struct Map {
        MapFamily family;
        std::uint32_t hexNumber = 0;
    };
    struct Family {
        std::uint16_t productId = 0;
        std::uint16_t familyId = 0;
        std::string name;
    };
    std::vector<Map> maps;
    std::vector<Family> families;
};

// How reading a container's families ended. Every end but Read leaves all
// maps without a family: the container is then one group, as without MPS.
enum class MpsOutcome {
    Read,
    NoMps,          // the container has no MPS subfile
    CutShort,       // the subfile, a record or a string ends too early
    RecordTooLong,  // a record's length runs past the end of the subfile
    PastEnd,        // a block of the subfile lies past the end of the file
    BlockLoop,      // the block list names a block twice
    TooLarge,       // the subfile claims more than kLargestMps bytes
    DuplicateMap,   // two L records carry the same map number
};

// A name for outcome, for messages: "read", "cut short", ...
std::string_view MpsOutcomeText(MpsOutcome outcome);

// text as UTF-8: kept when it is valid UTF-8, else read as Windows-1252.
std::string TextFromCodePage(std::string_view text);

// One directory entry of an MPS subfile, decoded.
struct MpsPart {
    std::uint16_t number = 0;           // the part number: 0 starts the subfile
    std::string name;                   // the subfile's name
    std::uint32_t size = 0;             // the subfile's size, as part 0 gives it
    std::vector<std::uint16_t> blocks;  // the part's block list, up to its end mark
};

// Decodes the MPS directory entry at entry; the walk calls it while the entry
// lies in the reader's window. Throws the file layer's RunTimeError.
MpsPart ReadMpsPart(MapReader& reader, const ImgState& img, std::uint64_t entry);

// Collects the bytes of the MPS subfile whose directory entries (every part,
// in any order) are parts, through the block lists that the parts continue
// in part order; only the parts named as the first one count. Throws the
// file layer's RunTimeError.
MpsOutcome ReadMpsBytes(MapReader& reader, const ImgState& img, std::vector<MpsPart> parts,
                        std::vector<std::uint8_t>& bytes);

// Reads the L and F records of an MPS subfile's bytes; skips other records.
MpsOutcome ParseMps(std::span<const std::uint8_t> bytes, MpsRecords& records);

// The family of each map whose TRE entry carries the name in names: the L
// record whose map number is the name's eight decimal digits, else whose hex
// number the name gives in eight hex digits; none for a name without record.
MpsOutcome MatchMaps(const MpsRecords& records, std::span<const std::string> names,
                     std::vector<std::optional<MapFamily>>& families);

// All of the above: the family of every map named in names, or none at all
// when the reading ends other than Read. Throws the file layer's RunTimeError.
MpsOutcome ReadFamilies(MapReader& reader, const ImgState& img, std::vector<MpsPart> mpsParts,
                        std::span<const std::string> names, std::vector<std::optional<MapFamily>>& families);

// The maps of one family (or of none) in a container.
struct FamilyGroup {
    std::optional<std::uint16_t> familyId;  // none: the maps no record names
    std::string name;                        // the family's name; empty when no record gives one
    std::vector<std::size_t> maps;           // indexes into the container's maps, in directory order
};

// The families of found's maps, in the order of their first map.
std::vector<FamilyGroup> FamilyGroups(const ContainerMaps& found);
// Whether found's maps belong to two families or more (maps without one count as one).
bool HasFamilies(const ContainerMaps& found);

// found with only the maps at the indexes given, in that order.
ContainerMaps OnlyMaps(const ContainerMaps& found, std::span<const std::size_t> maps);

}  // namespace ks::container
