// The probe and the writer on real files: every message, the status text
// and path afterwards, and the bytes on disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "container/img_container.h"
#include "support/disk.h"
#include "support/memory_files.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"

namespace ks::container {
namespace {

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using platform::Message;
using testing::Bytes;
using testing::TileBuilder;

constexpr const char* kStaleKennung = "  <T>";

class ProbeWriterTest : public ::testing::Test {
public:
    void probe(std::string& path, std::string& kennung) { Trnsp_Read(services, path, kennung); }
    void write(const std::string& path, std::int16_t index) { Trnsp_Write(services, path, index); }

    std::string shown(const std::string& path) const { return env.ui.toUpper(path); }
    std::string put(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.file(name);
        testing::writeFile(path, bytes);
        return path;
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    ProbeState state;
    int restarts = 0;
    Services services{env.platform, state, [this] { ++restarts; }};
};

// ---- The probe's verdicts ------------------------------------------------------------

// "{path}" in an expected prompt stands for the probed path in upper case.
Message expect(std::string prompt, std::string title, Icon icon, Buttons buttons, const std::string& shownPath)
{
    if (const auto at = prompt.find("{path}"); at != std::string::npos) {
        prompt.replace(at, 6, shownPath);
    }
    return Message{prompt, std::move(title), icon, buttons};
}

const std::string kQuestion =
    "Kein Zugriff auf {path}\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ";
const std::string kQuestionTitle = "Fehler ! (R-Attribut ??)";

enum class Setup { Text, NoTre, BadTre, Overflow, NegativeBlock, Missing, ReadOnly, Folder };

struct ProbeCase {
    const char* name;
    Setup setup;
    Answer answer;
    std::string prompt, title;
    Icon icon;
    Buttons buttons;
    std::string kennung;
    bool pathCleared;
    int restarts;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

std::string prepare(ProbeWriterTest& t, Setup setup)
{
    switch (setup) {
    case Setup::Text: return t.put("liesmich.txt", Bytes(2000, 'x'));
    case Setup::NoTre: return t.put("NOTRE.IMG", TileBuilder::ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build());
    case Setup::BadTre: return t.put("BAD.IMG", TileBuilder::ordinary(0).treHeaderAt(-1).build());
    case Setup::Overflow: return t.put("BIG.IMG", TileBuilder::ordinary(0).exponents(20, 11).build());
    case Setup::NegativeBlock: return t.put("NEG.IMG", TileBuilder::ordinary(0).entries({{"TRE", 0xFFFF}}).build());
    case Setup::Missing: return t.dir.file("WEG.IMG");
    case Setup::ReadOnly: {
        const auto path = t.put("RO.IMG", TileBuilder::ordinary(0).build());
        testing::makeReadOnly(path);
        return path;
    }
    case Setup::Folder: {
        const auto path = t.dir.file("KARTEN.IMG");
        std::filesystem::create_directory(path);
        return path;
    }
    }
    return {};
}

class ProbeFailureTest : public ProbeWriterTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeFailureTest, ReportsOnceAndLeavesTheFileAlone)
{
    const ProbeCase& c = GetParam();
    env.ui.answers.push_back(c.answer);
    const std::string path = prepare(*this, c.setup);
    const bool regular = std::filesystem::is_regular_file(path);
    const Bytes before = regular ? testing::readFile(path) : Bytes{};

    std::string fileSpec = path;
    std::string kennung = kStaleKennung;
    probe(fileSpec, kennung);

