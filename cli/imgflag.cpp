#include "imgflag.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "container/flush_queue.h"
#include "container/img_container.h"
#include "platform/text.h"

#ifndef KS_VERSION
#error "KS_VERSION must name the program version"
#endif

namespace ks::cli {

namespace {

namespace fs = std::filesystem;
using platform::Failure;
using platform::RunTimeError;

// The signal that asked imgflag to stop, or 0.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

enum class Command { Status, Transparent, Opaque, Priority, Maps };

struct Options {
    Command command = Command::Status;
    std::vector<std::string> paths;
    bool json = false;
    bool dryRun = false;
    bool quiet = false;
    bool recursive = false;
    int priority = -1;  // the priority command's --set N; -1 to report
    std::vector<std::string> families;  // --family: only the maps of these families, by id or name

    // Whether the command changes maps.
    bool changes() const
    {
        return command == Command::Transparent || command == Command::Opaque ||
               (command == Command::Priority && priority >= 0);
    }
};

enum class State { Transparent, Opaque, Mixed, NoFamily, NotImg, NoTre, BadTre, NoAccess, Error };

// One family of a container: its maps' counts and draw priorities.
struct FamilyReport {
    container::FamilyGroup group;
    std::size_t transparentMaps = 0;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> priorities;
};

// What one file turned out to be, and what was done to it.
struct FileReport {
    std::string path;
    State state = State::Error;
    std::size_t maps = 0;             // for Transparent, Opaque and Mixed
    std::size_t transparentMaps = 0;  // for Transparent, Opaque and Mixed
    std::optional<bool> changed;      // for the commands that change a map
    std::optional<std::pair<std::uint32_t, std::uint32_t>> priorities;  // lowest and highest draw priority
    std::string message;              // why, for NoAccess and Error
    std::optional<platform::FileId> id;  // the file opened, when it could be
    bool repeat = false;      // the file was handled already under this or another name: its report stands
    std::vector<FamilyReport> families;    // status of a container with two families or more
    std::vector<container::MapEntry> list;  // the maps command's maps
    bool notRegular = false;  // it could not be opened for not being a regular file (a folder, maybe)
};

bool isProblem(State state)
{
    return state != State::Transparent && state != State::Opaque && state != State::Mixed && state != State::NoFamily;
}

const char* stateName(State state)
{
    switch (state) {
    case State::Transparent: return "transparent";
    case State::Opaque: return "opaque";
    case State::Mixed: return "mixed";
    case State::NoFamily: return "no-family";
    case State::NotImg: return "not-img";
    case State::NoTre: return "no-tre";
    case State::BadTre: return "bad-tre";
    case State::NoAccess: return "no-access";
    case State::Error: break;
    }
    return "error";
}

// The STATE column: the state's name, for a mixed container with the counts.
std::string stateColumn(const FileReport& report)
{
    std::string text = stateName(report.state);
    if (report.state == State::Mixed) {
        text += " " + std::to_string(report.transparentMaps) + "/" + std::to_string(report.maps) + " transparent";
    }
    return text;
}

State stateOf(container::LookupOutcome outcome)
{
    switch (outcome) {
    case container::LookupOutcome::NotImg: return State::NotImg;
    case container::LookupOutcome::TreNotFound: return State::NoTre;
    case container::LookupOutcome::TreBad: return State::BadTre;
    case container::LookupOutcome::NoPriority:
    case container::LookupOutcome::WidePriority:
    case container::LookupOutcome::Found: break;
    }
    return State::Error;
}

// The state of a file that could not be opened: refused access, or an error.
State stateOf(const RunTimeError& error)
{
    const Failure f = error.failure();
    return f == Failure::AccessDenied || f == Failure::ReadOnly || f == Failure::NotRegular ? State::NoAccess
                                                                                             : State::Error;
}

std::string printable(const std::string& path);

// The name of a bundle's TRE file within the bundle at path, for a message.
std::string inBundle(const std::string& file, const std::string& path)
{
    const std::size_t start = file.find_first_not_of(platform::kPathSeparators, path.size());
    return printable(file.substr(std::min(start, file.size())));
}

// Why a change could not be made to a map, found before anything (or, in a bundle, something) was written.
std::string changeProblem(container::LookupOutcome outcome, bool nothingWritten)
{
    const std::string written = nothingWritten ? "; nothing was written" : "";
    switch (outcome) {
    case container::LookupOutcome::NoPriority: return "a map has no draw priority field" + written;
    case container::LookupOutcome::WidePriority: return "a map's draw priority has non-zero upper bytes" + written;
    default: return "a map's TRE header is no longer there";
    }
}

// One map file (or bundle) named or listed: looked at and, for the commands
// that change maps, rewritten where a byte differs (unless dry run). The files
// written go to the flush queue, which makes room when no descriptor is left.
class FileJob {
public:
    FileJob(container::FlushQueue& pending, const std::string& path, const Options& options)
        : pending_(pending), files_(pending.files()), options_(options), bundle_(container::IsBundle(files_, path))
    {
        report_.path = path;
    }

