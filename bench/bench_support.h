// What the benchmark measures with: its timer and memory readings, the floor
// of the job, a lean Ui, and a file layer around the real one that counts the
// reads and flushes per batch, per file or not at all.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/posix_files.h"

namespace ks::bench {

using Clock = std::chrono::steady_clock;
using platform::MapFile;
using platform::OpenMode;
using platform::RunTimeError;

// Container layout the floor reads (0-based offsets).
inline constexpr std::size_t kFirstEntry = 0x600;  // first directory entry of a container
inline constexpr std::size_t kEntrySize = 0x200;   // bytes per directory entry

// ---------------------------------------------------------------- timing

// Median and spread of some timed runs, in microseconds per item.
struct Stats {
    double median = 0;
    double min = 0;
    double max = 0;
};

// The median, least and greatest of some timed runs (at least one).
Stats statsOf(std::vector<double> microseconds);
// Runs job once and returns its wall-clock time in microseconds per item.
double timePerItem(double items, const std::function<void()>& job);
// Resident memory of the process in bytes.
long residentBytes();
// Heap bytes in use (small blocks and mapped blocks).
long heapBytes();
// The machine's load averages, as /proc/loadavg gives them.
std::string loadAverage();

// ---------------------------------------------------------------- the floor

// Owns a descriptor; closes it when it goes.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// How much the floor does around each open.
enum class Guards {
    None,        // the floor itself
    TypeAndId,   // also the program's checks: a stat of the type before the open, an fstat after it
};

// The floor: what any tool must do at least to tell the transparency of every
// tile of a folder. Enumerates the folder; per regular file opens it with
// openFlags by its name in the folder, reads the first 4 KiB (the directory),
// reads the TRE header unless that read held it, and closes it. With
// Guards::TypeAndId it adds the program's two checks. Returns how many
// transparent tiles it saw.
std::size_t floorPass(const std::string& folder, int openFlags, Guards guards = Guards::None);

// ---------------------------------------------------------------- the surroundings

// A lean Ui: the list in memory, every box answered OK and counted, the file
// dialog always returning the same path.
class BenchUi final : public ks::platform::Ui {
public:
    std::string choice;      // what the file dialog returns
    std::size_t boxes = 0;   // message boxes shown
    std::string lastPrompt;  // the prompt of the last box

    ks::platform::Answer messageBox(const ks::platform::Message& message) override
    {
        ++boxes;
        lastPrompt = message.prompt;
        return ks::platform::Answer::Ok;
    }
    std::optional<std::string> chooseFile(const std::vector<ks::platform::FileFilter>&, std::size_t,
                                          const std::string&) override
    {
        return choice;
    }
    void listClear() override
    {
        texts.clear();
        marks.clear();
    }
    void listAdd(const std::string& text) override
    {
        texts.push_back(text);
        marks.push_back(0);
    }
    std::size_t listCount() const override { return texts.size(); }
    std::string listText(std::size_t i) const override { return texts.at(i); }
    bool listMarked(std::size_t i) const override { return marks.at(i) != 0; }
    void listSetMarked(std::size_t i, bool marked) override { marks.at(i) = marked ? 1 : 0; }
    void listSetAllMarked(bool marked) override { std::fill(marks.begin(), marks.end(), marked ? 1 : 0); }
    void listFocusFirst() override {}
    void setCaption(const std::string&) override {}
    void setWaitVisible(bool) override {}
    void processEvents() override {}
    std::string toUpper(const std::string& text) const override
    {
        std::string out = text;
        std::transform(out.begin(), out.end(), out.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        return out;
    }

    // Whether every entry ends with kennung.
    bool allEndWith(const std::string& kennung) const
    {
        return std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.ends_with(kennung); });
    }

    std::vector<std::string> texts;
    std::vector<char> marks;
};

// The real file layer behind a thin wrapper that counts what the program asks
// of it and decides how written bytes reach the medium. Every variant pays the
// same wrapper.
class WrappedFiles final : public ks::platform::FileLayer {
public:
    enum class Flush {
        PerBatch,  // the program's way: finishWrites, then one flush of the batch
        PerFile,   // the old way: an fdatasync right after each file's writes; the batch's flush finds nothing left
        None,      // the bytes stay in the page cache (the lock goes with the close)
    };

    explicit WrappedFiles(Flush flush) : flush_(flush) {}

    long opens = 0;
    long reads = 0;
    long bytesRead = 0;
    double finishSeconds = 0;  // spent in MapFile::finishWrites, all runs together
    double flushSeconds = 0;   // spent in flush, all runs together

    std::unique_ptr<MapFile> open(const std::string& path, OpenMode mode) override
    {
        ++opens;
        return std::make_unique<File>(real_.open(path, mode), path, *this);
    }
    std::vector<std::string> regularFiles(const std::string& folder) override { return real_.regularFiles(folder); }
    std::vector<std::optional<RunTimeError>> flush(std::span<MapFile* const> files) override
    {
        if (flush_ != Flush::PerBatch) {
            return std::vector<std::optional<RunTimeError>>(files.size());
        }
        std::vector<MapFile*> inner;
        for (MapFile* file : files) {
            inner.push_back(static_cast<File*>(file)->inner.get());
        }
        const auto start = Clock::now();
        auto results = real_.flush(inner);
        flushSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        return results;
    }
    bool isFolder(const std::string& path) override { return real_.isFolder(path); }

private:
    class File final : public MapFile {
    public:
        File(std::unique_ptr<MapFile> file, std::string path, WrappedFiles& layer)
            : inner(std::move(file)), path_(std::move(path)), layer_(layer)
        {
        }
        std::uint64_t size() const override { return inner->size(); }
        std::size_t readAt(std::uint64_t o, std::span<std::uint8_t> out) override
        {
            ++layer_.reads;
            layer_.bytesRead += static_cast<long>(out.size());
            return inner->readAt(o, out);
        }
        void writeByteAt(std::uint64_t o, std::uint8_t v) override { inner->writeByteAt(o, v); }
        void finishWrites() override
        {
            if (layer_.flush_ == Flush::None) {
                return;
            }
            const auto start = Clock::now();
            inner->finishWrites();
            if (layer_.flush_ == Flush::PerFile) {  // fdatasync reaches the file's data through any descriptor of it
                const Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
                if (fd.get() < 0 || ::fdatasync(fd.get()) != 0) {
                    throw ks::platform::errnoError(errno);
                }
            }
            layer_.finishSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
        std::unique_ptr<MapFile> inner;

    private:
        std::string path_;
        WrappedFiles& layer_;
    };

    Flush flush_;
    ks::platform::PosixFileLayer real_;
};

}  // namespace ks::bench
