// imgflag as its users meet it: command line in, report, messages, exit
// status and the bytes on disk out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

#include <nlohmann/json.hpp>

#include "cli/imgflag.h"
#include "support/scripted_platform.h"
#include "support/tile_builder.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace ks::cli {
namespace {

using testing::Bytes;
using testing::TileBuilder;

struct CliCase {
    const char* name;
    const char* files;  // NAME=KIND ... (see TileBuilder::kind); ",ro" makes it read-only
    std::vector<std::string> args;
    int status;
    const char* out;  // {D} stands for the folder, ending with its separator
    const char* err;
    const char* after = "";  // NAME=KIND of every file whose bytes changed
    const char* log = "";    // if given: every open, read, write, flush and close, '|' between them
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

// text with {D} replaced by folder and the '/' of the path after it by the system's separator; in
// JSON with the separators doubled.
std::string expand(std::string text, const std::string& folder)
{
    const bool json = text.starts_with("{\n");
    for (auto at = text.find("{D}"); at != std::string::npos; at = text.find("{D}", at)) {
        std::string path = folder + text.substr(at + 3, text.find_first_of("\t\n\"", at) - at - 3);
        std::replace(path.begin(), path.end(), '/', platform::kPathSeparators.front());
        const bool doubled = json && platform::kPathSeparators.front() == '\\';
        for (auto slash = path.find('\\'); doubled && slash != std::string::npos; slash = path.find('\\', slash + 2)) {
            path.insert(slash, 1, '\\');
        }
        text.replace(at, text.find_first_of("\t\n\"", at) - at, path);
        at += path.size();
    }
    return text;
}

class Imgflag : public ::testing::TestWithParam<CliCase> {
protected:
    // Runs imgflag with args after "imgflag"; returns its exit status.
    int imgflag(std::vector<std::string> args)
    {
        args.insert(args.begin(), "imgflag");
        return run(args, out, err, env.files);
    }

