// Attractor: the base of every attractor kind. It holds what all kinds share (the current
// point, the iteration count, the bounding box, the divergence state, the search estimates)
// and the ParamList through which the search, the palette and the files see the parameters.
//
// Protocol: create with createAttractor, set parameters, restart, then iterate (or
// iterateBlock) until diverged. Call restart again after every parameter change.
#pragma once

#include "core/hot_path.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/attractor/param_list.h"
#include "core/attractor/random31.h"
#include "core/attractor/vec.h"

namespace qm {

enum class AttractorKind : std::int8_t {
    Icon = 0,
    IFS = 1,
    Julia = 2,
    Lorenz = 3,
    Lorenz84 = 4,
    Pickover = 5,
    PolynomialA = 6,
    PolynomialB = 7,
    PolynomialC = 8,
    PolynomialSprott = 9,
    Unravel = 10,
};
inline constexpr int kAttractorKindCount = 11;

class Attractor {
public:
    // Called by diverge outside a search, on the thread that iterates.
    using DivergeHandler = std::function<void(Attractor&)>;

    static constexpr double kDivergenceBound = 100000.0;
    static constexpr int kHistorySize = 500;

    virtual ~Attractor();
    Attractor(const Attractor&) = delete;
    Attractor& operator=(const Attractor&) = delete;

    // Draws new values for the randomizable parameters; false refuses the draw.
    virtual bool randomize(double amount);
    // One step of the kind's map or flow, applied to any point (the search also steps a
    // shadow point). Never counts and never tests for divergence: iterate does.
    virtual void step(Vecd& point) = 0;
    virtual void resetBounds();
    virtual void extendBounds();
    virtual void afterSearch() {}
    // Sets the kind's start point, then clears the iteration state.
    virtual void restart();

    // A new attractor of the same kind, option and parameter values, restarted: an orbit of
    // its own for a parallel render. The calling thread's random31 is left as it was. None for
    // a kind the factory does not make.
    virtual std::unique_ptr<Attractor> clone() const;
    // What the orbit remembers beyond the current point (Julia's start point, countdown and
    // root stack), so that an orbit can be carried to another object or a file and continue
    // exactly. Empty for the kinds whose next point depends on the current one alone.
    virtual std::vector<double> orbitMemory() const { return {}; }
    // Takes a memory from orbitMemory of an attractor of the same kind and parameters;
    // anything else is ignored.
    virtual void setOrbitMemory(const std::vector<double>&) {}

    // step, then the divergence test (any coordinate beyond +-100000 or NaN), then count.
    void iterate() {
        step(currentPoint_);
        if (outOfBounds(currentPoint_)) diverge();
        ++iterationCount_;
    }

    // The batched form of iterate for hot loops: iterates up to n times, writing each new
    // current point to out, and stops after the point at which the attractor has diverged
    // (that point is written). Returns the number of points written. Points, counter and
    // divergence are exactly those of the same number of iterate calls.
    virtual std::int32_t iterateBlock(Vecd* out, std::int32_t n) = 0;

    void diverge();

    // One trial of the random search: draws new values for the randomizable parameters
    // (a window of amount times each range), then runs and measures the orbit. Keeps the new
    // values and returns true when the orbit stayed bounded for 20000 iterations with a
    // Lyapunov exponent of at least 0.001 bit per iteration and a correlation dimension of at
    // least 1.5; otherwise restores every parameter exactly and returns false. Either way the
    // attractor is left restarted and iterated, with the trial's estimates.
    bool search(double amount);
    // The measuring part of a trial on the current parameters: restart, reset the bounds,
    // iterate while estimating the Lyapunov exponent and the correlation dimension (stopping
    // early on divergence or, after the transient, on a non-positive exponent), afterSearch.
    void measure();
    // Whether the last measurement met the acceptance thresholds of a trial.
    bool measuredChaotic() const;

    static constexpr std::int32_t kTrialLength = 20000;

    // Written as "not within" so that a NaN coordinate, which compares false with anything,
    // counts as out of bounds: an orbit that became NaN has diverged. Finite points test
    // exactly as |c| > 100000.
    static bool outOfBounds(const Vecd& p) {
        return !(std::fabs(p.x) <= kDivergenceBound && std::fabs(p.y) <= kDivergenceBound &&
                 std::fabs(p.z) <= kDivergenceBound);
    }

    DivergeHandler OnDiverge;

