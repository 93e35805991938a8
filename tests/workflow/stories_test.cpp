// The folder workflow as a user lives through it: choose a file, see the
// folder listed, mark entries, switch them, and what is on disk afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/disk.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#include "workflow/workflow.h"

namespace ks::workflow {
namespace {

using platform::Answer;
using platform::Buttons;
using platform::Icon;
using platform::Message;
using testing::Bytes;
using testing::TileBuilder;
namespace fs = std::filesystem;

const Message kFinished{"Transparenz-Änderung beendet ... (finished)", "", Icon::None, Buttons::Ok};
const std::size_t kFlagAt = static_cast<std::size_t>(TileBuilder::ordinary(0).flagOffset());

class Stories : public ::testing::Test {
protected:
    // Writes a tile (or any bytes) into the folder; returns its path.
    std::string put(const std::string& name, const Bytes& bytes, const std::string& folder = "")
    {
        const std::string path = (folder.empty() ? dir.path() : folder) + name;
        testing::writeFile(path, bytes);
        return path;
    }
    std::string opaque(const std::string& name) { return put(name, TileBuilder::ordinary(0x00).build()); }
    std::string transparent(const std::string& name) { return put(name, TileBuilder::ordinary(0x02).build()); }

    void choose(const std::string& path)
    {
        env.ui.choices.emplace_back(path);
        flow.mn_Datei_Click();
    }
    std::map<std::string, Bytes> snapshot() const
    {
        std::map<std::string, Bytes> files;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.is_regular_file()) {
                files[entry.path().filename().string()] = testing::readFile(entry.path().string());
            }
        }
        return files;
    }
    std::string shownDir() const { return env.ui.toUpper(dir.path()); }
    std::string caption(std::size_t count) const
    {
        return "Pfad " + shownDir() + " hat " + std::to_string(count) + " Dateien";
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
};

TEST_F(Stories, ThreeMapsOneTransparentAreListedWithTheirState)
{
    opaque("A.IMG");
    transparent("B.IMG");
    opaque("C.IMG");
    const auto before = snapshot();

    choose(dir.file("B.IMG"));

    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "B.IMG  <T>", "C.IMG  < >"}));
    EXPECT_EQ(env.ui.caption, caption(3));
    EXPECT_TRUE(env.ui.messages.empty());
    EXPECT_FALSE(env.ui.waitVisible);
    EXPECT_EQ(env.ui.processEventsCalls, 1);
    ASSERT_EQ(env.ui.lastFilters.size(), 2U);
    EXPECT_EQ(env.ui.lastFilters[0].description, "Alle files  *.*");
    EXPECT_EQ(env.ui.lastFilters[1].description, "IMGs   *.IMG");
    EXPECT_EQ(env.ui.lastPreselected, 1U);
    EXPECT_EQ(snapshot(), before) << "listing changes nothing on disk";
}

TEST_F(Stories, ATextFileIsReportedOnceAndNeitherListedNorCounted)
{
    opaque("A.IMG");
    put("LIESMICH.TXT", Bytes(300, 'x'));
    transparent("Z.IMG");
    const auto before = snapshot();

    choose(dir.file("A.IMG"));

    EXPECT_EQ(env.ui.messages, (std::vector{Message{"Datei " + shownDir() + "LIESMICH.TXT ist keine IMG  ",
                                                    "F e h l e r", Icon::Warning, Buttons::Ok}}));
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "Z.IMG  <T>"}));
    EXPECT_EQ(env.ui.caption, caption(2));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Stories, AReadOnlyMapAnsweredOkIsListedAndCounted)
{
    opaque("A.IMG");
    testing::makeReadOnly(opaque("R.IMG"));
    const auto before = snapshot();
    env.ui.answers.push_back(Answer::Ok);

    choose(dir.file("A.IMG"));

    ASSERT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.messages[0].title, "Fehler ! (R-Attribut ??)");
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "R.IMG Kein Zugriff möglich"}));
    EXPECT_EQ(env.ui.caption, caption(2));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Stories, AReadOnlyMapAnsweredCancelEmptiesTheWindow)
{
    opaque("A.IMG");
    testing::makeReadOnly(opaque("R.IMG"));
    put("S.IMG", TileBuilder::ordinary(0).treHeaderAt(-1).build());
    const auto before = snapshot();
    env.ui.answers.push_back(Answer::Cancel);

    choose(dir.file("A.IMG"));

    ASSERT_EQ(env.ui.messages.size(), 1U) << "the pass ends at the cancelled file";
    EXPECT_EQ(env.ui.messages[0].prompt, "Kein Zugriff auf " + shownDir() +
                                             "R.IMG\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n "
                                             "(cancel)?   ");
    EXPECT_TRUE(env.ui.list.empty());
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
    EXPECT_FALSE(env.ui.waitVisible);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Stories, TheDialogCancelledBeforeAnyChoiceReportsAnEmptyPath)
{
    opaque("A.IMG");
    flow.mn_Datei_Click();
    EXPECT_EQ(env.ui.messages,
              (std::vector{Message{"", "F e h l e r, keine IMG-Datei!! (not an IMG)", Icon::None, Buttons::Ok}}));
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
    EXPECT_TRUE(env.ui.list.empty());
}

