// Containers with one map and how the window's lookup ends on each: the
// lookup's own cases, and the yardstick for the multi-map walk on one map.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <vector>

#include "container/img_container.h"
#include "support/disk.h"
#include "support/tile_builder.h"

namespace ks::container {

struct LookupCase {
    const char* name;
    testing::Bytes bytes;
    std::optional<LookupOutcome> outcome;  // empty: a run-time error
    int error = 0;                         // its number
    std::int32_t treOffset = 0;            // checked when Found
    std::uint8_t treFlags = 0;             // checked when Found
    std::int32_t blockSize = 0;            // checked when non-zero
};

inline void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<LookupCase> lookupCases()
{
    using testing::Bytes;
    using testing::TileBuilder;
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
        {"FatEndOneIntoTheTreEntry", tile(0x02).fatEnd(0x801).build(), LookupOutcome::Found, 0, 4096, 0x02},
        {"FatEndAtFirstEntry", tile(0x02).fatEnd(0x600).build(), LookupOutcome::TreNotFound},
        {"FatEndNegative", tile(0x02).fatEnd(-5).build(), LookupOutcome::TreNotFound},
        {"FatEndMostNegativeWrapsToWalk", tile(0x02).fatEnd(std::numeric_limits<std::int32_t>::min()).build(),
         LookupOutcome::Found, 0, 4096, 0x02},
        {"FatEndLargestWithoutTre",
         tile(0x02).entries({{"RGN", 10}}).treHeaderAt(-1).fatEnd(std::numeric_limits<std::int32_t>::max()).build(),
         LookupOutcome::TreNotFound},
        {"TreHeaderMissing", tile(0x02).treHeaderAt(-1).build(), LookupOutcome::TreBad},
        {"FlagBytePastEndOfFile", tile(0x02).size(4096 + 0x3F).build(), LookupOutcome::TreBad},
        {"FlagByteLastInFile", tile(0x02).size(4096 + 0x40).build(), LookupOutcome::Found, 0, 4096, 0x02},
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

}  // namespace ks::container
