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
#include "cli/render_setup.h"
#include "core/file/atomic_write.h"
#include "core/file/data_location.h"
#include "core/image/bmp.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/memory_budget.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "core/scene/scene.h"
#include "core/scene/scene_file.h"
#include "core/strings/duration.h"
#include "core/strings/string_table.h"
#include "png/png_image.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

constexpr double kMinParameter = 0.0001;
constexpr std::int64_t kMaxIterations = 1000000000000000;

}  // namespace

std::optional<std::string> readRenderOptions(const Arguments& a, RenderOptions& o) {
    if (const auto text = a.value("depth")) {
        if (*text != "8" && *text != "16") return std::string("--depth takes 8 or 16");
        o.depth = *text == "16" ? 16 : 8;
        if (o.depth == 16 && !o.png) return std::string("--depth 16 needs a PNG output");
    }

    if (const auto text = a.value("mode")) {
        o.mode = parseMode(*text);
        if (o.mode < 0)
            return "unknown mode '" + *text + "' (Gaz, Liquide, Lumière, Plasma, Solide or 0 to 4)";
    }
    if (const auto text = a.value("size")) {
        const auto x = text->find('x');
        const auto w =
            x == std::string::npos ? std::nullopt : parseInteger(text->substr(0, x), 16, 16384);
        const auto h =
            x == std::string::npos ? std::nullopt : parseInteger(text->substr(x + 1), 16, 16384);
        if (!w || !h) return std::string("--size takes WxH with each side from 16 to 16384");
        o.width = static_cast<std::int32_t>(*w);
        o.height = static_cast<std::int32_t>(*h);
    }
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
    if (o.shards > o.streams)
        return "--shard I/K takes K up to the stream count (" + std::to_string(o.streams) + ")";
    if (const auto text = a.value("threads")) {
        const auto v = parseInteger(*text, 1, kMaxThreads);
        if (!v) return std::string("--threads takes a whole number from 1 to 256");
        o.threads = static_cast<std::int32_t>(*v);
    }
    // Every stream's first 1000 iterations are a transient that is not plotted.
    if (o.iterations <= std::int64_t{kRenderTransient} * o.streams)
        return "--iterations must exceed " +
               std::to_string(std::int64_t{kRenderTransient} * o.streams) +
               ": the first 1000 iterations of each of the " + std::to_string(o.streams) +
               " streams are a transient that is not plotted";
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
        const auto dx =
            comma == std::string::npos ? std::nullopt : parseReal(text->substr(0, comma));
        const auto dy =
            comma == std::string::npos ? std::nullopt : parseReal(text->substr(comma + 1));
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
        if (!v || *v < kMinParameter)
            return "--" + std::string(r.name) + " takes a number of at least 0.0001";
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
    return std::nullopt;
}