TEST_F(Stories, TheDialogCancelledAfterAChoiceListsThatFolderAgain)
{
    opaque("A.IMG");
    choose(dir.file("A.IMG"));
    transparent("B.IMG");
    flow.mn_Datei_Click();  // Cancel: the dialog still holds A.IMG
    EXPECT_EQ(env.ui.dialogCalls, 2);
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "B.IMG  <T>"}));
    EXPECT_EQ(env.ui.caption, caption(2));
    EXPECT_TRUE(env.ui.messages.empty());
}

TEST_F(Stories, AChosenFileThatIsNoImgIsRefusedWithItsPath)
{
    const std::string text = put("notes.txt", Bytes(10, 'n'));
    choose(text);
    EXPECT_EQ(env.ui.prompts(), std::vector<std::string>{shownDir() + "NOTES.TXT"});
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
}

TEST_F(Stories, LowerCaseNamesAreShownInUpperCaseAndOpenedAsTheyAre)
{
    const std::string karte = opaque("karte.img");
    opaque("Ärger.img");
    choose(karte);
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"KARTE.IMG  < >", "ÄRGER.IMG  < >"}));
    EXPECT_EQ(env.ui.caption, caption(2));

    env.ui.list[0].marked = true;
    flow.cmd_Trnsp_Click(1);
    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"KARTE.IMG  <T>", "ÄRGER.IMG  < >"}));
    EXPECT_FALSE(fs::exists(dir.file("KARTE.IMG"))) << "no upper-case twin is ever created";
}

TEST_F(Stories, MarkAllAndMakeTransparentThenOpaque)
{
    opaque("A.IMG");
    transparent("B.IMG");
    put("M.IMG", TileBuilder::ordinary(0x80).masked().build());
    const auto before = snapshot();
    choose(dir.file("A.IMG"));

    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);

    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  <T>", "B.IMG  <T>", "M.IMG  <T>"}));
    EXPECT_EQ(env.ui.caption, caption(3));
    for (const auto& entry : env.ui.list) {
        EXPECT_FALSE(entry.marked) << "the new listing carries no marks";
    }
    const auto after = snapshot();
    EXPECT_EQ(testing::differingOffsets(before.at("A.IMG"), after.at("A.IMG")), std::vector{kFlagAt});
    EXPECT_EQ(after.at("B.IMG"), before.at("B.IMG"));
    EXPECT_EQ(testing::differingOffsets(before.at("M.IMG"), after.at("M.IMG")), std::vector{kFlagAt});
    EXPECT_EQ(after.at("M.IMG")[kFlagAt], 0x82 ^ 0x5B);

    flow.cmd_Mark_Click();
    flow.cmd_nomark_Click();
    env.ui.list[1].marked = true;
    flow.cmd_Trnsp_Click(0);
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  <T>", "B.IMG  < >", "M.IMG  <T>"}));
    EXPECT_EQ(snapshot().at("B.IMG")[kFlagAt], 0x00);
}

