// Thumbnails of the gallery's finds and their score: a small fitted render of a parameter set
// in a render mode, and a measure of how much of the frame the attractor fills and how varied
// its density is, so that a dull disc or a few dots rank below a rich structure.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/property/gradient.h"
#include "core/scene/scene.h"

namespace qm {

struct ThumbnailSettings {
    int mode = 2;  // a render mode index; "Lumière" by default
    std::int32_t width = 200;
    std::int32_t height = 150;
    std::int32_t iterations = 300000;
    // Whether to score the thumbnail (a second, Gas render unless the mode is Gas): a thumbnail
    // drawn again in another mode keeps the score it had.
    bool scored = true;
    // The Light family's gradients, as the caller loaded them (the shipped colour maps).
    Gradientf speedGradient;
    Gradientf angleGradient;
};

// Coverage: the fraction of pixels with any density. Variety: the normalised entropy of the
// histogram of log2 density over the covered 4x4 cells, in half-octave bins reaching 20
// octaves below the densest cell (1 when the cells spread evenly over all 40 bins, 0 when they
// all fall into one). Score: sqrt(coverage) x variety, from 0 to 1.
struct ThumbnailScore {
    double coverage = 0;
    double variety = 0;
    double score = 0;
};

// The score of a density buffer of width x height values (row by row).
ThumbnailScore scoreDensity(const float* density, std::int32_t width, std::int32_t height);

struct Thumbnail {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // rows of blue, green, red; the top row first
    ThumbnailScore score;
    int mode = 0;
    // The framing the thumbnail was fitted to, and whether the kind's mirror image was drawn.
    SceneCamera camera;
    bool mirror = false;

    std::int32_t bytesPerLine() const { return 3 * width; }
};

// Renders the attractor as a document does after "Ouvrir..." and "Démarrer": the preview
// sampling with the view fitted, then the render loop over settings.iterations points, all
// with the calling thread's random31 starting at 0, so that the bytes depend on the
// parameters alone. The score comes from a Gas render of the same view (the mode's own
// render when it is Gas). Empty when the orbit diverges while it is sampled or rendered.
std::optional<Thumbnail> renderThumbnail(Attractor& attractor, const ThumbnailSettings& settings);

// The scene of a find as its thumbnail shows it: the thumbnail's mode, framing and mirror, in
// a picture of the new-document width (640) and the thumbnail's proportions, with the default
// iterations and settings. Opened, it is the thumbnail at a size worth rendering.
RenderScene thumbnailScene(const Thumbnail& thumb);

}  // namespace qm
