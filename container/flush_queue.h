// Files whose new bytes are written but not yet known to be on the medium:
// a batch flushes them together, which costs one wait instead of one per file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

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
    };

    explicit FlushQueue(platform::FileLayer& files, std::size_t capacity = capacityFor(platform::openFileLimit()));
    FlushQueue(const FlushQueue&) = delete;
    FlushQueue& operator=(const FlushQueue&) = delete;
    // Flushes what is left; its failures can no longer be reported.
    ~FlushQueue();

    // Takes a file whose writes are finished (MapFile::finishWrites), keeping it open.
    void add(std::unique_ptr<platform::MapFile> file, std::string path);
    // Whether the queue holds as many files as it may keep open.
    bool full() const { return files_.size() >= capacity_; }
    bool empty() const { return files_.empty(); }
    // Puts every waiting file on the medium and closes it; returns the ones that failed.
    std::vector<Failed> flush();

private:
    platform::FileLayer& layer_;
    std::size_t capacity_;
    std::vector<std::unique_ptr<platform::MapFile>> files_;
    std::vector<std::string> paths_;
};

}  // namespace ks::container
