#include "core/render/state/render_state.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace qm {

std::string formatExact(double v) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

std::optional<double> parseExact(std::string_view text) {
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void RenderState::set(std::string_view key, std::string value) {
    for (auto& [k, v] : settings) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    settings.emplace_back(std::string(key), std::move(value));
}

void RenderState::set(std::string_view key, double value) {
    set(key, formatExact(value));
}

void RenderState::set(std::string_view key, const Vecd& value) {
    set(key, formatExact(value.x) + ' ' + formatExact(value.y) + ' ' + formatExact(value.z));
}

const std::string* RenderState::setting(std::string_view key) const {
    for (const auto& [k, v] : settings)
        if (k == key) return &v;
    return nullptr;
}

std::optional<double> RenderState::number(std::string_view key) const {
    const std::string* text = setting(key);
    if (!text) return std::nullopt;
    return parseExact(*text);
}

std::optional<Vecd> RenderState::vector(std::string_view key) const {
    const std::string* text = setting(key);
    if (!text) return std::nullopt;
    double c[3];
    std::string_view rest = *text;
    for (int i = 0; i < 3; ++i) {
        const auto space = rest.find(' ');
        if ((i < 2) != (space != std::string_view::npos)) return std::nullopt;
        const auto v = parseExact(rest.substr(0, space));
        if (!v) return std::nullopt;
        c[i] = *v;
        if (i < 2) rest.remove_prefix(space + 1);
    }
    return Vecd{c[0], c[1], c[2]};
}

StateBuffer& RenderState::addBuffer(std::string name, std::span<const float> data) {
    if (borrowBuffers) {
        buffers.push_back({std::move(name), {}, data});
        return buffers.back();
    }
    return addBuffer(std::move(name), std::vector<float>(data.begin(), data.end()));
}

StateBuffer& RenderState::addBuffer(std::string name, const float* first, std::size_t count,
                                    std::size_t stride) {
    if (stride <= 1) return addBuffer(std::move(name), std::span<const float>(first, count));
    if (borrowBuffers && count > 0) {
        buffers.push_back({std::move(name), {}, {first, (count - 1) * stride + 1}, stride});
        return buffers.back();
    }
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = first[i * stride];
    return addBuffer(std::move(name), std::move(values));
}

StateBuffer& RenderState::addBuffer(std::string name, std::vector<float>&& data) {
    buffers.push_back({std::move(name), std::move(data), {}});
    return buffers.back();
}

const StateBuffer* RenderState::buffer(std::string_view name) const {
    for (const StateBuffer& b : buffers)
        if (b.name == name) return &b;
    return nullptr;
}

void RenderState::setValues(std::string name, std::vector<double> data) {
    for (StateValues& v : values) {
        if (v.name == name) {
            v.values = std::move(data);
            return;
        }
    }
    values.push_back({std::move(name), std::move(data)});
}

const StateValues* RenderState::valuesOf(std::string_view name) const {
    for (const StateValues& v : values)
        if (v.name == name) return &v;
    return nullptr;
}

std::optional<std::span<const float>> RenderState::bufferOfSize(std::string_view name,
                                                                std::size_t size) const {
    const StateBuffer* b = buffer(name);
    if (!b || b->data().size() != size) return std::nullopt;
    return b->data();
}

const std::vector<double>* RenderState::valuesOfSize(std::string_view name,
                                                     std::size_t size) const {
    const StateValues* v = valuesOf(name);
    return v && v->values.size() == size ? &v->values : nullptr;
}

StreamState captureStream(const Attractor& attractor, std::uint64_t randomState) {
    StreamState s;
    s.point = attractor.currentPoint();
    s.random = randomState;
    s.count = static_cast<std::uint64_t>(attractor.iterationCount());
    s.diverged = attractor.diverged();
    s.orbitMemory = attractor.orbitMemory();
    return s;
}

bool restoreStream(const StreamState& stream, Attractor& attractor) {
    if (stream.count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    // setOrbitMemory ignores a memory that is not the kind's: it then does not come back.
    const std::vector<double> previous = attractor.orbitMemory();
    attractor.setOrbitMemory(stream.orbitMemory);
    if (attractor.orbitMemory() != stream.orbitMemory) {
        attractor.setOrbitMemory(previous);
        return false;
    }
    attractor.resumeOrbit(stream.point, static_cast<std::int32_t>(stream.count), stream.diverged);
    return true;
}

std::vector<double> gradientValues(const Gradientf& gradient) {
    std::vector<double> v;
    v.reserve(4 * gradient.count());
    for (const ColorEntry<float>& e : gradient.stops()) {
        v.push_back(e.position);
        v.push_back(e.color.r);
        v.push_back(e.color.g);
        v.push_back(e.color.b);
    }
    return v;
}

bool gradientFromValues(const std::vector<double>& values, Gradientf& gradient) {
    if (values.size() % 4 != 0) return false;
    // Colours were floats: a value that is not one cannot come from a saved ramp.
    for (std::size_t i = 0; i < values.size(); i += 4)
        for (std::size_t c = 1; c < 4; ++c)
            if (static_cast<double>(static_cast<float>(values[i + c])) != values[i + c] &&
                !std::isnan(values[i + c]))
                return false;
    Gradientf g;
    // AddStop puts a stop in front of those at the same position, so the stops go in from the
    // last: every one then lands in front of all the others and the order stays as saved.
    for (std::size_t i = values.size(); i >= 4; i -= 4)
        g.AddStop(values[i - 4],
                  {static_cast<float>(values[i - 3]), static_cast<float>(values[i - 2]),
                   static_cast<float>(values[i - 1])});
    gradient = std::move(g);
    return true;
}

}  // namespace qm
