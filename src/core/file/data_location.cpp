#include "core/file/data_location.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace qm {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDataSubfolder = "quillmere";

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void addFolder(std::vector<fs::path>& folders, const fs::path& folder) {
    if (folder.empty()) return;
    fs::path normal = folder.lexically_normal();
    // "a/b/" and "a/b" are one folder.
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path())
        normal = normal.parent_path();
    if (std::find(folders.begin(), folders.end(), normal) == folders.end())
        folders.push_back(std::move(normal));
}

}  // namespace

DataEnvironment DataEnvironment::current() {
    return {variable("XDG_DATA_HOME"), variable("XDG_DATA_DIRS"), variable("HOME")};
}

std::vector<fs::path> dataFolders(const fs::path& programFolder,
                                  const DataEnvironment& environment) {
    std::vector<fs::path> folders;
    addFolder(folders, programFolder);
    if (!programFolder.empty()) addFolder(folders, programFolder / ".." / "share" / kDataSubfolder);

    const fs::path dataHome(environment.xdgDataHome);
    if (dataHome.is_absolute())
        addFolder(folders, dataHome / kDataSubfolder);
    else if (fs::path(environment.home).is_absolute())
        addFolder(folders, fs::path(environment.home) / ".local" / "share" / kDataSubfolder);

    std::string_view dirs = environment.xdgDataDirs;
    if (dirs.empty()) dirs = "/usr/local/share/:/usr/share/";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const fs::path dir(dirs.substr(0, colon));
        if (dir.is_absolute()) addFolder(folders, dir / kDataSubfolder);
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return folders;
}

std::optional<fs::path> findDataFile(const std::vector<fs::path>& folders, std::string_view name) {
    for (const fs::path& folder : folders) {
        fs::path candidate = folder / name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

fs::path locateDataFile(const fs::path& programFolder, std::string_view name) {
    if (auto found = findDataFile(dataFolders(programFolder, DataEnvironment::current()), name))
        return *found;
    return programFolder / name;
}

}  // namespace qm
