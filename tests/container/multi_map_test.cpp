// The walk over every map of a container: on one map it ends exactly as the
// window's lookup, and it finds each map of a combined container.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include "container/lookup_cases.h"
#include "container/multi_map.h"
#include "support/memory_files.h"

namespace ks::container {
namespace {

using testing::Bytes;
using FlagBytes = std::vector<std::pair<std::int64_t, std::uint8_t>>;  // offset and value, per map

// How f(reader) ends on bytes: its outcome, or none and the run-time error's number.
template <class F>
std::pair<std::optional<LookupOutcome>, int> attempt(Bytes& bytes, F f, testing::IoCounts* counts = nullptr)
{
    testing::IoCounts ignored;
    testing::MemoryFile file(bytes, counts != nullptr ? *counts : ignored);
    MapReader reader(file);
    try {
        return {f(reader), 0};
    } catch (const platform::RunTimeError& e) {
        return {std::nullopt, e.number()};
    }
}

TEST(MultiMapWalk, OnOneMapEndsExactlyAsTheWindowsLookup)
{
    for (LookupCase& c : lookupCases()) {
        SCOPED_TRACE(c.name);
        ImgState window;
        ContainerMaps walk;
        const auto expected = attempt(c.bytes, [&](MapReader& r) { return TreLookup(r, window); });
        EXPECT_EQ(attempt(c.bytes, [&](MapReader& r) { return FindMaps(r, walk); }), expected);
        if (expected.first == LookupOutcome::Found) {
            ASSERT_EQ(walk.maps.size(), 1U);
            const MapEntry& map = walk.maps[0];
            EXPECT_EQ(std::tuple(walk.XorByte, walk.BlockSize, map.FatPos, map.TreOffset, map.TreFlags),
                      std::tuple(window.XorByte, window.BlockSize, window.FatPos, window.TreOffset, window.TreFlags));
        }
    }
}

// A directory entry with its own 8-letter subfile name.
struct Entry {
    std::string name, type;
    std::uint16_t block;
};

// The flag byte of a TRE header at block (of 512 bytes).
std::int64_t flagAt(int block) { return block * 512 + kTreFlagsOffset; }

// A container with 512-byte blocks, the given entries and a " TRE" header
// for each of the given flag bytes.
Bytes combined(const std::vector<Entry>& entries, const FlagBytes& flags, std::optional<std::int32_t> fatEnd = {},
               bool masked = false)
{
    std::vector<testing::DirEntry> directory;
    for (const Entry& entry : entries) {
        directory.push_back({entry.type, entry.block});
    }
    auto tile = testing::TileBuilder::ordinary(0).entries(directory).treHeaderAt(-1).size(0);
    Bytes bytes = (fatEnd ? tile.fatEnd(*fatEnd) : tile).build();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        std::ranges::copy(entries[k].name, bytes.begin() + 0x600 + k * 0x200 + 1);
    }
    for (const auto& [at, value] : flags) {
        bytes.resize(std::max<std::size_t>(bytes.size(), at + 1));
        std::ranges::copy(std::string("GARMIN TRE"), bytes.begin() + at - kTreFlagsOffset + 2);
        bytes[at] = value;
    }
    if (masked) {
        std::ranges::for_each(bytes, [](std::uint8_t& b) { b ^= kMaskByte; });
    }
    return bytes;
}

TEST(MultiMapWalk, FindsEveryMapOfACombinedContainer)
{
    // Three maps whose names differ in the first or the last letter; the RGN
    // entry with the first map's name does not hide that map's TRE entry.
    const std::vector<Entry> three = {
        {"AAAAAAAA", "RGN", 20}, {"AAAAAAAA", "TRE", 8}, {"BAAAAAAA", "TRE", 12}, {"AAAAAAAB", "TRE", 14}};
    const FlagBytes flags = {{flagAt(8), 0x01}, {flagAt(12), 0x03}, {flagAt(14), 0x01}};
    // Forty maps: the directory is read in one sweep, not an entry at a time.
    std::vector<Entry> forty;
    FlagBytes fortyFlags;
    for (int k = 0, block = 0x600 / 512 + 41; k < 40; ++k, ++block) {
        char name[9];
        std::snprintf(name, sizeof name, "MAP%05d", k);
        forty.push_back({name, "TRE", static_cast<std::uint16_t>(block)});
        fortyFlags.emplace_back(flagAt(block), k % 3 == 0 ? 0x02 : 0x00);
    }
    struct Case {
        const char* name;
        Bytes bytes;
        FlagBytes maps;                                                // when Found
        std::optional<LookupOutcome> outcome = LookupOutcome::Found;  // empty: run-time error 63
    } cases[] = {
        {"ThreeMapsThatDisagree", combined(three, flags), flags},
        {"ThreeMapsMasked", combined(three, flags, {}, true), flags},
        {"RepeatedTreNamesAreNoNewMaps",
         combined({{"AAAAAAAA", "TRE", 8}, {"BAAAAAAA", "TRE", 12}, {"AAAAAAAA", "TRE", 30}, {"BAAAAAAA", "TRE", 31}},
                  {flags[0], flags[1]}),
         {flags[0], flags[1]}},
        {"SecondMapWithoutHeaderIsBad", combined(three, {flags[0], flags[2]}), {}, LookupOutcome::TreBad},
        {"SecondMapBeforeTheFileIsBadPosition",
         combined({{"AAAAAAAA", "TRE", 8}, {"BAAAAAAA", "TRE", 0xFFFF}}, {flags[0]}), {}, std::nullopt},
        {"MapPastFatEndIsLeftOut", combined(three, flags, 0xC00), {flags[0], flags[1]}},
        // Read as an entry, the first TRE header would be one more map.
        {"FatEndPastTheDirectoryStopsWhereTheDataBegins",
         combined(three, flags, std::numeric_limits<std::int32_t>::max()), flags},
        {"FortyMaps", combined(forty, fortyFlags), fortyFlags},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::IoCounts counts;
        ContainerMaps found;
        EXPECT_EQ(attempt(c.bytes, [&](MapReader& r) { return FindMaps(r, found); }, &counts),
                  std::pair(c.outcome, c.outcome ? 0 : 63));
        FlagBytes maps;
        for (const MapEntry& map : found.maps) {
            maps.emplace_back(map.flagOffset(), map.TreFlags);
        }
        if (c.outcome == LookupOutcome::Found) {
            EXPECT_EQ(maps, c.maps);
        }
        // A 4 KiB window per read covers the file in about size / 4096 reads.
        EXPECT_LE(counts.reads, static_cast<int>(c.bytes.size() / MapReader::kWindowSize) + 2);
    }
}

}  // namespace
}  // namespace ks::container
