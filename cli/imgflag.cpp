#include "imgflag.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "container/map_reader.h"
#include "container/multi_map.h"
#include "platform/posix_files.h"

#ifndef KS_VERSION
#error "KS_VERSION must name the program version"
#endif

namespace ks::cli {

namespace {

namespace fs = std::filesystem;
using platform::RunTimeError;

enum class Command { Status, Transparent, Opaque };

struct Options {
    Command command = Command::Status;
    std::vector<std::string> paths;
    bool json = false;
    bool dryRun = false;
    bool quiet = false;
    bool recursive = false;
};

enum class State { Transparent, Opaque, Mixed, NotImg, NoTre, BadTre, NoAccess, Error };

// What one file turned out to be, and what was done to it.
struct FileReport {
    std::string path;
    State state = State::Error;
    std::size_t maps = 0;             // for Transparent, Opaque and Mixed
    std::size_t transparentMaps = 0;  // for Transparent, Opaque and Mixed
    std::optional<bool> changed;      // for the transparent and opaque commands on a map
    std::string message;              // why, for NoAccess and Error
};

bool isProblem(State state)
{
    return state != State::Transparent && state != State::Opaque && state != State::Mixed;
}

const char* stateName(State state)
{
    switch (state) {
    case State::Transparent: return "transparent";
    case State::Opaque: return "opaque";
    case State::Mixed: return "mixed";
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

// The reason shown for a run-time error of the file layer or the container.
std::string errorMessage(int number)
{
    switch (number) {
    case platform::err::kOverflow: return "the container's block size or directory is out of range";
    case platform::err::kFileNotFound: return "file not found";
    case platform::err::kDeviceIo: return "input/output error";
    case platform::err::kBadRecordNumber: return "a subfile lies before the start of the file";
    case platform::err::kTooManyFiles: return "too many open files";
    case platform::err::kPathFileAccess: return "cannot be opened for writing (read-only?)";
    case platform::err::kPathNotFound: return "path not found";
    default: return "run-time error " + std::to_string(number);
    }
}

State stateOf(container::LookupOutcome outcome)
{
    switch (outcome) {
    case container::LookupOutcome::NotImg: return State::NotImg;
    case container::LookupOutcome::TreNotFound: return State::NoTre;
    case container::LookupOutcome::TreBad: return State::BadTre;
    case container::LookupOutcome::Found: break;
    }
    return State::Error;
}

// Probes the file at path and, for the transparent and opaque commands,
// rewrites the flag byte of every map whose bit differs (unless dry run).
FileReport handleFile(platform::FileLayer& files, const std::string& path, const Options& options)
{
    FileReport report;
    report.path = path;
    std::unique_ptr<platform::MapFile> file;
    try {
        file = files.openReadWrite(path);
    } catch (const RunTimeError& e) {
        report.state = e.number() == platform::err::kPathFileAccess ? State::NoAccess : State::Error;
        report.message = errorMessage(e.number());
        return report;
    }

    bool writing = false;
    try {
        container::MapReader reader(*file);
        container::ContainerMaps found;
        const container::LookupOutcome outcome = container::FindMaps(reader, found);
        if (outcome != container::LookupOutcome::Found) {
            report.state = stateOf(outcome);
            return report;
        }
        report.maps = found.maps.size();
        report.transparentMaps = static_cast<std::size_t>(
            std::count_if(found.maps.begin(), found.maps.end(), [](const container::MapEntry& map) {
                return (map.TreFlags & container::kTransparentBit) != 0;
            }));
        if (options.command == Command::Status) {
            report.state = report.transparentMaps == report.maps ? State::Transparent
                           : report.transparentMaps == 0         ? State::Opaque
                                                                 : State::Mixed;
            return report;
        }

        const bool transparent = options.command == Command::Transparent;
        // Stored byte per flag offset; maps sharing one TRE subfile share its byte.
        std::vector<std::pair<std::uint64_t, std::uint8_t>> writes;
        for (const container::MapEntry& map : found.maps) {
            const std::uint8_t flags = container::SwitchedFlags(map.TreFlags, transparent);
            const auto offset = static_cast<std::uint64_t>(map.flagOffset());
            const bool listed = std::any_of(writes.begin(), writes.end(),
                                            [offset](const auto& write) { return write.first == offset; });
            if (flags != map.TreFlags && !listed) {
                writes.emplace_back(offset, static_cast<std::uint8_t>(flags ^ found.XorByte));
            }
        }
        report.changed = !writes.empty();
        if (!options.dryRun && !writes.empty()) {
            writing = true;
            for (const auto& [offset, stored] : writes) {
                file->writeByteAt(offset, stored);
            }
            file->flush();
        }
        report.state = transparent ? State::Transparent : State::Opaque;
        report.transparentMaps = transparent ? report.maps : 0;
    } catch (const RunTimeError& e) {
        report.state = State::Error;
        report.changed.reset();
        report.message = (writing ? "writing failed, the file may be partly switched: " : "") +
                         errorMessage(e.number());
    }
    return report;
}

class Runner {
public:
    Runner(const Options& options, std::ostream& out, std::ostream& err, platform::FileLayer& files)
        : options_(options), out_(out), err_(err), files_(files)
    {
    }

    int run()
    {
        for (const std::string& path : options_.paths) {
            std::error_code ec;
            if (fs::is_directory(path, ec)) {
                handleFolder(path);
            } else {
                handle(path);
            }
        }
        if (options_.json) {
            printJson();
        }
        if (options_.dryRun && options_.command != Command::Status && !options_.quiet) {
            err_ << "imgflag: dry run, nothing was written\n";
        }
        return problem_ ? kExitProblem : kExitOk;
    }

private:
    void handle(const std::string& path)
    {
        FileReport report = handleFile(files_, path, options_);
        const bool problem = isProblem(report.state);
        problem_ = problem_ || problem;
        if (!report.message.empty()) {
            err_ << "imgflag: " << path << ": " << report.message << '\n';
        }
        if (options_.quiet && !problem) {
            return;
        }
        if (options_.json) {
            reports_.push_back(std::move(report));
            return;
        }
        out_ << stateColumn(report) << '\t' << report.path;
        if (report.changed) {
            out_ << '\t' << (*report.changed ? "changed" : "unchanged");
        }
        out_ << '\n';
    }

    // Every regular file directly in folder, and with -r every file below
    // its subfolders (links to folders are not followed), in name order.
    void handleFolder(const std::string& folder)
    {
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            err_ << "imgflag: " << folder << ": cannot read the folder\n";
            problem_ = true;
            return;
        }
        std::vector<std::pair<std::string, bool>> names;  // name, is a subfolder
        for (std::string& name : files_.regularFiles(folder)) {
            names.emplace_back(std::move(name), false);
        }
        if (options_.recursive) {
            for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
                if (!it->is_symlink(ec) && it->is_directory(ec)) {
                    names.emplace_back(it->path().filename().string(), true);
                }
            }
        }
        std::sort(names.begin(), names.end());
        if (names.empty() && !options_.quiet) {
            err_ << "imgflag: " << folder << ": no files\n";
        }
        for (const auto& [name, isFolder] : names) {
            const std::string path = (fs::path(folder) / name).string();
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
            entry["state"] = stateName(report.state);
            if (!isProblem(report.state)) {
                entry["maps"] = report.maps;
                entry["transparent_maps"] = report.transparentMaps;
            }
            if (report.changed) {
                entry["change"] = *report.changed ? "changed" : "unchanged";
            }
            if (!report.message.empty()) {
                entry["message"] = report.message;
            }
            files.push_back(std::move(entry));
        }
        nlohmann::ordered_json document;
        document["command"] = options_.command == Command::Status        ? "status"
                              : options_.command == Command::Transparent ? "transparent"
                                                                         : "opaque";
        document["dry_run"] = options_.dryRun;
        document["files"] = std::move(files);
        // Paths that are not valid UTF-8 are printed with replacement characters.
        out_ << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    platform::FileLayer& files_;
    bool problem_ = false;
    std::vector<FileReport> reports_;
};

constexpr const char* kFooter = R"(States: transparent, opaque, mixed N/M transparent (a container whose maps
disagree), not-img, no-tre (no TRE subfile), bad-tre (a TRE subfile without
its header), no-access (read-only or not a regular file), error.

Exit status: 0 when every file was a map and every requested change was made,
1 when some file was not a map, could not be read or could not be changed,
2 for a usage error.)";

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::FileLayer& files)
{
    CLI::App app{"Reports and switches the transparency of Garmin IMG map files by rewriting one byte per map.",
                 "imgflag"};
    app.set_version_flag("--version", std::string("imgflag ") + KS_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();
    app.footer(kFooter);
    app.failure_message([](const CLI::App* parsed, const CLI::Error& e) {
        std::string what = e.what();
        const std::vector<std::string> rest = parsed->remaining();
        if (parsed->get_subcommands().empty() && !rest.empty() && !rest.front().starts_with("-")) {
            what = "unknown command '" + rest.front() + "'";
        }
        return "imgflag: " + what + "\nTry 'imgflag --help' for more information.\n";
    });

    Options options;
    app.add_flag("--json", options.json, "Print the report as JSON");
    app.add_flag("--dry-run", options.dryRun, "Report what would change and write nothing");
    app.add_flag("-q,--quiet", options.quiet, "Print only problems");
    app.add_flag("-r,--recursive", options.recursive, "Descend into subfolders");

    const std::pair<const char*, const char*> commands[] = {
        {"status", "Report each map file's state"},
        {"transparent", "Set the transparency bit of every map"},
        {"opaque", "Clear the transparency bit of every map"},
    };
    std::vector<CLI::App*> subcommands;
    for (const auto& [name, description] : commands) {
        CLI::App* sub = app.add_subcommand(name, description);
        sub->add_option("PATH", options.paths, "A map file, or a folder standing for the files in it")->required();
        subcommands.push_back(sub);
    }

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
    options.command = subcommands[1]->parsed()   ? Command::Transparent
                      : subcommands[2]->parsed() ? Command::Opaque
                                                 : Command::Status;
    return Runner(options, out, err, files).run();
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    platform::PosixFileLayer files;
    return run(args, out, err, files);
}

}  // namespace ks::cli
