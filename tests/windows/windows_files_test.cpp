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
constexpr std::uint64_t kFlag = 0x103F;  // the flag byte of an ordinary tile

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

// The failure that call raised, if any.
template <typename Call>
std::optional<Failure> failureOf(Call call)
{
    try {
        call();
    } catch (const RunTimeError& e) {
        return e.failure();
    }
    return std::nullopt;
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
    std::vector<FileHandle> held_;   // another program's handles, held during a case
    std::string root_;
    std::string tile_;
};

// Every refused open: its number, its failure, and not a byte changed.
TEST_F(WindowsFiles, RefusedOpensGiveTheirNumberAndLeaveTheFileAlone)
{
    const auto hold = [this](DWORD share) { held_.push_back(holdOpen(tile_, share)); return tile_; };
    const auto readOnly = [this] { ::SetFileAttributesW(apiPath(tile_).c_str(), FILE_ATTRIBUTE_READONLY); return tile_; };
    const struct {
        const char* what;
        std::function<std::string()> path;
        OpenMode mode;
        Failure failure;
        int number;
    } cases[] = {
        {"missing file", [this] { return tile_ + ".gone"; }, OpenMode::Probe, Failure::NotFound, 53},
        {"missing folder", [this] { return root_ + "x\\y.img"; }, OpenMode::Probe, Failure::PathNotFound, 76},
        {"a folder", [this] { return root_; }, OpenMode::Probe, Failure::NotRegular, 75},
        {"a device", [] { return std::string("\\\\.\\NUL"); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"no path", [] { return std::string(); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"held without sharing, change", [&] { return hold(0); }, OpenMode::Change, Failure::Busy, 75},
        {"held without sharing, probe", [&] { return hold(0); }, OpenMode::Probe, Failure::Busy, 75},
        {"held for reading, change", [&] { return hold(FILE_SHARE_READ); }, OpenMode::Change, Failure::Busy, 75},
        {"held by a change", [this] { kept_ = layer_.open(tile_, OpenMode::Change); return tile_; }, OpenMode::Change,
         Failure::Busy, 75},
        {"read-only attribute, probe", readOnly, OpenMode::Probe, Failure::ReadOnly, 75},
        {"read-only attribute, change", readOnly, OpenMode::Change, Failure::ReadOnly, 75},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(failureOf([&] { layer_.open(c.path(), c.mode); }), c.failure);
        EXPECT_EQ(errorNumber(c.failure), c.number);
        kept_.reset();
        held_.clear();
        EXPECT_EQ(readAll(tile_), kTile);
    }
    ::SetFileAttributesW(apiPath(tile_).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A non-ASCII folder and a path past MAX_PATH: listed, probed, switched and flushed, one byte on disk.
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
        const auto unwritten = layer_.open(folder + "notes.txt", OpenMode::Change);
        MapFile* const both[] = {file.get(), unwritten.get()};
        const auto flushed = layer_.flush(both);
        EXPECT_TRUE(flushed.size() == 2 && !flushed[0] && !flushed[1]);  // one report per file, both fine
        Bytes expected = kTile;
        expected[kFlag] |= container::kTransparentBit;
        EXPECT_EQ(readAll(folder + "Kachel 1.img"), expected);
    }
}

// A listed folder that cannot be read, and a switched file that nobody else may touch.
TEST_F(WindowsFiles, FolderFailuresAndTheChangeHandleKeepsOthersOut)
{
    for (const std::string& folder : {root_ + "missing\\", tile_, std::string()}) {
        EXPECT_EQ(failureOf([&] { layer_.regularFiles(folder); }), Failure::PathNotFound) << folder;  // 76
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
    EXPECT_EQ(failureOf([&] { file->writeByteAt(kTile.size(), 1); }), Failure::Changed);
    {
        const FileHandle other = holdOpen(tile_, FILE_SHARE_READ | FILE_SHARE_WRITE);
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(kFlag);
        ASSERT_TRUE(::SetFilePointerEx(other.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(other.get()));
    }
    EXPECT_EQ(failureOf([&] { file->writeByteAt(kFlag, 2); }), Failure::Changed);
    EXPECT_EQ(readAll(tile_), Bytes(kTile.begin(), kTile.begin() + static_cast<std::ptrdiff_t>(kFlag)));
}

}  // namespace
}  // namespace ks::platform
