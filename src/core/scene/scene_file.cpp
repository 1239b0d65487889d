#include "core/scene/scene_file.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>
#include <vector>

#include "core/render/render_engine.h"
#include "core/strings/string_table.h"
#include "quillmere_version.h"

namespace qm {

namespace {

constexpr const char* kModeKeywords[kRenderModeCount] = {"gas", "liquid", "light", "plasma",
                                                         "solid"};
constexpr double kMinSetting = 0.0001;  // the palette's least gamma, opacity and roughness
constexpr std::int32_t kMinSide = 16;
constexpr std::int32_t kMaxSide = 16384;
constexpr std::int64_t kMaxIterations = 1000000000000000;  // as the render engine takes them

// The render block's tokens, in the order they are written.
struct RenderTokens {
    TokenBlock* block = nullptr;
    TokenInteger* version = nullptr;
    TokenEnum* mode = nullptr;
    TokenInteger *width = nullptr, *height = nullptr, *iterations = nullptr, *updates = nullptr;
    TokenInteger *streams = nullptr, *renderSeed = nullptr;
    TokenInteger *previewRandom = nullptr, *chaosSeed = nullptr;
    TokenEnum* mirror = nullptr;
    TokenDoubleArray *eye = nullptr, *target = nullptr, *centre = nullptr, *axis = nullptr;
    TokenDouble *angle = nullptr, *scale = nullptr;
    TokenDoubleArray* pan = nullptr;
    TokenDouble *luminosity = nullptr, *gamma = nullptr, *opacity = nullptr, *roughness = nullptr;
    TokenDoubleArray *speedRange = nullptr, *angleRange = nullptr;
    TokenFloatArray* plotColor = nullptr;
    TokenDoubleArray *speedGradient = nullptr, *angleGradient = nullptr;
    TokenDouble* exposure = nullptr;
};

TokenDoubleArray* exactArray(TokenBlock& b, const char* name, std::int32_t perLine = 0) {
    TokenDoubleArray& a = b.addDoubleArray(name, true);
    a.setExact(true);
    a.setValuesPerLine(perLine);
    return &a;
}

TokenDouble* exactDouble(TokenBlock& b, const char* name) {
    TokenDouble& d = b.addDouble(name, true);
    d.setExact(true);
    return &d;
}

// The attractor file's template with exact parameters, and the render block.
struct SceneParser {
    std::unique_ptr<Parser> parser = makeAttractorParser();
    RenderTokens r;

    SceneParser() {
        auto* attractor = parser->findAs<TokenBlock>(text(TextId::kFileAttractor));
        attractor->findAs<TokenDoubleArray>(text(TextId::kFileParameters))->setExact(true);
        TokenBlock& b = parser->addBlock("render", true);
        r.block = &b;
        r.version = &b.addInteger("version", true);
        r.mode = &b.addEnum("mode", true);
        for (const char* m : kModeKeywords) r.mode->addValue(m);
        r.width = &b.addInteger("width", true);
        r.height = &b.addInteger("height", true);
        r.iterations = &b.addInteger("iterations", true);
        r.updates = &b.addInteger("updates", true);
        r.streams = &b.addInteger("streams", true);
        r.renderSeed = &b.addInteger("render_seed", true);
        r.previewRandom = &b.addInteger("preview_random", true);
        r.chaosSeed = &b.addInteger("chaos_seed", true);
        r.mirror = &b.addEnum("mirror", true);
        r.mirror->addValue("off");
        r.mirror->addValue("on");
        r.eye = exactArray(b, "eye");
        r.target = exactArray(b, "target");
        r.centre = exactArray(b, "centre");
        r.axis = exactArray(b, "rotation_axis");
        r.angle = exactDouble(b, "rotation_angle");
        r.scale = exactDouble(b, "scale");
        r.pan = exactArray(b, "pan");
        r.luminosity = exactDouble(b, "luminosity");
        r.gamma = exactDouble(b, "gamma");
        r.opacity = exactDouble(b, "opacity");
        r.roughness = exactDouble(b, "roughness");
        r.speedRange = exactArray(b, "speed_range");
        r.angleRange = exactArray(b, "angle_range");
        r.plotColor = &b.addFloatArray("plot_color", true);
        r.plotColor->setExact(true);
        r.speedGradient = exactArray(b, "speed_gradient", 4);
        r.angleGradient = exactArray(b, "angle_gradient", 4);
        r.exposure = exactDouble(b, "exposure");
    }
};

bool finite(double v) {
    return std::isfinite(v);
}

void appendVec(TokenDoubleArray& a, const Vecd& v) {
    a.append(v.x);
    a.append(v.y);
    a.append(v.z);
}

// Stops as (position, red, green, blue) quadruples.
void appendGradient(TokenDoubleArray& a, const Gradientf& g) {
    for (const ColorEntry<float>& e : g.stops()) {
        a.append(e.position);
        a.append(e.color.r);
        a.append(e.color.g);
        a.append(e.color.b);
    }
}

bool allFinite(const TokenDoubleArray& a) {
    for (double v : a.values())
        if (!finite(v)) return false;
    return true;
}

// Reading: the first wrong value found, with the line of its keyword.
class Checker {
public:
    explicit Checker(std::string_view text) : text_(text) {}

