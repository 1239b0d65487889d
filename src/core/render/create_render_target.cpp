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

}  // namespace qm
