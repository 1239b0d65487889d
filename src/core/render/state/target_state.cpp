// Capture and restore of the render targets' accumulation state (TBitmap3D::captureState and
// the modes' overrides). Each restoreState checks everything it needs before it hands over to
// its base, and applies its own part only once the base has applied its own: a refused state
// leaves the target as it was.
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <type_traits>

#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/solid.h"
#include "core/render/state/render_state.h"

namespace qm {

namespace {

void setColor(RenderState& s, std::string_view key, const ColorRGBf& c) {
    s.set(key, Vecd{c.r, c.g, c.b});
}

// A colour as setColor wrote it: three doubles that are floats.
std::optional<ColorRGBf> color(const RenderState& s, std::string_view key) {
    const auto v = s.vector(key);
    if (!v) return std::nullopt;
    const ColorRGBf c{static_cast<float>(v->x), static_cast<float>(v->y), static_cast<float>(v->z)};
    if (c.r != v->x || c.g != v->y || c.b != v->z) return std::nullopt;
    return c;
}

// The colour sums as the floats they are made of, red, green, blue per pixel.
static_assert(sizeof(ColorRGBf) == 3 * sizeof(float) && std::is_standard_layout_v<ColorRGBf>);
std::span<const float> floatsOf(const std::vector<ColorRGBf>& colors) {
    return {reinterpret_cast<const float*>(colors.data()), 3 * colors.size()};
}

void assign(std::vector<float>& to, std::span<const float> from) {
    to.assign(from.begin(), from.end());
}

// Solid's buffers hold density and depth side by side; the state keeps them as two planes,
// "<name>density" and "<name>depth".
static_assert(sizeof(DepthSample) == 2 * sizeof(float) && std::is_standard_layout_v<DepthSample>);
void addSamples(RenderState& s, const std::string& name, const DepthBuffer& samples) {
    const auto* floats = reinterpret_cast<const float*>(samples.data());
    s.addBuffer(name + "density", floats, samples.size(), 2);
    s.addBuffer(name + "depth", floats + 1, samples.size(), 2);
}
// The two planes, of samples' size each, back into samples.
void assign(DepthBuffer& samples, std::span<const float> density, std::span<const float> depth) {
    for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = {density[k], depth[k]};
}

bool positive(const std::optional<double>& v) {
    return v && *v > 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The target: mode, size, camera, colours

void TBitmap3D::captureState(RenderState& s) const {
    s.set("mode", std::to_string(mode));
    s.set("width", std::to_string(imageWidth));
    s.set("height", std::to_string(imageHeight));
    s.set("camera.eye", eye);
    s.set("camera.target", target);
    s.set("camera.centre", centre);
    s.set("camera.rotation_axis", rotationAxis);
    s.set("camera.rotation_angle", rotationAngle);
    s.set("camera.scale", scale);
    s.set("camera.pan_x", panX);
    s.set("camera.pan_y", panY);
    s.set("camera.view_width", viewWidth);
    s.set("camera.view_height", viewHeight);
    s.set("camera.near", nearPlane);
    s.set("camera.far", farPlane);
    s.set("camera.mirror", mirror ? "1" : "0");
    setColor(s, "color.background", backgroundColor);
    setColor(s, "color.point", pointColor);
    // Only when there is one: a state without the key develops against the buffers' own peak,
    // as every state written before the key existed does.
    if (fixedPeak > 0) s.set("exposure", double{fixedPeak});
}

bool TBitmap3D::restoreState(const RenderState& s) {
    const std::string* m = s.setting("mode");
    const std::string* w = s.setting("width");
    const std::string* h = s.setting("height");
    if (!m || !w || !h || *m != std::to_string(mode) || *w != std::to_string(imageWidth) ||
        *h != std::to_string(imageHeight))
        return false;
    const auto e = s.vector("camera.eye"), t = s.vector("camera.target"),
               c = s.vector("camera.centre"), axis = s.vector("camera.rotation_axis");
    const auto angle = s.number("camera.rotation_angle"), zoom = s.number("camera.scale"),
               px = s.number("camera.pan_x"), py = s.number("camera.pan_y"),
               vw = s.number("camera.view_width"), vh = s.number("camera.view_height"),
               nearZ = s.number("camera.near"), farZ = s.number("camera.far");
    const std::string* mirrored = s.setting("camera.mirror");
    const auto background = color(s, "color.background"), point = color(s, "color.point");
    if (!e || !t || !c || !axis || !angle || !zoom || !px || !py || !vw || !vh || !nearZ || !farZ ||
        !mirrored || (*mirrored != "0" && *mirrored != "1") || !background || !point)
        return false;
    // A fixed exposure is a float's value above 0; anything else under the key is no state of
    // ours.
    float exposure = 0;
    if (s.setting("exposure")) {
        const auto v = s.number("exposure");
        if (!v || !(*v > 0) || *v > std::numeric_limits<float>::max() ||
            static_cast<double>(static_cast<float>(*v)) != *v)
            return false;
        exposure = static_cast<float>(*v);
    }

    eye = *e;
    target = *t;
    centre = *c;
    rotationAxis = *axis;
    rotationAngle = *angle;
    scale = *zoom;
    panX = *px;
    panY = *py;
    viewWidth = *vw;
    viewHeight = *vh;
    nearPlane = *nearZ;
    farPlane = *farZ;
    mirror = *mirrored == "1";
    fixedPeak = exposure;
    SetBackgroundColor(*background);
    SetPointColor(*point);
    SetProjection();
    SetView();
    // The image starts at the background, as after ClearImage, without touching the buffers.
    TBitmap3D::ClearImage();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Gas and Liquid

void TBitmap3D_Gas::captureState(RenderState& s) const {
    TBitmap3D::captureState(s);
    s.set("luminosity", luminosity);
    s.set("gamma", gamma);
    s.addBuffer("density", density);
    // The integers travel as the buffer's 32-bit elements, bit for bit.
    static_assert(sizeof(std::int64_t) == 2 * sizeof(float));
    if (!fixedDensity.empty())
        s.addBuffer(std::string(kFixedDensityBuffer),
                    std::span<const float>(reinterpret_cast<const float*>(fixedDensity.data()),
                                           2 * fixedDensity.size()));
}

bool TBitmap3D_Gas::restoreState(const RenderState& s) {
    const auto d = s.bufferOfSize("density", density.size());
    const StateBuffer* fixed = s.buffer(kFixedDensityBuffer);
    const auto l = s.number("luminosity"), g = s.number("gamma");
    if (!d || (fixed && fixed->data().size() != 2 * density.size()) || !positive(l) ||
        !positive(g) || !TBitmap3D::restoreState(s))
        return false;
    luminosity = *l;
    gamma = *g;
    assign(density, *d);
    if (fixed) {
        // The density is what the sums give; the next development would make it so.
        fixedDensity.resize(density.size());
        std::memcpy(fixedDensity.data(), fixed->data().data(),
                    fixedDensity.size() * sizeof(std::int64_t));
        for (std::size_t i = 0; i < density.size(); ++i) density[i] = fixedToFloat(fixedDensity[i]);
    } else {
        std::vector<std::int64_t>().swap(fixedDensity);
    }
    peak = 0;
    return true;
}

void TBitmap3D_Liquid::captureState(RenderState& s) const {
    TBitmap3D_Gas::captureState(s);
    s.addBuffer("surface", surface);
}

bool TBitmap3D_Liquid::restoreState(const RenderState& s) {
    const auto d = s.bufferOfSize("surface", surface.size());
    if (!d || !TBitmap3D_Gas::restoreState(s)) return false;
    assign(surface, *d);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Light and Plasma

void TBitmap3D_Light::captureState(RenderState& s) const {
    TBitmap3D::captureState(s);
    s.set("luminosity", luminosity);
    s.set("gamma", gamma);
    s.setValues("light.ranges", {speedMin, speedMax, speedRange, cosMin, cosMax, cosRange});
    s.setValues("light.speed_gradient", gradientValues(speedGradient));
    s.setValues("light.angle_gradient", gradientValues(angleGradient));
    s.addBuffer("light", floatsOf(lightBuffer));
}

bool TBitmap3D_Light::restoreState(const RenderState& s) {
    const auto light = s.bufferOfSize("light", 3 * lightBuffer.size());
    const auto* ranges = s.valuesOfSize("light.ranges", 6);
    const StateValues* speed = s.valuesOf("light.speed_gradient");
    const StateValues* angle = s.valuesOf("light.angle_gradient");
    const auto l = s.number("luminosity"), g = s.number("gamma");
    Gradientf speedRamp, angleRamp;
    if (!light || !ranges || !speed || !angle || !gradientFromValues(speed->values, speedRamp) ||
        !gradientFromValues(angle->values, angleRamp) || !positive(l) || !positive(g) ||
        !TBitmap3D::restoreState(s))
        return false;
    luminosity = *l;
    gamma = *g;
    speedMin = (*ranges)[0];
    speedMax = (*ranges)[1];
    speedRange = (*ranges)[2];
    cosMin = (*ranges)[3];
    cosMax = (*ranges)[4];
    cosRange = (*ranges)[5];
    speedGradient = std::move(speedRamp);
    angleGradient = std::move(angleRamp);
    for (std::size_t i = 0; i < lightBuffer.size(); ++i)
        lightBuffer[i] = {(*light)[3 * i], (*light)[3 * i + 1], (*light)[3 * i + 2]};
    before = last = {0, 0, 0};
    plotColor = {0, 0, 0};
    peak = 0;
    return true;
}

void TBitmap3D_Light::captureOrbitMemory(StreamState& r) const {
    r.before = before;
    r.last = last;
    r.plotColor = plotColor;
}

void TBitmap3D_Light::restoreOrbitMemory(const StreamState& r) {
    before = r.before;
    last = r.last;
    plotColor = r.plotColor;
}

void TBitmap3D_Plasma::captureState(RenderState& s) const {
    TBitmap3D_Light::captureState(s);
    s.addBuffer("surface", surface);
}

bool TBitmap3D_Plasma::restoreState(const RenderState& s) {
    const auto d = s.bufferOfSize("surface", surface.size());
    if (!d || !TBitmap3D_Light::restoreState(s)) return false;
    assign(surface, *d);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Solid

namespace {
// fit(): matrix (16), bounds min and max (6), validity, softness, 1 / opacity, opacity,
// direction, right, up, up hint (12), rotation axis and angle (4), colour (3).
constexpr std::size_t kFitValues = 16 + 6 + 4 + 12 + 4 + 3;

void put(std::vector<double>& v, const Vecd& p) {
    v.push_back(p.x);
    v.push_back(p.y);
    v.push_back(p.z);
}

Vecd take(const double*& p) {
    const Vecd v{p[0], p[1], p[2]};
    p += 3;
    return v;
}
}  // namespace

std::vector<double> Light::fit() const {
    std::vector<double> v(matrix.m.begin(), matrix.m.end());
    put(v, boundsMin);
    put(v, boundsMax);
    v.push_back(mapValid_ ? 1 : 0);
    v.push_back(softness);
    v.push_back(inverseOpacity);
    v.push_back(opacity);
    put(v, direction);
    put(v, right);
    put(v, up);
    put(v, upHint);
    put(v, rotationAxis);
    v.push_back(rotationAngle);
    v.push_back(color.r);
    v.push_back(color.g);
    v.push_back(color.b);
    return v;
}

bool Light::setFit(const std::vector<double>& v) {
    if (v.size() != kFitValues || (v[22] != 0 && v[22] != 1)) return false;
    const double* p = v.data();
    std::copy(p, p + 16, matrix.m.begin());
    p += 16;
    boundsMin = take(p);
    boundsMax = take(p);
    mapValid_ = *p++ == 1;
    softness = *p++;
    inverseOpacity = *p++;
    opacity = *p++;
    direction = take(p);
    right = take(p);
    up = take(p);
    upHint = take(p);
    rotationAxis = take(p);
    rotationAngle = *p++;
    color = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
    mapPeak = 0;
    return true;
}

void TBitmap3D_Solid::captureState(RenderState& s) const {
    TBitmap3D::captureState(s);
    s.set("gamma", gamma);
    s.set("opacity", opacity);
    s.set("roughness", roughness);
    setColor(s, "solid.ambient", ambient);
    setColor(s, "solid.diffuse", diffuse);
    setColor(s, "solid.specular", specular);
    s.set("solid.lights", std::to_string(lights.size()));
    addSamples(s, "", samples);
    for (std::size_t i = 0; i < lights.size(); ++i) {
        const std::string name = "light" + std::to_string(i);
        s.setValues(name + ".fit", lights[i]->fit());
        addSamples(s, name + ".", lights[i]->mapSamples);
    }
}

bool TBitmap3D_Solid::restoreState(const RenderState& s) {
    const auto d = s.bufferOfSize("density", samples.size());
    const auto z = s.bufferOfSize("depth", samples.size());
    const auto g = s.number("gamma"), o = s.number("opacity"), r = s.number("roughness");
    const auto a = color(s, "solid.ambient"), df = color(s, "solid.diffuse"),
               sp = color(s, "solid.specular");
    const std::string* count = s.setting("solid.lights");
    if (!d || !z || !positive(g) || !positive(o) || !positive(r) || !a || !df || !sp || !count ||
        *count != std::to_string(lights.size()))
        return false;
    struct Map {
        const std::vector<double>* fit;
        std::optional<std::span<const float>> density;
        std::optional<std::span<const float>> depth;
    };
    std::vector<Map> maps;
    for (std::size_t i = 0; i < lights.size(); ++i) {
        const std::string name = "light" + std::to_string(i);
        const Map map{s.valuesOfSize(name + ".fit", kFitValues),
                      s.bufferOfSize(name + ".density", lights[i]->mapSamples.size()),
                      s.bufferOfSize(name + ".depth", lights[i]->mapSamples.size())};
        if (!map.fit || !map.density || !map.depth || ((*map.fit)[22] != 0 && (*map.fit)[22] != 1))
            return false;
        maps.push_back(map);
    }
    if (!TBitmap3D::restoreState(s)) return false;
    gamma = *g;
    opacity = *o;
    roughness = *r;
    ambient = *a;
    diffuse = *df;
    specular = *sp;
    assign(samples, *d, *z);
    peak = 0;
    // After the base's SetView, which gave every light the camera's rotation: the saved frames
    // are the ones the render used.
    for (std::size_t i = 0; i < lights.size(); ++i) {
        lights[i]->setFit(*maps[i].fit);
        assign(lights[i]->mapSamples, *maps[i].density, *maps[i].depth);
    }
    return true;
}

}  // namespace qm
