// The walk from the start of a container to the flag byte of each of its
// maps, and the writer: on crafted containers (sparse ones past 2 and 4 GiB
// among them) and on the tiles mkgmap built, down to the bytes on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <regex>
#include <variant>

#include "container/img_container.h"
#include "workflow/probe.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using namespace ks::workflow;
using testing::Bytes;
using testing::TileBuilder;
using Maps = std::vector<std::pair<std::uint64_t, std::uint8_t>>;  // flag offset and flag byte, per map
using End = std::variant<LookupOutcome, int>;                        // an outcome, or a run-time error's number

constexpr std::uint64_t kFlag = 0x103F;  // the flag byte of an ordinary tile
constexpr std::uint64_t k4G5 = 0x9000ULL << 17;  // 4.5 GiB: block 0x9000 of 128 KiB
constexpr auto kMaxFatEnd = std::numeric_limits<std::int32_t>::max();

TileBuilder tile(std::uint8_t flags) { return TileBuilder::ordinary(flags); }

struct Case {
    const char* name;
    TileBuilder tile;
    End end;          // of the walk
    Maps maps = {};   // the walk finds these, or the writer leaves these bytes on disk
    long reads = 2;   // of the medium, at most; for the writer: how many bytes it writes
    std::int16_t index = 1;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A tile's folder, the scripted platform and the probe's state.
struct Scene {
    testing::TempDir dir;
    std::string path = dir.file("T.IMG");
    testing::ScriptedPlatform env;
    ProbeState state;
    Services services{env.platform, state, nullptr};

