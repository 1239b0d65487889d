// The Solid mode ("Solide"): the attractor as an opaque, lit surface. Every point goes into a
// density and a depth buffer seen from the camera and into the shadow maps of three coloured
// directional lights; BuildImage rebuilds a normal from the depth buffer, lights each covered
// pixel with ambient, diffuse and specular terms and soft shadows, and blends it over the
// background by an opacity taken from the density.
//
// A render: ClearImage (which also fits every light map to the current preview cloud), then
// PlotPoint or PlotBlock for the orbit, then BuildImage as often as the image is wanted.
#pragma once

#include "core/hot_path.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/render/bitmap3d.h"
#include "core/render/large_page_allocator.h"

namespace qm {

// One pixel of a density-and-depth buffer, the camera's or a light map's: the sum of splat
// weights, and the depth of the nearest surface (0 near, 1 far). Every splat updates both, so
// they lie side by side: a splat then reads and writes one or two cache lines per row of its
// cell rather than twice as many.
struct DepthSample {
    float density = 0;
    float depth = 1.0f;
    friend bool operator==(const DepthSample&, const DepthSample&) = default;
};

// A density-and-depth buffer, row by row.
using DepthBuffer = std::vector<DepthSample, LargePageAllocator<DepthSample>>;

// One splat into a DepthSample buffer: density += w; a point in front of the stored depth pulls
// it towards its own depth d by w. The blend depth * (1 - w) + w * d is formed in double from
// the float depth and weight and rounded once; d itself stays a double. The blend is formed
// whether it is kept or not: a branch on the depth test would be mispredicted half the time,
// and each miss stalls the loads in flight.
QM_HOT_INLINE void addDepthSample(DepthSample& s, float w, double d) {
    s.density += w;
    const float z = s.depth;
    const auto blended = static_cast<float>(z * (1.0 - w) + w * d);
    s.depth = d < z ? blended : z;
}

// addDepthSample on two neighbouring samples of a row, with weights w0 and w1. The SSE2 form
// does the same operations in the same precision (the densities in float; the blends in
// double, rounded once to float), two samples at a time.
QM_HOT_INLINE void addDepthSamplePair(DepthSample* at, float w0, float w1, double d) {
#if defined(__SSE2__)
    float* p = &at[0].density;
    const __m128 v = _mm_loadu_ps(p);  // density 0, depth 0, density 1, depth 1
    // Adding -0 leaves every float as it is, -0 and NaN included.
    const __m128 density = _mm_add_ps(v, _mm_setr_ps(w0, -0.0f, w1, -0.0f));
    const __m128 z = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 3, 1));  // depth 0, depth 1, ...
    const __m128d zd = _mm_cvtps_pd(z);
    const __m128d w = _mm_cvtps_pd(_mm_setr_ps(w0, w1, 0.0f, 0.0f));
    const __m128d dd = _mm_set1_pd(d);
    const __m128d blended =
        _mm_add_pd(_mm_mul_pd(zd, _mm_sub_pd(_mm_set1_pd(1.0), w)), _mm_mul_pd(w, dd));
    const __m128 nearer = _mm_cvtpd_ps(blended);  // the two blends, rounded to float
    // d < z, as 32-bit lanes 0 and 1.
    const __m128 in = _mm_castpd_ps(_mm_cmplt_pd(dd, zd));
    const __m128 mask = _mm_shuffle_ps(in, in, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 depth = _mm_or_ps(_mm_and_ps(mask, nearer), _mm_andnot_ps(mask, z));
    const __m128 densities = _mm_shuffle_ps(density, density, _MM_SHUFFLE(2, 0, 2, 0));
    _mm_storeu_ps(p, _mm_unpacklo_ps(densities, depth));
#else
    addDepthSample(at[0], w0, d);
    addDepthSample(at[1], w1, d);
#endif
}

// A splat's cell and weights with the point's depth, between the projection of a chunk of
// points and the splats themselves.
struct DepthSplat {
    Splat cell;
    double d;
};

