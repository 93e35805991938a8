// imgflag as its users meet it: the exact report, the messages, the exit
// status and the bytes and timestamps on disk afterwards.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/imgflag.h"
#include "support/disk.h"
#include "support/memory_files.h"
#include "support/tile_builder.h"

namespace ks::cli {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::TileBuilder;
using Offsets = std::vector<std::size_t>;

// Flag bytes of the mkgmap samples (see tests/data/make_tiles.sh).
constexpr std::size_t kTileFlag = 0xE3F;         // opaque.img and transparent.img
constexpr std::size_t kBigBlockFlag = 0x203F;    // bigblock.img
constexpr std::size_t kPairOpaqueFlag = 0x1A3F;  // gmapsupp.img, map 63240011
constexpr std::size_t kPairTransparentFlag = 0x223F;  // gmapsupp.img, map 63240012
constexpr std::size_t kPairSecondTreHeader = 0x2200;

const char* const kSamples[] = {"bigblock.img", "gmapsupp.img", "opaque.img", "transparent.img"};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs imgflag with args on the real file system.
Outcome imgflag(std::vector<std::string> args)
{
    args.insert(args.begin(), "imgflag");
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, out, err);
    return {status, out.str(), err.str()};
}

// Runs imgflag with args on files held in memory.
Outcome imgflag(std::vector<std::string> args, platform::FileLayer& files)
{
    args.insert(args.begin(), "imgflag");
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, out, err, files);
    return {status, out.str(), err.str()};
}

// The bytes and modification time of a file, to compare before and after.
struct Snapshot {
    Bytes bytes;
    fs::file_time_type mtime;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const std::string& path) { return {testing::readFile(path), fs::last_write_time(path)}; }

class ImgflagTest : public ::testing::Test {
public:
    // Copies a sample into the temporary folder (or its subfolder) and dates
    // it back a day, so that any write shows in its timestamp.
    std::string copy(const std::string& sample, const std::string& as = "")
    {
        const std::string path = dir.file(as.empty() ? sample : as);
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(testing::sampleFile(sample), path, fs::copy_options::overwrite_existing);
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24));
        return path;
    }
    std::string put(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.file(name);
        testing::writeFile(path, bytes);
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24));
        return path;
    }
    std::string folder() const { return dir.file(""); }

    testing::TempDir dir;
};

// ---- Status ----------------------------------------------------------------------------

