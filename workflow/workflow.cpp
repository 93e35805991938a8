#include "workflow.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace ks::workflow {

using platform::Buttons;
using platform::Icon;
using platform::Message;

namespace {

constexpr std::string_view kImgSuffix = ".IMG";
constexpr char kSeparator = '/';

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
    if (auto chosen = platform_.ui.chooseFile(dialogFilters(), kImgFilter)) {
        ws_.DialogFileName = std::move(*chosen);
    }
    FileSpec = ws_.DialogFileName;
}

void Workflow::mn_Neustart_Click()
{
    platform::Ui& ui = platform_.ui;
    ui.listClear();
    ws_.ListedFiles.clear();
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
        const std::string shown = ui.toUpper(ws_.CurFile);
        if (!shown.ends_with(kImgSuffix)) {
            ui.messageBox(Message{shown, "F e h l e r, keine IMG-Datei!! (not an IMG)", Icon::None, Buttons::Ok});
            mn_Neustart_Click();
            return;
        }
        std::string chosen = ws_.CurFile;
        if (chosen.find(kSeparator) == std::string::npos) {
            chosen = std::filesystem::absolute(chosen).string();
        }
        // The folder ends at the last separator before the name's last character.
        const std::size_t cut = chosen.rfind(kSeparator, chosen.size() - 2);
        ws_.DirReal = chosen.substr(0, cut + 1);
        ws_.DirPath = ui.toUpper(ws_.DirReal);
    }
    listFolder();
}

void Workflow::listFolder()
{
    platform::Ui& ui = platform_.ui;
    ui.listClear();
    ws_.ListedFiles.clear();
    ws_.FileCount = 0;

    // Entries appear sorted by their upper-case text.
    std::vector<std::pair<std::string, std::string>> names;  // shown, real
    for (std::string& name : platform_.files.regularFiles(ws_.DirReal)) {
        names.emplace_back(ui.toUpper(name), std::move(name));
    }
    std::sort(names.begin(), names.end());

    ui.setWaitVisible(true);
    ui.processEvents();
    for (const auto& [shown, real] : names) {
        ws_.EnumName = shown;
        ws_.CurFile = ws_.DirReal + real;
        container::Trnsp_Read(services_, ws_.CurFile, ws_.Kennung);
        if (ws_.Kennung == container::kKennungAbort) {
            return;  // the probe has already emptied the window
        }
        if (!ws_.CurFile.empty()) {
            ui.listAdd(ws_.EnumName + ws_.Kennung);
            ws_.ListedFiles.push_back(ws_.CurFile);
            ++ws_.FileCount;
        }
    }
    ui.setCaption("Pfad " + ws_.DirPath + " hat " + std::to_string(ws_.FileCount) + " Dateien");
    ui.setWaitVisible(false);
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
    const std::size_t n = std::min(ui.listCount(), ws_.ListedFiles.size());
    for (ws_.Pos = 0; ws_.Pos < n; ++ws_.Pos) {
        if (!ui.listMarked(ws_.Pos)) {
            continue;
        }
        ws_.CurFile = ws_.ListedFiles[ws_.Pos];
        container::Trnsp_Read(services_, ws_.CurFile, ws_.Kennung);
        if (ws_.Kennung == container::kKennungAbort) {
            return;  // the probe has already emptied the window
        }
        container::Trnsp_Write(services_, ws_.CurFile, Index);
    }
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
