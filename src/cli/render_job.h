// A render of the tool run to its end: the engine's rounds with the progress line, the
// checkpoints of its state (every so many seconds, and once more on SIGINT or SIGTERM), the
// image and the "key: value" lines. quillmere-cli render and resume both end with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state.h"
#include "core/render/state/render_state_file.h"
#include "png/png_image.h"

namespace qm::cli {

class Arguments;

// Checkpoints when none is given: every five minutes, as the program autosaves.
inline constexpr double kDefaultCheckpointSeconds = 300;

struct RenderJob {
    const char* command = "render";  // in messages
    Attractor* attractor = nullptr;
    TBitmap3D* target = nullptr;
    RenderEngine* engine = nullptr;
    std::string output;  // "-": standard output, the key: value lines then on standard error
    bool png = false;
    int depth = 8;   // of a PNG: 8 or 16 bits a channel
    PngTexts texts;  // what a PNG carries besides "Software": the scene and its description
    bool quiet = false;
    std::uint64_t renderSeed = 0;
    std::string seed;  // the document's --seed, printed when known
    // Where the state goes as the render runs; none: no checkpoints, and the signals keep
    // their default action.
    std::optional<std::filesystem::path> checkpoint;
    double checkpointSeconds = kDefaultCheckpointSeconds;
    // The scene and the tool's own settings; each checkpoint adds the target's and the streams.
    RenderState base;
    std::uint64_t developmentsBefore = 0;
    std::optional<std::int64_t> resumedFrom;  // printed as resumed_from
    // A shard: its render state goes there at the end instead of an image (output unused),
    // and the developments are counted but not built.
    std::optional<std::filesystem::path> stateOutput;
    std::uint64_t ownBefore = 0;  // the shard's own iterations before this run
};

// Runs the engine to the end (or the signal), writes the image and prints the lines. Exit
// status: 0, 1 diverged, 3 unwritable image, 130 / 143 after SIGINT / SIGTERM. While it runs
// with a checkpoint, the first SIGINT or SIGTERM stops the render after its round instead of
// the tool; a second one acts as before.
int runToEnd(RenderJob& job, std::ostream& out, std::ostream& err);

// The image output of render, resume and merge: -o NAME ("-" for standard output) and its
// format, from --format or else the name's extension. The user's sentence when either is
// missing or wrong; output and png are then left as they were.
std::optional<std::string> parseImageOutput(const Arguments& a, std::string& output, bool& png);

// Writes the job's target image to job.output (or out for "-") in its format; the reason on
// failure.
std::optional<std::string> writeJobImage(const RenderJob& job, std::ostream& out);

// What the image of a resumed (or merged) render carries: the scene its state kept, else one
// rebuilt from the render itself, without what was drawn before the render began (the preview
// sampling's generator state, the first point's colour), which such a state does not hold.
PngTexts resumedTexts(const ResumedRender& render);

// The user's sentence for a state file that cannot be read, and the exit status for it: 4 when
// it is too large for this machine, 2 otherwise.
std::string describeState(const StateReadResult& result);
int exitStatusFor(const StateReadResult& result);

}  // namespace qm::cli
