// The favourites folder: the finds a user starred, each kept as a scene (NNNN.qmscene) beside
// its thumbnail (NNNN.png), numbered on after the highest number there and never replacing a
// file, so that the gallery lists them again on its next start. Parameter files (NNNN.qmattr:
// older favourites, or files the user put there) are favourites too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/file/atomic_write.h"
#include "core/file/data_location.h"

namespace qm {

// $XDG_DATA_HOME/quillmere/favourites, else $HOME/.local/share/quillmere/favourites; a
// relative XDG_DATA_HOME is ignored, as the XDG rules ask. Empty without either.
std::filesystem::path defaultFavouritesFolder(const DataEnvironment& environment);

struct SavedFavourite {
    WriteResult result;
    std::int64_t number = 0;
    std::filesystem::path scene;      // the scene file written, or the file that failed
    std::filesystem::path thumbnail;  // the thumbnail written
};

// Makes the folder when it is missing and writes the pair under the next free number.
SavedFavourite saveFavourite(const std::filesystem::path& folder, std::string_view sceneText,
                             std::string_view thumbnailPng);

struct FavouriteFile {
    std::int64_t number = 0;
    std::filesystem::path path;  // NNNN.qmscene, or NNNN.qmattr

    friend bool operator==(const FavouriteFile&, const FavouriteFile&) = default;
};

// The favourites of the folder in the order they were starred (by number): the scenes and the
// parameter files; a scene wins where both stand under one number.
std::vector<FavouriteFile> favouriteFiles(const std::filesystem::path& folder);

}  // namespace qm
