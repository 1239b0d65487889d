// quillmere-cli merge: the parts of a render split with render --shard, put together in shard
// order and developed into the image (and, if asked, the whole render's state, which resume
// takes). See core/render/state/render_merge.h for how the buffers combine.
#include <cctype>
#include <chrono>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/render_job.h"
#include "core/render/state/render_merge.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

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
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".bmp" && extension != ".png")
            return std::string(
                "the output must end in .bmp or .png, or --format must name its format");
        o.png = extension == ".png";
    }
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

    std::vector<RenderState> parts(o.parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const StateReadResult read = readRenderState(o.parts[i], parts[i]);
        if (!read) {
            err << "quillmere-cli merge: " << o.parts[i] << ": " << describeState(read) << '\n';
            return exitStatusFor(read);
        }
    }
    RenderState merged;
    if (const auto problem = mergeRenderParts(parts, o.parts, merged)) {
        err << "quillmere-cli merge: " << *problem << '\n';
        return kExitUsage;
    }
    parts.clear();

    ResumedRender render;
    if (prepareResume(merged, 1, render) != ResumeStatus::Ok) {
        err << "quillmere-cli merge: the merged parts do not make a render (their buffers or "
               "streams do not fit their mode and size)\n";
        return kExitUsage;
    }
    render.target->BuildImage();

    RenderJob job;
    job.command = "merge";
    job.target = render.target.get();
    job.output = o.output;
    job.png = o.png;
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