    // The probe; returns the status text it gave.
    std::string probe() { std::string fileSpec = path, kennung; Trnsp_Read(services, fileSpec, kennung); return kennung; }
    // The probe and the writer; returns the status text the probe gave.
    std::string probeAndWrite(std::int16_t index) { const auto k = probe(); Trnsp_Write(services, path, index); return k; }
};

class Container : public ::testing::Test, protected Scene {};

const Case kWalks[] = {
    {"PlainOpaque", tile(0x00), LookupOutcome::Found, {{kFlag, 0x00}}},
    {"MaskedKeepsEveryBit", tile(0xFD).masked(), LookupOutcome::Found, {{kFlag, 0xFD}}},
    {"OtherMaskIsNoImg", tile(0).signature("VAY["), LookupOutcome::NotImg},  // "DSKI" ^ 0x12
    {"EmptyFileIsNoImg", tile(0).size(0), LookupOutcome::NotImg},
    {"BlockSize16384", tile(2).exponents(9, 5).entries({{"TRE", 1}}).treHeaderAt(16384), LookupOutcome::Found,
     {{16384 + 0x3F, 2}}},
    {"ExponentSumWrapsModulo256", tile(2).exponents(200, 65), LookupOutcome::Found, {{kFlag, 2}}},
    {"ExponentSum30IsTheLargest", tile(2).exponents(30, 0).entries({{"TRE", 1}}).treHeaderAt(1LL << 30),
     LookupOutcome::Found, {{(1ULL << 30) + 0x3F, 2}}}, {"ExponentSum31Overflows", tile(2).exponents(16, 15), 6},
    {"MaskedFatEndJustBeforeTheTreEntry", tile(2).fatEnd(0x800).masked(), LookupOutcome::TreNotFound},
    {"FatEndOneIntoTheTreEntry", tile(2).fatEnd(0x801), LookupOutcome::Found, {{kFlag, 2}}},
    {"FatEndNegative", tile(2).fatEnd(-5), LookupOutcome::TreNotFound},
    {"FatEndMostNegativeWrapsToTheLargest", tile(2).fatEnd(std::numeric_limits<std::int32_t>::min()),
     LookupOutcome::Found, {{kFlag, 2}}},
    {"FatEndLargestWalksToTheEndOfTheFile", tile(2).entries({{"RGN", 10}}).treHeaderAt(-1).fatEnd(kMaxFatEnd),
     LookupOutcome::TreNotFound},
    {"TreEntryInTheLastSlotBelow2GiB",
     tile(2).exponents(17, 0).entries({{"RGN", 10}}).treHeaderAt(0x4001LL << 17).fatEnd(kMaxFatEnd)
         .entryAt(0x7FFFFE00, {"TRE", 0x4001}),
     LookupOutcome::Found, {{(0x4001ULL << 17) + 0x3F, 2}}, 33000},
    {"FirstBlockNumbersAreUnsigned", tile(2).entries({{"TRE", 0x8000}}).treHeaderAt(0x8000 * 512),
     LookupOutcome::Found, {{0x8000 * 512 + 0x3F, 2}}},
    {"AMapPast4GiBIsReadWhereItLies", tile(2).exponents(17, 0).entries({{"TRE", 0x9000}}).treHeaderAt(k4G5),
     LookupOutcome::Found, {{k4G5 + 0x3F, 2}}},
    {"NoHeaderIsBad", tile(2).treHeaderAt(-1), LookupOutcome::TreBad},
    {"FlagBytePastTheEndIsBad", tile(2).size(4096 + 0x3F), LookupOutcome::TreBad},
    {"FlagByteLastInTheFile", tile(2).size(4096 + 0x40), LookupOutcome::Found, {{kFlag, 2}}},
    {"AHeaderAcrossA4KiBBoundary", tile(2).exponents(5, 0).entries({{"TRE", 0x7F}}).treHeaderAt(0xFE0),
     LookupOutcome::Found, {{0xFE0 + 0x3F, 2}}},
    {"EveryMapOfACombinedContainer", TileBuilder::combined({1, 3, 1}), LookupOutcome::Found,
     {{0xC3F, 1}, {0xE3F, 3}, {0x103F, 1}}},
    {"ALaterPartIsNoNewMap",
     tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 30, 0x100, "A"}, {"TRE", 9, 0, "B"}}).header(9 * 512, 2),
     LookupOutcome::Found, {{kFlag, 0}, {0x123F, 2}}},
    {"ARepeatedNameWithPart0IsAnotherMap", tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 9, 0, "A"}}).header(9 * 512, 2),
     LookupOutcome::Found, {{kFlag, 0}, {0x123F, 2}}},
    {"OneMapWithoutHeaderMakesTheContainerBad", tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 9, 0, "B"}}),
     LookupOutcome::TreBad},
    {"TheFirstTreSubfileEndsTheDirectory", tile(2).entries({{"TRE", 4}}).treHeaderAt(0x800).fatEnd(0xA00),
     LookupOutcome::Found, {{0x83F, 2}}},
};

class Walk : public ::testing::TestWithParam<Case>, protected Scene {};

TEST_P(Walk, EndsAsTheContainerDemands)
{
    const Case& c = GetParam();
    const testing::Image image = c.tile.image();
    image.writeTo(path);
    ContainerMaps found;
    End end;
    {
        const auto file = env.files.open(path, platform::OpenMode::Probe);
        MapReader reader(*file);
        try {
            end = FindMaps(reader, found);
        } catch (const platform::RunTimeError& e) {
            end = e.number();
        }
    }
    EXPECT_EQ(end, c.end);
    Maps maps(found.maps.size());
    std::ranges::transform(found.maps, maps.begin(), [](const MapEntry& m) { return std::pair(m.flagOffset(), m.TreFlags); });
    EXPECT_EQ(end == End(LookupOutcome::Found) ? maps : Maps{}, c.maps);
    EXPECT_LE(env.count("read"), c.reads);
    EXPECT_TRUE(image.isOnDisk(path)) << "a walk writes nothing";
}

INSTANTIATE_TEST_SUITE_P(Containers, Walk, ::testing::ValuesIn(kWalks),
                         [](const auto& info) { return std::string(info.param.name); });

