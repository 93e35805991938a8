// The probe and the writer on real files: every message, the status text
// and path afterwards, and the bytes on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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

struct ProbeCase {
    const char* name;
    std::function<std::string(ProbeWriterTest&)> prepare;  // returns the path to probe
    Answer answer;
    std::function<Message(const std::string& shownPath)> message;  // the one box expected
    std::string kennung;
    bool pathCleared;
    int restarts;
};

const auto noTre = [](ProbeWriterTest& t) {
    return t.put("NOTRE.IMG", TileBuilder::ordinary(0).entries({{"RGN", 10}, {"LBL", 12}}).build());
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class ProbeFailureTest : public ProbeWriterTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeFailureTest, ReportsOnceAndLeavesTheFileAlone)
{
    const ProbeCase& c = GetParam();
    env.ui.answers.push_back(c.answer);
    const std::string path = c.prepare(*this);
    const bool exists = std::filesystem::exists(path);
    const Bytes before = exists && std::filesystem::is_regular_file(path) ? testing::readFile(path) : Bytes{};

    std::string spec = path;
    std::string kennung = kStaleKennung;
    probe(spec, kennung);

    ASSERT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.messages[0], c.message(shown(path)));
    EXPECT_EQ(kennung, c.kennung);
    EXPECT_EQ(spec, c.pathCleared ? "" : path);
    EXPECT_EQ(restarts, c.restarts);
    EXPECT_EQ(std::filesystem::exists(path), exists) << "a probe never creates a file";
    if (exists && std::filesystem::is_regular_file(path)) {
        EXPECT_EQ(testing::readFile(path), before);
    }
}

const std::string kQuestionTail = "\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ";

