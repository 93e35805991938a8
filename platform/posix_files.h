// The file layer on POSIX systems: map files opened by their real path,
// positional reads and one-byte writes, open file description locks, the
// batch flush and the folder enumeration.
#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "platform.h"

namespace ks::platform {

class PosixFileLayer final : public FileLayer {
public:
    // lockPatience: how long a Change open waits for another process's lock
    // before it reports the file as busy. afterLook runs between the look at a
    // path and its open, where another program could put something else in
    // its place; tests use it to do just that.
    explicit PosixFileLayer(std::chrono::milliseconds lockPatience = std::chrono::seconds(3),
                            std::function<void(const std::string& path)> afterLook = {})
        : lockPatience_(lockPatience), afterLook_(std::move(afterLook))
    {
    }

    // A file whose owner may not write it is refused as read-only, also for root.
    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override;
    std::vector<std::string> regularFiles(const std::string& folder) override;
    // Makes each file system write every file back and commit once, waits for
    // each file's own write-back (which tells which file failed), then makes
    // each file system flush its cache once.
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override;
    bool isFolder(const std::string& path) override;

private:
    std::chrono::milliseconds lockPatience_;
    std::function<void(const std::string& path)> afterLook_;
};

// The run-time error for a failed system call with errnoValue.
RunTimeError errnoError(int errnoValue);

}  // namespace ks::platform
