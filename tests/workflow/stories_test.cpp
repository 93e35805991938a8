// The folder workflow as a user lives through it, as short scripts: given
// this folder and these steps, expect these boxes, entries, caption and bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support/scripted_platform.h"
#include "shell/arguments.h"
#include "shell/layout.h"
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

struct Story {
    const char* name;
    const char* files;    // NAME=KIND ...; KIND ",ro" makes it read-only
    const char* script;   // steps separated by ';' (see Stories::step)
    const char* boxes;    // expected boxes, '|' between them (see Stories::box)
    const char* entries;  // expected entries, '|' between them
    const char* caption;  // expected caption; {DIR} is the folder as shown, "restart" the empty window's
    const char* after;    // NAME=KIND of every file whose bytes changed
};

void PrintTo(const Story& s, std::ostream* os) { *os << s.name; }

class Stories : public ::testing::TestWithParam<Story> {
protected:
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string shown(const std::string& name) const { return env.ui.toUpper(path(name)); }

    // One step: choose NAME | cancel | start [ARGUMENTS] (the window's command line, names in the
    // folder; none: the folder itself) | answer cancel | mark all | mark none | mark INDEX | transparent |
    // opaque | restart | put NAME=KIND | rm NAME | rmdir | ro NAME | failflush NAME | fifo NAME |
    // fs MAGIC (the file system's type, hex) | failsync NAME | failclose NAME
    void step(const std::string& text)
    {
        const std::string verb = text.substr(0, text.find(' '));
        const std::string arg = text.size() > verb.size() ? text.substr(verb.size() + 1) : "";
        const std::map<std::string, std::function<void()>> steps = {
            {"choose", [&] { env.ui.choices.emplace_back(path(arg)), flow.mn_Datei_Click(); }},
            {"cancel", [&] { flow.mn_Datei_Click(); }},
            {"start", [&] { const auto given = shell::parseArguments(testing::split(arg, ' '));
                            flow.openPath(path(given.path)); }},
            {"answer", [&] { env.ui.answers.push_back(Answer::Cancel); }},
            {"mark", [&] { arg == "all" ? flow.cmd_Mark_Click() : arg == "none" ? flow.cmd_nomark_Click()
                                                                               : env.ui.listSetMarked(std::stoul(arg), true); }},
            {"transparent", [&] { flow.cmd_Trnsp_Click(1); }}, {"opaque", [&] { flow.cmd_Trnsp_Click(0); }},
            {"restart", [&] { flow.mn_Neustart_Click(); }}, {"put", [&] { testing::putFiles(dir, arg, expected); }},
            {"rm", [&] { fs::remove(testing::u8(path(arg))), expected.erase(arg); }},
            {"rmdir", [&] { fs::remove_all(testing::u8(dir.path())), expected.clear(); }},
            {"ro", [&] { testing::makeReadOnly(path(arg)); }},
#ifndef _WIN32
            {"fifo", [&] { ::mkfifo(path(arg).c_str(), 0644); }},
            {"fs", [&] { env.files.seams().fileSystemType = [type = std::stol(arg, nullptr, 16)](long) { return type; }; }},
            {"failsync", [&] { env.files.seams().syncError = [=, this](const std::string& p) { return p == path(arg) ? EIO : 0; }; }},
            {"failclose", [&] { env.files.seams().closeError = [=, this](const std::string& p) { return p == path(arg) ? EIO : 0; }; }},
#endif
            {"failflush", [&] { env.files.flushFailures[path(arg)] = platform::Failure::DeviceIo; }},
        };
        ASSERT_TRUE(steps.contains(verb)) << "unknown step " << text;
        steps.at(verb)();
    }

