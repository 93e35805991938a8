#include "img_container.h"

#include <limits>
#include <optional>

#include "platform/runtime_errors.h"

namespace ks::container {

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using platform::Message;
using platform::RunTimeError;

namespace {

constexpr std::uint32_t kMaskLong = 0x5B5B5B5BU;   // kMaskByte in all four bytes
constexpr std::uint16_t kMaskWord = 0x5B5BU;       // kMaskByte in both bytes

}  // namespace

std::int32_t NextEntry(std::int32_t fatPos)
{
    if (fatPos > std::numeric_limits<std::int32_t>::max() - kEntrySize) {
        platform::raise(platform::err::kOverflow);
    }
    return fatPos + kEntrySize;
}

bool ReadContainerHeader(MapReader& reader, ImgState& state)
{
    const auto signature = reader.read<std::uint32_t>(kSignatureOffset);
    if (signature == kDskiPlain) {
        state.XorByte = 0;
        state.XorWord = 0;
        state.XorLong = 0;
    } else if (signature == (kDskiPlain ^ kMaskLong)) {
        state.XorByte = kMaskByte;
        state.XorWord = kMaskWord;
        state.XorLong = kMaskLong;
    } else {
        return false;
    }
    const auto e1 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent1Offset) ^ state.XorByte);
    const auto e2 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent2Offset) ^ state.XorByte);
    const auto exponent = static_cast<std::uint8_t>(e1 + e2);  // wraps modulo 256 by design
    if (exponent > kLargestExponent) {
        platform::raise(platform::err::kOverflow);
    }
    state.BlockSize = static_cast<std::int32_t>(std::uint32_t{1} << exponent);
    state.FatEnd = static_cast<std::int32_t>(reader.read<std::uint32_t>(kFatEndOffset) ^ state.XorLong);
    return true;
}

std::optional<std::int32_t> NextTreEntry(MapReader& reader, ImgState& state, std::int32_t from, std::int64_t stopAt)
{
    const auto limit = static_cast<std::int32_t>(static_cast<std::uint32_t>(state.FatEnd) - 1U);
    for (state.FatPos = from; state.FatPos <= limit && state.FatPos < stopAt; state.FatPos = NextEntry(state.FatPos)) {
        const std::int64_t typeAt = std::int64_t{state.FatPos} + kEntryTypeOffset;
        if (reader.pastEnd(typeAt)) {
            break;  // this and every later type field would read as zero bytes
        }
        if (((reader.read<std::uint32_t>(typeAt) ^ state.XorLong) & kTypeMask) == kTypeTre) {
            return state.FatPos;
        }
    }
    return std::nullopt;
}

std::int32_t TreHeaderOffset(MapReader& reader, const ImgState& state, std::int32_t fatPos, std::int16_t& blockNr)
{
    blockNr = static_cast<std::int16_t>(reader.read<std::uint16_t>(std::int64_t{fatPos} + kEntryBlockOffset) ^
                                        state.XorWord);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(blockNr) *
                                     static_cast<std::uint32_t>(state.BlockSize));
}

std::optional<std::uint8_t> ReadTreFlags(MapReader& reader, const ImgState& state, std::int32_t treOffset)
{
    const std::int64_t header = treOffset;
    if ((reader.read<std::uint32_t>(header + kTreSignatureOffset) ^ state.XorLong) != kTreSignature ||
        reader.pastEnd(header + kTreFlagsOffset)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(reader.read<std::uint8_t>(header + kTreFlagsOffset) ^ state.XorByte);
}

LookupOutcome TreLookup(MapReader& reader, ImgState& state)
{
    if (!ReadContainerHeader(reader, state)) {
        return LookupOutcome::NotImg;
    }
    const auto entry = NextTreEntry(reader, state, kFirstEntryOffset);
    if (!entry) {
        return LookupOutcome::TreNotFound;
    }
    state.TreOffset = TreHeaderOffset(reader, state, *entry, state.BlockNr);
    const auto flags = ReadTreFlags(reader, state, state.TreOffset);
    if (!flags) {
        return LookupOutcome::TreBad;
    }
    state.TreFlags = *flags;
    return LookupOutcome::Found;
}

std::uint8_t SwitchedFlags(std::uint8_t flags, bool transparent)
{
    return transparent ? static_cast<std::uint8_t>(flags | kTransparentBit)
                       : static_cast<std::uint8_t>(flags & ~kTransparentBit);
}

void Trnsp_Read(Services& services, std::string& FileSpec, std::string& Kennung)
{
    platform::Ui& ui = services.platform.ui;
    ProbeState& probe = services.probe;
    probe.path = FileSpec;
    probe.end = ProbeEnd::OtherError;

    std::optional<LookupOutcome> outcome;
    std::optional<RunTimeError> error;
    try {
        const auto file = services.platform.files.openReadWrite(FileSpec);
        MapReader reader(*file);
        outcome = TreLookup(reader, probe.img);
    } catch (const RunTimeError& e) {
        error = e;
    }
    // The file is closed again before anything is shown.

    if (outcome) {
        switch (*outcome) {
        case LookupOutcome::Found:
            probe.end = ProbeEnd::Found;
            Kennung = (probe.img.TreFlags & kTransparentBit) != 0 ? kKennungTransparent : kKennungOpaque;
            return;
        case LookupOutcome::NotImg:
            probe.end = ProbeEnd::NotImg;
            ui.messageBox(Message{"Datei " + ui.toUpper(FileSpec) + " ist keine IMG  ", "F e h l e r",
                                  Icon::Warning, Buttons::Ok});
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
    const std::string question = "Kein Zugriff auf " + ui.toUpper(FileSpec) + "\r\n" +
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

    bool treMoved = false;
    std::optional<RunTimeError> error;
    try {
        const auto file = services.platform.files.openReadWrite(CurFile);
        if (!known) {
            return;  // only a file whose TRE header was just found is ever written
        }
        MapReader reader(*file);
        ImgState& img = services.probe.img;
        if (!ReadTreFlags(reader, img, img.TreOffset)) {
            treMoved = true;
        } else {
            img.TreFlags = SwitchedFlags(img.TreFlags, Index != 0);
            file->writeByteAt(static_cast<std::uint64_t>(std::int64_t{img.TreOffset} + kTreFlagsOffset),
                              static_cast<std::uint8_t>(img.TreFlags ^ img.XorByte));
            file->flush();
        }
    } catch (const RunTimeError& e) {
        error = e;
    }

    if (treMoved) {
        ui.messageBox(Message{"Fehler in TRE", "", Icon::None, Buttons::Ok});
    } else if (error && error->number() == platform::err::kFileNotFound) {
        ui.messageBox(Message{"Datei " + ui.toUpper(CurFile) + " nicht gefunden (not found)", "", Icon::None,
                              Buttons::Ok});
    } else if (error) {
        ui.messageBox(Message{"Fehler : " + std::to_string(error->number()), "", Icon::Warning, Buttons::Ok});
    }
}

}  // namespace ks::container
