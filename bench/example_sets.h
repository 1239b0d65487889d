// Representative chaotic parameter sets, one per kind, for benchmarks and tests. The values
// are in each kind's parameter-list order; IFS sets also carry the chaos-game seed.
#pragma once

#include <cstdint>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/attractor/ifs.h"

namespace qm::examples {

struct ExampleSet {
    AttractorKind kind;
    std::int8_t option;
    std::int32_t seed;
    std::vector<double> values;
};

inline const std::vector<ExampleSet>& exampleSets() {
    static const std::vector<ExampleSet> sets = {
    {AttractorKind::Icon, 0, 0,
     {3, 0.047, -1.889, -0.05, 1.695, 1.253}},
    {AttractorKind::IFS, 3, 591789776,
     {2.077, 1.599, 2.565, 0.244, -0.47, 0.269,
          -0.246, -0.113, -0.119, -0.074, 0.121, 0.178,
          0.68, 0.049, 0.707, 0.0170924, 2.543, 0.427,
          1.602, -0.59, 0.139, 0.444, 0.004, 0.018,
          -0.032, -0.021, -0.161, -0.102, 0.178, 0.546,
          -0.141, 0.00259029, 0.351, 2.401, 3.034, 0.629,
          0.698, -0.661, -0.133, -0.081, 0.061, -0.196,
          -0.108, -0.186, 0.907, -0.432, 0.209, 0.980317}},
    {AttractorKind::Julia, 0, 0,
     {8, 0.475, -0.45, 2.076}},
    {AttractorKind::Lorenz, 0, 0,
     {10, 28, 2.667, 0.01}},
    {AttractorKind::Lorenz84, 0, 0,
     {4.372, 0.408, 4.976, 0.645, 0.175}},
    {AttractorKind::Pickover, 0, 0,
     {-2.762, 0.929, -1.64, 2.693}},
    {AttractorKind::PolynomialA, 0, 0,
     {1.055, 0.19, 1.648}},
    {AttractorKind::PolynomialB, 0, 0,
     {0.47, 0.748, -0.653, 0.894, 0.857, 0.284}},
    {AttractorKind::PolynomialC, 0, 0,
     {0.338, 0.517, -0.262, 0.843, -0.646, 0.605,
          0.863, 0.219, -1.104, 0.241, 0.88, 0.454,
          0.782, 0.36, -1.013, -0.939, -0.655, 0.188}},
    {AttractorKind::PolynomialSprott, 2, 0,
     {-0.468, -0.578, 1.064, 0.117, -1.102, -0.656,
          -0.855, 0.703, -1.008, 0.314, 0.674, 0.777,
          -0.799, 0.399, -0.072, 0.582, -0.419, -0.259,
          -1.143, -0.891, -0.103, -0.599, -0.3, -0.119,
          0.049, -0.155, -0.883, 0.718, -0.922, -0.825}},
    {AttractorKind::Unravel, 0, 0,
     {-0.265, 0.049, -0.635, -2.982, -2.781, -2.15,
          1.663}},
    };
    return sets;
}

// A new attractor carrying the set's values, restarted and ready to iterate.
inline std::unique_ptr<Attractor> makeExample(const ExampleSet& set) {
    auto a = createAttractor(static_cast<std::int8_t>(set.kind), set.option);
    ParamList& params = a->params();
    for (std::int32_t i = 0; i < params.count() && i < static_cast<std::int32_t>(set.values.size()); ++i)
        params[i].set(set.values[static_cast<std::size_t>(i)]);
    if (set.kind == AttractorKind::IFS) static_cast<IFS&>(*a).setSeed(set.seed);
    a->restart();
    return a;
}

}  // namespace qm::examples
