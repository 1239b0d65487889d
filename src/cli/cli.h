// quillmere-cli: the command-line tool. Machine-readable "key: value" lines go to standard
// output, messages to standard error. Exit status 0 on success, 1 when a command ran but did
// not reach its goal, 2 on bad arguments or an unreadable file.
#pragma once

#include <ostream>

namespace qm::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotReached = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWriteFailed = 3;
inline constexpr int kExitNoMemory = 4;
inline constexpr int kExitInterrupted = 130;  // SIGINT
inline constexpr int kExitTerminated = 143;   // SIGTERM

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace qm::cli
