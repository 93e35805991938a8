#include "families.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "img_container.h"
#include "platform/text.h"

namespace ks::container {

namespace {

// Fields of an L or F record, from the start of its body.
constexpr std::size_t kProductIdAt = 0;  // 2 bytes
constexpr std::size_t kFamilyIdAt = 2;   // 2 bytes
constexpr std::size_t kMapNumberAt = 4;  // 4 bytes, L only; the three strings follow
constexpr std::size_t kFamilyNameAt = 4;  // F only
constexpr std::size_t kHexNumberSize = 4;  // after an L record's strings

// Unicode code points of Windows-1252's bytes 0x80 to 0x9F; the five bytes
// it leaves open stand for the C1 controls of the same number.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads the zero-terminated string at at within body and moves at past its
// terminator; nothing when body ends before one.
std::optional<std::string> TakeString(std::span<const std::uint8_t> body, std::size_t& at)
{
    const auto end = std::find(body.begin() + static_cast<std::ptrdiff_t>(std::min(at, body.size())), body.end(), 0);
    if (at > body.size() || end == body.end()) {
        return std::nullopt;
    }
    const auto stop = static_cast<std::size_t>(end - body.begin());
    std::string text(reinterpret_cast<const char*>(body.data()) + at, stop - at);
    at = stop + 1;
    return TextFromCodePage(text);
}

template <std::unsigned_integral T>
T Field(std::span<const std::uint8_t> body, std::size_t at)
{
    return le::load<T>(body.subspan(at).first<sizeof(T)>());
}

std::string EightDigits(std::uint32_t value, bool hex)
{
    std::string digits(kEntryNameSize, '0');
    const std::uint32_t base = hex ? 16 : 10;
    for (std::size_t i = kEntryNameSize; i-- > 0 && value != 0; value /= base) {
        digits[i] = "0123456789ABCDEF"[value % base];
    }
    return value == 0 ? digits : std::string{};  // a decimal number of nine digits has no such name
}

std::string UpperAscii(std::string text)
{
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

}  // namespace

std::string_view MpsOutcomeText(MpsOutcome outcome)
{
    switch (outcome) {
    case MpsOutcome::Read: return "read";
    case MpsOutcome::NoMps: return "no MPS subfile";
    case MpsOutcome::CutShort: return "MPS cut short";
    case MpsOutcome::RecordTooLong: return "MPS record longer than the subfile";
    case MpsOutcome::PastEnd: return "MPS block past the end of the file";
    case MpsOutcome::BlockLoop: return "MPS block list loops";
    case MpsOutcome::TooLarge: return "MPS too large";
    case MpsOutcome::DuplicateMap: return "map number twice in MPS";
    }
    return "?";
}

std::string TextFromCodePage(std::string_view text)
{
    if (platform::isValidUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte);
    }
    return out;
}

MpsPart ReadMpsPart(MapReader& reader, const ImgState& img, std::uint64_t entry)
{
    std::array<std::uint8_t, kEntrySize> bytes{};
    reader.readBytes(entry, bytes);
    const auto word = [&](std::uint64_t at) {
        return static_cast<std::uint16_t>(le::load<std::uint16_t>(std::span(bytes).subspan(at).first<2>()) ^ img.XorWord);
    };
    MpsPart part;
    part.number = word(kEntryPartOffset);
    for (std::size_t i = 0; i < kEntryNameSize; ++i) {
        part.name += static_cast<char>(bytes[kEntryNameOffset + i] ^ img.XorByte);
    }
    part.size = le::load<std::uint32_t>(std::span(bytes).subspan<kEntrySizeOffset, 4>()) ^ img.XorLong;
    for (std::size_t i = 0; i < kEntryBlockCount && word(kEntryBlockOffset + 2 * i) != kBlockListEnd; ++i) {
        part.blocks.push_back(word(kEntryBlockOffset + 2 * i));
    }
    return part;
}

MpsOutcome ReadMpsBytes(MapReader& reader, const ImgState& img, std::vector<MpsPart> parts,
                        std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    if (parts.empty()) {
        return MpsOutcome::NoMps;
    }
    const std::string name = parts.front().name;
    std::erase_if(parts, [&](const MpsPart& part) { return part.name != name; });
    std::stable_sort(parts.begin(), parts.end(), [](const MpsPart& a, const MpsPart& b) { return a.number < b.number; });
    if (parts.front().number != 0) {
        return MpsOutcome::CutShort;  // the part that gives the size is missing
    }
    const std::uint32_t size = parts.front().size;
    if (size > kLargestMps) {
        return MpsOutcome::TooLarge;
    }
    std::unordered_set<std::uint16_t> seen;
    std::vector<std::uint8_t> chunk;
    for (const MpsPart& part : parts) {
        for (std::size_t i = 0; i < part.blocks.size() && bytes.size() < size; ++i) {
            if (!seen.insert(part.blocks[i]).second) {
                return MpsOutcome::BlockLoop;
            }
            const std::uint64_t offset = std::uint64_t{part.blocks[i]} * img.BlockSize;
            const std::size_t length = std::min<std::size_t>(img.BlockSize, size - bytes.size());
            if (reader.pastEnd(offset + length - 1)) {
                return MpsOutcome::PastEnd;
            }
            // In pieces that never cross a window boundary, so that the reader's window holds each.
            for (std::size_t done = 0; done < length; done += chunk.size()) {
                chunk.resize(std::min<std::size_t>(length - done, MapReader::kWindowSize -
                                                                      (offset + done) % MapReader::kWindowSize));
                reader.readBytes(offset + done, chunk);
                bytes.insert(bytes.end(), chunk.begin(), chunk.end());
            }
        }
    }
    return bytes.size() < size ? MpsOutcome::CutShort : MpsOutcome::Read;
}

MpsOutcome ParseMps(std::span<const std::uint8_t> bytes, MpsRecords& records)
{
    records = MpsRecords{};
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t left = bytes.size() - at;
        if (bytes[at] == 0) {
            break;  // the zero bytes that fill the subfile's last block
        }
        if (left < kRecordHead) {
            return MpsOutcome::CutShort;
        }
        const std::uint8_t type = bytes[at];
        const auto length = le::load<std::uint16_t>(bytes.subspan(at + 1).first<2>());
        if (length > left - kRecordHead) {
            return MpsOutcome::RecordTooLong;
        }
        const auto body = bytes.subspan(at + kRecordHead, length);
        at += kRecordHead + length;
        if (type == kMapRecord) {
            MpsRecords::Map map;
            std::size_t field = kMapNumberAt + 4;
            if (body.size() < field) {
                return MpsOutcome::CutShort;
            }
            map.family.productId = Field<std::uint16_t>(body, kProductIdAt);
            map.family.familyId = Field<std::uint16_t>(body, kFamilyIdAt);
            map.family.mapNumber = Field<std::uint32_t>(body, kMapNumberAt);
            const auto series = TakeString(body, field);
            auto description = series ? TakeString(body, field) : std::nullopt;
            const auto area = description ? TakeString(body, field) : std::nullopt;
            if (!area || body.size() - field < kHexNumberSize) {
                return MpsOutcome::CutShort;
            }
            map.family.description = std::move(*description);
            map.hexNumber = Field<std::uint32_t>(body, field);
            records.maps.push_back(std::move(map));
        } else if (type == kFamilyRecord) {
            std::size_t field = kFamilyNameAt;
            auto name = body.size() >= field ? TakeString(body, field) : std::nullopt;
            if (!name) {
                return MpsOutcome::CutShort;
            }
            records.families.push_back(
                {Field<std::uint16_t>(body, kProductIdAt), Field<std::uint16_t>(body, kFamilyIdAt), std::move(*name)});
        }
    }
    std::unordered_set<std::uint32_t> numbers;
    for (const MpsRecords::Map& map : records.maps) {
        if (!numbers.insert(map.family.mapNumber).second) {
            return MpsOutcome::DuplicateMap;
        }
    }
    return MpsOutcome::Read;
}

