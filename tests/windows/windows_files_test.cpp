// The Windows file layer on a real file system: run-time numbers, share modes,
// the read-only attribute, non-ASCII and long paths, and the bytes on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "container/img_container.h"
#include "platform/windows_files.h"
#include "support/tile_builder.h"

namespace ks::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::chrono::milliseconds kShortPatience{100};  // the busy wait, cut short for the tests
constexpr std::size_t kLongPathChars = 300;               // past MAX_PATH (260)

const Bytes kTile = testing::TileBuilder::ordinary(0).build();
const std::uint64_t kFlag = static_cast<std::uint64_t>(testing::TileBuilder::ordinary(0).flagOffset());

// Holds another program's handle on path, sharing what share allows.
FileHandle holdOpen(const std::string& path, DWORD share)
{
    return FileHandle(::CreateFileW(apiPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
}

void writeAll(const std::string& path, const Bytes& bytes)
{
    const FileHandle h(::CreateFileW(apiPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    ASSERT_TRUE(h && ::WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
}

Bytes readAll(const std::string& path)
{
    const FileHandle h(::CreateFileW(apiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    Bytes bytes;
    if (h && ::GetFileSizeEx(h.get(), &size)) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        ::ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        bytes.resize(got);
    }
    return bytes;
}

class WindowsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        root_ = narrow(temp) + "ks-" + std::to_string(::GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
        makeFolder(root_);
        tile_ = root_ + "tile.img";
        writeAll(tile_, kTile);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(apiPath(root_)), ignored);
    }
    static void makeFolder(const std::string& path) { ::CreateDirectoryW(apiPath(path).c_str(), nullptr); }

    WindowsFileLayer layer_{kShortPatience};
    std::unique_ptr<MapFile> kept_;  // a Change open of this process, held during a case
    std::string root_;
    std::string tile_;
};

// Every refused open: its number, its failure, and not a byte changed.
TEST_F(WindowsFiles, RefusedOpensGiveTheirNumberAndLeaveTheFileAlone)
{
    struct Case {
        const char* what;
        std::function<std::string(const std::string& tile, std::vector<FileHandle>& held)> prepare;
        OpenMode mode;
        Failure failure;
        int number;
    };
    const auto same = [](const std::string& tile, auto&) { return tile; };
    const Case cases[] = {
        {"missing file", [](auto& tile, auto&) { return tile + ".gone"; }, OpenMode::Probe, Failure::NotFound, 53},
        {"missing folder", [](auto& tile, auto&) { return tile + "\\x\\y.img"; }, OpenMode::Probe,
         Failure::PathNotFound, 76},
        {"a folder", [](auto& tile, auto&) { return tile.substr(0, tile.rfind('\\')); }, OpenMode::Probe,
         Failure::NotRegular, 75},
        {"a device", [](auto&, auto&) { return std::string("\\\\.\\NUL"); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"no path", [](auto&, auto&) { return std::string(); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"held without sharing, change", [](auto& tile, auto& held) { held.push_back(holdOpen(tile, 0)); return tile; },
         OpenMode::Change, Failure::Busy, 75},
        {"held without sharing, probe", [](auto& tile, auto& held) { held.push_back(holdOpen(tile, 0)); return tile; },
         OpenMode::Probe, Failure::Busy, 75},
        {"held by a change", [this](auto& tile, auto&) { kept_ = layer_.open(tile, OpenMode::Change); return tile; },
         OpenMode::Change, Failure::Busy, 75},
        {"read-only attribute, probe",
         [](auto& tile, auto&) { ::SetFileAttributesW(apiPath(tile).c_str(), FILE_ATTRIBUTE_READONLY); return tile; },
         OpenMode::Probe, Failure::ReadOnly, 75},
        {"read-only attribute, change", same, OpenMode::Change, Failure::ReadOnly, 75},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<FileHandle> held;
        const std::string path = c.prepare(tile_, held);
        try {
            layer_.open(path, c.mode);
            ADD_FAILURE() << "opened";
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.failure(), c.failure) << e.what();
            EXPECT_EQ(e.number(), c.number);
        }
        kept_.reset();
        held.clear();
        EXPECT_EQ(readAll(tile_), kTile);
    }
    ::SetFileAttributesW(apiPath(tile_).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A non-ASCII folder and a path past MAX_PATH: listed, probed and switched, one byte on disk.
TEST_F(WindowsFiles, FoldersAreListedProbedAndSwitchedWhateverTheirName)
{
    const std::string longName = std::string(kLongPathChars - root_.size(), 'L');
    for (const std::string& folder : {root_ + "H\xC3\xB6henlinien\\", root_ + longName + "\\"}) {
        SCOPED_TRACE(folder.size());
        makeFolder(folder);
        makeFolder(folder + "Unterordner");
        writeAll(folder + "Kachel 1.img", kTile);
        writeAll(folder + "notes.txt", {'x'});
        auto names = layer_.regularFiles(folder);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Kachel 1.img", "notes.txt"}));
        EXPECT_TRUE(layer_.isFolder(folder));
        EXPECT_FALSE(layer_.isFolder(folder + "Kachel 1.img"));

        const auto file = layer_.open(folder + "Kachel 1.img", OpenMode::Change);
        container::MapReader reader(*file);
        container::ContainerMaps found;
        ASSERT_EQ(container::FindMaps(reader, found), container::LookupOutcome::Found);
        EXPECT_FALSE(found.maps.at(0).transparent());
        std::size_t written = 0;
        EXPECT_EQ(container::SwitchMaps(*file, found, true, written), container::LookupOutcome::Found);
        file->finishWrites();
        MapFile* const one[] = {file.get()};
        EXPECT_FALSE(layer_.flush(one).front().has_value());
        Bytes expected = kTile;
        expected[kFlag] |= container::kTransparentBit;
        EXPECT_EQ(readAll(folder + "Kachel 1.img"), expected);
    }
}

// A listed folder that cannot be read, and a switched file that nobody else may touch.
TEST_F(WindowsFiles, FolderFailuresAndTheChangeHandleKeepsOthersOut)
{
    const std::pair<std::string, int> folders[] = {{root_ + "missing\\", 76}, {tile_, 76}, {"", 76}};
    for (const auto& [folder, number] : folders) {
        EXPECT_THROW(try { layer_.regularFiles(folder); } catch (const RunTimeError& e) {
            EXPECT_EQ(e.number(), number) << folder;
            throw;
        }, RunTimeError);
    }
    const auto file = layer_.open(tile_, OpenMode::Change);
    EXPECT_FALSE(holdOpen(tile_, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_FALSE(::DeleteFileW(apiPath(tile_).c_str()));
    EXPECT_FALSE(::MoveFileW(apiPath(tile_).c_str(), apiPath(tile_ + ".moved").c_str()));
    EXPECT_EQ(readAll(tile_), kTile);
}

// The one-byte write never reaches the end of the file, not even after someone truncated it.
TEST_F(WindowsFiles, TheWriteNeverGrowsTheFile)
{
    const auto file = layer_.open(tile_, OpenMode::Probe);
    EXPECT_EQ(file->size(), kTile.size());
    EXPECT_THROW(file->writeByteAt(kTile.size(), 1), RunTimeError);
    {
        const FileHandle other = holdOpen(tile_, FILE_SHARE_READ | FILE_SHARE_WRITE);
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(kFlag);
        ASSERT_TRUE(::SetFilePointerEx(other.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(other.get()));
    }
    try {
        file->writeByteAt(kFlag, 2);
        ADD_FAILURE() << "written";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.failure(), Failure::Changed);
    }
    EXPECT_EQ(readAll(tile_), Bytes(kTile.begin(), kTile.begin() + static_cast<std::ptrdiff_t>(kFlag)));
}

// Flush reports per file: written ones and unwritten ones alike succeed.
TEST_F(WindowsFiles, FlushReportsEachFile)
{
    writeAll(root_ + "b.img", kTile);
    const auto a = layer_.open(tile_, OpenMode::Change);
    const auto b = layer_.open(root_ + "b.img", OpenMode::Change);
    a->writeByteAt(kFlag, 2);
    MapFile* const both[] = {a.get(), b.get()};
    const auto results = layer_.flush(both);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0] || results[1]);
    Bytes expected = kTile;
    expected[kFlag] = 2;
    EXPECT_EQ(readAll(tile_), expected);
    EXPECT_EQ(readAll(root_ + "b.img"), kTile);
}

}  // namespace
}  // namespace ks::platform
