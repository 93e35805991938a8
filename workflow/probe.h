// The window's probe and writer: they look at and switch one listed map file
// through the map-format library, tell the user in message boxes what went
// wrong, and give the list its status texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "container/img_container.h"
#include "platform/ui.h"

namespace ks::workflow {

// Status texts of a probe, appended to the file name in the list.
inline constexpr const char* kKennungTransparent = "  <T>";
inline constexpr const char* kKennungOpaque = "  < >";
inline constexpr const char* kKennungNoAccess = " Kein Zugriff möglich";
inline constexpr const char* kKennungUnknown = "  <?>";  // the probe reported a problem
inline constexpr const char* kKennungAbort = "ABBRUCH";  // the user cancelled the pass

// The status text of a container whose walk ended Found: "  <T>" when every
// map is transparent, "  < >" when none is, else "  <T n/m>".
std::string KennungOf(const container::ContainerMaps& found);

// How the last probe ended, so that the writer acts only on what it found.
enum class ProbeEnd {
    None,  // no probe yet
    Found,
    NotImg,
    TreNotFound,
    TreBad,
    AccessDenied,  // run-time error 75, the user went on or cancelled
    OtherError,
};

// The state a probe leaves for the writer.
struct ProbeState {
    container::ContainerMaps found;
    ProbeEnd end = ProbeEnd::None;
    std::string path;  // the path the last probe was given
};

// What the probe and the writer use around them.
struct Services {
    platform::Platform& platform;
    ProbeState& probe;
    std::function<void()> restart;  // empties the window; run when the user cancels
    container::FlushQueue* pending = nullptr;  // where the writer leaves its files to be flushed; none: at once
};

// A path as the window shows it: upper case, control characters escaped.
std::string Shown(const platform::Ui& ui, const std::string& path);

// Probes the file at FileSpec: reports every problem in a message box and
// sets Kennung to the file's status text. FileSpec becomes empty when the file
// is not an IMG container. Never throws a RunTimeError.
void Trnsp_Read(Services& services, std::string& FileSpec, std::string& Kennung);

// Makes every map of the file just probed at CurFile transparent (Index != 0)
// or opaque (Index == 0) by rewriting its flag byte where the bit differs,
// and hands the file to services.pending to be flushed (or flushes it at
// once). Writes nothing unless the probe found that file's maps. Never throws
// a RunTimeError.
void Trnsp_Write(Services& services, const std::string& CurFile, std::int16_t Index);

// Shows one message box for the files whose bytes may not have reached the medium.
void ReportFlushFailures(platform::Ui& ui, const std::vector<container::FlushQueue::Failed>& failures);

}  // namespace ks::workflow
