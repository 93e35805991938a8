// The POSIX file layer: how opening fails, reads past the end, the one-byte
// write that never grows a file, and the folder enumeration.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "platform/posix_files.h"
#include "support/disk.h"

namespace ks::platform {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

int openError(PosixFileLayer& files, const std::string& path)
{
    try {
        files.openReadWrite(path);
    } catch (const RunTimeError& e) {
        return e.number();
    }
    return 0;
}

TEST(PosixFileLayer, OpenFailsWithTheNumberTheMessagesExpect)
{
    testing::TempDir dir;
    PosixFileLayer files;
    testing::writeFile(dir.file("ro.img"), Bytes(10, 1));
    testing::makeReadOnly(dir.file("ro.img"));
    testing::writeFile(dir.file("plain.txt"), Bytes(3, 1));
    fs::create_directory(dir.file("folder.img"));

    struct Row {
        const char* name;
        std::string path;
        int number;
    };
    const Row rows[] = {
        {"missing file", dir.file("missing.img"), 53},
        {"empty path", "", 75},
        {"folder", dir.file("folder.img"), 75},
        {"no write bit, even for root", dir.file("ro.img"), 75},
        {"file used as a folder", dir.file("plain.txt") + "/x.img", 76},
        {"writable file", dir.file("plain.txt"), 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(openError(files, row.path), row.number) << row.name;
    }
    EXPECT_FALSE(fs::exists(dir.file("missing.img"))) << "opening never creates a file";
    EXPECT_EQ(testing::readFile(dir.file("ro.img")), Bytes(10, 1));
}

TEST(PosixFileLayer, ReadsStopAtTheEndAndWritesNeverGrowTheFile)
{
    testing::TempDir dir;
    PosixFileLayer files;
    const Bytes original{1, 2, 3, 4};
    testing::writeFile(dir.file("f"), original);
    {
        auto file = files.openReadWrite(dir.file("f"));
        EXPECT_EQ(file->size(), 4U);
        std::uint8_t buffer[8] = {};
        EXPECT_EQ(file->readAt(2, buffer), 2U);
        EXPECT_EQ(file->readAt(100, buffer), 0U);
        try {
            file->writeByteAt(4, 9);
            ADD_FAILURE() << "a write at the end must fail";
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.number(), 63);
        }
        file->writeByteAt(3, 9);
        file->flush();
    }
    EXPECT_EQ(testing::readFile(dir.file("f")), (Bytes{1, 2, 3, 9}));
}

TEST(PosixFileLayer, EnumeratesRegularFilesAndNothingElse)
{
    testing::TempDir dir;
    PosixFileLayer files;
    for (const char* name : {"A.IMG", ".hidden.img", "notes.txt"}) {
        testing::writeFile(dir.file(name), Bytes(4, 0));
    }
    fs::create_directory(dir.file("SUB.IMG"));
    ASSERT_EQ(::mkfifo(dir.file("PIPE.IMG").c_str(), 0644), 0);
    fs::create_symlink(dir.file("A.IMG"), dir.file("LINK.IMG"));
    fs::create_symlink(dir.file("nowhere"), dir.file("DANGLING.IMG"));
    fs::create_symlink(dir.file("LOOP.IMG"), dir.file("LOOP.IMG"));
    fs::create_directory_symlink(dir.file("SUB.IMG"), dir.file("DIRLINK.IMG"));
    ASSERT_TRUE(testing::makeSocket(dir.file("SOCK.IMG")));

    auto names = files.regularFiles(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden.img", "A.IMG", "LINK.IMG", "notes.txt"}));
    EXPECT_TRUE(files.regularFiles(dir.file("gone")).empty());
    EXPECT_TRUE(files.regularFiles("").empty()) << "no folder means no names, not the working folder";
}

}  // namespace
}  // namespace ks::platform
