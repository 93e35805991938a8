#include "workflow.h"

#include <algorithm>
#include <utility>

#include "shell/info_text.h"

namespace ks::workflow {

using platform::Buttons;
using platform::Icon;
using platform::Message;
using platform::RunTimeError;

namespace {

constexpr std::string_view kImgSuffix = ".IMG";
constexpr char kSeparator = platform::kPathSeparators.front();

std::int32_t KeyOf(const container::FamilyGroup& group)
{
    return group.familyId ? std::int32_t{*group.familyId} : kNoFamily;
}

// The maps of found that the entry of family key stands for.
container::ContainerMaps MapsOf(const container::ContainerMaps& found, std::int32_t key)
{
    if (key == kWholeFile) {
        return found;
    }
    for (const container::FamilyGroup& group : container::FamilyGroups(found)) {
        if (KeyOf(group) == key) {
            return container::OnlyMaps(found, group.maps);
        }
    }
    return container::OnlyMaps(found, {});  // the family has gone from the file: nothing to switch
}

}  // namespace

std::vector<platform::FileFilter> dialogFilters()
{
    return {{"Alle files  *.*", "*.*"}, {"IMGs   *.IMG", "*.IMG"}};
}

Workflow::Workflow(platform::Platform& platform)
    : platform_(platform), services_{platform, ws_.Probe, [this] { mn_Neustart_Click(); }}
{
}

void Workflow::Cmdialg_IO(int /*Wahl: always "open an existing file"*/, std::string& FileSpec)
{
    if (auto chosen = platform_.ui.chooseFile(dialogFilters(), kImgFilter, ws_.DialogStart)) {
        ws_.DialogFileName = std::move(*chosen);
        ws_.DialogStart = ws_.DialogFileName;
    }
    FileSpec = ws_.DialogFileName;
}

void Workflow::mn_Help_Click()
{
    platform_.ui.messageBox(Message{shell::infoText(), std::string(shell::kInfoTitle), Icon::None, Buttons::Ok});
}

void Workflow::afterFirstPaint(const std::string& path)
{
    mn_Help_Click();
    if (!path.empty()) {
        openPath(path);
    }
}

bool Workflow::run(shell::Command command)
{
    switch (command) {
    case shell::Command::None: break;
    case shell::Command::ChoosePath: mn_Datei_Click(); break;
    case shell::Command::Exit: return false;
    case shell::Command::Restart: mn_Neustart_Click(); break;
    case shell::Command::Info: mn_Help_Click(); break;
    case shell::Command::MarkAll: cmd_Mark_Click(); break;
    case shell::Command::MarkNone: cmd_nomark_Click(); break;
    case shell::Command::MakeTransparent: cmd_Trnsp_Click(1); break;
    case shell::Command::MakeOpaque: cmd_Trnsp_Click(0); break;
    }
    return true;
}

void Workflow::mn_Neustart_Click()
{
    platform::Ui& ui = platform_.ui;
    ui.listClear();
    ws_.ListedFiles.clear();
    ws_.ListedFamilies.clear();
    ws_.DirPath.clear();
    ws_.DirReal.clear();
    ui.setCaption(kRestartCaption);
    ui.setWaitVisible(false);
}

void Workflow::mn_Datei_Click()
{
    platform::Ui& ui = platform_.ui;
    if (ws_.Relist != 1) {
        Cmdialg_IO(1, ws_.CurFile);
        if (ws_.CurFile.empty() && !ws_.ChosenFolder.empty()) {
            // Cancelled after a path given at start or dropped: that folder again.
            ws_.DirReal = ws_.ChosenFolder;
            ws_.DirPath = Shown(ui, ws_.DirReal);
            ws_.FocusName.clear();
            listFolder();
            return;
        }
        const std::string shown = Shown(ui, ws_.CurFile);
        if (!shown.ends_with(kImgSuffix)) {
            ui.messageBox(Message{shown, "F e h l e r, keine IMG-Datei!! (not an IMG)", Icon::None, Buttons::Ok});
            mn_Neustart_Click();
            return;
        }
        chooseFolderOf(ws_.CurFile);
    }
    listFolder();
}

void Workflow::openPath(const std::string& path)
{
    ws_.DialogStart = path;
    const bool endsWithSeparator = !path.empty() && platform::kPathSeparators.find(path.back()) != std::string::npos;
    if (container::IsBundle(platform_.files, path)) {
        chooseFolderOf(path);  // a bundle dropped: its folder, where it is one entry
    } else if (endsWithSeparator || platform_.files.isFolder(path)) {
        ws_.DirReal = endsWithSeparator ? path : path + kSeparator;
        ws_.DirPath = Shown(platform_.ui, ws_.DirReal);
        ws_.DialogStart = ws_.DirReal;  // the dialog opens inside it
        ws_.FocusName.clear();
    } else {
        chooseFolderOf(path);
    }
    ws_.DialogFileName.clear();
    ws_.ChosenFolder = ws_.DirReal;
    listFolder();
}

void Workflow::chooseFolderOf(const std::string& file)
{
    // The folder ends at the last separator before the name's last character;
    // a bare name lies in the working folder.
    const std::size_t cut = file.size() < 2 ? std::string::npos
                                            : file.find_last_of(platform::kPathSeparators, file.size() - 2);
    ws_.DirReal = cut == std::string::npos ? std::string(".") + kSeparator : file.substr(0, cut + 1);
    ws_.DirPath = Shown(platform_.ui, ws_.DirReal);
    ws_.FocusName = file.substr(cut == std::string::npos ? 0 : cut + 1);
    while (!ws_.FocusName.empty() && platform::kPathSeparators.find(ws_.FocusName.back()) != std::string::npos) {
        ws_.FocusName.pop_back();
    }
}

void Workflow::listFolder()
{
    platform::Ui& ui = platform_.ui;
    ui.listClear();
    ws_.ListedFiles.clear();
    ws_.ListedFamilies.clear();
    ws_.FileCount = 0;
    ui.setWaitVisible(true);
    ui.processEvents();

    // Entries appear sorted by their text.
    std::vector<std::pair<std::string, std::string>> names;  // shown, real
    try {
        platform::FolderContents contents = platform_.files.list(ws_.DirReal);
        for (std::string& name : contents.files) {
            names.emplace_back(Shown(ui, name), std::move(name));
        }
        for (std::string& name : contents.folders) {
            if (container::IsBundleName(name)) {  // a map bundle is one entry, like a combined container
                names.emplace_back(Shown(ui, name), std::move(name));
            }
        }
    } catch (const RunTimeError& e) {
        ui.messageBox(Message{"Pfad " + ws_.DirPath + " nicht lesbar (cannot read folder)\r\n" + e.text(),
                              "F e h l e r !", Icon::Warning, Buttons::Ok});
        mn_Neustart_Click();
        return;
    }
    std::sort(names.begin(), names.end());

    for (auto& [shown, real] : names) {
        ws_.EnumName = std::move(shown);
        ws_.CurFile = ws_.DirReal + real;
        Trnsp_Read(services_, ws_.CurFile, ws_.Kennung);
        if (ws_.Kennung == kKennungAbort) {
            return;  // the probe has already emptied the window
        }
        if (ws_.CurFile.empty()) {
            continue;
        }
        ++ws_.FileCount;
        const container::ContainerMaps& found = ws_.Probe.found;
        if (ws_.Probe.end != ProbeEnd::Found || !container::HasFamilies(found)) {
            ui.listAdd(ws_.EnumName + ws_.Kennung);
            ws_.ListedFiles.push_back(std::move(real));
            ws_.ListedFamilies.push_back(kWholeFile);
            continue;
        }
        // A joined container: one entry for each family, "NAME [FAMILY]  <T>".
        for (const container::FamilyGroup& group : container::FamilyGroups(found)) {
            const std::string name = !group.familyId       ? "?"
                                     : group.name.empty() ? std::to_string(*group.familyId)
                                                          : Shown(ui, group.name);
            ui.listAdd(ws_.EnumName + " [" + name + "]" + KennungOf(container::OnlyMaps(found, group.maps)));
            ws_.ListedFiles.push_back(real);
            ws_.ListedFamilies.push_back(KeyOf(group));
        }
    }
    ui.setCaption("Pfad " + ws_.DirPath + " hat " + std::to_string(ws_.FileCount) + " Dateien");
    ui.setWaitVisible(false);
    if (ws_.FileCount > 0) {
        const auto focus = std::ranges::find(ws_.ListedFiles, ws_.FocusName);
        ui.listFocus(focus == ws_.ListedFiles.end() ? 0 : static_cast<std::size_t>(focus - ws_.ListedFiles.begin()));
    }
}

void Workflow::cmd_Mark_Click()
{
    platform_.ui.listSetAllMarked(true);
}

void Workflow::cmd_nomark_Click()
{
    platform_.ui.listSetAllMarked(false);
}

void Workflow::cmd_Trnsp_Click(std::int16_t Index)
{
    platform::Ui& ui = platform_.ui;
    ui.setWaitVisible(true);
    ui.processEvents();
    // Every changed byte is on the medium before the pass ends, also when it is cancelled.
    container::FlushQueue pending(platform_.files, [&ui](std::vector<container::FlushQueue::Failed> failures) {
        ReportFlushFailures(ui, failures);
    });
    services_.pending = &pending;
    const auto finish = [&] {
        services_.pending = nullptr;
        pending.flush();
    };
    const std::size_t n = std::min(ui.listCount(), ws_.ListedFiles.size());
    std::string probed;                // the file probed last: its families' entries follow each other
    container::ContainerMaps whole;    // and every map the probe found in it
    for (ws_.Pos = 0; ws_.Pos < n; ++ws_.Pos) {
        if (!ui.listMarked(ws_.Pos)) {
            continue;
        }
        ws_.CurFile = ws_.DirReal + ws_.ListedFiles[ws_.Pos];
        const std::int32_t family = ws_.ListedFamilies[ws_.Pos];
        if (family == kWholeFile || ws_.CurFile != probed) {  // one probe, one access question, per file
            probed = ws_.CurFile;
            Trnsp_Read(services_, ws_.CurFile, ws_.Kennung);
            if (ws_.Kennung == kKennungAbort) {
                finish();
                return;  // the probe has already emptied the window
            }
            whole = ws_.Probe.found;
        } else if (ws_.Probe.end != ProbeEnd::Found) {
            continue;  // the file's first entry has told what went wrong
        }
        ws_.Probe.found = MapsOf(whole, family);
        Trnsp_Write(services_, ws_.CurFile, Index);
    }
    finish();
    ui.setWaitVisible(false);
    ui.messageBox(Message{"Transparenz-Änderung beendet ... (finished)", "", Icon::None, Buttons::Ok});
    if (ws_.DirReal.empty()) {
        return;  // no folder is listed: nothing to list again
    }
    ws_.Relist = 1;
    mn_Datei_Click();
    ws_.Relist = 0;
}

}  // namespace ks::workflow
