// 24-bit BMP files: the uncompressed Windows format with the 54-byte header, rows stored
// bottom-up and padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/file/atomic_write.h"

namespace qm {

// A 24-bit image held top-down: scan line 0 is the top row; pixels are blue, green, red.
struct ImageView {
    const std::uint8_t* bits = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bytesPerLine = 0;
};

// The whole file's bytes.
std::string encodeBmp(const ImageView& image);

// Writes the file completely or not at all.
WriteResult writeBmp(const std::filesystem::path& path, const ImageView& image);

}  // namespace qm