    AttractorKind kind() const { return static_cast<AttractorKind>(kindCode_); }
    std::int8_t kindCode() const { return kindCode_; }
    const std::string& displayName() const { return displayName_; }
    // Takes the kind's display name and the names of the parameters that have one in the
    // interface language from the string table again, after a change of language.
    void retranslate();
    ParamList& params() { return params_; }
    const ParamList& params() const { return params_; }

    // Puts a restarted attractor where a saved orbit stood.
    void resumeOrbit(const Vecd& point, std::int32_t count, bool diverged) {
        currentPoint_ = point;
        iterationCount_ = count;
        diverged_ = diverged;
    }

    const Vecd& currentPoint() const { return currentPoint_; }
    void setCurrentPoint(const Vecd& p) { currentPoint_ = p; }
    std::int32_t iterationCount() const { return iterationCount_; }
    // For callers that count in 64 bits themselves (the parallel render's streams): keeps the
    // 32-bit counter of a long orbit from overflowing. Iteration does not depend on it.
    void resetIterationCount() { iterationCount_ = 0; }
    bool diverged() const { return diverged_; }
    bool searching() const { return searching_; }
    std::int8_t coordinateCount() const { return coordinateCount_; }

    const Vecd& minCorner() const { return minCorner_; }
    const Vecd& maxCorner() const { return maxCorner_; }
    double lyapunov() const { return lyapunov_; }
    double dimension() const { return dimension_; }

    // The loop behind every kind's iterateBlock. step(point, generator) is the kind's
    // non-virtual step; it takes the generator by reference so that the thread's random31
    // state is loaded and stored once per block instead of once per draw. Points, counter,
    // divergence and generator are exactly those of iterate.
    // kStepMayDiverge: the kind's step itself may call diverge (Unravel).
    template <bool kStepMayDiverge, class Step>
    QM_HOT_INLINE std::int32_t iterateBlockWith(Vecd* __restrict out, std::int32_t n, Step&& step) {
        // The point and the counter live in locals during the block (a store and reload per step
        // would lengthen the step's dependency chain) and go back to the members before diverge
        // and at the end. The divergence is handled after the loop, which keeps the loop free of
        // calls: the kind's coefficients then stay in registers instead of being reloaded after
        // every stored point (reloads that also stall when a point's address happens to share
        // its low bits with theirs). A step that diverges by itself (Unravel with R = 0) does
        // so on the first step of any block, while the members are still current.
        Random31& shared = threadRandom31();
        Random31 rng = shared;
        Vecd p = currentPoint_;
        std::int32_t count = iterationCount_;
        std::int32_t i = 0;
        bool escaped = false;
        // An attractor that has diverged already takes one more step, as iterate would.
        const bool stopAfterOne = diverged_;
        while (i < n) {
            step(p, rng);
            if (outOfBounds(p)) {
                escaped = true;
                break;
            }
            ++count;
            out[i++] = p;
            if (stopAfterOne || (kStepMayDiverge && diverged_)) break;
        }
        if (escaped) {
            // OnDiverge sees the point, the counter and the generator as iterate leaves them.
            currentPoint_ = p;
            iterationCount_ = count;
            shared = rng;
            diverge();
            rng = shared;
            ++count;
            out[i++] = p;
        }
        currentPoint_ = p;
        iterationCount_ = count;
        shared = rng;
        return i;
    }

protected:
    Attractor();

private:
    void updateDimension();
    void updateLyapunov();

protected:
    // Sets the kind code and loads the kind's display name.
    void setKind(AttractorKind kind);

    // Shared by search and iteration.
    Vecd shadowPoint_;
    double logSum_ = 0.0;
    double extentSquared_ = 0.0;
    std::unique_ptr<std::array<Vecd, kHistorySize>> history_;
    std::int32_t logCount_ = 0;
    std::int32_t nearPairs_ = 0;
    std::int32_t closePairs_ = 0;
    std::int16_t historyIndex_ = 0;
    bool searching_ = false;
    std::string displayName_;
    Vecd currentPoint_;
    Vecd minCorner_;
    Vecd maxCorner_;
    double lyapunov_ = 0.0;
    double dimension_ = 0.0;
    std::int8_t kindCode_ = -1;
    ParamList params_;
    std::int32_t iterationCount_ = 0;
    std::int8_t coordinateCount_ = 3;
    bool diverged_ = false;
};

// A new attractor of the given kind code (0 to 10), or none for any other code. The option
// is the number of IFS maps (2 to 8) or the Sprott polynomial order (2 to 5), clamped to that
// range; other kinds ignore it.
std::unique_ptr<Attractor> createAttractor(std::int8_t kindCode, std::int8_t option);

}  // namespace qm
