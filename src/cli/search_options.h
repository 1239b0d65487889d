// The options the tool's searches share (search and gallery): the kind and its option, the
// number of finds, the randomness, the budget of trials, the seed, the threads and the output
// folder, read and checked alike with the same messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "cli/arguments.h"

namespace qm::cli {

struct SearchBasics {
    int kind = -1;              // or kAllKinds where "--kind all" is taken
    std::optional<int> option;  // IFS maps or Sprott order, when given
    std::int64_t count = 1;     // finds wanted
    int percent = 100;          // --randomness
    std::int64_t maxTrials = 100000;
    std::uint32_t seed = 0;  // the clock's when not given
    int threads = 1;
    std::filesystem::path out;
};

// A whole-number option in [lo, hi] beyond the shared ones.
struct RangedOption {
    const char* name;
    std::int64_t lo, hi;
    std::int64_t* target;  // left as it is when the option is not given
};

// Finds are numbered in four digits.
inline constexpr std::int64_t kMaxSearchCount = 9999;

// Reads the shared options into o, whose values stand for those not given, then the extra
// whole-number options; the user's sentence for the first one that is wrong. allKinds takes
// "--kind all" (kAllKinds).
std::optional<std::string> readSearchOptions(const Arguments& a, SearchBasics& o, bool allKinds,
                                             std::span<const RangedOption> extra = {});

}  // namespace qm::cli
