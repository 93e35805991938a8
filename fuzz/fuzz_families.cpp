// libFuzzer target: the family reader on the input bytes, once as the bytes
// of an MPS subfile and once as a whole container held in memory. Aborts
// when a reading that fails still hands out families, when a family's texts
// are not valid UTF-8, when two maps that were read carry one map number, or
// when a name made from a record's number does not find that record.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "container/img_container.h"
#include "fuzz_check.h"
#include "platform/text.h"

namespace {

using namespace ks::container;
using Bytes = std::vector<std::uint8_t>;

// The input held in memory; never written.
class ReadOnlyFile final : public ks::platform::MapFile {
public:
    explicit ReadOnlyFile(const Bytes& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        const std::size_t n = offset < bytes_.size() ? std::min<std::size_t>(out.size(), bytes_.size() - offset) : 0;
        std::memcpy(out.data(), bytes_.data() + offset, n);
        return n;
    }
    void writeByteAt(std::uint64_t, std::uint8_t) override { KS_FUZZ_CHECK(false); }
    void finishWrites() override {}

private:
    const Bytes& bytes_;
};

void CheckFamilies(MpsOutcome end, const std::vector<std::optional<MapFamily>>& families)
{
    for (const auto& family : families) {
        KS_FUZZ_CHECK(end == MpsOutcome::Read || !family);
        KS_FUZZ_CHECK(!family || (ks::platform::isValidUtf8(family->familyName) &&
                                  ks::platform::isValidUtf8(family->description)));
    }
}

// The bytes as an MPS subfile: every record read is found again by its number.
void AsRecords(const Bytes& bytes)
{
    MpsRecords records;
    if (ParseMps(bytes, records) != MpsOutcome::Read) {
        return;
    }
    std::unordered_set<std::uint32_t> numbers;
    std::vector<std::string> names;
    for (const MpsRecords::Map& map : records.maps) {
        KS_FUZZ_CHECK(numbers.insert(map.family.mapNumber).second);
        char name[16];
        std::snprintf(name, sizeof name, "%08u", map.family.mapNumber);
        names.emplace_back(name);
    }
    std::vector<std::optional<MapFamily>> families;
    CheckFamilies(MatchMaps(records, names, families), families);
    for (std::size_t i = 0; i < names.size(); ++i) {
        KS_FUZZ_CHECK(names[i].size() != kEntryNameSize || (families[i] && families[i]->mapNumber == records.maps[i].family.mapNumber));
    }
}

// The bytes as a container: the walk, which reads the families too.
void AsContainer(const Bytes& bytes)
{
    ReadOnlyFile file(bytes);
    MapReader reader(file);
    ContainerMaps found;
    try {
        if (FindMaps(reader, found) != LookupOutcome::Found || found.kind != MapFileKind::Container) {
            return;
        }
        for (const MapEntry& map : found.maps) {
            KS_FUZZ_CHECK(found.mps == MpsOutcome::Read || !map.family);
            KS_FUZZ_CHECK(!map.family || (ks::platform::isValidUtf8(map.family->familyName) &&
                                          ks::platform::isValidUtf8(map.family->description)));
        }
        const auto groups = FamilyGroups(found);
        KS_FUZZ_CHECK(HasFamilies(found) == (groups.size() >= 2));
    } catch (const ks::platform::RunTimeError&) {
        // an overflowing block size; the walk's own fuzzer checks those
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes bytes(data, data + size);
    AsRecords(bytes);
    AsContainer(bytes);
    return 0;
}
