// PNG images as both programs write them: the render target's image at 8 bits per channel,
// or its buffers developed again at 16, with three texts: the scene ("quillmere-scene"), the
// program ("Software") and what the image shows ("Description"). Reading gives the scene
// back, whichever of the three PNG text chunks (tEXt, zTXt, iTXt) holds it.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/file/atomic_write.h"
#include "core/render/bitmap3d.h"
#include "core/scene/scene_file.h"

namespace qm {

struct PngTexts {
    std::string scene;        // none when empty
    std::string description;  // none when empty
};

// Where the encoder's bytes go, piece by piece as it makes them; false stops the encoder.
using PngOutput = std::function<bool(std::string_view bytes)>;

// Encodes the target's image as a PNG into output, without ever holding the whole file.
// depth is 8 or 16; at 16 the target develops its buffers once more (BuildImage16), its image
// bytes untouched. False when the encoder or the output fails.
bool writePng(const PngOutput& output, TBitmap3D& target, int depth, const PngTexts& texts);
// The same into a file, written completely or not at all.
WriteResult writePng(const std::filesystem::path& path, TBitmap3D& target, int depth,
                     const PngTexts& texts);

// Whether the file starts with the PNG signature.
bool isPngFile(const std::filesystem::path& path);

enum class PngSceneStatus : std::uint8_t { Ok, CannotOpen, NotPng, NoScene };
// The texts of a PNG file; Ok when it carries a scene.
PngSceneStatus readPngTexts(const std::filesystem::path& path, PngTexts& texts,
                            std::string* software = nullptr);

// A scene from a PNG image that carries one (by its signature) or from a scene file.
SceneLoad loadSceneOrImage(const std::filesystem::path& path);

}  // namespace qm
