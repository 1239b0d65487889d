#include "cli/render_job.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/signals.h"
#include "core/file/atomic_write.h"
#include "core/image/bmp.h"
#include "core/render/develop_team.h"
#include "core/scene/scene.h"
#include "core/strings/duration.h"
#include "core/strings/string_table.h"

namespace qm::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The render's state now: between two rounds, or after the engine has returned.
WriteResult saveState(const RenderJob& job, std::uint64_t developments) {
    RenderState state = job.base;
    // Written at once, while every stream waits: the target's own buffers serve.
    state.borrowBuffers = true;
    captureRender(*job.target, *job.engine, developments, state);
    return writeRenderState(*job.checkpoint, state);
}

// Develops at the updates; writes a checkpoint between two rounds when one is due.
class JobSink final : public RenderSink {
public:
    JobSink(const RenderJob& job, std::ostream& err) : job_(job), err_(err) {
        developments = job.developmentsBefore;
        due_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(job.checkpointSeconds));
    }
    void develop() override {
        if (!job_.stateOutput) job_.target->BuildImage();
        ++developments;
    }
    void betweenRounds() override {
        if (!job_.checkpoint || Clock::now() < due_ || StopRequestSignals::received() != 0) return;
        const WriteResult written = saveState(job_, developments);
        if (!written)
            err_ << "quillmere-cli " << job_.command << ": cannot write the checkpoint "
                 << job_.checkpoint->string() << ": "
                 << describe(FileStatus::WriteFailed, written.systemError) << '\n';
        ++checkpoints;
        // Counted from the end of the write, so that a slow disk never writes back to back.
        due_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(job_.checkpointSeconds));
    }

    std::uint64_t developments = 0;
    std::int64_t checkpoints = 0;

private:
    const RenderJob& job_;
    std::ostream& err_;
    Clock::time_point due_;
};

// Writes the image to the output file, or to out for "-"; the reason on failure. A PNG, which
// carries the job's texts at its depth, goes out as the encoder makes it; a BMP is built whole
// first.
std::optional<std::string> writeImage(const RenderJob& job, std::ostream& out) {
    if (isStandardStream(job.output)) {
        bool encoded = true;
        if (job.png) {
            encoded = writePng(
                [&out](std::string_view bytes) {
                    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                    return static_cast<bool>(out);
                },
                *job.target, job.depth, job.texts);
        } else {
            const std::string bytes = encodeBmp(job.target->imageView());
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        out.flush();
        if (!out) return std::string("standard output did not take the image");
        if (!encoded) return describe(FileStatus::WriteFailed);
        return std::nullopt;
    }
    const WriteResult written =
        job.png ? writePng(job.output, *job.target, job.depth, job.texts)
                : writeFileAtomically(job.output, encodeBmp(job.target->imageView()));
    if (written.status == WriteStatus::NotRegular)
        return describe(FileStatus::NotRegular) + ", left untouched";
    if (!written) return describe(FileStatus::WriteFailed, written.systemError);
    return std::nullopt;
}

}  // namespace

PngTexts resumedTexts(const ResumedRender& render) {
    if (!render.sceneFile.empty())
        if (const SceneLoad kept = readScene(render.sceneFile))
            return {render.sceneFile, sceneDescription(*kept.attractor, kept.render)};
    if (!render.attractor || !render.target) return {};
    const EngineSettings& s = render.settings;
    RenderScene scene = captureScene(*render.attractor, *render.target, s.totalIterations,
                                     s.updates, 0, s.streams, s.renderSeed);
    scene.previewRandom.reset();
    scene.plotColor.reset();
    return {sceneText(*render.attractor, scene), sceneDescription(*render.attractor, scene)};
}

std::optional<std::string> parseImageOutput(const Arguments& a, std::string& output, bool& png) {
    const auto name = a.value("output");
    if (!name || name->empty()) return std::string("-o OUT.bmp or OUT.png is required");
    if (const auto format = a.value("format")) {
        if (*format != "png" && *format != "bmp") return std::string("--format takes png or bmp");
        png = *format == "png";
    } else if (isStandardStream(*name)) {
        return std::string("-o - writes to standard output and needs --format png or --format bmp");
    } else {
        std::string extension = std::filesystem::path(*name).extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension != ".bmp" && extension != ".png")
            return std::string(
                "the output must end in .bmp or .png, or --format must name its format");
        png = extension == ".png";
    }
    output = *name;
    return std::nullopt;
}

