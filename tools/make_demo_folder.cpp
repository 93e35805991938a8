// Fills a folder with synthetic map tiles to try the program on: tiles in
// both states, a masked one, a combined container whose maps disagree, a map
// bundle and a long name, all listed without a message box; and a subfolder,
// Fehlerbeispiele, whose text file, map without TRE and read-only tile show
// the error boxes.
#include <filesystem>
#include <iostream>

#include "support/tile_builder.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_demo_folder FOLDER\n";
        return 2;
    }
    ks::testing::putDemoFolder(argv[1]);
    std::cout << "demo folder ready: " << std::filesystem::absolute(argv[1]).string() << '\n';
    return 0;
}
