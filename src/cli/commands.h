// The tool's subcommands. Each takes its words after the command name.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/file/attractor_file.h"
#include "core/file/input_file.h"

namespace qm::cli {

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSearch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runResume(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runMerge(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runAnimate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runPoints(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runGallery(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A user's sentence for why a file could not be read or written.
std::string describe(FileStatus status, int systemError = 0);
// The same for an input read within limits.
std::string describe(ReadStatus status, const TextLimits& limits, int systemError = 0);

// Where the tool reads a file, "-" names standard input.
inline bool isStandardStream(const std::string& name) {
    return name == "-";
}
// The text of a file named on the command line, or of standard input for "-", within limits.
ReadStatus readInputText(const std::string& name, const TextLimits& limits, std::string& text,
                         int* systemError = nullptr);
// An attractor file named on the command line, or standard input for "-".
LoadResult loadAttractorInput(Parser& parser, const std::string& name, int* systemError = nullptr);
// The same for a failed load, with the line and what was wrong there.
std::string describe(const LoadResult& loaded, int systemError = 0);

// The mode named as the interface writes it ("Lumière", also "lumiere"), or its index; -1
// when neither.
int parseMode(const std::string& text);
// A whole-string finite number, read independently of the locale.
std::optional<double> parseReal(const std::string& text);
// The folder of the running program, where its data files are looked for first.
std::filesystem::path programFolder();

// The kind code named by a file keyword ("lorenz") or a code ("3"); -1 when neither.
int parseKind(const std::string& text);

}  // namespace qm::cli
