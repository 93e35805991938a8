// imgflag: reports and switches the transparency of IMG map files from the
// command line, every map of a combined container included.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ks::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;        // every file a map, every requested change made
inline constexpr int kExitProblem = 1;   // some file not a map, unreadable or not changed
inline constexpr int kExitUsage = 2;     // the command line was wrong; nothing was touched

// Runs imgflag with args (args[0] is the program name): the report goes to
// out, messages for people to err. Map files are opened through files;
// folders are listed through files and, for -r, the file system. Returns the
// exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::FileLayer& files);

// run() on the real file system.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ks::cli