INSTANTIATE_TEST_SUITE_P(
    Failures, ProbeFailureTest,
    ::testing::Values(
        ProbeCase{"TextFile", [](ProbeWriterTest& t) { return t.put("liesmich.txt", Bytes(2000, 'x')); },
                  Answer::Ok,
                  [](const std::string& p) {
                      return Message{"Datei " + p + " ist keine IMG  ", "F e h l e r", Icon::Warning, Buttons::Ok};
                  },
                  "  <?>", true, 0},
        ProbeCase{"NoTreEntry", noTre, Answer::Ok,
                  [](const std::string&) { return Message{"TRE nicht gefunden", "", Icon::None, Buttons::Ok}; },
                  "  <?>", false, 0},
        ProbeCase{"BadTreHeader",
                  [](ProbeWriterTest& t) { return t.put("BAD.IMG", TileBuilder::ordinary(0).treHeaderAt(-1).build()); },
                  Answer::Ok, [](const std::string&) { return Message{"Fehler in TRE", "", Icon::None, Buttons::Ok}; },
                  "  <?>", false, 0},
        ProbeCase{"ExponentOverflow",
                  [](ProbeWriterTest& t) { return t.put("BIG.IMG", TileBuilder::ordinary(0).exponents(20, 11).build()); },
                  Answer::Ok,
                  [](const std::string&) {
                      return Message{"Überlauf (overflow)", "F e h l e r !", Icon::Warning, Buttons::Ok};
                  },
                  "  <?>", false, 0},
        ProbeCase{"NegativeBlockNumber",
                  [](ProbeWriterTest& t) {
                      return t.put("NEG.IMG", TileBuilder::ordinary(0).entries({{"TRE", 0xFFFF}}).build());
                  },
                  Answer::Ok,
                  [](const std::string&) {
                      return Message{"Falsche Datensatznummer (bad record number)", "F e h l e r !", Icon::Warning,
                                     Buttons::Ok};
                  },
                  "  <?>", false, 0},
        ProbeCase{"MissingFile", [](ProbeWriterTest& t) { return t.dir.file("WEG.IMG"); }, Answer::Ok,
                  [](const std::string&) {
                      return Message{"Datei nicht gefunden (file not found)", "F e h l e r !", Icon::Warning,
                                     Buttons::Ok};
                  },
                  "  <?>", false, 0},
        ProbeCase{"ReadOnlyAnsweredOk",
                  [](ProbeWriterTest& t) {
                      const auto p = t.put("RO.IMG", TileBuilder::ordinary(0).build());
                      testing::makeReadOnly(p);
                      return p;
                  },
                  Answer::Ok,
                  [](const std::string& p) {
                      return Message{"Kein Zugriff auf " + p + kQuestionTail, "Fehler ! (R-Attribut ??)",
                                     Icon::Critical, Buttons::OkCancel};
                  },
                  " Kein Zugriff möglich", false, 0},
        ProbeCase{"ReadOnlyCancelled",
                  [](ProbeWriterTest& t) {
                      const auto p = t.put("RO.IMG", TileBuilder::ordinary(0).build());
                      testing::makeReadOnly(p);
                      return p;
                  },
                  Answer::Cancel,
                  [](const std::string& p) {
                      return Message{"Kein Zugriff auf " + p + kQuestionTail, "Fehler ! (R-Attribut ??)",
                                     Icon::Critical, Buttons::OkCancel};
                  },
                  "ABBRUCH", false, 1},
        ProbeCase{"FolderIsRefusedAccess",
                  [](ProbeWriterTest& t) {
                      const auto p = t.dir.file("KARTEN.IMG");
                      std::filesystem::create_directory(p);
                      return p;
                  },
                  Answer::Ok,
                  [](const std::string& p) {
                      return Message{"Kein Zugriff auf " + p + kQuestionTail, "Fehler ! (R-Attribut ??)",
                                     Icon::Critical, Buttons::OkCancel};
                  },
                  " Kein Zugriff möglich", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeWriterTest, ProbeReportsTheTransparencyBitOfPlainAndMaskedMaps)
{
    struct Row {
        const char* name;
        Bytes bytes;
        const char* kennung;
    };
    const Row rows[] = {
        {"plain opaque", TileBuilder::ordinary(0xFD).build(), "  < >"},
        {"plain transparent", TileBuilder::ordinary(0x02).build(), "  <T>"},
        {"masked opaque", TileBuilder::ordinary(0x00).masked().build(), "  < >"},
        {"masked transparent", TileBuilder::ordinary(0xFF).masked().build(), "  <T>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = put("TILE.IMG", row.bytes);
        std::string kennung = "ABBRUCH";
        probe(path, kennung);
        EXPECT_EQ(kennung, row.kennung);
        EXPECT_EQ(path, dir.file("TILE.IMG"));
        EXPECT_EQ(testing::readFile(path), row.bytes);
    }
    EXPECT_TRUE(env.ui.messages.empty());
}

TEST_F(ProbeWriterTest, AnOverflowDoesNotSpoilTheNextProbe)
{
    std::string big = put("BIG.IMG", TileBuilder::ordinary(0).exponents(31, 0).build());
    std::string good = put("GOOD.IMG", TileBuilder::ordinary(0x02).build());
    std::string kennung;
    probe(big, kennung);
    probe(good, kennung);
    EXPECT_EQ(kennung, "  <T>");
    EXPECT_EQ(env.ui.prompts(), std::vector<std::string>{"Überlauf (overflow)"});
}

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

struct WriteFailureCase {
    const char* name;
    std::function<void(ProbeWriterTest&, const std::string& path)> betweenProbeAndWrite;
    std::function<std::vector<Message>(const std::string& shownPath)> messages;
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
    c.betweenProbeAndWrite(*this, path);
    const Bytes before = c.fileRemains ? testing::readFile(path) : Bytes{};

    write(path, 1);

    EXPECT_EQ(env.ui.messages, c.messages(shown(path)));
    ASSERT_EQ(std::filesystem::is_regular_file(path), c.fileRemains) << "the writer never creates a file";
    if (c.fileRemains) {
        EXPECT_EQ(testing::readFile(path), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WriteFailureTest,
    ::testing::Values(
        WriteFailureCase{"MadeReadOnly", [](ProbeWriterTest&, const std::string& p) { testing::makeReadOnly(p); },
                         [](const std::string&) {
                             return std::vector{Message{"Fehler : 75", "", Icon::Warning, Buttons::Ok}};
                         },
                         true},
        WriteFailureCase{"Deleted", [](ProbeWriterTest&, const std::string& p) { std::filesystem::remove(p); },
                         [](const std::string& p) {
                             return std::vector{
                                 Message{"Datei " + p + " nicht gefunden (not found)", "", Icon::None, Buttons::Ok}};
                         },
                         false},
        WriteFailureCase{"TreHeaderMoved",
                         [](ProbeWriterTest&, const std::string& p) {
                             testing::writeFile(p, TileBuilder::ordinary(0).entries({{"TRE", 10}})
                                                       .treHeaderAt(10 * 512).build());
                         },
                         [](const std::string&) {
                             return std::vector{Message{"Fehler in TRE", "", Icon::None, Buttons::Ok}};
                         },
                         true},
        WriteFailureCase{"TruncatedBeforeTheFlagByte",
                         [](ProbeWriterTest&, const std::string& p) {
                             std::filesystem::resize_file(p, TileBuilder::ordinary(0).flagOffset());
                         },
                         [](const std::string&) {
                             return std::vector{Message{"Fehler in TRE", "", Icon::None, Buttons::Ok}};
                         },
                         true},
        WriteFailureCase{"ReplacedByAFolder",
                         [](ProbeWriterTest&, const std::string& p) {
                             std::filesystem::remove(p);
                             std::filesystem::create_directory(p);
                         },
                         [](const std::string&) {
                             return std::vector{Message{"Fehler : 75", "", Icon::Warning, Buttons::Ok}};
                         },
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeWriterTest, NothingIsWrittenWhenTheProbeFoundNoTreHeader)
{
    // A file whose directory has no TRE entry, but with a " TRE" header where
    // the previous file's lookup found one: the leftovers never lead to a write.
    std::string good = put("GOOD.IMG", TileBuilder::ordinary(0x00).build());
    std::string other = noTre(*this);
    const Bytes before = testing::readFile(other);
    std::string kennung;
    probe(good, kennung);
    probe(other, kennung);
    write(other, 1);
    EXPECT_EQ(env.ui.prompts(), std::vector<std::string>{"TRE nicht gefunden"});
    EXPECT_EQ(testing::readFile(other), before);
}

TEST_F(ProbeWriterTest, AfterANonImgTheWriterReportsTheEmptyPath)
{
    std::string text = put("A.TXT", Bytes(100, 'a'));
    const Bytes before = testing::readFile(text);
    std::string kennung;
    probe(text, kennung);
    write(text, 1);  // what the caller holds after the probe cleared it
    ASSERT_EQ(env.ui.messages.size(), 2U);
    EXPECT_EQ(env.ui.messages[1], (Message{"Fehler : 75", "", Icon::Warning, Buttons::Ok}));
    EXPECT_EQ(testing::readFile(dir.file("A.TXT")), before);
    EXPECT_TRUE(text.empty());
}

TEST_F(ProbeWriterTest, AReadOnlyFileAnsweredOkIsReportedAgainByTheWriter)
{
    std::string path = put("RO.IMG", TileBuilder::ordinary(0x00).build());
    testing::makeReadOnly(path);
    const Bytes before = testing::readFile(path);
    std::string kennung;
    probe(path, kennung);
    write(path, 1);
    ASSERT_EQ(env.ui.messages.size(), 2U);
    EXPECT_EQ(env.ui.messages[0].title, "Fehler ! (R-Attribut ??)");
    EXPECT_EQ(env.ui.messages[1], (Message{"Fehler : 75", "", Icon::Warning, Buttons::Ok}));
    EXPECT_EQ(testing::readFile(path), before);
}

TEST(ProbeWriterIo, AProbeAndAChangeCostTheFewestReadsTheyCan)
{
    testing::ScriptedUi ui;
    testing::MemoryFileLayer files;
    files.files["T.IMG"] = TileBuilder::ordinary(0x00).build();
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
