// The probe and the writer on tiles that mkgmap built from tests/data/tiny.osm
// (tests/data/make_tiles.sh). Every test works on a copy in a temporary folder.
#include <gtest/gtest.h>

#include "container/img_container.h"
#include "support/disk.h"
#include "support/scripted_platform.h"

namespace ks::container {
namespace {

using testing::Bytes;
using Offsets = std::vector<std::size_t>;

// Where mkgmap put the flag byte of the first map, the one the window sees.
struct RealTile {
    const char* file;
    std::size_t flagAt;
    std::uint8_t flags;
};

const RealTile kTiles[] = {
    {"opaque.img", 0xE3F, 0x01},
    {"transparent.img", 0xE3F, 0x03},
    {"bigblock.img", 0x203F, 0x01},  // 4096-byte blocks
    {"gmapsupp.img", 0x1A3F, 0x01},  // map 63240011; the second map, 63240012, is transparent
};

void PrintTo(const RealTile& t, std::ostream* os) { *os << t.file; }

class RealTileTest : public ::testing::TestWithParam<RealTile> {};

TEST_P(RealTileTest, TheProbeReportsTheTileAndTheWriterRewritesOnlyItsFlagByte)
{
    const RealTile& t = GetParam();
    testing::TempDir dir;
    testing::ScriptedPlatform env;
    ProbeState state;
    Services services{env.platform, state, nullptr};
    for (const std::int16_t index : {1, 0}) {
        SCOPED_TRACE(index == 1 ? "made transparent" : "made opaque");
        std::string path = dir.file(t.file);
        testing::writeFile(path, testing::readFile(testing::sampleFile(t.file)));
        const Bytes before = testing::readFile(path);
        std::string kennung;
        Trnsp_Read(services, path, kennung);
        EXPECT_EQ(kennung, (t.flags & kTransparentBit) != 0 ? kKennungTransparent : kKennungOpaque);
        Trnsp_Write(services, path, index);

        const Bytes after = testing::readFile(path);
        const auto expected = static_cast<std::uint8_t>((t.flags & ~kTransparentBit) | (index != 0 ? kTransparentBit : 0));
        EXPECT_EQ(testing::differingOffsets(before, after), expected == t.flags ? Offsets{} : Offsets{t.flagAt});
        EXPECT_EQ(after[t.flagAt], expected);
        Trnsp_Read(services, path, kennung);
        EXPECT_EQ(kennung, index != 0 ? kKennungTransparent : kKennungOpaque);
        EXPECT_TRUE(env.ui.messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Mkgmap, RealTileTest, ::testing::ValuesIn(kTiles), [](const auto& info) {
    const std::string name = info.param.file;
    return name.substr(0, name.find('.'));
});

}  // namespace
}  // namespace ks::container