    // The report of the file; a file in handled is left alone (a repeat), others are added to it.
    FileReport run(std::set<platform::FileId>& handled)
    {
        if (!open() || isRepeat(handled)) {
            return report_;
        }
        try {
            if (lookUp() && options_.changes()) {
                change();
            }
        } catch (const RunTimeError& e) {
            failed(e);
        }
        if (written_ > 0 && file_) {
            file_->finishWrites();
            pending_.add(std::move(file_), report_.path);
        }
        return report_;
    }

private:
    bool writing() const { return options_.changes() && !options_.dryRun; }
    // A change locks the file; a look that writes nothing does not even open it for writing.
    platform::OpenMode openMode() const { return writing() ? platform::OpenMode::Change : platform::OpenMode::Report; }

    // Opens a plain map file (a bundle's TRE files are opened one by one later); false when it cannot be.
    bool open()
    {
        try {
            if (bundle_) {
                report_.id = files_.folderId(report_.path);  // named twice or through a link: one outcome
            } else {
                file_ = pending_.open(report_.path, openMode());
                report_.id = file_->id();
            }
            return true;
        } catch (const RunTimeError& e) {
            report_.state = stateOf(e);
            report_.message = e.english();
            report_.notRegular = e.failure() == Failure::NotRegular;
            return false;
        }
    }

    bool isRepeat(std::set<platform::FileId>& handled)
    {
        report_.repeat = report_.id && !handled.insert(*report_.id).second;
        return report_.repeat;
    }

    // Walks the maps and reports what they are; false when it is no map file.
    bool lookUp()
    {
        container::LookupOutcome outcome = container::LookupOutcome::NotImg;
        if (bundle_) {
            outcome = pending_.makingRoom([&] {  // the waiting files may hold every descriptor
                return container::FindBundleMaps(files_, report_.path, found_, platform::OpenMode::Report);
            });
        } else {
            container::MapReader reader(*file_);
            outcome = container::FindMaps(reader, found_);
        }
        if (outcome != container::LookupOutcome::Found) {
            report_.state = stateOf(outcome);
            return false;
        }
        if (options_.command == Command::Status && container::HasFamilies(found_)) {
            for (container::FamilyGroup& group : container::FamilyGroups(found_)) {
                const container::ContainerMaps only = container::OnlyMaps(found_, group.maps);
                report_.families.push_back({std::move(group), only.transparentMaps(), only.priorities()});
            }
        }
        if (!options_.families.empty() && !keepFamilies()) {
            report_.state = State::NoFamily;
            return false;
        }
        report_.maps = found_.maps.size();
        report_.transparentMaps = found_.transparentMaps();
        if (options_.command == Command::Maps) {
            report_.list = found_.maps;
        }
        report_.priorities = found_.priorities();
        report_.state = report_.transparentMaps == report_.maps ? State::Transparent
                        : report_.transparentMaps == 0          ? State::Opaque
                                                                : State::Mixed;
        return true;
    }

    // Keeps only the maps of the families asked for; false when there are none.
    bool keepFamilies()
    {
        std::vector<std::size_t> kept;
        for (std::size_t i = 0; i < found_.maps.size(); ++i) {
            const auto& family = found_.maps[i].family;
            const auto asked = [&](const std::string& wanted) {
                return family && (wanted == std::to_string(family->familyId) || sameLetters(wanted, family->familyName));
            };
            if (std::any_of(options_.families.begin(), options_.families.end(), asked)) {
                kept.push_back(i);
            }
        }
        found_ = container::OnlyMaps(found_, kept);
        return !kept.empty();
    }

    // Whether two names are the same, ASCII letters in any case.
    static bool sameLetters(const std::string& a, const std::string& b)
    {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
    }

