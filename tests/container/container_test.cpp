// The walk from the start of a container to the flag byte of each of its
// maps, and the writer: on crafted containers (sparse ones past 4 GiB
// among them) and on the tiles mkgmap built, down to the bytes on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <variant>

#include "container/img_container.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using testing::Bytes;
using testing::Entry;
using testing::TileBuilder;
using Maps = std::vector<std::pair<std::uint64_t, std::uint8_t>>;  // flag offset and decoded flag byte, per map
using End = std::variant<LookupOutcome, int>;                        // an outcome, or a run-time error's number

constexpr std::uint64_t kFlag = 0x103F;  // the flag byte of an ordinary tile
constexpr std::uint64_t GiB = 1ULL << 30;

struct WalkCase {
    const char* name;
    TileBuilder tile;
    End end;
    Maps maps = {};
    long reads = 2;  // reads of the medium at most
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

TileBuilder tile(std::uint8_t flags) { return TileBuilder::ordinary(flags); }

const WalkCase kWalks[] = {
    {"PlainOpaque", tile(0x00), LookupOutcome::Found, {{kFlag, 0x00}}},
    {"PlainTransparent", tile(0x02), LookupOutcome::Found, {{kFlag, 0x02}}},
    {"MaskedKeepsEveryBit", tile(0xFD).masked(), LookupOutcome::Found, {{kFlag, 0xFD}}},
    {"OtherMaskIsNoImg", tile(0).signature("VAY["), LookupOutcome::NotImg},  // "DSKI" ^ 0x12
    {"LowerCaseSignatureIsNoImg", tile(0).signature("dski"), LookupOutcome::NotImg},
    {"EmptyFileIsNoImg", tile(0).size(0), LookupOutcome::NotImg},
    {"FifteenBytesAreNoImg", tile(0).size(15), LookupOutcome::NotImg},
    {"HeaderOnlyHasNoTre", tile(2).size(0x410), LookupOutcome::TreNotFound},
    {"BlockSize16384", tile(2).exponents(9, 5).entries({{"TRE", 1}}).treHeaderAt(16384), LookupOutcome::Found,
     {{16384 + 0x3F, 2}}},
    {"ExponentSumWrapsModulo256", tile(2).exponents(200, 65), LookupOutcome::Found, {{kFlag, 2}}},
    {"ExponentSum30IsTheLargest", tile(2).exponents(30, 0).entries({{"TRE", 1}}).treHeaderAt(GiB),
     LookupOutcome::Found, {{GiB + 0x3F, 2}}},
    {"ExponentSum31Overflows", tile(2).exponents(16, 15), 6},
    {"ExponentSum255Overflows", tile(2).exponents(255, 0), 6},
    {"FatEndJustBeforeTheTreEntry", tile(2).fatEnd(0x800), LookupOutcome::TreNotFound},
    {"FatEndOneIntoTheTreEntry", tile(2).fatEnd(0x801), LookupOutcome::Found, {{kFlag, 2}}},
    {"FatEndNegative", tile(2).fatEnd(-5), LookupOutcome::TreNotFound},
    {"FatEndMostNegativeWrapsToTheLargest", tile(2).fatEnd(std::numeric_limits<std::int32_t>::min()),
     LookupOutcome::Found, {{kFlag, 2}}},
    {"FatEndLargestWalksToTheEndOfTheFile",
     tile(2).entries({{"RGN", 10}}).treHeaderAt(-1).fatEnd(std::numeric_limits<std::int32_t>::max()),
     LookupOutcome::TreNotFound},
    {"TreEntryInTheLastSlotBelow2GiB",
     tile(2).exponents(17, 0).entries({{"RGN", 10}}).treHeaderAt(0x4001ULL << 17)
         .fatEnd(std::numeric_limits<std::int32_t>::max()).entryAt(0x7FFFFE00, {"TRE", 0x4001}),
     LookupOutcome::Found, {{(0x4001ULL << 17) + 0x3F, 2}}, 33000},
    {"FirstBlockNumbersAreUnsigned", tile(2).entries({{"TRE", 0x8000}}).treHeaderAt(0x8000 * 512),
     LookupOutcome::Found, {{0x8000 * 512 + 0x3F, 2}}},
    {"AMapPast4GiBIsReadWhereItLies", tile(2).exponents(17, 0).entries({{"TRE", 0x9000}}).treHeaderAt(0x9000ULL << 17),
     LookupOutcome::Found, {{(0x9000ULL << 17) + 0x3F, 2}}},
    {"HeaderPastTheEndIsBad", tile(2).entries({{"RGN", 10}, {"TRE", 100}}), LookupOutcome::TreBad},
    {"NoHeaderIsBad", tile(2).treHeaderAt(-1), LookupOutcome::TreBad},
    {"FlagBytePastTheEndIsBad", tile(2).size(4096 + 0x3F), LookupOutcome::TreBad},
    {"FlagByteLastInTheFile", tile(2).size(4096 + 0x40), LookupOutcome::Found, {{kFlag, 2}}},
    {"EveryMapOfACombinedContainer", TileBuilder::combined({0x01, 0x03, 0x01}), LookupOutcome::Found,
     {{0xC3F, 1}, {0xE3F, 3}, {0x103F, 1}}},
    {"EveryMapMasked", TileBuilder::combined({0x03, 0x01}).masked(), LookupOutcome::Found, {{0xA3F, 3}, {0xC3F, 1}}},
    {"ALaterPartIsNoNewMap",
     tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 30, 0x0100, "A"}, {"TRE", 9, 0, "B"}}).header(9 * 512, 2),
     LookupOutcome::Found, {{kFlag, 0}, {0x123F, 2}}},
    {"ARepeatedNameWithPart0IsAnotherMap", tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 9, 0, "A"}}).header(9 * 512, 2),
     LookupOutcome::Found, {{kFlag, 0}, {0x123F, 2}}},
    {"OneMapWithoutHeaderMakesTheContainerBad", tile(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 9, 0, "B"}}),
     LookupOutcome::TreBad},
    {"TheFirstTreSubfileEndsTheDirectory", tile(2).entries({{"TRE", 4}}).treHeaderAt(0x800).fatEnd(0xA00),
     LookupOutcome::Found, {{0x83F, 2}}},
};

