// quillmere-cli resume: a render saved with --checkpoint, continued to its end. The image is
// the one the render would have written had it never stopped; the state file goes on
// receiving checkpoints.
#include <charconv>
#include <sstream>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/render_job.h"
#include "core/file/attractor_file.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_state_file.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

struct ResumeOptions {
    fs::path state;
    std::string output;
    bool png = false;
    std::int32_t threads = 0;
    std::optional<double> checkpointSeconds;
    bool quiet = false;
};

std::variant<ResumeOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem =
            a.parse(args, {"output", "format", "threads", "checkpoint-every"}, {"quiet"}))
        return *problem;
    if (a.positional().size() != 1) return std::string("give exactly one FILE.qmrender");
    ResumeOptions o;
    o.state = a.positional().front();
    if (auto problem = parseImageOutput(a, o.output, o.png)) return *problem;
    if (const auto text = a.value("threads")) {
        const auto v = parseInteger(*text, 1, kMaxThreads);
        if (!v) return std::string("--threads takes a whole number from 1 to 256");
        o.threads = static_cast<std::int32_t>(*v);
    }
    if (const auto text = a.value("checkpoint-every")) {
        o.checkpointSeconds = parseCheckpointSeconds(*text);
        if (!o.checkpointSeconds)
            return std::string("--checkpoint-every takes a number of seconds from 0.01 to 1e9");
    }
    o.quiet = a.has("quiet");
    return o;
}

}  // namespace

int runResume(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli resume: " << *problem << '\n';
        return kExitUsage;
    }
    const ResumeOptions& o = std::get<ResumeOptions>(parsed);

    RenderState state;
    const StateReadResult read = readRenderState(o.state, state);
    if (!read) {
        err << "quillmere-cli resume: " << o.state.string() << ": " << describeState(read) << '\n';
        return exitStatusFor(read);
    }
    auto broken = [&](const char* what) {
        err << "quillmere-cli resume: " << o.state.string() << ": " << what << '\n';
        return kExitUsage;
    };
    ResumedRender render;
    switch (prepareResume(state, o.threads, render)) {
        case ResumeStatus::Ok:
            break;
        case ResumeStatus::TooLarge:
            err << "quillmere-cli resume: " << o.state.string()
                << ": the render's image would not fit in this machine's memory beside its state\n";
            return kExitNoMemory;
        case ResumeStatus::BadSettings:
            return broken("the state's render settings are missing or out of range");
        case ResumeStatus::BadScene:
            return broken("the state's attractor cannot be read");
        case ResumeStatus::BadTarget:
            return broken("the state's buffers or view do not match its mode and size");
        case ResumeStatus::BadStreams:
            return broken("the state's streams do not match its stream count");
        case ResumeStatus::EarlierGasSums:
            return broken(
                "the state was written by an earlier version, whose multi-stream Gaz renders "
                "this version does not continue; start the render again");
    }
    double checkpointSeconds = kDefaultCheckpointSeconds;
    if (const std::string* text = state.setting("checkpoint_every"))
        if (const auto v = parseCheckpointSeconds(*text)) checkpointSeconds = *v;
    if (o.checkpointSeconds) checkpointSeconds = *o.checkpointSeconds;

    RenderJob job;
    job.command = "resume";
    job.attractor = render.attractor.get();
    job.target = render.target.get();
    job.engine = render.engine.get();
    job.output = o.output;
    job.png = o.png;
    job.quiet = o.quiet;
    job.texts = resumedTexts(render);
    job.renderSeed = render.settings.renderSeed;
    job.checkpoint = o.state;
    job.checkpointSeconds = checkpointSeconds;
    job.base.scene = state.scene;
    setRenderSettings(job.base, render.settings);
    job.base.set("checkpoint_every", checkpointSeconds);
    if (const std::string* seed = state.setting("seed")) {
        job.base.set("seed", *seed);
        job.seed = *seed;
    }
    job.developmentsBefore = state.developmentsDone;
    job.resumedFrom = render.engine->counter();
    return runToEnd(job, out, err);
}

}  // namespace qm::cli