TEST_F(Stories, NothingMarkedChangesNothingButReportsAndRelists)
{
    opaque("A.IMG");
    choose(dir.file("A.IMG"));
    const auto before = snapshot();
    transparent("NEU.IMG");
    flow.cmd_Trnsp_Click(1);
    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "NEU.IMG  <T>"}));
    EXPECT_EQ(snapshot().at("A.IMG"), before.at("A.IMG"));
}

TEST_F(Stories, OnlyTheMarkedOneOfAImgImgAndAImgChanges)
{
    opaque("A.IMG");
    opaque("A.IMG.IMG");
    const auto before = snapshot();
    choose(dir.file("A.IMG"));
    ASSERT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "A.IMG.IMG  < >"}));

    env.ui.list[1].marked = true;
    flow.cmd_Trnsp_Click(1);

    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"A.IMG  < >", "A.IMG.IMG  <T>"}));
    EXPECT_EQ(snapshot().at("A.IMG"), before.at("A.IMG"));
    EXPECT_EQ(testing::differingOffsets(before.at("A.IMG.IMG"), snapshot().at("A.IMG.IMG")), std::vector{kFlagAt});
}

TEST_F(Stories, AFolderNamedLikeAMapWorksLikeAnyOther)
{
    const std::string folder = dir.file("KARTEN.IMG") + "/";
    fs::create_directory(folder);
    put("X.IMG", TileBuilder::ordinary(0).build(), folder);
    put("LIESMICH", TileBuilder::ordinary(0).build(), folder);  // a map without the usual name
    choose(folder + "X.IMG");
    EXPECT_EQ(env.ui.caption, "Pfad " + env.ui.toUpper(folder) + " hat 2 Dateien");
    flow.cmd_Mark_Click();
    flow.cmd_Trnsp_Click(1);
    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.entries(), (std::vector<std::string>{"LIESMICH  <T>", "X.IMG  <T>"}));
}

TEST_F(Stories, AnEmptiedFolderListsNothingWithoutAnError)
{
    const std::string only = opaque("A.IMG");
    choose(only);
    fs::remove(only);
    flow.cmd_Trnsp_Click(1);
    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_TRUE(env.ui.list.empty());
    EXPECT_EQ(env.ui.caption, caption(0));

    choose(only);  // the dialog hands back a file that is gone
    EXPECT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.caption, caption(0));
    EXPECT_TRUE(snapshot().empty()) << "no file is created";
}

TEST_F(Stories, RestartForgetsTheFolderAndTheMarks)
{
    opaque("A.IMG");
    choose(dir.file("A.IMG"));
    flow.cmd_Mark_Click();
    flow.mn_Neustart_Click();
    EXPECT_TRUE(env.ui.list.empty());
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
    EXPECT_TRUE(flow.state().DirPath.empty());

    flow.cmd_Trnsp_Click(1);  // nothing listed: the end is reported, nothing is touched or listed
    EXPECT_EQ(env.ui.messages, std::vector{kFinished});
    EXPECT_EQ(env.ui.dialogCalls, 1);
    EXPECT_TRUE(env.ui.list.empty());
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
    EXPECT_FALSE(env.ui.waitVisible);
}

TEST_F(Stories, CancelInTheBatchEndsItWithoutTheEndMessage)
{
    opaque("A.IMG");
    const std::string ro = opaque("B.IMG");
    opaque("C.IMG");
    choose(dir.file("A.IMG"));
    testing::makeReadOnly(ro);
    const auto before = snapshot();
    env.ui.answers.push_back(Answer::Cancel);
    flow.cmd_Mark_Click();

    flow.cmd_Trnsp_Click(1);

    ASSERT_EQ(env.ui.messages.size(), 1U);
    EXPECT_EQ(env.ui.messages[0].title, "Fehler ! (R-Attribut ??)");
    EXPECT_TRUE(env.ui.list.empty());
    EXPECT_EQ(env.ui.caption, "  P f a d  wählen! (select path)");
    const auto after = snapshot();
    EXPECT_EQ(testing::differingOffsets(before.at("A.IMG"), after.at("A.IMG")), std::vector{kFlagAt});
    EXPECT_EQ(after.at("B.IMG"), before.at("B.IMG"));
    EXPECT_EQ(after.at("C.IMG"), before.at("C.IMG")) << "nothing after the cancelled file is touched";
}

}  // namespace
}  // namespace ks::workflow
