#include "multi_map.h"

#include <algorithm>
#include <concepts>
#include <limits>
#include <unordered_set>

#include "platform/runtime_errors.h"

namespace ks::container {

namespace {

constexpr std::int64_t kEntryNameOffset = 1;  // 8 bytes, the subfile's name

// byte repeated in every byte of a T.
template <std::unsigned_integral T>
constexpr T spread(std::uint8_t byte)
{
    return static_cast<T>(std::numeric_limits<T>::max() / 0xFFU * byte);
}

// Offset of the entry after the one at fatPos; overflow is a run-time error.
std::int32_t nextEntry(std::int32_t fatPos)
{
    if (fatPos > std::numeric_limits<std::int32_t>::max() - kEntrySize) {
        platform::raise(platform::err::kOverflow);
    }
    return fatPos + kEntrySize;
}

}  // namespace

LookupOutcome FindMaps(MapReader& reader, ContainerMaps& result)
{
    result.maps.clear();
    const auto signature = reader.read<std::uint32_t>(kSignatureOffset);
    if (signature == kDskiPlain) {
        result.XorByte = 0;
    } else if (signature == (kDskiPlain ^ spread<std::uint32_t>(kMaskByte))) {
        result.XorByte = kMaskByte;
    } else {
        return LookupOutcome::NotImg;
    }
    const std::uint8_t xorByte = result.XorByte;
    const auto xorWord = spread<std::uint16_t>(xorByte);
    const auto xorLong = spread<std::uint32_t>(xorByte);
    const auto xorQuad = spread<std::uint64_t>(xorByte);

    const auto e1 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent1Offset) ^ xorByte);
    const auto e2 = static_cast<std::uint8_t>(reader.read<std::uint8_t>(kExponent2Offset) ^ xorByte);
    const auto exponent = static_cast<std::uint8_t>(e1 + e2);  // wraps modulo 256 like the lookup's
    if (exponent > kLargestExponent) {
        platform::raise(platform::err::kOverflow);
    }
    result.BlockSize = static_cast<std::int32_t>(std::uint32_t{1} << exponent);

    result.FatEnd = static_cast<std::int32_t>(reader.read<std::uint32_t>(kFatEndOffset) ^ xorLong);
    const auto limit = static_cast<std::int32_t>(static_cast<std::uint32_t>(result.FatEnd) - 1U);
    std::unordered_set<std::uint64_t> names;
    // Where the first listed TRE subfile begins: the directory lies before
    // the data, so once a map is found the walk ends there even when FatEnd
    // reaches further (a TRE header read as an entry would look like one).
    std::int64_t dataStart = std::numeric_limits<std::int64_t>::max();
    for (std::int32_t fatPos = kFirstEntryOffset; fatPos <= limit; fatPos = nextEntry(fatPos)) {
        if (fatPos >= dataStart) {
            break;
        }
        const std::int64_t typeAt = std::int64_t{fatPos} + kEntryTypeOffset;
        if (reader.pastEnd(typeAt)) {
            break;  // this and every later type field would read as zero bytes
        }
        if (((reader.read<std::uint32_t>(typeAt) ^ xorLong) & kTypeMask) != kTypeTre) {
            continue;
        }
        const std::uint64_t name = reader.read<std::uint64_t>(std::int64_t{fatPos} + kEntryNameOffset) ^ xorQuad;
        if (!names.insert(name).second) {
            continue;  // a later part of a TRE subfile already listed
        }
        MapEntry map;
        map.name = name;
        map.FatPos = fatPos;
        map.BlockNr = static_cast<std::int16_t>(
            reader.read<std::uint16_t>(std::int64_t{fatPos} + kEntryBlockOffset) ^ xorWord);
        // Sign-extended block number times block size, wrapping in 32 bits.
        map.TreOffset = static_cast<std::int32_t>(static_cast<std::uint32_t>(map.BlockNr) *
                                                  static_cast<std::uint32_t>(result.BlockSize));
        dataStart = std::min(dataStart, std::int64_t{map.TreOffset});
        result.maps.push_back(map);
    }
    if (result.maps.empty()) {
        return LookupOutcome::TreNotFound;
    }

    // The headers are read after the walk so that the directory is read in one sweep.
    for (MapEntry& map : result.maps) {
        const std::int64_t header = map.TreOffset;
        if ((reader.read<std::uint32_t>(header + kTreSignatureOffset) ^ xorLong) != kTreSignature ||
            reader.pastEnd(header + kTreFlagsOffset)) {
            return LookupOutcome::TreBad;
        }
        map.TreFlags = static_cast<std::uint8_t>(reader.read<std::uint8_t>(header + kTreFlagsOffset) ^ xorByte);
    }
    return LookupOutcome::Found;
}

}  // namespace ks::container
