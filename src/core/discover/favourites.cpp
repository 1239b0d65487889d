#include "core/discover/favourites.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "core/file/numbered_files.h"
#include "core/scene/scene_file.h"

namespace qm {

namespace {

constexpr std::string_view kThumbnailExtension = ".png";
constexpr std::string_view kParameterExtension = ".qmattr";

}  // namespace

std::filesystem::path defaultFavouritesFolder(const DataEnvironment& environment) {
    std::filesystem::path home;
    if (!environment.xdgDataHome.empty() &&
        std::filesystem::path(environment.xdgDataHome).is_absolute())
        home = environment.xdgDataHome;
    else if (!environment.home.empty())
        home = std::filesystem::path(environment.home) / ".local" / "share";
    else
        return {};
    return home / "quillmere" / "favourites";
}

SavedFavourite saveFavourite(const std::filesystem::path& folder, std::string_view sceneText,
                             std::string_view thumbnailPng) {
    SavedFavourite saved;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // A failure here shows in the write below, with the reason the system gives there.
    // After parameter files too: a scene of the same number would hide one.
    saved.number = std::max({highestFileNumber(folder, kSceneExtension),
                             highestFileNumber(folder, kThumbnailExtension),
                             highestFileNumber(folder, kParameterExtension)}) +
                   1;
    saved.result =
        writeNumberedPair(folder, saved.number, {kSceneExtension, sceneText},
                          {kThumbnailExtension, thumbnailPng}, saved.scene, saved.thumbnail);
    return saved;
}

std::vector<FavouriteFile> favouriteFiles(const std::filesystem::path& folder) {
    std::map<std::int64_t, std::string_view> byNumber;
    for (std::int64_t n : fileNumbers(folder, kParameterExtension))
        byNumber[n] = kParameterExtension;
    for (std::int64_t n : fileNumbers(folder, kSceneExtension)) byNumber[n] = kSceneExtension;
    std::vector<FavouriteFile> files;
    for (const auto& [n, extension] : byNumber)
        files.push_back({n, folder / numberedFileName(n, extension)});
    return files;
}

}  // namespace qm
