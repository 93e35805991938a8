#include "img_container.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

#include "platform/text.h"

namespace ks::container {

using platform::Answer;
using platform::Buttons;
using platform::Failure;
using platform::Icon;
using platform::Message;
using platform::RunTimeError;

namespace {

constexpr std::uint32_t kMaskLong = 0x5B5B5B5BU;  // kMaskByte in all four bytes
constexpr std::uint16_t kMaskWord = 0x5B5BU;      // kMaskByte in both bytes

// Detects the mask and reads the block size and the directory end; false
// when the file is no IMG container.
bool ReadContainerHeader(MapReader& reader, ImgState& img)
{
    const auto signature = reader.read<std::uint32_t>(kSignatureOffset);
    if (signature == kDskiPlain) {
        img.XorByte = 0;
        img.XorWord = 0;
        img.XorLong = 0;
    } else if (signature == (kDskiPlain ^ kMaskLong)) {
        img.XorByte = kMaskByte;
        img.XorWord = kMaskWord;
        img.XorLong = kMaskLong;
    } else {
        return false;
    }
    const auto e1 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent1Offset) ^ img.XorByte);
    const auto e2 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent2Offset) ^ img.XorByte);
    const auto exponent = static_cast<std::uint8_t>(e1 + e2);  // wraps modulo 256 by design
    if (exponent > kLargestExponent) {
        throw RunTimeError(Failure::Overflow);
    }
    img.BlockSize = std::uint32_t{1} << exponent;
    img.FatEnd = static_cast<std::int32_t>(reader.read<std::uint32_t>(kFatEndOffset) ^ img.XorLong);
    return true;
}

// The decoded flag byte of a TRE header, given the bytes read from its
// start, or nothing when the " TRE" signature or the flag byte is missing.
std::optional<std::uint8_t> TreFlagsIn(std::span<const std::uint8_t> header, const ImgState& img)
{
    if (header.size() < kTreHeaderSpan ||
        (le::load<std::uint32_t>(header.subspan<kTreSignatureOffset, 4>()) ^ img.XorLong) != kTreSignature) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(header[kTreFlagsOffset] ^ img.XorByte);
}

std::optional<std::uint8_t> ReadTreFlags(MapReader& reader, const ImgState& img, std::uint64_t treOffset)
{
    if (reader.pastEnd(treOffset + kTreFlagsOffset)) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kTreHeaderSpan> header{};
    reader.readBytes(treOffset, header);
    return TreFlagsIn(header, img);
}

}  // namespace

std::size_t ContainerMaps::transparentMaps() const
{
    return static_cast<std::size_t>(std::count_if(maps.begin(), maps.end(), [](const MapEntry& map) {
        return map.transparent();
    }));
}

LookupOutcome FindMaps(MapReader& reader, ContainerMaps& found)
{
    found.maps.clear();
    ImgState& img = found.img;
    if (!ReadContainerHeader(reader, img)) {
        return LookupOutcome::NotImg;
    }
    const auto limit = static_cast<std::int32_t>(static_cast<std::uint32_t>(img.FatEnd) - 1U);
    // The directory lies before the data: the first TRE subfile found ends it,
    // however far FatEnd reaches (a TRE header read as an entry would look like one).
    std::uint64_t dataStart = UINT64_MAX;
    for (img.FatPos = kFirstEntryOffset; img.FatPos <= limit && static_cast<std::uint64_t>(img.FatPos) < dataStart;
         img.FatPos += kEntrySize) {
        const auto entry = static_cast<std::uint64_t>(img.FatPos);
        if (reader.pastEnd(entry + kEntryTypeOffset)) {
            break;  // this and every later type field would read as zero bytes
        }
        if (((reader.read<std::uint32_t>(entry + kEntryTypeOffset) ^ img.XorLong) & kTypeMask) != kTypeTre ||
            (reader.read<std::uint16_t>(entry + kEntryPartOffset) ^ img.XorWord) != 0) {
            continue;  // another subfile, or a later part of a TRE subfile
        }
        MapEntry map;
        map.FatPos = img.FatPos;
        map.BlockNr = static_cast<std::uint16_t>(reader.read<std::uint16_t>(entry + kEntryBlockOffset) ^ img.XorWord);
        map.TreOffset = std::uint64_t{map.BlockNr} * img.BlockSize;
        dataStart = std::min(dataStart, map.TreOffset);
        found.maps.push_back(map);
    }
    if (found.maps.empty()) {
        return LookupOutcome::TreNotFound;
    }
    const MapEntry& first = found.maps.front();
    img.FatPos = first.FatPos;
    img.BlockNr = first.BlockNr;
    img.TreOffset = first.TreOffset;
    // The headers are read after the walk, so that the directory is read in one sweep.
    for (MapEntry& map : found.maps) {
        const auto flags = ReadTreFlags(reader, img, map.TreOffset);
        if (!flags) {
            return LookupOutcome::TreBad;
        }
        map.TreFlags = *flags;
    }
    img.TreFlags = first.TreFlags;
    return LookupOutcome::Found;
}

