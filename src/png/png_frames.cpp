#include "png/png_frames.h"

#include <system_error>

#include "png/png_image.h"

namespace qm {

bool PngFrameFiles::has(std::int32_t frame) const {
    std::error_code ec;
    return std::filesystem::exists(name_(frame), ec);
}

std::optional<std::string> PngFrameFiles::sceneText(std::int32_t frame) const {
    PngTexts texts;
    if (readPngTexts(name_(frame), texts) != PngSceneStatus::Ok) return std::nullopt;
    return texts.scene;
}

WriteResult PngFrameFiles::write(std::int32_t frame, TBitmap3D& target, const std::string& scene,
                                 const std::string& description) {
    return writePng(name_(frame), target, depth_, PngTexts{scene, description});
}

}  // namespace qm
