// The tool's inputs: files named on the command line, standard input for "-", each read
// within the limits of its kind, and the reasons given when one cannot be read.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli/commands.h"

#include "cli/arguments.h"
#include "core/render/bitmap3d.h"
#include "core/strings/string_table.h"

namespace qm::cli {

std::string describe(ReadStatus status, const TextLimits& limits, int systemError) {
    std::string text;
    switch (status) {
        case ReadStatus::Ok:
            return "no error";
        case ReadStatus::CannotOpen:
            text = "cannot open the file";
            break;
        case ReadStatus::NotRegular:
            text = "not a regular file (a folder, a device, a pipe or a socket)";
            break;
        case ReadStatus::TooLarge:
            text = "larger than " + std::to_string(limits.maxBytes) + " bytes";
            break;
        case ReadStatus::TooManyLines:
            text = "more than " + std::to_string(limits.maxLines) + " lines";
            break;
        case ReadStatus::NotText:
            text = "not a text file";
            break;
        case ReadStatus::ReadFailed:
            text = "reading failed";
            break;
    }
    if (systemError != 0) text += std::string(" (") + std::strerror(systemError) + ")";
    return text;
}

ReadStatus readInputText(const std::string& name, const TextLimits& limits, std::string& text,
                         int* systemError) {
    if (isStandardStream(name)) return readTextDescriptor(STDIN_FILENO, limits, text, systemError);
    return readTextFile(name, limits, text, systemError);
}

LoadResult loadAttractorInput(Parser& parser, const std::string& name, int* systemError) {
    std::string text;
    const ReadStatus status = readInputText(
        name, TextLimits{kMaxAttractorFileBytes, kMaxAttractorFileLines}, text, systemError);
    return loadAttractorText(parser, status, text);
}

int parseMode(const std::string& text) {
    for (int m = 0; m < kRenderModeCount; ++m) {
        const std::string& name = StringTable::builtinText(TextId::kModeNameFirst + m);
        if (text == name) return m;
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (text == lower) return m;
    }
    if (text == "lumiere" || text == "Lumiere") return static_cast<int>(RenderMode::Light);
    if (const auto index = parseInteger(text, 0, kRenderModeCount - 1)) return static_cast<int>(*index);
    return -1;
}

std::optional<double> parseReal(const std::string& text) {
    double v = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::filesystem::path programFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : exe.parent_path();
}

}  // namespace qm::cli
