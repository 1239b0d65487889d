// The string table: every interface text by numeric id. French is built in; a language
// module may override any text, and a text it lacks stays French.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace qm {

namespace TextId {
// Kind display names, in kind-code order.
inline constexpr int kKindNameFirst = 1000;
inline constexpr int kKindNameLast = 1010;
// Name of the Julia level parameter.
inline constexpr int kJuliaLevel = 1801;
}  // namespace TextId

class StringTable {
public:
    // The text with this id in the current language, or the built-in French text when the
    // language lacks it, or an empty text for an id nobody knows.
    const std::string& text(int id) const;
    // The built-in French text, whatever the language.
    static const std::string& builtinText(int id);

    // Overrides for the current language; an empty table means French.
    void setOverrides(std::unordered_map<int, std::string> overrides) {
        overrides_ = std::move(overrides);
    }
    void clearOverrides() { overrides_.clear(); }

private:
    std::unordered_map<int, std::string> overrides_;
};

// The program's table. Read from any thread; changed only on the interface thread while no
// worker runs.
StringTable& strings();

inline const std::string& text(int id) { return strings().text(id); }

}  // namespace qm
