// The POSIX file layer: what it refuses to open and with which number, that
// it never opens a pipe or device at all, the lock of a change, and the
// folder enumeration. (The checks right before a write meet their cases
// through the writer.)
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix_files.h"
#include "support/temp_dir.h"

namespace ks::platform {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

// The number and English reason of a failed open, or 0 and "" when it opened.
std::pair<int, std::string> openFailure(FileLayer& files, const std::string& path, OpenMode mode = OpenMode::Probe)
{
    try {
        files.open(path, mode);
    } catch (const RunTimeError& e) {
        return {e.number(), e.english()};
    }
    return {0, ""};
}

void makeSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(PosixFileLayer, OpensAndListsOnlyRegularFilesTheirOwnerMayWrite)
{
    testing::TempDir dir;
    PosixFileLayer files;
    const Bytes bytes(64, 7);
    for (const char* name : {"map.img", "ro.img", "plain.txt", "sub/in.img"}) {
        dir.put(name, bytes);
    }
    ::chmod(dir.file("ro.img").c_str(), 0464);  // the group may write, the owner may not
    ASSERT_EQ(::mkfifo(dir.file("fifo.img").c_str(), 0644), 0);
    makeSocket(dir.file("socket.img"));
    fs::create_symlink(dir.file("map.img"), dir.file("link.img"));
    fs::create_symlink(dir.file("nowhere"), dir.file("dangling.img"));
    fs::create_symlink("loop.img", dir.file("loop.img"));
    fs::create_directory_symlink(dir.file("sub"), dir.file("dirlink.img"));

    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"a writable map", dir.file("map.img"), 0, ""},
        {"a link to a map", dir.file("link.img"), 0, ""},
        {"a missing file", dir.file("missing.img"), 53, "file not found"},
        {"a dangling link", dir.file("dangling.img"), 53, "file not found"},
        {"a file used as a folder", dir.file("plain.txt") + "/x.img", 76, "path not found"},
        {"no owner write bit, also for root", dir.file("ro.img"), 75, "read-only"},
        {"an empty path", "", 75, "not a regular file"},
        {"a folder", dir.file("sub"), 75, "not a regular file"},
        {"a pipe", dir.file("fifo.img"), 75, "not a regular file"},
        {"a socket", dir.file("socket.img"), 75, "not a regular file"},
        {"a device", "/dev/null", 75, "not a regular file"},
        {"a link loop", dir.file("loop.img"), 52, "too many levels of links"},
        {"a name too long", dir.file(std::string(300, 'n')), 52, "file name too long"},
    };
    for (const auto& [what, path, number, reason] : rows) {
        for (const OpenMode mode : {OpenMode::Probe, OpenMode::Change}) {
            EXPECT_EQ(openFailure(files, path, mode), std::pair(number, reason)) << what;
        }
    }
    auto names = files.regularFiles(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.img", "map.img", "plain.txt", "ro.img"}));
    for (const std::string& gone : {dir.file("gone"), dir.file("plain.txt"), std::string()}) {
        EXPECT_THROW(files.regularFiles(gone), RunTimeError) << "\"" << gone << "\" is no folder to list";
    }
    EXPECT_TRUE(files.isFolder(dir.file("dirlink.img")));
    EXPECT_FALSE(files.isFolder(dir.file("map.img")));
    EXPECT_EQ(dir.files().size(), 4U) << "opening never creates a file";
    EXPECT_EQ(testing::readFile(dir.file("ro.img")), bytes);
}

TEST(PosixFileLayer, LooksAtAPipesTypeWithoutOpeningIt)
{
    testing::TempDir dir;
    const std::string fifo = dir.file("fifo.img");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
    PosixFileLayer files;
    EXPECT_EQ(openFailure(files, fifo).first, 75);
    char event[256];
    EXPECT_EQ(::read(watch, event, sizeof event), -1) << "a blocked writer would have been released";
    EXPECT_EQ(errno, EAGAIN);
    ::close(watch);
}

TEST(PosixFileLayer, WhatTakesTheFilesPlaceBetweenTheLookAndTheOpenIsNotUsed)
{
    testing::TempDir dir;
    const std::string path = dir.put("f.img", Bytes(8, 0));
    const std::pair<std::function<void(const std::string&)>, std::string> swaps[] = {
        {[](const std::string& p) { fs::remove(p), ::mkfifo(p.c_str(), 0644); }, "not a regular file"},
        {[&](const std::string& p) { fs::rename(dir.put("other.img", Bytes(8, 1)), p); },
         "the file was truncated or replaced meanwhile"},
    };
    for (const auto& [swap, reason] : swaps) {
        dir.put("f.img", Bytes(8, 0));
        PosixFileLayer files(std::chrono::seconds(3), swap);
        EXPECT_EQ(openFailure(files, path).second, reason);
        fs::remove(path);
    }
}

TEST(PosixFileLayer, AChangeWaitsForAnotherChangeThenReportsTheFileBusy)
{
    testing::TempDir dir;
    PosixFileLayer files(std::chrono::milliseconds(50));
    const std::string path = dir.file("f.img");
    testing::writeFile(path, Bytes(8, 0));
    auto first = files.open(path, OpenMode::Change);
    EXPECT_EQ(openFailure(files, path, OpenMode::Change), std::pair(75, std::string("in use by another program")));
    EXPECT_EQ(openFailure(files, path, OpenMode::Probe).first, 0) << "looking is never refused";
    first->writeByteAt(0, 1);
    first->finishWrites();
    EXPECT_EQ(openFailure(files, path, OpenMode::Change).first, 0) << "finished writes let go of the lock";
    MapFile* const written[] = {first.get()};
    EXPECT_FALSE(files.flush(written).front());
    EXPECT_EQ(testing::readFile(path)[0], 1);
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

}  // namespace
}  // namespace ks::platform
