// RenderState: everything a render needs to go on exactly where it stopped, as plain values:
// the scene text, the settings, one record per stream (orbit, generator, counter), the global
// counters, the accumulation buffers of the render target and the values the target derived
// when the render started. render_state_file.h writes and reads it as a .qmrender file.
//
// Capture, between two rounds of a render: target.captureState(state) (settings, buffers,
// values), the engine's streamStates(), and the caller's own settings and counters. Restore,
// the other way round: a target of the same mode and size takes restoreState, and an engine
// made on it with the scene's attractor takes the streams (RenderEngine::startFrom).
// captureRender and prepareResume (render_resume.h) do each in one call.
//
// The classic loop (runRender) has one orbit in the attractor itself: captureStream and
// restoreStream carry it, and the target's captureOrbitMemory the Light family's memory.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/attractor/vec.h"
#include "core/property/gradient.h"
#include "core/render/render_engine.h"

namespace qm {

inline constexpr std::uint32_t kRenderStateVersion = 1;

// An accumulation buffer, by name ("density", "light", "light0.depth", ...).
// Its floats are its own, or borrowed from the target they were captured from (see
// RenderState::borrowBuffers). A borrowed buffer may be one of several kept side by side in
// the target: its element i is then borrowed[i * stride].
struct StateBuffer {
    std::string name;
    std::vector<float> values;
    std::span<const float> borrowed;
    std::size_t stride = 1;

    std::size_t size() const {
        return borrowed.empty() ? values.size() : (borrowed.size() + stride - 1) / stride;
    }
    float operator[](std::size_t i) const {
        return borrowed.empty() ? values[i] : borrowed[i * stride];
    }
    // The floats as one run: for a buffer of its own or borrowed with stride 1 (what reading a
    // file gives); a buffer borrowed with a larger stride is for writing only.
    std::span<const float> data() const {
        return borrowed.empty() ? std::span<const float>(values) : borrowed;
    }
    // Bit for bit: a buffer may carry other values in its 32-bit elements (kFixedDensityBuffer),
    // and a state is the same only with the same bytes.
    friend bool operator==(const StateBuffer& a, const StateBuffer& b) {
        if (a.name != b.name || a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i]))
                return false;
        return true;
    }
};

// Exact doubles that the render derived at its start and must continue with (the Light
// family's ranges, the Solid light maps' fits, the colour ramps).
struct StateValues {
    std::string name;
    std::vector<double> values;

    friend bool operator==(const StateValues&, const StateValues&) = default;
};

struct RenderState {
    std::uint32_t version = kRenderStateVersion;
    // The scene as its file writes it (today an attractor file), UTF-8, kept as it is.
    std::string scene;
    // Settings as text: numbers in their shortest exact form, in the order they were set.
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<StreamState> streams;    // as RenderEngine::streamStates gives them
    std::uint64_t iterationsDone = 0;    // every stream's iterations together
    std::uint64_t developmentsDone = 0;  // periodic developments so far
    std::vector<StateBuffer> buffers;
    std::vector<StateValues> values;
    // Capture refers to the target's buffers instead of copying them, for a state written at
    // once while the target stands still (a checkpoint of a large image would otherwise need
    // its memory twice). Such a state is valid only until the target changes.
    bool borrowBuffers = false;

    friend bool operator==(const RenderState&, const RenderState&) = default;

    // Replaces a setting of that key or adds it at the end.
    void set(std::string_view key, std::string value);
    void set(std::string_view key, double value);
    void set(std::string_view key, const Vecd& value);
    const std::string* setting(std::string_view key) const;
    // A setting read as a number (as set(key, double) writes it), or none when it is missing
    // or not a finite number.
    std::optional<double> number(std::string_view key) const;
    std::optional<Vecd> vector(std::string_view key) const;

    // Copies the floats, or borrows them when borrowBuffers is set. With a stride, the buffer
    // is every stride-th float of values from the first on (count of them).
    StateBuffer& addBuffer(std::string name, std::span<const float> values);
    StateBuffer& addBuffer(std::string name, const float* first, std::size_t count,
                           std::size_t stride);
    StateBuffer& addBuffer(std::string name, std::vector<float>&& values);
    const StateBuffer* buffer(std::string_view name) const;
    void setValues(std::string name, std::vector<double> values);
    const StateValues* valuesOf(std::string_view name) const;
    // The buffer, when it is there with exactly `size` elements.
    std::optional<std::span<const float>> bufferOfSize(std::string_view name,
                                                       std::size_t size) const;
    const std::vector<double>* valuesOfSize(std::string_view name, std::size_t size) const;
};

// The shortest text that reads back as the same double, whatever the locale.
std::string formatExact(double v);
std::optional<double> parseExact(std::string_view text);

// The orbit of an attractor that runRender iterates and the generator state that goes with it.
StreamState captureStream(const Attractor& attractor, std::uint64_t randomState);
// Puts an attractor, read from the state's scene and restarted, where the saved orbit stood.
// False when the memory is not this kind's or the counter does not fit the attractor's.
bool restoreStream(const StreamState& stream, Attractor& attractor);

// A colour ramp as values (position, red, green, blue per stop) and back.
std::vector<double> gradientValues(const Gradientf& gradient);
bool gradientFromValues(const std::vector<double>& values, Gradientf& gradient);

}  // namespace qm
