// Language modules: the interface texts of one language, in a UTF-8 file beside the program.
//
//   quillmere-language 1
//   # comment
//   1003<TAB>Lorenz
//   3110<TAB>Untitled<SPACE>
//
// The first line that is neither empty nor a comment names the format. Every other line gives
// a text by its id; "\t", "\n" and "\\" stand for a tab, a line break and a backslash, and a
// carriage return before the line break is dropped. A line that cannot be used is skipped and
// reported, so that a damaged module still gives every text it holds; the file keywords of
// the attractor file never change.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

struct LanguageModule {
    std::unordered_map<int, std::string> texts;
    // One message per skipped line ("line 12: ...").
    std::vector<std::string> problems;
};

inline constexpr std::string_view kLanguageModuleHeader = "quillmere-language 1";
// Larger files are not modules: the whole English table is a few kilobytes.
inline constexpr std::uintmax_t kMaxLanguageModuleBytes = 1 << 20;

// The module in `content`, or nothing (with the reason in *error) when it is not a module.
std::optional<LanguageModule> parseLanguageModule(std::string_view content,
                                                  std::string* error = nullptr);
std::optional<LanguageModule> readLanguageModule(const std::filesystem::path& file,
                                                 std::string* error = nullptr);

// True when `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

}  // namespace qm
