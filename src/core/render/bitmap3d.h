// TBitmap3D: the render target. It owns the camera (orthographic projection, look-at, object
// rotation, zoom and pan), the ring of 20,000 preview points and the 24-bit image; each of the
// five render modes derives from it, splats attractor points into its own accumulation
// buffers (PlotPoint, PlotBlock) and develops them into the image (BuildImage).
//
// Create targets with CreateRenderTarget, never with a mode's constructor alone: sizing a
// target calls the virtual AllocateBuffers, which must reach the finished mode object.
//
// The image: 24 bits per pixel, bytes blue, green, red; scan line 0 is the top row, so image
// row r (counted from the bottom, as pixel y is) is scan line imageHeight - 1 - r. Rows are
// 3 * imageWidth bytes, a multiple of 4 since the width is.
#pragma once

#include "core/hot_path.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/attractor/vec.h"
#include "core/image/bmp.h"
#include "core/property/gradient.h"
#include "core/render/camera.h"

namespace qm {

class TBitmap3D;
class DevelopTeam;
struct RenderState;
struct StreamState;

// The drawing-context side of a render target (context, fixed GL state, preview drawing).
// The GUI provides it; without one (command-line tool, tests) the target renders in software
// only.
class DrawingContext {
public:
    virtual ~DrawingContext() = default;
    virtual void makeCurrent() = 0;
    virtual void setClearColor(const ColorRGBf& color) = 0;
    virtual void setPointColor(const ColorRGBf& color) = 0;
    virtual void setViewport(int x, int y, int width, int height) = 0;
    virtual void drawPreview(const TBitmap3D& target) = 0;
};

enum class RenderMode : std::uint8_t { Gas = 0, Liquid = 1, Light = 2, Plasma = 3, Solid = 4 };
inline constexpr int kRenderModeCount = 5;

// Tag of the mode-switch constructors.
struct ModeSwitch {};

enum class ScanKind : std::uint8_t { Plain = 0, Fit = 1, Centre = 2 };

// The cell and bilinear weights of one splat; see TBitmap3D::splatCell.
struct Splat {
    std::int32_t index;  // of pixel (i, j); the others are +1, +width, +width + 1
    float w00, w10, w01, w11;
};

// The depth test shared by Liquid and Plasma: how much of a splat weight w counts at a pixel
// whose front surface lies at depth *surface, for a point at depth d (single precision);
// moves the surface towards the point when the point lies in front of it. 0 means hidden.
//   h = (surface - d) * depthRange * scale * 10: positive in front; h <= -1 hides the point,
//   h > 0 pulls the surface by w, and the coverage is min((h + 1) / 2, 1).
QM_HOT_INLINE float surfaceCoverage(float& surface, float d, float w, double depthRange,
                                    double scale) {
    const float h = static_cast<float>((surface - d) * depthRange * scale * 10);
    if (h <= -1.0f) return 0.0f;
    if (h > 0.0f) surface = static_cast<float>(surface * (1.0f - w) + d * w);
    return std::min((h + 1.0f) * 0.5f, 1.0f);
}

class TBitmap3D {
public:
    static constexpr std::int32_t kPreviewSize = 20000;
    static constexpr double kMaxDouble = 1.7976931348623157e308;

    virtual ~TBitmap3D();
    TBitmap3D(const TBitmap3D&) = delete;
    TBitmap3D& operator=(const TBitmap3D&) = delete;

    // Sizes. The width keeps bits 2 to 15 only (w & 0xFFFC): a multiple of 4, at most 65532.
    void SetWidth(std::int32_t w);
    void SetHeight(std::int32_t h);

