// ParamList: an attractor's numeric parameters by name, in registration order, with a stack
// of value snapshots. The search, the parameter palette and the parameter file use it to
// treat every kind alike.
//
// An entry refers to its value, minimum and maximum where they live (in the attractor or in
// constant tables); it owns none of them.
#pragma once

#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

enum class ParamType : std::uint8_t {
    Int8 = 0,
    UInt8 = 1,
    Int16 = 2,
    UInt16 = 3,
    Int32 = 4,
    UInt32 = 5,
    Float = 6,
    Double = 7,
};

// Size in bytes of a value of the given type; codes above 7 count 8 bytes.
std::uint8_t paramTypeSize(ParamType type);

struct ParamEntry {
    void* value = nullptr;
    const void* minimum = nullptr;
    const void* maximum = nullptr;
    std::string name;
    // The string-table id of a name in the interface language (0: a fixed name).
    int nameTextId = 0;
    ParamType type = ParamType::Double;
    bool randomizable = false;
    std::uint8_t size = 0;

    // Values read as doubles from their own type.
    double get() const;
    double min() const;
    double max() const;
    // Stores a double in the entry's type: integers by truncation toward zero (saturating
    // at the type's limits, NaN giving 0), floats by rounding, doubles unchanged.
    void set(double v) const;
};

std::ostream& operator<<(std::ostream& os, const ParamEntry& entry);

class ParamList {
public:
    static constexpr std::int32_t kMaxSnapshots = 100;

    ParamList() = default;
    ParamList(const ParamList&) = delete;
    ParamList& operator=(const ParamList&) = delete;

    ParamEntry& addParam(std::string_view name, ParamType type, void* value, const void* minimum,
                         const void* maximum, bool randomizable);
    // Exact, case-sensitive match; an empty name finds nothing.
    ParamEntry* findParam(std::string_view name);
    const ParamEntry* findParam(std::string_view name) const;
    void setRandomizable(std::string_view name, bool flag);

    // Draws a new value for every randomizable entry, in list order, from the calling thread's
    // random31: a window of (max - min) * amount around the value, on a grid of 10^-digits.
    void randomizeAll(int digits, double amount);

    // Snapshots of every value, each in its own size. At depth 100 a push does nothing; pop and
    // drop at depth 0 do nothing.
    void pushValues();
    void popValues();
    void dropValues();
    std::int32_t snapshotDepth() const { return static_cast<std::int32_t>(snapshots_.size()); }

    // Drops every snapshot and entry.
    void clearParams();

    std::int32_t count() const { return static_cast<std::int32_t>(entries_.size()); }
    std::int32_t totalBytes() const { return totalBytes_; }
    ParamEntry& operator[](std::int32_t i) { return entries_[static_cast<std::size_t>(i)]; }
    const ParamEntry& operator[](std::int32_t i) const { return entries_[static_cast<std::size_t>(i)]; }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::deque<ParamEntry> entries_;  // a deque keeps references stable as entries are added
    std::vector<std::vector<std::uint8_t>> snapshots_;
    std::int32_t totalBytes_ = 0;
};

}  // namespace qm
