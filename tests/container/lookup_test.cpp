// The lookup from the start of a container to its TRE flag byte, run on
// containers held in memory.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "container/img_container.h"
#include "container/lookup_cases.h"
#include "support/memory_files.h"

namespace ks::container {
namespace {

using testing::Bytes;
using testing::IoCounts;
using testing::MemoryFile;

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