    virtual void SetDefaults() = 0;
    virtual void SetProjection();
    virtual void SetView();
    // The peaks a development normalises by: the buffers' greatest values (fixedPeak applies).
    void FindPeak();
    virtual void AllocateBuffers();
    virtual void PlotPoint(const Vecd& p) = 0;
    // The points in orbit order, as n calls of PlotPoint.
    virtual void PlotBlock(const Vecd* points, std::int32_t n);
    virtual void ClearImage();
    // Develops the buffers into the image, on the threads of the team set by setDevelopTeam
    // (none: on the calling thread alone); the same bytes whatever the team.
    void BuildImage();
    // Develops the buffers as BuildImage does, keeping 16 bits per channel: where BuildImage
    // truncates a level v (0 to 255) to a byte, this stores round(257 v); pixels BuildImage
    // leaves alone keep the image's byte times 257. Rows from the top, four values a pixel
    // (red, green, blue, 65535), rowStride values from one row to the next: the layout of a
    // 64-bit RGBX image. The image bytes are not touched.
    void BuildImage16(std::uint16_t* out, std::ptrdiff_t rowStride);
    // The team that BuildImage and BuildImage16 share their work with, e.g. a render's own
    // threads while it develops; nullptr for none. Not owned.
    void setDevelopTeam(DevelopTeam* team) { developTeam_ = team; }
    DevelopTeam* developTeam() const { return developTeam_; }

    // A development in parts, which threads may share (develop_team.h runs them):
    //   1. findPeakPart(part, parts, peaks) for every part, at once and in any order: the
    //      greatest values of that share of the buffers, peakCount() of them (the image's
    //      first, then those of any other buffer the mode develops against). Only the
    //      greatest of each is kept, so the split changes nothing.
    //   2. preparePeaks(peaks, parts), alone: from every part's peaks, part after part, what
    //      FindPeak leaves, and whatever else every row of the development shares.
    //   3. buildRows(first, last) or buildRows16(out, rowStride, first, last) over image rows
    //      [first, last), counted from the bottom as pixel y is, at once and in any order:
    //      each reads the buffers and writes its own rows of the image, or of out, only.
    virtual std::int32_t peakCount() const { return 1; }
    virtual void findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const = 0;
    virtual void preparePeaks(const float* peaks, std::int32_t parts) = 0;
    virtual void buildRows(std::int32_t first, std::int32_t last) = 0;
    // This base form widens the image's bytes.
    virtual void buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                             std::int32_t last);
    // The first row of part `part` of `parts` of `rows` rows, the parts as even as can be.
    static std::int32_t partStart(std::int32_t part, std::int32_t parts, std::int32_t rows) {
        return static_cast<std::int32_t>(std::int64_t{rows} * part / parts);
    }
    virtual void BeginScan(ScanKind kind);
    virtual void ScanPoint(const Vecd& p);
    virtual void EndScan();
    virtual void DrawPreview();
    // Pixel coordinates (x, y) and depth d of p.
    virtual void ProjectPoint(const Vecd& p, Vecd& out);
    void AddPreviewPoint(const Vecd& p) {
        previewPoints[static_cast<std::size_t>(previewIndex)] = p;
        previewIndex = (previewIndex + 1) % previewSize;
    }

    void SetBackgroundColor(const ColorRGBf& c);
    // The state a render needs to go on later, in this target or in a new one of the same mode
    // and size: the mode, the size, the camera and the mode's settings as settings, the
    // accumulation buffers, and what the mode derived at ClearImage (ranges, light-map fits).
    // restoreState refuses, changing nothing, a state of another mode or size or one that lacks
    // anything; it leaves the image at the background, to be developed with BuildImage.
    virtual void captureState(RenderState& state) const;
    virtual bool restoreState(const RenderState& state);
    // The memory of the orbit a mode keeps between points (the Light family's), per stream.
    virtual void captureOrbitMemory(StreamState&) const {}
    virtual void restoreOrbitMemory(const StreamState&) {}

    void SetPointColor(const ColorRGBf& c);
    void SetEye(const Vecd& p);
    void SetTarget(const Vecd& p);
    // A mouse drag of (dx, dy) pixels composed into the object rotation; dx to the right,
    // dy upwards. A drag across the whole image width turns half a turn.
    void Rotate(double dx, double dy);
    // Copies rowBuffer into image row r (scan line imageHeight - 1 - r).
    void StoreRow(std::int32_t r);
    // Renders the preview points into the image: SetView, ClearImage, plot, BuildImage.
    void RenderPreview();
    void MakeCurrent();

