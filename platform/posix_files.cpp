#include "posix_files.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace ks::platform {

namespace {

constexpr std::chrono::milliseconds kLockRetry{10};  // between two tries to take a lock

[[noreturn]] void raiseErrno(int errnoValue)
{
    throw errnoError(errnoValue);
}

// Retries call while it fails with EINTR; returns its last result.
template <typename Call>
auto retry(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
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
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Refuses anything but a regular file that its owner may write.
void requireWritableRegular(const struct stat& info)
{
    if (!S_ISREG(info.st_mode)) {
        throw RunTimeError(Failure::NotRegular);
    }
    if ((info.st_mode & S_IWUSR) == 0) {
        throw RunTimeError(Failure::ReadOnly);
    }
}

// Sets an open file description lock of type (F_WRLCK, F_UNLCK) on the whole file.
int setLock(int fd, short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return retry([&] { return ::fcntl(fd, F_OFD_SETLK, &lock); });
}

// Takes the write lock, waiting a little for another process to let go of it.
void lockForChange(int fd, std::chrono::milliseconds patience)
{
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (setLock(fd, F_WRLCK) != 0) {
        if (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP) {
            return;  // the file system keeps no such locks; they are advisory anyway
        }
        if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= giveUp) {
            throw RunTimeError(Failure::Busy, errno);
        }
        std::this_thread::sleep_for(kLockRetry);
    }
}

class PosixMapFile final : public MapFile {
public:
    PosixMapFile(int fd, std::string path, const struct stat& info)
        : fd_(fd), path_(std::move(path)), info_(info)
    {
    }

    std::uint64_t size() const override { return static_cast<std::uint64_t>(info_.st_size); }

    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = retry(
                [&] { return ::pread(fd_.get(), out.data() + done, out.size() - done, static_cast<off_t>(offset + done)); });
            if (got < 0) {
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
        struct stat now {};
        if (::fstat(fd_.get(), &now) != 0) {
            raiseErrno(errno);
        }
        if (offset >= static_cast<std::uint64_t>(now.st_size)) {
            throw RunTimeError(Failure::Changed);  // truncated: the file must never grow back
        }
        struct stat named {};
        if (::stat(path_.c_str(), &named) != 0 || !sameFile(named, now)) {
            throw RunTimeError(Failure::Changed);  // the path names another file now
        }
        const ssize_t put = retry([&] { return ::pwrite(fd_.get(), &value, 1, static_cast<off_t>(offset)); });
        if (put != 1) {
            raiseErrno(put < 0 ? errno : EIO);
        }
        written_ = true;
    }

    // The write-back starts in flush(), for all of a batch's files in one sweep:
    // started here file by file, each one-page write would be a request of its own.
    void finishWrites() override { setLock(fd_.get(), F_UNLCK); }

    // Writes this file back, if anything is left, and waits for it; nothing
    // when none is due. Reports a failed write-back of this file, also one of
    // a sweep that started it (the error stays with the file until its descriptor sees it).
    std::optional<RunTimeError> waitForWriteBack()
    {
        if (!written_) {
            return std::nullopt;
        }
#ifdef __linux__
        constexpr unsigned kWaitAll = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
        if (retry([&] { return ::sync_file_range(fd_.get(), 0, 0, kWaitAll); }) != 0) {
            return errnoError(errno);
        }
#else
        if (retry([&] { return ::fsync(fd_.get()); }) != 0) {
            return errnoError(errno);
        }
#endif
        return std::nullopt;
    }

    int fd() const { return fd_.get(); }
    dev_t device() const { return info_.st_dev; }
    bool written() const { return written_; }

private:
    Descriptor fd_;
    std::string path_;
    struct stat info_;
    bool written_ = false;
};

}  // namespace

RunTimeError errnoError(int errnoValue)
{
    const auto failure = [errnoValue] {
        switch (errnoValue) {
        case ENOENT: return Failure::NotFound;
        case ENOTDIR: return Failure::PathNotFound;
        case EACCES:
        case EPERM: return Failure::AccessDenied;
        case EROFS: return Failure::ReadOnly;
        case EISDIR:
        case ENXIO:
        case ENODEV: return Failure::NotRegular;
        case ETXTBSY:
        case EBUSY:
        case EAGAIN: return Failure::Busy;
        case ELOOP: return Failure::LinkLoop;
        case ENAMETOOLONG: return Failure::NameTooLong;
        case ENOSPC: return Failure::DiskFull;
        case EDQUOT: return Failure::QuotaExceeded;
        case EMFILE:
        case ENFILE: return Failure::TooManyFiles;
        default: return Failure::DeviceIo;
        }
    }();
    return RunTimeError(failure, errnoValue, std::strerror(errnoValue));
}

