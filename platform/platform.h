// The services that the program's logic asks of its surroundings: message
// boxes, the open-file dialog, the file list, the caption and wait label, one
// pass of event processing, upper-casing, the folder enumeration and the
// positional binary file layer with its numbered run-time errors.
// Every layer may include this header; it depends on the standard library only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ks::platform {

// Buttons of a message box; the values are the toolkit's style numbers.
enum class Buttons : int {
    Ok = 0,
    OkCancel = 1,
};

// Icon of a message box; the values are the toolkit's style numbers.
enum class Icon : int {
    None = 0,
    Critical = 16,
    Warning = 48,
};

// What the user answered in a message box.
enum class Answer {
    Ok,
    Cancel,
};

// One modal message box. Within the prompt, CR LF starts a new line.
struct Message {
    std::string prompt;
    std::string title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;

    // The combined style number of buttons and icon (0, 17 or 48 in this program).
    int style() const { return static_cast<int>(buttons) + static_cast<int>(icon); }
    bool operator==(const Message&) const = default;
};

// One filter of the open-file dialog: the text shown and the pattern matched.
struct FileFilter {
    std::string description;
    std::string pattern;
};

// The user-facing services of the window. All calls happen on the UI thread.
class Ui {
public:
    virtual ~Ui() = default;

    // Shows a modal message box and returns the button the user chose.
    virtual Answer messageBox(const Message& message) = 0;

    // Shows the open-file dialog for an existing file; returns the chosen
    // absolute path, or nothing when the user cancelled.
    virtual std::optional<std::string> chooseFile(const std::vector<FileFilter>& filters,
                                                  std::size_t preselectedFilter) = 0;

    // Removes every entry (and its mark) from the file list.
    virtual void listClear() = 0;
    // Appends one unmarked entry to the file list.
    virtual void listAdd(const std::string& text) = 0;
    // Number of entries in the file list.
    virtual std::size_t listCount() const = 0;
    // Text of entry i (0-based, i < listCount()).
    virtual std::string listText(std::size_t i) const = 0;
    // Whether entry i is marked.
    virtual bool listMarked(std::size_t i) const = 0;
    // Marks or unmarks entry i.
    virtual void listSetMarked(std::size_t i, bool marked) = 0;
    // Marks or unmarks every entry at once.
    virtual void listSetAllMarked(bool marked) = 0;

    // Sets the caption of the main window.
    virtual void setCaption(const std::string& caption) = 0;
    // Shows or hides the wait label.
    virtual void setWaitVisible(bool visible) = 0;
    // Processes the pending window events once and returns.
    virtual void processEvents() = 0;

    // Upper-cases a whole UTF-8 string for display.
    virtual std::string toUpper(const std::string& text) const = 0;
};

// A run-time error of the file layer or of the position arithmetic: the
// error number the program's messages show, and its text.
class RunTimeError : public std::runtime_error {
public:
    RunTimeError(int number, const std::string& text) : std::runtime_error(text), number_(number) {}
    int number() const { return number_; }
    std::string text() const { return what(); }

private:
    int number_;
};

// The run-time error numbers the program tells apart or raises itself.
namespace err {
inline constexpr int kOverflow = 6;             // arithmetic result out of range
inline constexpr int kFileNotFound = 53;        // the path names no file
inline constexpr int kDeviceIo = 57;            // the medium failed to read or write
inline constexpr int kTooManyFiles = 67;        // no file handle left
inline constexpr int kBadRecordNumber = 63;     // a position before the start of the file
inline constexpr int kPathFileAccess = 75;      // opening for writing refused
inline constexpr int kPathNotFound = 76;        // a folder of the path is missing
}  // namespace err

// A map file opened for reading and writing; closed when destroyed.
class MapFile {
public:
    virtual ~MapFile() = default;

    // Size of the file in bytes when it was opened.
    virtual std::uint64_t size() const = 0;
    // Reads up to out.size() bytes at offset into out; returns how many were
    // there (fewer at the end of the file). Throws RunTimeError.
    virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    // Writes one byte at offset, which must lie inside the file: the file never
    // grows. Throws RunTimeError.
    virtual void writeByteAt(std::uint64_t offset, std::uint8_t value) = 0;
    // Returns once everything written is on the medium. Throws RunTimeError.
    virtual void flush() = 0;
};

// Opens map files and enumerates folders.
class FileLayer {
public:
    virtual ~FileLayer() = default;

    // Opens an existing regular file for reading and writing; never creates
    // one. Throws RunTimeError 53 for a missing file and 75 when writing is
    // refused (read-only mark, read-only medium, a folder, an empty path).
    virtual std::unique_ptr<MapFile> openReadWrite(const std::string& path) = 0;

    // Names (without the folder) of every regular file directly in folder,
    // hidden ones included, links only when they lead to a regular file; in no
    // particular order. A folder that cannot be read yields no names.
    virtual std::vector<std::string> regularFiles(const std::string& folder) = 0;
};

// Everything the program's logic reaches outside itself.
struct Platform {
    Ui& ui;
    FileLayer& files;
};

}  // namespace ks::platform