    container::MapChange requested() const
    {
        if (options_.command == Command::Priority) {
            return {container::MapChange::Field::DrawPriority, static_cast<std::uint8_t>(options_.priority)};
        }
        return {container::MapChange::Field::Transparency,
                static_cast<std::uint8_t>(options_.command == Command::Transparent ? 1 : 0)};
    }

    // Makes the change where it would rewrite a byte, and reports the maps as they now are.
    void change()
    {
        const container::MapChange change = requested();
        bool changes = false;
        container::LookupOutcome outcome = container::WouldChange(found_, change, changes);
        if (writing() && outcome == container::LookupOutcome::Found) {
            outcome = bundle_ ? container::RewriteBundle(pending_, found_, change, report_.path, written_, at_)
                              : container::RewriteMaps(*file_, found_, change, written_);
            changes = written_ > 0;
        }
        if (outcome != container::LookupOutcome::Found) {
            refused(outcome);
            return;
        }
        report_.changed = changes;
        if (options_.command == Command::Priority) {
            report_.priorities = std::pair(change.value, change.value);
        } else {
            const bool transparent = options_.command == Command::Transparent;
            report_.state = transparent ? State::Transparent : State::Opaque;
            report_.transparentMaps = transparent ? report_.maps : 0;
        }
    }

    // A change the maps did not allow, found before the first byte or (in a bundle) after some.
    void refused(container::LookupOutcome outcome)
    {
        report_.state = written_ > 0 ? State::Error : stateOf(outcome);
        if (written_ > 0) {
            report_.message = inBundle(found_.files[at_], report_.path) + ": " + changeProblem(outcome, false) +
                              "; the bundle may be partly switched";
        } else if (outcome != container::LookupOutcome::TreBad) {
            report_.message = changeProblem(outcome, true);
        }
    }

    // A run-time error of the walk or the writer.
    void failed(const RunTimeError& e)
    {
        report_.state = bundle_ && written_ == 0 ? stateOf(e) : State::Error;
        report_.changed.reset();
        const std::size_t at = at_ == SIZE_MAX ? found_.maps.size() : at_;  // the walk names the file after its maps
        report_.message = (bundle_ && at < found_.files.size() ? inBundle(found_.files[at], report_.path) + ": " : "") +
                          (written_ == 0 ? ""
                           : bundle_     ? "writing failed, the bundle may be partly switched: "
                                         : "writing failed, the file may be partly switched: ") +
                          e.english();
    }