// The splats of a chunk applied in order; the caller has asked for their cells in advance
// as it formed them (the buffers are larger than the processor's caches).
QM_HOT_INLINE void applyDepthSplats(DepthSample* buffer, std::int32_t width, const DepthSplat* s,
                                    std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        DepthSample* at = buffer + s[i].cell.index;
        addDepthSamplePair(at, s[i].cell.w00, s[i].cell.w10, s[i].d);
        addDepthSamplePair(at + width, s[i].cell.w01, s[i].cell.w11, s[i].d);
    }
}

// float(crm::pow(x, 1/8)) in double, bit for bit, mostly without calling pow: three square roots
// land within 2 units in the last place of pow's double (each square root is correctly rounded
// and halves the error before it; pow is within half a unit), so wherever that double is
// further from a midpoint between two floats, both round to the same float. Near a midpoint,
// and for x not positive and finite, pow itself decides.
float powEighth(float x);

// float(crm::pow(x, n)) in double, bit for bit, for a whole n of 2 to 1024, mostly
// without calling pow: repeated squaring in double is within (n - 1) roundings of the exact
// power (each product adds one and a squaring doubles what came before), so its float is pow's
// wherever the double lies further than that from a midpoint between floats. Near a midpoint,
// and for a power outside the normal floats, pow itself decides.
float powWhole(float x, int n);

// One directional light with its two shadow maps (density and nearest depth seen from the
// light). The maps cover the box of the last scan: BeginScan, ScanPoint for every point,
// EndScan. A light whose map has no usable matrix (no scan yet, a box without extent in some
// axis, non-finite bounds) stores nothing and lights everything.
class Light {
public:
    static constexpr std::int32_t kMapSize = 800;

    Light();

    // direction = d normalised (kept as it is when d has length 0); right = upHint x direction,
    // normalised; up = direction x right.
    void SetDirection(const Vecd& d);
    // Empties both maps (density 0, depth 1) and takes 1 / opacity for the occlusion.
    void Clear();
    void BeginScan();
    void ScanPoint(const Vecd& p);
    void EndScan();
    // matrix = ortho(box enlarged by 1 + softness) x lookAt(light) x rotation.
    void ComputeMatrix();
    void FindPeak();

    // The splat rule of the camera, in map coordinates on mapDensity and mapDepth.
    QM_HOT_INLINE void Splat(const Vecd& p) {
        if (!mapValid_) return;
        const Vecd m = mapCoordinates(p);
        qm::Splat s;
        if (!TBitmap3D::splatCell(m.x, m.y, mapWidth, mapHeight, s)) return;
        addDepthSamples(mapSamples.data(), mapWidth, s, m.z);
    }

    // How much of this light reaches object point p: 1 in front of the stored surface, outside
    // the map or wherever the map holds nothing; less behind a dense surface, fading in over a
    // depth band of `softness` behind it.
    float Visibility(const Vecd& p) const;

    // Map x, y (0 to mapWidth, mapHeight) and depth d (0 near, 1 far) of object point p.
    QM_HOT_INLINE Vecd mapCoordinates(const Vecd& p) const {
        const Vecd l = lightSpace(p);
        return {(l.x + 1) * mapWidth * 0.5, (l.y + 1) * mapHeight * 0.5, (l.z + 1) * 0.5};
    }
    // mapCoordinates over consecutive points, with z multiplied by zSign (1, or -1 for the
    // mirror image), as TBitmap3D::projectChunk does for the camera.
    QM_HOT_INLINE void mapChunk(const Vecd* p, std::int32_t count, double zSign, Vecd* out) const {
        // A local copy: the stores to out might alias the matrix.
        const std::array<double, 16> m = matrix.m;
        const double w = mapWidth, h = mapHeight;
        for (std::int32_t i = 0; i < count; ++i) {
            const double x = p[i].x, y = p[i].y, z = zSign * p[i].z;
            out[i].x = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * w * 0.5;
            out[i].y = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * h * 0.5;
            out[i].z = (m[2] * x + m[6] * y + m[10] * z + m[14] + 1) * 0.5;
        }
    }
    bool hasMap() const { return mapValid_; }
    // The fit of the maps and the light's frame, as ClearImage left them, to go on with a
    // render: setFit refuses values of another length and changes nothing then.
    std::vector<double> fit() const;
    bool setFit(const std::vector<double>& values);