const Case kSwitches[] = {
    {"OpaqueMadeTransparent", tile(0x00), LookupOutcome::Found, {{kFlag, 0x02}}, 1},
    {"TransparentMadeTransparentIsNotWritten", tile(0x02), LookupOutcome::Found, {{kFlag, 0x02}}, 0},
    {"AllBitsMadeOpaque", tile(0xFF), LookupOutcome::Found, {{kFlag, 0xFD}}, 1, 0},
    {"MaskedStaysMasked", tile(0x03).masked(), LookupOutcome::Found, {{kFlag, 0x01 ^ 0x5B}}, 1, 0},
    {"OnlyTheOpaqueMapsOfAMixedContainer", TileBuilder::combined({0x01, 0x03, 0x81}), LookupOutcome::Found,
     {{0xC3F, 0x03}, {0xE3F, 0x03}, {0x103F, 0x83}}, 2},
    {"AMapPast4GiB", tile(0x02).exponents(17, 0).entries({{"TRE", 0x9000}}).treHeaderAt(k4G5), LookupOutcome::Found,
     {{k4G5 + 0x3F, 0x00}}, 1, 0},
};

class Switch : public ::testing::TestWithParam<Case>, protected Scene {};

TEST_P(Switch, RewritesExactlyTheFlagBytesThatDiffer)
{
    const Case& c = GetParam();
    testing::Image expected = c.tile.image();
    expected.writeTo(path);
    probeAndWrite(c.index);
    for (const auto& [offset, value] : c.maps) {
        auto piece = std::prev(expected.pieces.upper_bound(offset));
        piece->second.at(offset - piece->first) = value;
    }
    EXPECT_TRUE(expected.isOnDisk(path));
    EXPECT_EQ(env.count("write"), c.reads);
    EXPECT_EQ(env.count("flush"), c.reads > 0 ? 1 : 0) << "what is not written is not flushed";
    EXPECT_TRUE(env.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, Switch, ::testing::ValuesIn(kSwitches),
                         [](const auto& info) { return std::string(info.param.name); });

// What happens to a tile between the probe and the write, and what the writer then says.
struct Mishap {
    const char* name;
    std::function<void(const std::string& path)> change;
    bool rightBeforeTheWrite;  // else right after the probe
    std::string prompt;
};

void PrintTo(const Mishap& m, std::ostream* os) { *os << m.name; }

// Cuts off the flag byte: the write would land just at the end.
const auto kTruncate = [](const std::string& p) { std::filesystem::resize_file(testing::u8(p), kFlag); };

const Mishap kMishaps[] = {
    {"MadeReadOnly", testing::makeReadOnly, false, "Fehler : 75"},
    {"Deleted", [](const std::string& p) { std::filesystem::remove(testing::u8(p)); }, false,
     "Datei {path} nicht gefunden (not found)"},
    {"RewrittenWithAnotherBlockSize",
     [](const std::string& p) { tile(0).exponents(10, 0).entries({{"TRE", 5}}).treHeaderAt(5 * 1024).image().writeTo(p); },
     false, "Fehler in TRE"},
    {"TruncatedInsideTheHeader", kTruncate, false, "Fehler in TRE"},
#ifndef _WIN32  // there the writer's open keeps other programs from changing the file
    {"TruncatedRightBeforeTheWrite", kTruncate, true, "Fehler : 57"},
    {"ReplacedRightBeforeTheWrite", [](const std::string& p) {
         tile(0).image().writeTo(p + ".new"), std::filesystem::rename(testing::u8(p + ".new"), testing::u8(p)); },
     true, "Fehler : 57"},
#endif
};

class WriteFailure : public ::testing::TestWithParam<Mishap>, protected Scene {};

TEST_P(WriteFailure, IsReportedAndNothingIsWrittenOrGrown)
{
    const Mishap& m = GetParam();
    tile(0x00).image().writeTo(path);
    probe();
    const std::string old = path + ".old";  // the file first probed, wherever its path leads later
    std::filesystem::create_hard_link(testing::u8(path), testing::u8(old));
    std::map<std::string, Bytes> afterMishap;
    const auto mishap = [&](const std::string&) { m.change(path), afterMishap = dir.files(); };
    m.rightBeforeTheWrite ? void(env.files.beforeWrite = mishap) : mishap(path);

    Trnsp_Write(services, path, 1);

    ASSERT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.messages[0].prompt, std::regex_replace(m.prompt, std::regex("\\{path\\}"), Shown(env.ui, path)));
    EXPECT_EQ(dir.files(), afterMishap) << "nothing is written once the file has changed; nothing is created or grown";
}

