// The file layer on POSIX systems: map files opened by their real path,
// positional reads and one-byte writes, and the folder enumeration.
#pragma once

#include "platform.h"

namespace ks::platform {

class PosixFileLayer final : public FileLayer {
public:
    // Opens path for reading and writing. A file without any write permission
    // bit is refused with 75 even for root, like a read-only mark elsewhere.
    std::unique_ptr<MapFile> openReadWrite(const std::string& path) override;

    // Every regular file directly in folder (links to regular files included).
    std::vector<std::string> regularFiles(const std::string& folder) override;
};

// The run-time error number for a failed open, read or write with errno value.
int runTimeErrorFor(int errnoValue);

}  // namespace ks::platform
