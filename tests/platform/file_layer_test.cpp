// The file layer of the system the tests run on: what it refuses to open and
// with which number, what it lists, the lock of a change (imgflag's too) and
// its release, and long and non-ASCII names. On POSIX also that it never opens
// a pipe at all and what takes a file's place after its look; on Windows what
// a change keeps out.
// (The checks right before a write meet their POSIX cases through the writer.)
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/imgflag.h"
#include "support/tile_builder.h"
#ifdef _WIN32
#include "platform/windows_files.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_files.h"
#endif

namespace ks::platform {
namespace {

using testing::Bytes;
using testing::TileBuilder;
namespace fs = std::filesystem;
#ifdef _WIN32
using NativeFiles = WindowsFileLayer;
#else
using NativeFiles = PosixFileLayer;
#endif
constexpr std::chrono::milliseconds kShortPatience{100};  // the wait for a held file, cut short for the tests
const Bytes kTile = TileBuilder::kind("o");

// The number and English reason of a failed call, or 0 and "" when it went through.
std::pair<int, std::string> failure(const std::function<void()>& call)
{
    try {
        call();
    } catch (const RunTimeError& e) {
        return {e.number(), e.english()};
    }
    return {0, ""};
}

#ifdef _WIN32
// Another program's handle on path, sharing what share allows, or a new file to write.
FileHandle handleOn(const std::string& path, DWORD share, DWORD create = OPEN_EXISTING)
{
    return FileHandle(::CreateFileW(apiPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, create, 0,
                                    nullptr));
}
#endif

TEST(FileLayer, OpensAndListsOnlyRegularFilesThatMayBeWritten)
{
    testing::TempDir dir;
    NativeFiles files{kShortPatience};
    std::map<std::string, Bytes> put;
    testing::putFiles(dir, "map.img=o ro.img=o,ro plain.txt=o sub/in.img=o", put);
    std::vector<std::string> listed = {"map.img", "plain.txt", "ro.img"};
#ifdef _WIN32
    const FileHandle held = handleOn(dir.put("held.img", kTile), FILE_SHARE_READ);  // a map manager has it open
    listed.insert(listed.begin(), "held.img");
#else
    ::chmod(dir.put("ro464.img", kTile).c_str(), 0464);  // the group may write, the owner may not
    ASSERT_EQ(::mkfifo(dir.file("fifo.img").c_str(), 0644), 0);
    testing::putFiles(dir, "link.img=@map.img dangling.img=@nowhere loop.img=@loop.img dirlink.img=@sub", put);
    listed.insert(listed.begin(), "link.img");
    listed.push_back("ro464.img");
#endif
    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"a missing file", dir.file("missing.img"), 53, "file not found"},
        {"no write permission", dir.file("ro.img"), 75, "read-only"}, {"an empty path", "", 75, "not a regular file"},
        {"a folder", dir.file("sub"), 75, "not a regular file"},
#ifdef _WIN32
        {"a missing folder", dir.file("x/y.img"), 76, "path not found"},
        {"a device", "\\\\.\\NUL", 75, "not a regular file"},
        {"held by another program", dir.file("held.img"), 75, "in use by another program"},
#else
        {"a file used as a folder", dir.file("plain.txt") + "/x.img", 76, "path not found"},
        {"a device", "/dev/null", 75, "not a regular file"},
        {"a link to a map", dir.file("link.img"), 0, ""},
        {"a dangling link", dir.file("dangling.img"), 53, "file not found"},
        {"no owner write bit, also for root", dir.file("ro464.img"), 75, "read-only"},
        {"a pipe", dir.file("fifo.img"), 75, "not a regular file"},
        {"a link loop", dir.file("loop.img"), 52, "too many levels of links"},
        {"a name too long", dir.file(std::string(300, 'n')), 52, "file name too long"},
#endif
    };
    for (const auto& [what, path, number, reason] : rows) {
        for (const OpenMode mode : {OpenMode::Probe, OpenMode::Change}) {
            EXPECT_EQ(failure([&, &path = path] { files.open(path, mode); }), std::pair(number, reason)) << what;
        }
    }
    auto names = files.regularFiles(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, listed);
#ifndef _WIN32  // as a file system that reports no entry types: the same
    files.seams.noEntryTypes = true;
    FolderContents untyped = files.list(dir.path());
    std::sort(untyped.files.begin(), untyped.files.end());
    EXPECT_EQ(std::pair(untyped.files, untyped.folders), std::pair(listed, std::vector<std::string>{"sub"}));
#endif
    for (const std::string& gone : {dir.file("gone"), dir.file("plain.txt"), std::string()}) {
        EXPECT_EQ(failure([&] { files.regularFiles(gone); }).first, 76) << "\"" << gone << "\" is no folder to list";
    }
    EXPECT_TRUE(files.isFolder(dir.file("sub")) && !files.isFolder(dir.file("map.img")));
    EXPECT_FALSE(fs::exists(testing::u8(dir.file("missing.img")))) << "opening never creates a file";
    EXPECT_EQ(testing::readFile(dir.file("ro.img")), kTile);
}

