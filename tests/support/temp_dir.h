// A temporary folder for tests, and whole-file reads and writes, on POSIX
// and on Windows alike. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ks::testing {

using Bytes = std::vector<std::uint8_t>;

// The std::filesystem path of a UTF-8 path, and back.
std::filesystem::path u8(const std::string& path);
std::string u8(const std::filesystem::path& path);

// A fresh folder below base (the system's temporary folder when empty),
// removed with everything in it, read-only files included, when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& base = "");
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    // The folder's path, ending with a separator.
    std::string path() const { return file(""); }
    // The path of name inside the folder; '/' in name stands for the system's separator.
    std::string file(const std::string& name) const;
    // Writes bytes to the file name, making the folders it needs; returns its path.
    std::string put(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    // Every regular file below the folder, links aside, by its name relative to
    // the folder ('/' between folders), with its bytes.
    std::map<std::string, Bytes> files() const;

private:
    std::filesystem::path path_;
};

// Writes bytes to path, replacing what was there.
void writeFile(const std::string& path, const Bytes& bytes);
// Reads the whole file at path.
Bytes readFile(const std::string& path);
// Takes away the write permission of path (the read-only attribute on Windows).
void makeReadOnly(const std::string& path);

}  // namespace ks::testing