    container::FlushQueue& pending_;
    platform::FileLayer& files_;
    const Options& options_;
    const bool bundle_;
    FileReport report_;
    std::unique_ptr<platform::MapFile> file_;
    container::ContainerMaps found_;
    std::size_t written_ = 0;  // bytes written
    std::size_t at_ = SIZE_MAX;  // the bundle's TRE file being rewritten
};

// A path for a line of text: nothing in it can pass for another line or reach the terminal raw.
std::string printable(const std::string& path)
{
    return platform::escapeControls(path, platform::kEscapeBackslash);
}

// The bytes of text in lower-case hexadecimal.
std::string hex(const std::string& text)
{
    constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

// A path as std::filesystem takes it, from UTF-8, and back.
fs::path toPath(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromPath(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class Runner {
public:
    Runner(const Options& options, std::ostream& out, std::ostream& err, platform::FileLayer& files,
           const std::function<bool()>& outBroken)
        : options_(options), out_(out), err_(err), files_(files), outBroken_(outBroken),
          pending_(files, [this](std::vector<container::FlushQueue::Failed> failed) { flushed(std::move(failed)); })
    {
    }

    int run()
    {
        for (const std::string& path : options_.paths) {
            if (stopping()) {
                break;
            }
            handle(path, true);
        }
        pending_.flush();
        if (options_.json) {
            printJson();
        }
        if (options_.dryRun && options_.changes() && !options_.quiet) {
            err_ << "imgflag: dry run, nothing was written\n";
        }
        if (outFailed_) {
            err_ << "imgflag: the report could not be written to standard output\n";
            return kExitProblem;
        }
        if (const int signal = gStopSignal.load(); signal != 0) {
            err_ << "imgflag: stopped by signal " << signal << '\n';
            return kExitSignalBase + signal;
        }
        return problem_ ? kExitProblem : kExitOk;
    }

private:
    // Whether to switch no further file: after a signal, or once stdout has failed or broken.
    bool stopping()
    {
        // Only a switch needs the look at stdout before it: without one, each line is written at once and
        // a failed write shows there.
        const bool switching = options_.changes() && !options_.dryRun;
        outFailed_ = outFailed_ || !out_ || (switching && outBroken_ && outBroken_());
        return outFailed_ || gStopSignal.load() != 0;
    }

    // Handles the file at path; a named folder (folderAllowed), which its open refuses, stands for its files.
    void handle(const std::string& path, bool folderAllowed = false)
    {
        FileReport report = FileJob(pending_, path, options_).run(handled_);
        if (folderAllowed && report.notRegular && files_.isFolder(path)) {
            handleFolder(path);  // asked only now: a file's own look answers for every file
            return;
        }
        for (const auto& failed : unclaimed_) {  // flushed while its own file was still being switched
            markUnflushed(report, failed);
        }
        unclaimed_.clear();
        // A report waits for the files before it, so that the lines keep their order.
        if (pending_.empty()) {
            emit(report);
            flushOut();
        } else {
            waiting_.push_back(std::move(report));
        }
    }

    // The outcome of a flush: the failed files' reports change, then every waiting report is emitted.
    void flushed(std::vector<container::FlushQueue::Failed> failures)
    {
        for (const auto& failed : failures) {
            const auto waiting = std::find_if(waiting_.begin(), waiting_.end(),
                                              [&](const FileReport& report) { return report.path == failed.item; });
            if (waiting == waiting_.end()) {
                unclaimed_.push_back(failed);
            }
            for (FileReport& report : waiting_) {
                markUnflushed(report, failed);
            }
        }
        for (const FileReport& report : waiting_) {
            emit(report);
        }
        flushOut();
        waiting_.clear();
    }

    static void markUnflushed(FileReport& report, const container::FlushQueue::Failed& failed)
    {
        if (report.path == failed.item && !report.repeat && report.changed.value_or(false)) {
            report.state = State::Error;
            report.changed.reset();
            report.message = failed.path == failed.item  // else a bundle's TRE file
                                 ? "the new flag byte may not have reached the medium: " + failed.error.english()
                                 : inBundle(failed.path, failed.item) +
                                       ": the new flag byte may not have reached the medium, the bundle may be partly "
                                       "switched: " + failed.error.english();
        }
    }

    void emit(FileReport report)
    {
        if (report.repeat) {  // one file, one outcome, under every name
            std::string path = std::move(report.path);
            report = outcomes_.at(*report.id);
            report.path = std::move(path);
        } else if (report.id) {
            outcomes_[*report.id] = report;
        }
        const bool problem = isProblem(report.state);
        problem_ = problem_ || problem;
        if (!report.message.empty()) {
            out_ << std::flush;  // the lines before it first
            err_ << "imgflag: " << printable(report.path) << ": " << report.message << '\n' << std::flush;
        }
        if (options_.quiet && !problem) {
            return;
        }
        if (options_.json) {
            reports_.push_back(report);
            return;
        }
        if (!report.list.empty()) {
            emitMaps(report);
            return;
        }
        out_ << stateColumn(report) << '\t' << printable(report.path);
        if (report.changed) {
            out_ << '\t' << (*report.changed ? "changed" : "unchanged");
        }
        if (report.priorities) {
            out_ << "\tpriority " << report.priorities->first;
            if (report.priorities->second != report.priorities->first) {
                out_ << '-' << report.priorities->second;
            }
        }
        out_ << '\n';
    }

    // Writes the lines emitted so far, a group of them in one go.
    void flushOut()
    {
        out_ << std::flush;
        outFailed_ = outFailed_ || !out_;
    }

    // The maps command's lines: one for each map of the file.
    void emitMaps(const FileReport& report)
    {
        for (const container::MapEntry& map : report.list) {
            const auto& family = map.family;
            out_ << (map.transparent() ? "transparent" : "opaque") << '\t' << printable(report.path) << '\t'
                 << (family ? std::to_string(family->mapNumber) : "-") << '\t'
                 << (family ? std::to_string(family->familyId) : "-") << '\t'
                 << (family && !family->familyName.empty() ? printable(family->familyName) : "-") << '\t'
                 << (family && !family->description.empty() ? printable(family->description) : "-") << '\t'
                 << (map.DrawPriority ? "priority " + std::to_string(*map.DrawPriority) : "-") << '\n';
        }
    }

    // Every regular file and map bundle directly in folder, and with -r
    // every one below its other subfolders (links to folders are not
    // followed), in name order.
    void handleFolder(const std::string& folder)
    {
        platform::FolderContents contents;
        try {
            contents = pending_.makingRoom([&] { return files_.list(folder); });
        } catch (const RunTimeError& e) {
            err_ << "imgflag: " << printable(folder) << ": cannot read the folder: " << e.english() << '\n';
            problem_ = true;
            return;
        }
        std::vector<std::pair<std::string, bool>> names;  // name, is a subfolder to descend into
        for (std::string& name : contents.files) {
            names.emplace_back(std::move(name), false);
        }
        for (std::string& name : contents.folders) {
            const bool bundle = container::IsBundleName(name);  // one entry, never descended into
            if (bundle || options_.recursive) {
                names.emplace_back(std::move(name), !bundle);
            }
        }
        std::sort(names.begin(), names.end());
        if (names.empty() && !options_.quiet) {
            err_ << "imgflag: " << printable(folder) << ": no files\n";
        }
        for (const auto& [name, isFolder] : names) {
            if (stopping()) {
                return;
            }
            const std::string path = fromPath(toPath(folder) / toPath(name));
            if (isFolder) {
                handleFolder(path);
            } else {
                handle(path);
            }
        }
    }

    void printJson()
    {
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const FileReport& report : reports_) {
            nlohmann::ordered_json entry;
            entry["path"] = report.path;
            if (!platform::isValidUtf8(report.path)) {
                entry["path_bytes"] = hex(report.path);  // "path" shows U+FFFD for the bytes that are no UTF-8
            }
            entry["state"] = stateName(report.state);
            if (!isProblem(report.state)) {
                entry["maps"] = report.maps;
                entry["transparent_maps"] = report.transparentMaps;
            }
            if (report.changed) {
                entry["change"] = *report.changed ? "changed" : "unchanged";
            }
            entry["draw_priority_min"] = nullptr;
            entry["draw_priority_max"] = nullptr;
            if (report.priorities) {
                entry["draw_priority_min"] = report.priorities->first;
                entry["draw_priority_max"] = report.priorities->second;
            }
            if (!report.message.empty()) {
                entry["message"] = report.message;
            }
            if (!report.families.empty()) {
                entry["families"] = familiesJson(report);
            }
            if (options_.command == Command::Maps && !isProblem(report.state) && report.state != State::NoFamily) {
                entry["maps"] = mapsJson(report);
            }
            files.push_back(std::move(entry));
        }
        nlohmann::ordered_json document;
        constexpr const char* kNames[] = {"status", "transparent", "opaque", "priority", "maps"};
        document["command"] = kNames[static_cast<int>(options_.command)];
        document["dry_run"] = options_.dryRun;
        document["files"] = std::move(files);
        out_ << platform::escapeJsonInvisibles(
                    document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace))
             << '\n' << std::flush;
        outFailed_ = outFailed_ || !out_;
    }

    static nlohmann::ordered_json familiesJson(const FileReport& report)
    {
        nlohmann::ordered_json families = nlohmann::ordered_json::array();
        for (const FamilyReport& family : report.families) {
            families.push_back({{"id", family.group.familyId ? nlohmann::ordered_json(*family.group.familyId) : nullptr},
                                {"name", family.group.name},
                                {"maps", family.group.maps.size()},
                                {"transparent_maps", family.transparentMaps},
                                {"draw_priority_min", family.priorities ? nlohmann::ordered_json(family.priorities->first) : nullptr},
                                {"draw_priority_max", family.priorities ? nlohmann::ordered_json(family.priorities->second) : nullptr}});
        }
        return families;
    }

    static nlohmann::ordered_json mapsJson(const FileReport& report)
    {
        nlohmann::ordered_json maps = nlohmann::ordered_json::array();
        for (const container::MapEntry& map : report.list) {
            const auto& family = map.family;
            const auto or_null = [&](auto value) { return family ? nlohmann::ordered_json(value) : nullptr; };
            maps.push_back({{"state", map.transparent() ? "transparent" : "opaque"},
                            {"map_number", or_null(family ? family->mapNumber : 0)},
                            {"family_id", or_null(family ? family->familyId : 0)},
                            {"family_name", or_null(family ? family->familyName : "")},
                            {"description", or_null(family ? family->description : "")},
                            {"draw_priority", map.DrawPriority ? nlohmann::ordered_json(*map.DrawPriority) : nullptr}});
        }
        return maps;
    }

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    platform::FileLayer& files_;
    const std::function<bool()>& outBroken_;
    container::FlushQueue pending_;
    std::vector<FileReport> waiting_;  // reports whose lines wait for the flush of the files before them
    std::vector<container::FlushQueue::Failed> unclaimed_;  // failures of the file being switched
    std::set<platform::FileId> handled_;              // the files opened so far
    std::map<platform::FileId, FileReport> outcomes_;  // the report of each file, as its first line gave it
    bool problem_ = false;
    bool outFailed_ = false;
    std::vector<FileReport> reports_;
};

constexpr const char* kFooter = R"(A map file is an IMG container, a TRE file of its own (NAME.TRE) or a map
bundle: a folder NAME.gmap as installed for the desktop map programs, whose
maps, the overview map included, are its TRE files NAME.gmap/*/*/*.TRE. A
folder given or listed (also with -r) stands for its files and bundles; -r
does not descend into a bundle. Close a map program before changing its maps.

States: transparent, opaque, mixed N/M transparent (a container whose maps
disagree), not-img, no-tre (no TRE subfile), bad-tre (a TRE subfile without
its header), no-access (read-only or not a regular file), error; no-family
(none of the maps of the --family asked for: left alone, not a problem). Where
the maps have one, the draw priority follows: "priority 25", or a range "12-31".

A card joined from several map families (a base map and its contour overlay
in one gmapsupp.img) names each map's family: "imgflag maps" lists them (state,
path, map number, family id, family name, map description, draw priority), and
--family limits a command to the maps of a family:
  imgflag maps gmapsupp.img
  imgflag transparent --family Hoehenlinien gmapsupp.img

An overlay shows over a base map only when it is transparent and has the
higher draw priority (drawn later). mkgmap's default is 25; overlays often
use 30 or 31:

