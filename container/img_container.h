// Garmin IMG containers: the lookup from the start of the file to the TRE
// flag byte, the probe that reports a file's transparency and the writer that
// rewrites that one byte.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "map_reader.h"
#include "platform/platform.h"

namespace ks::container {

// Container layout (0-based file offsets, little-endian, every value stored
// exclusive-or'd with the container's mask).
inline constexpr std::int64_t kSignatureOffset = 0x10;     // 4 bytes "DSKI", compared raw
inline constexpr std::int64_t kExponent1Offset = 0x61;     // 1 byte, block-size exponent E1
inline constexpr std::int64_t kExponent2Offset = 0x62;     // 1 byte, block-size exponent E2
inline constexpr std::int64_t kFatEndOffset = 0x40C;       // 4 bytes, end of the directory area
inline constexpr std::int32_t kFirstEntryOffset = 0x600;   // first directory entry
inline constexpr std::int32_t kEntrySize = 0x200;          // bytes per directory entry
inline constexpr std::int64_t kEntryTypeOffset = 9;        // 3 letters of the subfile type
inline constexpr std::int64_t kEntryBlockOffset = 0x20;    // 2 bytes, first block of the subfile
inline constexpr std::int64_t kTreSignatureOffset = 8;     // 4 bytes " TRE" in the TRE header
inline constexpr std::int64_t kTreFlagsOffset = 0x3F;      // 1 byte, the TRE flag byte

inline constexpr std::uint32_t kDskiPlain = 0x494B5344;      // "DSKI" read little-endian
inline constexpr std::uint8_t kMaskByte = 0x5B;              // the one mask a container may use
inline constexpr std::uint32_t kTypeMask = 0x00FFFFFF;       // keeps the three type letters
inline constexpr std::uint32_t kTypeTre = 0x455254;          // "TRE"
inline constexpr std::uint32_t kTreSignature = 0x45525420;   // " TRE"
inline constexpr std::uint8_t kTransparentBit = 0x02;        // set in the flag byte: transparent
inline constexpr int kLargestExponent = 30;                  // 2^31 no longer fits a block size

// What the last lookup found. Each field keeps its value until a later lookup
// overwrites it, also when that lookup stops early.
struct ImgState {
    std::uint8_t XorByte = 0;      // 0x00 plain, 0x5B masked
    std::uint32_t XorLong = 0;     // XorByte in all four bytes
    std::int32_t TreOffset = 0;    // offset of the TRE subfile header
    std::uint8_t TreFlags = 0;     // decoded TRE flag byte
    std::int32_t BlockSize = 0;    // container block size in bytes
    std::int32_t FatEnd = 0;       // first offset past the directory
    std::int32_t FatPos = 0;       // directory entry examined last; the TRE entry after a walk
    std::int16_t BlockNr = 0;      // first block of the TRE subfile
    std::uint16_t XorWord = 0;     // XorByte in both bytes
};

// How a lookup ended.
enum class LookupOutcome {
    Found,         // ImgState is complete
    NotImg,        // the signature matches neither form
    TreNotFound,   // no TRE entry in the directory
    TreBad,        // a TRE entry, but no " TRE" header or no flag byte where it points
};

// Runs the lookup on an open file, filling state as far as it gets. Throws
// RunTimeError 6 (overflow) or 63 (position before the start of the file).
LookupOutcome TreLookup(MapReader& reader, ImgState& state);

// The steps of the lookup, for walks that go on past the first TRE entry.
// Each throws RunTimeError 6 or 63 like the lookup.

// Detects the mask and reads the block size and the directory end into
// state; false when the file is no IMG container.
bool ReadContainerHeader(MapReader& reader, ImgState& state);
// The first TRE entry at or after the entry at `from` that the walk reaches
// before FatEnd, the end of the file and stopAt; state.FatPos follows the walk.
std::optional<std::int32_t> NextTreEntry(MapReader& reader, ImgState& state, std::int32_t from,
                                         std::int64_t stopAt = std::numeric_limits<std::int64_t>::max());
// The offset of the directory entry after the one at fatPos.
std::int32_t NextEntry(std::int32_t fatPos);
// The TRE header offset of the TRE entry at fatPos: its sign-extended first
// block number times the block size, wrapping in 32 bits.
std::int32_t TreHeaderOffset(MapReader& reader, const ImgState& state, std::int32_t fatPos, std::int16_t& blockNr);
// The decoded flag byte of the TRE header at treOffset, or nothing when the
// " TRE" signature or the flag byte is not there.
std::optional<std::uint8_t> ReadTreFlags(MapReader& reader, const ImgState& state, std::int32_t treOffset);

// The flag byte after making a map transparent (true) or opaque (false);
// every other bit keeps its value.
std::uint8_t SwitchedFlags(std::uint8_t flags, bool transparent);

// Status texts of a probe, appended to the file name in the list.
inline constexpr const char* kKennungTransparent = "  <T>";
inline constexpr const char* kKennungOpaque = "  < >";
inline constexpr const char* kKennungNoAccess = " Kein Zugriff möglich";
inline constexpr const char* kKennungUnknown = "  <?>";   // the probe reported a problem
inline constexpr const char* kKennungAbort = "ABBRUCH";   // the user cancelled the pass

// How the last probe ended, so that the writer acts only on what it found.
enum class ProbeEnd {
    None,          // no probe yet
    Found,
    NotImg,
    TreNotFound,
    TreBad,
    AccessDenied,  // run-time error 75, the user went on or cancelled
    OtherError,
};

// The state a probe leaves for the writer.
struct ProbeState {
    ImgState img;
    ProbeEnd end = ProbeEnd::None;
    std::string path;  // the path the last probe was given
};

// What the probe and the writer use around them.
struct Services {
    platform::Platform& platform;
    ProbeState& probe;
    std::function<void()> restart;  // empties the window; run when the user cancels
};

// Probes the file at FileSpec: reports every problem in a message box and
// sets Kennung to the file's status text. FileSpec becomes empty when the file
// is not an IMG container. Never throws a RunTimeError.
void Trnsp_Read(Services& services, std::string& FileSpec, std::string& Kennung);

// Makes the file just probed at CurFile transparent (Index != 0) or opaque
// (Index == 0) by rewriting its one flag byte, and waits until it is on the
// medium. Writes nothing unless the probe found that file's TRE header.
// Never throws a RunTimeError.
void Trnsp_Write(Services& services, const std::string& CurFile, std::int16_t Index);

}  // namespace ks::container