std::optional<std::string> writeJobImage(const RenderJob& job, std::ostream& out) {
    return writeImage(job, out);
}

std::string describeState(const StateReadResult& r) {
    std::string text;
    switch (r.status) {
        case StateReadStatus::Ok:
            return "no error";
        case StateReadStatus::CannotOpen:
            text = "cannot open the file";
            break;
        case StateReadStatus::NotRegularFile:
            text = "not a regular file";
            break;
        case StateReadStatus::NotAState:
            text = "not a render-state file";
            break;
        case StateReadStatus::OtherVersion:
            text = "a render-state file of format version " + std::to_string(r.version) +
                   ", which this program does not read (it reads version " +
                   std::to_string(kRenderStateVersion) + ")";
            break;
        case StateReadStatus::Truncated:
            text = "the render-state file is truncated";
            break;
        case StateReadStatus::Corrupt:
            text = "the render-state file is damaged (a checksum or a size does not match)";
            break;
        case StateReadStatus::TooLarge:
            text = "the render state needs " + std::to_string(r.neededBytes >> 20) +
                   " MiB of memory, more than this machine has available";
            break;
        case StateReadStatus::ReadFailed:
            text = "reading the file failed";
            break;
    }
    if (r.systemError != 0) text += std::string(" (") + std::strerror(r.systemError) + ")";
    return text;
}

int exitStatusFor(const StateReadResult& r) {
    return r.status == StateReadStatus::TooLarge ? kExitNoMemory : kExitUsage;
}

