// quillmere-cli animate: the frames of a turntable or of a journey between scenes, each a PNG
// that carries its own scene, and a video of them through ffmpeg.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/render_setup.h"
#include "cli/signals.h"
#include "cli/video_encoder.h"
#include "core/animate/animation.h"
#include "core/animate/frame_render.h"
#include "core/animate/frame_sequence.h"
#include "core/file/data_location.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/memory_budget.h"
#include "core/scene/scene_file.h"
#include "core/strings/duration.h"
#include "png/png_frames.h"
#include "png/png_image.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMaxFrames = 1000000;

const std::set<std::string, std::less<>> kValueOptions = {
    "output", "frames", "turn", "axis", "ease", "exposure", "video", "fps",
    // As for render.
    "mode", "size", "iterations", "updates", "seed", "scale", "rotate", "pan", "luminosity",
    "gamma", "opacity", "roughness", "speed-map", "angle-map", "threads", "streams", "render-seed",
    "depth"};
const std::set<std::string, std::less<>> kFlags = {"builtin-gradients", "quiet", "skip-diverged",
                                                   "resume", "no-frames"};

// The name of frame i: a printf-like pattern with one %d, %Nd or %0Nd (and %% for a %).
struct FramePattern {
    std::string prefix, suffix;
    int width = 0;
    bool zeros = false;

    std::string name(std::int64_t i) const {
        std::string digits = std::to_string(i);
        if (static_cast<int>(digits.size()) < width)
            digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeros ? '0' : ' ');
        return prefix + digits + suffix;
    }
};

std::optional<FramePattern> parsePattern(const std::string& text) {
    FramePattern p;
    bool found = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string& into = found ? p.suffix : p.prefix;
        if (text[i] != '%') {
            into += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            into += '%';
            ++i;
            continue;
        }
        if (found) return std::nullopt;  // a second number
        std::size_t j = i + 1;
        if (j < text.size() && text[j] == '0') {
            p.zeros = true;
            ++j;
        }
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) &&
               p.width < 100)
            p.width = p.width * 10 + (text[j++] - '0');
        if (j >= text.size() || text[j] != 'd' || p.width > 12) return std::nullopt;
        found = true;
        i = j;
    }
    if (!found) return std::nullopt;
    return p;
}

struct AnimateOptions {
    std::vector<std::string> inputs;
    RenderOptions render;  // what every render takes; file set per input
    std::int32_t frames = 0;
    std::optional<double> turn;
    TurnAxis axis = TurnAxis::View;
    Ease ease = Ease::Linear;
    bool fixedExposure = true;
    std::optional<FramePattern> pattern;
    std::string patternText;
    std::optional<fs::path> video;
    double fps = 30;
    bool noFrames = false;
    bool skipDiverged = false;
    bool resume = false;
};

bool isSceneInput(const std::string& file) {
    return !isStandardStream(file) &&
           (fs::path(file).extension() == kSceneExtension || isPngFile(file));
}