class Walk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(Walk, EndsAsTheContainerDemands)
{
    const WalkCase& c = GetParam();
    testing::TempDir dir;
    const std::string path = dir.file("T.IMG");
    const testing::Image image = c.tile.image();
    image.writeTo(path);
    testing::ScriptedPlatform env;
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
    Maps maps;
    for (const MapEntry& map : found.maps) {
        maps.emplace_back(map.flagOffset(), map.TreFlags);
    }
    if (end == End(LookupOutcome::Found)) {
        EXPECT_EQ(maps, c.maps);
    }
    EXPECT_LE(env.count("read"), c.reads);
    EXPECT_EQ(env.count("write"), 0);
    EXPECT_TRUE(image.isOnDisk(path));
}

INSTANTIATE_TEST_SUITE_P(Containers, Walk, ::testing::ValuesIn(kWalks),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The window's probe and writer ---------------------------------------------------------

class Writer : public ::testing::Test {
protected:
    std::string put(const testing::Image& image)
    {
        image.writeTo(path);
        return path;
    }
    // Probes and switches the file; returns the status text the probe gave.
    std::string probeAndWrite(std::int16_t index)
    {
        std::string spec = path;
        std::string kennung;
        Trnsp_Read(services, spec, kennung);
        Trnsp_Write(services, spec, index);
        return kennung;
    }
    std::vector<std::string> prompts() const
    {
        std::vector<std::string> texts;
        for (const auto& m : env.ui.messages) {
            texts.push_back(m.prompt);
        }
        return texts;
    }

    testing::TempDir dir;
    std::string path = dir.file("T.IMG");
    testing::ScriptedPlatform env;
    ProbeState state;
    Services services{env.platform, state, nullptr};
};

struct SwitchCase {
    const char* name;
    TileBuilder tile;
    std::int16_t index;
    Maps stored;  // the bytes on disk at the flag offsets afterwards; no other byte changes
    long writes;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

const SwitchCase kSwitches[] = {
    {"OpaqueMadeTransparent", tile(0x00), 1, {{kFlag, 0x02}}, 1},
    {"TransparentMadeTransparentIsNotWritten", tile(0x02), 1, {{kFlag, 0x02}}, 0},
    {"AllBitsMadeOpaque", tile(0xFF), 0, {{kFlag, 0xFD}}, 1},
    {"AllBitsMadeTransparentIsNotWritten", tile(0xFF), 1, {{kFlag, 0xFF}}, 0},
    {"MaskedStaysMasked", tile(0x03).masked(), 0, {{kFlag, 0x01 ^ 0x5B}}, 1},
    {"OnlyTheOpaqueMapsOfAMixedContainer", TileBuilder::combined({0x01, 0x03, 0x81}), 1,
     {{0xC3F, 0x03}, {0xE3F, 0x03}, {0x103F, 0x83}}, 2},
    {"AMapPast4GiB", tile(0x02).exponents(17, 0).entries({{"TRE", 0x9000}}).treHeaderAt(0x9000ULL << 17), 0,
     {{(0x9000ULL << 17) + 0x3F, 0x00}}, 1},
};

class Switch : public Writer, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(Switch, RewritesExactlyTheFlagBytesThatDiffer)
{
    const SwitchCase& c = GetParam();
    testing::Image expected = c.tile.image();
    put(expected);
    probeAndWrite(c.index);
    for (const auto& [offset, value] : c.stored) {
        auto piece = std::prev(expected.pieces.upper_bound(offset));
        piece->second.at(offset - piece->first) = value;
    }
    EXPECT_TRUE(expected.isOnDisk(path));
    EXPECT_EQ(env.count("write"), c.writes);
    EXPECT_EQ(env.count("flush"), c.writes > 0 ? 1 : 0) << "what is not written is not flushed";
    EXPECT_TRUE(env.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, Switch, ::testing::ValuesIn(kSwitches),
                         [](const auto& info) { return std::string(info.param.name); });

// What happens to the file between the probe and the write, and how the writer answers.
struct Mishap {
    const char* name;
    std::function<void(const std::string& path)> between;  // after the probe, before the write
    std::function<void(const std::string& path)> during;    // right before the one-byte write
    std::string prompt;
    bool posixOnly = false;  // Windows refuses the change while the writer holds the file
};

void PrintTo(const Mishap& m, std::ostream* os) { *os << m.name; }

const auto kTruncate = [](const std::string& path) { std::filesystem::resize_file(testing::u8(path), 0x1000); };

const Mishap kMishaps[] = {
    {"MadeReadOnly", testing::makeReadOnly, nullptr, "Fehler : 75"},
    {"Deleted", [](const std::string& p) { std::filesystem::remove(testing::u8(p)); }, nullptr,
     "Datei {path} nicht gefunden (not found)"},
    {"RewrittenWithAnotherBlockSize",
     [](const std::string& p) { tile(0).exponents(10, 0).entries({{"TRE", 5}}).treHeaderAt(5 * 1024).image().writeTo(p); },
     nullptr, "Fehler in TRE"},
    {"TruncatedBeforeTheHeader", kTruncate, nullptr, "Fehler in TRE"},
    {"TruncatedRightBeforeTheWrite", nullptr, kTruncate, "Fehler : 57", true},
    {"ReplacedRightBeforeTheWrite", nullptr,
     [](const std::string& p) {
         tile(0).image().writeTo(p + ".new");
         std::filesystem::rename(testing::u8(p + ".new"), testing::u8(p));
     },
     "Fehler : 57", true},
};

class WriteFailure : public Writer, public ::testing::WithParamInterface<Mishap> {};

TEST_P(WriteFailure, IsReportedAndNothingIsWrittenOrGrown)
{
    const Mishap& m = GetParam();
#ifdef _WIN32
    if (m.posixOnly) {
        GTEST_SKIP() << "the writer's open keeps others from changing the file";
    }
#endif
    put(tile(0x00).image());
    std::string spec = path;
    std::string kennung;
    Trnsp_Read(services, spec, kennung);
    ASSERT_EQ(kennung, kKennungOpaque);
    const std::string old = path + ".old";  // the file first probed, wherever its path leads later
    std::filesystem::create_hard_link(testing::u8(path), testing::u8(old));
    Bytes oldAfter, pathAfter;  // what the mishap left
    bool present = false;
    const auto mishap = [&](const auto& change) {
        change(path);
        oldAfter = testing::readFile(old);
        present = std::filesystem::exists(testing::u8(path));
        pathAfter = present ? testing::readFile(path) : Bytes{};
    };
    if (m.between) {
        mishap(m.between);
    } else {
        env.files.beforeWrite = [&](const std::string&) { mishap(m.during); };
    }

    Trnsp_Write(services, spec, 1);

    std::string prompt = m.prompt;
    if (const auto at = prompt.find("{path}"); at != std::string::npos) {
        prompt.replace(at, 6, Shown(env.ui, path));
    }
    EXPECT_EQ(prompts(), std::vector{prompt});
    EXPECT_EQ(testing::readFile(old), oldAfter) << "nothing is written once the file has changed";
    ASSERT_EQ(std::filesystem::exists(testing::u8(path)), present) << "the writer never creates a file";
    EXPECT_EQ(present ? testing::readFile(path) : Bytes{}, pathAfter) << "nor grows one";
}

INSTANTIATE_TEST_SUITE_P(BetweenProbeAndWrite, WriteFailure, ::testing::ValuesIn(kMishaps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Writer, RereadsTheFlagByteSoThatOtherBitsSetMeanwhileStay)
{
    put(tile(0x00).image());
    std::string spec = path;
    std::string kennung;
    Trnsp_Read(services, spec, kennung);
    Bytes bytes = testing::readFile(path);
    bytes[kFlag] = 0x80;  // another program sets a bit of its own
    testing::writeFile(path, bytes);
    Trnsp_Write(services, spec, 1);
    bytes[kFlag] = 0x82;
    EXPECT_EQ(testing::readFile(path), bytes);
}

TEST_F(Writer, AFailedWriteInACombinedContainerIsReportedAndWhatWasWrittenIsFlushed)
{
    const testing::Image image = TileBuilder::combined({0x00, 0x00, 0x00}).image();
    put(image);
    int writes = 0;
    env.files.beforeWrite = [&](const std::string&) {
        if (++writes == 2) {
            throw platform::RunTimeError(platform::Failure::DiskFull);
        }
    };
    probeAndWrite(1);
    EXPECT_EQ(prompts(), std::vector<std::string>{"Fehler : 61"});
    EXPECT_EQ(testing::readFile(path)[0xC3F], 0x02);
    EXPECT_EQ(testing::readFile(path)[0xE3F], 0x00);
    EXPECT_EQ(env.count("flush T.IMG"), 1);
}

// ---- The tiles mkgmap built (tests/data/make_tiles.sh) ----------------------------------

struct RealTile {
    const char* file;
    const char* kennung;
    std::vector<std::uint64_t> flags;  // the flag byte of each map, in directory order
};

void PrintTo(const RealTile& t, std::ostream* os) { *os << t.file; }

class RealTiles : public Writer, public ::testing::WithParamInterface<RealTile> {};

TEST_P(RealTiles, RoundTripChangesOnlyTheTransparencyBitOfEachMap)
{
    const RealTile& t = GetParam();
    const Bytes original = testing::readFile(testing::sampleFile(t.file));
    testing::writeFile(path, original);
    EXPECT_EQ(probeAndWrite(1), t.kennung);
    Bytes golden = original;
    for (const std::uint64_t at : t.flags) {
        golden[at] |= kTransparentBit;
    }
    EXPECT_EQ(testing::readFile(path), golden);
    EXPECT_EQ(probeAndWrite(0), kKennungTransparent);
    for (const std::uint64_t at : t.flags) {
        golden[at] &= static_cast<std::uint8_t>(~kTransparentBit);
    }
    EXPECT_EQ(testing::readFile(path), golden);
    EXPECT_EQ(probeAndWrite(0), kKennungOpaque);
    EXPECT_TRUE(env.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Mkgmap, RealTiles,
                         ::testing::Values(RealTile{"opaque.img", "  < >", {0xE3F}},
                                           RealTile{"transparent.img", "  <T>", {0xE3F}},
                                           RealTile{"bigblock.img", "  < >", {0x203F}},
                                           RealTile{"gmapsupp.img", "  <T 1/2>", {0x1A3F, 0x223F}},
                                           RealTile{"contours.img", "  <T 2/5>", {0x303F, 0x3C3F, 0x483F, 0x543F, 0x603F}}),
                         [](const auto& info) {
                             const std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace ks::container
