// Iterations per second of every attractor kind on a representative chaotic parameter set,
// through the block path that the render loop uses, and for Lorenz also through single
// iterate calls so that the gain of batching stays visible. items_per_second = iterations/s.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/strings/string_table.h"
#include "example_sets.h"

namespace {

using namespace qm;

constexpr std::int32_t kBlock = 1024;

// The kind's file keyword ("lorenz_84"), which reads well in a benchmark name.
const std::string& kindName(AttractorKind kind) {
    return StringTable::builtinText(TextId::kKindKeywordFirst + static_cast<int>(kind));
}

void BM_IterateBlock(benchmark::State& state, const examples::ExampleSet* set) {
    auto attractor = examples::makeExample(*set);
    std::vector<Vecd> block(kBlock);
    for (auto _ : state) {
        const std::int32_t n = attractor->iterateBlock(block.data(), kBlock);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
        if (n < kBlock || attractor->iterationCount() > 1'000'000'000) attractor->restart();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void BM_IterateSingle(benchmark::State& state, const examples::ExampleSet* set) {
    auto attractor = examples::makeExample(*set);
    for (auto _ : state) {
        for (std::int32_t i = 0; i < kBlock; ++i) {
            attractor->iterate();
            benchmark::DoNotOptimize(attractor->currentPoint());
        }
        if (attractor->diverged() || attractor->iterationCount() > 1'000'000'000) attractor->restart();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

const bool registered = [] {
    for (const auto& set : examples::exampleSets()) {
        benchmark::RegisterBenchmark((std::string("IterateBlock/") + kindName(set.kind)).c_str(),
                                     BM_IterateBlock, &set);
        if (set.kind == AttractorKind::Lorenz)
            benchmark::RegisterBenchmark("IterateSingle/Lorenz", BM_IterateSingle, &set);
    }
    return true;
}();

}  // namespace
