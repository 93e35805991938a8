// The walk over every map of a container: it agrees with the window's lookup
// on containers with one map, and finds each map of a combined container.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "container/img_container.h"
#include "container/multi_map.h"
#include "support/disk.h"
#include "support/memory_files.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using testing::Bytes;
using testing::DirEntry;
using testing::IoCounts;
using testing::MemoryFile;
using testing::TileBuilder;

constexpr std::uint8_t kMask = 0x5B;

// ---- One map: the walk and the window's lookup agree ------------------------------------

struct SingleCase {
    const char* name;
    Bytes bytes;
};

std::vector<SingleCase> singleMapCases()
{
    const auto tile = [](std::uint8_t flags) { return TileBuilder::ordinary(flags); };
    const auto int32Min = std::numeric_limits<std::int32_t>::min();
    const auto int32Max = std::numeric_limits<std::int32_t>::max();
    return {
        {"PlainOpaque", tile(0x00).build()},
        {"PlainTransparent", tile(0x02).build()},
        {"MaskedTransparent", tile(0x03).masked().build()},
        {"MaskedOpaque", tile(0xFD).masked().build()},
        {"BlockSize16384", tile(0x02).exponents(9, 5).entries({{"TRE", 1}}).treHeaderAt(16384).size(0).build()},
        {"ExponentSumWrapsModulo256", tile(0x00).exponents(200, 65).build()},
        {"ExponentSum31Overflows", tile(0x00).exponents(16, 15).build()},
        {"ExponentSum255Overflows", tile(0x00).exponents(255, 0).build()},
        {"TreEntryNotInUseIsTaken", tile(0x02).entries({{"RGN", 10}, {"TRE", 8, 0}}).build()},
        {"SecondPartOfTheTreSubfile", tile(0x02).entries({{"TRE", 8}, {"TRE", 12}}).build()},
        {"SecondPartPointsNowhere", tile(0x02).entries({{"TRE", 8}, {"RGN", 10}, {"TRE", 0x8000}}).build()},
        {"NoTreEntry", tile(0x02).entries({{"RGN", 10}, {"LBL", 12}}).build()},
        {"TreEntryPastFatEnd", tile(0x02).fatEnd(0x800).build()},
        {"FatEndOneIntoTheTreEntry", tile(0x02).fatEnd(0x801).build()},
        {"FatEndAtFirstEntry", tile(0x02).fatEnd(0x600).build()},
        {"FatEndZero", tile(0x02).fatEnd(0).build()},
        {"FatEndNegative", tile(0x02).fatEnd(-5).build()},
        {"FatEndMostNegativeWrapsToWalk", tile(0x02).fatEnd(int32Min).build()},
        {"FatEndLargest", tile(0x02).fatEnd(int32Max).build()},
        {"FatEndLargestWithoutTre", tile(0x02).entries({{"RGN", 10}}).treHeaderAt(-1).fatEnd(int32Max).build()},
        {"TreHeaderMissing", tile(0x02).treHeaderAt(-1).build()},
        {"FlagBytePastEndOfFile", tile(0x02).size(4096 + 0x3F).build()},
        {"FlagByteLastInFile", tile(0x02).size(4096 + 0x40).build()},
        {"TreHeaderPastEndOfFile", tile(0x02).entries({{"RGN", 10}, {"TRE", 100}}).build()},
        {"NegativeBlockNumberIsBadPosition", tile(0x02).entries({{"TRE", 0x8000}}).build()},
        {"NegativeBlockNumberWithTinyBlocksLandsInHeader",
         tile(0x02).exponents(0, 0).entries({{"TRE", 0xFFFF}}).build()},
        {"TypeFieldCutByEndOfFile", tile(0x02).entries({{"RGN", 10}, {"TRE", 8}}).treHeaderAt(-1).size(0x800 + 10).build()},
        {"OtherMaskByteIsNoImg", [] {
             Bytes b = TileBuilder::ordinary(0).build();
             for (auto& x : b) x ^= 0x12;
             return b;
         }()},
        {"SignatureInOtherCaseIsNoImg", tile(0x02).signature("dski").build()},
        {"EmptyFileIsNoImg", Bytes{}},
        {"HeaderOnlyFileHasNoTre", tile(0x02).size(0x40C + 4).build()},
    };
}

