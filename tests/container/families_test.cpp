// Map families of a combined container: the MPS subfile of the two-family
// container mkgmap built, read as it is and with one fault planted per row.
#include <gtest/gtest.h>

#include "container/img_container.h"
#include "platform/files.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using testing::Bytes;
using Patch = std::vector<std::pair<std::uint64_t, Bytes>>;  // bytes written over the sample's at an offset

// Where families.img keeps what the rows change.
constexpr std::uint64_t kMpsEntry = 0x600, kMpsSize = 0x60C, kMpsBlocks = 0x620, kMpsData = 0x2400;
constexpr std::uint64_t kSecondL = kMpsData + 56, kHoehen = kMpsData + 0xFD, kLastEntry = 0x2200;
const std::vector<std::string> kAsBuilt = {"4711 Basiskarte 63290000 Basiskarte", "4711 Basiskarte 63290001 Basiskarte",
                                           "4712 Hoehenlinien 63290010 Hoehenlinien",
                                           "4712 Hoehenlinien 63290011 Hoehenlinien"};
Bytes Le16(std::uint16_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
Bytes Le32(std::uint32_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                      static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)}; }

struct FamilyCase {
    const char* name;
    Patch patch;
    MpsOutcome end;
    std::vector<std::string> families = {};  // per map: id, family name, map number, description; "-" for none
    bool masked = false;
};
void PrintTo(const FamilyCase& c, std::ostream* os) { *os << c.name; }

const FamilyCase kFamilies[] = {
    {"AsBuilt", {}, MpsOutcome::Read, kAsBuilt},
    {"Masked", {}, MpsOutcome::Read, kAsBuilt, true},
    {"NameOfHexDigits", {{0x1601, {'0', '3', 'c', '5', 'b', 'a', '9', 'A'}}}, MpsOutcome::Read, kAsBuilt},
    {"NameWithoutRecord", {{0x1601, {'6', '3', '2', '9', '0', '0', '1', '9'}}}, MpsOutcome::Read,
     {kAsBuilt[0], kAsBuilt[1], "-", kAsBuilt[3]}},
    {"Windows1252", {{kHoehen + 1, {0xF6, 0x9A}}}, MpsOutcome::Read,
     {kAsBuilt[0], kAsBuilt[1], "4712 Hö\u0161henlinien 63290010 Hoehenlinien", "4712 Hö\u0161henlinien 63290011 Hoehenlinien"}},
    {"Utf8KeptAsItIs", {{kHoehen + 1, {0xC3, 0xB6}}}, MpsOutcome::Read,
     {kAsBuilt[0], kAsBuilt[1], "4712 Höhenlinien 63290010 Hoehenlinien", "4712 Höhenlinien 63290011 Hoehenlinien"}},
    {"SecondPartContinuesTheBlockList",
     {{kMpsBlocks, Le16(0xFFFF)}, {kLastEntry + 1, {'M', 'A', 'K', 'E', 'G', 'M', 'A', 'P', 'M', 'P', 'S'}},
      {kLastEntry + 0x10, Le16(1)}, {kLastEntry + 0x20, Le16(18)}, {kLastEntry + 0x22, Le16(0xFFFF)}},
     MpsOutcome::Read, kAsBuilt},
    {"NoMps", {{kMpsEntry + 9, {'X'}}}, MpsOutcome::NoMps},
    {"BlocksEndBeforeTheSize", {{kMpsSize, Le32(513)}}, MpsOutcome::CutShort},
    {"RecordHeadCut", {{kMpsSize, Le32(268)}}, MpsOutcome::CutShort},
    {"StringUnterminated", {{kMpsData + 1, Le16(19)}}, MpsOutcome::CutShort},
    {"HexNumberCut", {{kMpsData + 1, Le16(47)}}, MpsOutcome::CutShort},
    {"RecordLongerThanWhatIsLeft", {{kMpsSize, Le32(280)}}, MpsOutcome::RecordTooLong},
    {"BlockPastTheFile", {{kMpsBlocks, Le16(0x7000)}}, MpsOutcome::PastEnd},
    {"BlockListLoops", {{kMpsSize, Le32(1000)}, {kMpsBlocks + 2, Le16(18)}}, MpsOutcome::BlockLoop},
    {"SizeTooLarge", {{kMpsSize, Le32(0x7FFFFFFF)}}, MpsOutcome::TooLarge},
    {"MapNumberTwice", {{kSecondL + 7, {0x90}}}, MpsOutcome::DuplicateMap},
};

class Families : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(Families, ReadsTheMpsOrFallsBackToOneGroup)
{
    Bytes bytes = testing::readFile(std::string(KS_SAMPLE_DIR) + "/families.img");
    for (const auto& [at, patch] : GetParam().patch) {
        std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    for (std::uint8_t& byte : bytes) {
        byte ^= GetParam().masked ? kMaskByte : 0;
    }
    testing::TempDir dir;
    const std::string path = dir.file("GMAPSUPP.IMG");
    testing::writeFile(path, bytes);
    const auto file = platform::nativeFileLayer()->open(path, platform::OpenMode::Probe);
    MapReader reader(*file);
    ContainerMaps found;
    ASSERT_EQ(FindMaps(reader, found), LookupOutcome::Found);
    EXPECT_EQ(found.mps, GetParam().end);
    std::vector<std::string> shown;
    for (const MapEntry& map : found.maps) {
        const auto& family = map.family;
        shown.push_back(!family ? "-" : std::to_string(family->familyId) + " " + family->familyName + " " +
                                            std::to_string(family->mapNumber) + " " + family->description);
    }
    const auto expected = GetParam().families.empty() ? std::vector<std::string>(4, "-") : GetParam().families;
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(testing::readFile(path), bytes);
}

// 150 maps in blocks of 8 KiB: the MPS subfile is larger than the reader's window.
TEST(Families, ABigMpsInBigBlocksCostsItsOwnReadsOnly)
{
    std::vector<std::uint16_t> ids(150, 7);
    ids.back() = 9;
    testing::TempDir dir;
    testing::ScriptedPlatform env;
    const Bytes bytes = testing::TileBuilder::joined(std::vector<std::uint8_t>(150, 0), ids, 13).build();
    for (const bool mps : {false, true}) {
        Bytes file = bytes;
        file.at(0x609) = mps ? 'M' : 'X';  // the type of the first entry, the MPS subfile's
        const std::string path = dir.put("J.IMG", file);
        env.log.clear();
        const auto opened = env.files.open(path, platform::OpenMode::Probe);
        MapReader reader(*opened);
        ContainerMaps found;
        ASSERT_EQ(FindMaps(reader, found), LookupOutcome::Found);
        EXPECT_EQ(found.mps, mps ? MpsOutcome::Read : MpsOutcome::NoMps);
        EXPECT_EQ(found.maps.back().family.value_or(MapFamily{}).familyName, mps ? "FAMILIE 9" : "");
        EXPECT_EQ(env.count("read"), mps ? 152 : 150) << "one read a map; then 6 KiB of MPS in two windows";
        EXPECT_EQ(testing::readFile(path), file);
    }
}

INSTANTIATE_TEST_SUITE_P(Mps, Families, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ks::container
