#include "posix_files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime_errors.h"

namespace ks::platform {

namespace {

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

[[noreturn]] void raiseErrno(int errnoValue)
{
    raise(runTimeErrorFor(errnoValue));
}

// Owns one open descriptor; closes it on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class PosixMapFile final : public MapFile {
public:
    PosixMapFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    std::uint64_t size() const override { return size_; }

    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = ::pread(fd_.get(), out.data() + done, out.size() - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                raiseErrno(errno);
            }
            if (got == 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    void writeByteAt(std::uint64_t offset, std::uint8_t value) override
    {
        if (offset >= size_) {
            raise(err::kBadRecordNumber);  // the file never grows
        }
        for (;;) {
            const ssize_t put = ::pwrite(fd_.get(), &value, 1, static_cast<off_t>(offset));
            if (put == 1) {
                return;
            }
            if (put < 0 && errno == EINTR) {
                continue;
            }
            raiseErrno(put < 0 ? errno : EIO);
        }
    }

    void flush() override
    {
        while (::fdatasync(fd_.get()) != 0) {
            if (errno != EINTR) {
                raiseErrno(errno);
            }
        }
    }

private:
    Descriptor fd_;
    std::uint64_t size_;
};

}  // namespace

int runTimeErrorFor(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case ELOOP:
    case ENXIO:
    case EBUSY: return err::kPathFileAccess;
    case EMFILE:
    case ENFILE: return err::kTooManyFiles;
    default: return err::kDeviceIo;
    }
}

std::unique_ptr<MapFile> PosixFileLayer::openReadWrite(const std::string& path)
{
    if (path.empty()) {
        raise(err::kPathFileAccess);
    }
    // O_NONBLOCK: a FIFO or device that took a listed file's place never stalls us.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        raiseErrno(errno);
    }
    Descriptor owner(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        raiseErrno(errno);
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & kAnyWriteBit) == 0) {
        raise(err::kPathFileAccess);
    }
    auto file = std::make_unique<PosixMapFile>(fd, static_cast<std::uint64_t>(info.st_size));
    owner.release();
    return file;
}

std::vector<std::string> PosixFileLayer::regularFiles(const std::string& folder)
{
    std::vector<std::string> names;
    if (folder.empty()) {
        return names;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return names;
    }
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            regular = ::fstatat(dirFd, name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace ks::platform
