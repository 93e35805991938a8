// The Windows file layer on a real file system: run-time numbers, share modes,
// the read-only attribute, non-ASCII and long paths, and the bytes on disk.
#include <gtest/gtest.h>

#include <functional>

#include "container/img_container.h"
#include "platform/windows_files.h"
#include "support/tile_builder.h"

namespace ks::platform {
namespace {

using testing::Bytes;
constexpr std::chrono::milliseconds kShortPatience{100};  // the busy wait, cut short for the tests
constexpr std::size_t kLongPathChars = 300;               // past MAX_PATH (260)
constexpr std::uint64_t kFlag = 0x103F;                   // the flag byte of an ordinary tile
const Bytes kTile = testing::TileBuilder::kind("o");

// Another program's handle on path, sharing what share allows, or for a new file to write.
FileHandle handleOn(const std::string& path, DWORD share, DWORD create = OPEN_EXISTING)
{
    return FileHandle(::CreateFileW(apiPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, create, 0,
                                    nullptr));
}

void writeAll(const std::string& path, const Bytes& bytes)
{
    DWORD put = 0;
    ASSERT_TRUE(::WriteFile(handleOn(path, 0, CREATE_ALWAYS).get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                            &put, nullptr));
}

Bytes readAll(const std::string& path)
{
    Bytes bytes(1 << 16);
    DWORD got = 0;
    ::ReadFile(handleOn(path, FILE_SHARE_READ | FILE_SHARE_WRITE).get(), bytes.data(), 1 << 16, &got, nullptr);
    bytes.resize(got);
    return bytes;
}

// The failure that call raised, if any.
std::optional<Failure> failureOf(const std::function<void()>& call)
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
    testing::TempDir dir;
    std::string tile_ = dir.put("tile.img", kTile);
    WindowsFileLayer layer_{kShortPatience};
};

TEST_F(WindowsFiles, RefusedOpensGiveTheirNumberAndLeaveTheFileAlone)
{
    std::unique_ptr<MapFile> kept;  // a Change open of this process, held during a case
    std::vector<FileHandle> held;   // another program's handles, held during a case
    const auto hold = [&](DWORD share) { held.push_back(handleOn(tile_, share)); return tile_; };
    const auto readOnly = [&] { ::SetFileAttributesW(apiPath(tile_).c_str(), FILE_ATTRIBUTE_READONLY); return tile_; };
    const std::tuple<const char*, std::function<std::string()>, OpenMode, Failure, int> cases[] = {
        {"missing file", [&] { return tile_ + ".gone"; }, OpenMode::Probe, Failure::NotFound, 53},
        {"missing folder", [&] { return dir.file("x\\y.img"); }, OpenMode::Probe, Failure::PathNotFound, 76},
        {"a folder", [&] { return dir.path(); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"a device", [] { return std::string("\\\\.\\NUL"); }, OpenMode::Probe, Failure::NotRegular, 75},
        {"held without sharing, probe", [&] { return hold(0); }, OpenMode::Probe, Failure::Busy, 75},
        {"held for reading, change", [&] { return hold(FILE_SHARE_READ); }, OpenMode::Change, Failure::Busy, 75},
        {"held by a change", [&] { kept = layer_.open(tile_, OpenMode::Change); return tile_; }, OpenMode::Change,
         Failure::Busy, 75},
        {"read-only attribute", readOnly, OpenMode::Change, Failure::ReadOnly, 75},
    };
    for (const auto& [what, path, mode, failure, number] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failureOf([&] { layer_.open(path(), mode); }), failure);
        EXPECT_EQ(errorNumber(failure), number);
        kept.reset();
        held.clear();
        EXPECT_EQ(readAll(tile_), kTile);
    }
    ::SetFileAttributesW(apiPath(tile_).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFiles, FoldersAreListedProbedAndSwitchedWhateverTheirName)
{
    const std::string longName(kLongPathChars - dir.path().size(), 'L');  // one name, a long path
    for (const std::string& name : {std::string("H\xC3\xB6henlinien"), longName}) {
        const std::string folder = dir.file(name) + "\\";
        SCOPED_TRACE(folder.size());
        ::CreateDirectoryW(apiPath(folder).c_str(), nullptr);
        ::CreateDirectoryW(apiPath(folder + "Unterordner").c_str(), nullptr);
        writeAll(folder + "Kachel 1.img", kTile);
        writeAll(folder + "notes.txt", {'x'});
        auto names = layer_.regularFiles(folder);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Kachel 1.img", "notes.txt"}));
        EXPECT_TRUE(layer_.isFolder(folder) && !layer_.isFolder(folder + "Kachel 1.img"));

        {
            const auto file = layer_.open(folder + "Kachel 1.img", OpenMode::Change);
            container::MapReader reader(*file);
            container::ContainerMaps found;
            ASSERT_EQ(container::FindMaps(reader, found), container::LookupOutcome::Found);
            std::size_t written = 0;
            EXPECT_EQ(container::SwitchMaps(*file, found, true, written), container::LookupOutcome::Found);
            file->finishWrites();
            EXPECT_TRUE(handleOn(folder + "Kachel 1.img", 0)) << "let go once its writes are done";
            const auto unwritten = layer_.open(folder + "notes.txt", OpenMode::Change);
            MapFile* const both[] = {file.get(), unwritten.get()};
            const auto flushed = layer_.flush(both);
            EXPECT_TRUE(flushed.size() == 2 && !flushed[0] && !flushed[1]) << "one report per file, both fine";
            EXPECT_EQ(readAll(folder + "Kachel 1.img"), testing::TileBuilder::kind("t"));
        }
        for (const char* name : {"Kachel 1.img", "notes.txt"}) {  // a path past MAX_PATH needs the long form to go
            ::DeleteFileW(apiPath(folder + name).c_str());
        }
        ::RemoveDirectoryW(apiPath(folder + "Unterordner").c_str());
        ::RemoveDirectoryW(apiPath(folder).c_str());
    }
}

TEST_F(WindowsFiles, AChangeKeepsOthersOutAndItsWriteNeverGrowsTheFile)
{
    {
        const auto file = layer_.open(tile_, OpenMode::Change);
        EXPECT_FALSE(handleOn(tile_, FILE_SHARE_READ | FILE_SHARE_WRITE));
        EXPECT_FALSE(::DeleteFileW(apiPath(tile_).c_str()));
        EXPECT_FALSE(::MoveFileW(apiPath(tile_).c_str(), apiPath(tile_ + ".moved").c_str()));
        EXPECT_EQ(failureOf([&] { file->writeByteAt(kTile.size(), 1); }), Failure::Changed);
    }
    const auto file = layer_.open(tile_, OpenMode::Probe);
    {
        const FileHandle other = handleOn(tile_, FILE_SHARE_READ | FILE_SHARE_WRITE);
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(kFlag);
        ASSERT_TRUE(::SetFilePointerEx(other.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(other.get()));
    }
    EXPECT_EQ(failureOf([&] { file->writeByteAt(kFlag, 2); }), Failure::Changed);
    EXPECT_EQ(readAll(tile_), Bytes(kTile.begin(), kTile.begin() + static_cast<std::ptrdiff_t>(kFlag)));
}

}  // namespace
}  // namespace ks::platform
