#include "map_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/runtime_errors.h"

namespace ks::container {

namespace {
// A window never starts so close to its aligned end that a header of this
// many bytes would need a second read.
constexpr std::uint64_t kHeaderSpan = 0x40;
}  // namespace

MapReader::MapReader(platform::MapFile& file) : file_(file), fileSize_(file.size()) {}

bool MapReader::pastEnd(std::int64_t offset) const
{
    return offset >= 0 && static_cast<std::uint64_t>(offset) >= fileSize_;
}

void MapReader::fetch(std::int64_t offset, std::span<std::uint8_t> out)
{
    if (offset < 0) {
        platform::raise(platform::err::kBadRecordNumber);
    }
    // The file layer counts positions from 1 in a signed 32-bit value.
    constexpr auto kLastOffset = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) - 1;
    if (offset > kLastOffset) {
        platform::raise(platform::err::kOverflow);
    }
    const auto start = static_cast<std::uint64_t>(offset);
    const std::uint64_t end = start + out.size();
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (start >= fileSize_) {
        return;
    }
    if (start < windowStart_ || std::min(end, fileSize_) > windowStart_ + windowLength_) {
        std::uint64_t first = start - start % kWindowSize;
        if (start - first > kWindowSize - kHeaderSpan) {
            first = start;
        }
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, fileSize_ - first));
        const std::size_t got = file_.readAt(first, std::span(window_.data(), wanted));
        windowStart_ = first;
        windowLength_ = got;
    }
    if (start >= windowStart_ + windowLength_) {
        return;  // the file shrank since it was opened: the bytes are not there
    }
    const auto from = static_cast<std::size_t>(start - windowStart_);
    const std::size_t count = std::min(out.size(), windowLength_ - from);
    std::memcpy(out.data(), window_.data() + from, count);
}

}  // namespace ks::container
