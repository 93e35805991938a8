// The folder workflow on folders that fight back: things that are no regular
// files, broken tiles, files that change between listing and batch, and a
// folder of fifty thousand tiles.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sys/stat.h>

#include "support/disk.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#include "workflow/workflow.h"

namespace ks::workflow {
namespace {

using platform::Buttons;
using platform::Icon;
using platform::Message;
using testing::Bytes;
using testing::TileBuilder;
namespace fs = std::filesystem;

const Message kFinished{"Transparenz-Änderung beendet ... (finished)", "", Icon::None, Buttons::Ok};
const Message kTreNotFound{"TRE nicht gefunden", "", Icon::None, Buttons::Ok};
const Message kTreBad{"Fehler in TRE", "", Icon::None, Buttons::Ok};
const Message kOverflow{"Überlauf (overflow)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kBadRecord{"Falsche Datensatznummer (bad record number)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kNotFound{"Datei nicht gefunden (file not found)", "F e h l e r !", Icon::Warning, Buttons::Ok};
const Message kWriterAccess{"Fehler : 75", "", Icon::Warning, Buttons::Ok};

// Every entry below a folder, links not followed: a link's target, a regular
// file's bytes, or the kind of anything else.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        switch (entry.symlink_status().type()) {
        case fs::file_type::symlink: entries[name] = "link to " + fs::read_symlink(entry.path()).string(); break;
        case fs::file_type::regular: {
            const Bytes bytes = testing::readFile(entry.path().string());
            entries[name] = std::string(bytes.begin(), bytes.end());
            break;
        }
        case fs::file_type::directory:
            for (const auto& [inner, what] : snapshot(entry.path())) {
                entries[name + "/" + inner] = what;
            }
            break;
        default: entries[name] = "kind " + std::to_string(static_cast<int>(entry.symlink_status().type()));
        }
    }
    return entries;
}

