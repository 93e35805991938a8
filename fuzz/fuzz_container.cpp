// libFuzzer target: the probe and the writer on one in-memory file made of
// the input bytes, checked against a plain model of the container's rules
// written apart from the program's walk. Aborts when the two disagree on a
// file's maps, when a change touches any byte but the transparency bit of a
// map's flag byte, when a file's size changes, or when the messages and
// status texts do not fit the outcome.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "container/img_container.h"
#include "workflow/probe.h"
#include "support/scripted_platform.h"

namespace {

using namespace ks::container;
using namespace ks::workflow;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kMapPath = "/fuzz/KARTE.IMG";
constexpr std::uint8_t kOrderBit = 0x01;  // in the first input byte: make transparent first

#define KS_FUZZ_CHECK(condition)                                                               \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

// The file's maps as the container's rules define them, written as plainly as possible.
struct Model {
    enum { Maps, NotImg, NoTre, BadTre, Overflow } end = NotImg;
    std::uint8_t mask = 0;
    std::vector<std::uint64_t> flagAt;  // per map
};

Model model(const Bytes& b)
{
    const auto at = [&](std::uint64_t i) -> std::uint64_t { return i < b.size() ? b[i] : 0; };
    const auto le = [&](std::uint64_t i, int n) {
        std::uint64_t v = 0;
        for (int k = n - 1; k >= 0; --k) {
            v = v << 8 | at(i + k);
        }
        return v;
    };
    Model m;
    const std::uint64_t sig = le(0x10, 4);
    if (sig == 0x494B5344) {
        m.mask = 0;
    } else if (sig == (0x494B5344 ^ 0x5B5B5B5B)) {
        m.mask = 0x5B;
    } else {
        return m;
    }
    const std::uint64_t x4 = m.mask * 0x01010101ULL;
    const std::uint64_t x2 = m.mask * 0x0101ULL;
    const unsigned e = ((at(0x61) ^ m.mask) + (at(0x62) ^ m.mask)) % 256;
    if (e > 30) {
        m.end = Model::Overflow;
        return m;
    }
    const auto fatEnd = static_cast<std::int32_t>(le(0x40C, 4) ^ x4);
    const std::int64_t last = fatEnd == INT32_MIN ? INT32_MAX : std::int64_t{fatEnd} - 1;
    std::uint64_t dataStart = UINT64_MAX;
    for (std::int64_t pos = 0x600; pos <= last && static_cast<std::uint64_t>(pos) < dataStart &&
                                   static_cast<std::uint64_t>(pos) + 9 < b.size();
         pos += 512) {
        const auto p = static_cast<std::uint64_t>(pos);
        if (((le(p + 9, 4) ^ x4) & 0xFFFFFF) == 0x455254 && (le(p + 0x10, 2) ^ x2) == 0) {
            const std::uint64_t header = (le(p + 0x20, 2) ^ x2) << e;
            dataStart = std::min(dataStart, header);
            m.flagAt.push_back(header + 0x3F);
        }
    }
    m.end = m.flagAt.empty() ? Model::NoTre : Model::Maps;
    for (const std::uint64_t flag : m.flagAt) {
        if (flag >= b.size() || (le(flag - 0x3F + 8, 4) ^ x4) != 0x45525420) {
            m.end = Model::BadTre;
        }
    }
    return m;
}

// A file held in memory, with the writes counted.
class MemoryFile final : public ks::platform::MapFile {
public:
    MemoryFile(Bytes& bytes, int& writes) : bytes_(bytes), writes_(writes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        const std::size_t n = offset < bytes_.size() ? std::min<std::size_t>(out.size(), bytes_.size() - offset) : 0;
        std::memcpy(out.data(), bytes_.data() + offset, n);
        return n;
    }
    void writeByteAt(std::uint64_t offset, std::uint8_t value) override
    {
        KS_FUZZ_CHECK(offset < bytes_.size());
        bytes_[offset] = value;
        ++writes_;
    }
    void finishWrites() override {}

private:
    Bytes& bytes_;
    int& writes_;
};

class MemoryLayer final : public ks::platform::FileLayer {
public:
    explicit MemoryLayer(Bytes& bytes) : bytes_(bytes) {}
    std::unique_ptr<ks::platform::MapFile> open(const std::string& path, ks::platform::OpenMode) override
    {
        if (path != kMapPath) {
            throw ks::platform::RunTimeError(ks::platform::Failure::NotRegular);
        }
        return std::make_unique<MemoryFile>(bytes_, writes);
    }
    ks::platform::FolderContents list(const std::string&) override { return {}; }
    std::vector<std::optional<ks::platform::RunTimeError>> flush(std::span<ks::platform::MapFile* const> files) override
    {
        flushed += static_cast<int>(files.size());
        return std::vector<std::optional<ks::platform::RunTimeError>>(files.size());
    }
    bool isFolder(const std::string&) override { return false; }