TEST(FileLayer, AChangeWaitsForAnotherThenReportsTheFileBusyAndFinishedWritesLetGo)
{
    testing::TempDir dir;
    NativeFiles files{kShortPatience};
    const std::string path = dir.put("f.img", kTile);
    auto first = files.open(path, OpenMode::Change);
    EXPECT_EQ(failure([&] { files.open(path, OpenMode::Change); }), std::pair(75, std::string("in use by another program")));
    std::ostringstream out, err;
    EXPECT_EQ(cli::run({"imgflag", "transparent", path}, out, err, files), cli::kExitProblem) << "the same lock";
    EXPECT_EQ(err.str(), "imgflag: " + path + ": in use by another program\n");
    EXPECT_EQ(testing::readFile(path), kTile);
#ifndef _WIN32  // there a look asks for write access too, which the change's share mode refuses
    EXPECT_EQ(failure([&] { files.open(path, OpenMode::Probe); }).first, 0) << "looking is never refused";
#endif
    first->writeByteAt(kTile.size() - 1, 1);
    first->finishWrites();
    EXPECT_EQ(failure([&] { files.open(path, OpenMode::Change); }).first, 0);
    MapFile* const written[] = {first.get()};
    EXPECT_FALSE(files.flush(written).front());
    EXPECT_EQ(testing::readFile(path).back(), 1);
}

TEST(FileLayer, NamesBeyondAsciiAndPathsBeyond260CharactersAreListedAndSwitched)
{
    testing::TempDir dir;
    NativeFiles files;
    const std::string longName = std::string(150, 'L') + "/" + std::string(150, 'L');  // two names, one path
    for (const std::string& name : {std::string("H\xC3\xB6henlinien"), longName}) {
        const std::string folder = dir.file(name) + platform::kPathSeparators.front();
        SCOPED_TRACE(folder.size());
#ifdef _WIN32  // std::filesystem reaches paths past 260 characters only in their long form
        ::CreateDirectoryW(apiPath(dir.file(name.substr(0, name.find('/')))).c_str(), nullptr);
        ::CreateDirectoryW(apiPath(folder).c_str(), nullptr);
        const auto write = [](const std::string& p, const Bytes& b) {
            DWORD put = 0;
            ::WriteFile(handleOn(p, 0, CREATE_ALWAYS).get(), b.data(), static_cast<DWORD>(b.size()), &put, nullptr);
        };
#else
        fs::create_directories(testing::u8(folder));
        const auto write = testing::writeFile;
#endif
        const std::string tile = folder + "Kachel 1.img";
        write(tile, kTile);
        EXPECT_EQ(files.regularFiles(folder), std::vector<std::string>{"Kachel 1.img"});
        std::ostringstream out, err;
        EXPECT_EQ(cli::run({"imgflag", "transparent", tile}, out, err, files), cli::kExitOk) << err.str();
        Bytes bytes(kTile.size());
        files.open(tile, OpenMode::Probe)->readAt(0, bytes);
        EXPECT_EQ(bytes, TileBuilder::kind("t"));
#ifdef _WIN32
        ::DeleteFileW(apiPath(tile).c_str());  // the long form again, for the temporary folder to go
        ::RemoveDirectoryW(apiPath(folder).c_str());
        ::RemoveDirectoryW(apiPath(dir.file(name.substr(0, name.find('/')))).c_str());
#endif
    }
}

