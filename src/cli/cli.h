// quillmere-cli: the command-line tool. Machine-readable "key: value" lines go to standard
// output, messages to standard error. The exit statuses below are the same for every command.
#pragma once

#include <ostream>

namespace qm::cli {

inline constexpr int kExitOk = 0;
// The work ended without its result: a search out of budget, a diverging attractor.
inline constexpr int kExitNotReached = 1;
// Bad arguments or unreadable input; nothing is written.
inline constexpr int kExitUsage = 2;
// An output (a file, standard output) could not be written.
inline constexpr int kExitWriteFailed = 3;
// Not enough memory for the work asked for.
inline constexpr int kExitNoMemory = 4;
// Stopped by SIGINT or SIGTERM: 128 plus the signal number, as shells report it.
inline constexpr int kExitInterrupted = 130;
inline constexpr int kExitTerminated = 143;

// Runs the command in argv. Everything written to out is flushed before the return; when out
// cannot take it, the status is kExitWriteFailed and err says so.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace qm::cli
