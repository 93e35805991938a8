// The window program's command line: `kartenschalter [PATH]`, --help and
// --version. No toolkit code.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace ks::shell {

struct Arguments {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Run;
    std::string path;     // a folder, or a file in it, to list at start; may be empty
    std::string problem;  // for Usage: what was wrong
};

// Reads the arguments after the program name.
inline Arguments parseArguments(std::span<const std::string> args)
{
    Arguments parsed;
    bool options = true;  // until "--"
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "--help" || arg == "-h")) {
            return {Arguments::Action::Help, {}, {}};
        }
        if (options && arg == "--version") {
            return {Arguments::Action::Version, {}, {}};
        }
        if (options && arg.size() > 1 && arg.starts_with('-')) {
            return {Arguments::Action::Usage, {}, "unknown option '" + arg + "'"};
        }
        if (!parsed.path.empty()) {
            return {Arguments::Action::Usage, {}, "only one PATH may be given"};
        }
        parsed.path = arg;
    }
    return parsed;
}

// The text of --help.
inline std::string helpText()
{
    return "Usage: kartenschalter [PATH]\n"
           "Switches Garmin IMG map files between transparent and opaque.\n"
           "\n"
           "Lists every file of a folder with the state of its transparency bit,\n"
           "lets you mark any number of them and sets or clears the bit in all\n"
           "marked files at once, rewriting one byte per map in place.\n"
           "\n"
           "PATH is a folder, or any file in it: that folder is listed as soon as\n"
           "the window opens, as if it had been chosen through\n"
           "\"Datei (file)\" > \"Pfad wählen (select path)\".\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n";
}

// Answers what needs no window: prints the help or the version on out and
// returns 0, or a usage error on err and returns 2; nothing for a run.
inline std::optional<int> answerWithoutWindow(const Arguments& args, std::string_view version, std::ostream& out,
                                              std::ostream& err)
{
    switch (args.action) {
    case Arguments::Action::Help: out << helpText(); return 0;
    case Arguments::Action::Version: out << "kartenschalter " << version << '\n'; return 0;
    case Arguments::Action::Usage: break;
    case Arguments::Action::Run: return std::nullopt;
    }
    err << "kartenschalter: " << args.problem << "\nTry 'kartenschalter --help' for more information.\n";
    return 2;
}

// The UTF-8 path made absolute against the working folder, with "." and ".."
// resolved by name (links are kept); unchanged if the working folder is unknown.
inline std::string absolutePath(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::path(std::u8string(path.begin(), path.end())), error);
    if (error) {
        return path;
    }
    const std::u8string text = absolute.lexically_normal().u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace ks::shell
