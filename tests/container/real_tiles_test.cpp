// The probe and the writer on tiles that mkgmap built from tests/data/tiny.osm
// (tests/data/make_tiles.sh). Every test works on a copy in a temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "container/img_container.h"
#include "support/disk.h"
#include "support/memory_files.h"
#include "support/scripted_platform.h"

namespace ks::container {
namespace {

using testing::Bytes;

// How mkgmap laid out each sample: all are unmasked with the directory ending
// at FatEnd, and the window's lookup sees the first TRE entry only.
struct RealTile {
    const char* file;
    std::size_t size;
    std::int32_t blockSize;   // 2^(E1 + E2) from 0x61 and 0x62
    std::int32_t fatPos;      // the first TRE entry
    std::int64_t flagOffset;  // TRE header + 0x3F
    std::uint8_t flags;       // the flag byte as mkgmap wrote it
    const char* kennung;      // what the probe reports
};

const RealTile kTiles[] = {
    {"opaque.img", 5120, 512, 0x800, 0xE3F, 0x01, "  < >"},
    {"transparent.img", 5120, 512, 0x800, 0xE3F, 0x03, "  <T>"},
    {"bigblock.img", 16384, 4096, 0x800, 0x203F, 0x01, "  < >"},
    // Map 63240011 (opaque) comes first; 63240012 (transparent) has its flag byte at 0x223F.
    {"gmapsupp.img", 11264, 512, 0xA00, 0x1A3F, 0x01, "  < >"},
};

void PrintTo(const RealTile& t, std::ostream* os) { *os << t.file; }

class RealTileTest : public ::testing::TestWithParam<RealTile> {
public:
    // A fresh copy of the sample in the temporary folder.
    std::string copy()
    {
        const std::string path = dir.file(GetParam().file);
        std::filesystem::copy_file(testing::sampleFile(GetParam().file), path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }
    void probe(std::string& path, std::string& kennung) { Trnsp_Read(services, path, kennung); }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    ProbeState state;
    Services services{env.platform, state, nullptr};
};

TEST_P(RealTileTest, TheSampleIsAsMkgmapBuiltIt)
{
    const RealTile& t = GetParam();
    const Bytes bytes = testing::readFile(testing::sampleFile(t.file));
    ASSERT_EQ(bytes.size(), t.size);
    EXPECT_EQ(bytes[0x10], 'D');
    EXPECT_EQ(bytes[static_cast<std::size_t>(t.flagOffset)], t.flags);
    EXPECT_EQ(std::int32_t{1} << (bytes[0x61] + bytes[0x62]), t.blockSize);
}

TEST_P(RealTileTest, TheProbeAgreesWithHowTheTileWasBuilt)
{
    const RealTile& t = GetParam();
    std::string path = copy();
    const Bytes before = testing::readFile(path);
    std::string kennung;
    probe(path, kennung);

    EXPECT_EQ(kennung, t.kennung);
    EXPECT_EQ(path, dir.file(t.file));
    EXPECT_TRUE(env.ui.messages.empty());
    EXPECT_EQ(state.end, ProbeEnd::Found);
    EXPECT_EQ(state.img.XorByte, 0);
    EXPECT_EQ(state.img.BlockSize, t.blockSize);
    EXPECT_EQ(state.img.FatPos, t.fatPos);
    EXPECT_EQ(std::int64_t{state.img.TreOffset} + kTreFlagsOffset, t.flagOffset);
    EXPECT_EQ(state.img.TreFlags, t.flags);
    EXPECT_EQ(testing::readFile(path), before);
}

TEST_P(RealTileTest, SwitchingRewritesOnlyTheFlagByte)
{
    const RealTile& t = GetParam();
    const auto flagAt = static_cast<std::size_t>(t.flagOffset);
    for (const std::int16_t index : {std::int16_t{1}, std::int16_t{0}}) {
        SCOPED_TRACE(index == 1 ? "made transparent" : "made opaque");
        std::string path = copy();
        const Bytes before = testing::readFile(path);
        std::string kennung;
        probe(path, kennung);
        Trnsp_Write(services, path, index);

        const Bytes after = testing::readFile(path);
        const std::uint8_t expected = SwitchedFlags(t.flags, index != 0);
        EXPECT_EQ(after.size(), t.size);
        EXPECT_EQ(after[flagAt], expected);
        EXPECT_EQ(testing::differingOffsets(before, after),
                  expected == t.flags ? std::vector<std::size_t>{} : std::vector<std::size_t>{flagAt});

        probe(path, kennung);
        EXPECT_EQ(kennung, index != 0 ? kKennungTransparent : kKennungOpaque);
        EXPECT_TRUE(env.ui.messages.empty());
    }
}

TEST_P(RealTileTest, AProbeCostsOneOpenAtMostTwoReadsAndOneClose)
{
    testing::ScriptedUi ui;
    testing::MemoryFileLayer files;
    files.files["T.IMG"] = testing::readFile(testing::sampleFile(GetParam().file));
    platform::Platform platform{ui, files};
    ProbeState probeState;
    Services memory{platform, probeState, nullptr};
    std::string path = "T.IMG";
    std::string kennung;

    Trnsp_Read(memory, path, kennung);
    EXPECT_EQ(kennung, GetParam().kennung);
    EXPECT_EQ(files.counts.opens, 1);
    EXPECT_LE(files.counts.reads, 2);
    EXPECT_EQ(files.counts.writes, 0);
    EXPECT_EQ(files.counts.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Mkgmap, RealTileTest, ::testing::ValuesIn(kTiles), [](const auto& info) {
    std::string name = info.param.file;
    return name.substr(0, name.find('.'));
});

TEST(RealTiles, ARefusedWriteLeavesTheRealTileAlone)
{
    testing::TempDir dir;
    testing::ScriptedPlatform env;
    ProbeState state;
    Services services{env.platform, state, nullptr};
    std::string path = dir.file("opaque.img");
    std::filesystem::copy_file(testing::sampleFile("opaque.img"), path);
    std::string kennung;
    Trnsp_Read(services, path, kennung);
    ASSERT_EQ(kennung, "  < >");
    testing::makeReadOnly(path);
    const Bytes before = testing::readFile(path);

    Trnsp_Write(services, path, 1);

    EXPECT_EQ(env.ui.prompts(), std::vector<std::string>{"Fehler : 75"});
    EXPECT_EQ(testing::readFile(path), before);
}

}  // namespace
}  // namespace ks::container