    // One camera or light splat: addDepthSample on each of the four pixels of the cell.
    QM_HOT_INLINE static void addDepthSamples(DepthSample* buffer, std::int32_t width,
                                              const qm::Splat& s, double d) {
        DepthSample* at = buffer + s.index;
        addDepthSample(at[0], s.w00, d);
        addDepthSample(at[1], s.w10, d);
        addDepthSample(at[width], s.w01, d);
        addDepthSample(at[width + 1], s.w11, d);
    }

    std::int32_t mapPixels = kMapSize * kMapSize;
    // mapDensity and mapDepth, pixel by pixel.
    DepthBuffer mapSamples;
    float mapPeak = 0;
    double inverseOpacity = 1.0 / 8.0;
    double softness = 10.0 / kMapSize;
    Vecd boundsMin{-0.5, -0.5, -0.5};
    Vecd boundsMax{0.5, 0.5, 0.5};
    Vecd direction{0, 0, 1};
    Vecd right{1, 0, 0};
    Vecd up{0, 1, 0};
    Vecd upHint{0, 1, 0};
    Mat4 matrix = Mat4::identity();
    std::int32_t mapWidth = kMapSize;
    std::int32_t mapHeight = kMapSize;
    double opacity = 8.0;
    Vecd rotationAxis{0, 0, 0};
    double rotationAngle = 0;
    ColorRGBf color{1, 1, 1};

private:
    // The first three rows of matrix applied to p.
    Vecd lightSpace(const Vecd& p) const {
        const auto& m = matrix.m;
        return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
    }

    bool mapValid_ = false;
};

using LightArray = std::vector<std::unique_ptr<Light>>;

class TBitmap3D_Solid final : public TBitmap3D {
public:
    TBitmap3D_Solid();
    // A Solid target made by a mode switch starts from the Solid defaults: no other mode shares
    // its parameters.
    TBitmap3D_Solid(const TBitmap3D& source, ModeSwitch);

    // Mode 4, three lights, the colours and the shading parameters.
    void SetDefaults() override;
    void AllocateBuffers() override;
    // Also gives every light the object's rotation, so the lights stay fixed to the viewer.
    void SetView() override;
    // Also refits and clears every light map over the preview points.
    void ClearImage() override;
    void BeginScan(ScanKind kind) override;
    void ScanPoint(const Vecd& p) override;
    void EndScan() override;
    void PlotPoint(const Vecd& p) override { plotSolid(p); }
    void PlotBlock(const Vecd* points, std::int32_t n) override;
    void captureState(RenderState& state) const override;
    bool restoreState(const RenderState& state) override;
    // The peaks: the camera's density, then every light map's (Light::mapPeak).
    std::int32_t peakCount() const override;
    void findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const override;
    void preparePeaks(const float* peaks, std::int32_t parts) override;
    void buildRows(std::int32_t first, std::int32_t last) override;
    // buildRows' shading (the same per-pixel function) with 16 bits per channel.
    void buildRows16(std::uint16_t* out, std::ptrdiff_t rowStride, std::int32_t first,
                     std::int32_t last) override;

