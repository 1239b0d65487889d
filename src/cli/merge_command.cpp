// quillmere-cli merge: the parts of a render split with render --shard, put together in shard
// order and developed into the image (and, if asked, the whole render's state, which resume
// takes). See core/render/state/render_merge.h for how the buffers combine.
#include <chrono>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/render_job.h"
#include "core/render/develop_team.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_merge.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"

namespace qm::cli {

namespace {

struct MergeOptions {
    std::vector<std::string> parts;
    std::string output;
    bool png = false;
    std::optional<std::string> state;
};

std::variant<MergeOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem = a.parse(args, {"output", "format", "state"}, {"quiet"})) return *problem;
    if (a.positional().empty()) return std::string("give the parts, PART.qmrender ...");
    MergeOptions o;
    o.parts = a.positional();
    if (auto problem = parseImageOutput(a, o.output, o.png)) return *problem;
    if (const auto text = a.value("state")) {
        if (text->empty() || isStandardStream(*text))
            return std::string("--state takes a file name");
        o.state = *text;
    }
    return o;
}

}  // namespace

int runMerge(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto start = std::chrono::steady_clock::now();
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli merge: " << *problem << '\n';
        return kExitUsage;
    }
    const MergeOptions& o = std::get<MergeOptions>(parsed);

    // Two passes, so that the merge holds one part's buffers beside the merged ones: every
    // part read and checked without keeping its floats, then each read again in shard order
    // and added.
    std::vector<RenderState> parts(o.parts.size());
    std::vector<std::vector<std::size_t>> sizes(o.parts.size());
    auto read = [&](std::size_t i, RenderState& into) {
        const StateReadResult r = readRenderState(o.parts[i], into);
        if (!r) err << "quillmere-cli merge: " << o.parts[i] << ": " << describeState(r) << '\n';
        return r;
    };
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (const StateReadResult r = read(i, parts[i]); !r) return exitStatusFor(r);
        sizes[i] = bufferSizes(parts[i]);
        for (StateBuffer& b : parts[i].buffers) std::vector<float>().swap(b.values);
    }
    std::vector<std::int32_t> byShard;
    if (const auto problem = checkRenderParts(parts, sizes, o.parts, byShard)) {
        err << "quillmere-cli merge: " << *problem << '\n';
        return kExitUsage;
    }
    RenderState merged;
    const auto shards = static_cast<std::int32_t>(byShard.size());
    for (std::int32_t s = 0; s < shards; ++s) {
        const auto i = static_cast<std::size_t>(byShard[static_cast<std::size_t>(s)]);
        RenderState part;
        if (const StateReadResult r = read(i, part); !r) return exitStatusFor(r);
        // The file must still be the part checked in the first pass.
        const RenderState& checked = parts[i];
        bool same = part.scene == checked.scene && part.settings == checked.settings &&
                    part.values == checked.values && part.streams == checked.streams &&
                    part.iterationsDone == checked.iterationsDone &&
                    part.developmentsDone == checked.developmentsDone &&
                    bufferSizes(part) == sizes[i] && part.buffers.size() == checked.buffers.size();
        for (std::size_t b = 0; same && b < part.buffers.size(); ++b)
            same = part.buffers[b].name == checked.buffers[b].name;
        if (!same) {
            err << "quillmere-cli merge: " << o.parts[i] << " changed while it was merged\n";
            return kExitUsage;
        }
        addRenderPart(merged, std::move(part), s, shards);
    }
    parts.clear();

    ResumedRender render;
    if (prepareResume(merged, 1, render) != ResumeStatus::Ok) {
        err << "quillmere-cli merge: the merged parts do not make a render (their buffers or "
               "streams do not fit their mode and size)\n";
        return kExitUsage;
    }
    // The development, and a 16-bit image's, on every processor.
    DevelopThreads team(defaultThreadCount());
    LendDevelopTeam lend(*render.target, &team);
    render.target->BuildImage();

    RenderJob job;
    job.command = "merge";
    job.target = render.target.get();
    job.output = o.output;
    job.png = o.png;
    job.texts = resumedTexts(render);
    if (const auto problem = writeJobImage(job, out)) {
        err << "quillmere-cli merge: cannot write "
            << (isStandardStream(o.output) ? "the image" : o.output) << ": " << *problem << '\n';
        return kExitWriteFailed;
    }
    if (o.state) {
        const WriteResult written = writeRenderState(*o.state, merged);
        if (!written) {
            err << "quillmere-cli merge: cannot write " << *o.state << ": "
                << describe(FileStatus::WriteFailed, written.systemError) << '\n';
            return kExitWriteFailed;
        }
    }
    const bool diverged = std::any_of(merged.streams.begin(), merged.streams.end(),
                                      [](const StreamState& s) { return s.diverged; });
    std::ostream& report = isStandardStream(o.output) ? err : out;
    report << "width: " << render.target->imageWidth << '\n';
    report << "height: " << render.target->imageHeight << '\n';
    report << "parts: " << o.parts.size() << '\n';
    report << "iterations: " << merged.iterationsDone << '\n';
    report << "streams: " << merged.streams.size() << '\n';
    report << "render_seed: " << render.settings.renderSeed << '\n';
    report << "diverged: " << (diverged ? "yes" : "no") << '\n';
    if (const std::string* seed = merged.setting("seed")) report << "seed: " << *seed << '\n';
    report << "seconds: "
           << formatNumber(
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count())
           << '\n';
    if (o.state) report << "state: " << *o.state << '\n';
    report << "output: " << o.output << '\n';
    return diverged ? kExitNotReached : kExitOk;
}

}  // namespace qm::cli
