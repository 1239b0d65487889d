#include "core/animate/animation.h"

#include <algorithm>
#include <cmath>

#include "core/math/cr_exp_log.h"
#include "core/math/cr_trig.h"
#include "core/render/render_engine.h"

namespace qm {

namespace {

constexpr double kPi = 3.141592653589793;

// A unit quaternion w + xi + yj + zk: the rotation the view matrix applies (glRotate's, by
// angle about a right-handed axis) is (cos(angle / 2), sin(angle / 2) axis).
struct Quat {
    double w = 1, x = 0, y = 0, z = 0;
};

Quat operator*(const Quat& a, const Quat& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
            a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quat normalised(const Quat& q) {
    const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (!(n > 0)) return {};
    return {q.w / n, q.x / n, q.y / n, q.z / n};
}

// As Mat4::rotate reads an axis: any length, none at all (almost zero) meaning no rotation.
Quat fromAxisAngle(const Vecd& axis, double radians) {
    const double length = std::sqrt(dot(axis, axis));
    if (!(length > 1e-12) || radians == 0) return {};
    const auto [sine, cosine] = crm::sincos(radians * 0.5);
    const double s = sine / length;
    return {cosine, axis.x * s, axis.y * s, axis.z * s};
}

// The rotation as the camera holds it: an angle of 0 to pi about a unit axis; no rotation is
// angle 0 about y, as a mouse drag leaves it.
void toAxisAngle(Quat q, Vecd& axis, double& radians) {
    if (q.w < 0) q = {-q.w, -q.x, -q.y, -q.z};
    const double v = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    if (!(v > 0)) {
        axis = {0, 1, 0};
        radians = 0;
        return;
    }
    axis = {q.x / v, q.y / v, q.z / v};
    radians = 2 * crm::atan2(v, q.w);
}

Quat slerp(const Quat& a, Quat b, double s) {
    double d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    if (d < 0) {  // the shorter way round
        b = {-b.w, -b.x, -b.y, -b.z};
        d = -d;
    }
    double wa = 1 - s, wb = s;
    // Nearly the same rotation: sin(theta) is too small to divide by, and the straight mix
    // is as good.
    if (d < 0.9995) {
        const double theta = crm::acos(std::min(d, 1.0));
        const double sine = crm::sin(theta);
        wa = crm::sin((1 - s) * theta) / sine;
        wb = crm::sin(s * theta) / sine;
    }
    return normalised(
        {wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z});
}

// The mixes. (1 - s) a + s b rather than a + s (b - a): the ends are then a and b exactly.
double mix(double a, double b, double s) {
    return (1 - s) * a + s * b;
}
float mixf(float a, float b, double s) {
    return static_cast<float>(mix(a, b, s));
}
Vecd mix(const Vecd& a, const Vecd& b, double s) {
    return {mix(a.x, b.x, s), mix(a.y, b.y, s), mix(a.z, b.z, s)};
}
ColorRGBf mix(const ColorRGBf& a, const ColorRGBf& b, double s) {
    return {mixf(a.r, b.r, s), mixf(a.g, b.g, s), mixf(a.b, b.b, s)};
}
// Geometric for two positive values (a scale, a count), linear otherwise.
double mixGeometric(double a, double b, double s) {
    if (!(a > 0 && b > 0)) return mix(a, b, s);
    return crm::exp(mix(crm::log(a), crm::log(b), s));
}

template <class T, class Mix>
std::optional<T> mixOptional(const std::optional<T>& a, const std::optional<T>& b, double s,
                             Mix&& mixer) {
    if (a && b) return mixer(*a, *b, s);
    return s < 0.5 ? a : b;
}

Vecd cross(const Vecd& a, const Vecd& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

bool isInteger(ParamType type) {
    return type != ParamType::Float && type != ParamType::Double;
}

// The image's vertical axis, in the space the object rotation leaves its points in (the
// look-at's input): the look-at's up direction made perpendicular to the line of sight.
Vecd viewUpAxis(const SceneCamera& c) {
    const Vecd f = c.target - c.eye;
    const Vecd up{0, 1, 0};
    const Vecd side = cross(f, up);
    const Vecd u = cross(side, f);
    if (!(dot(u, u) > 0)) return up;
    return u;
}

// The scene between two keyframes of the same kind, mode and size, at s strictly between 0
// and 1.
SceneFrame mixScenes(const SceneFrame& a, const SceneFrame& b, double s) {
    SceneFrame f;
    f.attractor = a.attractor->clone();
    const ParamList& pa = a.attractor->params();
    const ParamList& pb = b.attractor->params();
    ParamList& pf = f.attractor->params();
    for (std::int32_t i = 0; i < pf.count() && i < pa.count() && i < pb.count(); ++i) {
        double v = mix(pa[i].get(), pb[i].get(), s);
        if (isInteger(pf[i].type)) v = std::round(v);
        pf[i].set(v);
    }
    f.attractor->restart();

    // What cannot be mixed comes from the nearer keyframe.
    const RenderScene& ra = a.render;
    const RenderScene& rb = b.render;
    f.render = s < 0.5 ? ra : rb;
    RenderScene& r = f.render;
    r.iterations = static_cast<std::int64_t>(std::llround(
        mixGeometric(static_cast<double>(ra.iterations), static_cast<double>(rb.iterations), s)));
    const auto mixReal = [](double x, double y, double t) { return mix(x, y, t); };
    r.camera = mixOptional(ra.camera, rb.camera, s, mixCameras);
    r.luminosity = mixOptional(ra.luminosity, rb.luminosity, s, mixReal);
    r.gamma = mixOptional(ra.gamma, rb.gamma, s, mixReal);
    r.opacity = mixOptional(ra.opacity, rb.opacity, s, mixReal);
    r.roughness = mixOptional(ra.roughness, rb.roughness, s, mixReal);
    r.lightRanges = mixOptional(
        ra.lightRanges, rb.lightRanges, s,
        [](const LightRanges& x, const LightRanges& y, double t) {
            return LightRanges{mix(x.speedMin, y.speedMin, t), mix(x.speedMax, y.speedMax, t),
                               mix(x.cosMin, y.cosMin, t), mix(x.cosMax, y.cosMax, t)};
        });
    r.plotColor =
        mixOptional(ra.plotColor, rb.plotColor, s,
                    [](const ColorRGBf& x, const ColorRGBf& y, double t) { return mix(x, y, t); });
    r.speedGradient = mixOptional(ra.speedGradient, rb.speedGradient, s, mixGradients);
    r.angleGradient = mixOptional(ra.angleGradient, rb.angleGradient, s, mixGradients);
    r.exposure = mixOptional(ra.exposure, rb.exposure, s, mixGeometric);
    return f;
}

double eased(double s, Ease ease) {
    if (ease == Ease::Smooth) return s * s * (3 - 2 * s);
    return s;
}

}  // namespace

SceneFrame::SceneFrame(const SceneFrame& other)
    : attractor(other.attractor ? other.attractor->clone() : nullptr), render(other.render) {}

SceneFrame& SceneFrame::operator=(const SceneFrame& other) {
    if (this != &other) {
        attractor = other.attractor ? other.attractor->clone() : nullptr;
        render = other.render;
    }
    return *this;
}

bool resolveScene(SceneFrame& frame, const Gradientf& defaultSpeed, const Gradientf& defaultAngle) {
    if (!frame.attractor) return false;
    std::unique_ptr<Attractor> attractor = frame.attractor->clone();
    if (!attractor) return false;
    const RenderScene& r = frame.render;
    PreparedScene prepared = prepareScene(*attractor, r, defaultSpeed, defaultAngle);
    if (!prepared.target || !prepared.bounded) return false;
    RenderScene resolved =
        captureScene(*attractor, *prepared.target, r.iterations, r.updates, prepared.previewRandom,
                     r.streams.value_or(kDefaultStreams), r.renderSeed.value_or(0));
    frame.attractor = std::move(attractor);
    frame.render = std::move(resolved);
    return true;
}

SceneCamera turnCamera(const SceneCamera& camera, double degrees, TurnAxis axis) {
    // Whole turns are no turn at all: the frame after a turntable's last is its first, exactly.
    const double d = std::fmod(degrees, 360.0);
    if (d == 0 || !std::isfinite(d)) return camera;
    const double radians = d * (kPi / 180);
    const Quat base = fromAxisAngle(camera.rotationAxis, camera.rotationAngle);
    Quat turned;
    switch (axis) {
        // The object's own axis: turned before the camera's rotation applies.
        case TurnAxis::X:
            turned = base * fromAxisAngle({1, 0, 0}, radians);
            break;
        case TurnAxis::Y:
            turned = base * fromAxisAngle({0, 1, 0}, radians);
            break;
        case TurnAxis::Z:
            turned = base * fromAxisAngle({0, 0, 1}, radians);
            break;
        // The image's axis: turned after it.
        case TurnAxis::View:
            turned = fromAxisAngle(viewUpAxis(camera), radians) * base;
            break;
    }
    SceneCamera c = camera;
    toAxisAngle(normalised(turned), c.rotationAxis, c.rotationAngle);
    return c;
}

SceneCamera mixCameras(const SceneCamera& a, const SceneCamera& b, double s) {
    if (s == 0) return a;
    if (s == 1) return b;
    SceneCamera c;
    c.eye = mix(a.eye, b.eye, s);
    c.target = mix(a.target, b.target, s);
    c.centre = mix(a.centre, b.centre, s);
    const Quat q = slerp(fromAxisAngle(a.rotationAxis, a.rotationAngle),
                         fromAxisAngle(b.rotationAxis, b.rotationAngle), s);
    toAxisAngle(q, c.rotationAxis, c.rotationAngle);
    c.scale = mixGeometric(a.scale, b.scale, s);
    c.panX = mix(a.panX, b.panX, s);
    c.panY = mix(a.panY, b.panY, s);
    return c;
}

Gradientf mixGradients(const Gradientf& a, const Gradientf& b, double s) {
    if (s == 0) return a;
    if (s == 1) return b;
    std::vector<ColorEntry<float>> stops;
    if (a.count() == b.count()) {
        for (std::size_t i = 0; i < a.count(); ++i) {
            const ColorEntry<float>& x = a.stops()[i];
            const ColorEntry<float>& y = b.stops()[i];
            stops.push_back({mix(x.position, y.position, s), mix(x.color, y.color, s)});
        }
    } else {
        // Both ramps sampled where either has a stop: each keeps its shape exactly there.
        std::vector<double> at;
        for (const auto& e : a.stops()) at.push_back(e.position);
        for (const auto& e : b.stops()) at.push_back(e.position);
        at.erase(std::remove_if(at.begin(), at.end(), [](double p) { return !std::isfinite(p); }),
                 at.end());
        std::sort(at.begin(), at.end());
        at.erase(std::unique(at.begin(), at.end()), at.end());
        for (double p : at) stops.push_back({p, mix(a.ColorAt(p), b.ColorAt(p), s)});
    }
    // From the last stop to the first: each goes in front of those at its position, so stops
    // at one position keep their order.
    Gradientf g;
    for (auto it = stops.rbegin(); it != stops.rend(); ++it) g.AddStop(it->position, it->color);
    return g;
}

Animation Animation::turntable(SceneFrame base, std::int32_t frames, double degrees,
                               TurnAxis axis) {
    Animation a;
    a.kind_ = Kind::Turntable;
    a.frames_ = std::max(frames, 1);
    a.degrees_ = degrees;
    a.axis_ = axis;
    a.keys_.push_back(std::move(base));
    return a;
}

std::optional<Animation> Animation::journey(std::vector<SceneFrame> keyframes, std::int32_t frames,
                                            Ease ease, JourneyProblem* problem) {
    JourneyProblem found = JourneyProblem::None;
    if (keyframes.size() < 2) found = JourneyProblem::TooFewKeyframes;
    for (std::size_t i = 0; found == JourneyProblem::None && i < keyframes.size(); ++i) {
        const SceneFrame& k = keyframes[i];
        const SceneFrame& first = keyframes.front();
        if (!k.attractor) {
            found = JourneyProblem::NoAttractor;
            break;
        }
        const ParamList& p = k.attractor->params();
        const ParamList& q = first.attractor->params();
        bool same = k.attractor->kind() == first.attractor->kind() && p.count() == q.count();
        for (std::int32_t j = 0; same && j < p.count(); ++j)
            same = p[j].name == q[j].name && p[j].type == q[j].type;
        if (!same)
            found = JourneyProblem::OtherKind;
        else if (k.render.mode != first.render.mode)
            found = JourneyProblem::OtherMode;
        else if (k.render.width != first.render.width || k.render.height != first.render.height)
            found = JourneyProblem::OtherSize;
        else if (!k.render.camera)
            found = JourneyProblem::NoCamera;
    }
    if (problem) *problem = found;
    if (found != JourneyProblem::None) return std::nullopt;
    Animation a;
    a.kind_ = Kind::Journey;
    a.frames_ = std::max(frames, 1);
    a.ease_ = ease;
    a.keys_ = std::move(keyframes);
    return a;
}

double Animation::timeOf(std::int32_t frame) const {
    if (kind_ == Kind::Turntable) return static_cast<double>(frame) / frames_;
    if (frames_ < 2) return 0;
    return static_cast<double>(frame) / (frames_ - 1);
}

SceneFrame Animation::turned(double degrees) const {
    SceneFrame f = keys_.front();
    // A base without camera stays so for no turn (its view is fitted when it is prepared).
    if (f.render.camera || std::fmod(degrees, 360.0) != 0)
        f.render.camera = turnCamera(f.render.camera.value_or(SceneCamera{}), degrees, axis_);
    return f;
}

SceneFrame Animation::at(double t) const {
    if (kind_ == Kind::Turntable) return turned(degrees_ * t);
    const auto segments = static_cast<std::int32_t>(keys_.size()) - 1;
    const double u = std::clamp(t, 0.0, 1.0) * segments;
    const std::int32_t segment = std::min(static_cast<std::int32_t>(u), segments - 1);
    const double s = eased(u - segment, ease_);
    if (s == 0) return keys_[static_cast<std::size_t>(segment)];
    if (s == 1) return keys_[static_cast<std::size_t>(segment) + 1];
    return mixScenes(keys_[static_cast<std::size_t>(segment)],
                     keys_[static_cast<std::size_t>(segment) + 1], s);
}

SceneFrame Animation::frame(std::int32_t i) const {
    if (kind_ == Kind::Turntable) {
        // degrees * i / N with the product first: the step after the last frame is then a whole
        // number of turns exactly, when the animation makes one.
        return turned(degrees_ * static_cast<double>(i) / frames_);
    }
    // The segment and the place in it as a fraction of whole numbers, so that a frame that
    // falls on a keyframe is that keyframe.
    const std::int64_t segments = static_cast<std::int64_t>(keys_.size()) - 1;
    if (frames_ < 2 || i <= 0) return keys_.front();
    if (i >= frames_ - 1) return keys_.back();
    const std::int64_t numerator = static_cast<std::int64_t>(i) * segments;
    const std::int64_t denominator = frames_ - 1;
    const std::int64_t segment = numerator / denominator;
    const std::int64_t remainder = numerator % denominator;
    const auto k = static_cast<std::size_t>(segment);
    if (remainder == 0) return keys_[k];
    const double s =
        eased(static_cast<double>(remainder) / static_cast<double>(denominator), ease_);
    if (s == 0) return keys_[k];
    if (s == 1) return keys_[k + 1];
    return mixScenes(keys_[k], keys_[k + 1], s);
}

}  // namespace qm
