#include "cli/arguments.h"

#include <charconv>

namespace qm::cli {

std::optional<std::string> Arguments::parse(const std::vector<std::string>& args,
                                            const std::set<std::string, std::less<>>& valueOptions,
                                            const std::set<std::string, std::less<>>& flags) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-o") arg = "--output";  // the one short option
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            positional_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // Messages name the option as it was typed.
        const std::string shown = args[i] == "-o" ? args[i] : "--" + name;
        if (flags.contains(name)) {
            if (inlineValue) return "option " + shown + " takes no value";
            if (!flags_.insert(name).second) return "option " + shown + " is given twice";
        } else if (valueOptions.contains(name)) {
            if (values_.contains(name)) return "option " + shown + " is given twice";
            if (!inlineValue) {
                // The next word is the value unless it is an option itself; negative numbers
                // ("--rotate -10,5") are values.
                if (i + 1 >= args.size() || args[i + 1] == "-o" || args[i + 1].starts_with("--"))
                    return "option " + shown + " needs a value";
                inlineValue = args[++i];
            }
            if (inlineValue->empty()) return "option " + shown + " needs a value";
            values_[name] = *inlineValue;
        } else {
            return "unknown option --" + name;
        }
    }
    return std::nullopt;
}

std::optional<std::string> Arguments::value(std::string_view name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t lo, std::int64_t hi) {
    std::int64_t v = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || first == last || v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<double> parseCheckpointSeconds(std::string_view text) {
    double v = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || first == last || !(v >= 0.01 && v <= 1e9))
        return std::nullopt;
    return v;
}

std::string formatNumber(double v) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("nan");
}

}  // namespace qm::cli