    RenderMode renderMode() const { return static_cast<RenderMode>(mode); }
    bool isLightFamily() const {
        return renderMode() == RenderMode::Light || renderMode() == RenderMode::Plasma;
    }
    void setDrawingContext(std::unique_ptr<DrawingContext> context);
    DrawingContext* drawingContext() const { return context_.get(); }

    // The image.
    const std::uint8_t* scanLine(std::int32_t line) const {
        return image_.data() + static_cast<std::size_t>(line) * bytesPerLine();
    }
    std::int32_t bytesPerLine() const { return 3 * imageWidth; }
    const std::vector<std::uint8_t>& imageBytes() const { return image_; }
    ImageView imageView() const { return {image_.data(), imageWidth, imageHeight, bytesPerLine()}; }

    // Camera projection of p, inline for the splat loops: pixel x, y and depth d.
    QM_HOT_INLINE Vecd project(const Vecd& p) const {
        const auto& m = combinedMatrix.m;
        const double X = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
        const double Y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
        const double Z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
        return {(X + 1) * imageWidth * 0.5, (Y + 1) * imageHeight * 0.5, (Z + 1) * 0.5};
    }

    // project() over consecutive points, with z multiplied by zSign (1, or -1 for the mirror
    // image); depth only when asked for. Block splats project a chunk first and splat it
    // afterwards: a projection is a long chain of dependent operations, and in a loop of its
    // own the processor overlaps many of them.
    template <bool kDepth>
    QM_HOT_INLINE void projectChunk(const Vecd* p, std::int32_t count, double zSign,
                                    Vecd* out) const {
        // A local copy of the matrix: read from the object, its elements would be loaded again
        // after every stored pixel (the stores might alias them), and those loads stall
        // whenever the two addresses share their low twelve bits, which depends on where the
        // calling thread's stack lies.
        const std::array<double, 16> m = combinedMatrix.m;
        const double w = imageWidth, h = imageHeight;
        for (std::int32_t i = 0; i < count; ++i) {
            const double x = p[i].x, y = p[i].y, z = zSign * p[i].z;
            out[i].x = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * w * 0.5;
            out[i].y = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * h * 0.5;
            if constexpr (kDepth) out[i].z = (m[2] * x + m[6] * y + m[10] * z + m[14] + 1) * 0.5;
        }
    }
    static constexpr std::int32_t kSplatChunk = 64;

    // The depth-weighted splat of Liquid and Plasma: for each of the four pixels, in the splat's
    // order, the surface test of surfaceCoverage at the point's depth (rounded to float); a
    // pixel the point is not hidden at receives add(pixel index, weight, coverage).
    template <class Add>
    QM_HOT_INLINE void splatBehindSurface(const Vecd& pixel, float* surface, Add&& add) {
        Splat s;
        if (!splatCell(pixel, s)) return;
        const float d = static_cast<float>(pixel.z);
        const std::int32_t k[4] = {s.index, s.index + 1, s.index + imageWidth,
                                   s.index + imageWidth + 1};
        const float w[4] = {s.w00, s.w10, s.w01, s.w11};
        for (int q = 0; q < 4; ++q) {
            const float m = surfaceCoverage(surface[k[q]], d, w[q], depthRange, scale);
            if (m > 0) add(static_cast<std::size_t>(k[q]), w[q], m);
        }
    }

    // A block splat: each chunk of points is projected first (the mirror images too), then
    // splat(pixel) runs in point order, a point before its mirror image, so that every sum is
    // added in the same order as with one PlotPoint at a time.
    template <bool kDepth, class SplatFn>
    QM_HOT_INLINE void plotInChunks(const Vecd* points, std::int32_t n, SplatFn&& splat) {
        Vecd pixel[kSplatChunk], mirrored[kSplatChunk];
        for (std::int32_t start = 0; start < n; start += kSplatChunk) {
            const std::int32_t count = std::min(kSplatChunk, n - start);
            projectChunk<kDepth>(points + start, count, 1.0, pixel);
            if (mirror) {
                projectChunk<kDepth>(points + start, count, -1.0, mirrored);
                for (std::int32_t i = 0; i < count; ++i) {
                    splat(pixel[i]);
                    splat(mirrored[i]);
                }
            } else {
                for (std::int32_t i = 0; i < count; ++i) splat(pixel[i]);
            }
        }
    }

