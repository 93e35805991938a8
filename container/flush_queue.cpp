#include "flush_queue.h"

#include <algorithm>

namespace ks::container {

std::size_t FlushQueue::capacityFor(std::size_t openFileLimit)
{
    return std::clamp<std::size_t>(openFileLimit / 2, 1, kCapacity);
}

FlushQueue::FlushQueue(platform::FileLayer& files, Report report, std::size_t capacity)
    : layer_(files), report_(std::move(report)), capacity_(capacity)
{
}

FlushQueue::~FlushQueue()
{
    static_cast<void>(flushed());
}

void FlushQueue::add(std::unique_ptr<platform::MapFile> file, std::string path, std::string item)
{
    files_.push_back(std::move(file));
    items_.push_back(item.empty() ? path : std::move(item));
    paths_.push_back(std::move(path));
    if (files_.size() >= capacity_) {
        flush();
    }
}

void FlushQueue::flush()
{
    if (files_.empty()) {
        return;
    }
    auto failed = flushed();
    if (report_) {
        report_(std::move(failed));
    }
}

std::unique_ptr<platform::MapFile> FlushQueue::open(const std::string& path, platform::OpenMode mode)
{
    return makingRoom([&] { return layer_.open(path, mode); });
}

std::vector<FlushQueue::Failed> FlushQueue::flushed()
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
            failed.push_back({paths_[i], *results[i], items_[i]});
        }
    }
    files_.clear();
    paths_.clear();
    items_.clear();
    return failed;
}

}  // namespace ks::container
