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
// Kind keywords of the attractor parameter file, in kind-code order.
inline constexpr int kKindKeywordFirst = 1400;
inline constexpr int kKindKeywordLast = 1410;
// Name of the Julia level parameter.
inline constexpr int kJuliaLevel = 1801;
// Keywords of the attractor parameter file. A language module must carry them unchanged:
// files are read and written with whatever the table holds.
inline constexpr int kFileAttractor = 2400;
inline constexpr int kFileType = 2401;
inline constexpr int kFileMatrices = 2402;
inline constexpr int kFileOrder = 2403;
inline constexpr int kFileCoefficients = 2404;
inline constexpr int kFileParameters = 2405;
// Render mode names, in mode-index order.
inline constexpr int kModeNameFirst = 2000;
inline constexpr int kModeNameLast = 2004;
// Render parameter names.
inline constexpr int kLuminosity = 2050;
inline constexpr int kGamma = 2051;
inline constexpr int kRoughness = 2052;
inline constexpr int kOpacity = 2053;
inline constexpr int kSpeedGradient = 2054;
inline constexpr int kAngleGradient = 2055;
// Render progress and its end; "%u" stands for the iteration count.
inline constexpr int kDivergedAfter = 2500;
inline constexpr int kSpeedLabel = 2501;
inline constexpr int kRemainingLabel = 2502;
inline constexpr int kTotalTimeLabel = 2503;
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