namespace {

std::variant<RenderOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem =
            a.parse(args, {"output",           "format",  "mode",    "size",        "iterations",
                           "updates",          "seed",    "scale",   "rotate",      "pan",
                           "luminosity",       "gamma",   "opacity", "roughness",   "speed-map",
                           "angle-map",        "threads", "streams", "render-seed", "checkpoint",
                           "checkpoint-every", "depth",   "shard",   "state"},
                    {"builtin-gradients", "quiet", "resources"}))
        return *problem;
    if (a.positional().size() != 1)
        return std::string("give exactly one FILE.qmattr, FILE.qmscene or IMAGE.png");
    RenderOptions o;
    o.file = a.positional().front();
    o.scene = !isStandardStream(o.file) &&
              (fs::path(o.file).extension() == kSceneExtension || isPngFile(o.file));
    if (o.scene) {
        // A scene holds its own mode, size, framing, settings, streams and their seed. Its
        // render keeps no checkpoints: a render state holds the attractor file, not the scene.
        for (const char* name :
             {"mode", "size", "seed", "scale", "rotate", "pan", "luminosity", "gamma", "opacity",
              "roughness", "speed-map", "angle-map", "builtin-gradients", "streams", "render-seed",
              "checkpoint", "checkpoint-every"})
            if (a.has(name))
                return "--" + std::string(name) +
                       " does not apply to a scene, which holds its own settings";
    }

    if (const auto text = a.value("state")) {
        if (text->empty() || isStandardStream(*text))
            return std::string("--state takes a file name");
        if (a.value("output") || a.value("format"))
            return std::string(
                "--state writes the render's state in place of the image: give "
                "-o to merge");
        o.state = *text;
    }
    if (const auto text = a.value("shard")) {
        const auto slash = text->find('/');
        const auto k = slash == std::string::npos
                           ? std::nullopt
                           : parseInteger(text->substr(slash + 1), 1, kMaxStreams);
        const auto i = slash == std::string::npos || !k
                           ? std::nullopt
                           : parseInteger(text->substr(0, slash), 0, *k - 1);
        if (!k || !i)
            return std::string("--shard takes I/K, 0 <= I < K, K from 1 to the stream count");
        if (!o.state && !a.has("resources"))
            return std::string("--shard needs --state OUT.qmrender for its part");
        if (!a.value("seed") && !o.scene && !a.has("resources"))
            return std::string("--shard needs --seed N, the same for every shard of the render");
        o.shard = static_cast<std::int32_t>(*i);
        o.shards = static_cast<std::int32_t>(*k);
    }
    o.resources = a.has("resources");
    if (!o.state && !o.resources)
        if (auto problem = parseImageOutput(a, o.output, o.png)) return *problem;
    if (auto problem = readRenderOptions(a, o)) return *problem;
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

}  // namespace

bool loadMapFile(const std::string& command, const std::string& name, Gradientf& gradient,
                 std::ostream& err) {
    std::string text;
    int systemError = 0;
    const ReadStatus read = readInputText(name, kColorMapLimits, text, &systemError);
    if (read != ReadStatus::Ok) {
        err << "quillmere-cli " << command << ": cannot read the colour map " << name << ": "
            << describe(read, kColorMapLimits, systemError) << '\n';
        return false;
    }
    Gradientf loaded = gradient;
    const ColorMapResult result = loadColorMapText(text, loaded);
    if (result.tooMany()) {
        err << "quillmere-cli " << command << ": the colour map " << name << " gives more than "
            << kMaxColorMapColors << " colours\n";
        return false;
    }
    if (result.colors == 0)
        err << "quillmere-cli " << command << ": the colour map " << name
            << " holds no colour; the default gradient is kept\n";
    else
        gradient = std::move(loaded);
    return true;
}

namespace {

std::string mebibytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

}  // namespace

std::string memoryMessage(const RenderOptions& o, std::uint64_t need, const MemoryBudget& budget) {
    std::string text = "a " + std::to_string(o.width) + "x" + std::to_string(o.height) +
                       " image in mode " +
                       StringTable::builtinText(TextId::kModeNameFirst + o.mode) + " needs " +
                       mebibytes(need) + " (its buffers and the encoder's copy of the image); ";
    switch (budget.limit) {
        case MemoryLimit::HalfPhysical:
            text += "a render may take half of this machine's memory, " + mebibytes(budget.bytes);
            break;
        case MemoryLimit::AddressSpace:
            text +=
                "the process's address-space limit (ulimit -v) leaves " + mebibytes(budget.bytes);
            break;
        case MemoryLimit::DataSegment:
            text += "the process's data limit (ulimit -d) leaves " + mebibytes(budget.bytes);
            break;
        case MemoryLimit::ControlGroup:
            text += "the control group's memory limit leaves " + mebibytes(budget.bytes);
            break;
    }
    return text;
}

