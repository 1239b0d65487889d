#include "core/discover/thumbnail.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "core/math/cr_exp_log.h"
#include "core/render/bitmap3d.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/render_loop.h"
#include "core/render/sampling.h"

namespace qm {

namespace {

constexpr std::int32_t kCell = 4;  // density summed over cells of 4x4 pixels
constexpr int kBinsPerOctave = 2;
constexpr int kOctaves = 20;
constexpr int kBins = kBinsPerOctave * kOctaves;

class BuildSink final : public RenderSink {
public:
    explicit BuildSink(TBitmap3D* target) : target_(target) {}
    void develop() override {
        if (target_) target_->BuildImage();
    }

private:
    TBitmap3D* target_;
};

// Fits the target's view to the attractor and renders into it; false on divergence.
bool renderFitted(Attractor& attractor, TBitmap3D& target, std::int32_t iterations, bool develop) {
    threadRandom31().state = 0;
    if (!sampleAttractor(attractor, target, kPreviewIterations, SamplingMode::Fit)) return false;
    target.SetView();
    target.ClearImage();
    attractor.restart();
    RenderControl control;
    BuildSink sink(develop ? &target : nullptr);
    const RenderOutcome outcome = runRender(attractor, target, {iterations, 1}, sink, control);
    if (outcome.diverged) return false;
    if (develop && outcome.needsFinalDevelop) target.BuildImage();
    return true;
}

std::unique_ptr<TBitmap3D> makeTarget(int mode, const Attractor& attractor,
                                      const ThumbnailSettings& settings) {
    auto target = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
        light->speedGradient = settings.speedGradient;
        light->angleGradient = settings.angleGradient;
    }
    target->SetWidth(settings.width);
    target->SetHeight(settings.height);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    target->mirror = attractor.kind() == AttractorKind::Julia;
    return target;
}

}  // namespace

ThumbnailScore scoreDensity(const float* density, std::int32_t width, std::int32_t height) {
    ThumbnailScore s;
    if (width <= 0 || height <= 0) return s;
    const std::int64_t pixels = std::int64_t{width} * height;
    std::int64_t covered = 0;
    for (std::int64_t i = 0; i < pixels; ++i) covered += density[i] > 0;
    s.coverage = static_cast<double>(covered) / static_cast<double>(pixels);

    // Cells average out the splat's noise: a uniformly filled disc is then one or two bins.
    const std::int32_t cw = (width + kCell - 1) / kCell, ch = (height + kCell - 1) / kCell;
    std::vector<double> cells(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0.0);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x)
            cells[static_cast<std::size_t>(y / kCell) * static_cast<std::size_t>(cw) +
                  static_cast<std::size_t>(x / kCell)] +=
                density[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)];
    double peak = 0;
    for (double c : cells) peak = std::max(peak, c);
    if (peak <= 0) return s;
    std::array<std::int64_t, kBins> histogram{};
    std::int64_t total = 0;
    const double top = crm::log2(peak);
    for (double c : cells) {
        if (c <= 0) continue;
        const double below = (top - crm::log2(c)) * kBinsPerOctave;
        const int bin = std::clamp(static_cast<int>(below), 0, kBins - 1);
        ++histogram[static_cast<std::size_t>(bin)];
        ++total;
    }
    double entropy = 0;
    for (std::int64_t n : histogram) {
        if (n == 0) continue;
        const double p = static_cast<double>(n) / static_cast<double>(total);
        entropy -= p * crm::log(p);
    }
    s.variety = entropy / crm::log(static_cast<double>(kBins));
    s.score = std::sqrt(s.coverage) * s.variety;
    return s;
}

std::optional<Thumbnail> renderThumbnail(Attractor& attractor, const ThumbnailSettings& settings) {
    auto target = makeTarget(settings.mode, attractor, settings);
    if (!renderFitted(attractor, *target, settings.iterations, true)) return std::nullopt;

    Thumbnail thumb;
    const ImageView view = target->imageView();
    thumb.width = view.width;
    thumb.height = view.height;
    thumb.mode = settings.mode;
    thumb.mirror = target->mirror;
    thumb.camera = {target->eye,           target->target, target->centre, target->rotationAxis,
                    target->rotationAngle, target->scale,  target->panX,   target->panY};
    thumb.pixels.resize(static_cast<std::size_t>(thumb.bytesPerLine()) *
                        static_cast<std::size_t>(view.height));
    for (std::int32_t y = 0; y < view.height; ++y)
        std::copy_n(view.bits + static_cast<std::ptrdiff_t>(y) * view.bytesPerLine,
                    thumb.bytesPerLine(),
                    thumb.pixels.data() + static_cast<std::ptrdiff_t>(y) * thumb.bytesPerLine());

    if (!settings.scored) return thumb;
    const TBitmap3D_Gas* gas = dynamic_cast<const TBitmap3D_Gas*>(target.get());
    std::unique_ptr<TBitmap3D> scoring;
    if (!gas || settings.mode != static_cast<int>(RenderMode::Gas)) {
        scoring = makeTarget(static_cast<int>(RenderMode::Gas), attractor, settings);
        if (!renderFitted(attractor, *scoring, settings.iterations, false)) return std::nullopt;
        gas = static_cast<const TBitmap3D_Gas*>(scoring.get());
    }
    thumb.score = scoreDensity(gas->density.data(), gas->imageWidth, gas->imageHeight);
    return thumb;
}

RenderScene thumbnailScene(const Thumbnail& thumb) {
    RenderScene scene;
    scene.mode = thumb.mode;
    scene.width = RenderScene::kDefaultWidth;
    // The fit is relative to the image, so the same proportions give the same framing.
    const double height =
        thumb.width > 0 ? std::round(static_cast<double>(scene.width) * thumb.height / thumb.width)
                        : RenderScene::kDefaultHeight;
    scene.height = static_cast<std::int32_t>(std::clamp(height, 16.0, 16384.0));
    scene.camera = thumb.camera;
    scene.mirror = thumb.mirror;
    scene.previewRandom = 0;  // the thumbnail's sampling started from state 0
    return scene;
}

}  // namespace qm
