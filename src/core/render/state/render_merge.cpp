#include "core/render/state/render_merge.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "core/render/gas.h"
#include "core/render/state/render_resume.h"

namespace qm {

namespace {

// Settings that may differ between the parts of one render.
bool ownToPart(const std::string& key) {
    return key == "shard" || key == "checkpoint_every";
}

std::string settingsDifference(const RenderState& a, const RenderState& b) {
    // The kept scene sums the other settings up: it is compared last, and not quoted (it is a
    // whole file), so that the message names the setting that makes the difference.
    auto keys = [](const RenderState& s) {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& kv : s.settings)
            if (!ownToPart(kv.first) && kv.first != kSceneFileSetting) out.push_back(kv);
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto ka = keys(a), kb = keys(b);
    for (const auto& kv : ka) {
        const std::string* other = b.setting(kv.first);
        if (!other) return "the setting " + kv.first + " is missing";
        if (*other != kv.second)
            return "the setting " + kv.first + " differs (" + kv.second + " and " + *other + ")";
    }
    for (const auto& kv : kb)
        if (!a.setting(kv.first)) return "the setting " + kv.first + " is missing";
    const std::string* sceneA = a.setting(kSceneFileSetting);
    const std::string* sceneB = b.setting(kSceneFileSetting);
    if ((sceneA == nullptr) != (sceneB == nullptr))
        return "the setting " + std::string(kSceneFileSetting) + " is missing";
    if (sceneA && *sceneA != *sceneB)
        return "the setting " + std::string(kSceneFileSetting) + " differs";
    return {};
}

}  // namespace

bool isNearestBuffer(std::string_view name) {
    return name == "surface" || name == "depth" || name.ends_with(".depth");
}

std::optional<ShardOf> shardOf(const RenderState& part) {
    const auto settings = renderSettingsOf(part);
    if (!settings) return std::nullopt;
    return ShardOf{settings->shard, settings->shards};
}

std::vector<std::size_t> bufferSizes(const RenderState& part) {
    std::vector<std::size_t> sizes;
    for (const StateBuffer& b : part.buffers) sizes.push_back(b.data().size());
    return sizes;
}

std::optional<std::string> checkRenderParts(const std::vector<RenderState>& parts,
                                            const std::vector<std::vector<std::size_t>>& sizes,
                                            const std::vector<std::string>& names,
                                            std::vector<std::int32_t>& byShard) {
    if (parts.empty()) return std::string("no part given");
    const std::size_t n = parts.size();
    std::vector<ShardOf> shard(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto s = shardOf(parts[i]);
        if (!s) return names[i] + ": its render settings are missing or out of range";
        shard[i] = *s;
    }
    const std::int32_t K = shard[0].shards;
    // Each part in its shard's place.
    byShard.assign(static_cast<std::size_t>(K), -1);
    for (std::size_t i = 0; i < n; ++i) {
        if (shard[i].shards != K)
            return names[i] + " is a shard of " + std::to_string(shard[i].shards) + ", " +
                   names[0] + " of " + std::to_string(K);
        if (parts[i].scene != parts[0].scene)
            return names[i] + " renders another scene than " + names[0];
        if (const std::string d = settingsDifference(parts[0], parts[i]); !d.empty())
            return names[i] + " does not belong to the render of " + names[0] + ": " + d;
        if (parts[i].values != parts[0].values)
            return names[i] +
                   " started from other derived values (colour ramps, light fits) than " + names[0];
        if (parts[i].streams.size() != parts[0].streams.size() ||
            parts[i].buffers.size() != parts[0].buffers.size())
            return names[i] + " has other streams or buffers than " + names[0];
        for (std::size_t b = 0; b < parts[i].buffers.size(); ++b)
            if (parts[i].buffers[b].name != parts[0].buffers[b].name || sizes[i] != sizes[0])
                return names[i] + " has other buffers than " + names[0];
        std::int32_t& slot = byShard[static_cast<std::size_t>(shard[i].shard)];
        if (slot >= 0)
            return "shard " + std::to_string(shard[i].shard) + " is given twice (" +
                   names[static_cast<std::size_t>(slot)] + " and " + names[i] + ")";
        slot = static_cast<std::int32_t>(i);
    }
    std::string missing;
    for (std::int32_t s = 0; s < K; ++s)
        if (byShard[static_cast<std::size_t>(s)] < 0)
            missing += (missing.empty() ? "" : ", ") + std::to_string(s);
    if (!missing.empty())
        return "shard " + missing + " of " + std::to_string(K) + " is missing (shards are 0 to " +
               std::to_string(K - 1) + ")";

    // Every part must have run to the same point: the end, or a divergence.
    const auto settings = renderSettingsOf(parts[0]);
    for (std::int32_t s = 0; s < K; ++s) {
        const RenderState& p =
            parts[static_cast<std::size_t>(byShard[static_cast<std::size_t>(s)])];
        const bool diverged = std::any_of(p.streams.begin(), p.streams.end(),
                                          [](const StreamState& st) { return st.diverged; });
        if (!diverged && p.iterationsDone < static_cast<std::uint64_t>(settings->totalIterations))
            return names[static_cast<std::size_t>(byShard[static_cast<std::size_t>(s)])] +
                   " is not finished (" + std::to_string(p.iterationsDone) + " of " +
                   std::to_string(settings->totalIterations) +
                   " iterations): render or resume it to its end";
    }

    return std::nullopt;
}

void addRenderPart(RenderState& merged, RenderState&& part, std::int32_t shard,
                   std::int32_t shards) {
    std::vector<StreamState> own = std::move(part.streams);
    if (shard == 0) {
        // The first part gives everything but the other shards' streams.
        merged = RenderState{};
        merged.scene = std::move(part.scene);
        for (auto& kv : part.settings)
            if (kv.first != "shard" && kv.first != "shards") merged.settings.push_back(kv);
        merged.values = std::move(part.values);
        merged.streams.resize(own.size());
        for (StateBuffer& b : part.buffers) {
            std::vector<float> values(b.data().begin(), b.data().end());
            merged.addBuffer(b.name, std::move(values));
        }
    } else {
        for (std::size_t b = 0; b < merged.buffers.size(); ++b) {
            std::vector<float>& values = merged.buffers[b].values;
            const std::span<const float> add = part.buffers[b].data();
            if (isNearestBuffer(merged.buffers[b].name)) {
                for (std::size_t i = 0; i < values.size(); ++i)
                    values[i] = std::min(values[i], add[i]);
            } else if (merged.buffers[b].name == kFixedDensityBuffer) {
                // 64-bit integers, two elements each: their sum is the whole render's,
                // saturating as the engine's sums do (gas.h).
                for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
                    std::int64_t sum, more;
                    std::memcpy(&sum, &values[i], sizeof sum);
                    std::memcpy(&more, &add[i], sizeof more);
                    sum = addFixedSums(sum, more);
                    std::memcpy(&values[i], &sum, sizeof sum);
                }
            } else {
                for (std::size_t i = 0; i < values.size(); ++i) values[i] += add[i];
            }
        }
    }
    for (std::size_t k = static_cast<std::size_t>(shard); k < own.size();
         k += static_cast<std::size_t>(shards))
        merged.streams[k] = own[k];
    merged.developmentsDone = std::max(merged.developmentsDone, part.developmentsDone);
    std::uint64_t iterations = 0;
    for (const StreamState& st : merged.streams) iterations += st.count;
    merged.iterationsDone = iterations;
    part = RenderState{};
}

std::optional<std::string> mergeRenderParts(std::vector<RenderState>& parts,
                                            const std::vector<std::string>& names,
                                            RenderState& merged) {
    std::vector<std::vector<std::size_t>> sizes;
    for (const RenderState& p : parts) sizes.push_back(bufferSizes(p));
    std::vector<std::int32_t> byShard;
    if (auto problem = checkRenderParts(parts, sizes, names, byShard)) return problem;
    const auto K = static_cast<std::int32_t>(byShard.size());
    for (std::int32_t s = 0; s < K; ++s)
        addRenderPart(
            merged,
            std::move(parts[static_cast<std::size_t>(byShard[static_cast<std::size_t>(s)])]), s, K);
    return std::nullopt;
}

}  // namespace qm
