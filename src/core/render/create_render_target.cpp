#include <algorithm>

#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/solid.h"

namespace qm {

std::unique_ptr<TBitmap3D> CreateRenderTarget(int mode) {
    switch (mode) {
        case 0: return std::make_unique<TBitmap3D_Gas>();
        case 1: return std::make_unique<TBitmap3D_Liquid>();
        case 2: return std::make_unique<TBitmap3D_Light>();
        case 3: return std::make_unique<TBitmap3D_Plasma>();
        case 4: return std::make_unique<TBitmap3D_Solid>();
        default: return nullptr;
    }
}

std::unique_ptr<TBitmap3D> CreateRenderTarget(int mode, const TBitmap3D& source) {
    std::unique_ptr<TBitmap3D> t;
    switch (mode) {
        case 0: t = std::make_unique<TBitmap3D_Gas>(source, ModeSwitch{}); break;
        case 1: t = std::make_unique<TBitmap3D_Liquid>(source, ModeSwitch{}); break;
        case 2: t = std::make_unique<TBitmap3D_Light>(source, ModeSwitch{}); break;
        case 3: t = std::make_unique<TBitmap3D_Plasma>(source, ModeSwitch{}); break;
        case 4: t = std::make_unique<TBitmap3D_Solid>(source, ModeSwitch{}); break;
        default: return nullptr;
    }
    // Sized only now that the object is complete, so that AllocateBuffers reaches the mode's
    // own buffers (Liquid's and Plasma's surfaces included).
    t->SetWidth(source.imageWidth);
    t->SetHeight(source.imageHeight);
    return t;
}

std::uint64_t renderTargetBytes(int mode, std::int32_t width, std::int32_t height, bool fixedSums) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(width & 0xFFFC) *
                                 static_cast<std::uint64_t>(std::max(height, 0));
    std::uint64_t perPixel = 3;  // the image
    std::uint64_t fixed = 0;
    switch (static_cast<RenderMode>(mode)) {
        case RenderMode::Gas: perPixel += fixedSums ? 12 : 4; break;  // density, fixed sums
        case RenderMode::Liquid: perPixel += 8; break;    // density, surface
        case RenderMode::Light: perPixel += 12; break;    // colour sums
        case RenderMode::Plasma: perPixel += 16; break;   // colour sums, surface
        case RenderMode::Solid:                            // density, depth, three light maps
            // Each in whole large pages (DepthBuffer).
            fixed = largePageBytes(sizeof(DepthSample) * pixels) +
                    3 * largePageBytes(sizeof(DepthSample) * std::uint64_t{Light::kMapSize} *
                                       Light::kMapSize);
            break;
    }
    return perPixel * pixels + fixed;
}

}  // namespace qm
