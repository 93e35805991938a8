// Writes the seed files of the container fuzzer into the folder given as the
// only argument: synthetic map files of every layout the walk tells apart.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "support/tile_builder.h"

int main(int argc, char** argv)
{
    using ks::testing::TileBuilder;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    std::filesystem::create_directories(folder);
    const std::vector<std::pair<std::string, TileBuilder>> seeds = {
        {"plain-opaque.img", TileBuilder::ordinary(0x00)},
        {"plain-transparent.img", TileBuilder::ordinary(0x02)},
        {"masked-opaque.img", TileBuilder::ordinary(0x80).masked()},
        {"masked-transparent.img", TileBuilder::ordinary(0x03).masked()},
        {"combined.img", TileBuilder::combined({0x00, 0x02, 0x01, 0x03})},
        {"combined-masked.img", TileBuilder::combined({0x02, 0x00}, 6).masked()},
        {"later-part.img", TileBuilder::ordinary(0).entries({{"TRE", 8, 0, "A"}, {"TRE", 30, 0x100, "A"}})},
        {"big-blocks.img", TileBuilder::ordinary(0x00).exponents(9, 3).treHeaderAt(8 * 4096)},
        {"small-blocks.img", TileBuilder::ordinary(0x00).exponents(6, 0).entries({{"TRE", 32}}).treHeaderAt(0x800)},
        {"no-tre-entry.img", TileBuilder::ordinary(0x00).entries({{"RGN", 10}, {"LBL", 12}})},
        {"no-tre-header.img", TileBuilder::ordinary(0x00).treHeaderAt(-1)},
        {"exponent-overflow.img", TileBuilder::ordinary(0x00).exponents(20, 11)},
        {"huge-fat-end.img", TileBuilder::ordinary(0x00).fatEnd(0x7FFFFFFF)},
        {"negative-fat-end.img", TileBuilder::ordinary(0x00).fatEnd(-1).masked()},
        {"short-header.img", TileBuilder::ordinary(0x00).size(8 * 512 + 0x3F)},
    };
    for (const auto& [name, builder] : seeds) {
        ks::testing::writeFile(folder + name, builder.build());
    }
    for (const char* kind : {"p", "wide", "tre", "tret", "cut", "tre0", "short"}) {
        ks::testing::writeFile(folder + kind + ".seed", TileBuilder::kind(kind));
    }
    return 0;
}
