// quillmere-cli render: the image the program shows after "Nouveau" in a mode and size,
// "Ouvrir..." of a file (fitted view) and a complete render.
#include <unistd.h>


#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/render_job.h"
#include "core/file/atomic_write.h"
#include "core/file/data_location.h"
#include "core/image/bmp.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"
#include "core/strings/duration.h"
#include "core/strings/string_table.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

constexpr double kMinParameter = 0.0001;
constexpr std::int64_t kMaxIterations = 1000000000000000;

struct RenderOptions {
    std::string file;    // "-": standard input
    std::string output;  // "-": standard output, the key: value lines then on standard error
    bool png = false;
    int mode = 0;
    std::int32_t width = 640;
    std::int32_t height = 480;
    std::int64_t iterations = 20000000;
    std::int32_t updates = 10;
    std::uint32_t seed = 0;
    std::int32_t streams = kDefaultStreams;
    std::int32_t threads = 0;  // every core the process may use
    std::uint64_t renderSeed = 0;
    std::optional<double> scale, luminosity, gamma, opacity, roughness;
    std::optional<std::pair<double, double>> rotate, pan;
    std::optional<std::string> speedMap, angleMap;
    bool builtinGradients = false;
    bool quiet = false;
    std::optional<std::string> checkpoint;
    double checkpointSeconds = kDefaultCheckpointSeconds;
};

// The mode named as the interface writes it ("Lumière", also "lumiere"), or its index.
int parseMode(const std::string& text) {
    for (int m = 0; m < kRenderModeCount; ++m) {
        const std::string& name = StringTable::builtinText(TextId::kModeNameFirst + m);
        if (text == name) return m;
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (text == lower) return m;
    }
    if (text == "lumiere" || text == "Lumiere") return static_cast<int>(RenderMode::Light);
    if (const auto index = parseInteger(text, 0, kRenderModeCount - 1)) return static_cast<int>(*index);
    return -1;
}