std::uint8_t SwitchedFlags(std::uint8_t flags, bool transparent)
{
    return transparent ? static_cast<std::uint8_t>(flags | kTransparentBit)
                       : static_cast<std::uint8_t>(flags & ~kTransparentBit);
}

LookupOutcome SwitchMaps(platform::MapFile& file, const ContainerMaps& found, bool transparent, std::size_t& written)
{
    written = 0;
    std::vector<std::uint8_t> current;
    current.reserve(found.maps.size());
    for (const MapEntry& map : found.maps) {
        std::array<std::uint8_t, kTreHeaderSpan> header{};
        const std::size_t got = file.readAt(map.TreOffset, header);
        const auto flags = TreFlagsIn(std::span(header).first(got), found.img);
        if (!flags) {
            return LookupOutcome::TreBad;
        }
        current.push_back(*flags);
    }
    std::unordered_set<std::uint64_t> done;  // maps sharing one TRE subfile share its byte
    for (std::size_t i = 0; i < found.maps.size(); ++i) {
        const std::uint8_t flags = SwitchedFlags(current[i], transparent);
        if (flags != current[i] && done.insert(found.maps[i].flagOffset()).second) {
            file.writeByteAt(found.maps[i].flagOffset(), static_cast<std::uint8_t>(flags ^ found.img.XorByte));
            ++written;
        }
    }
    return LookupOutcome::Found;
}

std::string KennungOf(const ContainerMaps& found)
{
    const std::size_t transparent = found.transparentMaps();
    if (transparent == found.maps.size()) {
        return kKennungTransparent;
    }
    if (transparent == 0) {
        return kKennungOpaque;
    }
    return "  <T " + std::to_string(transparent) + "/" + std::to_string(found.maps.size()) + ">";
}

std::string Shown(const platform::Ui& ui, const std::string& path)
{
    return platform::escapeControls(path, platform::kEscapeBackslash, [&ui](const std::string& run) {
        return ui.toUpper(run);
    });
}

namespace {

// Opens path; when the process has no descriptor left, first puts the files
// waiting for their flush on the medium, which frees theirs.
std::unique_ptr<platform::MapFile> OpenMakingRoom(Services& services, const std::string& path, platform::OpenMode mode)
{
    try {
        return services.platform.files.open(path, mode);
    } catch (const RunTimeError& e) {
        if (e.failure() != Failure::TooManyFiles || services.pending == nullptr || services.pending->empty()) {
            throw;
        }
    }
    ReportFlushFailures(services.platform.ui, services.pending->flush());
    return services.platform.files.open(path, mode);
}

}  // namespace

void Trnsp_Read(Services& services, std::string& FileSpec, std::string& Kennung)
{
    platform::Ui& ui = services.platform.ui;
    ProbeState& probe = services.probe;
    probe.path = FileSpec;
    probe.end = ProbeEnd::OtherError;

    std::optional<LookupOutcome> outcome;
    std::optional<RunTimeError> error;
    try {
        const auto file = OpenMakingRoom(services, FileSpec, platform::OpenMode::Probe);
        MapReader reader(*file);
        outcome = FindMaps(reader, probe.found);
    } catch (const RunTimeError& e) {
        error = e;
    }
    // The file is closed again before anything is shown.

    if (outcome) {
        switch (*outcome) {
        case LookupOutcome::Found:
            probe.end = ProbeEnd::Found;
            Kennung = KennungOf(probe.found);
            return;
        case LookupOutcome::NotImg:
            probe.end = ProbeEnd::NotImg;
            ui.messageBox(Message{"Datei " + Shown(ui, FileSpec) + " ist keine IMG  ", "F e h l e r", Icon::Warning,
                                  Buttons::Ok});
            FileSpec.clear();
            Kennung = kKennungUnknown;
            return;
        case LookupOutcome::TreNotFound:
            probe.end = ProbeEnd::TreNotFound;
            ui.messageBox(Message{"TRE nicht gefunden", "", Icon::None, Buttons::Ok});
            Kennung = kKennungUnknown;
            return;
        case LookupOutcome::TreBad:
            probe.end = ProbeEnd::TreBad;
            ui.messageBox(Message{"Fehler in TRE", "", Icon::None, Buttons::Ok});
            Kennung = kKennungUnknown;
            return;
        }
    }

    if (error->number() != platform::err::kPathFileAccess) {
        ui.messageBox(Message{error->text(), "F e h l e r !", Icon::Warning, Buttons::Ok});
        Kennung = kKennungUnknown;
        return;
    }
    probe.end = ProbeEnd::AccessDenied;
    const std::string question = "Kein Zugriff auf " + Shown(ui, FileSpec) + "\r\n" +
                                 "Weiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ";
    if (ui.messageBox(Message{question, "Fehler ! (R-Attribut ??)", Icon::Critical, Buttons::OkCancel}) ==
        Answer::Ok) {
        Kennung = kKennungNoAccess;
    } else {
        if (services.restart) {
            services.restart();
        }
        Kennung = kKennungAbort;
    }
}

