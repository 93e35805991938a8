// libFuzzer target: the map-file library's walk and writer on one in-memory
// file made of the input bytes, checked against a plain model of the rules
// for map files (IMG containers, plain or masked, and TRE files of their own,
// alone or as the one TRE file of a bundle) written apart from the library.
// Aborts when the two disagree on how a walk ends, on a file's maps, flag
// bytes or draw priorities, or when a rewrite of the transparency bit or of
// the draw priority ends otherwise than the model says, changes any byte but
// those the model predicts, writes a byte that keeps its value, or changes
// the file's size.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "container/img_container.h"
#include "fuzz_check.h"
#include "workflow/probe.h"

namespace {

using namespace ks::container;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kBundle = "/fuzz/K.gmap";
constexpr const char* kBundleTre = "/fuzz/K.gmap/P/1/1.TRE";

// ---------------------------------------------------------------------------
// The model: the file's maps as the rules for map files define them, written
// as plainly as possible and sharing nothing with the library but the input.

struct Model {
    enum { Maps, NotImg, NoTre, BadTre, Overflow } end = NotImg;
    bool rawTre = false;
    std::uint8_t mask = 0;
    std::vector<std::uint64_t> headers;                  // per map: where its TRE header starts
    std::vector<std::optional<std::uint32_t>> priority;  // per map, decoded
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
    } else if (b.size() > 0x10 && std::memcmp(b.data() + 2, "GARMIN TRE", 10) == 0 && le(0, 2) >= 0x40) {
        m.rawTre = true;  // a TRE file of its own: one map, its header at 0, no mask
        m.headers.push_back(0);
    } else {
        return m;
    }
    const std::uint64_t x4 = m.mask * 0x01010101ULL;
    const std::uint64_t x3 = m.mask * 0x010101ULL;
    const std::uint64_t x2 = m.mask * 0x0101ULL;
    if (!m.rawTre) {
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
                m.headers.push_back(header);
            }
        }
        if (m.headers.empty()) {
            m.end = Model::NoTre;
            return m;
        }
    }
    m.end = Model::Maps;
    for (const std::uint64_t h : m.headers) {
        const std::uint64_t length = le(h, 2) ^ x2;
        // A header holds " TRE" at +8 and, when its length and the file reach that far, the flag byte at +0x3F.
        if (h + 0x3F >= b.size() || (le(h + 8, 4) ^ x4) != 0x45525420 || length < 0x40) {
            m.end = Model::BadTre;
        }
        // The draw priority: 3 bytes at +0x40, when the header's length and the file reach past them.
        m.priority.push_back(h + 0x42 < b.size() && length >= 0x43 ? std::optional(le(h + 0x40, 3) ^ x3)
                                                                  : std::nullopt);
    }
    return m;
}

// What a rewrite does by the rules: how it ends, and the file afterwards.
// field: 0 the transparency bit (value: set or clear), 1 the draw priority (value: the priority).
LookupOutcome predictRewrite(const Model& m, const Bytes& before, int field, std::uint8_t value, Bytes& after)
{
    after = before;
    for (std::size_t i = 0; i < m.headers.size(); ++i) {
        if (field == 0) {
            const std::uint64_t flag = m.headers[i] + 0x3F;
            const std::uint8_t decoded = before[flag] ^ m.mask;
            after[flag] = static_cast<std::uint8_t>((value != 0 ? decoded | 0x02 : decoded & ~0x02) ^ m.mask);
        } else if (!m.priority[i]) {
            after = before;
            return LookupOutcome::NoPriority;
        } else if (*m.priority[i] > 0xFF) {
            after = before;
            return LookupOutcome::WidePriority;
        } else {
            after[m.headers[i] + 0x40] = value ^ m.mask;
        }
    }
    return LookupOutcome::Found;
}

// ---------------------------------------------------------------------------
// The library's side: a file and a file layer held in memory.