class HostileFolder : public ::testing::Test {
protected:
    std::string put(const std::string& name, const Bytes& bytes)
    {
        testing::writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    std::string shown(const std::string& name) const { return env.ui.toUpper(dir.path()) + name; }
    Message notImg(const std::string& name) const
    {
        return Message{"Datei " + shown(name) + " ist keine IMG  ", "F e h l e r", Icon::Warning, Buttons::Ok};
    }
    Message accessQuestion(const std::string& name) const
    {
        return Message{"Kein Zugriff auf " + shown(name) +
                           "\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ",
                       "Fehler ! (R-Attribut ??)", Icon::Critical, Buttons::OkCancel};
    }
    std::string caption(std::size_t count) const
    {
        return "Pfad " + env.ui.toUpper(dir.path()) + " hat " + std::to_string(count) + " Dateien";
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
};

TEST_F(HostileFolder, EveryPassEndsWithExactlyTheMessagesItOwesAndOnlyFlagBytesChange)
{
    const auto flagAt = static_cast<std::size_t>(TileBuilder::ordinary(0).flagOffset());
    put("A.IMG", TileBuilder::ordinary(0x00).build());
    put("B.IMG", TileBuilder::ordinary(0x02).masked().build());
    put("M.IMG", TileBuilder::ordinary(0x81).masked().build());
    put("ZZ.IMG", TileBuilder::ordinary(0xFC).build());
    put("FATEND.IMG", TileBuilder::ordinary(0x00).fatEnd(0x7FFFFFFF).build());
    // The walk runs to the end of the file, with no " TRE" header it could take for an entry.
    put("FATNOTRE.IMG",
        TileBuilder::ordinary(0x00).entries({{"RGN", 10}, {"LBL", 12}}).treHeaderAt(-1).fatEnd(0x7FFFFFFF).build());
    put("NEGBLOCK.IMG", TileBuilder::ordinary(0x00).entries({{"RGN", 10}, {"TRE", 0x8000}, {"LBL", 12}}).build());
    put("OVERFLOW.IMG", TileBuilder::ordinary(0x00).exponents(16, 15).build());
    put("NOHEAD.IMG", TileBuilder::ordinary(0x00).treHeaderAt(-1).build());
    put("EMPTY.IMG", Bytes{});
    put("SHORT.IMG", Bytes(15, 0x44));
    const std::string gone = put("GONE.IMG", TileBuilder::ordinary(0x00).build());
    const std::string text = put("TEXT.IMG", TileBuilder::ordinary(0x00).build());
    const std::string readOnly = put("RO.IMG", TileBuilder::ordinary(0x00).build());
    const std::string pipe = put("PIPE.IMG", TileBuilder::ordinary(0x00).build());
    ASSERT_EQ(::mkfifo(dir.file("FIFO.IMG").c_str(), 0644), 0);
    ASSERT_TRUE(testing::makeSocket(dir.file("SOCKET.IMG")));
    fs::create_symlink(dir.file("NOWHERE.IMG"), dir.file("DANGLING.IMG"));
    fs::create_symlink("LOOP2.IMG", dir.file("LOOP1.IMG"));
    fs::create_symlink("LOOP1.IMG", dir.file("LOOP2.IMG"));
    fs::create_directory(dir.file("SUB"));
    testing::writeFile(dir.file("SUB/IN.IMG"), TileBuilder::ordinary(0x00).build());
    fs::create_directory_symlink(dir.file("SUB"), dir.file("LINKDIR.IMG"));
    fs::create_directory(dir.file("X.IMG"));
    testing::writeFile(dir.file("X.IMG/IN.IMG"), TileBuilder::ordinary(0x00).build());
    const auto atStart = snapshot(dir.path());

    env.ui.choices.emplace_back(dir.file("A.IMG"));
    flow.mn_Datei_Click();

    const std::vector<Message> listingMessages{notImg("EMPTY.IMG"), kTreNotFound, kBadRecord, kTreBad, kOverflow,
                                               notImg("SHORT.IMG")};
    EXPECT_EQ(env.ui.messages, listingMessages);
    EXPECT_EQ(env.ui.entries(),
              (std::vector<std::string>{"A.IMG  < >", "B.IMG  <T>", "FATEND.IMG  < >", "FATNOTRE.IMG  <?>",
                                        "GONE.IMG  < >", "M.IMG  < >", "NEGBLOCK.IMG  <?>", "NOHEAD.IMG  <?>",
                                        "OVERFLOW.IMG  <?>", "PIPE.IMG  < >", "RO.IMG  < >", "TEXT.IMG  < >",
                                        "ZZ.IMG  < >"}));
    EXPECT_EQ(env.ui.caption, caption(13));
    EXPECT_EQ(snapshot(dir.path()), atStart) << "listing creates and writes nothing";

    // The folder changes under the listed entries.
    fs::remove(gone);
    testing::writeFile(text, Bytes(600, 't'));
    testing::makeReadOnly(readOnly);
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    auto expected = snapshot(dir.path());
    env.ui.messages.clear();

    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);

    std::vector<Message> messages{kTreNotFound,  // FATNOTRE.IMG
                                  kNotFound,     // GONE.IMG
                                  kBadRecord,    // NEGBLOCK.IMG
                                  kTreBad,       // NOHEAD.IMG
                                  kOverflow,     // OVERFLOW.IMG
                                  accessQuestion("PIPE.IMG"), kWriterAccess,
                                  accessQuestion("RO.IMG"), kWriterAccess,
                                  notImg("TEXT.IMG"), kWriterAccess,  // the writer is handed the emptied path
                                  kFinished,
                                  // the new listing
                                  notImg("EMPTY.IMG"), kTreNotFound, kBadRecord, kTreBad, kOverflow,
                                  accessQuestion("RO.IMG"), notImg("SHORT.IMG"), notImg("TEXT.IMG")};
    EXPECT_EQ(env.ui.messages, messages);
    EXPECT_EQ(env.ui.entries(),
              (std::vector<std::string>{"A.IMG  <T>", "B.IMG  <T>", "FATEND.IMG  <T>", "FATNOTRE.IMG  <?>",
                                        "M.IMG  <T>", "NEGBLOCK.IMG  <?>", "NOHEAD.IMG  <?>", "OVERFLOW.IMG  <?>",
                                        "RO.IMG Kein Zugriff möglich", "ZZ.IMG  <T>"}));
    EXPECT_EQ(env.ui.caption, caption(10));
    EXPECT_FALSE(env.ui.waitVisible);
    for (const auto& [name, flag] : std::map<std::string, std::uint8_t>{
             {"A.IMG", 0x02}, {"FATEND.IMG", 0x02}, {"M.IMG", 0x83 ^ 0x5B}, {"ZZ.IMG", 0xFE}}) {
        expected.at(name)[flagAt] = static_cast<char>(flag);
    }
    EXPECT_EQ(snapshot(dir.path()), expected) << "only the flag bytes of the changed maps differ";
}

TEST(HugeFolder, FiftyThousandTilesAreListedMarkedAndAllMadeTransparent)
{
    constexpr int kTiles = 50000;
    // 64-byte blocks and the TRE header right after a one-entry directory: about 2 KB a tile.
    const auto tile = [](std::uint8_t flags) {
        return TileBuilder().exponents(6, 0).entries({{"TRE", 0x800 / 64}}).treHeaderAt(0x800).treFlags(flags).build();
    };
    const Bytes opaque = tile(0x00);
    const Bytes transparent = tile(0x02);
    // Fifty thousand creations and syncs on a disk would measure the disk, not the program.
    testing::TempDir dir(testing::memoryBackedFolder());
    char name[16];
    for (int i = 0; i < kTiles; ++i) {
        std::snprintf(name, sizeof(name), "T%05d.IMG", i);
        testing::writeFile(dir.file(name), opaque);
    }
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
    const std::string caption = "Pfad " + env.ui.toUpper(dir.path()) + " hat 50000 Dateien";

    env.ui.choices.emplace_back(dir.file("T00000.IMG"));
    flow.mn_Datei_Click();
    ASSERT_EQ(env.ui.list.size(), static_cast<std::size_t>(kTiles));
    EXPECT_EQ(env.ui.list.back().text, "T49999.IMG  < >");
    EXPECT_EQ(env.ui.caption, caption);

    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);

    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.caption, caption);
    ASSERT_EQ(env.ui.list.size(), static_cast<std::size_t>(kTiles));
    for (int i = 0; i < kTiles; ++i) {
        std::snprintf(name, sizeof(name), "T%05d.IMG", i);
        ASSERT_EQ(env.ui.list[i].text, std::string(name) + "  <T>");
        ASSERT_FALSE(env.ui.list[i].marked);
    }
    std::size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ++seen;
        ASSERT_EQ(testing::readFile(entry.path().string()), transparent) << entry.path();
    }
    EXPECT_EQ(seen, static_cast<std::size_t>(kTiles)) << "no file is created";
}

}  // namespace
}  // namespace ks::workflow
