#include "core/image/bmp.h"

#include <cstring>

namespace qm {

namespace {

void put16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v & 0xff);
    out[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> (8 * k)) & 0xff);
}

}  // namespace

std::string encodeBmp(const ImageView& image) {
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto height = static_cast<std::uint32_t>(image.height);
    const std::uint32_t rowBytes = (width * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = rowBytes * height;
    std::string out(kHeaderBytes + pixelBytes, '\0');

    // File header.
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, kHeaderBytes + pixelBytes);
    put32(out, 10, kHeaderBytes);
    // Information header: a positive height means the rows run bottom-up.
    put32(out, 14, 40);
    put32(out, 18, width);
    put32(out, 22, height);
    put16(out, 26, 1);   // planes
    put16(out, 28, 24);  // bits per pixel
    put32(out, 30, 0);   // no compression
    put32(out, 34, pixelBytes);
    put32(out, 38, 2835);  // 72 dots per inch, in dots per metre
    put32(out, 42, 2835);

    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint8_t* line =
            image.bits + static_cast<std::size_t>(height - 1 - row) * static_cast<std::size_t>(image.bytesPerLine);
        std::memcpy(out.data() + kHeaderBytes + static_cast<std::size_t>(row) * rowBytes, line, width * 3);
    }
    return out;
}

WriteResult writeBmp(const std::filesystem::path& path, const ImageView& image) {
    return writeFileAtomically(path, encodeBmp(image));
}

}  // namespace qm