    testing::TempDir dir;
    testing::ScriptedPlatform env;
    std::ostringstream out, err;
};

const std::string kFolder = "a.img=o b.img=t c.img=mixed d.txt=txt e.img=o,ro k/i.img=t";  // k/ only with -r
#define KS_JSON_HEAD "{\n  \"command\": \"status\",\n  \"dry_run\": false,\n  \"files\": [\n    {\n"
#define KS_JSON_FILE_END "\n      \"draw_priority_min\": null,\n      \"draw_priority_max\": null\n    }"
#define KS_JSON_TAIL "\n  ]\n}\n"
const std::string kRefused = "imgflag: {D}e.img: read-only\n";

const CliCase kCases[] = {
    {"TransparentSwitchesEveryMapOfEveryFile", kFolder.c_str(), {"transparent", "{D}"}, 1,
     "transparent\t{D}a.img\tchanged\ntransparent\t{D}b.img\tunchanged\ntransparent\t{D}c.img\tchanged\n"
     "not-img\t{D}d.txt\nno-access\t{D}e.img\n",
     kRefused.c_str(), "a.img=t c.img=all"},
    {"DryRunWritesNothing", kFolder.c_str(), {"opaque", "--dry-run", "{D}"}, 1,
     "opaque\t{D}a.img\tunchanged\nopaque\t{D}b.img\tchanged\nopaque\t{D}c.img\tchanged\nnot-img\t{D}d.txt\n"
     "no-access\t{D}e.img\n",
     "imgflag: {D}e.img: read-only\nimgflag: dry run, nothing was written\n"},
    {"QuietPrintsOnlyProblemsButSwitches", kFolder.c_str(), {"-q", "opaque", "{D}"}, 1,
     "not-img\t{D}d.txt\nno-access\t{D}e.img\n", kRefused.c_str(), "b.img=o c.img=none"},
    {"BrokenMapsAreReportedAndLeftAlone", "1.img=empty 2.img=notre 3.img=nohead 4.img=overflow 6.img=hlen0 7.img=short",
     {"transparent", "{D}", "{D}5.img"}, 1,
     "not-img\t{D}1.img\nno-tre\t{D}2.img\nbad-tre\t{D}3.img\nerror\t{D}4.img\nnot-img\t{D}6.img\n"
     "bad-tre\t{D}7.img\nerror\t{D}5.img\n",
     "imgflag: {D}4.img: overflow\nimgflag: {D}5.img: file not found\n"},
    {"SubfoldersOnlyWithRecursion", "m.img=o k/i.img=t k/z/d.img=mixed z.img=o", {"-r", "status", "{D}"}, 0,
     "transparent\t{D}k/i.img\nmixed 1/3 transparent\t{D}k/z/d.img\nopaque\t{D}m.img\nopaque\t{D}z.img\n", ""},
    {"AChangeRereadsTheHeaderRightBeforeItsOneWriteAndOneFlush", "t.img=o", {"transparent", "t.img"}, 0,
     "transparent\tt.img\tchanged\n", "", "t.img=t",
     "open t.img|read t.img|read t.img|read t.img|write t.img|flush t.img|close t.img"},
    {"DoubleDashEndsTheOptions", "--help=o", {"status", "--", "--help"}, 0, "opaque\t--help\n", ""},
    {"JsonCarriesTheSameReportWithTheLowestAndHighestPriority", "c.img=spread d.txt=txt", {"--json", "status", "{D}c.img", "{D}d.txt"}, 1,
     KS_JSON_HEAD "      \"path\": \"{D}c.img\",\n      \"state\": \"mixed\",\n      \"maps\": 2,\n      \"transparent_maps\": 1,\n"
     "      \"draw_priority_min\": 12,\n      \"draw_priority_max\": 31\n    },\n    {\n      \"path\": \"{D}d.txt\",\n"
     "      \"state\": \"not-img\"," KS_JSON_FILE_END KS_JSON_TAIL, ""},
    {"PrioritiesAreReportedAlsoThroughTheMask", "a.img=p b.img=o c.TRE=tret m.img=mp", {"priority", "{D}"}, 0,
     "opaque\t{D}a.img\tpriority 25\nopaque\t{D}b.img\ntransparent\t{D}c.TRE\tpriority 25\nopaque\t{D}m.img\tpriority 25\n", ""},
    {"PrioritySetWhereItDiffersAlsoTo0AndThroughTheMask", "a.img=p b.img=p0 c.TRE=tre m.img=mp", {"priority", "--set", "0", "{D}"}, 0,
     "opaque\t{D}a.img\tchanged\tpriority 0\nopaque\t{D}b.img\tunchanged\tpriority 0\n"
     "opaque\t{D}c.TRE\tchanged\tpriority 0\nopaque\t{D}m.img\tchanged\tpriority 0\n", "", "a.img=p0 c.TRE=tre0 m.img=mp0"},
    {"APrioritySetWritesNoFileOfABundleWithAMapWithoutTheFieldOrAByte",
     "N.gmap/P/1/1.TRE=tre N.gmap/P/2/2.TRE=tre40 W.gmap/P/1/1.TRE=tre W.gmap/P/2/2.TRE=trew", {"priority", "--set", "31", "{D}"}, 1,
     "error\t{D}N.gmap\tpriority 25\nerror\t{D}W.gmap\tpriority 25-281\n",
     "imgflag: {D}N.gmap: a map has no draw priority field; nothing was written\n"
     "imgflag: {D}W.gmap: a map's draw priority has non-zero upper bytes; nothing was written\n"},
    {"ABundleIsOneEntryThatRecursionLeavesWhole", "a.img=o K.gmap/I.xml=txt K.gmap/P/1/1.TRE=tre K.gmap/P/2/2.tre=tret",
     {"-r", "transparent", "{D}"}, 0, "transparent\t{D}K.gmap\tchanged\tpriority 25\ntransparent\t{D}a.img\tchanged\n", "",
     "a.img=t K.gmap/P/1/1.TRE=tret"},
    {"BrokenBundlesAndTreFilesAndFilesNamedLikeBundles", "c.tre=cut E.gmap/I.xml=txt F.gmap=o g.gmap=txt K.gmap/P/1/1.TRE=tre K.gmap/P/2/2.TRE=tre,ro",
     {"opaque", "{D}", "{D}K.gmap/"}, 1, "no-tre\t{D}E.gmap\nopaque\t{D}F.gmap\tunchanged\nno-access\t{D}K.gmap\nbad-tre\t{D}c.tre\n"
     "not-img\t{D}g.gmap\nno-access\t{D}K.gmap/\n", "imgflag: {D}K.gmap: P/2/2.TRE: read-only\nimgflag: {D}K.gmap/: P/2/2.TRE: read-only\n"},
    {"MapsListsEveryMapWithItsFamilyNamesEscaped", "a.TRE=tre j.img=fam x.img=famx", {"maps", "{D}"}, 0,
     "opaque\t{D}a.TRE\t-\t-\t-\t-\tpriority 25\nopaque\t{D}j.img\t63300000\t7\tFAMILIE 7\tKarte 0\t-\n"
     "opaque\t{D}j.img\t63300001\t7\tFAMILIE 7\tKarte 1\t-\ntransparent\t{D}j.img\t63300002\t9\tFAMILIE 9\tKarte 2\t-\n"
     "transparent\t{D}j.img\t63300003\t9\tFAMILIE 9\tKarte 3\t-\n"
     "opaque\t{D}x.img\t63300000\t7\t\\x1b[2J\\xe2\\x80\\xae7\tKarte 0\t-\n", ""},
    {"FamilySwitchesOnlyItsMapsAndLeavesAFileWithoutIt", "a.img=o j.img=fam", {"transparent", "--family", "familie 7", "{D}"},
     0, "no-family\t{D}a.img\ntransparent\t{D}j.img\tchanged\n", "", "j.img=famt"},
    {"FamiliesByIdAddUp", "j.img=fam", {"status", "--family", "7", "--family", "9", "{D}j.img"}, 0,
     "mixed 2/4 transparent\t{D}j.img\n", ""},
    {"ContourFamilyOfARealCardBecomesTheBuildMadeTransparent", "j.img=cardo",
     {"transparent", "--family", "Hoehenlinien", "{D}j.img"}, 0, "transparent\t{D}j.img\tchanged\tpriority 31\n", "", "j.img=card"},
    {"ContourFamilyOfARealCardGoesOpaqueInItsTwoFlagBytes", "j.img=card", {"opaque", "--family", "4712", "{D}j.img"}, 0,
     "opaque\t{D}j.img\tchanged\tpriority 31\n", "", "j.img=cardo"},
#ifndef _WIN32  // names Windows does not allow
    {"NamesCannotFakeALineInTheReportOrAMessage",
     "x\ntransparent\tother.img\tchanged=o e\x1b[2J\x7f\xc2\x9b\\\xe2\x80\xae\xe2\x81\xa9\xe2\x80\xa8.img=t o\xc0\xaf\n.img=overflow",
     {"status", "{D}"}, 1,
     "transparent\t{D}e\\x1b[2J\\x7f\\xc2\\x9b\\\\\\xe2\\x80\\xae\\xe2\\x81\\xa9\\xe2\\x80\\xa8.img\n"
     "error\t{D}o\\xc0\\xaf\\n.img\nopaque\t{D}x\\ntransparent\\tother.img\\tchanged\n",
     "imgflag: {D}o\\xc0\\xaf\\n.img: overflow\n"},
    {"JsonEscapesWhatCouldHideOrFakeTextAndKeepsTheBytesOfANameThatIsNoUtf8",
     "a\x7f\xc2\x9b\xc2\x85\xe2\x80\xae\xe2\x80\xa8\xe2\x81\xa6.img=o a\xff.img=o", {"--json", "status", "."}, 0,
     KS_JSON_HEAD "      \"path\": \"./a\\u007f\\u009b\\u0085\\u202e\\u2028\\u2066.img\",\n      \"state\": \"opaque\",\n"
     "      \"maps\": 1,\n      \"transparent_maps\": 0," KS_JSON_FILE_END ",\n    {\n      \"path\": \"./a\ufffd.img\",\n"
     "      \"path_bytes\": \"2e2f61ff2e696d67\",\n      \"state\": \"opaque\",\n      \"maps\": 1,\n"
     "      \"transparent_maps\": 0," KS_JSON_FILE_END KS_JSON_TAIL, ""},
    {"ABundleNamedTwiceOrThroughALinkIsSwitchedOnceWithOneOutcome", "K.gmap/P/1/1.TRE=tre L.gmap=@K.gmap",
     {"transparent", "{D}K.gmap", "{D}L.gmap", "{D}K.gmap/"}, 0,
     "transparent\t{D}K.gmap\tchanged\tpriority 25\ntransparent\t{D}L.gmap\tchanged\tpriority 25\n"
     "transparent\t{D}K.gmap/\tchanged\tpriority 25\n", "", "K.gmap/P/1/1.TRE=tret"},
#endif
    {"Version", "", {"--version"}, 0, "imgflag " KS_EXPECTED_VERSION "\n", ""},
    {"LeadingZerosOfNAreDecimal", "a.img=p b.img=p", {"priority", "--set", "010", "{D}a.img"}, 0,
     "opaque\t{D}a.img\tchanged\tpriority 10\n", "", "a.img=p10"},
    {"EightWithALeadingZeroIsEight", "a.img=p", {"priority", "--set", "08", "{D}a.img"}, 0,
     "opaque\t{D}a.img\tchanged\tpriority 8\n", "", "a.img=p8"},
#define KS_TRY_HELP(command) "\nTry 'imgflag " command "--help' for more information.\n"  // ends every usage error
#define KS_COMMANDS "; the commands are status, transparent, opaque, priority and maps" KS_TRY_HELP("")
    {"NoCommand", "", {}, 2, "", "imgflag: no command given" KS_COMMANDS},
    {"UnknownCommand", "a.img=o", {"flip", "{D}a.img"}, 2, "", "imgflag: unknown command 'flip'" KS_COMMANDS},
    {"NoPath", "", {"opaque"}, 2, "",
     "imgflag: opaque: no PATH given; name at least one map file or folder" KS_TRY_HELP("opaque ")},
    {"EmptyPath", "a.img=o", {"status", "{D}a.img", ""}, 2, "",
     "imgflag: status: an empty PATH names no file; name a map file or folder" KS_TRY_HELP("status ")},
    {"UnknownOption", "a.img=t", {"opaque", "--force", "{D}a.img"}, 2, "",
     "imgflag: opaque: unknown option '--force'; the options are --family, --json, --dry-run, -q and -r" KS_TRY_HELP("opaque ")},
#define KS_N_IS "is no draw priority; N is a whole number from 0 to 31, in decimal digits" KS_TRY_HELP("priority ")
    {"PriorityOutOfRange", "a.img=p", {"priority", "--set", "32", "{D}a.img"}, 2, "",
     "imgflag: priority: --set '32' " KS_N_IS},
    {"PriorityBeyondAnyInteger", "a.img=p", {"priority", "--set", "99999999999999999999", "{D}a.img"}, 2, "",
     "imgflag: priority: --set '99999999999999999999' " KS_N_IS},
    {"PriorityInHex", "a.img=p", {"priority", "--set", "0x1f", "{D}a.img"}, 2, "", "imgflag: priority: --set '0x1f' " KS_N_IS},
    {"PriorityWithABlank", "a.img=p", {"priority", "--set", " 5", "{D}a.img"}, 2, "", "imgflag: priority: --set ' 5' " KS_N_IS},
    {"PriorityWithASign", "a.img=p", {"priority", "--set", "+5", "{D}a.img"}, 2, "", "imgflag: priority: --set '+5' " KS_N_IS},
    {"PriorityWithoutAValue", "a.img=p", {"priority", "{D}a.img", "--set"}, 2, "",
     "imgflag: priority: --set needs one value N; N is a whole number from 0 to 31, in decimal digits"
     KS_TRY_HELP("priority ")},
};

TEST_P(Imgflag, AnswersACommandLineWithItsReportStatusAndBytes)
{
    const CliCase& c = GetParam();
    std::map<std::string, Bytes> expected;
    testing::putFiles(dir, c.files, expected);
    std::vector<std::string> args(c.args.size());
    std::ranges::transform(c.args, args.begin(), [&](const std::string& arg) { return expand(arg, dir.path()); });
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(testing::u8(dir.path()));  // where a name without folder is
    EXPECT_EQ(imgflag(args), c.status);
    std::filesystem::current_path(home);
    EXPECT_EQ(out.str(), expand(c.out, dir.path()));
    EXPECT_EQ(err.str(), expand(c.err, dir.path()));
    for (const std::string& file : testing::split(c.after, ' ')) {
        expected[file.substr(0, file.find('='))] = TileBuilder::kind(file.substr(file.find('=') + 1));
    }
    EXPECT_EQ(dir.files(), expected) << "only the flag bytes of switched maps change; no file is created";
    EXPECT_EQ(env.count("write") > 0, *c.after != '\0') << "a file is written only where a bit changes";
    EXPECT_EQ(env.count("flush"), env.count("write") > 0 ? 1 : 0);
    EXPECT_EQ(*c.log ? env.log : testing::Log{}, testing::split(c.log, '|'));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Imgflag, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Imgflag, JsonGivesEachFamilyOfAJoinedCardAndEachMap)
{
    const std::string card = dir.put("j.img", TileBuilder::kind("card"));
    ASSERT_EQ(imgflag({"--json", "status", card}), kExitOk);
    EXPECT_EQ(nlohmann::ordered_json::parse(out.str())["files"][0]["families"].dump(),
              R"([{"id":4711,"name":"Basiskarte","maps":2,"transparent_maps":0,"draw_priority_min":25,)"
              R"("draw_priority_max":25},{"id":4712,"name":"Hoehenlinien","maps":2,"transparent_maps":2,)"
              R"("draw_priority_min":31,"draw_priority_max":31}])");
    out.str("");
    ASSERT_EQ(imgflag({"--json", "maps", "--family", "Basiskarte", card}), kExitOk);
    EXPECT_EQ(nlohmann::ordered_json::parse(out.str())["files"][0]["maps"][1].dump(),
              R"({"state":"opaque","map_number":63290001,"family_id":4711,"family_name":"Basiskarte",)"
              R"("description":"Basiskarte","draw_priority":25})");
    EXPECT_EQ(testing::readFile(card), TileBuilder::kind("card"));
}

TEST_F(Imgflag, AFailedWriteOrFlushMakesTheLineAnError)
{
    const std::string one = dir.put("one.img", TileBuilder::kind("o")), fine = dir.put("z.img", TileBuilder::kind("o"));
    const std::string three = dir.put("three.img", TileBuilder::combined({0, 0, 0}).build());
    const std::string bundle = dir.file("B.gmap"), second = dir.put("B.gmap/P/2/2.TRE", TileBuilder::kind("tre"));
    dir.put("B.gmap/P/1/1.TRE", TileBuilder::kind("tre"));
    env.files.failWrites({1, 3, 5});  // one.img's write, three.img's second (its first map gets through), 2.TRE's
    EXPECT_EQ(imgflag({"transparent", one, three, bundle}), kExitProblem);
    EXPECT_EQ(out.str(), "error\t" + one + "\nerror\t" + three + "\nerror\t" + bundle + "\tpriority 25\n");
    EXPECT_EQ(err.str(), "imgflag: " + one + ": disk full\nimgflag: " + three +
                             ": writing failed, the file may be partly switched: disk full\nimgflag: " + bundle + ": " +
                             second.substr(bundle.size() + 1) + ": writing failed, the bundle may be partly switched: disk full\n");
    EXPECT_EQ(testing::readFile(one), TileBuilder::kind("o"));
    EXPECT_EQ(testing::readFile(three), TileBuilder::combined({2, 0, 0}).build());
    EXPECT_EQ(testing::readFile(second), TileBuilder::kind("tre"));

    out.str(""), err.str(""), env.log.clear();
    const std::string link = dir.file("link.img");
    std::filesystem::create_hard_link(testing::u8(fine), testing::u8(link));
    env.files.flushFailures[fine] = platform::Failure::Unconfirmed;
    EXPECT_EQ(imgflag({"transparent", fine, link, fine}), kExitProblem);
    EXPECT_EQ(out.str(), "error\t" + fine + "\nerror\t" + link + "\nerror\t" + fine + "\n") << "one file, one outcome";
    EXPECT_EQ(std::pair(env.count("write"), testing::readFile(link)), std::pair(1L, TileBuilder::kind("t")));

    out.str(""), err.str("");  // a bundle: the TRE file that failed, and what became of the others
    const std::string b = dir.file("B.gmap"), tre1 = dir.put("B.gmap/P/1/1.TRE", TileBuilder::kind("tre")),
                      tre2 = dir.put("B.gmap/P/2/2.TRE", TileBuilder::kind("tre"));
    env.files.flushFailures[tre2] = platform::Failure::Unconfirmed;
    const std::string in2 = std::filesystem::path("P/2/2.TRE").make_preferred().string();  // as a message names it
    EXPECT_EQ(imgflag({"transparent", b}), kExitProblem);
    EXPECT_EQ(out.str() + err.str(), "error\t" + b + "\tpriority 25\nimgflag: " + b + ": " + in2 +
                                         ": the new flag byte may not have reached the medium, the bundle may be partly "
                                         "switched: the medium reported a write error without saying for which file\n");
    EXPECT_EQ(testing::readFile(tre2), TileBuilder::kind("tret"));

    out.str(""), err.str("");  // 2.TRE cut short between the look and the write, after 1.TRE was written
    Bytes cut = TileBuilder::kind("tret");
    cut.resize(0x41);  // the flag byte is there, the draw priority not
    env.files.beforeWrite = [&](const std::string&) { std::filesystem::resize_file(testing::u8(tre2), cut.size()); };
    EXPECT_EQ(imgflag({"priority", "--set", "31", b}), kExitProblem);
    EXPECT_EQ(err.str(), "imgflag: " + b + ": " + in2 + ": a map has no draw priority field; the bundle may be partly "
                         "switched\n");
    EXPECT_EQ(std::pair(testing::readFile(tre1), testing::readFile(tre2)),
              std::pair(TileBuilder::treFile(2, 31), cut));
}

TEST_F(Imgflag, ThreeHundredTilesAreAllSwitchedWithTwentyDescriptors)
{
    for (int i = 0; i < 300; ++i) {
        dir.put(std::to_string(std::min(i / 20, 13)) + "/t" + std::to_string(i) + ".img", TileBuilder::kind("o"));
    }
    // 13 folders of 20 and one of 40: the waiting files take them all, and a listing or an open fails; then they
    // are flushed, and the run goes on.
    env.files.openLimit = 20;
    EXPECT_EQ(imgflag({"-q", "-r", "transparent", dir.path()}), kExitOk);
    EXPECT_EQ(out.str() + err.str(), "");
    const auto files = dir.files();
    EXPECT_EQ(std::ranges::count(files, TileBuilder::kind("t"), &decltype(files)::value_type::second), 300);
}

TEST_F(Imgflag, ABundleOfMoreTreFilesThanDescriptorsAfterTwentyWaitingTilesIsSwitchedWhole)
{
    for (int i = 0; i < 20; ++i) {
        dir.put("t" + std::to_string(i) + ".img", TileBuilder::kind("o"));
    }
    for (int i = 0; i < 50; ++i) {
        dir.put("z.gmap/P/" + std::to_string(i) + "/" + std::to_string(i) + ".TRE", TileBuilder::kind("tre"));
    }
    env.files.openLimit = 20;  // the waiting tiles hold them all when the bundle is looked at
    EXPECT_EQ(imgflag({"-q", "transparent", dir.path()}), kExitOk);
    EXPECT_EQ(out.str() + err.str(), "");
    const auto files = dir.files();
    EXPECT_EQ(std::ranges::count(files, TileBuilder::kind("tret"), &decltype(files)::value_type::second), 50);
    EXPECT_EQ(std::ranges::count(files, TileBuilder::kind("t"), &decltype(files)::value_type::second), 20);
}

#ifdef __linux__
TEST_F(Imgflag, StatusLeavesAnotherProgramsReadLeaseAlone)
{
    const std::string a = dir.put("a.img", TileBuilder::kind("o"));
    const int reader = ::open(a.c_str(), O_RDONLY);
    ASSERT_EQ(::fcntl(reader, F_SETSIG, SIGURG) | ::fcntl(reader, F_SETLEASE, F_RDLCK), 0);  // SIGURG: no harm
    EXPECT_EQ(imgflag({"status", a}), kExitOk) << err.str();
    EXPECT_EQ(::fcntl(reader, F_GETLEASE), F_RDLCK) << "an open for writing would have broken it";
    ::close(reader);
    EXPECT_EQ(testing::readFile(a), TileBuilder::kind("o"));
}
#endif

TEST_F(Imgflag, StopsAfterTheCurrentFileWhenAskedOrWhenStdoutFailsOrBreaks)
{
    bool broken = false;  // what a look at stdout finds
    const std::string lost = "imgflag: the report could not be written to standard output\n";
    const std::tuple<std::function<void()>, int, bool, std::string> rows[] = {  // while a.img is switched: ...
        {[] { requestStop(2); }, kExitSignalBase + 2, true, "imgflag: stopped by signal 2\n"},  // SIGINT
        {[&] { broken = true; }, kExitProblem, true, lost},                    // the reader of the pipe goes
        {[&] { out.setstate(std::ios::badbit); }, kExitProblem, false, lost},  // a line fails, as on a full disk
    };
    for (const auto& [stop, status, lineOut, message] : rows) {
        const std::string a = dir.put("a.img", TileBuilder::kind("o")), b = dir.put("b.img", TileBuilder::kind("o"));
        env.files.beforeWrite = [&stop = stop](const std::string&) { stop(); };
        out.str(""), err.str(""), broken = false;
        EXPECT_EQ(run({"imgflag", "transparent", a, b}, out, err, env.files, [&] { return broken; }), status);
        requestStop(0);
        EXPECT_EQ(out.str(), lineOut ? "transparent\t" + a + "\tchanged\n" : "");
        EXPECT_EQ(err.str(), message);
        EXPECT_EQ(testing::readFile(a), TileBuilder::kind("t")) << "the file at hand is finished";
        EXPECT_EQ(testing::readFile(b), TileBuilder::kind("o")) << "no further file is switched";
    }
    env.files.beforeWrite = [&](const std::string&) { out.setstate(std::ios::badbit); };  // the last file's line fails
    out.clear(), err.str("");
    EXPECT_EQ(imgflag({"transparent", dir.file("b.img")}), kExitProblem) << err.str();
}

#ifndef _WIN32
// A program started as its users start it, under a descriptor limit, its stdout and stderr on one pipe.
struct Program {
    Program(std::vector<std::string> args, const rlimit& files)
    {
        std::vector<char*> argv(args.size() + 1);
        std::ranges::transform(args, argv.begin(), [](std::string& arg) { return arg.data(); });
        int o[2], x[2];  // x closes when the program starts, and the descriptors of the test with it
        if (::pipe2(o, O_CLOEXEC) == 0 && ::pipe2(x, O_CLOEXEC) == 0 && (pid = ::fork()) == 0) {
            const rlimit noCore{0, 0};
            ::dup2(o[1], 1), ::dup2(o[1], 2), ::setrlimit(RLIMIT_NOFILE, &files), ::setrlimit(RLIMIT_CORE, &noCore);
            ::execv(argv[0], argv.data()), ::_exit(127);
        }
        ::close(o[1]), ::close(x[1]), ::read(x[0], o, 1), ::close(x[0]), out = o[0];
    }
    // The files it has open now, once for each descriptor.
    std::vector<std::filesystem::path> opened() const
    {
        std::error_code e;
        std::vector<std::filesystem::path> paths;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", e)) {
            paths.push_back(std::filesystem::read_symlink(fd, e));
        }
        return paths;
    }
    // Reads what it writes (unless the pipe was closed) to the end and waits for it: its exit status, or minus the
    // signal that ended it, and what it wrote.
    std::pair<int, std::string> end()
    {
        std::string text;
        char buffer[4096];
        for (ssize_t n; out >= 0 && (n = ::read(out, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
        int status = 0;
        ::close(out), ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), text};
    }

    pid_t pid = -1;
    int out = -1;  // the read end of its stdout and stderr
};

TEST_F(Imgflag, BothRaiseTheSoftDescriptorLimitAndImgflagStoppedBySignalOrReaderFinishesTheFileAtHandFirst)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const std::string held = dir.file("u.img"), after = dir.file("v.img");
    const std::filesystem::path heldOpen = std::filesystem::canonical(testing::u8(dir.path())) / "u.img";
    // While it waits for the lock on u.img, of the 300 files before it those after the last 256 wait for their flush
    // under a soft limit of 64 raised to the hard one, at most 32 where it cannot be raised; then a signal comes, or
    // stdout's reader goes (0).
    const auto max = limit.rlim_max;
    const std::tuple<int, rlim_t, long> rows[] = {{SIGQUIT, max, 300 - 256}, {SIGTERM, 64, 300 % 32}, {SIGINT, max, 44},
                                                  {SIGHUP, max, 44}, {SIGUSR1, max, 44}, {SIGALRM, max, 44}, {0, max, 44}};
    for (const auto& [signal, hard, waiting] : rows) {
        SCOPED_TRACE(signal);
        std::string lines;
        for (int i = 100; i < 401; ++i) {
            lines += "transparent\t" + dir.put(i < 400 ? "t" + std::to_string(i) + ".img" : "u.img", TileBuilder::kind("o")) + "\tchanged\n";
        }
        dir.put("v.img", TileBuilder::kind("o"));
        const int lock = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::flock(lock, LOCK_EX), 0);
        Program imgflag({KS_IMGFLAG, "transparent", dir.path()}, {64, hard});
        for (int i = 0; i < 10000 && std::ranges::count(imgflag.opened(), heldOpen) == 0; ++i, ::usleep(1000)) {}
        const auto open = imgflag.opened();  // while it waits for the lock
        EXPECT_EQ(std::ranges::count_if(open, [&](const auto& p) { return p.extension() == ".img" && p != heldOpen; }), waiting);
        signal != 0 ? ::kill(imgflag.pid, signal) : ::close(std::exchange(imgflag.out, -1));
        ::close(lock);
        EXPECT_EQ(imgflag.end(), signal != 0 ? std::pair(kExitSignalBase + signal, lines + "imgflag: stopped by signal " +
                                                                                        std::to_string(signal) + "\n")
                                             : std::pair(kExitProblem, std::string()));
        EXPECT_EQ(testing::readFile(held), TileBuilder::kind("t")) << "the file at hand is finished";
        EXPECT_EQ(testing::readFile(after), TileBuilder::kind("o")) << "no further file is switched";
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Program window({KS_WINDOW_PROGRAM}, {64, limit.rlim_max});
    rlimit now{64, 0};
    for (int i = 0; i < 10000 && ::prlimit(window.pid, RLIMIT_NOFILE, nullptr, &now) == 0 && now.rlim_cur == 64; ++i) ::usleep(1000);
    ::kill(window.pid, SIGKILL), window.end();
    EXPECT_EQ(now.rlim_cur, limit.rlim_max) << "the window's soft limit";
}
#endif

}  // namespace
}  // namespace ks::cli
