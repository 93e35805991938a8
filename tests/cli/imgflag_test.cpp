// imgflag as its users meet it: the exact report, the messages, the exit
// status and the bytes and timestamps on disk afterwards.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <tuple>
#include <utility>

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
using Json = nlohmann::json;

constexpr std::size_t kTileFlag = 0xE3F;  // the flag byte of opaque.img and transparent.img

// What a run of imgflag gave: its exit status, stdout and stderr.
struct Outcome {
    int status;
    std::string out, err;
    bool operator==(const Outcome&) const = default;
};
void PrintTo(const Outcome& o, std::ostream* os) { *os << "status " << o.status << "\nout:\n" << o.out << "err:\n" << o.err; }

// Runs imgflag with args, on files (the real file system when null).
Outcome imgflag(std::vector<std::string> args, platform::FileLayer* files = nullptr)
{
    args.insert(args.begin(), "imgflag");
    std::ostringstream out, err;
    const int status = files != nullptr ? run(args, out, err, *files) : run(args, out, err);
    return {status, out.str(), err.str()};
}

Bytes sample(const std::string& name) { return testing::readFile(testing::sampleFile(name)); }

// The bytes and modification time of a file, to compare before and after.
using Snapshot = std::pair<Bytes, fs::file_time_type>;
Snapshot snapshot(const std::string& path) { return {testing::readFile(path), fs::last_write_time(path)}; }

// The offsets at which b differs from a, each of which must differ in the transparency bit alone.
Offsets flipped(const Bytes& a, const Bytes& b)
{
    const Offsets offsets = testing::differingOffsets(a, b);
    for (const std::size_t at : offsets) {
        EXPECT_EQ(a.at(at) ^ b.at(at), 0x02) << "at 0x" << std::hex << at;
    }
    return offsets;
}

class ImgflagTest : public ::testing::Test {
public:
    // Writes name in the temporary folder, dated back a day so that any write shows in its timestamp.
    std::string put(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.file(name);
        fs::create_directories(fs::path(path).parent_path());
        testing::writeFile(path, bytes);
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24));
        return path;
    }
    std::string copy(const std::string& name, const std::string& as = "") { return put(as.empty() ? name : as, sample(name)); }

    testing::TempDir dir;
};

TEST_F(ImgflagTest, ReportsAndSwitchesTheMkgmapTilesInAFolder)
{
    // Each sample in name order: its state and the flag bytes that making it transparent changes.
    struct {
        const char* name;
        std::string state;
        Offsets changed;
        std::string path = {};
        Snapshot original = {};
    } samples[] = {
        {"bigblock.img", "opaque", {0x203F}},
        {"gmapsupp.img", "mixed 1/2 transparent", {0x1A3F}},  // maps 63240011 and 63240012
        {"opaque.img", "opaque", {kTileFlag}},
        {"transparent.img", "transparent", {}},
    };
    std::string status, opaque, transparent;
    for (auto& s : samples) {
        s.path = copy(s.name);
        s.original = snapshot(s.path);
        status += s.state + "\t" + s.path + "\n";
        opaque += "opaque\t" + s.path + (s.state == "opaque" ? "\tunchanged\n" : "\tchanged\n");
        transparent += "transparent\t" + s.path + (s.changed.empty() ? "\tunchanged\n" : "\tchanged\n");
    }

    EXPECT_EQ(imgflag({"status", dir.path()}), (Outcome{kExitOk, status, ""})) << "a mixed container is still a map";
    EXPECT_EQ(imgflag({"opaque", "--dry-run", dir.path()}),
              (Outcome{kExitOk, opaque, "imgflag: dry run, nothing was written\n"}));
    for (const auto& s : samples) {
        EXPECT_EQ(snapshot(s.path), s.original) << s.name << ": bytes and timestamp stay";
    }
    EXPECT_EQ(imgflag({"transparent", dir.path()}), (Outcome{kExitOk, transparent, ""}));
    for (const auto& s : samples) {
        const Snapshot after = snapshot(s.path);
        EXPECT_EQ(flipped(s.original.first, after.first), s.changed) << s.name;
        EXPECT_EQ(after.second == s.original.second, s.changed.empty()) << s.name << ": written only if changed";
    }
}

