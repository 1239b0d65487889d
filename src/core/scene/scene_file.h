// The scene file (.qmscene), and the same text inside PNG images: the "attractor" block of the
// attractor file, then a "render" block with the scene's settings. Numbers are written in the
// shortest form that reads back to the same value, so a scene reads back bit for bit.
//
//   attractor {
//       type lorenz
//       parameters <10, 14.5, 2.5, 0.01>
//   }
//   render {
//       version 1
//       mode light
//       width 640
//       ...
//   }
//
// A render block may leave out any keyword, or be missing altogether: what is missing takes
// the new-document default. The keywords are the format's own, the same in every language.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "core/file/atomic_write.h"
#include "core/file/attractor_file.h"
#include "core/scene/scene.h"

namespace qm {

inline constexpr std::int32_t kSceneVersion = 1;
inline constexpr std::string_view kSceneExtension = ".qmscene";
// The keyword of the PNG text chunk that carries a scene.
inline constexpr std::string_view kPngSceneKeyword = "quillmere-scene";

// The program's name and version, as the "Software" text of an image gives them.
std::string softwareName();

struct SceneLoad {
    std::unique_ptr<Attractor> attractor;  // set exactly when status is Ok
    RenderScene render;
    FileStatus status = FileStatus::ReadError;
    std::int32_t line = 0;  // of the text found wrong, when the status is ReadError or NewerVersion

    explicit operator bool() const { return attractor != nullptr; }
};

// The text of the scene; empty when a value is not finite (no file could carry it).
std::string sceneText(const Attractor& attractor, const RenderScene& render);
// One line that says what the image shows: kind, mode, size and iterations.
std::string sceneDescription(const Attractor& attractor, const RenderScene& render);

// Reads a scene from its text. Every value is checked (a size from 16 to 16384, counts,
// finite numbers, settings within the palette's limits, gradient stops in order); an unknown
// keyword or a wrong value fails with the line it stands on.
SceneLoad readScene(std::string_view text);
// As readScene from a file of at most 1 MiB.
SceneLoad loadScene(const std::filesystem::path& path);
FileResult saveScene(const std::filesystem::path& path, const Attractor& attractor,
                     const RenderScene& render);

}  // namespace qm