void PrintTo(const SingleCase& c, std::ostream* os) { *os << c.name; }

class SingleMapTest : public ::testing::TestWithParam<SingleCase> {};

TEST_P(SingleMapTest, EndsExactlyAsTheWindowsLookup)
{
    Bytes bytes = GetParam().bytes;
    const Bytes before = bytes;
    IoCounts counts;
    ImgState window;
    std::optional<LookupOutcome> windowOutcome;
    int windowError = 0;
    ContainerMaps walk;
    std::optional<LookupOutcome> walkOutcome;
    int walkError = 0;
    {
        MemoryFile file(bytes, counts);
        MapReader reader(file);
        try {
            windowOutcome = TreLookup(reader, window);
        } catch (const platform::RunTimeError& e) {
            windowError = e.number();
        }
    }
    {
        MemoryFile file(bytes, counts);
        MapReader reader(file);
        try {
            walkOutcome = FindMaps(reader, walk);
        } catch (const platform::RunTimeError& e) {
            walkError = e.number();
        }
    }
    EXPECT_EQ(walkOutcome, windowOutcome);
    EXPECT_EQ(walkError, windowError);
    if (windowOutcome && *windowOutcome != LookupOutcome::NotImg) {
        EXPECT_EQ(walk.XorByte, window.XorByte);
        EXPECT_EQ(walk.BlockSize, window.BlockSize);
    }
    if (windowOutcome == LookupOutcome::Found) {
        ASSERT_EQ(walk.maps.size(), 1U);
        EXPECT_EQ(walk.maps[0].FatPos, window.FatPos);
        EXPECT_EQ(walk.maps[0].BlockNr, window.BlockNr);
        EXPECT_EQ(walk.maps[0].TreOffset, window.TreOffset);
        EXPECT_EQ(walk.maps[0].TreFlags, window.TreFlags);
    }
    EXPECT_EQ(counts.writes, 0);
    EXPECT_EQ(bytes, before);
}

