// LaneSearch: the gallery's search. A fixed number of lanes each own an attractor and a
// random31 state fixed by the seed and the lane's index; the lanes run the document's search
// trial in rounds, and the finds come out in the order (round, lane, trial). The finds thus
// depend on the seed alone: the number of threads that run the lanes changes only the speed.
//
// Protocol: construct, then call runRound until enough finds have come out or the stop flag
// is set. A find is a trial accepted as the search command accepts it (a positive Lyapunov
// exponent, a dimension of at least 1.5) whose preview sampling then stays bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/attractor/random31.h"

namespace qm {

class WorkerPool;

inline constexpr int kDiscoveryLanes = 64;
inline constexpr int kAllKinds = -1;

struct DiscoverySettings {
    int kind = 0;       // a kind code, or kAllKinds: lane i searches kind i mod 11
    int option = 0;     // map count (IFS), order (Sprott); 0 gives the kind's default
    int percent = 100;  // the "Hasard" percentage, 1 to 100
    std::uint32_t seed = 0;
    int lanes = kDiscoveryLanes;
    // Trials each lane runs per round: enough that a round's work outweighs its hand-over.
    int trialsPerRound = 8;
    // A search near a find ("more like this"): the find's parameter file. When set, every lane
    // starts each trial from these parameters (kind and option come from the file), so that
    // every find lies within the percentage of them; kind and option above are ignored.
    std::string origin;
};

struct Find {
    std::uint64_t round = 0;
    int lane = 0;
    int trial = 0;  // within the lane's round
    int kind = 0;
    double lyapunov = 0;
    double dimension = 0;
    std::string file;  // the attractor's parameter file (.qmattr text)
};

// The lane's starting generator state: a fixed 64-bit mix (splitmix64) of seed and lane.
std::uint64_t laneGeneratorState(std::uint32_t seed, int lane);

// The option a kind's search uses when none is given: 4 IFS maps, Sprott order 2.
int defaultOption(int kind);

class LaneSearch {
public:
    // An origin that does not read as a parameter file makes no lanes: valid() is then false
    // and runRound finds nothing.
    explicit LaneSearch(const DiscoverySettings& settings);
    ~LaneSearch();

    // Runs one round on the pool (the calling thread waits): every lane runs its trials in
    // order. Returns the round's finds in (lane, trial) order. Every lane checks stop between
    // trials; a round cut short by it returns what was found and leaves stopped() set.
    std::vector<Find> runRound(WorkerPool& pool, const std::atomic<bool>& stop);

    // Runs the next `rounds` rounds in one batch: the same finds, in the same order, as that
    // many calls of runRound, with one wait for the slowest lane instead of one per round
    // (a round's few long trials leave the other cores idle at its end otherwise). extraJobs
    // further jobs share the batch, handed out before the lanes so that long ones (the last
    // finds' thumbnails) do not trail; extra(i) runs on a pool thread with its own random31.
    std::vector<Find> runRounds(WorkerPool& pool, const std::atomic<bool>& stop, int rounds,
                                std::int64_t extraJobs = 0,
                                const std::function<void(std::int64_t)>& extra = {});

    std::uint64_t rounds() const { return round_; }
    std::int64_t trials() const { return trials_.load(std::memory_order_relaxed); }
    bool stopped() const { return stopped_; }
    bool valid() const { return !lanes_.empty(); }
    const DiscoverySettings& settings() const { return settings_; }

private:
    struct Lane;

    DiscoverySettings settings_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::uint64_t round_ = 0;
    std::atomic<std::int64_t> trials_{0};
    bool stopped_ = false;
};

// The search command's closing check on an accepted trial: restarts the attractor and runs the
// preview sampling's iterations (500 dropped, 20000 kept); true when it stayed bounded.
bool previewStaysBounded(Attractor& attractor);

}  // namespace qm
