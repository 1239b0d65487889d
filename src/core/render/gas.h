// The grey density modes: Gas ("Gaz") adds every splat weight to a density buffer; Liquid
// ("Liquide") also keeps a depth surface so that the front layer hides what lies behind it.
#pragma once

#include <algorithm>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm {

class TBitmap3D_Gas : public TBitmap3D {
public:
    TBitmap3D_Gas();
    TBitmap3D_Gas(const TBitmap3D& source, ModeSwitch);

    void SetDefaults() override;
    void AllocateBuffers() override;
    void FindPeak() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { plotGas(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void BuildImage() override;

    std::vector<float> density;
    float peak = 0;
    double luminosity = 2.0;
    double gamma = 2.5;

protected:
    void plotGas(const Vecd& p) {
        splatGas(project(p));
        if (mirror) splatGas(project({p.x, p.y, -p.z}));
    }
    void splatGas(const Vecd& pixel) {
        Splat s;
        if (!splatCell(pixel, s)) return;
        float* d = density.data() + s.index;
        d[0] += s.w00;
        d[1] += s.w10;
        d[imageWidth] += s.w01;
        d[imageWidth + 1] += s.w11;
    }
};

class TBitmap3D_Liquid final : public TBitmap3D_Gas {
public:
    TBitmap3D_Liquid();
    TBitmap3D_Liquid(const TBitmap3D& source, ModeSwitch);

    void AllocateBuffers() override;
    void ClearImage() override;
    void PlotPoint(const Vecd& p) override { plotLiquid(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;

    std::vector<float> surface;

private:
    void plotLiquid(const Vecd& p) {
        splatLiquid(project(p));
        if (mirror) splatLiquid(project({p.x, p.y, -p.z}));
    }
    void splatLiquid(const Vecd& pixel);
};

// The depth test shared by Liquid and Plasma: how much of a splat weight w counts at a pixel
// whose front surface lies at depth *surface, for a point at depth d (single precision);
// moves the surface towards the point when the point lies in front of it. 0 means hidden.
//   h = (surface - d) * depthRange * scale * 10: positive in front; h <= -1 hides the point,
//   h > 0 pulls the surface by w, and the coverage is min((h + 1) / 2, 1).
inline float surfaceCoverage(float& surface, float d, float w, double depthRange, double scale) {
    const float h = static_cast<float>((surface - d) * depthRange * scale * 10);
    if (h <= -1.0f) return 0.0f;
    if (h > 0.0f) surface = static_cast<float>(surface * (1.0f - w) + d * w);
    return std::min((h + 1.0f) * 0.5f, 1.0f);
}

}  // namespace qm
