#include "core/render/state/render_resume.h"

#include <charconv>
#include <cstring>
#include <sstream>
#include <string>

#include "core/file/attractor_file.h"
#include "core/render/gas.h"
#include "core/render/memory_budget.h"
#include "core/render/state/render_state_file.h"

namespace qm {

namespace {

// The largest total the tool and the program accept.
constexpr std::int64_t kMaxTotal = 1000000000000000;

std::optional<std::int64_t> integer(const RenderState& s, std::string_view key, std::int64_t lo,
                                    std::int64_t hi) {
    const std::string* text = s.setting(key);
    if (!text) return std::nullopt;
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
    if (ec != std::errc() || ptr != text->data() + text->size() || text->empty() || v < lo ||
        v > hi)
        return std::nullopt;
    return v;
}

}  // namespace

void setRenderSettings(RenderState& state, const EngineSettings& settings) {
    state.set("iterations", std::to_string(settings.totalIterations));
    state.set("updates", std::to_string(settings.updates));
    state.set("streams", std::to_string(settings.streams));
    state.set("render_seed", std::to_string(settings.renderSeed));
    if (settings.shards > 1) {
        state.set("shard", std::to_string(settings.shard));
        state.set("shards", std::to_string(settings.shards));
    }
}

std::optional<EngineSettings> renderSettingsOf(const RenderState& state) {
    const auto iterations = integer(state, "iterations", 0, kMaxTotal);
    const auto updates = integer(state, "updates", 1, 100);
    const auto streams = integer(state, "streams", 1, kMaxStreams);
    const std::string* seed = state.setting("render_seed");
    std::uint64_t renderSeed = 0;
    if (!iterations || !updates || !streams || !seed || seed->empty() ||
        std::from_chars(seed->data(), seed->data() + seed->size(), renderSeed).ptr !=
            seed->data() + seed->size())
        return std::nullopt;
    EngineSettings settings;
    settings.totalIterations = *iterations;
    settings.updates = static_cast<std::int32_t>(*updates);
    settings.streams = static_cast<std::int32_t>(*streams);
    settings.threads = 0;
    settings.renderSeed = renderSeed;
    // A shard's state; a whole render has neither key.
    if (state.setting("shards") || state.setting("shard")) {
        const auto shards = integer(state, "shards", 2, *streams);
        if (!shards) return std::nullopt;
        const auto shard = integer(state, "shard", 0, *shards - 1);
        if (!shard) return std::nullopt;
        settings.shards = static_cast<std::int32_t>(*shards);
        settings.shard = static_cast<std::int32_t>(*shard);
    }
    return settings;
}

void captureRender(const TBitmap3D& target, const RenderEngine& engine, std::uint64_t developments,
                   RenderState& state) {
    target.captureState(state);
    // Gas's threads keep part of the sums until the next development.
    std::vector<std::int64_t> sums;
    if (engine.pendingFixedSums(sums))
        for (StateBuffer& b : state.buffers)
            if (b.name == kFixedDensityBuffer) {
                b.borrowed = {};
                b.stride = 1;
                b.values.resize(2 * sums.size());
                std::memcpy(b.values.data(), sums.data(), sums.size() * sizeof(std::int64_t));
            }
    state.streams = engine.streamStates();
    state.iterationsDone = static_cast<std::uint64_t>(engine.counter());
    state.developmentsDone = developments;
}

ResumeStatus prepareResume(const RenderState& state, std::int32_t threads, ResumedRender& out) {
    std::optional<EngineSettings> settings = renderSettingsOf(state);
    const auto mode = integer(state, "mode", 0, kRenderModeCount - 1);
    const auto width = integer(state, "width", 16, 16384);
    const auto height = integer(state, "height", 16, 16384);
    if (!settings || !mode || !width || !height) return ResumeStatus::BadSettings;
    settings->threads = threads;

    // The target takes as much memory again as the buffers the state holds, and the engine
    // its threads' sums (Gas with several streams).
    const auto w = static_cast<std::int32_t>(*width), h = static_cast<std::int32_t>(*height);
    const std::uint64_t available = availableMemoryBytes();
    if (renderMemoryNeed(static_cast<int>(*mode), w, h, settings->streams, threads, available) >
        available)
        return ResumeStatus::TooLarge;

    std::istringstream sceneText(state.scene);
    LoadResult loaded = readAttractor(*makeAttractorParser(), sceneText);
    if (!loaded) return ResumeStatus::BadScene;
    ResumedRender r;
    r.attractor = std::move(loaded.attractor);
    r.attractor->restart();
    r.target = CreateRenderTarget(static_cast<int>(*mode));
    r.target->SetWidth(w);
    r.target->SetHeight(h);
    if (!r.target->restoreState(state)) return ResumeStatus::BadTarget;
    if (r.target->renderMode() == RenderMode::Gas && settings->streams > 1 &&
        static_cast<const TBitmap3D_Gas&>(*r.target).fixedDensity.empty())
        return ResumeStatus::EarlierGasSums;
    r.engine = std::make_unique<RenderEngine>(*r.attractor, *r.target, *settings);
    if (!r.engine->startFrom(state.streams)) return ResumeStatus::BadStreams;
    r.settings = *settings;
    if (const std::string* scene = state.setting(kSceneFileSetting)) r.sceneFile = *scene;
    out = std::move(r);
    return ResumeStatus::Ok;
}

}  // namespace qm