  imgflag transparent contours.img

  imgflag priority --set 31 contours.img

Exit status: 0 when every file was a map and every requested change was made,
1 when some file was not a map, could not be read or could not be changed, or
when the report could not be written, 2 for a usage error, 128 + N when
stopped by signal N.)";

}  // namespace

void requestStop(int signal)
{
    gStopSignal.store(signal);
}

namespace {

constexpr const char* kCommandList = "the commands are status, transparent, opaque, priority and maps";
constexpr const char* kPriorityRange = "N is a whole number from 0 to 31, in decimal digits";

// The command being parsed when the parser stopped, or none.
std::string commandOf(const CLI::App* app)
{
    const auto parsed = app->get_subcommands();
    return parsed.empty() ? "" : parsed.front()->get_name();
}

// A usage error in the program's own words: what was wrong and what is allowed, then where help is.
std::string usageMessage(const std::string& command, const std::string& what)
{
    return "imgflag: " + (command.empty() ? "" : command + ": ") + what + "\nTry 'imgflag " +
           (command.empty() ? "" : command + " ") + "--help' for more information.\n";
}

// The options that command takes, for a message.
std::string optionsOf(const std::string& command)
{
    return command.empty()                           ? "the options are --json, --dry-run, -q, -r, --help and --version"
           : command == "status" || command == "maps" ? "the options are --family, --json, -q and -r"
           : command == "priority"                    ? "the options are --set N, --family, --json, --dry-run, -q and -r"
                                                      : "the options are --family, --json, --dry-run, -q and -r";
}

// What the parser found wrong, as usageMessage says it.
std::string parseProblem(const CLI::App* app, const CLI::Error& e)
{
    const std::string command = commandOf(app);
    const std::vector<std::string> rest = app->remaining();
    if (!rest.empty() && command.empty() && !rest.front().starts_with("-")) {
        return usageMessage("", "unknown command '" + rest.front() + "'; " + kCommandList);
    }
    if (!rest.empty() && rest.front().starts_with("-")) {
        return usageMessage(command, "unknown option '" + rest.front() + "'; " + optionsOf(command));
    }
    if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
        return command.empty() ? usageMessage("", std::string("no command given; ") + kCommandList)
                               : usageMessage(command, "no PATH given; name at least one map file or folder");
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr && command == "priority") {
        return usageMessage(command, std::string("--set needs one value N; ") + kPriorityRange);
    }
    return usageMessage(command, e.what());
}

