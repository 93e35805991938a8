#include "posix_files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace ks::platform {

namespace {

constexpr std::chrono::milliseconds kLockRetry{10};  // between two tries to take a lock
// The signal a broken write lease sends: one whose default action is to do nothing (SIGIO's ends the process).
constexpr int kLeaseBreakSignal = SIGURG;

// File systems (statfs f_type) whose syncfs writes back and commits every file
// of theirs, so that one per batch covers the files: the local block file
// systems and tmpfs. FUSE, network file systems and unknown ones may pass
// syncfs by, so their files get one fdatasync each.
constexpr std::uint32_t kSweptFileSystems[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0xF2F52010,  // f2fs
    0x4D44,      // vfat (msdos)
    0x2011BAB0,  // exfat (the kernel's)
    0x7366746E,  // ntfs3
    0x01021994,  // tmpfs
};

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

// Whether a lock call failed only because the file system keeps no such locks (they are advisory anyway).
bool locksUnsupported(int errnoValue)
{
    return errnoValue == EINVAL || errnoValue == ENOLCK || errnoValue == EOPNOTSUPP;
}

// Takes the write lock of both kinds other programs use, an fcntl lock and a
// flock lock, waiting a little for another process to let go of them; returns
// whether it had to wait.
bool lockForChange(int fd, std::chrono::milliseconds patience)
{
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    for (bool waited = false;; waited = true) {
        int held = setLock(fd, F_WRLCK) == 0 || locksUnsupported(errno) ? 0 : errno;
        if (held == 0 && retry([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0 && !locksUnsupported(errno)) {
            held = errno;
        }
        if (held == 0) {
            return waited;
        }
        if ((held != EAGAIN && held != EACCES && held != EWOULDBLOCK) || std::chrono::steady_clock::now() >= giveUp) {
            throw RunTimeError(Failure::Busy, held);
        }
        std::this_thread::sleep_for(kLockRetry);
    }
}

// Takes a write lease: until it is let go, every other open of the file and
// every truncation waits. false where none can be had (the file is open
// elsewhere, belongs to another user, or its file system keeps no leases).
bool takeLease(int fd)
{
#ifdef __linux__
    return ::fcntl(fd, F_SETSIG, kLeaseBreakSignal) == 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
#else
    static_cast<void>(fd);
    return false;
#endif
}

class PosixMapFile final : public MapFile {
public:
    PosixMapFile(int fd, std::string path, const struct stat& info, const PosixSeams& seams)
        : fd_(fd), path_(std::move(path)), info_(info), seams_(seams)
    {
    }

    std::uint64_t size() const override { return static_cast<std::uint64_t>(info_.st_size); }
    std::optional<FileId> id() const override
    {
        return FileId{static_cast<std::uint64_t>(info_.st_dev), static_cast<std::uint64_t>(info_.st_ino)};
    }

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
        // Held from the first write to finishWrites: a truncation waits for the
        // write, so the size checked below still holds when the byte lands.
        if (!std::exchange(leaseAsked_, true)) {
            leased_ = takeLease(fd_.get());
        }
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
        if (seams_.beforeWrite) {
            seams_.beforeWrite(path_);
        }
        const ssize_t put = retry([&] { return ::pwrite(fd_.get(), &value, 1, static_cast<off_t>(offset)); });
        if (put != 1) {
            raiseErrno(put < 0 ? errno : EIO);
        }
        written_ = true;
    }

    // The write-back starts in flush(), for all of a batch's files in one sweep:
    // started here file by file, each one-page write would be a request of its own.
    void finishWrites() override
    {
        if (std::exchange(leased_, false)) {
            ::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
        }
        setLock(fd_.get(), F_UNLCK);
        ::flock(fd_.get(), LOCK_UN);
    }

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

    // Puts this file's written bytes on the medium by itself; reports its failure.
    std::optional<RunTimeError> syncOwn()
    {
        int failed = retry([&] { return ::fdatasync(fd_.get()); }) == 0 ? 0 : errno;
        if (failed == 0 && seams_.syncError) {
            failed = seams_.syncError(path_);
        }
        return failed == 0 ? std::nullopt : std::optional(errnoError(failed));
    }

    // Closes the written file, which some file systems (FUSE, NFS) take as the
    // moment to pass its data on; reports a failed close.
    std::optional<RunTimeError> close()
    {
        written_ = false;
        int failed = ::close(fd_.release()) == 0 ? 0 : errno;
        if (failed == 0 && seams_.closeError) {
            failed = seams_.closeError(path_);
        }
        return failed == 0 ? std::nullopt : std::optional(errnoError(failed));
    }

    int fd() const { return fd_.get(); }
    dev_t device() const { return info_.st_dev; }
    bool written() const { return written_; }

private:
    Descriptor fd_;
    std::string path_;
    struct stat info_;
    const PosixSeams& seams_;
    bool written_ = false;
    bool leaseAsked_ = false;
    bool leased_ = false;
};

// Whether one syncfs per batch is known to write back and commit every file
// of the file system that fd lies on.
bool sweptBySyncfs(int fd, const PosixSeams& seams)
{
#ifdef __linux__
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) {
        return false;
    }
    const long type = seams.fileSystemType ? seams.fileSystemType(static_cast<long>(info.f_type))
                                           : static_cast<long>(info.f_type);
    return std::find(std::begin(kSweptFileSystems), std::end(kSweptFileSystems), static_cast<std::uint32_t>(type)) !=
           std::end(kSweptFileSystems);
#else
    static_cast<void>(fd), static_cast<void>(seams);
    return false;
#endif
}

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
    // Look before opening, through a descriptor that opens nothing (opening a
    // pipe or a device has effects of its own); then open that very file
    // through it, whatever has taken its path's place meanwhile.
    const Descriptor look(retry([&] { return ::open(path.c_str(), O_PATH | O_CLOEXEC); }));
    if (look.get() < 0) {
        raiseErrno(errno);
    }
    struct stat info {};
    if (::fstat(look.get(), &info) != 0) {
        raiseErrno(errno);
    }
    requireWritableRegular(info);
    if (seams.afterLook) {
        seams.afterLook(path);
    }
    const std::string through = "/proc/self/fd/" + std::to_string(look.get());
    if (mode == OpenMode::Report && ::faccessat(AT_FDCWD, through.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        raiseErrno(errno);  // refused as an open for writing would be (ENOENT: no /proc, asked below)
    }
    const int kFlags = (mode == OpenMode::Report ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // no open stalls
    int fd = retry([&] { return ::open(through.c_str(), kFlags); });
    if (fd < 0 && errno == ENOENT) {  // no /proc: open the path again and make sure it is still the same file
        if (mode == OpenMode::Report && ::access(path.c_str(), W_OK) != 0) {
            raiseErrno(errno);
        }
        fd = retry([&] { return ::open(path.c_str(), kFlags); });
        struct stat opened {};
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || !sameFile(opened, info) || !S_ISREG(opened.st_mode))) {
            ::close(fd);
            throw RunTimeError(Failure::Changed);
        }
    }
    if (fd < 0) {
        raiseErrno(errno);
    }
    Descriptor owner(fd);
    if (mode == OpenMode::Change && lockForChange(fd, lockPatience_) && ::fstat(fd, &info) != 0) {
        raiseErrno(errno);  // the size after a wait for the lock (without one, the look's still holds)
    }
    return std::make_unique<PosixMapFile>(owner.release(), path, info, seams);
}

