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
        // Kind keywords of the attractor parameter file
        {1400, "icon"},
        {1401, "ifs"},
        {1402, "julia"},
        {1403, "lorenz"},
        {1404, "lorenz_84"},
        {1405, "pickover"},
        {1406, "polynomial_a"},
        {1407, "polynomial_b"},
        {1408, "polynomial_c"},
        {1409, "polynomial_sprott"},
        {1410, "unravel"},
        // Parameter names
        {1801, "Niveau"},
        // Keywords of the attractor parameter file
        {2400, "attractor"},
        {2401, "type"},
        {2402, "matrices"},
        {2403, "order"},
        {2404, "coefficients"},
        {2405, "parameters"},
        // Render modes and their parameters
        {2000, "Gaz"},
        {2001, "Liquide"},
        {2002, "Lumière"},
        {2003, "Plasma"},
        {2004, "Solide"},
        {2050, "Luminosité"},
        {2051, "Gamma"},
        {2052, "Rugosité"},
        {2053, "Opacité"},
        {2054, "Dégr. Vitesse"},
        {2055, "Dégr. Angle"},
        // Render progress
        {2500, "Plus d'attracteur après %u itérations"},
        {2501, "i/s : "},
        {2502, "temps restant : "},
        {2503, "temps total : "},
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
