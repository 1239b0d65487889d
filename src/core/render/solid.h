// The Solid mode ("Solide"): the attractor as an opaque, lit surface. Every point goes into a
// density and a depth buffer seen from the camera and into the shadow maps of three coloured
// directional lights; BuildImage rebuilds a normal from the depth buffer, lights each covered
// pixel with ambient, diffuse and specular terms and soft shadows, and blends it over the
// background by an opacity taken from the density.
//
// A render: ClearImage (which also fits every light map to the current preview cloud), then
// PlotPoint or PlotBlock for the orbit, then BuildImage as often as the image is wanted.
#pragma once

#include "core/hot_path.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm {

// One directional light with its two shadow maps (density and nearest depth seen from the
// light). The maps cover the box of the last scan: BeginScan, ScanPoint for every point,
// EndScan. A light whose map has no usable matrix (no scan yet, a box without extent in some
// axis, non-finite bounds) stores nothing and lights everything.
class Light {
public:
    static constexpr std::int32_t kMapSize = 800;

    Light();

    // direction = d normalised (kept as it is when d has length 0); right = upHint x direction,
    // normalised; up = direction x right.
    void SetDirection(const Vecd& d);
    // Empties both maps (density 0, depth 1) and takes 1 / opacity for the occlusion.
    void Clear();
    void BeginScan();
    void ScanPoint(const Vecd& p);
    void EndScan();
    // matrix = ortho(box enlarged by 1 + softness) x lookAt(light) x rotation.
    void ComputeMatrix();
    void FindPeak();

    // The splat rule of the camera, in map coordinates on mapDensity and mapDepth.
    QM_HOT_INLINE void Splat(const Vecd& p) {
        if (!mapValid_) return;
        const Vecd m = mapCoordinates(p);
        qm::Splat s;
        if (!TBitmap3D::splatCell(m.x, m.y, mapWidth, mapHeight, s)) return;
        addDepthSamples(mapDensity.data(), mapDepth.data(), mapWidth, s, m.z);
    }

    // How much of this light reaches object point p: 1 in front of the stored surface, outside
    // the map or wherever the map holds nothing; less behind a dense surface, fading in over a
    // depth band of `softness` behind it.
    float Visibility(const Vecd& p) const;

    // Map x, y (0 to mapWidth, mapHeight) and depth d (0 near, 1 far) of object point p.
    QM_HOT_INLINE Vecd mapCoordinates(const Vecd& p) const {
        const Vecd l = lightSpace(p);
        return {(l.x + 1) * mapWidth * 0.5, (l.y + 1) * mapHeight * 0.5, (l.z + 1) * 0.5};
    }
    bool hasMap() const { return mapValid_; }
    // The fit of the maps and the light's frame, as ClearImage left them, to go on with a
    // render: setFit refuses values of another length and changes nothing then.
    std::vector<double> fit() const;
    bool setFit(const std::vector<double>& values);

    // One camera or light splat: density += w; a point in front of the stored depth pulls it
    // towards its own depth d by w. The blend depth * (1 - w) + w * d is formed in double from
    // the float depth and weight and rounded once; d itself stays a double.
    QM_HOT_INLINE static void addDepthSamples(float* density, float* depth, std::int32_t width,
                                              const qm::Splat& s, double d) {
        const std::int32_t k[4] = {s.index, s.index + 1, s.index + width, s.index + width + 1};
        const float w[4] = {s.w00, s.w10, s.w01, s.w11};
        for (int q = 0; q < 4; ++q) {
            density[k[q]] += w[q];
            float& z = depth[k[q]];
            if (d < z) z = static_cast<float>(z * (1.0 - w[q]) + w[q] * d);
        }
    }

    std::int32_t mapPixels = kMapSize * kMapSize;
    std::vector<float> mapDensity;
    std::vector<float> mapDepth;
    float mapPeak = 0;
    double inverseOpacity = 1.0 / 8.0;
    double softness = 10.0 / kMapSize;
    Vecd boundsMin{-0.5, -0.5, -0.5};
    Vecd boundsMax{0.5, 0.5, 0.5};
    Vecd direction{0, 0, 1};
    Vecd right{1, 0, 0};
    Vecd up{0, 1, 0};
    Vecd upHint{0, 1, 0};
    Mat4 matrix = Mat4::identity();
    std::int32_t mapWidth = kMapSize;
    std::int32_t mapHeight = kMapSize;
    double opacity = 8.0;
    Vecd rotationAxis{0, 0, 0};
    double rotationAngle = 0;
    ColorRGBf color{1, 1, 1};

private:
    // The first three rows of matrix applied to p.
    Vecd lightSpace(const Vecd& p) const {
        const auto& m = matrix.m;
        return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
    }

    bool mapValid_ = false;
};

using LightArray = std::vector<std::unique_ptr<Light>>;

class TBitmap3D_Solid final : public TBitmap3D {
public:
    TBitmap3D_Solid();
    // A Solid target made by a mode switch starts from the Solid defaults: no other mode shares
    // its parameters.
    TBitmap3D_Solid(const TBitmap3D& source, ModeSwitch);

    // Mode 4, three lights, the colours and the shading parameters.
    void SetDefaults() override;
    void AllocateBuffers() override;
    // Also gives every light the object's rotation, so the lights stay fixed to the viewer.
    void SetView() override;
    void FindPeak() override;
    // Also refits and clears every light map over the preview points.
    void ClearImage() override;
    void BeginScan(ScanKind kind) override;
    void ScanPoint(const Vecd& p) override;
    void EndScan() override;
    void PlotPoint(const Vecd& p) override { plotSolid(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void BuildImage() override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    // BuildImage's shading (the same per-pixel function) with 16 bits per channel.
    void BuildImage16(std::uint16_t* out, std::ptrdiff_t rowStride) override;

    std::vector<float> density;
    std::vector<float> depth;
    float peak = 0;
    ColorRGBf ambient{0.08f, 0.08f, 0.08f};
    ColorRGBf diffuse{0.8f, 0.8f, 0.8f};
    ColorRGBf specular{0.5f, 0.5f, 0.5f};
    LightArray lights;
    double opacity = 8.0;
    double gamma = 1.0;
    double roughness = 0.008;

private:
    // What every pixel of one development shares.
    struct Development {
        float iOpacity, iGamma, iRough, pix, depthScale;
        double specularZero;
        std::array<int, 4> viewport;
        std::uint8_t background[3];
        std::optional<Mat4> inverse;
    };
    Development makeDevelopment() const;
    // The developed colour of pixel (x, y), whose density is positive: the lit surface blended
    // over the background, each channel as it goes to a byte (8 bits) or a level (16 bits).
    ColorRGBf shadePixel(std::int32_t x, std::int32_t y, const Development& d) const;
    // Develops image row y (all but its last pixel, which comes from the row buffer). Reads
    // the buffers and the lights, writes that row of the image only: rows may be developed in
    // any order, or at once.
    void developRow(std::int32_t y, const Development& d);

    QM_HOT_INLINE void plotSolid(const Vecd& p) {
        splatSolid(p);
        if (mirror) splatSolid({p.x, p.y, -p.z});
    }
    QM_HOT_INLINE void splatSolid(const Vecd& p) {
        const Vecd pixel = project(p);
        qm::Splat s;
        if (splatCell(pixel, s))
            Light::addDepthSamples(density.data(), depth.data(), imageWidth, s, pixel.z);
        for (const auto& light : lights) light->Splat(p);
    }
};

}  // namespace qm