std::variant<AnimateOptions, std::string> parseOptions(const std::vector<std::string>& args,
                                                       Arguments& a) {
    if (auto problem = a.parse(args, kValueOptions, kFlags)) return *problem;
    AnimateOptions o;
    o.inputs = a.positional();
    if (o.inputs.empty())
        return std::string(
            "give a scene or an attractor file (a turntable), or two or more (a journey)");
    const bool journey = o.inputs.size() > 1;
    o.render.command = "animate";
    o.render.png = true;

    const auto frames = a.value("frames");
    if (!frames) return std::string("--frames N is required");
    const auto n = parseInteger(*frames, 1, kMaxFrames);
    if (!n) return std::string("--frames takes a whole number from 1 to 1000000");
    o.frames = static_cast<std::int32_t>(*n);

    if (const auto text = a.value("turn")) {
        if (journey) return std::string("--turn makes a turntable of one scene, not a journey");
        o.turn = parseReal(*text);
        if (!o.turn || std::fabs(*o.turn) > 1e6)
            return std::string("--turn takes the degrees of the whole turn, e.g. 360");
    } else if (!journey) {
        return std::string(
            "--turn DEGREES is required for one scene (a turntable); give two or more scenes "
            "for a journey");
    }
    if (const auto text = a.value("axis")) {
        if (journey) return std::string("--axis applies to a turntable (--turn)");
        static const std::map<std::string, TurnAxis, std::less<>> axes = {
            {"x", TurnAxis::X}, {"y", TurnAxis::Y}, {"z", TurnAxis::Z}, {"view", TurnAxis::View}};
        const auto it = axes.find(*text);
        if (it == axes.end()) return std::string("--axis takes x, y, z or view");
        o.axis = it->second;
    }
    if (const auto text = a.value("ease")) {
        if (!journey) return std::string("--ease applies to a journey between scenes");
        if (*text != "linear" && *text != "smooth")
            return std::string("--ease takes linear or smooth");
        o.ease = *text == "smooth" ? Ease::Smooth : Ease::Linear;
    }
    if (const auto text = a.value("exposure")) {
        if (*text != "fixed" && *text != "per-frame")
            return std::string("--exposure takes fixed or per-frame");
        o.fixedExposure = *text == "fixed";
    }

    if (const auto text = a.value("video")) {
        if (!videoFormatOf(*text))
            return std::string("--video takes a file ending in .mp4 or .webm");
        o.video = fs::path(*text);
    }
    if (const auto text = a.value("fps")) {
        if (!o.video) return std::string("--fps needs --video");
        const auto fps = parseReal(*text);
        if (!fps || *fps < 1 || *fps > 240)
            return std::string("--fps takes a number from 1 to 240");
        o.fps = *fps;
    }
    o.noFrames = a.has("no-frames");
    if (o.noFrames && !o.video) return std::string("--no-frames needs --video");
    o.skipDiverged = a.has("skip-diverged");
    o.resume = a.has("resume");
    if (o.resume && o.noFrames)
        return std::string("--resume keeps the frames written before; --no-frames removes them");

    if (const auto text = a.value("output")) {
        o.pattern = parsePattern(*text);
        if (!o.pattern)
            return std::string(
                "-o names the frames with one frame number, e.g. frames/frame-%04d.png");
        std::string end = o.pattern->suffix.size() >= 4
                              ? o.pattern->suffix.substr(o.pattern->suffix.size() - 4)
                              : std::string();
        std::transform(end.begin(), end.end(), end.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (end != ".png" || o.pattern->suffix.find('/') != std::string::npos)
            return std::string(
                "the frames are PNG images (each carries its scene): -o must end in .png, "
                "the frame number in the file's name");
        o.patternText = *text;
    } else if (!o.video) {
        return std::string("-o DIR/frame-%04d.png is required (or --video OUT.mp4)");
    } else if (o.resume) {
        return std::string("--resume needs -o, the frames to go on from");
    }

    // Every input that is a scene holds its own settings; those of an attractor file come
    // from the options.
    if (std::all_of(o.inputs.begin(), o.inputs.end(), isSceneInput))
        for (const char* name :
             {"mode", "size", "seed", "scale", "rotate", "pan", "luminosity", "gamma", "opacity",
              "roughness", "speed-map", "angle-map", "builtin-gradients", "streams", "render-seed"})
            if (a.has(name))
                return "--" + std::string(name) +
                       " does not apply to a scene, which holds its own settings";
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1)
        return std::string("standard input (-) can be read for one file only");
    if (auto problem = readRenderOptions(a, o.render)) return *problem;
    // The same command renders the same frames, which --resume relies on: the seed is not
    // drawn from the clock as render's is.
    if (!a.has("seed")) o.render.seed = 0;
    return o;
}

// One input made into a resolved scene, as render would start from it.
std::optional<SceneFrame> loadInput(const AnimateOptions& options, const std::string& file,
                                    const Arguments& given, std::ostream& err, int& exitCode) {
    RenderOptions o = options.render;
    o.file = file;
    o.scene = isSceneInput(file);
    std::optional<Start> start = startRender(o, given, err, exitCode);
    if (!start) return std::nullopt;
    RenderScene scene =
        captureScene(*start->attractor, *start->target, start->iterations, start->updates,
                     start->previewRandom, start->streams, start->renderSeed);
    return SceneFrame(std::move(start->attractor), std::move(scene));
}

std::string describe(JourneyProblem problem) {
    switch (problem) {
        case JourneyProblem::None:
            return "no problem";
        case JourneyProblem::TooFewKeyframes:
            return "a journey needs two scenes or more";
        case JourneyProblem::NoAttractor:
            return "a scene holds no attractor";
        case JourneyProblem::OtherKind:
            return "the scenes must hold attractors of the same kind and option";
        case JourneyProblem::OtherMode:
            return "the scenes must have the same render mode";
        case JourneyProblem::OtherSize:
            return "the scenes must have the same image size";
        case JourneyProblem::NoCamera:
            return "a scene has no framing";
    }
    return "the scenes cannot be mixed";
}