class MemoryFile final : public ks::platform::MapFile {
public:
    MemoryFile(Bytes& bytes, std::size_t& writes) : bytes_(bytes), writes_(writes) {}
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
        KS_FUZZ_CHECK(bytes_[offset] != value);  // a byte that keeps its value is not written
        bytes_[offset] = value;
        ++writes_;
    }
    void finishWrites() override {}

private:
    Bytes& bytes_;
    std::size_t& writes_;
};

// A bundle whose one TRE file is the file in memory.
class BundleLayer final : public ks::platform::FileLayer {
public:
    explicit BundleLayer(Bytes& bytes) : bytes_(bytes) {}
    std::unique_ptr<ks::platform::MapFile> open(const std::string& path, ks::platform::OpenMode) override
    {
        KS_FUZZ_CHECK(path == kBundleTre);
        return std::make_unique<MemoryFile>(bytes_, writes);
    }
    ks::platform::FolderContents list(const std::string& path) override
    {
        if (path == "/fuzz/K.gmap/P/1") {
            return {{"1.TRE"}, {}};
        }
        return {{}, {path == kBundle ? "P" : "1"}};
    }
    std::vector<std::optional<ks::platform::RunTimeError>> flush(std::span<ks::platform::MapFile* const> files) override
    {
        flushed += files.size();
        return std::vector<std::optional<ks::platform::RunTimeError>>(files.size());
    }
    bool isFolder(const std::string& path) override { return path == kBundle; }

    std::size_t writes = 0;
    std::size_t flushed = 0;  // files handed to flush

private:
    Bytes& bytes_;
};

// The library's walk; nothing when it throws (the block size overflows).
std::optional<LookupOutcome> walk(Bytes& bytes, ContainerMaps& found)
{
    std::size_t writes = 0;
    MemoryFile file(bytes, writes);
    MapReader reader(file);
    std::optional<LookupOutcome> outcome;
    try {
        outcome = FindMaps(reader, found);
    } catch (const ks::platform::RunTimeError& e) {
        KS_FUZZ_CHECK(e.failure() == ks::platform::Failure::Overflow);
    }
    KS_FUZZ_CHECK(writes == 0);
    return outcome;
}

// Walks the file and checks the walk against the model; true when it found maps.
bool walkAsModelled(Bytes& bytes, const Model& m, ContainerMaps& found)
{
    const std::optional<LookupOutcome> outcome = walk(bytes, found);
    KS_FUZZ_CHECK(outcome == (m.end == Model::Overflow ? std::nullopt
                              : m.end == Model::NotImg ? std::optional(LookupOutcome::NotImg)
                              : m.end == Model::NoTre  ? std::optional(LookupOutcome::TreNotFound)
                              : m.end == Model::BadTre ? std::optional(LookupOutcome::TreBad)
                                                       : std::optional(LookupOutcome::Found)));
    if (m.end != Model::Maps) {
        return false;
    }
    KS_FUZZ_CHECK(found.kind == (m.rawTre ? MapFileKind::RawTre : MapFileKind::Container));
    KS_FUZZ_CHECK(found.maps.size() == m.headers.size());
    std::size_t transparent = 0;
    for (std::size_t i = 0; i < m.headers.size(); ++i) {
        KS_FUZZ_CHECK(found.maps[i].flagOffset() == m.headers[i] + 0x3F);
        KS_FUZZ_CHECK(found.maps[i].TreFlags == (bytes[m.headers[i] + 0x3F] ^ m.mask));
        KS_FUZZ_CHECK(found.maps[i].DrawPriority == m.priority[i]);
        transparent += (found.maps[i].TreFlags & 0x02) != 0;
    }
    const std::string count = std::to_string(transparent) + "/" + std::to_string(m.headers.size());
    KS_FUZZ_CHECK(ks::workflow::KennungOf(found) == (transparent == m.headers.size() ? "  <T>"
                                       : transparent == 0              ? "  < >"
                                                                       : "  <T " + count + ">"));
    return true;
}