std::optional<double> parseReal(const std::string& text) {
    double v = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return ~0ull;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::variant<RenderOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem = a.parse(
            args,
            {"output", "format", "mode", "size", "iterations", "updates", "seed", "scale", "rotate",
             "pan", "luminosity", "gamma", "opacity", "roughness", "speed-map", "angle-map",
             "threads", "streams", "render-seed", "checkpoint", "checkpoint-every"},
            {"builtin-gradients", "quiet"}))
        return *problem;
    if (a.positional().size() != 1) return std::string("give exactly one FILE.qmattr");
    RenderOptions o;
    o.file = a.positional().front();

    const auto output = a.value("output");
    if (!output || output->empty()) return std::string("-o OUT.bmp or OUT.png is required");
    o.output = *output;
    if (const auto format = a.value("format")) {
        if (*format != "png" && *format != "bmp") return std::string("--format takes png or bmp");
        o.png = *format == "png";
    } else if (isStandardStream(o.output)) {
        return std::string("-o - writes to standard output and needs --format png or --format bmp");
    } else {
        std::string extension = fs::path(o.output).extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (extension != ".bmp" && extension != ".png")
            return std::string(
                "the output must end in .bmp or .png, or --format must name its format");
        o.png = extension == ".png";
    }

    if (const auto text = a.value("mode")) {
        o.mode = parseMode(*text);
        if (o.mode < 0) return "unknown mode '" + *text + "' (Gaz, Liquide, Lumière, Plasma, Solide or 0 to 4)";
    }
    if (const auto text = a.value("size")) {
        const auto x = text->find('x');
        const auto w = x == std::string::npos ? std::nullopt : parseInteger(text->substr(0, x), 16, 16384);
        const auto h = x == std::string::npos ? std::nullopt : parseInteger(text->substr(x + 1), 16, 16384);
        if (!w || !h) return std::string("--size takes WxH with each side from 16 to 16384");
        o.width = static_cast<std::int32_t>(*w);
        o.height = static_cast<std::int32_t>(*h);
    }
    if (renderTargetBytes(o.mode, o.width, o.height) > physicalMemory() / 2)
        return std::string("--size needs more than half of this machine's memory");
    if (const auto text = a.value("iterations")) {
        const auto v = parseInteger(*text, 0, kMaxIterations);
        if (!v) return std::string("--iterations takes a whole number from 0 to 1000000000000000");
        o.iterations = *v;
    }
    if (const auto text = a.value("updates")) {
        const auto v = parseInteger(*text, 1, 100);
        if (!v) return std::string("--updates takes a whole number from 1 to 100");
        o.updates = static_cast<std::int32_t>(*v);
    }
    o.seed = static_cast<std::uint32_t>(std::time(nullptr));
    if (const auto text = a.value("seed")) {
        const auto v = parseInteger(*text, 0, 0xFFFFFFFFll);
        if (!v) return std::string("--seed takes a whole number from 0 to 4294967295");
        o.seed = static_cast<std::uint32_t>(*v);
    }
    if (const auto text = a.value("streams")) {
        const auto v = parseInteger(*text, 1, kMaxStreams);
        if (!v) return std::string("--streams takes a whole number from 1 to 256");
        o.streams = static_cast<std::int32_t>(*v);
    }
    if (const auto text = a.value("threads")) {
        const auto v = parseInteger(*text, 1, kMaxThreads);
        if (!v) return std::string("--threads takes a whole number from 1 to 256");
        o.threads = static_cast<std::int32_t>(*v);
    }
    if (const auto text = a.value("render-seed")) {
        std::uint64_t v = 0;
        const char* first = text->data();
        const char* last = first + text->size();
        const auto [ptr, ec] = std::from_chars(first, last, v);
        if (text->empty() || ec != std::errc() || ptr != last)
            return std::string("--render-seed takes a whole number from 0 to 18446744073709551615");
        o.renderSeed = v;
    }
    if (const auto text = a.value("rotate")) {
        const auto comma = text->find(',');
        const auto dx = comma == std::string::npos ? std::nullopt : parseReal(text->substr(0, comma));
        const auto dy = comma == std::string::npos ? std::nullopt : parseReal(text->substr(comma + 1));
        if (!dx || !dy) return std::string("--rotate takes DX,DY in pixels");
        o.rotate = std::pair{*dx, *dy};
    }
    if (const auto text = a.value("pan")) {
        const auto comma = text->find(',');
        const auto x =
            comma == std::string::npos ? std::nullopt : parseReal(text->substr(0, comma));
        const auto y =
            comma == std::string::npos ? std::nullopt : parseReal(text->substr(comma + 1));
        if (!x || !y) return std::string("--pan takes X,Y as the view's pan_x and pan_y");
        o.pan = std::pair{*x, *y};
    }

    // Real parameters, each only for the modes that have it.
    const auto mode = static_cast<RenderMode>(o.mode);
    const bool solid = mode == RenderMode::Solid;
    struct Real {
        const char* name;
        bool applies;
        std::optional<double>* target;
    };
    const Real reals[] = {{"scale", true, &o.scale},
                          {"luminosity", !solid, &o.luminosity},
                          {"gamma", true, &o.gamma},
                          {"opacity", solid, &o.opacity},
                          {"roughness", solid, &o.roughness}};
    for (const Real& r : reals) {
        const auto text = a.value(r.name);
        if (!text) continue;
        if (!r.applies) return "--" + std::string(r.name) + " does not apply to this mode";
        const auto v = parseReal(*text);
        if (!v || *v < kMinParameter) return "--" + std::string(r.name) + " takes a number of at least 0.0001";
        *r.target = *v;
    }

    const bool lightFamily = mode == RenderMode::Light || mode == RenderMode::Plasma;
    o.builtinGradients = a.has("builtin-gradients");
    o.speedMap = a.value("speed-map");
    o.angleMap = a.value("angle-map");
    const int fromStandardInput = isStandardStream(o.file) +
                                  (o.speedMap && isStandardStream(*o.speedMap)) +
                                  (o.angleMap && isStandardStream(*o.angleMap));
    if (fromStandardInput > 1)
        return std::string("standard input (-) can be read for one file only");
    if ((o.speedMap || o.angleMap) && !lightFamily)
        return std::string("colour maps apply only to the modes Lumière and Plasma");
    if (o.builtinGradients && (o.speedMap || o.angleMap))
        return std::string("--builtin-gradients and a colour map exclude each other");
    o.quiet = a.has("quiet");
    if (const auto text = a.value("checkpoint")) {
        if (text->empty() || isStandardStream(*text))
            return std::string("--checkpoint takes a file name");
        o.checkpoint = *text;
    }
    if (const auto text = a.value("checkpoint-every")) {
        if (!o.checkpoint) return std::string("--checkpoint-every needs --checkpoint FILE");
        const auto v = parseCheckpointSeconds(*text);
        if (!v) return std::string("--checkpoint-every takes a number of seconds from 0.01 to 1e9");
        o.checkpointSeconds = *v;
    }
    return o;
}

