#include "cli/search_options.h"

#include <ctime>
#include <vector>

#include "cli/commands.h"
#include "core/attractor/attractor.h"
#include "core/discover/lane_search.h"

namespace qm::cli {

std::optional<std::string> readSearchOptions(const Arguments& a, SearchBasics& o, bool allKinds,
                                             std::span<const RangedOption> extra) {
    const auto kind = a.value("kind");
    if (!kind) return std::string("--kind is required");
    const bool all = allKinds && *kind == "all";
    o.kind = all ? kAllKinds : parseKind(*kind);
    if (o.kind == -1 && !all) return "unknown kind '" + *kind + "'";

    const bool ifs = o.kind == static_cast<int>(AttractorKind::IFS);
    const bool sprott = o.kind == static_cast<int>(AttractorKind::PolynomialSprott);
    if (const auto text = a.value("option")) {
        if (!ifs && !sprott)
            return std::string("--option applies only to ifs and polynomial_sprott");
        const auto v = parseInteger(*text, 2, ifs ? 8 : 5);
        if (!v)
            return ifs ? std::string("--option takes a map count from 2 to 8")
                       : std::string("--option takes an order from 2 to 5");
        o.option = static_cast<int>(*v);
    }

    std::int64_t percent = o.percent, threads = o.threads;
    std::int64_t seed = static_cast<std::uint32_t>(std::time(nullptr));
    std::vector<RangedOption> ranged = {{"count", 1, kMaxSearchCount, &o.count},
                                        {"randomness", 1, 100, &percent},
                                        {"max-trials", 1, 1'000'000'000'000, &o.maxTrials},
                                        {"seed", 0, 0xFFFFFFFFll, &seed},
                                        {"threads", 1, 256, &threads}};
    ranged.insert(ranged.end(), extra.begin(), extra.end());
    for (const RangedOption& r : ranged) {
        if (const auto text = a.value(r.name)) {
            const auto v = parseInteger(*text, r.lo, r.hi);
            if (!v)
                return "--" + std::string(r.name) + " takes a whole number from " +
                       std::to_string(r.lo) + " to " + std::to_string(r.hi);
            *r.target = *v;
        }
    }
    o.percent = static_cast<int>(percent);
    o.threads = static_cast<int>(threads);
    o.seed = static_cast<std::uint32_t>(seed);

    const auto out = a.value("out");
    if (!out || out->empty()) return std::string("--out DIR is required");
    o.out = *out;
    return std::nullopt;
}

}  // namespace qm::cli