// The progress line on a terminal.
class Progress {
public:
    explicit Progress(bool show) : show_(show && isatty(STDERR_FILENO)) {}
    void say(const std::string& text) {
        if (!show_) return;
        std::fprintf(stderr, "\r%-70s", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void end() {
        if (shown_) std::fprintf(stderr, "\n");
        shown_ = false;
    }

private:
    bool show_;
    bool shown_ = false;
};

// The progress line of the frames and the time left, and a line for each diverged frame.
class SequenceLines final : public SequenceObserver {
public:
    SequenceLines(Progress& progress, Clock::time_point started, bool skipDiverged,
                  std::ostream& err)
        : progress_(progress), started_(started), skipDiverged_(skipDiverged), err_(err) {}

    void started(const SequenceProgress& p) override {
        if (p.exposure) {
            progress_.say("exposure: frame " + std::to_string(p.frame) + " (" +
                          std::to_string(p.sample + 1) + " of " + std::to_string(p.samples) + ")");
            return;
        }
        // The time left from the frames rendered so far in this run.
        std::string line =
            "frame " + std::to_string(p.frame + 1) + " of " + std::to_string(p.frames);
        const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
        if (p.rendered > 0) {
            const double each = elapsed / p.rendered;
            line += "   " + formatNumber(std::round(each * 100) / 100) + " s a frame, " +
                    formatClockDuration(each * p.left + 1) + " left";
        }
        progress_.say(line);
    }
    void diverged(std::int32_t frame) override {
        progress_.end();
        err_ << "quillmere-cli animate: frame " << frame << ": the attractor diverges; "
             << (skipDiverged_ ? "the frame is left out\n" : "the frame is black\n");
    }

private:
    Progress& progress_;
    Clock::time_point started_;
    bool skipDiverged_;
    std::ostream& err_;
};

}  // namespace

int runAnimate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Arguments given;
    auto parsed = parseOptions(args, given);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli animate: " << *problem << '\n';
        return kExitUsage;
    }
    AnimateOptions& o = std::get<AnimateOptions>(parsed);
    std::optional<fs::path> ffmpeg;
    if (o.video) {
        ffmpeg = findFfmpeg();
        if (!ffmpeg) {
            err << "quillmere-cli animate: --video needs the ffmpeg program, which is not "
                   "installed (on Debian: apt-get install ffmpeg); nothing was rendered\n";
            return kExitUsage;
        }
    }

    // The scenes, and the animation they make.
    int exitCode = kExitOk;
    std::vector<SceneFrame> scenes;
    try {
        for (const std::string& file : o.inputs) {
            std::optional<SceneFrame> scene = loadInput(o, file, given, err, exitCode);
            if (!scene) return exitCode;
            scenes.push_back(std::move(*scene));
        }
    } catch (const std::bad_alloc&) {
        err << "quillmere-cli animate: not enough memory: an allocation failed\n";
        return kExitNoMemory;
    }
    std::optional<Animation> animation;
    if (o.turn) {
        animation = Animation::turntable(std::move(scenes.front()), o.frames, *o.turn, o.axis);
    } else {
        JourneyProblem problem = JourneyProblem::None;
        animation = Animation::journey(std::move(scenes), o.frames, o.ease, &problem);
        if (!animation) {
            err << "quillmere-cli animate: " << describe(problem) << '\n';
            return kExitUsage;
        }
    }
    const RenderScene& first = animation->keyframes().front().render;
    Gradientf speed, angle;
    loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()), speed, angle);

    // Where the frames go: the pattern's folder, made when missing; without -o a hidden folder
    // beside the video, removed with the frames.
    std::optional<fs::path> scratch;
    if (!o.pattern) {
        const fs::path folder =
            o.video->parent_path().empty() ? fs::path(".") : o.video->parent_path();
        scratch =
            folder / ("." + o.video->filename().string() + ".frames-" + std::to_string(::getpid()));
        o.pattern = FramePattern{(*scratch / "frame-").string(), ".png", 6, true};
        o.patternText = o.pattern->prefix + "%06d.png";
        o.noFrames = true;
    }
    {
        const fs::path folder = fs::path(o.pattern->name(0)).parent_path();
        std::error_code ec;
        if (!folder.empty() && !fs::is_directory(folder, ec)) {
            fs::create_directories(folder, ec);
            if (ec) {
                err << "quillmere-cli animate: cannot make the folder " << folder.string() << ": "
                    << ec.message() << '\n';
                return kExitWriteFailed;
            }
        }
    }
    const auto removeScratch = [&] {
        std::error_code ec;
        if (scratch) fs::remove_all(*scratch, ec);
    };

    const auto started = Clock::now();
    Progress progress(!o.render.quiet);
    RenderControl control;
    std::optional<StopRequestSignals> stopSignals(std::in_place, control.stopRequested);
    // Stopped by a signal: nothing of the frame under way is written; the exit status says
    // which signal it was.
    const auto stoppedBySignal = [&](const std::string& during) {
        progress.end();
        err << "quillmere-cli animate: stopped " << during;
        if (o.pattern && !scratch)
            err << "; the same command with --resume goes on from the frames written";
        err << '\n';
        removeScratch();
        return StopRequestSignals::received() == SIGTERM ? kExitTerminated : kExitInterrupted;
    };
    std::int32_t threadsUsed = o.render.threads > 0 ? o.render.threads : defaultThreadCount();

    SequenceSettings settings;
    settings.fixedExposure = o.fixedExposure;
    settings.keepStored = o.resume;
    settings.skipDiverged = o.skipDiverged;
    settings.render.threads = o.render.threads;
    PngFrameFiles files([&](std::int32_t i) { return fs::path(o.pattern->name(i)); },
                        o.render.depth);
    SequenceLines lines(progress, started, o.skipDiverged, err);
    const SequenceOutcome outcome =
        renderFrameSequence(*animation, speed, angle, settings, files, lines, control);
    const std::int32_t n = animation->frameCount();
    const std::string file = o.pattern->name(outcome.frame);
    switch (outcome.status) {
        case SequenceOutcome::Done:
            break;
        case SequenceOutcome::Stopped:
            return stoppedBySignal(outcome.inPrePass ? std::string("during the exposure's pre-pass")
                                                     : "at frame " + std::to_string(outcome.frame) +
                                                           ", which is not written");
        case SequenceOutcome::NotThisFrame:
            progress.end();
            err << "quillmere-cli animate: " << file << " is not frame " << outcome.frame
                << " of this animation (another scene or other settings); remove it, or "
                   "leave out --resume to render every frame again\n";
            removeScratch();
            return kExitUsage;
        case SequenceOutcome::NotPrepared:
            progress.end();
            err << "quillmere-cli animate: frame " << outcome.frame << " cannot be prepared\n";
            removeScratch();
            return kExitUsage;
        case SequenceOutcome::WriteFailed:
            progress.end();
            err << "quillmere-cli animate: cannot write " << file << ": "
                << (outcome.notRegular ? describe(FileStatus::NotRegular) + ", left untouched"
                                       : describe(FileStatus::WriteFailed, outcome.systemError))
                << '\n';
            removeScratch();
            return kExitWriteFailed;
    }
    progress.end();
    stopSignals.reset();
    if (StopRequestSignals::received() != 0) return stoppedBySignal("after the last frame");
    const std::int32_t renderedFrames = outcome.rendered;
    const std::vector<std::int32_t>& diverged = outcome.diverged;
    std::vector<fs::path> written;  // in frame order: what the video shows
    for (std::int32_t i = 0; i < n; ++i)
        if (!o.skipDiverged || !std::binary_search(diverged.begin(), diverged.end(), i))
            written.push_back(o.pattern->name(i));
    const double renderSeconds = std::chrono::duration<double>(Clock::now() - started).count();

    // The video.
    if (o.video) {
        if (written.empty()) {
            err << "quillmere-cli animate: no frame to make the video of\n";
            removeScratch();
            return kExitNotReached;
        }
        progress.say("encoding " + o.video->string());
        const auto problem = encodeVideo(*ffmpeg, written, o.fps, *o.video);
        progress.end();
        if (problem) {
            err << "quillmere-cli animate: cannot write the video " << o.video->string() << ": "
                << *problem << '\n';
            removeScratch();
            return kExitWriteFailed;
        }
        if (o.noFrames) {
            std::error_code ec;
            for (const fs::path& f : written) fs::remove(f, ec);
        }
        removeScratch();
    }

    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    out << "animation: " << (o.turn ? "turntable" : "journey") << '\n';
    out << "frames: " << n << '\n';
    out << "width: " << (first.width & 0xFFFC) << '\n';
    out << "height: " << first.height << '\n';
    out << "mode: " << first.mode << '\n';
    out << "iterations: " << first.iterations << '\n';
    out << "streams: " << first.streams.value_or(kDefaultStreams) << '\n';
    out << "threads: " << threadsUsed << '\n';
    out << "exposure: " << (o.fixedExposure ? "fixed" : "per-frame") << '\n';
    if (o.turn && outcome.firstExposure)
        out << "exposure_peak: " << formatNumber(*outcome.firstExposure) << '\n';
    out << "rendered: " << renderedFrames << '\n';
    if (o.resume) out << "kept: " << outcome.kept << '\n';
    out << "diverged_frames:";
    if (diverged.empty()) out << " none";
    for (std::int32_t i : diverged) out << ' ' << i;
    out << '\n';
    out << "seconds: " << formatNumber(seconds) << '\n';
    out << "seconds_per_frame: "
        << formatNumber(renderedFrames > 0 ? renderSeconds / renderedFrames : 0.0) << '\n';
    if (!scratch && !o.noFrames) out << "output: " << o.patternText << '\n';
    if (o.video) out << "video: " << o.video->string() << '\n';
    if (!o.inputs.empty() && !isSceneInput(o.inputs.front()))
        out << "seed: " << o.render.seed << '\n';
    // Frames left out are no failure: the user asked for that.
    return diverged.empty() || o.skipDiverged ? kExitOk : kExitNotReached;
}

}  // namespace qm::cli