// Rewrites what a fresh walk finds and checks the outcome and every byte against the model.
void rewriteAsModelled(Bytes& bytes, int field, std::uint8_t value)
{
    const Model m = model(bytes);
    ContainerMaps found;
    if (!walkAsModelled(bytes, m, found)) {
        return;  // an earlier rewrite may have made it another file
    }
    Bytes want;
    const LookupOutcome expected = predictRewrite(m, bytes, field, value, want);
    std::set<std::uint64_t> changed;  // maps may share a header: its byte is written once
    for (const std::uint64_t h : m.headers) {
        const std::uint64_t at = h + (field == 0 ? 0x3F : 0x40);
        if (at < want.size() && want[at] != bytes[at]) {
            changed.insert(at);
        }
    }
    std::size_t writes = 0;
    std::size_t written = 0;
    MemoryFile file(bytes, writes);
    const MapChange change{field == 0 ? MapChange::Field::Transparency : MapChange::Field::DrawPriority, value};
    KS_FUZZ_CHECK(RewriteMaps(file, found, change, written) == expected);
    KS_FUZZ_CHECK(bytes.size() == want.size());
    KS_FUZZ_CHECK(bytes == want);
    KS_FUZZ_CHECK(written == changed.size() && writes == changed.size());
}

// The input as the one TRE file of a bundle: a map only as a TRE file of its own.
// Leaves bytes as the bundle's switch leaves them.
void bundleAsModelled(Bytes& bytes, const Model& m, std::uint8_t transparent)
{
    BundleLayer layer(bytes);
    ContainerMaps found;
    std::optional<LookupOutcome> outcome;
    try {
        KS_FUZZ_CHECK(IsBundle(layer, kBundle));
        outcome = FindBundleMaps(layer, kBundle, found);
    } catch (const ks::platform::RunTimeError& e) {
        KS_FUZZ_CHECK(e.failure() == ks::platform::Failure::Overflow);
    }
    KS_FUZZ_CHECK(layer.writes == 0);
    const bool map = m.end == Model::Maps && m.rawTre;
    KS_FUZZ_CHECK(outcome == (m.end == Model::Overflow ? std::nullopt
                              : map                    ? std::optional(LookupOutcome::Found)
                                                       : std::optional(LookupOutcome::TreBad)));
    if (!map) {
        return;
    }
    KS_FUZZ_CHECK(found.kind == MapFileKind::Bundle && found.maps.size() == 1 && found.maps[0].File == 0);
    Bytes want;
    KS_FUZZ_CHECK(predictRewrite(m, bytes, 0, transparent, want) == LookupOutcome::Found);
    const bool changes = want != bytes;
    std::size_t written = 0;
    std::size_t at = 0;
    const MapChange change{MapChange::Field::Transparency, transparent};
    {
        FlushQueue pending(
            layer, [](const std::vector<FlushQueue::Failed>& failed) { KS_FUZZ_CHECK(failed.empty()); }, 1);
        KS_FUZZ_CHECK(RewriteBundle(pending, found, change, kBundle, written, at) == LookupOutcome::Found);
        pending.flush();
    }
    KS_FUZZ_CHECK(bytes == want);
    KS_FUZZ_CHECK(written == (changes ? 1U : 0U) && layer.writes == written && layer.flushed == written);
}

}  // namespace

// The last input byte also picks the order of the two switches (bit 0) and the draw priority to set (the rest).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes original(data, data + size);
    const Model expected = model(original);
    Bytes bytes = original;
    ContainerMaps found;
    const bool maps = walkAsModelled(bytes, expected, found);
    const std::uint8_t last = size > 0 ? data[size - 1] : 0;
    const auto first = static_cast<std::uint8_t>(last & 1);
    bundleAsModelled(bytes, expected, first);
    if (!maps) {
        return 0;
    }
    if (expected.rawTre) {
        bytes = original;  // as it was before the bundle's switch
    }
    rewriteAsModelled(bytes, 0, first);
    rewriteAsModelled(bytes, 0, static_cast<std::uint8_t>(1 - first));
    rewriteAsModelled(bytes, 1, static_cast<std::uint8_t>(last >> 1));
    return 0;
}