TEST_F(ImgflagTest, JsonCarriesTheSameReport)
{
    const std::string pair = copy("gmapsupp.img");
    const std::string text = put("readme.txt", Bytes(3000, 'x'));
    const std::string clear = copy("transparent.img");
    const std::string missing = dir.file("weg.img");

    const Outcome status = imgflag({"status", dir.path(), missing, "--json"});
    EXPECT_EQ(status.status, kExitProblem);
    EXPECT_EQ(status.err, "imgflag: " + missing + ": file not found\n");
    EXPECT_EQ(Json::parse(status.out), (Json{{"command", "status"}, {"dry_run", false}, {"files", Json::array({
        {{"path", pair}, {"state", "mixed"}, {"maps", 2}, {"transparent_maps", 1}},
        {{"path", text}, {"state", "not-img"}},
        {{"path", clear}, {"state", "transparent"}, {"maps", 1}, {"transparent_maps", 1}},
        {{"path", missing}, {"state", "error"}, {"message", "file not found"}}})}}));

    const Outcome dry = imgflag({"--json", "--dry-run", "transparent", pair, clear});
    EXPECT_EQ(dry.status, kExitOk);
    EXPECT_EQ(dry.err, "imgflag: dry run, nothing was written\n");
    EXPECT_EQ(Json::parse(dry.out), (Json{{"command", "transparent"}, {"dry_run", true}, {"files", Json::array({
        {{"path", pair}, {"state", "transparent"}, {"maps", 2}, {"transparent_maps", 2}, {"change", "changed"}},
        {{"path", clear}, {"state", "transparent"}, {"maps", 1}, {"transparent_maps", 1}, {"change", "unchanged"}}})}}));
    EXPECT_EQ(testing::readFile(pair), sample("gmapsupp.img"));
    EXPECT_EQ(testing::readFile(text), Bytes(3000, 'x'));
    EXPECT_FALSE(fs::exists(missing)) << "imgflag never creates a file";
}

TEST_F(ImgflagTest, AFolderWithATextFileAndAReadOnlyMap)
{
    const std::string text = put("a-notes.txt", Bytes(700, 'n'));
    const std::string locked = copy("opaque.img", "b-locked.img");
    testing::makeReadOnly(locked);
    const std::string open = copy("opaque.img", "c-open.img");
    const Snapshot textBefore = snapshot(text);
    const Snapshot lockedBefore = snapshot(locked);
    const std::string problems = "not-img\t" + text + "\nno-access\t" + locked + "\n";
    const std::string refused = "imgflag: " + locked + ": cannot be opened for writing (read-only?)\n";

    EXPECT_EQ(imgflag({"transparent", dir.path()}),
              (Outcome{kExitProblem, problems + "transparent\t" + open + "\tchanged\n", refused}));
    EXPECT_EQ(flipped(sample("opaque.img"), testing::readFile(open)), Offsets{kTileFlag});
    EXPECT_EQ(imgflag({"-q", "opaque", dir.path()}), (Outcome{kExitProblem, problems, refused}))
        << "quiet prints only the problems";
    EXPECT_EQ(testing::readFile(open), sample("opaque.img")) << "quiet still switches";
    EXPECT_EQ(snapshot(text), textBefore);
    EXPECT_EQ(snapshot(locked), lockedBefore) << "a read-only map stays untouched, also for root";
}

TEST_F(ImgflagTest, FilesThatAreNoUsableMapsAreReportedAndLeftAlone)
{
    Bytes pair = sample("gmapsupp.img");
    pair[0x2200 + 8] = 'X';  // the second map's " TRE" header becomes "XTRE"
    // The file, its state and the message on stderr after "imgflag: PATH: ".
    const std::tuple<Bytes, std::string, std::string> files[] = {
        {Bytes{}, "not-img", ""},
        {TileBuilder::ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build(), "no-tre", ""},
        {pair, "bad-tre", ""},
        {TileBuilder::ordinary(0).exponents(20, 11).build(), "error",
         "the container's block size or directory is out of range"},
        {TileBuilder::ordinary(0).entries({{"TRE", 0xFFFF}}).build(), "error", "a subfile lies before the start of the file"},
    };
    for (const auto& [bytes, state, message] : files) {
        const std::string path = put("tile.img", bytes);
        const Snapshot before = snapshot(path);
        for (const char* command : {"status", "transparent", "opaque"}) {
            SCOPED_TRACE(std::string(command) + " on " + state + " " + message);
            EXPECT_EQ(imgflag({command, path}), (Outcome{kExitProblem, state + "\t" + path + "\n",
                                                         message.empty() ? "" : "imgflag: " + path + ": " + message + "\n"}));
            EXPECT_EQ(snapshot(path), before);
        }
    }
}

TEST_F(ImgflagTest, SubfoldersOnlyWithRecursion)
{
    const std::string top = copy("opaque.img", "m.img");
    const std::string inner = copy("transparent.img", "k/inner.img");
    const std::string deeper = copy("gmapsupp.img", "k/z/deep.img");
    const std::string last = copy("opaque.img", "z.img");
    fs::create_directory_symlink(dir.file("k"), dir.file("link"));
    fs::create_directory(dir.file("empty"));

    EXPECT_EQ(imgflag({"status", dir.path()}), (Outcome{kExitOk, "opaque\t" + top + "\nopaque\t" + last + "\n", ""}));
    EXPECT_EQ(imgflag({"-r", "status", dir.path()}),
              (Outcome{kExitOk,
                       "transparent\t" + inner + "\nmixed 1/2 transparent\t" + deeper + "\nopaque\t" + top +
                           "\nopaque\t" + last + "\n",
                       "imgflag: " + dir.file("empty") + ": no files\n"}))
        << "name order, and a link to a folder is not followed";
}

