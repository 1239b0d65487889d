#include "core/scene/scene.h"

#include "core/attractor/ifs.h"
#include "core/attractor/random31.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"

namespace qm {

RenderScene captureScene(const Attractor& attractor, const TBitmap3D& target,
                         std::int64_t iterations, std::int32_t updates, std::uint64_t previewRandom,
                         std::int32_t streams, std::uint64_t renderSeed) {
    RenderScene s;
    s.streams = streams;
    s.renderSeed = renderSeed;
    s.mode = target.mode;
    s.width = target.imageWidth;
    s.height = target.imageHeight;
    s.iterations = iterations;
    s.updates = updates;
    s.previewRandom = previewRandom;
    if (const auto* ifs = dynamic_cast<const IFS*>(&attractor)) s.chaosSeed = ifs->seed();
    s.mirror = target.mirror;
    SceneCamera c;
    c.eye = target.eye;
    c.target = target.target;
    c.centre = target.centre;
    c.rotationAxis = target.rotationAxis;
    c.rotationAngle = target.rotationAngle;
    c.scale = target.scale;
    c.panX = target.panX;
    c.panY = target.panY;
    s.camera = c;
    if (target.fixedPeak > 0) s.exposure = target.fixedPeak;
    if (const auto* gas = dynamic_cast<const TBitmap3D_Gas*>(&target)) {
        s.luminosity = gas->luminosity;
        s.gamma = gas->gamma;
    } else if (const auto* light = dynamic_cast<const TBitmap3D_Light*>(&target)) {
        s.luminosity = light->luminosity;
        s.gamma = light->gamma;
        s.lightRanges = LightRanges{light->speedMin, light->speedMax, light->cosMin, light->cosMax};
        s.plotColor = light->plotColor;
        s.speedGradient = light->speedGradient;
        s.angleGradient = light->angleGradient;
    } else if (const auto* solid = dynamic_cast<const TBitmap3D_Solid*>(&target)) {
        s.gamma = solid->gamma;
        s.opacity = solid->opacity;
        s.roughness = solid->roughness;
    }
    return s;
}

void applyCamera(TBitmap3D& t, const SceneCamera& c) {
    t.eye = c.eye;
    t.target = c.target;
    t.centre = c.centre;
    t.rotationAxis = c.rotationAxis;
    t.rotationAngle = c.rotationAngle;
    t.scale = c.scale;
    t.panX = c.panX;
    t.panY = c.panY;
    t.SetView();
}

PreparedScene prepareScene(Attractor& attractor, const RenderScene& scene,
                           const Gradientf& defaultSpeed, const Gradientf& defaultAngle) {
    PreparedScene prepared;
    prepared.target = CreateRenderTarget(scene.mode);
    if (!prepared.target) return prepared;
    TBitmap3D& t = *prepared.target;

    // The target as a new document makes it, then the scene's settings.
    auto* light = dynamic_cast<TBitmap3D_Light*>(&t);
    if (light) {
        light->speedGradient = scene.speedGradient.value_or(defaultSpeed);
        light->angleGradient = scene.angleGradient.value_or(defaultAngle);
    }
    t.SetWidth(scene.width);
    t.SetHeight(scene.height);
    t.SetEye({0, 0, -5});
    t.SetTarget({0, 0, 0});
    t.mirror = scene.mirror.value_or(attractor.kind() == AttractorKind::Julia);
    if (auto* gas = dynamic_cast<TBitmap3D_Gas*>(&t)) {
        gas->luminosity = scene.luminosity.value_or(gas->luminosity);
        gas->gamma = scene.gamma.value_or(gas->gamma);
    } else if (light) {
        light->luminosity = scene.luminosity.value_or(light->luminosity);
        light->gamma = scene.gamma.value_or(light->gamma);
    } else if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(&t)) {
        solid->gamma = scene.gamma.value_or(solid->gamma);
        solid->opacity = scene.opacity.value_or(solid->opacity);
        solid->roughness = scene.roughness.value_or(solid->roughness);
    }
    if (scene.chaosSeed)
        if (auto* ifs = dynamic_cast<IFS*>(&attractor)) ifs->setSeed(*scene.chaosSeed);
    if (scene.camera) applyCamera(t, *scene.camera);
    if (scene.exposure) t.fixedPeak = static_cast<float>(*scene.exposure);

    // The preview points decide the Solid light maps and, unless the scene holds them, the
    // Light statistics; the sampling draws from this thread's generator (Julia) .
    if (scene.previewRandom) threadRandom31().state = *scene.previewRandom;
    prepared.previewRandom = threadRandom31().state;
    prepared.bounded = sampleAttractor(attractor, t, kPreviewIterations,
                                       scene.camera ? SamplingMode::Plain : SamplingMode::Fit);

    if (light) {
        if (scene.lightRanges) {
            const LightRanges& r = *scene.lightRanges;
            light->speedMin = r.speedMin;
            light->speedMax = r.speedMax;
            light->speedRange = r.speedMax - r.speedMin;
            light->cosMin = r.cosMin;
            light->cosMax = r.cosMax;
            light->cosRange = r.cosMax - r.cosMin;
        }
        if (scene.plotColor) light->plotColor = *scene.plotColor;
    }
    t.SetView();
    return prepared;
}

}  // namespace qm
