#include "core/render/solid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "core/math/cr_exp_log.h"

namespace qm {

namespace {

constexpr double kPi = 3.141592653589793;

Vecd cross(const Vecd& a, const Vecd& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// v / |v|, or v itself when its length is 0.
Vecd normalised(const Vecd& v) {
    const double length = std::sqrt(dot(v, v));
    if (length == 0) return v;
    return {v.x / length, v.y / length, v.z / length};
}

// A direction in single precision, as the shading works on it.
struct Vec3f {
    float x, y, z;
};

float dotf(const Vec3f& a, const Vec3f& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3f normalisedf(const Vec3f& v) {
    const float length = std::sqrt(dotf(v, v));
    if (length == 0) return v;
    return {v.x / length, v.y / length, v.z / length};
}

// a . b of a float vector with a double one, formed in double and rounded once.
float dotMixed(const Vec3f& a, const Vecd& b) {
    return static_cast<float>(a.x * b.x + a.y * b.y + a.z * b.z);
}

float clamp01(float v) {
    return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

// pow in double on float operands (correctly rounded), rounded to float.
float powf64(float base, float exponent) {
    return crm::powFloat(static_cast<double>(base), static_cast<double>(exponent));
}

}  // namespace

float powEighth(float x) {
    const auto v = static_cast<double>(x);
    if (!(v > 0 && v <= std::numeric_limits<float>::max())) return powf64(x, 0.125f);
    const double r = std::sqrt(std::sqrt(std::sqrt(v)));
    // r and its float are normal numbers: the 29 bits below a float's precision say how far r
    // lies from the midpoint between its two nearest floats, 2^28 in those units.
    std::uint64_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    const auto below = static_cast<std::int64_t>(bits & 0x1FFFFFFFu) - (std::int64_t{1} << 28);
    if (below >= -16 && below <= 16) return powf64(x, 0.125f);
    return static_cast<float>(r);
}

float powWhole(float x, int n) {
    const auto v = static_cast<double>(x);
    if (!(n >= 2 && n <= 1024 && v > 0 && v <= std::numeric_limits<float>::max()))
        return powf64(x, static_cast<float>(n));
    double r = 1, square = v;
    bool first = true;
    for (int k = n; k > 0; k >>= 1) {
        if (k & 1) {
            r = first ? square : r * square;
            first = false;
        }
        if (k > 1) square *= square;
    }
    // Outside the normal floats (and of the doubles' range), or close to a float midpoint.
    if (!(r >= static_cast<double>(std::numeric_limits<float>::min()) &&
          r <= static_cast<double>(std::numeric_limits<float>::max())))
        return powf64(x, static_cast<float>(n));
    std::uint64_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    const auto below = static_cast<std::int64_t>(bits & 0x1FFFFFFFu) - (std::int64_t{1} << 28);
    const std::int64_t margin = 2 * std::int64_t{n} + 16;
    if (below >= -margin && below <= margin) return powf64(x, static_cast<float>(n));
    return static_cast<float>(r);
}

namespace {

// powf64 without the call where its result is known: pow(1, y) is exactly 1, pow(+0, y) is +0
// for y > 0 and pow(x, 1) is x.
float powOrExact(float base, float exponent) {
    if (base == 1.0f || exponent == 1.0f) return base;
    if (base == 0.0f && exponent > 0.0f && !std::signbit(base)) return base;
    if (exponent == 0.125f) return powEighth(base);
    return powf64(base, exponent);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Light

Light::Light() : mapSamples(static_cast<std::size_t>(kMapSize) * kMapSize) {
    SetDirection({-0.5, 0.5, 0.5});
}

void Light::SetDirection(const Vecd& d) {
    if (dot(d, d) != 0) direction = normalised(d);
    right = normalised(cross(upHint, direction));
    up = cross(direction, right);
}

void Light::Clear() {
    mapPeak = 0;
    inverseOpacity = 1 / opacity;
    std::fill(mapSamples.begin(), mapSamples.end(), DepthSample{});
}

void Light::BeginScan() {
    // With the unit box and no margin the matrix only looks and rotates (plus an exact affine
    // map onto 0..1), so the scan collects the bounds in the light's own space.
    boundsMin = {0, 0, 0};
    boundsMax = {1, 1, 1};
    const double margin = softness;
    softness = 0;
    ComputeMatrix();
    // The margin comes back rounded to single precision; the fitted box depends on it.
    softness = static_cast<float>(margin);
    boundsMin = {TBitmap3D::kMaxDouble, TBitmap3D::kMaxDouble, TBitmap3D::kMaxDouble};
    boundsMax = {-TBitmap3D::kMaxDouble, -TBitmap3D::kMaxDouble, -TBitmap3D::kMaxDouble};
}

void Light::ScanPoint(const Vecd& p) {
    const Vecd l = lightSpace(p);
    const Vecd n{(l.x + 1) / 2, (l.y + 1) / 2, (l.z + 1) / 2};
    // NaN coordinates fail both comparisons and leave the box as it is.
    boundsMin = {std::min(boundsMin.x, n.x), std::min(boundsMin.y, n.y),
                 std::min(boundsMin.z, n.z)};
    boundsMax = {std::max(boundsMax.x, n.x), std::max(boundsMax.y, n.y),
                 std::max(boundsMax.z, n.z)};
}

void Light::EndScan() {
    ComputeMatrix();
}

void Light::ComputeMatrix() {
    const double b = 1 + softness;
    const Vecd lo = boundsMin * b;
    const Vecd hi = boundsMax * b;
    Mat4 m = Mat4::identity();
    m.ortho(lo.x, hi.x, lo.y, hi.y, lo.z, hi.z);
    m.lookAt({-direction.x, direction.y, -direction.z}, {0, 0, 0}, up);
    m.rotate(rotationAngle * (1 / kPi) * 180, rotationAxis);
    matrix = m;

    // A box without extent in some axis (every point at one place, or a flat cloud seen edge
    // on) or with non-finite bounds gives a matrix that divides by zero: such a light keeps no
    // map and lights everything.
    mapValid_ =
        hi.x - lo.x > 0 && hi.y - lo.y > 0 && hi.z - lo.z > 0 &&
        std::all_of(matrix.m.begin(), matrix.m.end(), [](double v) { return std::isfinite(v); });
}

void Light::FindPeak() {
    mapPeak = 0;
    for (const DepthSample& s : mapSamples) mapPeak = std::max(mapPeak, s.density);
}

float Light::Visibility(const Vecd& p) const {
    // Without a map, or with an empty one, nothing casts a shadow (and mapPeak may be 0).
    if (!mapValid_ || !(mapPeak > 0)) return 1;
    const Vecd m = mapCoordinates(p);
    if (!(std::isfinite(m.x) && std::isfinite(m.y) && std::isfinite(m.z))) return 1;
    // Outside the map, border cells included: trunc(x) <= 0 or trunc(x) >= mapWidth - 1. Tested
    // on the doubles, so that only indices inside the map are ever formed.
    if (!(m.x >= 1 && m.x < mapWidth - 1 && m.y >= 1 && m.y < mapHeight - 1)) return 1;
    const auto i = static_cast<std::int32_t>(m.x);
    const auto j = static_cast<std::int32_t>(m.y);
    const double fx = m.x - i;
    const double fy = m.y - j;
    const std::size_t k[4] = {static_cast<std::size_t>(i + j * mapWidth),
                              static_cast<std::size_t>(i + 1 + j * mapWidth),
                              static_cast<std::size_t>(i + (j + 1) * mapWidth),
                              static_cast<std::size_t>(i + 1 + (j + 1) * mapWidth)};
    const float t00 = mapSamples[k[0]].depth, t10 = mapSamples[k[1]].depth,
                t01 = mapSamples[k[2]].depth, t11 = mapSamples[k[3]].depth;
    // The stored surface at (x, y), interpolated bilinearly.
    const double s = t00 + (t10 - t00) * fx + (t01 - t00) * fy + fx * fy * (t00 - t10 + t11 - t01);
    const double d = m.z;
    if (!(d > s)) return 1;

    // Occlusion of each of the four cells that lie in front of the point.
    const float t[4] = {t00, t10, t01, t11};
    float o[4];
    for (int q = 0; q < 4; ++q) {
        if (t[q] < d) {
            const auto ratio = static_cast<float>(mapSamples[k[q]].density / mapPeak * opacity);
            o[q] = inverseOpacity == 0.125
                       ? powEighth(ratio)
                       : crm::powFloat(static_cast<double>(ratio), inverseOpacity);
        } else {
            o[q] = 0;
        }
    }
    double occlusion =
        o[0] + (o[1] - o[0]) * fx + (o[2] - o[0]) * fy + fx * fy * (o[0] - o[1] + o[3] - o[2]);
    occlusion = std::clamp(occlusion, 0.0, 1.0);

    // Shadows fade in over the first `softness` of depth behind the surface.
    const double e = d - s;
    if (e >= softness) return static_cast<float>(1 - occlusion);
    return static_cast<float>(1 - occlusion * e / softness);
}

// ---------------------------------------------------------------------------------------------
// TBitmap3D_Solid

TBitmap3D_Solid::TBitmap3D_Solid() {
    SetDefaults();
}

TBitmap3D_Solid::TBitmap3D_Solid(const TBitmap3D& source, ModeSwitch tag) : TBitmap3D(source, tag) {
    SetDefaults();
}

void TBitmap3D_Solid::SetDefaults() {
    mode = static_cast<std::uint8_t>(RenderMode::Solid);
    gamma = 1.0;
    opacity = 8.0;

    struct LightSetup {
        ColorRGBf color;
        Vecd direction;
    };
    static constexpr LightSetup kLights[3] = {
        {{0.8f, 0.65f, 0.475f}, {0.8, 0.1, 0.2}},
        {{0.38f, 0.45f, 0.7f}, {-0.9, -0.15, -0.08}},
        {{0.95f, 0.945f, 0.93f}, {-0.4, 0.85, 1.0}},
    };
    // Replaces any lights of an earlier call: the target always has these three.
    lights.clear();
    for (const auto& setup : kLights) {
        auto light = std::make_unique<Light>();
        light->opacity = opacity;
        light->color = setup.color;
        light->SetDirection(setup.direction);
        lights.push_back(std::move(light));
    }

    SetBackgroundColor({0.298f, 0.314f, 0.3f});
    SetPointColor({1, 1, 1});
    ambient = {0.08f, 0.08f, 0.08f};
    diffuse = {0.8f, 0.8f, 0.8f};
    specular = {0.5f, 0.5f, 0.5f};
    roughness = 0.008;
}

void TBitmap3D_Solid::AllocateBuffers() {
    TBitmap3D::AllocateBuffers();
    samples.assign(static_cast<std::size_t>(pixelCount), DepthSample{});
}

void TBitmap3D_Solid::SetView() {
    TBitmap3D::SetView();
    for (auto it = lights.rbegin(); it != lights.rend(); ++it) {
        (*it)->rotationAxis = rotationAxis;
        (*it)->rotationAngle = rotationAngle;
    }
}

namespace {

// The greatest density of part `part` of `parts` of a buffer (0 if none is above 0).
float densityPeak(const DepthBuffer& buffer, std::int32_t part, std::int32_t parts) {
    const std::size_t n = buffer.size();
    const auto from = static_cast<std::size_t>(static_cast<std::uint64_t>(n) * part / parts);
    const auto to = static_cast<std::size_t>(static_cast<std::uint64_t>(n) * (part + 1) / parts);
    float p = 0;
    for (std::size_t i = from; i < to; ++i) p = std::max(p, buffer[i].density);
    return p;
}

}  // namespace

std::int32_t TBitmap3D_Solid::peakCount() const {
    return 1 + static_cast<std::int32_t>(lights.size());
}

void TBitmap3D_Solid::findPeakPart(std::int32_t part, std::int32_t parts, float* peaks) const {
    peaks[0] = densityPeak(samples, part, parts);
    for (std::size_t i = 0; i < lights.size(); ++i)
        peaks[1 + i] = densityPeak(lights[i]->mapSamples, part, parts);
}

void TBitmap3D_Solid::preparePeaks(const float* peaks, std::int32_t parts) {
    const std::int32_t count = peakCount();
    // The greatest of each buffer's part peaks, as one pass over the buffer finds it.
    auto greatest = [&](std::int32_t b) {
        float p = 0;
        for (std::int32_t i = 0; i < parts; ++i) p = std::max(p, peaks[i * count + b]);
        return p;
    };
    peak = greatest(0);
    for (std::size_t i = 0; i < lights.size(); ++i)
        lights[i]->mapPeak = greatest(1 + static_cast<std::int32_t>(i));
    foundPeak = peak;
    if (fixedPeak > 0 && peak > 0) peak = fixedPeak;
    if (peak > 0) development_ = makeDevelopment();
}

void TBitmap3D_Solid::ClearImage() {
    TBitmap3D::ClearImage();
    peak = 0;
    std::fill(samples.begin(), samples.end(), DepthSample{});
    // The light maps are fitted to the preview cloud, the best guess of the orbit's extent.
    for (const auto& light : lights) {
        light->Clear();
        light->BeginScan();
        for (std::int32_t i = 0; i < previewSize; ++i)
            light->ScanPoint(previewPoints[static_cast<std::size_t>(i)]);
        light->EndScan();
    }
}

void TBitmap3D_Solid::BeginScan(ScanKind kind) {
    TBitmap3D::BeginScan(kind);
    for (const auto& light : lights) light->BeginScan();
}

void TBitmap3D_Solid::ScanPoint(const Vecd& p) {
    TBitmap3D::ScanPoint(p);
    for (const auto& light : lights) light->ScanPoint(p);
}

void TBitmap3D_Solid::EndScan() {
    TBitmap3D::EndScan();
    for (const auto& light : lights) light->EndScan();
}

void TBitmap3D_Solid::PlotBlock(const Vecd* points, std::int32_t n) {
    projectChunks(points, n,
                  [this](std::int32_t b, const Vecd* at, const Vecd* mirrored, std::int32_t count) {
                      const std::int32_t width = bufferWidth(b);
                      const SplatLimits limits(width, bufferHeight(b));
                      DepthSplat splats[2 * kSplatChunk];
                      std::int32_t m = 0;
                      DepthSample* buffer = bufferSamples(b);
                      // Each cell is asked for as soon as it is known: the chunk's other cells
                      // are formed while it comes.
                      auto add = [&](const Vecd& c) {
                          if (!splatCell(c.x, c.y, limits, splats[m].cell)) return;
                          splats[m].d = c.z;
                          __builtin_prefetch(buffer + splats[m].cell.index, 1, 3);
                          __builtin_prefetch(buffer + splats[m].cell.index + width + 1, 1, 3);
                          ++m;
                      };
                      inPlotOrder(at, mirrored, count, add);
                      applyDepthSplats(buffer, width, splats, m);
                  });
}

TBitmap3D_Solid::Development TBitmap3D_Solid::makeDevelopment() const {
    // Constants of the development, in single precision.
    Development d;
    d.iOpacity = static_cast<float>(1 / opacity);
    d.iGamma = static_cast<float>(1 / gamma);
    d.iRough = static_cast<float>(1 / roughness);
    d.pix = 1.0f / static_cast<float>(imageWidth);
    d.depthScale = static_cast<float>(projectionMatrix[10] * 0.5);
    d.viewport = {0, 0, imageWidth, imageHeight};
    d.background[0] = channelByte(backgroundColor.b);
    d.background[1] = channelByte(backgroundColor.g);
    d.background[2] = channelByte(backgroundColor.r);
    // The inverse of the camera transform, once for every pixel: the same matrix that
    // unproject would form at each one.
    d.inverse = (projectionMatrix * viewMatrix).inverse();
    // Below this g, g^iRough is under 2^-151 (pow is correctly rounded), which rounds to
    // float +0: the specular power is 0 without calling pow. The margin of 2^-0.5 covers the
    // rounding of the bound itself for any exponent up to 10^6; other exponents (and NaN) get
    // no shortcut.
    const double exponent = static_cast<double>(d.iRough);
    d.specularZero = exponent > 0 && exponent <= 1e6 ? crm::pow(2.0, -151.5 / exponent) : 0.0;
    d.specularWhole = exponent >= 2 && exponent <= 1024 && exponent == std::floor(exponent)
                          ? static_cast<int>(exponent)
                          : 0;
    return d;
}

void TBitmap3D_Solid::buildRows(std::int32_t first, std::int32_t last) {
    if (!(peak > 0)) return;
    // The top row and the right column have no neighbour for the normal: they keep what
    // ClearImage gave them. Rows are independent of each other.
    // A copy of its own: the image's bytes, stored through a byte pointer, might otherwise
    // be the development's, which would be read again after every pixel.
    const Development d = development_;
    for (std::int32_t y = std::min(last, imageHeight - 1) - 1; y >= first; --y) developRow(y, d);
}

ColorRGBf TBitmap3D_Solid::shadePixel(std::int32_t x, std::int32_t y, const Development& d) const {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const float pix = d.pix;
    const float depthScale = d.depthScale;
    const auto k = static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * imageWidth;
    const float dens = samples[k].density;
    const float D = samples[k].depth;

    // Screen point, and the object point under the pixel (a camera that cannot be inverted
    // gives a point that no light map holds: fully lit).
    const Vec3f P{static_cast<float>(x - imageWidth / 2) * pix,
                  static_cast<float>(y - imageHeight / 2) * pix, D / depthScale};
    const Vecd Q =
        d.inverse ? unprojectWith(*d.inverse, {static_cast<double>(x), static_cast<double>(y), D},
                                  d.viewport)
                        .value_or(Vecd{nan, nan, nan})
                  : Vecd{nan, nan, nan};

    // Normal from the depth differences to the right and upper neighbours.
    const Vec3f n = normalisedf(
        {-pix * (samples[k + 1].depth - D) / depthScale,
         -pix * (samples[k + static_cast<std::size_t>(imageWidth)].depth - D) / depthScale,
         pix * pix});
    ColorRGBf c = ambient;
    const Vec3f v = normalisedf({static_cast<float>(P.x - eye.x), static_cast<float>(P.y - eye.y),
                                 static_cast<float>(P.z - eye.z)});

    // Diffuse and specular light of every source, last to first.
    for (auto it = lights.rbegin(); it != lights.rend(); ++it) {
        const Light& light = **it;
        const float t = light.Visibility(Q);
        const ColorRGBf lc{light.color.r * t, light.color.g * t, light.color.b * t};
        const float kd = clamp01(dotMixed(n, light.direction));
        c.r += diffuse.r * lc.r * kd;
        c.g += diffuse.g * lc.g * kd;
        c.b += diffuse.b * lc.b * kd;
        const Vec3f h{static_cast<float>((light.direction.x + v.x) * 0.5),
                      static_cast<float>((light.direction.y + v.y) * 0.5),
                      static_cast<float>((light.direction.z + v.z) * 0.5)};
        const float g = dotf(h, n) / std::sqrt(dotf(h, h));
        if (g > 0) {
            const float ks = static_cast<double>(g) < d.specularZero ? 0.0f
                             : d.specularWhole                       ? powWhole(g, d.specularWhole)
                                                                     : powf64(g, d.iRough);
            c.r += specular.r * lc.r * ks;
            c.g += specular.g * lc.g * ks;
            c.b += specular.b * lc.b * ks;
        }
    }

    // Opacity from the density: from peak / opacity up the pixel is opaque.
    const auto ratio = static_cast<float>(dens / peak * opacity);
    const float a = powOrExact(clamp01(ratio), d.iOpacity);

    c = {clamp01(c.r), clamp01(c.g), clamp01(c.b)};
    if (d.iGamma > 0) {
        c.r = c.r > 0 ? powOrExact(c.r, d.iGamma) : 0.0f;
        c.g = c.g > 0 ? powOrExact(c.g, d.iGamma) : 0.0f;
        c.b = c.b > 0 ? powOrExact(c.b, d.iGamma) : 0.0f;
    }

    const float keep = 1 - a;
    return {keep * backgroundColor.r + a * c.r, keep * backgroundColor.g + a * c.g,
            keep * backgroundColor.b + a * c.b};
}

void TBitmap3D_Solid::developRow(std::int32_t y, const Development& d) {
    if (rowBuffer.size() < static_cast<std::size_t>(bytesPerLine()) || imageWidth < 1) return;
    std::uint8_t* row =
        image_.data() + static_cast<std::size_t>(imageHeight - 1 - y) * bytesPerLine();
    for (std::int32_t x = imageWidth - 2; x >= 0; --x) {
        const auto k = static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * imageWidth;
        std::uint8_t* out = row + 3 * static_cast<std::size_t>(x);
        if (!(samples[k].density > 0)) {
            std::memcpy(out, d.background, 3);
            continue;
        }
        const ColorRGBf c = shadePixel(x, y, d);
        out[0] = channelByte(c.b);
        out[1] = channelByte(c.g);
        out[2] = channelByte(c.r);
    }
    // The right column comes from the row buffer, as a stored row would take it.
    const std::size_t last = 3 * static_cast<std::size_t>(imageWidth - 1);
    std::memcpy(row + last, rowBuffer.data() + last, 3);
}

void TBitmap3D_Solid::buildRows16(std::uint16_t* out16, std::ptrdiff_t rowStride,
                                  std::int32_t first, std::int32_t last) {
    // The image as it stands first: the top row and the right column keep it, as do pixels of
    // an image with nothing plotted.
    TBitmap3D::buildRows16(out16, rowStride, first, last);
    if (!(peak > 0)) return;
    const Development d = development_;
    const std::uint16_t background[3] = {deepChannel(backgroundColor.r),
                                         deepChannel(backgroundColor.g),
                                         deepChannel(backgroundColor.b)};
    // buildRows' pixels, kept at 16 bits per channel.
    for (std::int32_t y = first; y < std::min(last, imageHeight - 1); ++y) {
        for (std::int32_t x = imageWidth - 2; x >= 0; --x) {
            const auto k = static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * imageWidth;
            std::uint16_t* out =
                out16 + (imageHeight - 1 - y) * rowStride + 4 * static_cast<std::ptrdiff_t>(x);
            if (!(samples[k].density > 0)) {
                std::memcpy(out, background, sizeof background);
                continue;
            }
            const ColorRGBf c = shadePixel(x, y, d);
            out[0] = deepChannel(c.r);
            out[1] = deepChannel(c.g);
            out[2] = deepChannel(c.b);
        }
    }
}

}  // namespace qm