TEST_F(ImgflagTest, HelpVersionAndUsageErrors)
{
    const Outcome help = imgflag({"--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_NE(help.out.find("Exit status: 0 when every file was a map"), std::string::npos);
    EXPECT_NE(imgflag({"opaque", "--help"}).out.find("PATH"), std::string::npos);
    EXPECT_EQ(imgflag({"--version"}), (Outcome{kExitOk, std::string("imgflag ") + KS_EXPECTED_VERSION + "\n", ""}));

    const std::string map = copy("transparent.img");
    const Snapshot before = snapshot(map);
    // The arguments and the first line of the message, after "imgflag: ".
    const std::pair<std::vector<std::string>, std::string> usages[] = {
        {{}, "A subcommand is required"},
        {{"flip", map}, "unknown command 'flip'"},
        {{"opaque"}, "PATH is required"},
        {{"opaque", "--force", map}, "The following argument was not expected: --force"},
        {{"--dry-run=maybe", "opaque", map}, "Could not convert: --dry-run = maybe"},
    };
    for (const auto& [args, problem] : usages) {
        EXPECT_EQ(imgflag(args),
                  (Outcome{kExitUsage, "", "imgflag: " + problem + "\nTry 'imgflag --help' for more information.\n"}));
    }
    EXPECT_EQ(snapshot(map), before);
}

// Every write fails, as on a medium that has gone bad.
struct FailingWrites final : platform::FileLayer {
    struct File final : platform::MapFile {
        std::unique_ptr<platform::MapFile> in;
        std::uint64_t size() const override { return in->size(); }
        std::size_t readAt(std::uint64_t at, std::span<std::uint8_t> out) override { return in->readAt(at, out); }
        void writeByteAt(std::uint64_t, std::uint8_t) override { platform::raise(platform::err::kDeviceIo); }
        void flush() override {}
    };
    std::unique_ptr<platform::MapFile> openReadWrite(const std::string& path) override
    {
        auto file = std::make_unique<File>();
        file->in = memory.openReadWrite(path);
        return file;
    }
    std::vector<std::string> regularFiles(const std::string& folder) override { return memory.regularFiles(folder); }
    testing::MemoryFileLayer memory;
};

TEST(ImgflagIo, AProbeReadsLittleAChangeIsOneFlushedWriteAFailedOneAnError)
{
    // Three maps in a masked container: the first two share one TRE subfile, the third is transparent.
    Bytes three = TileBuilder::ordinary(0x00).masked().entries({{"TRE", 8}, {"TRE", 8}, {"TRE", 12}}).build();
    three[0x800 + 8] ^= 'E' ^ 'X';  // "TESTTILE" becomes "TESTTILX", another map
    three[0xA00 + 8] ^= 'E' ^ 'Y';
    std::copy_n(three.begin() + 0x1000, 0x40, three.begin() + 0x1800);
    three[0x183F] ^= 0x02;
    testing::MemoryFileLayer files;
    files.files["3.img"] = three;
    const auto costs = [&files] {
        const testing::IoCounts c = std::exchange(files.counts, {});
        return std::tuple(c.opens, c.writes, c.flushes, c.closes);
    };

    EXPECT_EQ(imgflag({"status", "3.img"}, &files), (Outcome{kExitOk, "mixed 1/3 transparent\t3.img\n", ""}));
    EXPECT_LE(files.counts.reads, 2);
    EXPECT_EQ(costs(), std::tuple(1, 0, 0, 1));
    EXPECT_EQ(imgflag({"transparent", "3.img"}, &files), (Outcome{kExitOk, "transparent\t3.img\tchanged\n", ""}));
    EXPECT_EQ(costs(), std::tuple(1, 1, 1, 1)) << "one write for the shared byte, on the medium before imgflag moves on";
    EXPECT_EQ(flipped(three, files.files["3.img"]), Offsets{0x103F}) << "the mask stays";

    FailingWrites failing;
    failing.memory.files["t.img"] = TileBuilder::ordinary(0x00).build();
    EXPECT_EQ(imgflag({"transparent", "t.img"}, &failing),
              (Outcome{kExitProblem, "error\tt.img\n",
                       "imgflag: t.img: writing failed, the file may be partly switched: input/output error\n"}));
    EXPECT_EQ(failing.memory.files["t.img"], TileBuilder::ordinary(0x00).build());
}

}  // namespace
}  // namespace ks::cli