MpsOutcome MatchMaps(const MpsRecords& records, std::span<const std::string> names,
                     std::vector<std::optional<MapFamily>>& families)
{
    families.assign(names.size(), std::nullopt);
    std::unordered_map<std::string, const MpsRecords::Map*> byDecimal, byHex;
    for (const MpsRecords::Map& map : records.maps) {
        byDecimal.emplace(EightDigits(map.family.mapNumber, false), &map);
        byHex.emplace(EightDigits(map.hexNumber, true), &map);
    }
    std::unordered_map<std::uint32_t, const std::string*> familyNames;  // by product and family id
    for (const MpsRecords::Family& family : records.families) {
        familyNames.emplace(std::uint32_t{family.productId} << 16 | family.familyId, &family.name);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string name = UpperAscii(names[i]);
        const bool decimal = name.size() == kEntryNameSize &&
                             std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
        const auto& index = decimal ? byDecimal : byHex;
        const auto record = name.size() == kEntryNameSize ? index.find(name) : index.end();
        if (record == index.end()) {
            continue;
        }
        MapFamily family = record->second->family;
        const auto named = familyNames.find(std::uint32_t{family.productId} << 16 | family.familyId);
        if (named != familyNames.end()) {
            family.familyName = *named->second;
        }
        families[i] = std::move(family);
    }
    return MpsOutcome::Read;
}

MpsOutcome ReadFamilies(MapReader& reader, const ImgState& img, std::vector<MpsPart> mpsParts,
                        std::span<const std::string> names, std::vector<std::optional<MapFamily>>& families)
{
    families.assign(names.size(), std::nullopt);
    std::vector<std::uint8_t> bytes;
    MpsRecords records;
    MpsOutcome outcome = ReadMpsBytes(reader, img, std::move(mpsParts), bytes);
    if (outcome == MpsOutcome::Read) {
        for (std::uint8_t& byte : bytes) {
            byte ^= img.XorByte;
        }
        outcome = ParseMps(bytes, records);
    }
    return outcome == MpsOutcome::Read ? MatchMaps(records, names, families) : outcome;
}

std::vector<FamilyGroup> FamilyGroups(const ContainerMaps& found)
{
    std::vector<FamilyGroup> groups;
    for (std::size_t i = 0; i < found.maps.size(); ++i) {
        const std::optional<MapFamily>& family = found.maps[i].family;
        const auto id = family ? std::optional(family->familyId) : std::nullopt;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const FamilyGroup& g) { return g.familyId == id; });
        if (group == groups.end()) {
            group = groups.insert(groups.end(), FamilyGroup{id, family ? family->familyName : "", {}});
        }
        group->maps.push_back(i);
    }
    return groups;
}

bool HasFamilies(const ContainerMaps& found)
{
    const auto differs = [&](const MapEntry& map) {
        return (map.family ? std::optional(map.family->familyId) : std::nullopt) !=
               (found.maps.front().family ? std::optional(found.maps.front().family->familyId) : std::nullopt);
    };
    return !found.maps.empty() && std::any_of(found.maps.begin(), found.maps.end(), differs);
}

ContainerMaps OnlyMaps(const ContainerMaps& found, std::span<const std::size_t> maps)
{
    ContainerMaps only = found;
    only.maps.clear();
    for (const std::size_t i : maps) {
        only.maps.push_back(found.maps.at(i));
    }
    return only;
}

}  // namespace ks::container
