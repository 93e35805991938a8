// The file layer on Windows: map files opened through long UTF-16 paths,
// positional reads and one-byte writes, share modes that keep a file still
// while it is switched, the per-file flush and the folder enumeration.
// Also the small Windows helpers the window shares: text conversion and
// owned handles.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files.h"

namespace ks::platform {

// Owns one handle of a kind described by Traits (its empty value and how it is
// closed); closes it on every path.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }
    Handle release() { return std::exchange(handle_, Traits::empty()); }
    void reset(Handle handle = Traits::empty())
    {
        if (handle_ != Traits::empty()) {
            Traits::close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::empty();
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static HANDLE empty() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Handle = HANDLE;
    static HANDLE empty() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::FindClose(h); }
};
// A file opened with CreateFileW.
using FileHandle = UniqueHandle<FileHandleTraits>;
// A search started with FindFirstFileExW.
using FindHandle = UniqueHandle<FindHandleTraits>;

// UTF-16 for UTF-8 text. Throws RunTimeError (BadName) for bytes that are not UTF-8.
std::wstring widen(std::string_view utf8);
// UTF-8 for UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view utf16);

// The path the Windows API takes for path: absolute, with the \\?\ prefix
// (\\?\UNC\ for a share) so that no length limit applies. Throws RunTimeError:
// NotRegular for an empty path or a device path (\\.\).
std::wstring apiPath(const std::string& path);

// What an argument with * or ? stands for, as the Windows C runtime expands
// them (the shells leave that to each program): the names of its folder that
// match it, long names only (never through a short 8.3 name), in name order,
// or the argument itself when nothing matches.
std::vector<std::string> expandWildcards(const std::string& arg);

// The run-time error for a failed call whose GetLastError() was code, with the
// system's own words.
RunTimeError windowsError(DWORD code);

class WindowsFileLayer final : public FileLayer {
public:
    // How long a Change open waits for another program to let go of the file.
    static constexpr std::chrono::milliseconds kBusyPatience{3000};

    explicit WindowsFileLayer(std::chrono::milliseconds busyPatience = kBusyPatience);

    // A Probe open shares reading and writing with others; a Change open shares
    // reading only, so nobody writes, truncates, renames or deletes the file
    // until it is closed, and waits up to busyPatience for another program's
    // handle to go (then Busy). A file with the read-only attribute is ReadOnly.
    // A Report open is a Probe open here.
    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override;
    FolderContents list(const std::string& folder) override;
    // FlushFileBuffers on each written file.
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override;
    bool isFolder(const std::string& path) override;
    std::optional<FileId> folderId(const std::string& path) override;

private:
    std::chrono::milliseconds busyPatience_;
};

}  // namespace ks::platform