std::unique_ptr<MapFile> PosixFileLayer::open(const std::string& path, OpenMode mode)
{
    if (path.empty()) {
        throw RunTimeError(Failure::NotRegular);
    }
    // Look before opening: opening a pipe or a device has effects of its own.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        raiseErrno(errno);
    }
    requireWritableRegular(before);
    if (afterLook_) {
        afterLook_(path);
    }
    // O_NONBLOCK: should a pipe or device take the file's place after all, it never stalls us.
    const int fd = retry([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); });
    if (fd < 0) {
        raiseErrno(errno);
    }
    Descriptor owner(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        raiseErrno(errno);
    }
    requireWritableRegular(info);
    if (!sameFile(info, before)) {
        throw RunTimeError(Failure::Changed);
    }
    if (mode == OpenMode::Change) {
        lockForChange(fd, lockPatience_);
        if (::fstat(fd, &info) != 0) {  // the size after any wait for the lock
            raiseErrno(errno);
        }
    }
    return std::make_unique<PosixMapFile>(owner.release(), path, info);
}

std::vector<std::string> PosixFileLayer::regularFiles(const std::string& folder)
{
    if (folder.empty()) {
        throw RunTimeError(Failure::PathNotFound);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        throw errnoError(errno == ENOENT ? ENOTDIR : errno);  // a missing folder is a path not found
    }
    std::vector<std::string> names;
    const int dirFd = ::dirfd(dir.get());
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            bool regular = entry->d_type == DT_REG;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat info {};
                regular = ::fstatat(dirFd, name, &info, 0) == 0 && S_ISREG(info.st_mode);
            }
            if (regular) {
                names.emplace_back(name);
            }
        }
        errno = 0;
    }
    if (errno != 0) {
        raiseErrno(errno);
    }
    return names;
}

std::vector<std::optional<RunTimeError>> PosixFileLayer::flush(std::span<MapFile* const> files)
{
    std::vector<std::optional<RunTimeError>> results(files.size());
    std::map<dev_t, std::vector<std::size_t>> byDevice;  // written files per file system
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto* file = static_cast<PosixMapFile*>(files[i]);
        if (file->written()) {
            byDevice[file->device()].push_back(i);
        }
    }
    const auto fdOf = [&](std::size_t i) { return static_cast<PosixMapFile*>(files[i])->fd(); };
    std::map<dev_t, int> sweepError;  // errno of a failed syncfs per file system
#ifdef __linux__
    // One syncfs per file system writes every file back in one sweep and commits
    // what copy-on-write file systems need.
    for (const auto& [device, indices] : byDevice) {
        const int fd = fdOf(indices.front());
        if (retry([fd] { return ::syncfs(fd); }) != 0) {
            sweepError[device] = errno;
        }
    }
#endif
    // Each file's own wait tells whether its bytes were written.
    for (const auto& [device, indices] : byDevice) {
        for (const std::size_t i : indices) {
            results[i] = static_cast<PosixMapFile*>(files[i])->waitForWriteBack();
        }
    }
    // The fdatasync of one file makes the simplest file systems flush the device's cache.
    for (const auto& [device, indices] : byDevice) {
        const int fd = fdOf(indices.front());
#ifdef __linux__
        const bool failed = sweepError.count(device) != 0 || retry([&] { return ::fdatasync(fd); }) != 0;
#else
        const bool failed = retry([&] { return ::fsync(fd); }) != 0;
#endif
        if (failed) {
            const int cause = sweepError.count(device) != 0 ? sweepError[device] : errno;
            for (const std::size_t i : indices) {
                if (!results[i]) {
                    results[i] = RunTimeError(Failure::Unconfirmed, cause, std::strerror(cause));
                }
            }
        }
    }
    return results;
}

std::unique_ptr<FileLayer> nativeFileLayer()
{
    return std::make_unique<PosixFileLayer>();
}

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);  // file names are bytes here, shown as UTF-8
}

bool PosixFileLayer::isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace ks::platform