#ifdef _WIN32
TEST(FileLayer, AChangeKeepsOthersOutAndItsWriteNeverGrowsTheFile)
{
    testing::TempDir dir;
    WindowsFileLayer files{kShortPatience};
    const std::string tile = dir.put("tile.img", kTile);
    {
        const auto file = files.open(tile, OpenMode::Change);
        EXPECT_FALSE(handleOn(tile, FILE_SHARE_READ | FILE_SHARE_WRITE));
        EXPECT_FALSE(::DeleteFileW(apiPath(tile).c_str()));
        EXPECT_FALSE(::MoveFileW(apiPath(tile).c_str(), apiPath(tile + ".moved").c_str()));
        EXPECT_EQ(failure([&] { file->writeByteAt(kTile.size(), 1); }).first, 57);
    }
    const auto file = files.open(tile, OpenMode::Probe);
    {
        const FileHandle other = handleOn(tile, FILE_SHARE_READ | FILE_SHARE_WRITE);
        LARGE_INTEGER end{};
        end.QuadPart = 0x103F;  // the flag byte of an ordinary tile is cut off
        ASSERT_TRUE(::SetFilePointerEx(other.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(other.get()));
    }
    EXPECT_EQ(failure([&] { file->writeByteAt(0x103F, 2); }).second, "the file was truncated or replaced meanwhile");
    EXPECT_EQ(testing::readFile(tile), Bytes(kTile.begin(), kTile.begin() + 0x103F));
}

TEST(FileLayer, ANameWithATrailingDotOrSpaceIsItselfAndAWildcardMatchesLongNamesOnly)
{
    testing::TempDir dir;
    WindowsFileLayer files;
    const std::vector<std::string> names = {"backup.img~", "map.imgold", "x.img", "x.img.", "y.img "};
    for (const std::string& name : names) {
        DWORD put = 0;
        ::WriteFile(handleOn(dir.file(name), 0, CREATE_ALWAYS).get(), kTile.data(), DWORD(kTile.size()), &put, nullptr);
    }
    EXPECT_EQ(expandWildcards(dir.file("*.img")), std::vector{dir.file("x.img")}) << "never through a short name";
    files.open(dir.file("x.img."), OpenMode::Change)->writeByteAt(0x103F, 2);
    files.open(dir.file("y.img "), OpenMode::Change)->writeByteAt(0x103F, 2);
    for (const std::string& name : names) {
        Bytes bytes(kTile.size() + 1);
        bytes.resize(files.open(dir.file(name), OpenMode::Probe)->readAt(0, bytes));
        EXPECT_EQ(bytes, name.back() == '.' || name.back() == ' ' ? TileBuilder::kind("t") : kTile) << name;
        ::DeleteFileW(apiPath(dir.file(name)).c_str());
    }
}
#else
TEST(FileLayer, LooksAtAPipeWithoutOpeningItAndUsesNothingPutInTheFilesPlaceAfterTheLook)
{
    testing::TempDir dir;
    const std::string fifo = dir.file("fifo.img");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
    PosixFileLayer files;
    EXPECT_EQ(failure([&] { files.open(fifo, OpenMode::Probe); }).first, 75);
    char event[256];
    EXPECT_EQ(::read(watch, event, sizeof event), -1) << "a blocked writer would have been released";

    // What takes the path's place after the look is never opened: the file looked at is, and its write is refused.
    const std::string path = dir.file("f.img");
    using Swap = std::function<void(const std::string&)>;
    for (const Swap& swap : {Swap([&](const std::string& p) { fs::remove(p), ::mkfifo(p.c_str(), 0644), ::inotify_add_watch(watch, p.c_str(), IN_OPEN); }),
                             Swap([&](const std::string& p) { fs::rename(dir.put("other.img", kTile), p); })}) {
        dir.put("f.img", kTile);
        files.seams.afterLook = swap;
        EXPECT_EQ(failure([&] { files.open(path, OpenMode::Change)->writeByteAt(0, 1); }).second,
                  "the file was truncated or replaced meanwhile");
        EXPECT_EQ(fs::is_fifo(path) ? kTile : testing::readFile(path), kTile);
        fs::remove(path);
    }
    inotify_event first{};  // the pipe's first event: its open, or the end of the watch when it went
    EXPECT_FALSE(::read(watch, &first, sizeof first) > 0 && (first.mask & IN_OPEN)) << "a blocked writer was released";
    ::close(watch);
    // A truncation between the check and the write waits for the write lease; a flock holder is waited for
    // (imgflag's run under a descriptor limit waits for an exclusive one).
    files.seams.afterLook = nullptr;
    files.seams.beforeWrite = [](const std::string& p) {
        EXPECT_EQ(::open(p.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK), -1) << "the file would grow back";
    };
    files.open(dir.put("f.img", kTile), OpenMode::Change)->writeByteAt(0x103F, 2);
    const Bytes bytes = testing::readFile(path);
    EXPECT_EQ(std::pair(bytes.size(), bytes[0x103F]), std::pair(kTile.size(), std::uint8_t{2}));
    const int other = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);  // a shared lock keeps a change out as an exclusive one does
    EXPECT_EQ(failure([&] { PosixFileLayer(kShortPatience).open(path, OpenMode::Change); }).second, "in use by another program");
    ::close(other);
}

TEST(RunTimeErrors, CarryTheirNumberAndText)
{
    const std::tuple<int, int, std::string, std::string> rows[] = {
        {ENOSPC, 61, "Datenträger voll (disk full)", "disk full"},
        {EDQUOT, 61, "Datenträger voll (disk quota exceeded)", "disk quota exceeded"},
        {ENAMETOOLONG, 52, "Dateiname zu lang (file name too long)", "file name too long"},
        {EROFS, 75, "Datei ist schreibgeschützt (read-only)", "read-only"},
        {EMFILE, 67, "Zu viele Dateien geöffnet (too many open files)", "too many open files"},
        {EIO, 57, "Fehler beim Lesen/Schreiben des Datenträgers (device I/O error)",
         "device I/O error (Input/output error)"},
    };
    for (const auto& [errnoValue, number, text, english] : rows) {
        const RunTimeError e = errnoError(errnoValue);
        EXPECT_EQ(std::tuple(e.number(), e.text(), e.english()), std::tuple(number, text, english)) << errnoValue;
    }
}
#endif

}  // namespace
}  // namespace ks::platform