INSTANTIATE_TEST_SUITE_P(BetweenProbeAndWrite, WriteFailure, ::testing::ValuesIn(kMishaps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Container, TheWriterRereadsTheFlagByteAndFlushesWhatItWroteBeforeAFailure)
{
    tile(0x00).image().writeTo(path);
    probe();
    tile(0x80).image().writeTo(path);  // another program sets a bit of its own
    Trnsp_Write(services, path, 1);
    EXPECT_EQ(testing::readFile(path), tile(0x82).build());
    const std::string other = dir.put("OTHER.IMG", TileBuilder::kind("o"));
    Trnsp_Write(services, other, 1);
    EXPECT_EQ(testing::readFile(other), TileBuilder::kind("o")) << "only the file just probed is ever written";

    TileBuilder::combined({0, 0, 0}).image().writeTo(path);
    env.files.failWrites({2});
    probeAndWrite(1);
    ASSERT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.messages[0].prompt, "Fehler : 61\r\nDatei " + env.ui.toUpper(path) +
                                             " ist womöglich nur teilweise umgeschaltet (may be partly switched)");
    EXPECT_EQ(testing::readFile(path), TileBuilder::combined({2, 0, 0}).build());
    EXPECT_EQ(env.count("flush T.IMG"), 2);
}

TEST_F(Container, AThousandMapsCostTheirDirectoryAndAtMostOneReadAMap)
{
    std::vector<std::uint8_t> flags(1000);
    for (std::size_t k = 0; k < flags.size(); k += 4) {
        flags[k] = kTransparentBit;
    }
    TileBuilder::combined(flags).image().writeTo(path);
    EXPECT_EQ(probe(), "  <T 250/1000>");
    EXPECT_EQ(env.count("open"), 1);
    EXPECT_LE(env.count("read"), 16 + 1000 / 8) << "the directory in growing sweeps, eight headers a read";
}

// The tiles mkgmap built (tests/data/make_tiles.sh): the status text, and the
// flag byte of each map in directory order.
const std::tuple<const char*, const char*, std::vector<std::uint64_t>> kRealTiles[] = {
    {"opaque.img", "  < >", {0xE3F}}, {"transparent.img", "  <T>", {0xE3F}}, {"bigblock.img", "  < >", {0x203F}},
    {"gmapsupp.img", "  <T 1/2>", {0x1A3F, 0x223F}},
    {"contours.img", "  <T 2/5>", {0x303F, 0x3C3F, 0x483F, 0x543F, 0x603F}},
};

TEST_F(Container, ARoundTripOverTheMkgmapTilesChangesOnlyTheTransparencyBitOfEachMap)
{
    for (const auto& [file, kennung, flags] : kRealTiles) {
        SCOPED_TRACE(file);
        Bytes golden = testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + file);
        testing::writeFile(path, golden);
        EXPECT_EQ(probeAndWrite(1), kennung);
        std::ranges::for_each(flags, [&](std::uint64_t at) { golden[at] |= kTransparentBit; });
        EXPECT_EQ(testing::readFile(path), golden);
        EXPECT_EQ(probeAndWrite(0), kKennungTransparent);
        std::ranges::for_each(flags, [&](std::uint64_t at) { golden[at] &= ~kTransparentBit; });
        EXPECT_EQ(testing::readFile(path), golden);
        EXPECT_EQ(probeAndWrite(0), kKennungOpaque);
    }
    EXPECT_TRUE(env.ui.messages.empty());
}

