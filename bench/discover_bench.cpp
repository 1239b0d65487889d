// The gallery's search and thumbnails.
//   LaneTrials/KIND/threads:J/rounds:R
//                              items_per_second = search trials per second on J threads, R
//                              rounds per batch (1 as the window searched, 8 as the tool does);
//                              trials_per_cpu_second, and parallelism: the speed-up the
//                              batches allow J idle cores (the jobs' thread times scheduled
//                              again on J cores), which other programs do not disturb
//   Finds/KIND[/thumbnails]    finds_per_minute, with or without the 200x150 Lumière
//                              thumbnails (2 threads, 16 rounds a batch), and parallelism
//   Thumbnail/MODE             time of one 200x150 thumbnail, 300,000 iterations, with its score
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "core/discover/lane_search.h"
#include "core/discover/thumbnail.h"
#include "core/discover/worker_pool.h"
#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/strings/string_table.h"

namespace {

using namespace qm;

std::string kindName(int kind) {
    return StringTable::builtinText(TextId::kKindKeywordFirst + kind);
}

ThumbnailSettings thumbnailSettings(int mode) {
    ThumbnailSettings s;
    s.mode = mode;
    loadDefaultGradients(std::filesystem::path(QM_DATA_DIR), s.speedGradient, s.angleGradient);
    return s;
}

void BM_LaneTrials(benchmark::State& state, int kind) {
    WorkerPool pool(static_cast<int>(state.range(0)));
    pool.setMeasuring(true);
    DiscoverySettings settings;
    settings.kind = kind;
    settings.seed = 20261207;
    LaneSearch search(settings);
    const std::atomic<bool> never{false};
    const int rounds = static_cast<int>(state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(search.runRounds(pool, never, rounds));
    state.SetItemsProcessed(search.trials());
    const WorkerPool::Usage usage = pool.usage();
    state.counters["trials_per_cpu_second"] =
        usage.busySeconds > 0 ? static_cast<double>(search.trials()) / usage.busySeconds : 0;
    state.counters["parallelism"] =
        usage.criticalSeconds > 0 ? usage.busySeconds / usage.criticalSeconds : 0;
}

void BM_Finds(benchmark::State& state, int kind, bool thumbnails) {
    WorkerPool pool(2);
    pool.setMeasuring(true);
    DiscoverySettings settings;
    settings.kind = kind;
    settings.seed = 20261207;
    LaneSearch search(settings);
    const ThumbnailSettings thumb = thumbnailSettings(2);
    const std::atomic<bool> never{false};
    std::int64_t finds = 0;
    // As the tool and the window search: each batch draws the last batch's finds too.
    std::vector<Find> drawing;
    const auto draw = [&](std::int64_t i) {
        auto parser = makeAttractorParser();
        LoadResult loaded =
            loadAttractorText(*parser, ReadStatus::Ok, drawing[static_cast<std::size_t>(i)].file);
        if (loaded) benchmark::DoNotOptimize(renderThumbnail(*loaded.attractor, thumb));
    };
    for (auto _ : state) {
        std::vector<Find> found =
            search.runRounds(pool, never, 16, static_cast<std::int64_t>(drawing.size()), draw);
        finds += static_cast<std::int64_t>(found.size());
        if (thumbnails) drawing = std::move(found);
    }
    state.counters["finds_per_minute"] =
        benchmark::Counter(static_cast<double>(finds) * 60, benchmark::Counter::kIsRate);
    state.counters["trials"] = static_cast<double>(search.trials());
    const WorkerPool::Usage usage = pool.usage();
    state.counters["parallelism"] =
        usage.criticalSeconds > 0 ? usage.busySeconds / usage.criticalSeconds : 0;
}

void BM_Thumbnail(benchmark::State& state, int mode) {
    const ThumbnailSettings settings = thumbnailSettings(mode);
    auto parser = makeAttractorParser();
    LoadResult loaded =
        loadAttractor(*parser, std::filesystem::path(QM_DATA_DIR) / "examples" / "lorenz.qmattr");
    if (!loaded) {
        state.SkipWithError("examples/lorenz.qmattr not readable");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(renderThumbnail(*loaded.attractor, settings));
}

const bool registered = [] {
    for (int kind : {9, 0, 1})  // Sprott order 2, Icon, IFS
        benchmark::RegisterBenchmark(("LaneTrials/" + kindName(kind)).c_str(), BM_LaneTrials, kind)
            ->ArgsProduct({{1, 2}, {1, 8}})
            ->ArgNames({"threads", "rounds"})
            ->UseRealTime()
            ->MinTime(2.0);
    for (int kind = 0; kind < kAttractorKindCount; ++kind)
        for (bool thumbnails : {false, true})
            benchmark::RegisterBenchmark(
                ("Finds/" + kindName(kind) + (thumbnails ? "/thumbnails" : "")).c_str(), BM_Finds,
                kind, thumbnails)
                ->UseRealTime()
                ->MinTime(3.0);
    for (int mode = 0; mode < kRenderModeCount; ++mode)
        benchmark::RegisterBenchmark(
            ("Thumbnail/" + StringTable::builtinText(TextId::kModeNameFirst + mode)).c_str(),
            BM_Thumbnail, mode)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
