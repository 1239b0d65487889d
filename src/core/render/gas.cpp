#include "core/render/gas.h"

#include <algorithm>
#include <cmath>

namespace qm {

TBitmap3D_Gas::TBitmap3D_Gas() { SetDefaults(); }

TBitmap3D_Gas::TBitmap3D_Gas(const TBitmap3D& source, ModeSwitch tag) : TBitmap3D(source, tag) {
    const auto* same = dynamic_cast<const TBitmap3D_Gas*>(&source);
    if (same) {
        luminosity = same->luminosity;
        gamma = same->gamma;
        SetBackgroundColor(source.backgroundColor);
        SetPointColor(source.pointColor);
    } else {
        SetDefaults();
    }
    mode = static_cast<std::uint8_t>(RenderMode::Gas);
}

void TBitmap3D_Gas::SetDefaults() {
    mode = static_cast<std::uint8_t>(RenderMode::Gas);
    gamma = 2.5;
    luminosity = 2.0;
    SetBackgroundColor({0, 0, 0});
    SetPointColor({1, 1, 1});
}

void TBitmap3D_Gas::AllocateBuffers() {
    TBitmap3D::AllocateBuffers();
    density.assign(static_cast<std::size_t>(pixelCount), 0.0f);
}

void TBitmap3D_Gas::FindPeak() {
    peak = 0;
    for (float v : density) peak = std::max(peak, v);
}

void TBitmap3D_Gas::ClearImage() {
    TBitmap3D::ClearImage();
    peak = 0;
    std::fill(density.begin(), density.end(), 0.0f);
}

void TBitmap3D_Gas::PlotBlock(const Vecd* points, std::int32_t n) {
    plotInChunks<false>(points, n, [this](const Vecd& pixel) { splatGas(pixel); });
}

void TBitmap3D_Gas::BuildImage() {
    FindPeak();
    if (!(peak > 0)) return;
    const float e = static_cast<float>(1 / gamma);
    const float f = static_cast<float>(luminosity * 255);
    for (std::int32_t y = 0; y < imageHeight; ++y) {
        const float* row = density.data() + static_cast<std::size_t>(y) * imageWidth;
        for (std::int32_t x = 0; x < imageWidth; ++x) {
            const float c = row[x];
            std::uint8_t g = 0;
            if (c > 0) {
                // pow in double on the float operands, rounded to float; then the brightness.
                const float level = static_cast<float>(std::pow(static_cast<double>(c / peak), e)) * f;
                g = static_cast<std::uint8_t>(static_cast<int>(std::min(level, 255.0f)));
            }
            std::uint8_t* px = rowBuffer.data() + 3 * x;
            px[0] = px[1] = px[2] = g;
        }
        StoreRow(y);
    }
}

TBitmap3D_Liquid::TBitmap3D_Liquid() { mode = static_cast<std::uint8_t>(RenderMode::Liquid); }

TBitmap3D_Liquid::TBitmap3D_Liquid(const TBitmap3D& source, ModeSwitch tag)
    : TBitmap3D_Gas(source, tag) {
    mode = static_cast<std::uint8_t>(RenderMode::Liquid);
}

void TBitmap3D_Liquid::AllocateBuffers() {
    TBitmap3D_Gas::AllocateBuffers();
    surface.assign(static_cast<std::size_t>(pixelCount), 1.0f);
}

void TBitmap3D_Liquid::ClearImage() {
    TBitmap3D_Gas::ClearImage();
    std::fill(surface.begin(), surface.end(), 1.0f);
}

void TBitmap3D_Liquid::PlotBlock(const Vecd* points, std::int32_t n) {
    plotInChunks<true>(points, n, [this](const Vecd& pixel) { splatLiquid(pixel); });
}

}  // namespace qm
