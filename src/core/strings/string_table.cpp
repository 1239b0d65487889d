#include "core/strings/string_table.h"

namespace qm {

namespace {

const std::unordered_map<int, std::string>& builtinTexts() {
    static const std::unordered_map<int, std::string> texts = {
        // Kind display names
        {1000, "Icon"},
        {1001, "IFS"},
        {1002, "Julia"},
        {1003, "Lorenz"},
        {1004, "Lorenz-84"},
        {1005, "Pickover"},
        {1006, "Polynôme, type A"},
        {1007, "Polynôme, type B"},
        {1008, "Polynôme, type C"},
        {1009, "Polynôme Sprott"},
        {1010, "Unravel"},
        // Parameter names
        {1801, "Niveau"},
    };
    return texts;
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

const std::string& StringTable::builtinText(int id) {
    const auto& texts = builtinTexts();
    const auto it = texts.find(id);
    return it != texts.end() ? it->second : emptyText();
}

const std::string& StringTable::text(int id) const {
    if (const auto it = overrides_.find(id); it != overrides_.end()) return it->second;
    return builtinText(id);
}

StringTable& strings() {
    static StringTable table;
    return table;
}

}  // namespace qm
