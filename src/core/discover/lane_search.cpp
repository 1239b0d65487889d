#include "core/discover/lane_search.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <sstream>

#include "core/discover/worker_pool.h"
#include "core/file/attractor_file.h"
#include "core/render/sampling.h"

namespace qm {

std::uint64_t laneGeneratorState(std::uint32_t seed, int lane) {
    // splitmix64 of the pair: distinct lanes of one seed, and the same lane of distinct seeds,
    // start far apart in the generator's sequence.
    std::uint64_t z =
        (std::uint64_t{seed} << 32 | static_cast<std::uint32_t>(lane)) + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

int defaultOption(int kind) {
    if (kind == static_cast<int>(AttractorKind::IFS)) return 4;
    if (kind == static_cast<int>(AttractorKind::PolynomialSprott)) return 2;
    return 0;
}

bool previewStaysBounded(Attractor& attractor) {
    constexpr std::int32_t kSampling = kPreviewIterations + kSamplingTransient;
    std::array<Vecd, 512> block;
    attractor.restart();
    for (std::int32_t done = 0; done < kSampling && !attractor.diverged();)
        done += attractor.iterateBlock(block.data(), std::min<std::int32_t>(512, kSampling - done));
    return !attractor.diverged();
}

// Aligned so that two lanes never share a cache line: two cores run two lanes at once.
struct alignas(64) LaneSearch::Lane {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<Parser> parser;
    Random31 generator;
    std::vector<Find> finds;         // of the current batch
    std::atomic<int> roundsDone{0};  // of the current batch
};

namespace {

std::unique_ptr<Attractor> loadOrigin(const std::string& text) {
    auto parser = makeAttractorParser();
    LoadResult loaded = loadAttractorText(*parser, ReadStatus::Ok, text);
    return std::move(loaded.attractor);
}

}  // namespace

LaneSearch::LaneSearch(const DiscoverySettings& settings) : settings_(settings) {
    settings_.lanes = std::max(settings_.lanes, 1);
    settings_.trialsPerRound = std::max(settings_.trialsPerRound, 1);
    settings_.percent = std::clamp(settings_.percent, 1, 100);
    if (!settings_.origin.empty()) {
        for (int i = 0; i < settings_.lanes; ++i) {
            auto lane = std::make_unique<Lane>();
            lane->attractor = loadOrigin(settings_.origin);
            if (!lane->attractor) {
                lanes_.clear();
                return;
            }
            lane->parser = makeAttractorParser();
            lane->generator.state = laneGeneratorState(settings_.seed, i);
            lanes_.push_back(std::move(lane));
        }
        settings_.kind = lanes_.front()->attractor->kindCode();
        return;
    }
    for (int i = 0; i < settings_.lanes; ++i) {
        auto lane = std::make_unique<Lane>();
        const int kind = settings_.kind == kAllKinds ? i % kAttractorKindCount : settings_.kind;
        const int option = settings_.kind == kAllKinds || settings_.option == 0
                               ? defaultOption(kind)
                               : settings_.option;
        lane->attractor =
            createAttractor(static_cast<std::int8_t>(kind), static_cast<std::int8_t>(option));
        lane->parser = makeAttractorParser();
        lane->generator.state = laneGeneratorState(settings_.seed, i);
        lanes_.push_back(std::move(lane));
    }
}

LaneSearch::~LaneSearch() = default;

std::vector<Find> LaneSearch::runRound(WorkerPool& pool, const std::atomic<bool>& stop) {
    return runRounds(pool, stop, 1);
}

std::vector<Find> LaneSearch::runRounds(WorkerPool& pool, const std::atomic<bool>& stop, int rounds,
                                        std::int64_t extraJobs,
                                        const std::function<void(std::int64_t)>& extra) {
    rounds = std::max(rounds, 1);
    extraJobs = extra ? std::max<std::int64_t>(extraJobs, 0) : 0;
    const std::uint64_t first = round_;
    round_ += static_cast<std::uint64_t>(rounds);
    const double amount = settings_.percent / 100.0;
    const auto laneCount = static_cast<std::int64_t>(lanes_.size());
    std::atomic<bool> cut{false};
    for (auto& lane : lanes_) {
        lane->finds.clear();
        lane->roundsDone.store(0);
    }
    // One job per lane and round, the rounds one after another: the lanes' jobs are short, so
    // the batch ends with little more than one job's wait for the slowest. A lane's round
    // follows its previous round, which was handed out a whole round of jobs earlier and has
    // nearly always ended by then; otherwise the job waits for it.
    pool.run(extraJobs + rounds * laneCount, [&](std::int64_t job) {
        if (job < extraJobs) {
            extra(job);
            return;
        }
        const auto r = static_cast<int>((job - extraJobs) / laneCount);
        const std::int64_t index = (job - extraJobs) % laneCount;
        Lane& lane = *lanes_[static_cast<std::size_t>(index)];
        for (int done = lane.roundsDone.load(); done < r; done = lane.roundsDone.load())
            lane.roundsDone.wait(done);
        // The lane's generator is the thread's while the lane runs: the trial, the IFS draw
        // and the sampling all draw from random31.
        Random31 saved = threadRandom31();
        threadRandom31() = lane.generator;
        std::int64_t trials = 0;
        for (int t = 0; t < settings_.trialsPerRound; ++t) {
            Attractor& a = *lane.attractor;
            a.OnDiverge = nullptr;
            if (stop.load(std::memory_order_relaxed)) {
                cut = true;
                break;
            }
            ++trials;
            if (!a.search(amount)) continue;
            Find find;
            find.lyapunov = a.lyapunov();
            find.dimension = a.dimension();
            find.kind = a.kindCode();
            const bool bounded = previewStaysBounded(a);
            std::ostringstream text;
            const bool written = bounded && writeAttractor(*lane.parser, a, text);
            // Near a find, each trial starts from the find again: an accepted trial would
            // otherwise carry the lane away from it step by step.
            if (!settings_.origin.empty()) lane.attractor = loadOrigin(settings_.origin);
            if (!written) continue;
            find.round = first + static_cast<std::uint64_t>(r);
            find.lane = static_cast<int>(index);
            find.trial = t;
            find.file = text.str();
            lane.finds.push_back(std::move(find));
        }
        // Counted once per job: a counter shared by every trial would bounce between cores.
        trials_.fetch_add(trials, std::memory_order_relaxed);
        lane.generator = threadRandom31();
        threadRandom31() = saved;
        lane.roundsDone.store(r + 1);
        lane.roundsDone.notify_all();
    });
    if (cut) stopped_ = true;
    std::vector<Find> finds;
    for (auto& lane : lanes_)
        for (Find& f : lane->finds) finds.push_back(std::move(f));
    // Each lane's finds are in (round, trial) order; the rounds then go one after another.
    std::stable_sort(finds.begin(), finds.end(),
                     [](const Find& a, const Find& b) { return a.round < b.round; });
    return finds;
}

}  // namespace qm
