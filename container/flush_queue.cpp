#include "flush_queue.h"

#include <algorithm>

namespace ks::container {

std::size_t FlushQueue::capacityFor(std::size_t openFileLimit)
{
    return std::clamp<std::size_t>(openFileLimit / 2, 1, kCapacity);
}

FlushQueue::FlushQueue(platform::FileLayer& files, std::size_t capacity) : layer_(files), capacity_(capacity) {}

FlushQueue::~FlushQueue()
{
    static_cast<void>(flush());
}

void FlushQueue::add(std::unique_ptr<platform::MapFile> file, std::string path)
{
    files_.push_back(std::move(file));
    paths_.push_back(std::move(path));
}

std::vector<FlushQueue::Failed> FlushQueue::flush()
{
    std::vector<Failed> failed;
    if (files_.empty()) {
        return failed;
    }
    std::vector<platform::MapFile*> open;
    for (const auto& file : files_) {
        open.push_back(file.get());
    }
    const auto results = layer_.flush(open);
    for (std::size_t i = 0; i < results.size() && i < paths_.size(); ++i) {
        if (results[i]) {
            failed.push_back({paths_[i], *results[i]});
        }
    }
    files_.clear();
    paths_.clear();
    return failed;
}

}  // namespace ks::container
