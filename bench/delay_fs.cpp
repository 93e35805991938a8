// A slow medium for the benchmark: a FUSE file system holding one file,
// "disk", whose bytes live in a backing file; every write request waits a
// fixed time before it is done, and every flush (fsync) waits longer, as the
// write of a block and the cache flush of a USB stick or an SD card do.
// A loop device over "disk" with a file system on it makes a slow disk.
//
//     ks_delay_fs BACKING MOUNTPOINT WRITE_US FLUSH_US
//
// It runs in the foreground and single-threaded (one request at a time, as
// on a medium that takes one command at a time) until it is unmounted.
#define FUSE_USE_VERSION 31

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fuse.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kDiskPath = "/disk";  // the one file the file system shows
constexpr const char* kDiskName = "disk";

// What the mounted file system serves: the backing file and the delays.
struct Medium {
    int fd = -1;
    std::chrono::microseconds writeDelay{0};
    std::chrono::microseconds flushDelay{0};
};

Medium& medium()
{
    static Medium instance;
    return instance;
}

// The root is a folder holding "disk"; "disk" has the backing file's size.
int getAttributes(const char* path, struct stat* info, fuse_file_info*)
{
    std::memset(info, 0, sizeof *info);
    if (std::strcmp(path, "/") == 0) {
        info->st_mode = S_IFDIR | 0755;
        info->st_nlink = 2;
        return 0;
    }
    if (std::strcmp(path, kDiskPath) != 0) {
        return -ENOENT;
    }
    if (::fstat(medium().fd, info) != 0) {
        return -errno;
    }
    info->st_mode = S_IFREG | 0644;
    info->st_nlink = 1;
    return 0;
}

// Lists the root folder.
int readFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0) {
        return -ENOENT;
    }
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, kDiskName, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

// Opens "disk"; nothing else exists.
int openFile(const char* path, fuse_file_info*)
{
    return std::strcmp(path, kDiskPath) == 0 ? 0 : -ENOENT;
}

// Reads from the backing file at once: reads are not what is slow here.
int readFile(const char*, char* out, std::size_t size, off_t offset, fuse_file_info*)
{
    const ssize_t got = ::pread(medium().fd, out, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

// Writes to the backing file after the write delay.
int writeFile(const char*, const char* data, std::size_t size, off_t offset, fuse_file_info*)
{
    std::this_thread::sleep_for(medium().writeDelay);
    const ssize_t put = ::pwrite(medium().fd, data, size, offset);
    return put < 0 ? -errno : static_cast<int>(put);
}

// Puts the backing file on its disk, then waits the flush delay.
int syncFile(const char*, int, fuse_file_info*)
{
    if (::fdatasync(medium().fd) != 0) {
        return -errno;
    }
    std::this_thread::sleep_for(medium().flushDelay);
    return 0;
}

// Parses a non-negative count of microseconds; false when text is none.
bool parseMicroseconds(const char* text, std::chrono::microseconds& out)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0) {
        return false;
    }
    out = std::chrono::microseconds(value);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 || !parseMicroseconds(argv[3], medium().writeDelay) ||
        !parseMicroseconds(argv[4], medium().flushDelay)) {
        std::fprintf(stderr, "usage: ks_delay_fs BACKING MOUNTPOINT WRITE_US FLUSH_US\n");
        return 2;
    }
    medium().fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
    if (medium().fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.readdir = readFolder;
    operations.open = openFile;
    operations.read = readFile;
    operations.write = writeFile;
    operations.fsync = syncFile;
    // Foreground, one request at a time.
    std::vector<std::string> words = {argv[0], "-f", "-s", argv[2]};
    std::vector<char*> args;
    for (std::string& word : words) {
        args.push_back(word.data());
    }
    const int status = fuse_main(static_cast<int>(args.size()), args.data(), &operations, nullptr);
    ::close(medium().fd);
    return status;
}