    int writes = 0;
    int flushed = 0;

private:
    Bytes& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes original(data, data + size);
    const Model expected = model(original);
    Bytes bytes = original;
    ks::testing::Log log;
    ks::testing::ScriptedUi ui(log);
    MemoryLayer layer(bytes);
    ks::platform::Platform platform{ui, layer};
    ProbeState probe;
    Services services{platform, probe, nullptr};

    std::string fileSpec = kMapPath;
    std::string kennung;
    Trnsp_Read(services, fileSpec, kennung);
    KS_FUZZ_CHECK(bytes == original && layer.writes == 0);
    KS_FUZZ_CHECK(ui.messages.size() == (expected.end == Model::Maps ? 0U : 1U));
    KS_FUZZ_CHECK(fileSpec == (expected.end == Model::NotImg ? "" : kMapPath));
    if (expected.end != Model::Maps) {
        KS_FUZZ_CHECK(kennung == kKennungUnknown);
        KS_FUZZ_CHECK(probe.end == (expected.end == Model::NotImg   ? ProbeEnd::NotImg
                                    : expected.end == Model::NoTre  ? ProbeEnd::TreNotFound
                                    : expected.end == Model::BadTre ? ProbeEnd::TreBad
                                                                    : ProbeEnd::OtherError));
        return 0;
    }
    KS_FUZZ_CHECK(probe.found.maps.size() == expected.flagAt.size());
    std::size_t transparent = 0;
    for (std::size_t i = 0; i < expected.flagAt.size(); ++i) {
        KS_FUZZ_CHECK(probe.found.maps[i].flagOffset() == expected.flagAt[i]);
        KS_FUZZ_CHECK(probe.found.maps[i].TreFlags == (original[expected.flagAt[i]] ^ expected.mask));
        transparent += (probe.found.maps[i].TreFlags & kTransparentBit) != 0;
    }
    KS_FUZZ_CHECK(kennung == KennungOf(probe.found));
    KS_FUZZ_CHECK(kennung == (transparent == expected.flagAt.size() ? "  <T>"
                              : transparent == 0                    ? "  < >"
                                                                    : "  <T " + std::to_string(transparent) + "/" +
                                                                          std::to_string(expected.flagAt.size()) + ">"));

    const std::int16_t first = (data[0] & kOrderBit) != 0 ? 1 : 0;
    for (const std::int16_t index : {first, static_cast<std::int16_t>(1 - first)}) {
        const Bytes before = bytes;
        layer.writes = 0;
        fileSpec = kMapPath;
        Trnsp_Read(services, fileSpec, kennung);
        Trnsp_Write(services, fileSpec, index);
        KS_FUZZ_CHECK(ui.messages.empty());
        KS_FUZZ_CHECK(bytes.size() == original.size());
        Bytes want = before;
        for (const std::uint64_t at : expected.flagAt) {
            want[at] = static_cast<std::uint8_t>(
                ((want[at] ^ expected.mask) & ~kTransparentBit) | (index != 0 ? kTransparentBit : 0)) ^ expected.mask;
        }
        KS_FUZZ_CHECK(bytes == want);
        std::vector<std::uint64_t> changed;  // maps may share a flag byte: it is written once
        std::copy_if(expected.flagAt.begin(), expected.flagAt.end(), std::back_inserter(changed),
                     [&](std::uint64_t at) { return want[at] != before[at]; });
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        KS_FUZZ_CHECK(layer.writes == static_cast<int>(changed.size()));
        KS_FUZZ_CHECK(layer.flushed == (changed.empty() ? 0 : 1));
        layer.flushed = 0;
    }
    return 0;
}
