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
    // Projections first, then the splats in point order (a point, then its mirror image), so
    // that every sum is added in the same order as with PlotPoint.
    Vecd pixel[kSplatChunk], mirrored[kSplatChunk];
    for (std::int32_t start = 0; start < n; start += kSplatChunk) {
        const std::int32_t count = std::min(kSplatChunk, n - start);
        projectChunk<false>(points + start, count, 1.0, pixel);
        if (mirror) {
            projectChunk<false>(points + start, count, -1.0, mirrored);
            for (std::int32_t i = 0; i < count; ++i) {
                splatGas(pixel[i]);
                splatGas(mirrored[i]);
            }
        } else {
            for (std::int32_t i = 0; i < count; ++i) splatGas(pixel[i]);
        }
    }
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
    // As Gas: projections first, then the splats in point order.
    Vecd pixel[kSplatChunk], mirrored[kSplatChunk];
    for (std::int32_t start = 0; start < n; start += kSplatChunk) {
        const std::int32_t count = std::min(kSplatChunk, n - start);
        projectChunk<true>(points + start, count, 1.0, pixel);
        if (mirror) {
            projectChunk<true>(points + start, count, -1.0, mirrored);
            for (std::int32_t i = 0; i < count; ++i) {
                splatLiquid(pixel[i]);
                splatLiquid(mirrored[i]);
            }
        } else {
            for (std::int32_t i = 0; i < count; ++i) splatLiquid(pixel[i]);
        }
    }
}

}  // namespace qm
