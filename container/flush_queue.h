// Files whose new bytes are written but not yet known to be on the medium:
// a batch flushes them together, which costs one wait instead of one per file.
// The queue is also the one place that makes room when the process has no
// descriptor left: it flushes what waits, which closes it, and tries again.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace ks::container {

class FlushQueue {
public:
    // Files kept open at once at most, whatever the size of the batch.
    static constexpr std::size_t kCapacity = 256;
    // Files kept open at once under a limit of openFileLimit descriptors: half
    // of them, the other half left to the rest of the program; at most kCapacity.
    static std::size_t capacityFor(std::size_t openFileLimit);

    // A file whose bytes may not have reached the medium, and why.
    struct Failed {
        std::string path;
        platform::RunTimeError error;
        std::string item;  // the map file it belongs to (a bundle for its TRE files), else path
    };
    // Learns the outcome of every flush: the files that failed, maybe none.
    using Report = std::function<void(std::vector<Failed> failed)>;

    explicit FlushQueue(platform::FileLayer& files, Report report = {},
                        std::size_t capacity = capacityFor(platform::openFileLimit()));
    FlushQueue(const FlushQueue&) = delete;
    FlushQueue& operator=(const FlushQueue&) = delete;
    // Flushes what is left; its failures can no longer be reported.
    ~FlushQueue();

    // Takes a file whose writes are finished (MapFile::finishWrites), keeping
    // it open, and flushes the whole queue once it holds as many files as it may.
    void add(std::unique_ptr<platform::MapFile> file, std::string path, std::string item = {});
    bool empty() const { return files_.empty(); }
    // Puts every waiting file on the medium, closes it and reports the outcome.
    void flush();

    // Runs attempt; when it fails for want of a free descriptor while files
    // wait here, flushes them and runs it once more.
    template <typename Attempt>
    auto makingRoom(Attempt&& attempt) -> decltype(attempt())
    {
        try {
            return attempt();
        } catch (const platform::RunTimeError& e) {
            if (e.failure() != platform::Failure::TooManyFiles || empty()) {
                throw;
            }
        }
        flush();
        return attempt();
    }
    // Opens path as FileLayer::open does, making room first when it must.
    std::unique_ptr<platform::MapFile> open(const std::string& path, platform::OpenMode mode);

    platform::FileLayer& files() { return layer_; }

private:
    std::vector<Failed> flushed();

    platform::FileLayer& layer_;
    Report report_;
    std::size_t capacity_;
    std::vector<std::unique_ptr<platform::MapFile>> files_;
    std::vector<std::string> paths_;
    std::vector<std::string> items_;
};

}  // namespace ks::container
