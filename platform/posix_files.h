// The file layer on POSIX systems: map files looked at without opening them
// and then opened through that look, positional reads and one-byte writes
// under a write lease, open file description and flock locks, the flush by
// file system and the folder enumeration.
#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "files.h"

namespace ks::platform {

// Points where tests step into the layer's work in place of another program or the medium.
struct PosixSeams {
    // Runs between the look at a path and its open, where another program could put something else in its place.
    std::function<void(const std::string& path)> afterLook;
    // Runs between the checks right before a write and the write itself.
    std::function<void(const std::string& path)> beforeWrite;
    // The file system type (statfs f_type) a flush acts on, given the real one.
    std::function<long(long realType)> fileSystemType;
    // An errno that a file's own fdatasync or the close of a written file
    // reports after the real call, or 0.
    std::function<int(const std::string& path)> syncError;
    std::function<int(const std::string& path)> closeError;
};

class PosixFileLayer final : public FileLayer {
public:
    // lockPatience: how long a Change open waits for another process's lock
    // before it reports the file as busy.
    explicit PosixFileLayer(std::chrono::milliseconds lockPatience = std::chrono::seconds(3), PosixSeams seams = {})
        : seams(std::move(seams)), lockPatience_(lockPatience)
    {
    }

    // A file whose owner may not write it is refused as read-only, also for
    // root. A Report open asks the system whether the file may be written
    // (faccessat) and opens it for reading only.
    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override;
    FolderContents list(const std::string& folder) override;
    // On local block file systems and tmpfs, whose syncfs is known to cover
    // every file: makes each write every file back and commit once, waits for
    // each file's own write-back (which tells which file failed), then makes
    // each flush its cache once. Elsewhere (FUSE, network file systems,
    // unknown ones) each file gets its own fdatasync. Then closes every
    // written file; a failed close leaves that file unconfirmed.
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override;
    bool isFolder(const std::string& path) override;
    std::optional<FileId> folderId(const std::string& path) override;

    PosixSeams seams;

private:
    std::chrono::milliseconds lockPatience_;
};

// The run-time error for a failed system call with errnoValue.
RunTimeError errnoError(int errnoValue);

}  // namespace ks::platform