// The draw priority that text gives in decimal digits only (leading zeros
// allowed), when it is one from 0 to kHighestPriority.
std::optional<int> decimalPriority(const std::string& text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
    if (digits.size() > 2 || std::stoi(digits) > int{container::kHighestPriority}) {
        return std::nullopt;
    }
    return std::stoi(digits);
}

// Teaches app the command line, filling options; returns the commands in the order of Command.
std::array<CLI::App*, 5> describeCommandLine(CLI::App& app, Options& options, std::string& priorityText)
{
    app.set_version_flag("--version", std::string("imgflag ") + KS_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();
    app.footer(kFooter);
    app.failure_message(parseProblem);

    const struct {
        const char* name;
        const char* description;
        bool changes;
    } commands[] = {
        {"status", "Report each map file's state", false},
        {"transparent", "Set the transparency bit of every map", true},
        {"opaque", "Clear the transparency bit of every map", true},
        {"priority", "Report the draw priority of every map, or set it with --set", true},
        {"maps", "List every map of each file: state, map number, family, description, draw priority", false},
    };
    std::array<CLI::App*, 5> subcommands{};
    // The options go before or after the command; each command's help lists those that apply to it.
    const auto addFlags = [&](CLI::App& to, bool changes) {
        to.add_flag("--json", options.json, "Print the report as JSON");
        if (changes) {
            to.add_flag("--dry-run", options.dryRun, "Report what would change and write nothing");
        }
        to.add_flag("-q,--quiet", options.quiet, "Print only problems");
        to.add_flag("-r,--recursive", options.recursive, "Descend into subfolders");
    };
    addFlags(app, true);
    for (std::size_t i = 0; i < subcommands.size(); ++i) {
        subcommands[i] = app.add_subcommand(commands[i].name, commands[i].description);
        addFlags(*subcommands[i], commands[i].changes);
    }
    subcommands[3]->add_option("--set", priorityText, "Give every map draw priority N (0 to 31, decimal)")
        ->option_text("N");
    for (CLI::App* sub : subcommands) {
        sub->add_option("--family", options.families,
                        "Only the maps of this map family, by id or name (repeatable); a file without them "
                        "is left alone")
            ->option_text("ID|NAME")
            ->allow_extra_args(false);
        sub->add_option("PATH", options.paths, "A map file, or a folder standing for the files in it")->required();
    }
    return subcommands;
}

// Checks what the parser let through; an empty string when all is well, else the usage message.
std::string checkOptions(Options& options, const std::optional<std::string>& priorityText)
{
    const std::string command = options.command == Command::Status        ? "status"
                                : options.command == Command::Transparent ? "transparent"
                                : options.command == Command::Opaque      ? "opaque"
                                                                          : "priority";
    if (std::find(options.paths.begin(), options.paths.end(), "") != options.paths.end()) {
        return usageMessage(command, "an empty PATH names no file; name a map file or folder");
    }
    if (priorityText) {
        const auto priority = decimalPriority(*priorityText);
        if (!priority) {
            return usageMessage(command, "--set '" + printable(*priorityText) + "' is no draw priority; " +
                                             kPriorityRange);
        }
        options.priority = *priority;
    }
    return "";
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::FileLayer& files,
        const std::function<bool()>& outBroken)
{
    CLI::App app{"Reports and switches the transparency and draw priority of Garmin map files by rewriting one "
                 "byte per map.",
                 "imgflag"};
    Options options;
    std::string priorityText;
    const auto subcommands = describeCommandLine(app, options, priorityText);
    // The parser takes the arguments after the program name, last one first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (!reversed.empty()) {
        reversed.pop_back();
    }
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
    }
    const auto chosen = std::find_if(subcommands.begin(), subcommands.end(), [](CLI::App* sub) { return sub->parsed(); });
    options.command = chosen == subcommands.end() ? Command::Status
                                                  : static_cast<Command>(chosen - subcommands.begin());
    const auto setGiven = subcommands[3]->get_option("--set")->count() > 0 ? std::optional(priorityText) : std::nullopt;
    if (const std::string problem = checkOptions(options, setGiven); !problem.empty()) {
        err << problem;
        return kExitUsage;
    }
    return Runner(options, out, err, files, outBroken).run();
}

}  // namespace ks::cli
