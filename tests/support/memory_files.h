// Map files held in memory, with a count of every operation, for lookups
// without a disk and for checking how much I/O a probe or a change costs.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk.h"
#include "platform/platform.h"
#include "platform/runtime_errors.h"

namespace ks::testing {

struct IoCounts {
    int opens = 0;
    int closes = 0;
    int reads = 0;
    int writes = 0;
    int flushes = 0;
};

class MemoryFile final : public platform::MapFile {
public:
    MemoryFile(Bytes& bytes, IoCounts& counts) : bytes_(bytes), counts_(counts) { ++counts_.opens; }
    ~MemoryFile() override { ++counts_.closes; }

    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        ++counts_.reads;
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(out.size(), bytes_.size() - offset);
        std::memcpy(out.data(), bytes_.data() + offset, n);
        return n;
    }
    void writeByteAt(std::uint64_t offset, std::uint8_t value) override
    {
        ++counts_.writes;
        if (offset >= bytes_.size()) {
            platform::raise(platform::err::kBadRecordNumber);
        }
        bytes_[offset] = value;
    }
    void flush() override { ++counts_.flushes; }

private:
    Bytes& bytes_;
    IoCounts& counts_;
};

// Files by path; a path not held is missing (53).
class MemoryFileLayer final : public platform::FileLayer {
public:
    std::map<std::string, Bytes> files;
    IoCounts counts;

    std::unique_ptr<platform::MapFile> openReadWrite(const std::string& path) override
    {
        auto it = files.find(path);
        if (it == files.end()) {
            platform::raise(path.empty() ? platform::err::kPathFileAccess : platform::err::kFileNotFound);
        }
        return std::make_unique<MemoryFile>(it->second, counts);
    }
    std::vector<std::string> regularFiles(const std::string&) override
    {
        std::vector<std::string> names;
        for (const auto& [path, bytes] : files) {
            names.push_back(path);
        }
        return names;
    }
};

}  // namespace ks::testing