INSTANTIATE_TEST_SUITE_P(Containers, SingleMapTest, ::testing::ValuesIn(singleMapCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Several maps ----------------------------------------------------------------------

// A directory entry with its own subfile name.
struct NamedEntry {
    std::string name;  // 8 characters
    std::string type;
    std::uint16_t block = 0;
};

// A " TRE" header and its flag byte.
struct TreHeader {
    std::int64_t offset = 0;
    std::uint8_t flags = 0;
};

// A container with 512-byte blocks holding the given entries and TRE headers.
Bytes combined(const std::vector<NamedEntry>& entries, const std::vector<TreHeader>& headers, bool masked = false)
{
    std::vector<DirEntry> directory;
    std::size_t size = 0x600 + entries.size() * 0x200;
    for (const NamedEntry& entry : entries) {
        directory.push_back({entry.type, entry.block});
    }
    for (const TreHeader& header : headers) {
        size = std::max(size, static_cast<std::size_t>(header.offset) + 0x40);
    }
    Bytes bytes = TileBuilder::ordinary(0).entries(directory).treHeaderAt(-1).size(size).build();
    const auto place = [&bytes](std::size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    };
    for (std::size_t k = 0; k < entries.size(); ++k) {
        place(0x600 + k * 0x200 + 1, entries[k].name);
    }
    for (const TreHeader& header : headers) {
        const auto at = static_cast<std::size_t>(header.offset);
        bytes[at] = 0xBC;
        place(at + 2, "GARMIN TRE");
        bytes[at + 0x3F] = header.flags;
    }
    if (masked) {
        for (auto& b : bytes) {
            b ^= kMask;
        }
    }
    return bytes;
}

// The 8 name bytes of a map as text.
std::string nameText(const MapEntry& map)
{
    std::string text;
    for (int i = 0; i < 8; ++i) {
        text += static_cast<char>((map.name >> (8 * i)) & 0xFF);
    }
    return text;
}

struct FoundMap {
    std::string name;
    std::int32_t fatPos;
    std::int64_t flagOffset;
    std::uint8_t flags;
    bool operator==(const FoundMap&) const = default;
};

void PrintTo(const FoundMap& m, std::ostream* os)
{
    *os << m.name << " entry 0x" << std::hex << m.fatPos << " flag byte 0x" << m.flagOffset << " = 0x"
        << int{m.flags};
}

struct MultiCase {
    const char* name;
    Bytes bytes;
    std::optional<LookupOutcome> outcome;  // empty: a run-time error
    int error = 0;
    std::vector<FoundMap> maps = {};       // checked when Found
};

std::vector<MultiCase> multiMapCases()
{
    const std::vector<NamedEntry> twoMaps = {
        {"MAP00001", "RGN", 20}, {"MAP00001", "TRE", 8}, {"MAP00002", "RGN", 21}, {"MAP00002", "TRE", 12}};
    return {
        {"TwoMapsThatDisagree", combined(twoMaps, {{8 * 512, 0x01}, {12 * 512, 0x03}}), LookupOutcome::Found, 0,
         {{"MAP00001", 0x800, 8 * 512 + 0x3F, 0x01}, {"MAP00002", 0xC00, 12 * 512 + 0x3F, 0x03}}},
        {"TwoMapsMasked", combined(twoMaps, {{8 * 512, 0x01}, {12 * 512, 0x03}}, true), LookupOutcome::Found, 0,
         {{"MAP00001", 0x800, 8 * 512 + 0x3F, 0x01}, {"MAP00002", 0xC00, 12 * 512 + 0x3F, 0x03}}},
        {"NamesDifferInTheLastLetter",
         combined({{"MAP00001", "TRE", 8}, {"MAP00002", "TRE", 12}}, {{8 * 512, 0x00}, {12 * 512, 0x02}}),
         LookupOutcome::Found, 0,
         {{"MAP00001", 0x600, 8 * 512 + 0x3F, 0x00}, {"MAP00002", 0x800, 12 * 512 + 0x3F, 0x02}}},
        {"NamesDifferInTheFirstLetter",
         combined({{"AAAAAAAA", "TRE", 8}, {"BAAAAAAA", "TRE", 12}}, {{8 * 512, 0x00}, {12 * 512, 0x02}}),
         LookupOutcome::Found, 0,
         {{"AAAAAAAA", 0x600, 8 * 512 + 0x3F, 0x00}, {"BAAAAAAA", 0x800, 12 * 512 + 0x3F, 0x02}}},
        {"LaterPartsAreNoMaps",
         combined({{"MAP00001", "TRE", 8}, {"MAP00002", "TRE", 12}, {"MAP00001", "TRE", 30}, {"MAP00002", "TRE", 31}},
                  {{8 * 512, 0x02}, {12 * 512, 0x02}}),
         LookupOutcome::Found, 0,
         {{"MAP00001", 0x600, 8 * 512 + 0x3F, 0x02}, {"MAP00002", 0x800, 12 * 512 + 0x3F, 0x02}}},
        {"SameNameOtherTypeIsNoPart",
         combined({{"MAP00001", "RGN", 8}, {"MAP00001", "TRE", 12}}, {{8 * 512, 0x00}, {12 * 512, 0x02}}),
         LookupOutcome::Found, 0, {{"MAP00001", 0x800, 12 * 512 + 0x3F, 0x02}}},
        {"SecondMapWithoutHeaderIsBad",
         combined(twoMaps, {{8 * 512, 0x01}}), LookupOutcome::TreBad},
        {"FirstMapWithoutHeaderIsBad",
         combined(twoMaps, {{12 * 512, 0x01}}), LookupOutcome::TreBad},
        {"SecondMapBeforeTheFileIsBadPosition",
         combined({{"MAP00001", "TRE", 8}, {"MAP00002", "TRE", 0xFFFF}}, {{8 * 512, 0x01}}), std::nullopt, 63},
        {"MapPastFatEndIsLeftOut",
         [&twoMaps] {
             Bytes b = combined(twoMaps, {{8 * 512, 0x01}, {12 * 512, 0x03}});
             b[0x40C] = 0x00;
             b[0x40D] = 0x0C;  // FatEnd 0xC00: the second map's TRE entry lies outside
             return b;
         }(),
         LookupOutcome::Found, 0, {{"MAP00001", 0x800, 8 * 512 + 0x3F, 0x01}}},
        {"FatEndPastTheDirectoryStopsWhereTheDataBegins",
         [&twoMaps] {
             // Read as an entry, the TRE header at 0x1000 would be one more map named "\0GARMIN ".
             Bytes b = combined(twoMaps, {{8 * 512, 0x01}, {12 * 512, 0x03}});
             b[0x40C] = 0xFF;
             b[0x40D] = 0xFF;
             b[0x40E] = 0xFF;
             b[0x40F] = 0x7F;
             return b;
         }(),
         LookupOutcome::Found, 0,
         {{"MAP00001", 0x800, 8 * 512 + 0x3F, 0x01}, {"MAP00002", 0xC00, 12 * 512 + 0x3F, 0x03}}},
    };
}

void PrintTo(const MultiCase& c, std::ostream* os) { *os << c.name; }

class MultiMapTest : public ::testing::TestWithParam<MultiCase> {};

TEST_P(MultiMapTest, FindsEveryMap)
{
    MultiCase c = GetParam();
    IoCounts counts;
    ContainerMaps walk;
    std::optional<LookupOutcome> outcome;
    int error = 0;
    {
        MemoryFile file(c.bytes, counts);
        MapReader reader(file);
        try {
            outcome = FindMaps(reader, walk);
        } catch (const platform::RunTimeError& e) {
            error = e.number();
        }
    }
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(error, c.error);
    if (c.outcome == LookupOutcome::Found) {
        std::vector<FoundMap> found;
        for (const MapEntry& map : walk.maps) {
            found.push_back({nameText(map), map.FatPos, map.flagOffset(), map.TreFlags});
        }
        EXPECT_EQ(found, c.maps);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, MultiMapTest, ::testing::ValuesIn(multiMapCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MultiMapIo, ADirectoryOfManyMapsIsReadInOneSweep)
{
    std::vector<NamedEntry> entries;
    std::vector<TreHeader> headers;
    constexpr int kMaps = 40;
    const std::uint16_t firstHeaderBlock = 0x600 / 512 + kMaps + 1;
    for (int k = 0; k < kMaps; ++k) {
        char name[9];
        std::snprintf(name, sizeof name, "MAP%05d", k);
        entries.push_back({name, "TRE", static_cast<std::uint16_t>(firstHeaderBlock + k)});
        headers.push_back({(firstHeaderBlock + k) * 512, static_cast<std::uint8_t>(k % 3 == 0 ? 0x02 : 0x00)});
    }
    Bytes bytes = combined(entries, headers);
    IoCounts counts;
    MemoryFile file(bytes, counts);
    MapReader reader(file);
    ContainerMaps walk;
    ASSERT_EQ(FindMaps(reader, walk), LookupOutcome::Found);
    ASSERT_EQ(walk.maps.size(), static_cast<std::size_t>(kMaps));
    EXPECT_EQ(walk.maps[3].TreFlags, 0x02);
    EXPECT_EQ(walk.maps[4].TreFlags, 0x00);
    // 0x600 + 40 entries end at 0x5600 and the headers follow: a 4 KiB window per read
    // covers the whole file in about bytes.size() / 4096 reads, never one per entry.
    EXPECT_LE(counts.reads, static_cast<int>(bytes.size() / MapReader::kWindowSize) + 2);
}

// ---- The real combined container ---------------------------------------------------------

TEST(MultiMapRealTiles, TheMkgmapPairHoldsOneOpaqueAndOneTransparentMap)
{
    Bytes bytes = testing::readFile(testing::sampleFile("gmapsupp.img"));
    IoCounts counts;
    MemoryFile file(bytes, counts);
    MapReader reader(file);
    ContainerMaps walk;
    ASSERT_EQ(FindMaps(reader, walk), LookupOutcome::Found);
    std::vector<FoundMap> found;
    for (const MapEntry& map : walk.maps) {
        found.push_back({nameText(map), map.FatPos, map.flagOffset(), map.TreFlags});
    }
    const std::vector<FoundMap> expected = {{"63240011", 0xA00, 0x1A3F, 0x01}, {"63240012", 0x1000, 0x223F, 0x03}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(walk.BlockSize, 512);
    EXPECT_EQ(walk.FatEnd, 0x1600);
}

}  // namespace
}  // namespace ks::container