    bool failed() const { return line_ > 0; }
    std::int32_t line() const { return line_; }
    void fail(const Token& token) {
        if (!failed()) line_ = std::max(lineAt(text_, token.offset()), 1);
    }

    std::optional<std::int64_t> integer(const TokenInteger& t, std::int64_t lo, std::int64_t hi) {
        if (!t.present()) return std::nullopt;
        if (t.value() < static_cast<std::uint64_t>(lo) ||
            t.value() > static_cast<std::uint64_t>(hi)) {
            fail(t);
            return std::nullopt;
        }
        return static_cast<std::int64_t>(t.value());
    }
    // A finite number of at least lo (greater than 0 when lo is 0 and positive is set).
    std::optional<double> real(const TokenDouble& t,
                               double lo = -std::numeric_limits<double>::max(),
                               bool positive = false) {
        if (!t.present()) return std::nullopt;
        const double v = t.value();
        if (!finite(v) || v < lo || (positive && !(v > 0))) {
            fail(t);
            return std::nullopt;
        }
        return v;
    }
    // Exactly n finite values.
    const std::vector<double>* values(const TokenDoubleArray& t, std::size_t n) {
        if (!t.present()) return nullptr;
        if (t.size() != n || !allFinite(t)) {
            fail(t);
            return nullptr;
        }
        return &t.values();
    }
    std::optional<Vecd> vec(const TokenDoubleArray& t) {
        const auto* v = values(t, 3);
        if (!v) return std::nullopt;
        return Vecd{(*v)[0], (*v)[1], (*v)[2]};
    }
    // Quadruples of finite values, positions in non-decreasing order.
    std::optional<Gradientf> gradient(const TokenDoubleArray& t) {
        if (!t.present()) return std::nullopt;
        const std::vector<double>& v = t.values();
        bool ok = !v.empty() && v.size() % 4 == 0 && allFinite(t);
        for (std::size_t i = 4; ok && i < v.size(); i += 4) ok = v[i - 4] <= v[i];
        if (!ok) {
            fail(t);
            return std::nullopt;
        }
        // Built from the last stop to the first: each new stop then goes in front of the
        // others, so stops at equal positions keep their order.
        Gradientf g;
        for (std::size_t i = v.size(); i >= 4; i -= 4)
            g.AddStop(v[i - 4], {static_cast<float>(v[i - 3]), static_cast<float>(v[i - 2]),
                                 static_cast<float>(v[i - 1])});
        return g;
    }

private:
    std::string_view text_;
    std::int32_t line_ = 0;
};

void readRender(const RenderTokens& r, Checker& c, RenderScene& s) {
    if (r.mode->present()) s.mode = r.mode->index();
    if (auto v = c.integer(*r.width, kMinSide, kMaxSide)) s.width = static_cast<std::int32_t>(*v);
    if (auto v = c.integer(*r.height, kMinSide, kMaxSide)) s.height = static_cast<std::int32_t>(*v);
    if (auto v = c.integer(*r.iterations, 0, kMaxIterations)) s.iterations = *v;
    if (auto v = c.integer(*r.updates, 1, 100)) s.updates = static_cast<std::int32_t>(*v);
    if (auto v = c.integer(*r.streams, 1, kMaxStreams)) s.streams = static_cast<std::int32_t>(*v);
    if (r.renderSeed->present()) s.renderSeed = r.renderSeed->value();
    if (r.previewRandom->present()) s.previewRandom = r.previewRandom->value();
    if (auto v = c.integer(*r.chaosSeed, 0, std::numeric_limits<std::int32_t>::max()))
        s.chaosSeed = static_cast<std::int32_t>(*v);
    if (r.mirror->present()) s.mirror = r.mirror->index() == 1;

    // The camera: any of its keywords makes the scene framed; the others keep their defaults.
    SceneCamera cam;
    bool framed = false;
    const auto take = [&framed](auto value, auto& into) {
        if (!value) return;
        into = *value;
        framed = true;
    };
    take(c.vec(*r.eye), cam.eye);
    take(c.vec(*r.target), cam.target);
    take(c.vec(*r.centre), cam.centre);
    take(c.vec(*r.axis), cam.rotationAxis);
    take(c.real(*r.angle), cam.rotationAngle);
    take(c.real(*r.scale, 0, true), cam.scale);
    if (const auto* pan = c.values(*r.pan, 2)) {
        cam.panX = (*pan)[0];
        cam.panY = (*pan)[1];
        framed = true;
    }
    if (framed) s.camera = cam;
    s.exposure = c.real(*r.exposure, 0, true);

    // The settings of the mode; one the mode does not have is ignored.
    const auto mode = static_cast<RenderMode>(s.mode);
    const bool solid = mode == RenderMode::Solid;
    const bool lightFamily = mode == RenderMode::Light || mode == RenderMode::Plasma;
    const auto luminosity = c.real(*r.luminosity, 0);
    const auto gamma = c.real(*r.gamma, kMinSetting);
    const auto opacity = c.real(*r.opacity, kMinSetting);
    const auto roughness = c.real(*r.roughness, kMinSetting);
    s.gamma = gamma;
    if (solid) {
        s.opacity = opacity;
        s.roughness = roughness;
    } else {
        s.luminosity = luminosity;
    }
    const auto* speed = c.values(*r.speedRange, 2);
    const auto* turn = c.values(*r.angleRange, 2);
    auto speedGradient = c.gradient(*r.speedGradient);
    auto angleGradient = c.gradient(*r.angleGradient);
    std::optional<ColorRGBf> plot;
    if (r.plotColor->present()) {
        const auto& v = r.plotColor->values();
        if (v.size() != 3 || !std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
            c.fail(*r.plotColor);
        else
            plot = ColorRGBf{v[0], v[1], v[2]};
    }
    if (lightFamily) {
        if (speed && turn)
            s.lightRanges = LightRanges{(*speed)[0], (*speed)[1], (*turn)[0], (*turn)[1]};
        else if (speed)
            c.fail(*r.speedRange);  // one range without the other cannot be used
        else if (turn)
            c.fail(*r.angleRange);
        s.plotColor = plot;
        s.speedGradient = std::move(speedGradient);
        s.angleGradient = std::move(angleGradient);
    }
}

SceneLoad fromText(std::string_view text) {
    SceneLoad result;
    SceneParser sp;
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    if (!sp.parser->load(in)) {
        result.line = std::max(lineAt(text, sp.parser->errorOffset()), 1);
        return result;
    }
    const RenderTokens& r = sp.r;
    if (r.version->present() && r.version->value() > static_cast<std::uint64_t>(kSceneVersion)) {
        result.status = FileStatus::NewerVersion;
        result.line = std::max(lineAt(text, r.version->offset()), 1);
        return result;
    }
    Checker checker(text);
    if (r.version->present() && r.version->value() == 0) checker.fail(*r.version);
    RenderScene render;
    readRender(r, checker, render);
    if (checker.failed()) {
        result.line = checker.line();
        return result;
    }
    LoadResult built = buildAttractor(*sp.parser);
    if (!built) return result;
    result.attractor = std::move(built.attractor);
    result.render = std::move(render);
    result.status = FileStatus::Ok;
    return result;
}

}  // namespace

std::string softwareName() {
    return std::string("Quillmere ") + QM_VERSION;
}

std::string sceneText(const Attractor& attractor, const RenderScene& s) {
    SceneParser sp;
    if (fillAttractor(*sp.parser, attractor) != FileStatus::Ok) return {};
    const RenderTokens& r = sp.r;
    r.version->setValue(kSceneVersion);
    r.mode->setIndex(s.mode);
    r.width->setValue(static_cast<std::uint64_t>(s.width));
    r.height->setValue(static_cast<std::uint64_t>(s.height));
    r.iterations->setValue(static_cast<std::uint64_t>(std::max<std::int64_t>(s.iterations, 0)));
    r.updates->setValue(static_cast<std::uint64_t>(std::max(s.updates, 1)));
    if (s.streams) r.streams->setValue(static_cast<std::uint64_t>(std::max(*s.streams, 1)));
    if (s.renderSeed) r.renderSeed->setValue(*s.renderSeed);
    if (s.previewRandom) r.previewRandom->setValue(*s.previewRandom);
    if (s.chaosSeed) r.chaosSeed->setValue(static_cast<std::uint64_t>(std::max(*s.chaosSeed, 0)));
    if (s.mirror) r.mirror->setIndex(*s.mirror ? 1 : 0);
    if (s.camera) {
        const SceneCamera& c = *s.camera;
        appendVec(*r.eye, c.eye);
        appendVec(*r.target, c.target);
        appendVec(*r.centre, c.centre);
        appendVec(*r.axis, c.rotationAxis);
        r.angle->setValue(c.rotationAngle);
        r.scale->setValue(c.scale);
        r.pan->append(c.panX);
        r.pan->append(c.panY);
    }
    if (s.luminosity) r.luminosity->setValue(*s.luminosity);
    if (s.gamma) r.gamma->setValue(*s.gamma);
    if (s.opacity) r.opacity->setValue(*s.opacity);
    if (s.roughness) r.roughness->setValue(*s.roughness);
    if (s.lightRanges) {
        r.speedRange->append(s.lightRanges->speedMin);
        r.speedRange->append(s.lightRanges->speedMax);
        r.angleRange->append(s.lightRanges->cosMin);
        r.angleRange->append(s.lightRanges->cosMax);
    }
    if (s.plotColor) {
        r.plotColor->append(s.plotColor->r);
        r.plotColor->append(s.plotColor->g);
        r.plotColor->append(s.plotColor->b);
    }
    if (s.speedGradient) appendGradient(*r.speedGradient, *s.speedGradient);
    if (s.angleGradient) appendGradient(*r.angleGradient, *s.angleGradient);
    if (s.exposure) r.exposure->setValue(*s.exposure);
    r.block->setPresent();

    // A value that is not finite could not be read back: no scene rather than a wrong one.
    for (TokenDouble* d :
         {r.angle, r.scale, r.luminosity, r.gamma, r.opacity, r.roughness, r.exposure})
        if (d->present() && !finite(d->value())) return {};
    for (TokenDoubleArray* a : {r.eye, r.target, r.centre, r.axis, r.pan, r.speedRange,
                                r.angleRange, r.speedGradient, r.angleGradient})
        if (!allFinite(*a)) return {};
    for (float v : r.plotColor->values())
        if (!std::isfinite(v)) return {};
    return sp.parser->text();
}

std::string sceneDescription(const Attractor& attractor, const RenderScene& s) {
    const int kind = attractor.kindCode();
    std::string d = "Quillmere: ";
    d += StringTable::builtinText(TextId::kKindKeywordFirst + kind);
    d += ", ";
    d += StringTable::builtinText(TextId::kModeNameFirst +
                                  std::clamp(s.mode, 0, kRenderModeCount - 1));
    d += ", " + std::to_string(s.width) + "x" + std::to_string(s.height);
    d += ", " + std::to_string(s.iterations) + " iterations";
    return d;
}

SceneLoad readScene(std::string_view text) {
    if (text.size() > Parser::kMaxFileBytes) {
        SceneLoad result;
        result.status = FileStatus::TooLarge;
        return result;
    }
    if (text.find('\0') != std::string_view::npos) return {};
    return fromText(text);
}

SceneLoad loadScene(const std::filesystem::path& path) {
    std::string bytes;
    const ReadStatus status = readTextFile(path, Parser::kMaxFileBytes, bytes);
    if (status == ReadStatus::Ok) return fromText(bytes);
    SceneLoad result;
    result.status = fileStatusOf(status);
    return result;
}

FileResult saveScene(const std::filesystem::path& path, const Attractor& attractor,
                     const RenderScene& render) {
    const std::string text = sceneText(attractor, render);
    if (text.empty()) return {FileStatus::InvalidValue};
    const WriteResult written = writeFileAtomically(path, text);
    if (written.status == WriteStatus::NotRegular) return {FileStatus::NotRegular};
    if (!written) return {FileStatus::WriteFailed, written.systemError};
    return {};
}

}  // namespace qm
