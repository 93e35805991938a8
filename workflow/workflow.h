// The window's working state and its commands: choosing and listing a folder,
// marking entries, and setting or clearing the transparency bit of every
// marked file in one pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "probe.h"
#include "shell/layout.h"

namespace ks::workflow {

// Captions of the empty window.
inline constexpr const char* kStartCaption = "  P f a d  wählen!";
inline constexpr const char* kRestartCaption = "  P f a d  wählen! (select path)";

// Filters of the open-file dialog; the IMG filter is preselected.
std::vector<platform::FileFilter> dialogFilters();
inline constexpr std::size_t kImgFilter = 1;

// An entry's maps, besides a family's id: every map of the file, or the maps
// of a joined container that no family names.
inline constexpr std::int32_t kWholeFile = -1;
inline constexpr std::int32_t kNoFamily = -2;

// The working variables that the commands share.
struct WorkState {
    std::string EnumName;       // name of the file being listed, as shown
    std::string CurFile;        // real path of the file being handled
    std::string DirPath;        // listed folder as shown: upper case, ends with a separator; empty when none
    std::string Kennung;        // status text of the last probe
    std::size_t Pos = 0;        // list index of the marking and batch passes
    std::size_t FileCount = 0;  // entries the listing pass has added
    std::int16_t Relist = 0;    // 1 while the batch pass lists the folder again
    ProbeState Probe;             // what the last walk found

    std::string DirReal;                   // the listed folder as it is on disk, ending with a separator
    std::vector<std::string> ListedFiles;  // the real name behind each list entry
    std::vector<std::int32_t> ListedFamilies;  // the maps behind each entry: a family's id, kWholeFile or kNoFamily
    std::string DialogFileName;            // the file chosen last in the open-file dialog
    std::string ChosenFolder;              // folder of the last path given at start or dropped: Cancel lists it
                                           // while no file has been chosen in the dialog since
    std::string DialogStart;               // where the dialog opens: that file, or a folder (ending with a
                                           // separator) given since
    std::string FocusName;                 // real name of the entry chosen, given or dropped: the focus goes there
};

// The commands of the main window, run against the platform's services.
class Workflow {
public:
    explicit Workflow(platform::Platform& platform);
    Workflow(const Workflow&) = delete;
    Workflow& operator=(const Workflow&) = delete;

    // Lets the user pick any file and lists its folder (with Relist = 1 lists
    // the current folder again without asking).
    void mn_Datei_Click();
    // Lists the folder at path, or the folder of the file at path, as if that
    // file had been chosen in the dialog (a path given at start or dropped).
    void openPath(const std::string& path);
    // Empties the window and forgets the folder.
    void mn_Neustart_Click();
    // Marks every entry.
    void cmd_Mark_Click();
    // Unmarks every entry.
    void cmd_nomark_Click();
    // Makes every marked file transparent (Index 1) or opaque (Index 0),
    // waits until every changed byte is on the medium, reports the end and
    // lists the folder again.
    void cmd_Trnsp_Click(std::int16_t Index);
    // Shows the info box.
    void mn_Help_Click();
    // What the first paint of the window starts: the info box, then the
    // listing of path (given at start; nothing when empty).
    void afterFirstPaint(const std::string& path);
    // Runs the command of a button or menu item; false for Exit, which is the window's own.
    bool run(shell::Command command);
    // Shows the open-file dialog; FileSpec receives the chosen path, or after
    // Cancel the path chosen last (empty if none was, or a path was given at
    // start or dropped since).
    void Cmdialg_IO(int Wahl, std::string& FileSpec);

    const WorkState& state() const { return ws_; }

private:
    void chooseFolderOf(const std::string& file);
    void listFolder();

    platform::Platform& platform_;
    WorkState ws_;
    Services services_;
};

}  // namespace ks::workflow
