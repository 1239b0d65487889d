// The frames of an animation as both programs store them: PNG images that carry their scenes,
// one file a frame, named by the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "core/animate/frame_sequence.h"

namespace qm {

class PngFrameFiles final : public FrameStore {
public:
    using Name = std::function<std::filesystem::path(std::int32_t frame)>;
    // depth: 8 or 16 bits a channel.
    explicit PngFrameFiles(Name name, int depth = 8) : name_(std::move(name)), depth_(depth) {}

    bool has(std::int32_t frame) const override;
    std::optional<std::string> sceneText(std::int32_t frame) const override;
    WriteResult write(std::int32_t frame, TBitmap3D& target, const std::string& scene,
                      const std::string& description) override;

private:
    Name name_;
    int depth_;
};

}  // namespace qm
