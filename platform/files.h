// The file layer: map files opened by path, folders listed, what is written
// put on the medium, and the process's descriptor limit, with numbered
// run-time errors. Every layer may include this header; it depends on the
// standard library only.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"

namespace ks::platform {

// How a map file is opened.
enum class OpenMode {
    Probe,   // to look at it: for reading and writing, as a change would, but no lock
    Change,  // to switch it: also locked against a second switching process
    Report,  // to report on it: refused as a change would be, but opened for reading only where the
             // system can tell without opening for writing, so that another program's read lease holds
};

// What makes a file itself whatever it is called: its device (volume) and its
// number there. Two paths with the same FileId name one file.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};

// A map file opened for reading and writing; closed (and unlocked) when destroyed.
class MapFile {
public:
    virtual ~MapFile() = default;

    // Size of the file in bytes when it was opened.
    virtual std::uint64_t size() const = 0;
    // The file's identity, taken when it was opened; nothing when the layer
    // cannot tell (such a file is never taken for another).
    virtual std::optional<FileId> id() const { return std::nullopt; }
    // Reads up to out.size() bytes at offset into out; returns how many were
    // there (fewer at the end of the file). Throws RunTimeError.
    virtual std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    // Writes one byte at offset, after checking right before it that the file
    // still reaches past offset and that its path still names this file; the
    // file never grows (where the system allows, nothing can shorten it
    // between that check and the write). Throws RunTimeError, having written nothing.
    virtual void writeByteAt(std::uint64_t offset, std::uint8_t value) = 0;
    // Releases the lock of a Change open and may start putting what was
    // written on the medium; FileLayer::flush puts it there and waits for it.
    virtual void finishWrites() = 0;
};

// What a folder holds directly, by name (without the folder), in no particular order.
struct FolderContents {
    std::vector<std::string> files;    // regular files, hidden ones included; links only when they lead to one
    std::vector<std::string> folders;  // folders; links to folders left out
};

// Opens map files and enumerates folders.
class FileLayer {
public:
    virtual ~FileLayer() = default;

    // Opens the existing regular file at path for reading and writing after
    // checking its type without opening it: never creates a file and never
    // opens a folder, pipe, socket or device. A Change open waits briefly for
    // another process's lock, then fails as busy. Throws RunTimeError.
    virtual std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) = 0;

    // Lists folder in one pass. Throws RunTimeError when the folder cannot be read.
    virtual FolderContents list(const std::string& folder) = 0;
    // The regular files of folder, as list gives them.
    std::vector<std::string> regularFiles(const std::string& folder) { return list(folder).files; }

    // Waits until everything written to files is on the medium, which may
    // close the written ones (the close is part of getting their bytes
    // there). Returns one entry per file: nothing, or why that file's bytes
    // may not be there (Failure::Unconfirmed when the medium failed without
    // saying for which file).
    virtual std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) = 0;

    // Whether path names a folder (following links).
    virtual bool isFolder(const std::string& path) = 0;
    // The identity of the folder path names (following links); nothing when
    // it names none or the layer cannot tell.
    virtual std::optional<FileId> folderId(const std::string& /*path*/) { return std::nullopt; }
};

// The file layer of the system the program runs on.
std::unique_ptr<FileLayer> nativeFileLayer();

// Raises the number of files the process may keep open to the most the system
// allows it; run once at start.
void raiseOpenFileLimit();
// How many files the process may keep open at once (its descriptor limit).
std::size_t openFileLimit();

// The program's arguments in UTF-8, argv[0] first.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Separators between the folders of a path; the first is the one to write.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif

}  // namespace ks::platform