    // The splat rule: the cell (i, j) is the nearest integer to (x - 0.5, y - 0.5), ties to
    // even; the point is dropped (false) unless 0 < i < width - 1 and 0 < j < height - 1,
    // tested as doubles so that non-finite coordinates drop out. The fractions x - i and
    // y - j are formed in double and rounded once to float; the weights are float.
    QM_HOT_INLINE static bool splatCell(double x, double y, std::int32_t width, std::int32_t height,
                                        Splat& s) {
        return splatCell(x, y, SplatLimits(width, height), s);
    }
    // The image size as the splat tests it, converted once for a whole block.
    struct SplatLimits {
        SplatLimits(std::int32_t width, std::int32_t height)
            : lastColumn(width - 1), lastRow(height - 1), rowLength(width) {}
        double lastColumn, lastRow;
        std::int32_t rowLength;
    };
    QM_HOT_INLINE static bool splatCell(double x, double y, const SplatLimits& limits, Splat& s) {
        std::int32_t row;
        return splatCell(x, y, limits, s, row);
    }
    // Also gives the cell's row j: the splat touches rows j and j + 1.
    QM_HOT_INLINE static bool splatCell(double x, double y, const SplatLimits& limits, Splat& s,
                                        std::int32_t& row) {
        float fx, fy;
        if (!splatFractions(x, y, limits, s.index, fx, fy, row)) return false;
        splatWeights(fx, fy, s);
        return true;
    }
    // splatCell in two halves: the cell's pixel index, row and fractions, then the weights
    // from the fractions. Weights formed later from stored fractions are the same floats.
    QM_HOT_INLINE static bool splatFractions(double x, double y, const SplatLimits& limits,
                                             std::int32_t& index, float& fx, float& fy,
                                             std::int32_t& row) {
        const double ci = roundHalfEven(x - 0.5);
        const double cj = roundHalfEven(y - 0.5);
        if (!(0 < ci && ci < limits.lastColumn && 0 < cj && cj < limits.lastRow)) return false;
        row = static_cast<std::int32_t>(cj);
        fx = static_cast<float>(x - ci);
        fy = static_cast<float>(y - cj);
        index = static_cast<std::int32_t>(ci) + static_cast<std::int32_t>(cj) * limits.rowLength;
        return true;
    }
    QM_HOT_INLINE static void splatWeights(float fx, float fy, Splat& s) {
        const float fxy = fx * fy;
        s.w00 = 1.0f - fx - fy + fxy;
        s.w10 = fx - fxy;
        s.w01 = fy - fxy;
        s.w11 = fxy;
    }
    // std::nearbyint in the default rounding mode, without the library call: adding and
    // removing 1.5 * 2^52 leaves the nearest integer, ties to even, for |v| < 2^51. Larger and
    // non-finite values stay far outside any image, so the splat's range test drops them alike.
    QM_HOT_INLINE static double roundHalfEven(double v) {
        constexpr double kShift = 6755399441055744.0;
        return (v + kShift) - kShift;
    }
    QM_HOT_INLINE bool splatCell(const Vecd& pixel, Splat& s) const {
        return splatCell(pixel.x, pixel.y, imageWidth, imageHeight, s);
    }

    // The 16-bit channel of a level v of 0 to 255 (as the bytes are taken before truncation):
    // round(257 v); 0 for v not above 0.
    static std::uint16_t deepLevel(float v) {
        if (!(v > 0.0f)) return 0;
        if (v >= 255.0f) return 65535;
        return static_cast<std::uint16_t>(static_cast<double>(v) * 257.0 + 0.5);
    }
    // The 16-bit channel of a colour component, as channelByte takes it: clamped to 0..1.
    static std::uint16_t deepChannel(float c) {
        const double v = !(c >= 0.0f) ? 0.0 : c > 1.0f ? 1.0 : c;
        return static_cast<std::uint16_t>(v * 65535.0 + 0.5);
    }