FolderContents PosixFileLayer::list(const std::string& folder)
{
    if (folder.empty()) {
        throw RunTimeError(Failure::PathNotFound);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        throw errnoError(errno == ENOENT ? ENOTDIR : errno);  // a missing folder is a path not found
    }
    FolderContents contents;
    const int dirFd = ::dirfd(dir.get());
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            struct stat info {};
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {  // a file system that does not say: look without following a link
                type = ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 ? DT_UNKNOWN
                       : S_ISDIR(info.st_mode)                                  ? DT_DIR
                       : S_ISLNK(info.st_mode)                                  ? DT_LNK
                       : S_ISREG(info.st_mode)                                  ? DT_REG
                                                                                : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                contents.folders.emplace_back(name);
            } else if (type == DT_REG || (type == DT_LNK && ::fstatat(dirFd, name, &info, 0) == 0 &&
                                          S_ISREG(info.st_mode))) {
                contents.files.emplace_back(name);
            }
        }
        errno = 0;
    }
    if (errno != 0) {
        raiseErrno(errno);
    }
    return contents;
}

std::vector<std::optional<RunTimeError>> PosixFileLayer::flush(std::span<MapFile* const> files)
{
    std::vector<std::optional<RunTimeError>> results(files.size());
    const auto fileAt = [&](std::size_t i) { return static_cast<PosixMapFile*>(files[i]); };
    std::map<dev_t, bool> swept;                        // per file system: whether syncfs covers its files
    std::map<dev_t, std::vector<std::size_t>> byDevice;  // written files per file system that syncfs covers
    for (std::size_t i = 0; i < files.size(); ++i) {
        PosixMapFile* file = fileAt(i);
        if (!file->written()) {
            continue;
        }
        const auto known = swept.try_emplace(file->device(), false);
        if (known.second) {
            known.first->second = sweptBySyncfs(file->fd(), seams);
        }
        if (known.first->second) {
            byDevice[file->device()].push_back(i);
        } else {  // its own flush and its close at once, so that a later file's failure cannot cloud them
            results[i] = file->syncOwn();
            auto closed = file->close();
            if (!results[i]) {
                results[i] = std::move(closed);
            }
        }
    }
    std::map<dev_t, int> sweepError;  // errno of a failed syncfs per file system
#ifdef __linux__
    // One syncfs per file system writes every file back in one sweep and commits
    // what copy-on-write file systems need.
    for (const auto& [device, indices] : byDevice) {
        const int fd = fileAt(indices.front())->fd();
        if (retry([fd] { return ::syncfs(fd); }) != 0) {
            sweepError[device] = errno;
        }
    }
#endif
    // Each file's own wait tells whether its bytes were written.
    for (const auto& [device, indices] : byDevice) {
        for (const std::size_t i : indices) {
            results[i] = fileAt(i)->waitForWriteBack();
        }
    }
    // The fdatasync of one file makes the simplest file systems flush the device's cache.
    for (const auto& [device, indices] : byDevice) {
        const int fd = fileAt(indices.front())->fd();
        const bool failed = sweepError.count(device) != 0 || retry([&] { return ::fdatasync(fd); }) != 0;
        if (failed) {
            const int cause = sweepError.count(device) != 0 ? sweepError[device] : errno;
            for (const std::size_t i : indices) {
                if (!results[i]) {
                    results[i] = RunTimeError(Failure::Unconfirmed, cause, std::strerror(cause));
                }
            }
        }
    }
    for (const auto& [device, indices] : byDevice) {
        for (const std::size_t i : indices) {
            auto closed = fileAt(i)->close();
            if (!results[i]) {
                results[i] = std::move(closed);
            }
        }
    }
    return results;
}

std::unique_ptr<FileLayer> nativeFileLayer()
{
    return std::make_unique<PosixFileLayer>();
}

void raiseOpenFileLimit()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);  // may be refused above the system's own ceiling; then it stays
    }
}

std::size_t openFileLimit()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return SIZE_MAX;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
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

std::optional<FileId> PosixFileLayer::folderId(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace ks::platform
