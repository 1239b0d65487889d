#include "core/attractor/param_list.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/attractor/random31.h"
#include "core/math/cr_exp_log.h"

namespace qm {

namespace {

template <class T>
T load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

double readAs(ParamType type, const void* p) {
    switch (type) {
        case ParamType::Int8: return load<std::int8_t>(p);
        case ParamType::UInt8: return load<std::uint8_t>(p);
        case ParamType::Int16: return load<std::int16_t>(p);
        case ParamType::UInt16: return load<std::uint16_t>(p);
        case ParamType::Int32: return load<std::int32_t>(p);
        case ParamType::UInt32: return load<std::uint32_t>(p);
        case ParamType::Float: return load<float>(p);
        case ParamType::Double: break;
    }
    return load<double>(p);
}

// Truncation toward zero; out-of-range values saturate instead of being undefined.
template <class I>
I truncateTo(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<I>::min())) return std::numeric_limits<I>::min();
    if (v >= static_cast<double>(std::numeric_limits<I>::max())) return std::numeric_limits<I>::max();
    return static_cast<I>(v);
}

}  // namespace

std::uint8_t paramTypeSize(ParamType type) {
    switch (type) {
        case ParamType::Int8:
        case ParamType::UInt8: return 1;
        case ParamType::Int16:
        case ParamType::UInt16: return 2;
        case ParamType::Int32:
        case ParamType::UInt32:
        case ParamType::Float: return 4;
        case ParamType::Double: break;
    }
    return 8;
}

double ParamEntry::get() const { return readAs(type, value); }
double ParamEntry::min() const { return readAs(type, minimum); }
double ParamEntry::max() const { return readAs(type, maximum); }

void ParamEntry::set(double v) const {
    switch (type) {
        case ParamType::Int8: store(value, truncateTo<std::int8_t>(v)); return;
        case ParamType::UInt8: store(value, truncateTo<std::uint8_t>(v)); return;
        case ParamType::Int16: store(value, truncateTo<std::int16_t>(v)); return;
        case ParamType::UInt16: store(value, truncateTo<std::uint16_t>(v)); return;
        case ParamType::Int32: store(value, truncateTo<std::int32_t>(v)); return;
        case ParamType::UInt32: store(value, truncateTo<std::uint32_t>(v)); return;
        case ParamType::Float: store(value, static_cast<float>(v)); return;
        case ParamType::Double: break;
    }
    store(value, v);
}

std::ostream& operator<<(std::ostream& os, const ParamEntry& entry) {
    return os << entry.name << " = " << entry.get() << " [" << entry.min() << ", " << entry.max()
              << "]" << (entry.randomizable ? " random" : "");
}

ParamEntry& ParamList::addParam(std::string_view name, ParamType type, void* value,
                                const void* minimum, const void* maximum, bool randomizable) {
    ParamEntry& e = entries_.emplace_back();
    e.value = value;
    e.minimum = minimum;
    e.maximum = maximum;
    e.name = std::string(name);
    e.type = type;
    e.randomizable = randomizable;
    e.size = paramTypeSize(type);
    totalBytes_ += e.size;
    return e;
}

ParamEntry* ParamList::findParam(std::string_view name) {
    if (name.empty()) return nullptr;
    for (ParamEntry& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

const ParamEntry* ParamList::findParam(std::string_view name) const {
    return const_cast<ParamList*>(this)->findParam(name);
}

void ParamList::setRandomizable(std::string_view name, bool flag) {
    if (ParamEntry* e = findParam(name)) e->randomizable = flag;
}

void ParamList::randomizeAll(int digits, double amount) {
    Random31& rng = threadRandom31();
    for (ParamEntry& e : entries_) {
        if (!e.randomizable) continue;
        const double v = e.get();
        const double lo = e.min();
        const double hi = e.max();
        const double w = (hi - lo) * amount;
        double drawn = 0.0;
        if (w > 0 && digits > 0) {
            const double g = crm::pow(10.0, digits);
            double start;
            if (v - w / 2 < lo)
                start = lo;
            else if (v + w / 2 > hi)
                start = hi - w;
            else
                start = v - w / 2;
            // m = w * g truncated; a width too large for 32 bits saturates rather than wrapping.
            const std::int64_t m = truncateTo<std::int32_t>(w * g);
            const std::int64_t r = m != 0 ? rng.next() % m : 0;
            drawn = static_cast<double>(r) / g + start;
        }
        e.set(drawn);
    }
}

void ParamList::pushValues() {
    if (snapshotDepth() >= kMaxSnapshots) return;
    std::vector<std::uint8_t>& block = snapshots_.emplace_back(static_cast<std::size_t>(totalBytes_));
    std::uint8_t* out = block.data();
    for (const ParamEntry& e : entries_) {
        std::memcpy(out, e.value, e.size);
        out += e.size;
    }
}

void ParamList::popValues() {
    if (snapshots_.empty()) return;
    const std::uint8_t* in = snapshots_.back().data();
    for (const ParamEntry& e : entries_) {
        std::memcpy(e.value, in, e.size);
        in += e.size;
    }
    snapshots_.pop_back();
}

void ParamList::dropValues() {
    if (!snapshots_.empty()) snapshots_.pop_back();
}

void ParamList::clearParams() {
    snapshots_.clear();
    entries_.clear();
    totalBytes_ = 0;
}

}  // namespace qm