    // Byte of a colour component: clamped to 0..1, times 255, truncated.
    static std::uint8_t channelByte(float c) {
        const double v = !(c >= 0.0f) ? 0.0 : c > 1.0f ? 1.0 : c;
        return static_cast<std::uint8_t>(static_cast<int>(v * 255.0));
    }

    // Members, as the modes and the palettes use them.
    std::int32_t previewIndex = 0;
    bool viewValid = false;
    std::vector<Vecd> previewPoints;
    ColorRGBf backgroundColor{0, 0, 0};
    ColorRGBf pointColor{1, 1, 1};
    Vecd rotationAxis{0, 0, 0};
    double rotationAngle = 0;
    Vecd eye{0, 0, 0};
    Vecd target{0, 0, 0};
    Vecd projectedCentre{0, 0, 0};
    double viewWidth = 1.0;
    double viewHeight = 1.0;
    Mat4 projectionMatrix = Mat4::identity();
    Mat4 viewMatrix = Mat4::identity();
    Mat4 combinedMatrix = Mat4::identity();
    double nearPlane = 1.0;
    double farPlane = 50.0;
    double depthRange = 49.0;
    double fitMargin = 0.05;
    ScanKind scanKind = ScanKind::Plain;
    std::int32_t imageWidth = 0;
    std::int32_t imageHeight = 0;
    std::int32_t pixelCount = 0;
    std::vector<std::uint8_t> rowBuffer;
    Vecd centre{0, 0, 0};
    Vecd screenMin{kMaxDouble, kMaxDouble, kMaxDouble};
    Vecd screenMax{-kMaxDouble, -kMaxDouble, -kMaxDouble};
    Vecd boxMin{kMaxDouble, kMaxDouble, kMaxDouble};
    Vecd boxMax{-kMaxDouble, -kMaxDouble, -kMaxDouble};
    double panX = 0;
    double panY = 0;
    double aspect = 1.0;
    double scale = 1.0;
    std::uint8_t mode = 0;
    std::int32_t previewSize = kPreviewSize;
    bool mirror = false;
    // The development's normaliser. 0, the default: each FindPeak takes the buffers' own peak.
    // A positive value replaces that peak once anything is plotted, so that the frames of an
    // animation share one exposure (what lies above it saturates).
    float fixedPeak = 0;
    // The buffers' own peak, as the last FindPeak found it, whatever fixedPeak says.
    float foundPeak = 0;

protected:
    TBitmap3D();
    // The mode switch: takes the camera, the scan state, the preview and the colours of source.
    TBitmap3D(const TBitmap3D& source, ModeSwitch);

    std::vector<std::uint8_t> image_;
    std::unique_ptr<DrawingContext> context_;
    DevelopTeam* developTeam_ = nullptr;

    // Image row y, counted from the bottom as pixel y is: scan line imageHeight - 1 - y.
    std::uint8_t* imageRow(std::int32_t y) {
        return image_.data() + static_cast<std::size_t>(imageHeight - 1 - y) * bytesPerLine();
    }

private:
    void resizeImage();
};

// A new target of the mode (0 to 4) with its defaults and no size yet, or none for any other
// index.
std::unique_ptr<TBitmap3D> CreateRenderTarget(int mode);
// A target of the mode that takes over source's camera, preview and size (and, within a
// family, its mode parameters): the mode switch.
std::unique_ptr<TBitmap3D> CreateRenderTarget(int mode, const TBitmap3D& source);

// The memory a target of the mode takes at this size: its image and buffers, in bytes. The
// width counts as SetWidth keeps it. fixedSums: Gas's fixed-point sums (fixedDensity, 8 bytes
// a pixel) are counted; a render of one stream has none.
std::uint64_t renderTargetBytes(int mode, std::int32_t width, std::int32_t height,
                                bool fixedSums = true);

}  // namespace qm