int runToEnd(RenderJob& job, std::ostream& out, std::ostream& err) {
    const auto start = Clock::now();
    RenderControl control;
    JobSink sink(job, err);
    std::optional<StopRequestSignals> stopSignals;
    if (job.checkpoint) stopSignals.emplace(control.stopRequested);

    // Progress on a terminal: the speed of this run, the time left and a bar.
    const std::int64_t startCounter = job.engine->counter();
    std::atomic<bool> running{true};
    std::thread progress;
    if (!job.quiet && isatty(STDERR_FILENO)) {
        progress = std::thread([&] {
            while (running.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
                const std::int64_t counter = control.counter.load(std::memory_order_relaxed);
                const double fraction = control.progress.load(std::memory_order_relaxed);
                if (counter - startCounter < 2 || !running.load()) continue;
                const double rate = static_cast<double>(counter - startCounter) / elapsed;
                const double left = fraction > 0 ? (1 - fraction) / fraction * counter / rate : -1;
                const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 30);
                std::fprintf(stderr, "\ri/s: %lld   time left: %s   [%s%s]",
                             static_cast<long long>(rate),
                             left >= 0 ? formatClockDuration(left + 1).c_str() : "--:--:--",
                             std::string(static_cast<std::size_t>(filled), '#').c_str(),
                             std::string(static_cast<std::size_t>(30 - filled), '.').c_str());
                std::fflush(stderr);
            }
        });
    }
    const RenderOutcome outcome = job.engine->run(sink, control);
    const int signal = StopRequestSignals::received();
    stopSignals.reset();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    running = false;
    if (progress.joinable()) {
        progress.join();
        std::fprintf(stderr, "\rtotal time: %s%*s\n", formatRenderTime(seconds, ".").c_str(), 40,
                     "");
    }

    // Stopped by a signal: the state as the last round left it, then the conventional status.
    if (signal != 0 && job.checkpoint) {
        const WriteResult written = saveState(job, sink.developments);
        if (written && job.stateOutput)
            err << "quillmere-cli " << job.command << ": stopped after " << outcome.counter
                << " iterations; the same command goes on from " << job.checkpoint->string()
                << '\n';
        else if (written)
            err << "quillmere-cli " << job.command << ": stopped after " << outcome.counter
                << " iterations; the render goes on with: quillmere-cli resume "
                << job.checkpoint->string() << " -o " << job.output << '\n';
        else
            err << "quillmere-cli " << job.command << ": cannot write the checkpoint "
                << job.checkpoint->string() << ": "
                << describe(FileStatus::WriteFailed, written.systemError) << '\n';
        std::ostream& report = isStandardStream(job.output) ? err : out;
        report << "iterations: " << outcome.counter << '\n';
        report << "checkpoint: " << job.checkpoint->string() << '\n';
        return signal == SIGINT ? kExitInterrupted : kExitTerminated;
    }

    if (job.stateOutput) {
        // A shard: its state, whole, in place of the image.
        RenderState state = job.base;
        state.borrowBuffers = true;
        captureRender(*job.target, *job.engine, sink.developments, state);
        const WriteResult written = writeRenderState(*job.stateOutput, state);
        if (!written) {
            err << "quillmere-cli " << job.command << ": cannot write " << job.stateOutput->string()
                << ": " << describe(FileStatus::WriteFailed, written.systemError) << '\n';
            return kExitWriteFailed;
        }
        // This shard's own iterations (the counter includes the other shards' shares).
        const auto states = job.engine->streamStates();
        std::uint64_t own = 0;
        for (std::size_t k = 0; k < states.size(); ++k)
            if (static_cast<std::int32_t>(k) % job.engine->shards() == job.engine->shard())
                own += states[k].count;
        const double done = static_cast<double>(own) - static_cast<double>(job.ownBefore);
        out << "shard: " << job.engine->shard() << '/' << job.engine->shards() << '\n';
        out << "iterations: " << outcome.counter << '\n';
        if (job.resumedFrom) out << "resumed_from: " << *job.resumedFrom << '\n';
        out << "threads: " << job.engine->threads() << '\n';
        out << "streams: " << job.engine->streams() << '\n';
        out << "diverged: " << (outcome.diverged ? "yes" : "no") << '\n';
        out << "seconds: " << formatNumber(seconds) << '\n';
        out << "iterations_per_second: " << formatNumber(seconds > 0 ? done / seconds : 0.0)
            << '\n';
        out << "state: " << job.stateOutput->string() << '\n';
        if (outcome.diverged) {
            err << "quillmere-cli " << job.command << ": no attractor left after "
                << outcome.counter << " iterations\n";
            return kExitNotReached;
        }
        return kExitOk;
    }
    // A resumed render that had no round left (its state saved at its end) has not developed
    // its image in this run: its target starts at the background.
    // The last development, and a 16-bit image's, on as many threads as the render had.
    DevelopThreads team(job.engine->threads());
    LendDevelopTeam lend(*job.target, &team);
    if (outcome.needsFinalDevelop || outcome.developments == 0) job.target->BuildImage();
    if (const auto problem = writeImage(job, out)) {
        err << "quillmere-cli " << job.command << ": cannot write "
            << (isStandardStream(job.output) ? "the image" : job.output) << ": " << *problem
            << '\n';
        return kExitWriteFailed;
    }
    // With the image on standard output, the report goes to standard error.
    std::ostream& report = isStandardStream(job.output) ? err : out;
    const double done = static_cast<double>(outcome.counter - startCounter);
    report << "width: " << job.target->imageWidth << '\n';
    report << "height: " << job.target->imageHeight << '\n';
    report << "iterations: " << outcome.counter << '\n';
    if (job.resumedFrom) report << "resumed_from: " << *job.resumedFrom << '\n';
    report << "threads: " << job.engine->threads() << '\n';
    report << "streams: " << job.engine->streams() << '\n';
    report << "render_seed: " << job.renderSeed << '\n';
    report << "diverged: " << (outcome.diverged ? "yes" : "no") << '\n';
    report << "seconds: " << formatNumber(seconds) << '\n';
    report << "iterations_per_second: " << formatNumber(seconds > 0 ? done / seconds : 0.0) << '\n';
    report << "scale: " << formatNumber(job.target->scale) << '\n';
    report << "pan_x: " << formatNumber(job.target->panX) << '\n';
    report << "pan_y: " << formatNumber(job.target->panY) << '\n';
    if (!job.seed.empty()) report << "seed: " << job.seed << '\n';
    if (job.checkpoint) report << "checkpoints: " << sink.checkpoints << '\n';
    report << "output: " << job.output << '\n';
    if (outcome.diverged) {
        err << "quillmere-cli " << job.command << ": no attractor left after " << outcome.counter
            << " iterations\n";
        return kExitNotReached;
    }
    return kExitOk;
}

}  // namespace qm::cli
