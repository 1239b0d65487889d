// The tool's subcommands. Each takes its words after the command name.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/file/attractor_file.h"

namespace qm::cli {

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSearch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A user's sentence for why a file could not be read or written.
std::string describe(FileStatus status, int systemError = 0);

// The kind code named by a file keyword ("lorenz") or a code ("3"); -1 when neither.
int parseKind(const std::string& text);

}  // namespace qm::cli
