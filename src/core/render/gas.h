// The grey density modes: Gas ("Gaz") adds every splat weight to a density buffer; Liquid
// ("Liquide") also keeps a depth surface so that the front layer hides what lies behind it.
#pragma once

#include "core/hot_path.h"

#include <algorithm>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm {

struct SurfaceTest4;

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
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    void BuildImage16(std::uint16_t* out, std::ptrdiff_t rowStride) override;

    std::vector<float> density;
    float peak = 0;
    double luminosity = 2.0;
    double gamma = 2.5;

protected:
    QM_HOT_INLINE void plotGas(const Vecd& p) {
        splatGas(project(p));
        if (mirror) splatGas(project({p.x, p.y, -p.z}));
    }
    QM_HOT_INLINE void splatGas(const Vecd& pixel) {
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
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;

    std::vector<float> surface;

private:
    QM_HOT_INLINE void plotLiquid(const Vecd& p) {
        splatLiquid(project(p));
        if (mirror) splatLiquid(project({p.x, p.y, -p.z}));
    }
    QM_HOT_INLINE void splatLiquid(const Vecd& pixel);
#if defined(__SSE2__)
    template <bool kSignOfDifference>
    void plotBlockWith(const SurfaceTest4& test, const Vecd* points, std::int32_t n);
#endif
};

QM_HOT_INLINE void TBitmap3D_Liquid::splatLiquid(const Vecd& pixel) {
    splatBehindSurface(pixel, surface.data(),
                       [this](std::size_t at, float w, float m) { density[at] += w * m; });
}

}  // namespace qm
