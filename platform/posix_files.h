// The file layer on POSIX systems: map files opened by their real path,
// positional reads and one-byte writes, open file description locks, the
// batch flush and the folder enumeration.
#pragma once

#include "platform.h"

namespace ks::platform {

class PosixFileLayer final : public FileLayer {
public:
    // A file whose owner may not write it is refused as read-only, also for root.
    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override;
    std::vector<std::string> regularFiles(const std::string& folder) override;
    // Waits for each file's own write-back (which tells which file failed),
    // then makes each file system commit and flush its cache once.
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override;
    bool isFolder(const std::string& path) override;
};

// The run-time error for a failed system call with errnoValue.
RunTimeError errnoError(int errnoValue);

}  // namespace ks::platform