void Trnsp_Write(Services& services, const std::string& CurFile, std::int16_t Index)
{
    platform::Ui& ui = services.platform.ui;
    const ProbeState& probe = services.probe;
    // The probe has already reported these files; there is nothing to write.
    if (probe.end == ProbeEnd::TreNotFound || probe.end == ProbeEnd::TreBad || probe.end == ProbeEnd::OtherError) {
        return;
    }
    const bool known = probe.end == ProbeEnd::Found && probe.path == CurFile;

    LookupOutcome outcome = LookupOutcome::Found;
    std::optional<RunTimeError> error;
    std::size_t written = 0;
    try {
        auto file = OpenMakingRoom(services, CurFile, platform::OpenMode::Change);
        if (!known) {
            return;  // only a file whose maps were just found is ever written
        }
        try {
            outcome = SwitchMaps(*file, probe.found, Index != 0, written);
        } catch (const RunTimeError& e) {
            error = e;
        }
        if (written > 0) {
            file->finishWrites();
            if (services.pending != nullptr) {
                services.pending->add(std::move(file), CurFile);
                if (services.pending->full()) {
                    ReportFlushFailures(ui, services.pending->flush());
                }
            } else {
                platform::MapFile* const one[] = {file.get()};
                if (auto failed = services.platform.files.flush(one).front(); failed && !error) {
                    error = failed;
                }
            }
        }
    } catch (const RunTimeError& e) {
        error = e;
    }

    if (outcome == LookupOutcome::TreBad) {
        ui.messageBox(Message{"Fehler in TRE", "", Icon::None, Buttons::Ok});
    } else if (error && error->number() == platform::err::kFileNotFound) {
        ui.messageBox(Message{"Datei " + Shown(ui, CurFile) + " nicht gefunden (not found)", "", Icon::None,
                              Buttons::Ok});
    } else if (error && written > 0 && probe.found.maps.size() > 1) {
        ui.messageBox(Message{"Fehler : " + std::to_string(error->number()) + "\r\nDatei " + Shown(ui, CurFile) +
                                  " ist womöglich nur teilweise umgeschaltet (may be partly switched)",
                              "", Icon::Warning, Buttons::Ok});
    } else if (error) {
        ui.messageBox(Message{"Fehler : " + std::to_string(error->number()), "", Icon::Warning, Buttons::Ok});
    }
}

void ReportFlushFailures(platform::Ui& ui, const std::vector<FlushQueue::Failed>& failures)
{
    constexpr std::size_t kNamesShown = 10;
    // One box for each kind of failure, naming the files it concerns.
    std::vector<Failure> kinds;
    for (const auto& failed : failures) {
        if (std::find(kinds.begin(), kinds.end(), failed.error.failure()) == kinds.end()) {
            kinds.push_back(failed.error.failure());
        }
    }
    for (const Failure kind : kinds) {
        const RunTimeError error(kind);
        std::string prompt = "Fehler : " + std::to_string(error.number()) + "\r\n" + error.text() + ":\r\n";
        std::size_t named = 0;
        for (const auto& failed : failures) {
            if (failed.error.failure() == kind && named++ < kNamesShown) {
                prompt += Shown(ui, failed.path) + "\r\n";
            }
        }
        if (named > kNamesShown) {
            prompt += "... (" + std::to_string(named - kNamesShown) + " weitere / more)\r\n";
        }
        ui.messageBox(Message{prompt, "", Icon::Warning, Buttons::Ok});
    }
}

}  // namespace ks::container
