// libFuzzer target: the probe and the writer on one in-memory file made of
// the input bytes. Aborts when a probe or a change touches anything but the
// TRE flag byte of a map whose TRE header the probe found, when a file's size
// changes, or when the messages and status texts do not fit the outcome.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "container/img_container.h"
#include "support/memory_files.h"
#include "support/scripted_platform.h"

namespace {

using ks::container::ProbeEnd;
using ks::testing::Bytes;

constexpr const char* kMapPath = "/fuzz/KARTE.IMG";  // the file probed and changed
constexpr const char* kTwinPath = "/fuzz/ZWILLING.IMG";  // same bytes, never probed
constexpr std::uint8_t kOrderBit = 0x01;  // in the first input byte: make transparent first
const ks::platform::Message kEmptyPathRefused{"Fehler : 75", "", ks::platform::Icon::Warning,
                                              ks::platform::Buttons::Ok};

#define KS_FUZZ_CHECK(condition)                                                               \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

std::uint32_t loadLe32(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8U |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16U | static_cast<std::uint32_t>(bytes[at + 3]) << 24U;
}

// The message count and status text a probe must leave for its outcome.
void checkProbeReport(ProbeEnd end, const ks::testing::ScriptedUi& ui, const std::string& fileSpec,
                      const std::string& kennung, std::uint8_t treFlags)
{
    using namespace ks::container;
    switch (end) {
    case ProbeEnd::Found:
        KS_FUZZ_CHECK(ui.messages.empty());
        KS_FUZZ_CHECK(kennung == ((treFlags & kTransparentBit) != 0 ? kKennungTransparent : kKennungOpaque));
        KS_FUZZ_CHECK(fileSpec == kMapPath);
        return;
    case ProbeEnd::NotImg:
        KS_FUZZ_CHECK(ui.messages.size() == 1);
        KS_FUZZ_CHECK(ui.messages[0].title == "F e h l e r");
        KS_FUZZ_CHECK(kennung == kKennungUnknown);
        KS_FUZZ_CHECK(fileSpec.empty());
        return;
    case ProbeEnd::TreNotFound:
    case ProbeEnd::TreBad:
    case ProbeEnd::OtherError:
        KS_FUZZ_CHECK(ui.messages.size() == 1);
        KS_FUZZ_CHECK(kennung == kKennungUnknown);
        KS_FUZZ_CHECK(fileSpec == kMapPath);
        return;
    case ProbeEnd::None:
    case ProbeEnd::AccessDenied:
        break;  // an in-memory file is always open for writing
    }
    KS_FUZZ_CHECK(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace ks::container;

    const Bytes original(data, data + size);
    ks::testing::ScriptedUi ui;
    ks::testing::MemoryFileLayer layer;
    layer.files[kMapPath] = original;
    layer.files[kTwinPath] = original;
    const Bytes& map = layer.files[kMapPath];
    const Bytes& twin = layer.files[kTwinPath];
    ks::platform::Platform platform{ui, layer};
    ProbeState probe;
    int restarts = 0;
    Services services{platform, probe, [&restarts] { ++restarts; }};

    std::string fileSpec = kMapPath;
    std::string kennung;
    Trnsp_Read(services, fileSpec, kennung);

    KS_FUZZ_CHECK(layer.counts.writes == 0 && layer.counts.flushes == 0);
    KS_FUZZ_CHECK(layer.counts.opens == layer.counts.closes);
    KS_FUZZ_CHECK(map == original);
    KS_FUZZ_CHECK(restarts == 0);
    KS_FUZZ_CHECK(probe.path == kMapPath);
    checkProbeReport(probe.end, ui, fileSpec, kennung, probe.img.TreFlags);

    const bool found = probe.end == ProbeEnd::Found;
    std::size_t flagAt = 0;
    if (found) {
        // What the lookup claims must hold in the bytes themselves.
        KS_FUZZ_CHECK(probe.img.TreOffset >= 0);
        flagAt = static_cast<std::size_t>(probe.img.TreOffset) + static_cast<std::size_t>(kTreFlagsOffset);
        KS_FUZZ_CHECK(flagAt < size);
        KS_FUZZ_CHECK((loadLe32(original, static_cast<std::size_t>(probe.img.TreOffset) + kTreSignatureOffset) ^
                       probe.img.XorLong) == kTreSignature);
        KS_FUZZ_CHECK(static_cast<std::uint8_t>(original[flagAt] ^ probe.img.XorByte) == probe.img.TreFlags);
    }
    const std::uint8_t originalFlags = probe.img.TreFlags;

    // A file that was not probed is never written, whatever the last probe found.
    layer.counts = {};
    ui.messages.clear();
    Trnsp_Write(services, kTwinPath, 1);
    KS_FUZZ_CHECK(layer.counts.writes == 0 && layer.counts.flushes == 0);
    KS_FUZZ_CHECK(twin == original && map == original);
    KS_FUZZ_CHECK(ui.messages.empty());

    const std::int16_t first = size > 0 && (data[0] & kOrderBit) != 0 ? 1 : 0;
    for (const std::int16_t index : {first, static_cast<std::int16_t>(1 - first)}) {
        layer.counts = {};
        ui.messages.clear();
        Trnsp_Write(services, fileSpec, index);

        KS_FUZZ_CHECK(map.size() == original.size() && twin == original);
        KS_FUZZ_CHECK(layer.counts.opens == layer.counts.closes);
        KS_FUZZ_CHECK(restarts == 0);
        if (!found) {
            KS_FUZZ_CHECK(layer.counts.writes == 0 && layer.counts.flushes == 0);
            KS_FUZZ_CHECK(map == original);
            // The probe has reported the file; only the emptied path of a non-IMG is reported again.
            KS_FUZZ_CHECK(probe.end == ProbeEnd::NotImg ? ui.messages == std::vector{kEmptyPathRefused}
                                                        : ui.messages.empty());
            continue;
        }
        KS_FUZZ_CHECK(ui.messages.empty());
        KS_FUZZ_CHECK(layer.counts.writes == 1 && layer.counts.flushes == 1);
        for (std::size_t i = 0; i < size; ++i) {
            KS_FUZZ_CHECK(i == flagAt || map[i] == original[i]);
        }
        const auto expected = SwitchedFlags(originalFlags, index != 0);
        KS_FUZZ_CHECK(static_cast<std::uint8_t>(map[flagAt] ^ probe.img.XorByte) == expected);
        KS_FUZZ_CHECK(((expected ^ originalFlags) & ~kTransparentBit) == 0);
    }
    return 0;
}
