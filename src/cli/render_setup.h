// What a render of the tool starts from, shared by render and animate: the options every
// render takes, and the attractor and target they make from an attractor file or a scene.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "cli/arguments.h"
#include "cli/render_job.h"
#include "core/attractor/attractor.h"
#include "core/property/gradient.h"
#include "core/render/bitmap3d.h"
#include "core/render/memory_budget.h"
#include "core/render/render_engine.h"

namespace qm::cli {

struct RenderOptions {
    std::string command = "render";  // in messages
    std::string file;                // "-": standard input
    std::string output;  // "-": standard output, the key: value lines then on standard error
    bool scene = false;  // a scene file or an image that carries one, not an attractor file
    bool png = false;
    int depth = 8;
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
    // A shard: its index and count, and where its state goes instead of an image.
    std::int32_t shard = 0;
    std::int32_t shards = 1;
    std::optional<std::string> state;
    bool resources = false;  // print what a shard and the merge need, and stop
};

// What a render starts from: the attractor and its target, sampled and framed.
struct Start {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
    std::uint64_t previewRandom = 0;
    std::int64_t iterations = 0;
    std::int32_t updates = 0;
    std::int32_t streams = 1;
    std::uint64_t renderSeed = 0;
};

// The options of every render, from --depth to --quiet: mode, size, counts, seeds, streams,
// threads, framing, the mode's settings and colour maps. o.png must be set (for --depth).
std::optional<std::string> readRenderOptions(const Arguments& a, RenderOptions& o);

// Loads a colour map given on the command line ("-": standard input); false, with the reason
// on err, when it cannot be read or gives too many colours. A map without a colour keeps the
// gradient as it was (an empty one would turn the image black), with a warning, as the
// program's palette does.
bool loadMapFile(const std::string& command, const std::string& name, Gradientf& gradient,
                 std::ostream& err);

// Why a size cannot be rendered: the need, and the limit that the budget comes from.
std::string memoryMessage(const RenderOptions& o, std::uint64_t need, const MemoryBudget& budget);

// "Nouveau" in the mode and size, "Ouvrir..." of the attractor file o.file (the view fitted),
// then the options' camera and settings. None, with the message on err and the exit status
// in exitCode, when the file cannot be read or the attractor diverges.
std::optional<Start> startFromAttractorFile(const RenderOptions& o, std::ostream& err,
                                            int& exitCode);

// The scene of the scene file or image o.file, as the program opens it; --iterations and
// --updates (when given) replace the scene's.
std::optional<Start> startFromScene(const RenderOptions& o, const Arguments& given,
                                    std::ostream& err, int& exitCode);

// Either of the two, for o.scene or not; an attractor file's memory need (its size and mode
// from the options) is checked first, before anything is allocated, and a lack of memory
// gives kExitNoMemory.
std::optional<Start> startRender(const RenderOptions& o, const Arguments& given, std::ostream& err,
                                 int& exitCode);

}  // namespace qm::cli