    EXPECT_EQ(env.ui.messages, std::vector{expect(c.prompt, c.title, c.icon, c.buttons, shown(path))});
    EXPECT_EQ(kennung, c.kennung);
    EXPECT_EQ(fileSpec, c.pathCleared ? "" : path);
    EXPECT_EQ(restarts, c.restarts);
    EXPECT_EQ(std::filesystem::is_regular_file(path), regular) << "a probe never creates a file";
    if (regular) {
        EXPECT_EQ(testing::readFile(path), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ProbeFailureTest,
    ::testing::Values(
        ProbeCase{"TextFile", Setup::Text, Answer::Ok, "Datei {path} ist keine IMG  ", "F e h l e r", Icon::Warning,
                  Buttons::Ok, "  <?>", true, 0},
        ProbeCase{"NoTreEntry", Setup::NoTre, Answer::Ok, "TRE nicht gefunden", "", Icon::None, Buttons::Ok, "  <?>",
                  false, 0},
        ProbeCase{"BadTreHeader", Setup::BadTre, Answer::Ok, "Fehler in TRE", "", Icon::None, Buttons::Ok, "  <?>",
                  false, 0},
        ProbeCase{"ExponentOverflow", Setup::Overflow, Answer::Ok, "Überlauf (overflow)", "F e h l e r !",
                  Icon::Warning, Buttons::Ok, "  <?>", false, 0},
        ProbeCase{"NegativeBlockNumber", Setup::NegativeBlock, Answer::Ok,
                  "Falsche Datensatznummer (bad record number)", "F e h l e r !", Icon::Warning, Buttons::Ok, "  <?>",
                  false, 0},
        ProbeCase{"MissingFile", Setup::Missing, Answer::Ok, "Datei nicht gefunden (file not found)", "F e h l e r !",
                  Icon::Warning, Buttons::Ok, "  <?>", false, 0},
        ProbeCase{"ReadOnlyAnsweredOk", Setup::ReadOnly, Answer::Ok, kQuestion, kQuestionTitle, Icon::Critical,
                  Buttons::OkCancel, " Kein Zugriff möglich", false, 0},
        ProbeCase{"ReadOnlyCancelled", Setup::ReadOnly, Answer::Cancel, kQuestion, kQuestionTitle, Icon::Critical,
                  Buttons::OkCancel, "ABBRUCH", false, 1},
        ProbeCase{"FolderIsRefusedAccess", Setup::Folder, Answer::Ok, kQuestion, kQuestionTitle, Icon::Critical,
                  Buttons::OkCancel, " Kein Zugriff möglich", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The writer ------------------------------------------------------------------------

struct ChangeCase {
    const char* name;
    Bytes bytes;
    std::int16_t index;
    std::uint8_t storedFlag;  // the byte on disk afterwards
    const char* kennungAfter;
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class ChangeTest : public ProbeWriterTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeTest, RewritesExactlyTheFlagByte)
{
    const ChangeCase& c = GetParam();
    std::string path = put("TILE.IMG", c.bytes);
    std::string kennung;
    probe(path, kennung);
    write(path, c.index);

    const Bytes after = testing::readFile(path);
    ASSERT_EQ(after.size(), c.bytes.size());
    const auto flagAt = static_cast<std::size_t>(TileBuilder::ordinary(0).flagOffset());
    EXPECT_EQ(after[flagAt], c.storedFlag);
    for (std::size_t offset : testing::differingOffsets(c.bytes, after)) {
        EXPECT_EQ(offset, flagAt) << "only the flag byte may change";
    }
    probe(path, kennung);
    EXPECT_EQ(kennung, c.kennungAfter);
    EXPECT_TRUE(env.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeTest,
    ::testing::Values(
        ChangeCase{"PlainOpaqueMadeTransparent", TileBuilder::ordinary(0x00).build(), 1, 0x02, "  <T>"},
        ChangeCase{"PlainTransparentMadeTransparentAgain", TileBuilder::ordinary(0x02).build(), 1, 0x02, "  <T>"},
        ChangeCase{"AllBitsMadeOpaque", TileBuilder::ordinary(0xFF).build(), 0, 0xFD, "  < >"},
        ChangeCase{"AllBitsMadeTransparent", TileBuilder::ordinary(0xFF).build(), 1, 0xFF, "  <T>"},
        ChangeCase{"MaskedTransparentMadeOpaque", TileBuilder::ordinary(0x03).masked().build(), 0, 0x01 ^ 0x5B,
                   "  < >"},
        ChangeCase{"MaskedOpaqueMadeTransparent", TileBuilder::ordinary(0x80).masked().build(), 1, 0x82 ^ 0x5B,
                   "  <T>"}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Mishap { MadeReadOnly, Deleted, TreHeaderMoved, Truncated, ReplacedByAFolder };

struct WriteFailureCase {
    const char* name;
    Mishap mishap;  // what happens between probe and write
    std::string prompt;
    Icon icon;
    bool fileRemains;
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.name; }

class WriteFailureTest : public ProbeWriterTest, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailureTest, ReportsAndWritesNothing)
{
    const WriteFailureCase& c = GetParam();
    std::string path = put("TILE.IMG", TileBuilder::ordinary(0x00).build());
    std::string kennung;
    probe(path, kennung);
    ASSERT_EQ(kennung, "  < >");
    switch (c.mishap) {
    case Mishap::MadeReadOnly: testing::makeReadOnly(path); break;
    case Mishap::Deleted: std::filesystem::remove(path); break;
    case Mishap::TreHeaderMoved:
        testing::writeFile(path, TileBuilder::ordinary(0).entries({{"TRE", 10}}).treHeaderAt(10 * 512).build());
        break;
    case Mishap::Truncated: std::filesystem::resize_file(path, TileBuilder::ordinary(0).flagOffset()); break;
    case Mishap::ReplacedByAFolder:
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
        break;
    }
    const Bytes before = c.fileRemains ? testing::readFile(path) : Bytes{};

    write(path, 1);

    EXPECT_EQ(env.ui.messages, std::vector{expect(c.prompt, "", c.icon, Buttons::Ok, shown(path))});
    ASSERT_EQ(std::filesystem::is_regular_file(path), c.fileRemains) << "the writer never creates a file";
    if (c.fileRemains) {
        EXPECT_EQ(testing::readFile(path), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WriteFailureTest,
    ::testing::Values(
        WriteFailureCase{"MadeReadOnly", Mishap::MadeReadOnly, "Fehler : 75", Icon::Warning, true},
        WriteFailureCase{"Deleted", Mishap::Deleted, "Datei {path} nicht gefunden (not found)", Icon::None, false},
        WriteFailureCase{"TreHeaderMoved", Mishap::TreHeaderMoved, "Fehler in TRE", Icon::None, true},
        WriteFailureCase{"TruncatedBeforeTheFlagByte", Mishap::Truncated, "Fehler in TRE", Icon::None, true},
        WriteFailureCase{"ReplacedByAFolder", Mishap::ReplacedByAFolder, "Fehler : 75", Icon::Warning, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeWriterTest, NothingIsWrittenWhenTheProbeFoundNoTreHeader)
{
    // A file whose directory has no TRE entry, but with a " TRE" header where
    // the previous file's lookup found one: the leftovers never lead to a write.
    std::string good = put("GOOD.IMG", TileBuilder::ordinary(0x00).build());
    std::string other = prepare(*this, Setup::NoTre);
    const Bytes before = testing::readFile(other);
    std::string kennung;
    probe(good, kennung);
    probe(other, kennung);
    write(other, 1);
    EXPECT_EQ(env.ui.prompts(), std::vector<std::string>{"TRE nicht gefunden"});
    EXPECT_EQ(testing::readFile(other), before);
}

TEST(ProbeWriterIo, AProbeAndAChangeCostTheFewestReadsTheyCan)
{
    testing::ScriptedUi ui;
    testing::MemoryFileLayer files;
    // A real tile whose TRE header lies past the first 4 KiB.
    files.files["T.IMG"] = testing::readFile(testing::sampleFile("bigblock.img"));
    platform::Platform platform{ui, files};
    ProbeState state;
    Services services{platform, state, nullptr};
    std::string path = "T.IMG";
    std::string kennung;

    Trnsp_Read(services, path, kennung);
    EXPECT_EQ(files.counts.opens, 1);
    EXPECT_EQ(files.counts.closes, 1);
    EXPECT_LE(files.counts.reads, 2);

    files.counts = {};
    Trnsp_Write(services, path, 1);
    EXPECT_EQ(files.counts.opens, 1);
    EXPECT_EQ(files.counts.reads, 1);
    EXPECT_EQ(files.counts.writes, 1);
    EXPECT_EQ(files.counts.flushes, 1) << "the byte is on the medium before the writer returns";
    EXPECT_EQ(files.counts.closes, 1);
}

}  // namespace
}  // namespace ks::container
