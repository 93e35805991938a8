// Temporary folders and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ks::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder below base (the system's temporary folder when empty),
// removed with everything in it (read-only files included) when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& base = "");
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    // The folder's path, ending with '/'.
    std::string path() const { return path_.string() + "/"; }
    // The path of name inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes bytes to path, replacing what was there.
void writeFile(const std::string& path, const Bytes& bytes);
// Reads the whole file at path.
Bytes readFile(const std::string& path);
// Removes every write permission bit of path.
void makeReadOnly(const std::string& path);
// A memory-backed folder for tests that create and sync thousands of files,
// or "" when the system has none.
std::string memoryBackedFolder();
// Leaves a Unix socket file at path that nobody listens on; false if refused.
bool makeSocket(const std::string& path);
// The path of one of the checked-in sample tiles.
std::string sampleFile(const std::string& name);
// Offsets at which a and b differ, up to the shorter length; a length
// difference counts as one more.
std::vector<std::size_t> differingOffsets(const Bytes& a, const Bytes& b);

}  // namespace ks::testing
