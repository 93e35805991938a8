#include "windows_files.h"

#include <shellapi.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <thread>

namespace ks::platform {

namespace {

constexpr std::chrono::milliseconds kBusyRetry{20};
constexpr std::wstring_view kLongPrefix = L"\\\\?\\";     // \\?\ : the path is taken as it stands
constexpr std::wstring_view kUncLongPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";   // \\.\ : devices, never map files
constexpr std::wstring_view kUncPrefix = L"\\\\";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kLargestChunk = 1u << 30;  // bytes asked of one ReadFile
constexpr DWORD kMessageChars = 512;       // room for the system's words on an error
constexpr DWORD kErrorDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, missing from MinGW's headers

// What Windows error codes mean to the program; codes not listed are DeviceIo.
struct CodeFailure {
    DWORD code;
    Failure failure;
};
constexpr CodeFailure kCodeFailures[] = {
    {ERROR_FILE_NOT_FOUND, Failure::NotFound},
    {ERROR_PATH_NOT_FOUND, Failure::PathNotFound},
    {ERROR_INVALID_DRIVE, Failure::PathNotFound},
    {ERROR_BAD_NETPATH, Failure::PathNotFound},
    {ERROR_BAD_NET_NAME, Failure::PathNotFound},
    {ERROR_DIRECTORY, Failure::PathNotFound},
    {ERROR_ACCESS_DENIED, Failure::AccessDenied},
    {ERROR_SHARING_VIOLATION, Failure::Busy},
    {ERROR_LOCK_VIOLATION, Failure::Busy},
    {ERROR_WRITE_PROTECT, Failure::ReadOnly},
    {ERROR_TOO_MANY_OPEN_FILES, Failure::TooManyFiles},
    {ERROR_DISK_FULL, Failure::DiskFull},
    {ERROR_HANDLE_DISK_FULL, Failure::DiskFull},
    {kErrorDiskQuotaExceeded, Failure::QuotaExceeded},
    {ERROR_FILENAME_EXCED_RANGE, Failure::NameTooLong},
    {ERROR_INVALID_NAME, Failure::BadName},
    {ERROR_BAD_PATHNAME, Failure::BadName},
    {ERROR_CANT_RESOLVE_FILENAME, Failure::LinkLoop},
};

[[noreturn]] void raiseLastError()
{
    throw windowsError(::GetLastError());
}

bool startsWith(std::wstring_view text, std::wstring_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Refuses anything but a file with data that may be written.
void requireWritableRegular(DWORD attributes)
{
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        throw RunTimeError(Failure::NotRegular);
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw RunTimeError(Failure::ReadOnly);
    }
}

// Facts about what path leads to, links followed, taken through a handle that
// may neither read nor write, so that it disturbs no one.
struct Target {
    DWORD type = FILE_TYPE_UNKNOWN;
    BY_HANDLE_FILE_INFORMATION info{};

    bool regular() const { return type == FILE_TYPE_DISK && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0; }
};

std::optional<Target> lookAt(const std::wstring& path)
{
    const FileHandle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    Target target;
    if (!h || (target.type = ::GetFileType(h.get())) == FILE_TYPE_UNKNOWN ||
        !::GetFileInformationByHandle(h.get(), &target.info)) {
        return std::nullopt;
    }
    return target;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

std::uint64_t currentSize(HANDLE h)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) {
        raiseLastError();
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

class WindowsMapFile final : public MapFile {
public:
    WindowsMapFile(FileHandle handle, std::wstring path, const BY_HANDLE_FILE_INFORMATION& info)
        : handle_(std::move(handle)), path_(std::move(path)), info_(info), size_(currentSize(handle_.get()))
    {
    }

    std::uint64_t size() const override { return size_; }
    std::optional<FileId> id() const override
    {
        return FileId{info_.dwVolumeSerialNumber, (std::uint64_t{info_.nFileIndexHigh} << 32) | info_.nFileIndexLow};
    }

    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        std::size_t done = 0;
        while (done < out.size()) {
            OVERLAPPED position = at(offset + done);
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, kLargestChunk));
            DWORD got = 0;
            if (!::ReadFile(handle_.get(), out.data() + done, ask, &got, &position)) {
                if (::GetLastError() == ERROR_HANDLE_EOF) {
                    break;
                }
                raiseLastError();
            }
            if (got == 0) {
                break;
            }
            done += got;
        }
        return done;
    }

    void writeByteAt(std::uint64_t offset, std::uint8_t value) override
    {
        if (offset >= currentSize(handle_.get())) {
            throw RunTimeError(Failure::Changed);  // truncated: the file must never grow back
        }
        const auto named = lookAt(path_);
        if (!named || !sameFile(named->info, info_)) {
            throw RunTimeError(Failure::Changed);  // the path names another file now
        }
        OVERLAPPED position = at(offset);
        DWORD put = 0;
        if (!::WriteFile(handle_.get(), &value, 1, &put, &position)) {
            raiseLastError();
        }
        if (put != 1) {
            throw windowsError(ERROR_WRITE_FAULT);
        }
        written_ = true;
    }