TEST_F(ImgflagTest, StatusOfTheMkgmapTilesInAFolder)
{
    std::vector<Snapshot> before;
    for (const char* sample : {"transparent.img", "gmapsupp.img", "opaque.img", "bigblock.img"}) {
        copy(sample);
    }
    for (const char* sample : kSamples) {
        before.push_back(snapshot(dir.file(sample)));
    }
    const std::string d = dir.path();

    const Outcome o = imgflag({"status", d});

    EXPECT_EQ(o.out, "opaque\t" + d + "bigblock.img\n"
                     "mixed 1/2 transparent\t" + d + "gmapsupp.img\n"
                     "opaque\t" + d + "opaque.img\n"
                     "transparent\t" + d + "transparent.img\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, kExitOk) << "a mixed container is still a map";
    for (std::size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(snapshot(dir.file(kSamples[k])), before[k]) << kSamples[k];
    }
}

// ---- Switching the mkgmap tiles --------------------------------------------------------

struct SwitchCase {
    const char* name;
    const char* command;
    const char* sample;
    const char* state;    // the STATE column
    const char* change;   // the third column
    Offsets changed;      // offsets whose byte changes
    std::vector<std::pair<std::size_t, std::uint8_t>> bytesAfter;  // flag bytes afterwards
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class SwitchTest : public ImgflagTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, RewritesOnlyTheFlagBytesThatChange)
{
    const SwitchCase& c = GetParam();
    const std::string path = copy(c.sample);
    const Snapshot before = snapshot(path);

    const Outcome o = imgflag({c.command, path});

    const std::string state = c.state;
    EXPECT_EQ(o.out, state + "\t" + path + "\t" + c.change + "\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, kExitOk);
    const Snapshot after = snapshot(path);
    EXPECT_EQ(after.bytes.size(), before.bytes.size());
    EXPECT_EQ(testing::differingOffsets(before.bytes, after.bytes), c.changed);
    for (const auto& [offset, value] : c.bytesAfter) {
        EXPECT_EQ(after.bytes[offset], value) << "at 0x" << std::hex << offset;
    }
    if (c.changed.empty()) {
        EXPECT_EQ(after.mtime, before.mtime) << "a file that keeps its bit is not written";
    } else {
        EXPECT_NE(after.mtime, before.mtime);
    }

    const Outcome again = imgflag({"status", path});
    EXPECT_EQ(again.out, state + "\t" + path + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Mkgmap, SwitchTest,
    ::testing::Values(
        SwitchCase{"OpaqueMadeTransparent", "transparent", "opaque.img", "transparent", "changed", {kTileFlag},
                   {{kTileFlag, 0x03}}},
        SwitchCase{"OpaqueMadeOpaque", "opaque", "opaque.img", "opaque", "unchanged", {}, {{kTileFlag, 0x01}}},
        SwitchCase{"TransparentMadeOpaque", "opaque", "transparent.img", "opaque", "changed", {kTileFlag},
                   {{kTileFlag, 0x01}}},
        SwitchCase{"TransparentMadeTransparent", "transparent", "transparent.img", "transparent", "unchanged", {},
                   {{kTileFlag, 0x03}}},
        SwitchCase{"BigBlockMadeTransparent", "transparent", "bigblock.img", "transparent", "changed",
                   {kBigBlockFlag}, {{kBigBlockFlag, 0x03}}},
        SwitchCase{"PairMadeTransparent", "transparent", "gmapsupp.img", "transparent", "changed",
                   {kPairOpaqueFlag}, {{kPairOpaqueFlag, 0x03}, {kPairTransparentFlag, 0x03}}},
        SwitchCase{"PairMadeOpaque", "opaque", "gmapsupp.img", "opaque", "changed", {kPairTransparentFlag},
                   {{kPairOpaqueFlag, 0x01}, {kPairTransparentFlag, 0x01}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImgflagTest, APairIsMixedUntilBothMapsAgree)
{
    const std::string path = copy("gmapsupp.img");
    EXPECT_EQ(imgflag({"status", path}).out, "mixed 1/2 transparent\t" + path + "\n");
    EXPECT_EQ(imgflag({"transparent", path}).out, "transparent\t" + path + "\tchanged\n");
    EXPECT_EQ(imgflag({"status", path}).out, "transparent\t" + path + "\n");
    EXPECT_EQ(imgflag({"opaque", path}).out, "opaque\t" + path + "\tchanged\n");
    EXPECT_EQ(imgflag({"status", path}).out, "opaque\t" + path + "\n");
    const Bytes original = testing::readFile(testing::sampleFile("gmapsupp.img"));
    EXPECT_EQ(testing::differingOffsets(original, testing::readFile(path)), Offsets{kPairTransparentFlag});
}

// ---- Dry run -----------------------------------------------------------------------------

TEST_F(ImgflagTest, ADryRunReportsTheChangesAndWritesNothing)
{
    for (const char* sample : kSamples) {
        copy(sample);
    }
    std::vector<Snapshot> before;
    for (const char* sample : kSamples) {
        before.push_back(snapshot(dir.file(sample)));
    }
    const std::string d = dir.path();

    const Outcome t = imgflag({"transparent", "--dry-run", d});
    EXPECT_EQ(t.out, "transparent\t" + d + "bigblock.img\tchanged\n"
                     "transparent\t" + d + "gmapsupp.img\tchanged\n"
                     "transparent\t" + d + "opaque.img\tchanged\n"
                     "transparent\t" + d + "transparent.img\tunchanged\n");
    EXPECT_EQ(t.err, "imgflag: dry run, nothing was written\n");
    EXPECT_EQ(t.status, kExitOk);

    const Outcome o = imgflag({"--dry-run", "opaque", d});
    EXPECT_EQ(o.out, "opaque\t" + d + "bigblock.img\tunchanged\n"
                     "opaque\t" + d + "gmapsupp.img\tchanged\n"
                     "opaque\t" + d + "opaque.img\tunchanged\n"
                     "opaque\t" + d + "transparent.img\tchanged\n");
    EXPECT_EQ(o.status, kExitOk);

    for (std::size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(snapshot(dir.file(kSamples[k])), before[k]) << kSamples[k] << ": bytes and timestamp stay";
    }
}

// ---- JSON ----------------------------------------------------------------------------------

TEST_F(ImgflagTest, JsonCarriesTheSameReport)
{
    copy("gmapsupp.img");
    copy("opaque.img");
    put("readme.txt", Bytes(3000, 'x'));
    const std::string d = dir.path();

    const Outcome o = imgflag({"--json", "transparent", d});

    EXPECT_EQ(o.status, kExitProblem);
    EXPECT_EQ(o.err, "");
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_EQ(doc["command"], "transparent");
    EXPECT_EQ(doc["dry_run"], false);
    const auto expected = nlohmann::json::parse(R"([
        {"path": "DIR/gmapsupp.img", "state": "transparent", "maps": 2, "transparent_maps": 2, "change": "changed"},
        {"path": "DIR/opaque.img", "state": "transparent", "maps": 1, "transparent_maps": 1, "change": "changed"},
        {"path": "DIR/readme.txt", "state": "not-img"}
    ])");
    nlohmann::json files = doc["files"];
    for (auto& entry : files) {
        const std::string path = entry["path"];
        ASSERT_EQ(path.rfind(d, 0), 0U) << path;
        entry["path"] = "DIR/" + path.substr(d.size());
    }
    EXPECT_EQ(files, expected);
}

TEST_F(ImgflagTest, JsonStatusGivesTheCountsOfAMixedContainer)
{
    const std::string pair = copy("gmapsupp.img");
    const std::string missing = dir.file("weg.img");

    const Outcome o = imgflag({"status", pair, missing, "--json"});

    EXPECT_EQ(o.status, kExitProblem);
    EXPECT_EQ(o.err, "imgflag: " + missing + ": file not found\n");
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_EQ(doc["command"], "status");
    ASSERT_EQ(doc["files"].size(), 2U);
    EXPECT_EQ(doc["files"][0],
              (nlohmann::json{{"path", pair}, {"state", "mixed"}, {"maps", 2}, {"transparent_maps", 1}}));
    EXPECT_EQ(doc["files"][1], (nlohmann::json{{"path", missing}, {"state", "error"}, {"message", "file not found"}}));
    EXPECT_FALSE(fs::exists(missing)) << "imgflag never creates a file";
}

// ---- Folders with things that are not maps ---------------------------------------------

TEST_F(ImgflagTest, AFolderWithATextFileAndAReadOnlyMap)
{
    const std::string text = put("a-notes.txt", Bytes(700, 'n'));
    const std::string locked = copy("opaque.img", "b-locked.img");
    testing::makeReadOnly(locked);
    const std::string open = copy("opaque.img", "c-open.img");
    const Snapshot textBefore = snapshot(text);
    const Snapshot lockedBefore = snapshot(locked);
    const Bytes openBefore = testing::readFile(open);

    const Outcome o = imgflag({"transparent", folder()});

    EXPECT_EQ(o.out, "not-img\t" + text + "\n"
                     "no-access\t" + locked + "\n"
                     "transparent\t" + open + "\tchanged\n");
    EXPECT_EQ(o.err, "imgflag: " + locked + ": cannot be opened for writing (read-only?)\n");
    EXPECT_EQ(o.status, kExitProblem);
    EXPECT_EQ(snapshot(text), textBefore);
    EXPECT_EQ(snapshot(locked), lockedBefore) << "a read-only map stays untouched, also for root";
    EXPECT_EQ(testing::differingOffsets(openBefore, testing::readFile(open)), Offsets{kTileFlag});
}

TEST_F(ImgflagTest, QuietPrintsOnlyTheProblems)
{
    const std::string text = put("a-notes.txt", Bytes(700, 'n'));
    const std::string map = copy("opaque.img");

    const Outcome o = imgflag({"-q", "transparent", folder()});

    EXPECT_EQ(o.out, "not-img\t" + text + "\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, kExitProblem);
    EXPECT_EQ(testing::readFile(map)[kTileFlag], 0x03) << "quiet still switches";

    const Outcome clean = imgflag({"status", map, "--quiet"});
    EXPECT_EQ(clean.out, "");
    EXPECT_EQ(clean.status, kExitOk);
}

struct ProblemCase {
    const char* name;
    std::function<Bytes()> bytes;  // called in the test: the samples are found only then
    const char* state;
    const char* message;  // on stderr after "imgflag: PATH: "; empty for none
};

void PrintTo(const ProblemCase& c, std::ostream* os) { *os << c.name; }

class ProblemTest : public ImgflagTest, public ::testing::WithParamInterface<ProblemCase> {};

TEST_P(ProblemTest, IsReportedAndTheFileLeftAlone)
{
    const ProblemCase& c = GetParam();
    const std::string path = put("tile.img", c.bytes());
    const Snapshot before = snapshot(path);
    for (const char* command : {"status", "transparent", "opaque"}) {
        SCOPED_TRACE(command);
        const Outcome o = imgflag({command, path});
        EXPECT_EQ(o.out, std::string(c.state) + "\t" + path + "\n");
        EXPECT_EQ(o.err, *c.message == '\0' ? "" : "imgflag: " + path + ": " + c.message + "\n");
        EXPECT_EQ(o.status, kExitProblem);
        EXPECT_EQ(snapshot(path), before);
    }
}

Bytes pairWithoutSecondTreHeader()
{
    Bytes bytes = testing::readFile(testing::sampleFile("gmapsupp.img"));
    bytes[kPairSecondTreHeader + 8] = 'X';  // " TRE" becomes "XTRE"
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProblemTest,
    ::testing::Values(
        ProblemCase{"TextFile", [] { return Bytes(5000, 't'); }, "not-img", ""},
        ProblemCase{"EmptyFile", [] { return Bytes{}; }, "not-img", ""},
        ProblemCase{"NoTreEntry",
                    [] { return TileBuilder::ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build(); }, "no-tre",
                    ""},
        ProblemCase{"NoTreHeader", [] { return TileBuilder::ordinary(0).treHeaderAt(-1).build(); }, "bad-tre", ""},
        ProblemCase{"PairWithoutItsSecondTreHeader", pairWithoutSecondTreHeader, "bad-tre", ""},
        ProblemCase{"BlockSizeOverflow", [] { return TileBuilder::ordinary(0).exponents(20, 11).build(); }, "error",
                    "the container's block size or directory is out of range"},
        ProblemCase{"TreBeforeTheStartOfTheFile",
                    [] { return TileBuilder::ordinary(0).entries({{"TRE", 0xFFFF}}).build(); }, "error",
                    "a subfile lies before the start of the file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImgflagTest, AMissingFileIsAnErrorAndIsNotCreated)
{
    const std::string missing = dir.file("weg.img");
    const Outcome o = imgflag({"opaque", missing});
    EXPECT_EQ(o.out, "error\t" + missing + "\n");
    EXPECT_EQ(o.err, "imgflag: " + missing + ": file not found\n");
    EXPECT_EQ(o.status, kExitProblem);
    EXPECT_FALSE(fs::exists(missing));
}

// ---- Folders -------------------------------------------------------------------------------

TEST_F(ImgflagTest, SubfoldersOnlyWithRecursion)
{
    const std::string top = copy("opaque.img", "m.img");
    const std::string inner = copy("transparent.img", "k/inner.img");
    const std::string deeper = copy("gmapsupp.img", "k/z/deep.img");
    const std::string after = copy("opaque.img", "z.img");
    fs::create_directory_symlink(dir.file("k"), dir.file("link"));
    const std::string d = folder();

    const Outcome flat = imgflag({"status", d});
    EXPECT_EQ(flat.out, "opaque\t" + top + "\nopaque\t" + after + "\n");
    EXPECT_EQ(flat.status, kExitOk);

    const Outcome deep = imgflag({"-r", "status", d});
    EXPECT_EQ(deep.out, "transparent\t" + inner + "\n"
                        "mixed 1/2 transparent\t" + deeper + "\n"
                        "opaque\t" + top + "\n"
                        "opaque\t" + after + "\n")
        << "name order, and a link to a folder is not followed";
    EXPECT_EQ(deep.status, kExitOk);
}

TEST_F(ImgflagTest, AnEmptyFolderIsSaidSo)
{
    const Outcome o = imgflag({"transparent", folder()});
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "imgflag: " + folder() + ": no files\n");
    EXPECT_EQ(o.status, kExitOk);
}

// ---- Usage -----------------------------------------------------------------------------------

struct UsageCase {
    const char* name;
    std::vector<std::string> args;  // "MAP" stands for a copy of transparent.img
    const char* problem;            // the first line of the message, after "imgflag: "
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class UsageTest : public ImgflagTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, IsRefusedWithStatus2AndTouchesNothing)
{
    const std::string map = copy("transparent.img");
    const Snapshot before = snapshot(map);
    std::vector<std::string> args = GetParam().args;
    for (auto& arg : args) {
        if (arg == "MAP") {
            arg = map;
        }
    }
    const Outcome o = imgflag(args);
    EXPECT_EQ(o.status, kExitUsage);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "imgflag: " + std::string(GetParam().problem) + "\nTry 'imgflag --help' for more information.\n");
    EXPECT_EQ(snapshot(map), before);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageTest,
    ::testing::Values(
        UsageCase{"Nothing", {}, "A subcommand is required"},
        UsageCase{"UnknownCommand", {"flip", "MAP"}, "unknown command 'flip'"},
        UsageCase{"CommandWithoutPath", {"opaque"}, "PATH is required"},
        UsageCase{"OnlyOptions", {"--json", "-q"}, "A subcommand is required"},
        UsageCase{"UnknownOption", {"opaque", "--force", "MAP"}, "The following argument was not expected: --force"},
        UsageCase{"ValueForAFlag", {"--dry-run=maybe", "opaque", "MAP"}, "Could not convert: --dry-run = maybe"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImgflagHelp, HelpAndVersionFollowTheConventions)
{
    const Outcome help = imgflag({"--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_EQ(help.err, "");
    for (const char* word : {"imgflag", "status", "transparent", "opaque", "--json", "--dry-run", "-q", "-r",
                             "Exit status"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }

    const Outcome commandHelp = imgflag({"opaque", "--help"});
    EXPECT_EQ(commandHelp.status, kExitOk);
    EXPECT_NE(commandHelp.out.find("PATH"), std::string::npos);

    const Outcome version = imgflag({"--version"});
    EXPECT_EQ(version.out, std::string("imgflag ") + KS_EXPECTED_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, kExitOk);
}

// ---- Cost and failures on the medium ------------------------------------------------------

TEST(ImgflagIo, OneOpenAFewReadsAndOneWritePerChangedMap)
{
    testing::MemoryFileLayer files;
    files.files["o.img"] = testing::readFile(testing::sampleFile("opaque.img"));
    files.files["t.img"] = testing::readFile(testing::sampleFile("transparent.img"));
    files.files["p.img"] = testing::readFile(testing::sampleFile("gmapsupp.img"));

    EXPECT_EQ(imgflag({"status", "o.img"}, files).out, "opaque\to.img\n");
    EXPECT_EQ(files.counts.opens, 1);
    EXPECT_LE(files.counts.reads, 2);
    EXPECT_EQ(files.counts.writes, 0);
    EXPECT_EQ(files.counts.closes, 1);

    files.counts = {};
    EXPECT_EQ(imgflag({"transparent", "t.img"}, files).out, "transparent\tt.img\tunchanged\n");
    EXPECT_EQ(files.counts.writes, 0);
    EXPECT_EQ(files.counts.flushes, 0);

    files.counts = {};
    EXPECT_EQ(imgflag({"transparent", "o.img"}, files).out, "transparent\to.img\tchanged\n");
    EXPECT_EQ(files.counts.opens, 1);
    EXPECT_EQ(files.counts.writes, 1);
    EXPECT_EQ(files.counts.flushes, 1) << "the byte is on the medium before imgflag moves on";
    EXPECT_EQ(files.counts.closes, 1);

    files.counts = {};
    const Bytes pair = files.files["p.img"];
    EXPECT_EQ(imgflag({"opaque", "p.img"}, files).out, "opaque\tp.img\tchanged\n");
    EXPECT_EQ(files.counts.writes, 1) << "only the transparent map's byte is written";
    EXPECT_EQ(testing::differingOffsets(pair, files.files["p.img"]), Offsets{kPairTransparentFlag});
}

TEST(ImgflagIo, TwoMapsSharingOneTreSubfileGetOneWrite)
{
    // Two names whose TRE entries lead to the same header.
    Bytes bytes = TileBuilder::ordinary(0x00).entries({{"TRE", 8}, {"TRE", 8}}).build();
    bytes[0x800 + 8] = 'X';  // the second entry's name ends differently
    testing::MemoryFileLayer files;
    files.files["s.img"] = bytes;

    EXPECT_EQ(imgflag({"status", "s.img"}, files).out, "opaque\ts.img\n");
    files.counts = {};
    EXPECT_EQ(imgflag({"transparent", "s.img"}, files).out, "transparent\ts.img\tchanged\n");
    EXPECT_EQ(files.counts.writes, 1);
    EXPECT_EQ(testing::differingOffsets(bytes, files.files["s.img"]), Offsets{4096 + 0x3F});
}

// A map file whose every write fails, as on a medium that has gone bad.
class FailingWrites final : public platform::FileLayer {
public:
    explicit FailingWrites(Bytes bytes) : bytes_(std::move(bytes)) {}

    std::unique_ptr<platform::MapFile> openReadWrite(const std::string&) override
    {
        class File final : public platform::MapFile {
        public:
            explicit File(const Bytes& bytes) : bytes_(bytes) {}
            std::uint64_t size() const override { return bytes_.size(); }
            std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
            {
                const std::size_t n = offset >= bytes_.size() ? 0 : std::min(out.size(), bytes_.size() - offset);
                std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
                return n;
            }
            void writeByteAt(std::uint64_t, std::uint8_t) override { platform::raise(platform::err::kDeviceIo); }
            void flush() override {}

        private:
            const Bytes& bytes_;
        };
        return std::make_unique<File>(bytes_);
    }
    std::vector<std::string> regularFiles(const std::string&) override { return {}; }

private:
    Bytes bytes_;
};

TEST(ImgflagIo, AFailedWriteIsAnError)
{
    FailingWrites files(TileBuilder::ordinary(0x00).build());
    const Outcome o = imgflag({"transparent", "t.img"}, files);
    EXPECT_EQ(o.out, "error\tt.img\n");
    EXPECT_EQ(o.err, "imgflag: t.img: writing failed, the file may be partly switched: input/output error\n");
    EXPECT_EQ(o.status, kExitProblem);

    const Outcome dry = imgflag({"transparent", "--dry-run", "t.img"}, files);
    EXPECT_EQ(dry.out, "transparent\tt.img\tchanged\n") << "a dry run does not even try to write";
    EXPECT_EQ(dry.status, kExitOk);
}

}  // namespace
}  // namespace ks::cli