    // A box by its kind and argument: finished | notimg NAME | question NAME | notre | trebad | error TEXT |
    // writer NUMBER | chosen [NAME] | folder [NAME] | flushed NAME...
    Message box(const std::string& code) const
    {
        const std::string kind = code.substr(0, code.find(' '));
        const std::string arg = code.size() > kind.size() ? code.substr(kind.size() + 1) : "";
        if (kind == "finished") return {"Transparenz-Änderung beendet ... (finished)", "", Icon::None, Buttons::Ok};
        if (kind == "notimg") return {"Datei " + shown(arg) + " ist keine IMG  ", "F e h l e r", Icon::Warning, Buttons::Ok};
        if (kind == "question")
            return {"Kein Zugriff auf " + shown(arg) + "\r\nWeiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ",
                    "Fehler ! (R-Attribut ??)", Icon::Critical, Buttons::OkCancel};
        if (kind == "notre") return {"TRE nicht gefunden", "", Icon::None, Buttons::Ok};
        if (kind == "trebad") return {"Fehler in TRE", "", Icon::None, Buttons::Ok};
        if (kind == "error") return {arg, "F e h l e r !", Icon::Warning, Buttons::Ok};
        if (kind == "writer") return {"Fehler : " + arg, "", Icon::Warning, Buttons::Ok};
        if (kind == "chosen") return {arg.empty() ? "" : shown(arg), "F e h l e r, keine IMG-Datei!! (not an IMG)", Icon::None, Buttons::Ok};
        if (kind == "folder")
            return {"Pfad " + shown(arg) + " nicht lesbar (cannot read folder)\r\nPfad nicht gefunden (path not found)",
                    "F e h l e r !", Icon::Warning, Buttons::Ok};
        if (kind == "flushed") {
            std::string prompt = "Fehler : 57\r\nFehler beim Lesen/Schreiben des Datenträgers (device I/O error):\r\n";
            std::ranges::for_each(testing::split(arg, ' '), [&](const std::string& name) { prompt += shown(name) + "\r\n"; });
            return {prompt, "", Icon::Warning, Buttons::Ok};
        }
        ADD_FAILURE() << "unknown box " << code;
        return {};
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    Workflow flow{env.platform};
    std::map<std::string, Bytes> expected;  // the bytes each file should have
};

TEST_P(Stories, EndWithTheirBoxesEntriesCaptionAndBytes)
{
    const Story& s = GetParam();
    testing::putFiles(dir, s.files, expected);
    std::ranges::for_each(testing::split(s.script, ';'), [&](const std::string& text) { step(text); });
    const std::vector<std::string> codes = testing::split(s.boxes, '|');
    std::vector<Message> boxes(codes.size());
    std::ranges::transform(codes, boxes.begin(), [&](const std::string& code) { return box(code); });
    EXPECT_EQ(env.ui.messages, boxes);
    EXPECT_EQ(env.ui.entries(), testing::split(s.entries, '|'));
    std::string caption = s.caption == std::string("restart") ? kRestartCaption : s.caption;
    if (const auto at = caption.find("{DIR}"); at != std::string::npos) {
        caption.replace(at, caption.find(' ', at) - at, shown(caption.substr(at + 5, caption.find(' ', at) - at - 5)));
    }
    EXPECT_EQ(env.ui.caption, caption);
    EXPECT_FALSE(env.ui.waitVisible);
    EXPECT_TRUE(env.ui.list.empty() || env.log.back().starts_with("focus on entry")) << "after a listing";
    for (const std::string& file : testing::split(s.after, ' ')) {
        expected[file.substr(0, file.find('='))] = TileBuilder::kind(file.substr(file.find('=') + 1));
    }
    EXPECT_EQ(dir.files(), expected) << "only the flag bytes of switched maps change; no file is created";
}

const Story kStories[] = {
    {"ATextFileIsReportedButNotCountedAReadOnlyMapAnsweredOkIsCounted", "A.IMG=o LIESMICH.TXT=txt R.IMG=o,ro Z.IMG=t",
     "choose A.IMG", "notimg LIESMICH.TXT|question R.IMG", "A.IMG  < >|R.IMG Kein Zugriff möglich|Z.IMG  <T>",
     "Pfad {DIR} hat 3 Dateien", ""},
    {"AReadOnlyMapAnsweredCancelEmptiesTheWindow", "A.IMG=o R.IMG=o,ro S.IMG=nohead", "answer cancel; choose A.IMG",
     "question R.IMG", "", "restart", ""},
    {"TheDialogCancelledBeforeAnyChoice", "A.IMG=o", "cancel", "chosen", "", "restart", ""},
    {"AChosenFileThatIsNoImg", "a.img.txt=txt", "choose a.img.txt", "chosen a.img.txt", "", "restart", ""},
    {"NamesShowInUpperCaseAndFilesOpenAsTheyAre", "karte.img=o ärger.img=o", "choose karte.img; mark 0; transparent",
     "finished", "KARTE.IMG  <T>|ÄRGER.IMG  < >", "Pfad {DIR} hat 2 Dateien", "karte.img=t"},
    {"NothingMarkedChangesNothingButListsAgain", "A.IMG=o", "choose A.IMG; put NEU.IMG=t; transparent", "finished",
     "A.IMG  < >|NEU.IMG  <T>", "Pfad {DIR} hat 2 Dateien", ""},
    {"OnlyTheMarkedOneOfAImgAndAImgImg", "A.IMG=o A.IMG.IMG=o", "choose A.IMG; mark 1; transparent", "finished",
     "A.IMG  < >|A.IMG.IMG  <T>", "Pfad {DIR} hat 2 Dateien", "A.IMG.IMG=t"},
    {"AFolderNamedLikeAMap", "KARTEN.IMG/X.IMG=o KARTEN.IMG/LIESMICH=o", "choose KARTEN.IMG/X.IMG; mark all; transparent",
     "finished", "LIESMICH  <T>|X.IMG  <T>", "Pfad {DIR}KARTEN.IMG/ hat 2 Dateien",
     "KARTEN.IMG/X.IMG=t KARTEN.IMG/LIESMICH=t"},
    {"AnEmptiedFolderListsNothing", "A.IMG=o", "choose A.IMG; rm A.IMG; transparent", "finished", "",
     "Pfad {DIR} hat 0 Dateien", ""},
    {"AVanishedFolderIsReportedAndForgotten", "A.IMG=o", "choose A.IMG; rmdir; transparent", "finished|folder", "",
     "restart", ""},
    {"AMissingFolderGivenAtStart", "", "start nowhere/", "folder nowhere/", "", "restart", ""},
    {"ANonMapFileGivenAtStartCountsAsAChoiceOfItsFolder", "A.IMG=o LIESMICH.TXT=txt", "start LIESMICH.TXT; cancel",
     "notimg LIESMICH.TXT|notimg LIESMICH.TXT", "A.IMG  < >", "Pfad {DIR} hat 1 Dateien", ""},
    {"AFileChosenAfterAFolderGivenAtStartIsListed", "A.IMG=o SUB/B.IMG=t", "start SUB/; choose A.IMG", "",
     "A.IMG  < >", "Pfad {DIR} hat 1 Dateien", ""},
    {"ADropAfterAChoiceIsTheLastChoice", "A.IMG=o SUB/B.IMG=t", "choose A.IMG; start SUB/; cancel", "", "B.IMG  <T>",
     "Pfad {DIR}SUB/ hat 1 Dateien", ""},
    {"AFolderGivenAtStartWithoutFinalSeparatorEvenNamedLikeAnOption", "A.IMG=o --help/B.IMG=t", "start -- --help", "",
     "B.IMG  <T>", "Pfad {DIR}--help/ hat 1 Dateien", ""},
    {"RestartForgetsTheFolderAndTheMarks", "A.IMG=o", "choose A.IMG; mark all; restart; transparent", "finished", "",
     "restart", ""},
    {"CancelInTheBatchEndsItAfterFlushingWhatWasWrittenAndLeavesNoTraceInTheNextListing",
     "A.IMG=o B.IMG=o C.IMG=o N/A.TXT=txt N/B.IMG=o",
     "choose A.IMG; ro B.IMG; failflush A.IMG; answer cancel; mark all; transparent; choose N/B.IMG",
     "question B.IMG|flushed A.IMG|notimg N/A.TXT", "B.IMG  < >", "Pfad {DIR}N/ hat 1 Dateien", "A.IMG=t"},
    {"ACombinedContainerShowsHowManyOfItsMapsAreTransparentAndSwitchesThemAll", "GMAPSUPP.IMG=mixed Z.IMG=mixed",
     "choose Z.IMG; mark 1; transparent", "finished", "GMAPSUPP.IMG  <T 1/3>|Z.IMG  <T>", "Pfad {DIR} hat 2 Dateien",
     "Z.IMG=all"},
    {"BrokenMapsAreReportedOnceEachAndNeverWritten",
     "A.IMG=o EMPTY.IMG=empty NOHEAD.IMG=nohead NOTRE.IMG=notre OVER.IMG=overflow", "choose A.IMG; mark all; opaque",
     "notimg EMPTY.IMG|trebad|notre|error Überlauf (overflow)|trebad|notre|error Überlauf (overflow)|finished|"
     "notimg EMPTY.IMG|trebad|notre|error Überlauf (overflow)",
     "A.IMG  < >|NOHEAD.IMG  <?>|NOTRE.IMG  <?>|OVER.IMG  <?>", "Pfad {DIR} hat 4 Dateien", ""},
    {"FilesThatChangeBetweenListingAndBatch", "A.IMG=o G.IMG=o R.IMG=o T.IMG=o",
     "choose A.IMG; rm G.IMG; ro R.IMG; put T.IMG=txt; mark all; transparent",
     "error Datei nicht gefunden (file not found)|question R.IMG|writer 75|notimg T.IMG|writer 75|finished|"
     "question R.IMG|notimg T.IMG",
     "A.IMG  <T>|R.IMG Kein Zugriff möglich", "Pfad {DIR} hat 2 Dateien", "A.IMG=t"},
    {"AFailedFlushNamesItsFileBeforeTheEnd", "A.IMG=o B.IMG=o", "choose A.IMG; failflush B.IMG; mark all; transparent",
     "flushed B.IMG|finished", "A.IMG  <T>|B.IMG  <T>", "Pfad {DIR} hat 2 Dateien", "A.IMG=t B.IMG=t"},
    {"MarkAllMakesTilesMaskedTilesBundlesAndTreFilesAfterThemTransparent",
     "A.IMG=o B.IMG=t M.IMG=m N.TRE=tre K.gmap/I.xml=txt K.gmap/P/1/1.TRE=tre K.gmap/P/2/2.tre=tret",
     "choose A.IMG; mark all; transparent", "finished", "A.IMG  <T>|B.IMG  <T>|K.GMAP  <T>|M.IMG  <T>|N.TRE  <T>",
     "Pfad {DIR} hat 5 Dateien", "A.IMG=t M.IMG=M N.TRE=tret K.gmap/P/1/1.TRE=tret"},
    {"BundlesWithoutTreOrAccessAndACutTre", "A.TRE=cut E.gmap/I.xml=txt K.gmap/P/1/1.TRE=tre,ro K.gmap/P/2/2.TRE=tre,ro",
     "start K.gmap", "trebad|notre|question K.gmap/P/1/1.TRE", "A.TRE  <?>|E.GMAP  <?>|K.GMAP Kein Zugriff möglich",
     "Pfad {DIR} hat 3 Dateien", ""},
    {"TheContourFamilyOfARealCardAloneBecomesTheBuildMadeTransparent", "GMAPSUPP.IMG=cardo",
     "choose GMAPSUPP.IMG; mark 1; transparent", "finished", "GMAPSUPP.IMG [BASISKARTE]  < >|GMAPSUPP.IMG [HOEHENLINIEN]  <T>",
     "Pfad {DIR} hat 1 Dateien", "GMAPSUPP.IMG=card"},
    {"AJoinedCardGoneReadOnlyAsksOnceForAllItsEntries", "A.IMG=o J.IMG=fam", "choose A.IMG; ro J.IMG; mark all; opaque",
     "question J.IMG|writer 75|finished|question J.IMG", "A.IMG  < >|J.IMG Kein Zugriff möglich", "Pfad {DIR} hat 2 Dateien",
     ""},
#ifndef _WIN32  // things that are no regular files, and names Windows does not allow
    {"LinksPipesAndFoldersInTheFolder",
     "A.IMG=o L.IMG=o SUB/IN.IMG=o LINK.IMG=@A.IMG DANGLING.IMG=@NOWHERE.IMG LOOP.IMG=@LOOP.IMG DIRLINK.IMG=@SUB",
     "fifo FIFO.IMG; choose A.IMG; rm L.IMG; fifo L.IMG; mark all; transparent",
     "question L.IMG|writer 75|finished", "A.IMG  <T>|LINK.IMG  <T>", "Pfad {DIR} hat 2 Dateien", "A.IMG=t"},
    {"NamesWithControlCharactersShowEscapedAfterUpperCasing",
     "a\x1b[2J.img=o a\\nb.img=o a\nb.img=o t\t\xe2\x80\xae\x7f\xc2\x9b\xe2\x80\xa8.img=o C.TXT=txt", "choose a\nb.img",
     "notimg C.TXT", "A\\\\NB.IMG  < >|A\\nB.IMG  < >|A\\x1b[2J.IMG  < >|T\\t\\xe2\\x80\\xae\\x7f\\xc2\\x9b\\xe2\\x80\\xa8.IMG  < >",
     "Pfad {DIR} hat 4 Dateien", ""},
    {"OnAFuseMediumEachFileIsFlushedOnItsOwnAndAFailedCloseCounts", "A.IMG=o B.IMG=o C.IMG=o",
     "choose A.IMG; fs 65735546; failsync B.IMG; failclose C.IMG; mark all; transparent", "flushed B.IMG C.IMG|finished",
     "A.IMG  <T>|B.IMG  <T>|C.IMG  <T>", "Pfad {DIR} hat 3 Dateien", "A.IMG=t B.IMG=t C.IMG=t"},
    {"OnExt4OneSweepCoversTheBatchAndEveryCloseCounts", "A.IMG=o B.IMG=o C.IMG=o",
     "choose A.IMG; fs EF53; failsync B.IMG; failclose C.IMG; mark all; transparent", "flushed C.IMG|finished",
     "A.IMG  <T>|B.IMG  <T>|C.IMG  <T>", "Pfad {DIR} hat 3 Dateien", "A.IMG=t B.IMG=t C.IMG=t"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Window, Stories, ::testing::ValuesIn(kStories),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Stories, ProbesCostTwoReadsAndABatchFlushesOnceBeforeItsEndMessage)
{
    testing::putFiles(dir, "A.IMG=o B.IMG=t", expected);
    std::ranges::for_each(testing::split("choose B.IMG; mark all; transparent", ';'), [&](auto& text) { step(text); });
    const auto probe = [](const std::string& n) { return "open " + n + "|read " + n + "|read " + n + "|close " + n + "|"; };
    const std::string listing = "wait shown|events|" + probe("A.IMG") + probe("B.IMG") + "wait hidden|focus on entry 1|";  // on the file chosen
    EXPECT_EQ(env.log, testing::split("dialog at |" + listing + "wait shown|events|" + probe("A.IMG") +
                                          "open A.IMG|read A.IMG|write A.IMG|" + probe("B.IMG") +
                                          "open B.IMG|read B.IMG|close B.IMG|flush A.IMG|close A.IMG|wait hidden|"
                                          "box Transparenz-Änderung beendet ... (finished)|" + listing, '|'));
    step("cancel");
    EXPECT_EQ(env.log.at(env.log.size() - 13), "dialog at " + path("B.IMG"));
}

TEST_F(Stories, TheDemoFolderListsEveryKindOfMapWithoutABoxAndKeepsTheBoxesInItsSubfolder)
{
    testing::putDemoFolder(dir.path());
    step("start");
    EXPECT_EQ(env.ui.messages, std::vector<Message>{});
    EXPECT_EQ(env.ui.entries(), testing::split("63240001.IMG  < >|63240002.IMG  < >|63240003.IMG  <T>|CONTOURS.GMAP  <T 1/2>|"
                                               "GMAPSUPP.IMG  <T 1/3>|HOEHEN01.IMG  <T>|HOEHEN02.IMG  < >|HÖHENLINIEN_"
                                               "SCHWARZWALD_NORD_SEHR_LANGER_DATEINAME_2024.IMG  <T>|MASKIERT.IMG  <T>", '|'));
    step("start Fehlerbeispiele/");
    EXPECT_EQ(env.ui.messages, (std::vector{box("notimg Fehlerbeispiele/LIESMICH.TXT"), box("notre"),
                                            box("question Fehlerbeispiele/SCHREIBGESCHUETZT.IMG")}));
}

TEST(Label4, BreaksBetweenWordsWithNoLineStartingWithTheSpaceItBrokeAt)
{
    const auto label = std::ranges::find(shell::kControls, std::string_view("Label4"), &shell::Control::name);
    EXPECT_EQ(shell::breakAtSpaces(label->text, [](std::string_view line) { return line.size() <= 30; }),
              (std::vector<std::string_view>{"Auswahl /Markieren: durch", "Mausklick oder navigieren mit", "Pfeiltasten und EIN/AUS über", "Leertaste"}));
}

TEST_F(Stories, ThreeHundredTilesAreAllSwitchedWithTwentyDescriptors)
{
    for (int i = 100; i < 400; ++i) {
        testing::putFiles(dir, "T" + std::to_string(i) + ".IMG=o", expected);
    }
    env.files.openLimit = 20;  // the waiting files take them all: then they are flushed, and the batch goes on
    step("choose T100.IMG"), step("mark all"), step("transparent");
    EXPECT_EQ(env.ui.messages, std::vector{box("finished")});
    std::ranges::for_each(expected, [](auto& file) { file.second = TileBuilder::kind("t"); });
    EXPECT_EQ(dir.files(), expected);
}

}  // namespace
}  // namespace ks::workflow
