// imgflag: reports and switches the transparency of IMG map files from the
// command line, every map of a combined container included.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/files.h"

namespace ks::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;           // every file a map, every requested change made
inline constexpr int kExitProblem = 1;      // some file not a map, unreadable or not changed; or no report
inline constexpr int kExitUsage = 2;        // the command line was wrong; nothing was touched
inline constexpr int kExitSignalBase = 128;  // plus the number of the signal that stopped it

// Runs imgflag with args (args[0] is the program name): the report goes to
// out, line by line as each file is done and on the medium; messages for
// people go to err. Map files are opened and folders listed through files;
// -r finds subfolders in the file system. Before each file, outBroken (when
// given) tells whether out can no longer be written, as a closed pipe; then,
// as when out has failed, no further file is switched. Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::FileLayer& files,
        const std::function<bool()>& outBroken = {});

// Asks a running imgflag to stop after the current file, as signal does
// (0 withdraws the request). Safe to call from a signal handler.
void requestStop(int signal);

}  // namespace ks::cli
