// The favourites folder: where it is by default, and pairs of files numbered on without ever
// replacing one, or nothing at all when the folder cannot take them.
#include "core/discover/favourites.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "core/file/numbered_files.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path temporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "qm-favourites-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    return pattern;
}

TEST(Favourites, DefaultFolderFollowsTheXdgDataHome) {
    EXPECT_EQ(defaultFavouritesFolder({"/data", "", "/home/u"}), "/data/quillmere/favourites");
    EXPECT_EQ(defaultFavouritesFolder({"", "", "/home/u"}),
              "/home/u/.local/share/quillmere/favourites");
    EXPECT_EQ(defaultFavouritesFolder({"relative", "", "/home/u"}),
              "/home/u/.local/share/quillmere/favourites");
    EXPECT_EQ(defaultFavouritesFolder({"", "", ""}), fs::path());
}

TEST(Favourites, PairsNumberOnAfterEitherKindAndNeverReplace) {
    const fs::path dir = temporaryFolder();
    const fs::path folder = dir / "a" / "favourites";  // made on the first star
    SavedFavourite first = saveFavourite(folder, "scene 1", "png 1");
    ASSERT_TRUE(first.result);
    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(first.scene, folder / "0001.qmscene");
    EXPECT_EQ(contents(first.thumbnail), "png 1");

    // A thumbnail without its scene holds number 2; someone's 0004.png would collide with the
    // pair's second file: the pair goes on to a number free for both.
    std::ofstream(folder / "0002.png") << "other";
    SavedFavourite second = saveFavourite(folder, "scene 3", "png 3");
    ASSERT_TRUE(second.result);
    EXPECT_EQ(second.number, 3);
    std::ofstream(folder / "0005.png") << "taken";
    std::int64_t n = 4;
    fs::path scenePath, pngPath;
    ASSERT_TRUE(writeNumberedPair(folder, n, {".qmscene", "scene 4"}, {".png", "png 4"}, scenePath,
                                  pngPath));
    EXPECT_EQ(n, 4);
    n = 5;
    ASSERT_TRUE(writeNumberedPair(folder, n, {".qmscene", "scene 6"}, {".png", "png 6"}, scenePath,
                                  pngPath));
    EXPECT_EQ(n, 6);
    EXPECT_FALSE(fs::exists(folder / "0005.qmscene")) << "a half pair stays behind";
    EXPECT_EQ(contents(folder / "0005.png"), "taken");
    EXPECT_EQ(contents(folder / "0002.png"), "other");
    // Parameter files are favourites too, numbered among the scenes; a scene of the same number
    // hides one, and a new star goes past them.
    std::ofstream(folder / "0002.qmattr") << "params 2";
    std::ofstream(folder / "0004.qmattr") << "params 4";
    std::ofstream(folder / "0009.qmattr") << "params 9";
    std::ofstream(folder / "notes.qmattr") << "not numbered";
    EXPECT_EQ(favouriteFiles(folder), (std::vector<FavouriteFile>{{1, folder / "0001.qmscene"},
                                                                  {2, folder / "0002.qmattr"},
                                                                  {3, folder / "0003.qmscene"},
                                                                  {4, folder / "0004.qmscene"},
                                                                  {6, folder / "0006.qmscene"},
                                                                  {9, folder / "0009.qmattr"}}));
    EXPECT_EQ(saveFavourite(folder, "scene 10", "png 10").number, 10);
    fs::remove_all(dir);
}

TEST(Favourites, AFolderThatCannotBeWrittenKeepsNothing) {
    // A plain file where the folder should be: unwritable for root too, unlike a read-only one.
    const fs::path dir = temporaryFolder();
    std::ofstream(dir / "file") << "x";
    const SavedFavourite saved = saveFavourite(dir / "file" / "favourites", "scene", "png");
    EXPECT_FALSE(saved.result);
    EXPECT_TRUE(favouriteFiles(dir / "file" / "favourites").empty());
    EXPECT_EQ(contents(dir / "file"), "x");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