    // The share mode of a Change open keeps others out until the file is closed, and Windows
    // flushes file by file anyway: the bytes are put on the medium now and the file let go.
    void finishWrites() override
    {
        if (written_ && !::FlushFileBuffers(handle_.get())) {
            flushed_ = windowsError(::GetLastError());
        }
        if (handle_ && !::CloseHandle(handle_.release()) && written_ && !flushed_) {
            flushed_ = windowsError(::GetLastError());
        }
    }

    // Why this file's written bytes may not be on the medium, if they may not.
    std::optional<RunTimeError> flushWrites() const { return flushed_; }

private:
    FileHandle handle_;
    std::wstring path_;
    BY_HANDLE_FILE_INFORMATION info_;
    std::uint64_t size_;
    bool written_ = false;
    std::optional<RunTimeError> flushed_;
};

// Whether a folder entry is a file with data: no folder, no device, and a link only when it leads to such a file.
bool isRegularEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry)
{
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    const auto target = lookAt(folder + entry.cFileName);
    return target && target->regular();
}

// Whether name matches pattern, whose * stands for any run of characters and
// ? for any one, without regard to case; a pattern ending in ".*" also
// matches the name without an extension, as on the Windows command line.
bool wildcardMatch(std::wstring_view pattern, std::wstring_view name)
{
    const auto same = [](wchar_t a, wchar_t b) { return ::CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL; };
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring_view::npos;  // the last * passed, and where its run would end next
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == L'?' || same(pattern[p], name[n]))) {
            ++p, ++n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size() ||
           (pattern.ends_with(L".*") && name.find(L'.') == std::wstring_view::npos &&
            wildcardMatch(pattern.substr(0, pattern.size() - 2), name));
}

}  // namespace

std::vector<std::string> expandWildcards(const std::string& arg)
{
    constexpr std::string_view kWildcards = "*?";
    const std::size_t cut = arg.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? std::string() : arg.substr(0, cut + 1);
    if (arg.find_first_of(kWildcards) == std::string::npos || folder.find_first_of(kWildcards) != std::string::npos) {
        return {arg};
    }
    std::vector<std::string> matches;
    try {
        const std::wstring pattern = widen(arg.substr(folder.size()));
        WIN32_FIND_DATAW entry{};
        const FindHandle search(
            ::FindFirstFileExW(apiPath(arg).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
        for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &entry)) {
            const std::wstring_view name = entry.cFileName;
            if (name != L"." && name != L".." && wildcardMatch(pattern, name)) {
                matches.push_back(folder + narrow(name));
            }
        }
    } catch (const RunTimeError&) {
        // a pattern that makes no path stays as it was typed
    }
    if (matches.empty()) {
        return {arg};
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty()) {
        return {};
    }
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw RunTimeError(Failure::NameTooLong);
    }
    const int inLength = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
    if (length <= 0) {
        throw RunTimeError(Failure::BadName);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view utf16)
{
    if (utf16.empty() || utf16.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    const int inLength = static_cast<int>(utf16.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

namespace {

// The absolute form of path, as GetFullPathNameW makes it.
std::wstring fullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            raiseLastError();
        }
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);  // the length asked for, with its terminating zero
    }
}

}  // namespace

std::wstring apiPath(const std::string& path)
{
    const std::wstring wide = widen(path);
    if (wide.empty() || startsWith(wide, kDevicePrefix)) {
        throw RunTimeError(Failure::NotRegular);
    }
    if (startsWith(wide, kLongPrefix)) {
        return wide;
    }
    // Only the folder is made absolute: the last name stays exactly as given, so that a
    // name the folder lists with a trailing dot or space ("x.img.", "y.img ") is that file.
    std::size_t cut = wide.find_last_of(L"\\/");
    if (cut == std::wstring::npos && wide.size() >= 2 && wide[1] == L':') {
        cut = 1;  // a drive's current folder, as in C:x.img
    }
    const std::wstring name = cut == std::wstring::npos ? wide : wide.substr(cut + 1);
    std::wstring full;
    if (name.empty() || name == L"." || name == L"..") {
        full = fullPath(wide);
    } else {
        full = fullPath(cut == std::wstring::npos ? L"." : wide.substr(0, cut + 1));
        if (full.back() != L'\\') {
            full += L'\\';
        }
        full += name;
    }
    if (startsWith(full, kDevicePrefix) || startsWith(full, kLongPrefix)) {
        throw RunTimeError(Failure::NotRegular);  // a device name such as CON or COM1
    }
    if (startsWith(full, kUncPrefix)) {
        return std::wstring(kUncLongPrefix) + full.substr(kUncPrefix.size());
    }
    return std::wstring(kLongPrefix) + full;
}

