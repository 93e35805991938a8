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

#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// What the mounted file system serves: the backing file and the delays.
struct Medium {
    int fd = -1;
    std::chrono::microseconds writeDelay{0};
    std::chrono::microseconds flushDelay{0};
} medium;

// The root is a folder holding "disk" (no listing needed); "disk" has the backing file's size.
int getAttributes(const char* path, struct stat* info, fuse_file_info*)
{
    const bool root = std::strcmp(path, "/") == 0;
    if (!root && std::strcmp(path, "/disk") != 0) {
        return -ENOENT;
    }
    if (::fstat(medium.fd, info) != 0) {
        return -errno;
    }
    info->st_mode = root ? S_IFDIR | 0755 : S_IFREG | 0644;
    info->st_nlink = root ? 2 : 1;
    return 0;
}

// Reads from the backing file at once: reads are not what is slow here.
int readFile(const char*, char* out, std::size_t size, off_t offset, fuse_file_info*)
{
    const ssize_t got = ::pread(medium.fd, out, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

// Writes to the backing file after the write delay.
int writeFile(const char*, const char* data, std::size_t size, off_t offset, fuse_file_info*)
{
    std::this_thread::sleep_for(medium.writeDelay);
    const ssize_t put = ::pwrite(medium.fd, data, size, offset);
    return put < 0 ? -errno : static_cast<int>(put);
}

// Puts the backing file on its disk, then waits the flush delay.
int syncFile(const char*, int, fuse_file_info*)
{
    if (::fdatasync(medium.fd) != 0) {
        return -errno;
    }
    std::this_thread::sleep_for(medium.flushDelay);
    return 0;
}

// Parses a non-negative count of microseconds; false when text is none.
bool parseMicroseconds(const char* text, std::chrono::microseconds& out)
{
    char* end = nullptr;
    out = std::chrono::microseconds(std::strtoll(text, &end, 10));
    return end != text && *end == '\0' && out.count() >= 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 || !parseMicroseconds(argv[3], medium.writeDelay) || !parseMicroseconds(argv[4], medium.flushDelay)) {
        std::fprintf(stderr, "usage: ks_delay_fs BACKING MOUNTPOINT WRITE_US FLUSH_US\n");
        return 2;
    }
    medium.fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
    if (medium.fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.read = readFile;
    operations.write = writeFile;
    operations.fsync = syncFile;
    char foreground[] = "-f", singleThreaded[] = "-s";
    char* args[] = {argv[0], foreground, singleThreaded, argv[2]};
    const int status = fuse_main(4, args, &operations, nullptr);
    ::close(medium.fd);
    return status;
}
