// Where the programs find their data files (speed.map, angle.map, the language modules): beside
// the program first, so that the build tree and a portable copy keep working; then in the
// installed layout, share/quillmere beside the program's bin folder; then in the user's and the
// system's XDG data folders.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The variables of the XDG base directory rules that the search reads; unset ones are empty.
struct DataEnvironment {
    std::string xdgDataHome;
    std::string xdgDataDirs;
    std::string home;

    // The values of this process's environment.
    static DataEnvironment current();
};

// The folders searched, in order, without repetition: programFolder,
// programFolder/../share/quillmere, $XDG_DATA_HOME/quillmere (else $HOME/.local/share/quillmere),
// then each folder of $XDG_DATA_DIRS + /quillmere (else /usr/local/share and /usr/share).
// Relative XDG entries are ignored, as the XDG rules ask.
std::vector<std::filesystem::path> dataFolders(const std::filesystem::path& programFolder,
                                               const DataEnvironment& environment);

// The first folder holding a regular file of that name.
std::optional<std::filesystem::path> findDataFile(const std::vector<std::filesystem::path>& folders,
                                                  std::string_view name);

// The data file of that name for a program in programFolder, searched as dataFolders says in
// this process's environment; when no folder holds it, the path beside the program, so that
// opening it fails and a message names where it is expected first.
std::filesystem::path locateDataFile(const std::filesystem::path& programFolder,
                                     std::string_view name);

}  // namespace qm
