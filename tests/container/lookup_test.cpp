// The lookup from the start of a container to its TRE flag byte, run on
// containers held in memory.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "container/img_container.h"
#include "support/memory_files.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using testing::Bytes;
using testing::DirEntry;
using testing::IoCounts;
using testing::MemoryFile;
using testing::TileBuilder;

struct LookupCase {
    const char* name;
    Bytes bytes;
    std::optional<LookupOutcome> outcome;  // empty: a run-time error
    int error = 0;                         // its number
    std::int32_t treOffset = 0;            // checked when Found
    std::uint8_t treFlags = 0;             // checked when Found
    std::int32_t blockSize = 0;            // checked when non-zero
};

std::vector<LookupCase> lookupCases()
{
    const auto tile = [](std::uint8_t flags) { return TileBuilder::ordinary(flags); };
    return {
        {"PlainOpaque", tile(0x00).build(), LookupOutcome::Found, 0, 4096, 0x00, 512},
        {"PlainTransparent", tile(0x02).build(), LookupOutcome::Found, 0, 4096, 0x02, 512},
        {"MaskedTransparent", tile(0x03).masked().build(), LookupOutcome::Found, 0, 4096, 0x03, 512},
        {"MaskedOpaque", tile(0xFD).masked().build(), LookupOutcome::Found, 0, 4096, 0xFD, 512},
        {"BlockSize16384", tile(0x02).exponents(9, 5).entries({{"TRE", 1}}).treHeaderAt(16384).size(0).build(),
         LookupOutcome::Found, 0, 16384, 0x02, 16384},
        {"ExponentSumWrapsModulo256", tile(0x00).exponents(200, 65).build(), LookupOutcome::Found, 0, 4096, 0, 512},
        {"ExponentSum31Overflows", tile(0x00).exponents(16, 15).build(), std::nullopt, 6},
        {"ExponentSum255Overflows", tile(0x00).exponents(255, 0).build(), std::nullopt, 6},
        {"TreEntryNotInUseIsTaken", tile(0x02).entries({{"RGN", 10}, {"TRE", 8, 0}}).build(), LookupOutcome::Found, 0,
         4096, 0x02},
        {"FirstTreEntryWins", tile(0x02).entries({{"TRE", 8}, {"TRE", 12}}).build(), LookupOutcome::Found, 0, 4096,
         0x02},
        {"NoTreEntry", tile(0x02).entries({{"RGN", 10}, {"LBL", 12}}).build(), LookupOutcome::TreNotFound},
        {"TreEntryPastFatEnd", tile(0x02).fatEnd(0x800).build(), LookupOutcome::TreNotFound},
        {"FatEndAtFirstEntry", tile(0x02).fatEnd(0x600).build(), LookupOutcome::TreNotFound},
        {"FatEndNegative", tile(0x02).fatEnd(-5).build(), LookupOutcome::TreNotFound},
        {"FatEndMostNegativeWrapsToWalk", tile(0x02).fatEnd(std::numeric_limits<std::int32_t>::min()).build(),
         LookupOutcome::Found, 0, 4096, 0x02},
        {"FatEndLargestWithoutTre",
         tile(0x02).entries({{"RGN", 10}}).treHeaderAt(-1).fatEnd(std::numeric_limits<std::int32_t>::max()).build(),
         LookupOutcome::TreNotFound},
        {"TreHeaderMissing", tile(0x02).treHeaderAt(-1).build(), LookupOutcome::TreBad},
        {"FlagBytePastEndOfFile", tile(0x02).size(4096 + 0x3F).build(), LookupOutcome::TreBad},
        {"TreHeaderPastEndOfFile", tile(0x02).entries({{"RGN", 10}, {"TRE", 100}}).build(), LookupOutcome::TreBad},
        {"NegativeBlockNumberIsBadPosition", tile(0x02).entries({{"TRE", 0x8000}}).build(), std::nullopt, 63},
        {"NegativeBlockNumberWithTinyBlocksLandsInHeader",
         tile(0x02).exponents(0, 0).entries({{"TRE", 0xFFFF}}).build(), LookupOutcome::TreBad},
        {"OtherMaskByteIsNoImg", [] {
             Bytes b = TileBuilder::ordinary(0).build();
             for (auto& x : b) x ^= 0x12;
             return b;
         }(), LookupOutcome::NotImg},
        {"SignatureInOtherCaseIsNoImg", tile(0x02).signature("dski").build(), LookupOutcome::NotImg},
        {"EmptyFileIsNoImg", Bytes{}, LookupOutcome::NotImg},
        {"FifteenBytesIsNoImg", Bytes(15, 0), LookupOutcome::NotImg},
        {"HeaderOnlyFileHasNoTre", tile(0x02).size(0x40C + 4).build(), LookupOutcome::TreNotFound},
    };
}

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

class LookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, EndsAsTheContainerDemands)
{
    LookupCase c = GetParam();
    const Bytes before = c.bytes;
    IoCounts counts;
    ImgState state;
    std::optional<LookupOutcome> outcome;
    int error = 0;
    {
        MemoryFile file(c.bytes, counts);
        MapReader reader(file);
        try {
            outcome = TreLookup(reader, state);
        } catch (const platform::RunTimeError& e) {
            error = e.number();
        }
    }
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(error, c.error);
    if (c.outcome == LookupOutcome::Found) {
        EXPECT_EQ(state.TreOffset, c.treOffset);
        EXPECT_EQ(state.TreFlags, c.treFlags);
    }
    if (c.blockSize != 0) {
        EXPECT_EQ(state.BlockSize, c.blockSize);
    }
    EXPECT_EQ(counts.writes, 0);
    EXPECT_LE(counts.reads, 3) << "a lookup reads the medium only a few times, whatever FatEnd says";
    EXPECT_EQ(c.bytes, before);
}

INSTANTIATE_TEST_SUITE_P(Containers, LookupTest, ::testing::ValuesIn(lookupCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SwitchedFlags, ChangesOnlyTheTransparencyBit)
{
    EXPECT_EQ(SwitchedFlags(0xFF, true), 0xFF);
    EXPECT_EQ(SwitchedFlags(0xFF, false), 0xFD);
    EXPECT_EQ(SwitchedFlags(0x00, true), 0x02);
    EXPECT_EQ(SwitchedFlags(0x00, false), 0x00);
}

TEST(MapReader, ReadsLittleEndianAndZeroPastTheEnd)
{
    Bytes bytes{0x01, 0x02, 0x03};
    IoCounts counts;
    MemoryFile file(bytes, counts);
    MapReader reader(file);
    EXPECT_EQ(reader.read<std::uint16_t>(0), 0x0201);
    EXPECT_EQ(reader.read<std::uint32_t>(1), 0x0000'0302U) << "a read that straddles the end keeps what is there";
    EXPECT_EQ(reader.read<std::uint32_t>(100), 0U);
    EXPECT_EQ(counts.reads, 1);
    EXPECT_THROW(reader.read<std::uint8_t>(-1), platform::RunTimeError);
    try {
        reader.read<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
        ADD_FAILURE() << "a position past the 32-bit range is an overflow";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_EQ(e.text(), "Überlauf (overflow)");
    }
}

}  // namespace
}  // namespace ks::container
