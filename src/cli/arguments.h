// Parsing of the tool's options: "--name value" or "--name=value", plus positional words.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qm::cli {

class Arguments {
public:
    // Splits args into options and positional words. valueOptions take a value, flags do not.
    // Returns an error text for an unknown option, a missing or empty value, or an option
    // given twice. A value is missing when the next word is -o or starts with "--".
    std::optional<std::string> parse(const std::vector<std::string>& args,
                                     const std::set<std::string, std::less<>>& valueOptions,
                                     const std::set<std::string, std::less<>>& flags);

    bool has(std::string_view name) const { return values_.contains(name) || flags_.contains(name); }
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::map<std::string, std::string, std::less<>> values_;
    std::set<std::string, std::less<>> flags_;
    std::vector<std::string> positional_;
};

// Whole-string integer in [lo, hi]; none for anything else.
std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t lo, std::int64_t hi);

// Seconds between two checkpoints: a number from 0.01 to 1e9.
std::optional<double> parseCheckpointSeconds(std::string_view text);

// Shortest text that reads back to the same double, independent of the locale.
std::string formatNumber(double v);

}  // namespace qm::cli