std::optional<Start> startFromAttractorFile(const RenderOptions& o, std::ostream& err,
                                            int& exitCode) {
    // The document: seeded, then the file loaded into it.
    seedRandom31(o.seed);
    auto parser = makeAttractorParser();
    int systemError = 0;
    LoadResult loaded = loadAttractorInput(*parser, o.file, &systemError);
    if (!loaded) {
        err << "quillmere-cli " << o.command << ": " << o.file << ": "
            << describe(loaded, systemError) << '\n';
        exitCode = kExitUsage;
        return std::nullopt;
    }
    Start s;
    s.attractor = std::move(loaded.attractor);
    s.iterations = o.iterations;
    s.updates = o.updates;
    s.streams = o.streams;
    s.renderSeed = o.renderSeed;
    Attractor& attractor = *s.attractor;

    // The render target, as "Nouveau" makes it.
    s.target = CreateRenderTarget(o.mode);
    TBitmap3D* target = s.target.get();
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target)) {
        if (o.builtinGradients) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        } else {
            loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()),
                                 light->speedGradient, light->angleGradient);
            if ((o.speedMap && !loadMapFile(o.command, *o.speedMap, light->speedGradient, err)) ||
                (o.angleMap && !loadMapFile(o.command, *o.angleMap, light->angleGradient, err))) {
                exitCode = kExitUsage;
                return std::nullopt;
            }
        }
    }
    target->SetWidth(o.width);
    target->SetHeight(o.height);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    target->mirror = attractor.kind() == AttractorKind::Julia;

    // "Ouvrir...": the preview sampling with the view fitted.
    s.previewRandom = threadRandom31().state;
    if (!sampleAttractor(attractor, *target, kPreviewIterations, SamplingMode::Fit)) {
        err << "quillmere-cli " << o.command
            << ": the attractor diverges while it is sampled; nothing to "
               "render\n";
        exitCode = kExitNotReached;
        return std::nullopt;
    }

    // Camera and mode settings.
    if (o.scale) target->scale = *o.scale;
    if (o.rotate) target->Rotate(o.rotate->first, o.rotate->second);
    if (o.pan) {
        target->panX = o.pan->first;
        target->panY = o.pan->second;
    }
    if (auto* gas = dynamic_cast<TBitmap3D_Gas*>(target)) {
        if (o.luminosity) gas->luminosity = *o.luminosity;
        if (o.gamma) gas->gamma = *o.gamma;
    } else if (auto* light = dynamic_cast<TBitmap3D_Light*>(target)) {
        if (o.luminosity) light->luminosity = *o.luminosity;
        if (o.gamma) light->gamma = *o.gamma;
    } else if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(target)) {
        if (o.opacity) solid->opacity = *o.opacity;
        if (o.gamma) solid->gamma = *o.gamma;
        if (o.roughness) solid->roughness = *o.roughness;
    }
    target->SetView();
    return s;
}

std::optional<Start> startFromScene(const RenderOptions& o, const Arguments& given,
                                    std::ostream& err, int& exitCode) {
    exitCode = kExitUsage;
    SceneLoad loaded = loadSceneOrImage(o.file);
    if (!loaded) {
        err << "quillmere-cli " << o.command << ": " << o.file;
        if (loaded.line > 0) err << ", line " << loaded.line;
        err << ": " << describe(loaded.status) << '\n';
        return std::nullopt;
    }
    RenderScene& scene = loaded.render;
    if (given.has("iterations")) {
        // A fixed exposure (an animation's frame) follows the density, which grows with the
        // points plotted: the image keeps its brightness with more or fewer iterations.
        const std::int64_t transient =
            std::int64_t{kRenderTransient} * scene.streams.value_or(kDefaultStreams);
        if (scene.exposure && scene.iterations > transient && o.iterations > transient)
            scene.exposure = *scene.exposure * static_cast<double>(o.iterations - transient) /
                             static_cast<double>(scene.iterations - transient);
        scene.iterations = o.iterations;
    }
    if (given.has("updates")) scene.updates = o.updates;
    const std::uint64_t need = imageMemoryNeed(scene.mode, scene.width, scene.height,
                                               scene.streams.value_or(kDefaultStreams), o.threads);
    if (const MemoryBudget budget = memoryBudget(); need > budget.bytes) {
        RenderOptions sized = o;
        sized.mode = scene.mode;
        sized.width = scene.width;
        sized.height = scene.height;
        err << "quillmere-cli " << o.command
            << ": not enough memory: " << memoryMessage(sized, need, budget) << '\n';
        exitCode = kExitNoMemory;
        return std::nullopt;
    }
    Gradientf speed, angle;
    loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()), speed, angle);
    PreparedScene prepared = prepareScene(*loaded.attractor, scene, speed, angle);
    if (!prepared.target) return std::nullopt;
    if (!prepared.bounded) {
        err << "quillmere-cli " << o.command
            << ": the attractor diverges while it is sampled; nothing to "
               "render\n";
        exitCode = kExitNotReached;
        return std::nullopt;
    }
    Start s;
    s.attractor = std::move(loaded.attractor);
    s.target = std::move(prepared.target);
    s.previewRandom = prepared.previewRandom;
    s.iterations = scene.iterations;
    s.updates = scene.updates;
    s.streams = scene.streams.value_or(kDefaultStreams);
    s.renderSeed = scene.renderSeed.value_or(0);
    return s;
}

