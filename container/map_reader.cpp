#include "map_reader.h"

#include <algorithm>
#include <cstring>

namespace ks::container {

namespace {
// A window never starts so close to its aligned end that a header of this
// many bytes would need a second read: a TRE header up to its draw priority.
constexpr std::uint64_t kHeaderSpan = 0x43;
}  // namespace

MapReader::MapReader(platform::MapFile& file) : file_(file), fileSize_(file.size()) {}

void MapReader::readBytes(std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (offset >= fileSize_) {
        return;
    }
    const std::uint64_t wanted = std::min<std::uint64_t>(fileSize_ - offset, out.size());  // never wraps
    const std::uint64_t windowEnd = windowStart_ + windowLength_;
    if (offset < windowStart_ || offset + wanted > windowEnd) {
        const bool sweeping = windowLength_ != 0 && offset >= windowEnd && offset - windowEnd < kWindowSize;
        const std::size_t size = sweeping ? std::min(windowSize_ * 2, kLargestWindow) : kWindowSize;
        std::uint64_t first = offset - offset % kWindowSize;
        if (offset - first > kWindowSize - kHeaderSpan) {
            first = offset;
        }
        spare_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, fileSize_ - first)));
        const std::size_t got = file_.readAt(first, spare_);  // may throw: the window stays as it was
        window_.swap(spare_);
        windowSize_ = size;
        windowStart_ = first;
        windowLength_ = got;
    }
    if (offset < windowStart_ || offset >= windowStart_ + windowLength_) {
        return;  // the file shrank since it was opened: the bytes are not there
    }
    const auto from = static_cast<std::size_t>(offset - windowStart_);
    const std::size_t count = std::min<std::size_t>(out.size(), windowLength_ - from);
    std::memcpy(out.data(), window_.data() + from, count);
}

}  // namespace ks::container
