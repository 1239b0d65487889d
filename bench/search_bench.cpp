// Search trials per second for every kind at a "Hasard" of 100 %, from the new-document
// defaults. items_per_second is trials per second; accept_rate the share of trials accepted.
#include <benchmark/benchmark.h>

#include <string>

#include "core/attractor/attractor.h"
#include "core/strings/string_table.h"

namespace {

using namespace qm;

void BM_SearchTrial(benchmark::State& state, AttractorKind kind) {
    const std::int8_t option = kind == AttractorKind::IFS ? 4 : 2;
    auto attractor = createAttractor(static_cast<std::int8_t>(kind), option);
    seedRandom31(20261207);
    std::int64_t accepted = 0;
    for (auto _ : state) accepted += attractor->search(1.0) ? 1 : 0;
    state.SetItemsProcessed(state.iterations());
    state.counters["accept_rate"] =
        benchmark::Counter(static_cast<double>(accepted) / static_cast<double>(state.iterations()));
}

const bool registered = [] {
    for (int k = 0; k < kAttractorKindCount; ++k)
        benchmark::RegisterBenchmark(("SearchTrial/" + StringTable::builtinText(TextId::kKindKeywordFirst + k)).c_str(),
                                     BM_SearchTrial, static_cast<AttractorKind>(k));
    return true;
}();

}  // namespace