std::optional<Start> startRender(const RenderOptions& o, const Arguments& given, std::ostream& err,
                                 int& exitCode) {
    // An attractor file's render has its size and mode from the options: its memory is checked
    // before anything is allocated (a scene's, once the scene is read).
    if (!o.scene) {
        const std::uint64_t need = imageMemoryNeed(o.mode, o.width, o.height, o.streams, o.threads);
        if (const MemoryBudget budget = memoryBudget(); need > budget.bytes) {
            err << "quillmere-cli " << o.command
                << ": not enough memory: " << memoryMessage(o, need, budget) << '\n';
            exitCode = kExitNoMemory;
            return std::nullopt;
        }
    }
    return o.scene ? startFromScene(o, given, err, exitCode)
                   : startFromAttractorFile(o, err, exitCode);
}

namespace {

// The shard's checkpoint, read and checked against the render the command describes: the
// same scene, target and settings. Fills `resumed` and returns none when the part goes on.
std::optional<std::string> continueShard(RenderJob& job, const TBitmap3D& fresh,
                                         std::int32_t threads, ResumedRender& resumed) {
    RenderState saved;
    const StateReadResult read = readRenderState(*job.checkpoint, saved);
    if (!read) return describeState(read);
    RenderState expected = job.base;
    expected.borrowBuffers = true;
    fresh.captureState(expected);
    if (saved.scene != expected.scene) return std::string("a checkpoint of another scene");
    // A checkpoint written before checkpoints kept the exposure goes on as it began, against
    // the buffers' own peak.
    const bool exposureKept = saved.setting("exposure") != nullptr;
    auto sorted = [exposureKept](const RenderState& s) {
        std::vector<std::pair<std::string, std::string>> v;
        for (const auto& kv : s.settings)
            if (kv.first != "checkpoint_every" && (exposureKept || kv.first != "exposure"))
                v.push_back(kv);
        std::sort(v.begin(), v.end());
        return v;
    };
    if (sorted(saved) != sorted(expected) || saved.values != expected.values)
        return std::string(
            "a checkpoint of another render (other settings or shard); remove it to start over");
    if (prepareResume(saved, threads, resumed) != ResumeStatus::Ok)
        return std::string(
            "the checkpoint cannot be continued (its buffers or streams are broken)");
    job.developmentsBefore = saved.developmentsDone;
    return std::nullopt;
}

}  // namespace

int runRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli render: " << *problem << '\n';
        return kExitUsage;
    }
    const RenderOptions& o = std::get<RenderOptions>(parsed);
    if (o.resources) {
        // A shard holds the target and its lists (a round's points, about 64 MiB with the
        // process); its state is written from the target's own buffers. The merge holds one
        // part's buffers at a time beside the merged ones and the target.
        const std::uint64_t target = renderTargetBytes(o.mode, o.width, o.height);
        const std::uint64_t image = 3ull * static_cast<std::uint64_t>(o.width & 0xFFFC) *
                                    static_cast<std::uint64_t>(o.height);
        const std::uint64_t buffers = target - image;
        constexpr std::uint64_t kOverhead = 64ull << 20;
        out << "shards: " << o.shards << '\n';
        out << "part_bytes: " << buffers << '\n';
        out << "shard_memory_bytes: " << target + kOverhead << '\n';
        out << "shard_memory_mib: " << ((target + kOverhead) >> 20) + 1 << '\n';
        const std::uint64_t merge = 2 * buffers + target + kOverhead;
        out << "merge_memory_bytes: " << merge << '\n';
        out << "merge_memory_mib: " << (merge >> 20) + 1 << '\n';
        out << "shard_cores: every core the shard is given (its affinity mask, or --threads)\n";
        return kExitOk;
    }

    Arguments given;
    given.parse(args, {"output",           "format",  "mode",    "size",        "iterations",
                       "updates",          "seed",    "scale",   "rotate",      "pan",
                       "luminosity",       "gamma",   "opacity", "roughness",   "speed-map",
                       "angle-map",        "threads", "streams", "render-seed", "checkpoint",
                       "checkpoint-every", "depth",   "shard",   "state"},
                {"builtin-gradients", "quiet", "resources"});

    int exitCode = kExitOk;
    std::optional<Start> begun;
    try {
        begun = startRender(o, given, err, exitCode);
    } catch (const std::bad_alloc&) {
        err << "quillmere-cli render: not enough memory for a " << o.width << "x" << o.height
            << " image: an allocation failed\n";
        return kExitNoMemory;
    }
    if (!begun) return exitCode;
    if (o.shards > begun->streams) {
        err << "quillmere-cli render: --shard I/K takes K up to the stream count ("
            << begun->streams << ")\n";
        return kExitUsage;
    }
    Attractor& attractor = *begun->attractor;
    TBitmap3D* target = begun->target.get();
    // The scene the render starts from, for the image to carry.
    const RenderScene scene = captureScene(attractor, *target, begun->iterations, begun->updates,
                                           begun->previewRandom, begun->streams, begun->renderSeed);

    // The render, as "&Démarrer" runs it.
    target->ClearImage();
    attractor.restart();
    EngineSettings settings{begun->iterations, begun->updates,    begun->streams,
                            o.threads,         begun->renderSeed, {}};
    settings.shard = o.shard;
    settings.shards = o.shards;
    RenderEngine engine(attractor, *target, settings);

    RenderJob job;
    job.attractor = &attractor;
    job.target = target;
    job.engine = &engine;
    job.output = o.output;
    job.png = o.png;
    job.depth = o.depth;
    job.texts = {sceneText(attractor, scene), sceneDescription(attractor, scene)};
    job.quiet = o.quiet;
    job.renderSeed = begun->renderSeed;
    // A scene's render draws nothing from --seed.
    if (!o.scene) job.seed = std::to_string(o.seed);
    if (o.checkpoint || o.state) {
        if (o.checkpoint) job.checkpoint = fs::path(*o.checkpoint);
        if (o.state) job.stateOutput = fs::path(*o.state);
        job.checkpointSeconds = o.checkpointSeconds;
        // The scene the state goes on with: the file's attractor as it was read.
        std::ostringstream attractorText;
        if (const FileResult r = writeAttractor(*makeAttractorParser(), attractor, attractorText);
            !r) {
            err << "quillmere-cli render: " << o.file << ": " << describe(r.status) << '\n';
            return kExitUsage;
        }
        job.base.scene = attractorText.str();
        if (!job.texts.scene.empty()) job.base.set(kSceneFileSetting, job.texts.scene);
        settings.threads = 0;
        setRenderSettings(job.base, settings);
        job.base.set("checkpoint_every", o.checkpointSeconds);
        if (!o.scene) job.base.set("seed", std::to_string(o.seed));
    }
    // A part that was stopped goes on from its checkpoint when the same command runs again.
    std::unique_ptr<ResumedRender> resumed;
    std::error_code exists;
    if (o.state && o.checkpoint && fs::exists(*o.checkpoint, exists)) {
        resumed = std::make_unique<ResumedRender>();
        if (const auto problem = continueShard(job, *target, o.threads, *resumed)) {
            err << "quillmere-cli render: " << *o.checkpoint << ": " << *problem << '\n';
            return kExitUsage;
        }
        job.attractor = resumed->attractor.get();
        job.target = resumed->target.get();
        job.engine = resumed->engine.get();
        job.resumedFrom = job.engine->counter();
        const auto states = job.engine->streamStates();
        for (std::size_t k = 0; k < states.size(); ++k)
            if (static_cast<std::int32_t>(k) % o.shards == o.shard)
                job.ownBefore += states[k].count;
    }
    return runToEnd(job, out, err);
}

}  // namespace qm::cli