// The bytes of an mkgmap file without its date stamps: the container's at
// 0x39 and the seven after each subfile's "GARMIN " name.
Bytes Undated(Bytes bytes)
{
    const std::string name = "GARMIN ";
    std::fill_n(bytes.begin() + 0x39, 7, 0);
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), name.begin(), name.end())) != bytes.end(); ++at) {
        std::fill_n(at + 0x0C, 7, 0);
    }
    return bytes;
}

TEST_F(Container, APriorityRewriteOfMkgmapTilesChangesOneByteAMapAndMatchesTheOtherBuild)
{
    const auto set = [&](const char* sample, std::uint8_t priority, long writes) {
        testing::writeFile(path, testing::readFile(std::string(KS_SAMPLE_DIR) + "/" + sample));
        const auto before = std::filesystem::last_write_time(testing::u8(path)) - std::chrono::hours(1);
        std::filesystem::last_write_time(testing::u8(path), before);
        auto file = env.files.open(path, platform::OpenMode::Change);
        MapReader reader(*file);
        ContainerMaps found;
        std::size_t written = 0;
        EXPECT_EQ(FindMaps(reader, found), LookupOutcome::Found);
        EXPECT_EQ(RewriteMaps(*file, found, {MapChange::Field::DrawPriority, priority}, written), LookupOutcome::Found);
        EXPECT_EQ(written, writes);
        EXPECT_EQ(std::filesystem::last_write_time(testing::u8(path)) == before, writes == 0);
        return found.priorities();
    };
    EXPECT_EQ(set("priority12.img", 31, 1), std::pair(12U, 12U));
    const Bytes golden = testing::readFile(std::string(KS_SAMPLE_DIR) + "/priority31.img");
    EXPECT_EQ(Undated(testing::readFile(path)), Undated(golden));
    EXPECT_EQ(set("priority31.img", 31, 0), std::pair(31U, 31U));
    EXPECT_EQ(set("priorities.img", 20, 2), std::pair(12U, 31U));
    Bytes both = testing::readFile(std::string(KS_SAMPLE_DIR) + "/priorities.img");
    both[0x1A40] = both[0x2240] = 20;
    EXPECT_EQ(testing::readFile(path), both);
}

TEST_F(Container, SwitchingTheMkgmapBundleSetsTheBitOfEachTreFileAndNothingElse)
{
    const std::string built = std::string(KS_SAMPLE_DIR) + "/bundle/";
    path = dir.file("Contours.gmap");
    std::filesystem::copy(testing::u8(built + "opaque/Contours.gmap"), testing::u8(path),
                          std::filesystem::copy_options::recursive);
    auto golden = dir.files();
    EXPECT_EQ(probeAndWrite(1), kKennungOpaque);
    EXPECT_EQ(probe(), kKennungTransparent);
    for (auto& [name, bytes] : golden) {
        if (name.ends_with(".TRE")) {  // the tiles as mkgmap's transparent build; its overview stays opaque
            const Bytes other = testing::readFile(built + "transparent/" + name);
            bytes[kTreFlagsOffset] = name.find("osmmap") == std::string::npos ? other.at(kTreFlagsOffset) : 0x02;
        }
    }
    EXPECT_EQ(dir.files(), golden);
    EXPECT_EQ(env.count("flush"), 3);

    env.files.failWrites({2});  // the second TRE file fails: the first is switched back, the rest stay
    probeAndWrite(0);
    EXPECT_EQ(env.ui.messages.at(0).prompt,
              "Fehler : 61\r\n" + Shown(env.ui, dir.file("Contours.gmap/Product1/63240042/63240042.TRE")) +
                  "\r\nDie Kartensammlung ist vielleicht nur zum Teil geschaltet (the bundle may be partly switched)");
    EXPECT_EQ(probe(), "  <T 2/3>");
}

}  // namespace
}  // namespace ks::container
