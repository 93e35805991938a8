// Fills a folder with synthetic map tiles to try the program on: opaque and
// transparent tiles, a masked one, a combined container whose maps disagree,
// a read-only one and a text file.
#include <filesystem>
#include <iostream>

#include "support/temp_dir.h"
#include "support/tile_builder.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_demo_folder FOLDER\n";
        return 2;
    }
    namespace fs = std::filesystem;
    using ks::testing::TileBuilder;
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    const auto put = [&](const char* name, const ks::testing::Bytes& bytes) {
        const fs::path path = folder / name;
        if (fs::exists(path)) {
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        }
        ks::testing::writeFile(path.string(), bytes);
        return path.string();
    };
    put("63240001.img", TileBuilder::ordinary(0x00).build());
    put("63240002.img", TileBuilder::ordinary(0x00).build());
    put("63240003.img", TileBuilder::ordinary(0x04).build());
    put("HOEHEN01.IMG", TileBuilder::ordinary(0x02).build());
    put("HOEHEN02.IMG", TileBuilder::ordinary(0x06).build());
    put("MASKIERT.IMG", TileBuilder::ordinary(0x02).masked().build());
    put("GMAPSUPP.IMG", TileBuilder::combined({0x00, 0x02, 0x00, 0x00, 0x02}).build());
    ks::testing::makeReadOnly(put("SCHREIBGESCHUETZT.IMG", TileBuilder::ordinary(0x00).build()));
    ks::testing::writeFile((folder / "liesmich.txt").string(),
                           ks::testing::Bytes{'D', 'e', 'm', 'o', '-', 'O', 'r', 'd', 'n', 'e', 'r', '\n'});
    std::cout << "demo folder ready: " << fs::absolute(folder).string() << '\n';
    return 0;
}
