#include "probe.h"

#include <algorithm>
#include <optional>

#include "platform/text.h"

namespace ks::workflow {

using container::ContainerMaps;
using container::FlushQueue;
using container::LookupOutcome;
using container::MapChange;
using container::MapFileKind;
using platform::Answer;
using platform::Buttons;
using platform::Failure;
using platform::Icon;
using platform::Message;
using platform::RunTimeError;

namespace {

constexpr const char* kPartlySwitched =
    "\r\nDie Kartensammlung ist vielleicht nur zum Teil geschaltet (the bundle may be partly switched)";

// The file of a map file that a probe's run-time error concerns: in a bundle
// the TRE file after the last map found, else path itself.
std::string FileIn(const ContainerMaps& found, const std::string& path)
{
    return found.kind == MapFileKind::Bundle && found.maps.size() < found.files.size() ? found.files[found.maps.size()]
                                                                                      : path;
}

}  // namespace

std::string KennungOf(const ContainerMaps& found)
{
    const std::size_t transparent = found.transparentMaps();
    if (transparent == found.maps.size()) {
        return kKennungTransparent;
    }
    if (transparent == 0) {
        return kKennungOpaque;
    }
    return "  <T " + std::to_string(transparent) + "/" + std::to_string(found.maps.size()) + ">";
}

std::string Shown(const platform::Ui& ui, const std::string& path)
{
    return platform::escapeControls(path, platform::kEscapeBackslash, [&ui](const std::string& run) {
        return ui.toUpper(run);
    });
}

void Trnsp_Read(Services& services, std::string& FileSpec, std::string& Kennung)
{
    platform::Ui& ui = services.platform.ui;
    ProbeState& probe = services.probe;
    probe.path = FileSpec;
    probe.end = ProbeEnd::OtherError;

    std::optional<LookupOutcome> outcome;
    std::optional<RunTimeError> error;
    try {
        if (container::IsBundle(services.platform.files, FileSpec)) {
            const auto walk = [&] { return container::FindBundleMaps(services.platform.files, FileSpec, probe.found); };
            outcome = services.pending != nullptr ? services.pending->makingRoom(walk) : walk();
        } else {
            const auto file = services.pending != nullptr
                                  ? services.pending->open(FileSpec, platform::OpenMode::Probe)
                                  : services.platform.files.open(FileSpec, platform::OpenMode::Probe);
            container::MapReader reader(*file);
            outcome = container::FindMaps(reader, probe.found);
        }
    } catch (const RunTimeError& e) {
        error = e;
    }
    // The file is closed again before anything is shown.

    if (outcome) {
        switch (*outcome) {
        case LookupOutcome::Found:
            probe.end = ProbeEnd::Found;
            Kennung = KennungOf(probe.found);
            return;
        case LookupOutcome::NotImg:
            probe.end = ProbeEnd::NotImg;
            ui.messageBox(Message{"Datei " + Shown(ui, FileSpec) + " ist keine IMG  ", "F e h l e r", Icon::Warning,
                                  Buttons::Ok});
            FileSpec.clear();
            Kennung = kKennungUnknown;
            return;
        case LookupOutcome::TreNotFound:
            probe.end = ProbeEnd::TreNotFound;
            ui.messageBox(Message{"TRE nicht gefunden", "", Icon::None, Buttons::Ok});
            Kennung = kKennungUnknown;
            return;
        case LookupOutcome::TreBad:
        case LookupOutcome::NoPriority:
        case LookupOutcome::WidePriority:
            probe.end = ProbeEnd::TreBad;
            ui.messageBox(Message{"Fehler in TRE", "", Icon::None, Buttons::Ok});
            Kennung = kKennungUnknown;
            return;
        }
    }

    if (error->number() != platform::err::kPathFileAccess) {
        ui.messageBox(Message{error->text(), "F e h l e r !", Icon::Warning, Buttons::Ok});
        Kennung = kKennungUnknown;
        return;
    }
    probe.end = ProbeEnd::AccessDenied;
    const std::string question = "Kein Zugriff auf " + Shown(ui, FileIn(probe.found, FileSpec)) + "\r\n" +
                                 "Weiter (bei einzelnen Dateien) oder A b b r e c h e n (cancel)?   ";
    if (ui.messageBox(Message{question, "Fehler ! (R-Attribut ??)", Icon::Critical, Buttons::OkCancel}) ==
        Answer::Ok) {
        Kennung = kKennungNoAccess;
    } else {
        if (services.restart) {
            services.restart();
        }
        Kennung = kKennungAbort;
    }
}

void Trnsp_Write(Services& services, const std::string& CurFile, std::int16_t Index)
{
    platform::Ui& ui = services.platform.ui;
    const ProbeState& probe = services.probe;
    // The probe has already reported these files; there is nothing to write.
    if (probe.end == ProbeEnd::TreNotFound || probe.end == ProbeEnd::TreBad || probe.end == ProbeEnd::OtherError) {
        return;
    }
    const bool known = probe.end == ProbeEnd::Found && probe.path == CurFile;
    const bool bundle = probe.path == CurFile && probe.found.kind == MapFileKind::Bundle;
    const MapChange change{MapChange::Field::Transparency, static_cast<std::uint8_t>(Index != 0 ? 1 : 0)};

    LookupOutcome outcome = LookupOutcome::Found;
    std::optional<RunTimeError> error;
    std::string failed = bundle ? FileIn(probe.found, CurFile) : CurFile;  // the file an error concerns
    std::size_t written = 0;
    // Without a batch's queue, each written file is flushed at once and its failure told here.
    FlushQueue once(services.platform.files, [&](std::vector<FlushQueue::Failed> failures) {
        if (!failures.empty() && !error) {
            error = failures.front().error;
            failed = failures.front().path;
        }
    }, 1);
    FlushQueue& pending = services.pending != nullptr ? *services.pending : once;
    try {
        if (bundle && known) {
            std::size_t at = 0;
            try {
                outcome = container::RewriteBundle(pending, probe.found, change, CurFile, written, at);
                if (outcome != LookupOutcome::Found) {
                    failed = probe.found.files[at];
                }
            } catch (const RunTimeError& e) {
                error = e;
                failed = probe.found.files[at];
            }
        } else {
            // A bundle that was not found whole: its file that failed the probe, which fails here too.
            auto file = pending.open(failed, platform::OpenMode::Change);
            if (!known) {
                return;  // only a file whose maps were just found is ever written
            }
            try {
                outcome = container::RewriteMaps(*file, probe.found, change, written);
            } catch (const RunTimeError& e) {
                error = e;
            }
            if (written > 0) {
                file->finishWrites();
                pending.add(std::move(file), CurFile);
            }
        }
    } catch (const RunTimeError& e) {
        error = e;
    }

    // In a bundle, the file that failed and what became of the others.
    const bool broken = error || outcome != LookupOutcome::Found;
    const std::string where = bundle && broken ? "\r\n" + Shown(ui, failed) + (written > 0 ? kPartlySwitched : "") : "";
    if (outcome != LookupOutcome::Found) {
        ui.messageBox(Message{"Fehler in TRE" + where, "", Icon::None, Buttons::Ok});
    } else if (error && error->number() == platform::err::kFileNotFound) {
        ui.messageBox(Message{"Datei " + Shown(ui, failed) + " nicht gefunden (not found)" +
                                  (bundle && written > 0 ? kPartlySwitched : ""),
                              "", Icon::None, Buttons::Ok});
    } else if (error && written > 0 && !bundle && probe.found.maps.size() > 1) {
        ui.messageBox(Message{"Fehler : " + std::to_string(error->number()) + "\r\nDatei " + Shown(ui, CurFile) +
                                  " ist womöglich nur teilweise umgeschaltet (may be partly switched)",
                              "", Icon::Warning, Buttons::Ok});
    } else if (error) {
        ui.messageBox(Message{"Fehler : " + std::to_string(error->number()) + where, "", Icon::Warning, Buttons::Ok});
    }
}

void ReportFlushFailures(platform::Ui& ui, const std::vector<FlushQueue::Failed>& failures)
{
    constexpr std::size_t kNamesShown = 10;
    // One box for each kind of failure, naming the files it concerns.
    std::vector<Failure> kinds;
    for (const auto& failed : failures) {
        if (std::find(kinds.begin(), kinds.end(), failed.error.failure()) == kinds.end()) {
            kinds.push_back(failed.error.failure());
        }
    }
    for (const Failure kind : kinds) {
        const RunTimeError error(kind);
        std::string prompt = "Fehler : " + std::to_string(error.number()) + "\r\n" + error.text() + ":\r\n";
        std::size_t named = 0;
        for (const auto& failed : failures) {
            if (failed.error.failure() == kind && named++ < kNamesShown) {
                prompt += Shown(ui, failed.path) + "\r\n";
            }
        }
        if (named > kNamesShown) {
            prompt += "... (" + std::to_string(named - kNamesShown) + " weitere / more)\r\n";
        }
        ui.messageBox(Message{prompt, "", Icon::Warning, Buttons::Ok});
    }
}

}  // namespace ks::workflow
