// Run-time errors: what went wrong, the number the program's messages show
// and its text in the program's German-with-English style.
#pragma once

#include <stdexcept>
#include <string>

namespace ks::platform {

// The run-time error numbers the program tells apart or shows.
namespace err {
inline constexpr int kOverflow = 6;          // arithmetic result out of range
inline constexpr int kBadFileName = 52;      // the name cannot be used as it is
inline constexpr int kFileNotFound = 53;     // the path names no file
inline constexpr int kDeviceIo = 57;         // the medium failed to read or write
inline constexpr int kDiskFull = 61;         // no room left on the medium
inline constexpr int kTooManyFiles = 67;     // no file handle left
inline constexpr int kPathFileAccess = 75;   // opening for writing refused
inline constexpr int kPathNotFound = 76;     // a folder of the path is missing
}  // namespace err

// What went wrong, finer than the number.
enum class Failure {
    Overflow,       // the container's block size does not fit
    NotFound,       // no file at the path
    PathNotFound,   // a folder of the path is missing or is no folder
    AccessDenied,   // the system refused access
    ReadOnly,       // the file's owner may not write it, or the medium is read-only
    NotRegular,     // a folder, pipe, socket or device, or no path at all
    Busy,           // another program holds the file
    DiskFull,       // no space left
    QuotaExceeded,  // the user's quota is used up
    NameTooLong,    // a name or the path is too long
    BadName,        // a name the system cannot use (characters it forbids, text that is not UTF-8)
    LinkLoop,       // too many levels of links
    TooManyFiles,   // out of file handles
    Changed,        // the file was truncated or replaced while it was being switched
    DeviceIo,       // the medium failed
    Unconfirmed,    // the medium failed for one of several files, not saying which
};

// The number the messages show for failure.
int errorNumber(Failure failure);
// The text of failure: German, with the English in brackets.
std::string errorText(Failure failure);
// The English reason for failure, for messages in English.
std::string englishReason(Failure failure);

// A run-time error of the file layer or of the container arithmetic.
class RunTimeError : public std::runtime_error {
public:
    // osError and osText: the system's error code behind it and its words, if any.
    explicit RunTimeError(Failure failure, int osError = 0, std::string osText = {});

    Failure failure() const { return failure_; }
    int number() const { return errorNumber(failure_); }
    // The German-with-English description shown in the window.
    std::string text() const { return what(); }
    // The English reason, with the system's own words where they add to it.
    std::string english() const;
    int osError() const { return osError_; }

private:
    Failure failure_;
    int osError_;
    std::string osText_;
};

}  // namespace ks::platform