RunTimeError windowsError(DWORD code)
{
    const auto known = std::find_if(std::begin(kCodeFailures), std::end(kCodeFailures),
                                    [code](const CodeFailure& c) { return c.code == code; });
    const Failure failure = known != std::end(kCodeFailures) ? known->failure : Failure::DeviceIo;
    wchar_t words[kMessageChars] = {};
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                    words, kMessageChars, nullptr);
    while (length > 0 && (words[length - 1] == L'\r' || words[length - 1] == L'\n' || words[length - 1] == L'.')) {
        --length;
    }
    return RunTimeError(failure, static_cast<int>(code), narrow(std::wstring_view(words, length)));
}

WindowsFileLayer::WindowsFileLayer(std::chrono::milliseconds busyPatience) : busyPatience_(busyPatience) {}

std::unique_ptr<MapFile> WindowsFileLayer::open(const std::string& path, OpenMode mode)
{
    const std::wstring wide = apiPath(path);
    // Look before opening: opening a device has effects of its own.
    WIN32_FILE_ATTRIBUTE_DATA before{};
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &before)) {
        raiseLastError();
    }
    if ((before.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const auto target = lookAt(wide);
        if (!target) {
            raiseLastError();
        }
        if (!target->regular()) {
            throw RunTimeError(Failure::NotRegular);
        }
        before.dwFileAttributes = target->info.dwFileAttributes;
    }
    requireWritableRegular(before.dwFileAttributes);

    const DWORD share = mode == OpenMode::Change ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const auto giveUp = std::chrono::steady_clock::now() + busyPatience_;
    FileHandle handle;
    for (;;) {
        handle.reset(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle) {
            break;
        }
        const DWORD code = ::GetLastError();
        const bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
        if (!held || mode != OpenMode::Change || std::chrono::steady_clock::now() >= giveUp) {
            throw windowsError(code);
        }
        std::this_thread::sleep_for(kBusyRetry);
    }
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
        throw RunTimeError(Failure::NotRegular);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle.get(), &info)) {
        raiseLastError();
    }
    requireWritableRegular(info.dwFileAttributes);
    return std::make_unique<WindowsMapFile>(std::move(handle), wide, info);
}

FolderContents WindowsFileLayer::list(const std::string& folder)
{
    if (folder.empty()) {
        throw RunTimeError(Failure::PathNotFound);
    }
    std::wstring wide = apiPath(folder);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        throw code == ERROR_FILE_NOT_FOUND ? RunTimeError(Failure::PathNotFound) : windowsError(code);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw RunTimeError(Failure::PathNotFound);
    }
    if (wide.back() != L'\\') {
        wide += L'\\';
    }
    WIN32_FIND_DATAW entry{};
    const FindHandle search(::FindFirstFileExW((wide + L'*').c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
    FolderContents contents;
    if (!search) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return contents;  // an empty drive root has not even . and ..
        }
        throw windowsError(code);
    }
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
            contents.folders.push_back(narrow(name));
        } else if (isRegularEntry(wide, entry)) {
            contents.files.push_back(narrow(name));
        }
    } while (::FindNextFileW(search.get(), &entry));
    if (const DWORD code = ::GetLastError(); code != ERROR_NO_MORE_FILES) {
        throw windowsError(code);
    }
    return contents;
}

std::vector<std::optional<RunTimeError>> WindowsFileLayer::flush(std::span<MapFile* const> files)
{
    std::vector<std::optional<RunTimeError>> results;
    results.reserve(files.size());
    for (MapFile* file : files) {
        results.push_back(static_cast<WindowsMapFile*>(file)->flushWrites());
    }
    return results;
}

bool WindowsFileLayer::isFolder(const std::string& path)
{
    try {
        const DWORD attributes = ::GetFileAttributesW(apiPath(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    } catch (const RunTimeError&) {
        return false;
    }
}

std::optional<FileId> WindowsFileLayer::folderId(const std::string& path)
{
    try {
        const auto target = lookAt(apiPath(path));
        if (!target || (target->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return std::nullopt;
        }
        return FileId{target->info.dwVolumeSerialNumber,
                      (std::uint64_t{target->info.nFileIndexHigh} << 32) | target->info.nFileIndexLow};
    } catch (const RunTimeError&) {
        return std::nullopt;
    }
}

std::unique_ptr<FileLayer> nativeFileLayer()
{
    return std::make_unique<WindowsFileLayer>();
}

void raiseOpenFileLimit()
{
    // Files are opened as handles, which have no limit of their own to raise.
}

std::size_t openFileLimit()
{
    return SIZE_MAX;
}

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    // The narrow argv holds the arguments in the ANSI code page; the wide command line holds them whole.
    struct LocalTraits {
        using Handle = LPWSTR*;
        static LPWSTR* empty() { return nullptr; }
        static void close(LPWSTR* p) { ::LocalFree(p); }
    };
    int count = 0;
    const UniqueHandle<LocalTraits> wide(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!wide) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        if (i == 0) {
            args.push_back(narrow(wide.get()[i]));
        } else {
            std::ranges::move(expandWildcards(narrow(wide.get()[i])), std::back_inserter(args));
        }
    }
    return args;
}

}  // namespace ks::platform