fs::path programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

// Loads a colour map given on the command line ("-": standard input); false, with the reason
// on err, when it cannot be read or gives too many colours.
bool loadMapFile(const std::string& name, Gradientf& gradient, std::ostream& err) {
    std::string text;
    int systemError = 0;
    const ReadStatus read = readInputText(name, kColorMapLimits, text, &systemError);
    if (read != ReadStatus::Ok) {
        err << "quillmere-cli render: cannot read the colour map " << name << ": "
            << describe(read, kColorMapLimits, systemError) << '\n';
        return false;
    }
    if (loadColorMapText(text, gradient).tooMany()) {
        err << "quillmere-cli render: the colour map " << name << " gives more than "
            << kMaxColorMapColors << " colours\n";
        return false;
    }
    return true;
}

}  // namespace

int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli render: " << *problem << '\n';
        return kExitUsage;
    }
    const RenderOptions& o = std::get<RenderOptions>(parsed);

    // The document: seeded, then the file loaded into it.
    seedRandom31(o.seed);
    auto parser = makeAttractorParser();
    int systemError = 0;
    LoadResult loaded = loadAttractorInput(*parser, o.file, &systemError);
    if (!loaded) {
        err << "quillmere-cli render: " << o.file << ": " << describe(loaded.status, systemError)
            << '\n';
        return kExitUsage;
    }
    Attractor& attractor = *loaded.attractor;

    // The render target, as "Nouveau" makes it.
    auto target = CreateRenderTarget(o.mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
        if (o.builtinGradients) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        } else {
            loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()),
                                 light->speedGradient, light->angleGradient);
            if (o.speedMap && !loadMapFile(*o.speedMap, light->speedGradient, err))
                return kExitUsage;
            if (o.angleMap && !loadMapFile(*o.angleMap, light->angleGradient, err))
                return kExitUsage;
        }
    }
    target->SetWidth(o.width);
    target->SetHeight(o.height);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    target->mirror = attractor.kind() == AttractorKind::Julia;

    // "Ouvrir...": the preview sampling with the view fitted.
    if (!sampleAttractor(attractor, *target, kPreviewIterations, SamplingMode::Fit)) {
        err << "quillmere-cli render: the attractor diverges while it is sampled; nothing to render\n";
        return kExitNotReached;
    }

    // Camera and mode settings.
    if (o.scale) target->scale = *o.scale;
    if (o.rotate) target->Rotate(o.rotate->first, o.rotate->second);
    if (o.pan) {
        target->panX = o.pan->first;
        target->panY = o.pan->second;
    }
    if (auto* gas = dynamic_cast<TBitmap3D_Gas*>(target.get())) {
        if (o.luminosity) gas->luminosity = *o.luminosity;
        if (o.gamma) gas->gamma = *o.gamma;
    } else if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
        if (o.luminosity) light->luminosity = *o.luminosity;
        if (o.gamma) light->gamma = *o.gamma;
    } else if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(target.get())) {
        if (o.opacity) solid->opacity = *o.opacity;
        if (o.gamma) solid->gamma = *o.gamma;
        if (o.roughness) solid->roughness = *o.roughness;
    }
    target->SetView();

    // The render, as "&Démarrer" runs it.
    target->ClearImage();
    attractor.restart();
    RenderEngine engine(attractor, *target,
                        {o.iterations, o.updates, o.streams, o.threads, o.renderSeed, {}});

    RenderJob job;
    job.attractor = &attractor;
    job.target = target.get();
    job.engine = &engine;
    job.output = o.output;
    job.png = o.png;
    job.quiet = o.quiet;
    job.renderSeed = o.renderSeed;
    job.seed = std::to_string(o.seed);
    if (o.checkpoint) {
        job.checkpoint = fs::path(*o.checkpoint);
        job.checkpointSeconds = o.checkpointSeconds;
        // The scene the state goes on with: the file's attractor as it was read.
        std::ostringstream scene;
        if (const FileResult r = writeAttractor(*parser, attractor, scene); !r) {
            err << "quillmere-cli render: " << o.file << ": " << describe(r.status) << '\n';
            return kExitUsage;
        }
        job.base.scene = scene.str();
        setRenderSettings(job.base,
                          {o.iterations, o.updates, engine.streams(), 0, o.renderSeed, {}});
        job.base.set("checkpoint_every", o.checkpointSeconds);
        job.base.set("seed", std::to_string(o.seed));
    }
    return runToEnd(job, out, err);
}

}  // namespace qm::cli
