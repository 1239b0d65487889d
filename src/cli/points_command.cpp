// quillmere-cli points: the orbit of a scene or an attractor file as a PLY point cloud,
// coloured as the scene's mode colours it.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "core/cloud/point_cloud.h"
#include "core/file/data_location.h"
#include "core/property/color_map.h"
#include "core/scene/scene.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "png/png_image.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

struct PointsOptions {
    std::string file;
    std::string output;
    bool scene = false;
    std::uint64_t count = kDefaultCloudPoints;
    bool ascii = false;
    int mode = 0;
    std::uint32_t seed = 0;
    bool quiet = false;
};

std::variant<PointsOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem = a.parse(args, {"output", "count", "seed", "mode"}, {"ascii", "quiet"}))
        return *problem;
    if (a.positional().size() != 1)
        return std::string("give exactly one FILE.qmscene, IMAGE.png or FILE.qmattr");
    PointsOptions o;
    o.file = a.positional().front();
    o.scene = !isStandardStream(o.file) &&
              (fs::path(o.file).extension() == kSceneExtension || isPngFile(o.file));
    if (o.scene)
        for (const char* name : {"seed", "mode"})
            if (a.has(name))
                return "--" + std::string(name) +
                       " does not apply to a scene, which holds its own settings";
    const auto output = a.value("output");
    if (!output || output->empty()) return std::string("-o OUT.ply is required");
    if (isStandardStream(*output))
        return std::string("the cloud is written to a file only (-o OUT.ply)");
    o.output = *output;
    if (const auto text = a.value("count")) {
        const auto v = parseInteger(*text, 1, static_cast<std::int64_t>(kMaxCloudPoints));
        if (!v) return std::string("--count takes a whole number from 1 to 100000000");
        o.count = static_cast<std::uint64_t>(*v);
    }
    if (const auto text = a.value("mode")) {
        o.mode = parseMode(*text);
        if (o.mode < 0)
            return "unknown mode '" + *text + "' (Gaz, Liquide, Lumière, Plasma, Solide or 0 to 4)";
    }
    o.seed = static_cast<std::uint32_t>(std::time(nullptr));
    if (const auto text = a.value("seed")) {
        const auto v = parseInteger(*text, 0, 0xFFFFFFFFll);
        if (!v) return std::string("--seed takes a whole number from 0 to 4294967295");
        o.seed = static_cast<std::uint32_t>(*v);
    }
    o.ascii = a.has("ascii");
    o.quiet = a.has("quiet");
    return o;
}

}  // namespace

int runPoints(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli points: " << *problem << '\n';
        return kExitUsage;
    }
    const PointsOptions& o = std::get<PointsOptions>(parsed);

    // The scene: read from its file or image, or made for the attractor file as "Nouveau"
    // in the mode and "Ouvrir..." of the file make it (the view fitted).
    std::unique_ptr<Attractor> attractor;
    RenderScene scene;
    if (o.scene) {
        SceneLoad loaded = loadSceneOrImage(o.file);
        if (!loaded) {
            err << "quillmere-cli points: " << o.file;
            if (loaded.line > 0) err << ", line " << loaded.line;
            err << ": " << describe(loaded.status) << '\n';
            return kExitUsage;
        }
        attractor = std::move(loaded.attractor);
        scene = loaded.render;
    } else {
        seedRandom31(o.seed);
        auto parser = makeAttractorParser();
        int systemError = 0;
        LoadResult loaded = loadAttractorInput(*parser, o.file, &systemError);
        if (!loaded) {
            err << "quillmere-cli points: " << o.file << ": " << describe(loaded, systemError)
                << '\n';
            return kExitUsage;
        }
        attractor = std::move(loaded.attractor);
        scene.mode = o.mode;
    }
    Gradientf speed, angle;
    loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()), speed, angle);
    PreparedScene prepared;
    try {
        prepared = prepareScene(*attractor, scene, speed, angle);
    } catch (const std::bad_alloc&) {
        err << "quillmere-cli points: not enough memory for the scene's " << scene.width << "x"
            << scene.height << " view\n";
        return kExitNoMemory;
    }
    if (!prepared.target) return kExitUsage;
    if (!prepared.bounded) {
        err << "quillmere-cli points: the attractor diverges while it is sampled; no cloud to "
               "write\n";
        return kExitNotReached;
    }
    CloudSettings settings;
    settings.count = o.count;
    settings.format = o.ascii ? CloudFormat::Ascii : CloudFormat::BinaryLittleEndian;
    settings.comment = cloudComment(*attractor, *prepared.target);
    CloudControl control;

    // Progress on a terminal, while the cloud is written on this thread.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread progress;
    if (!o.quiet && isatty(STDERR_FILENO)) {
        progress = std::thread([&] {
            std::unique_lock lock(mutex);
            while (!done.wait_for(lock, std::chrono::milliseconds(250), [&] { return finished; })) {
                std::fprintf(stderr, "\rpoints: %3d %%",
                             static_cast<int>(control.progress.load() * 100));
                std::fflush(stderr);
            }
            std::fprintf(stderr, "\r             \r");
        });
    }
    const auto started = std::chrono::steady_clock::now();
    CloudResult result;
    try {
        result = writePointCloud(o.output, *attractor, *prepared.target, settings, control);
    } catch (const std::bad_alloc&) {
        result.status = CloudStatus::WriteFailed;
        result.write.status = WriteStatus::WriteFailed;
        result.write.systemError = ENOMEM;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (progress.joinable()) {
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        done.notify_all();
        progress.join();
    }

    switch (result.status) {
        case CloudStatus::Ok:
            break;
        case CloudStatus::Diverged:
            err << "quillmere-cli points: the attractor diverges after " << result.divergedAfter
                << " iterations; no cloud written\n";
            return kExitNotReached;
        case CloudStatus::WriteFailed:
            err << "quillmere-cli points: cannot write " << o.output << ": "
                << describe(result.write.status == WriteStatus::NotRegular
                                ? FileStatus::NotRegular
                                : FileStatus::WriteFailed,
                            result.write.systemError)
                << '\n';
            return kExitWriteFailed;
        case CloudStatus::Stopped:
        case CloudStatus::BadCount:
            return kExitUsage;
    }
    out << "output: " << o.output << '\n';
    out << "points: " << o.count << '\n';
    out << "format: " << (o.ascii ? "ascii" : "binary_little_endian") << '\n';
    out << "bytes: " << result.bytes << '\n';
    out << "mode: " << StringTable::builtinText(TextId::kModeNameFirst + scene.mode) << '\n';
    if (!o.scene) out << "seed: " << o.seed << '\n';
    out << "seconds: " << formatNumber(seconds) << '\n';
    if (seconds > 0)
        out << "points_per_second: "
            << static_cast<std::uint64_t>(static_cast<double>(o.count) / seconds) << '\n';
    return kExitOk;
}

}  // namespace qm::cli