    // density and depth, pixel by pixel.
    DepthBuffer samples;
    float peak = 0;
    ColorRGBf ambient{0.08f, 0.08f, 0.08f};
    ColorRGBf diffuse{0.8f, 0.8f, 0.8f};
    ColorRGBf specular{0.5f, 0.5f, 0.5f};
    LightArray lights;
    double opacity = 8.0;
    double gamma = 1.0;
    double roughness = 0.008;

private:
    // What every pixel of one development shares.
    struct Development {
        float iOpacity, iGamma, iRough, pix, depthScale;
        double specularZero;
        int specularWhole;  // iRough when it is a whole number that powWhole takes, else 0
        std::array<int, 4> viewport;
        std::uint8_t background[3];
        std::optional<Mat4> inverse;
    };
    Development makeDevelopment() const;
    // The current development's, from preparePeaks.
    Development development_{};
    // The developed colour of pixel (x, y), whose density is positive: the lit surface blended
    // over the background, each channel as it goes to a byte (8 bits) or a level (16 bits).
    ColorRGBf shadePixel(std::int32_t x, std::int32_t y, const Development& d) const;
    // Develops image row y (all but its last pixel, which comes from the row buffer). Reads
    // the buffers and the lights, writes that row of the image only: rows may be developed in
    // any order, or at once.
    void developRow(std::int32_t y, const Development& d);

    QM_HOT_INLINE void plotSolid(const Vecd& p) {
        splatSolid(p);
        if (mirror) splatSolid({p.x, p.y, -p.z});
    }
    QM_HOT_INLINE void splatSolid(const Vecd& p) {
        const Vecd pixel = project(p);
        qm::Splat s;
        if (splatCell(pixel, s)) Light::addDepthSamples(samples.data(), imageWidth, s, pixel.z);
        for (const auto& light : lights) light->Splat(p);
    }

public:
    // The points of a block (and their mirror images) projected a chunk at a time, onto the
    // camera and then onto every light's map: chunk(buffer, coordinates, mirrored, count) with
    // buffer 0 the camera and 1 + i light i, coordinates[k] the pixel or map x, y and depth of
    // point k, mirrored[k] those of its mirror image (nullptr without mirror). Lights without a
    // map are skipped. Each buffer receives its points in orbit order; one buffer's chunk is
    // done before the next buffer's starts, so that the splats of a chunk stay in one buffer.
    template <class Chunk>
    QM_HOT_INLINE void projectChunks(const Vecd* points, std::int32_t n, Chunk&& chunk) const {
        Vecd at[kSplatChunk], mirrored[kSplatChunk];
        for (std::int32_t start = 0; start < n; start += kSplatChunk) {
            const std::int32_t count = std::min(kSplatChunk, n - start);
            projectChunk<true>(points + start, count, 1.0, at);
            if (mirror) projectChunk<true>(points + start, count, -1.0, mirrored);
            chunk(0, at, mirror ? mirrored : nullptr, count);
            for (std::size_t i = 0; i < lights.size(); ++i) {
                const Light& light = *lights[i];
                if (!light.hasMap()) continue;
                light.mapChunk(points + start, count, 1.0, at);
                if (mirror) light.mapChunk(points + start, count, -1.0, mirrored);
                chunk(1 + static_cast<std::int32_t>(i), at, mirror ? mirrored : nullptr, count);
            }
        }
    }
    // A chunk of projectChunks in plotting order: each point, then its mirror image.
    template <class Fn>
    QM_HOT_INLINE static void inPlotOrder(const Vecd* at, const Vecd* mirrored, std::int32_t count,
                                          Fn&& fn) {
        if (mirrored) {
            for (std::int32_t i = 0; i < count; ++i) {
                fn(at[i]);
                fn(mirrored[i]);
            }
        } else {
            for (std::int32_t i = 0; i < count; ++i) fn(at[i]);
        }
    }
    // Buffer b of projectChunks: its samples and size.
    DepthSample* bufferSamples(std::int32_t b) {
        return b == 0 ? samples.data() : lights[static_cast<std::size_t>(b - 1)]->mapSamples.data();
    }
    std::int32_t bufferWidth(std::int32_t b) const {
        return b == 0 ? imageWidth : lights[static_cast<std::size_t>(b - 1)]->mapWidth;
    }
    std::int32_t bufferHeight(std::int32_t b) const {
        return b == 0 ? imageHeight : lights[static_cast<std::size_t>(b - 1)]->mapHeight;
    }
};

}  // namespace qm
