#include "core/property/color_map.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/file/data_location.h"

namespace qm {

namespace {

// A line is read into a fixed buffer: at most 255 characters and the terminating zero.
constexpr std::streamsize kLineBufferSize = 256;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The first three numbers of a line, each a run of one to three digits kept modulo 256; a longer
// run of digits is cut after its third digit and the rest starts the next number. Every other
// byte (sign, decimal point, comma, carriage return, letter) only separates numbers.
std::optional<std::array<unsigned, 3>> scanLine(const char* line) {
    std::array<unsigned, 3> numbers{};
    std::size_t found = 0;
    std::streamsize i = 0;
    while (found < numbers.size() && i < kLineBufferSize - 1 && line[i] != '\0') {
        if (!isDigit(line[i])) {
            ++i;
            continue;
        }
        unsigned value = 0;
        for (int digits = 0; digits < 3 && i < kLineBufferSize - 1 && isDigit(line[i]); ++digits) {
            value = value * 10 + static_cast<unsigned>(line[i] - '0');
            ++i;
        }
        numbers[found++] = value & 0xffu;
    }
    if (found < numbers.size()) return std::nullopt;
    return numbers;
}

// n / 255 with the reciprocal and the product in extended precision, rounded once to float.
float toComponent(unsigned n) {
    return static_cast<float>(n * (1.0L / 255.0L));
}

// Reads every line to the end of the stream and collects the colours it accepts. Each call of
// getline either consumes input or sets eof, fail or bad, and the loop ends on any of these, so
// it cannot spin on a stream in an error state. Reading stops at the first colour beyond
// kMaxColorMapColors.
void readColors(std::istream& in, std::vector<ColorRGBf>& colors) {
    char line[kLineBufferSize];
    bool firstLine = true;
    for (;;) {
        in.getline(line, kLineBufferSize);
        if (in.fail() && !in.eof() && !in.bad()) {
            // 255 characters and no line feed yet: the line is cut there and the rest of it
            // skipped, so that it does not read as a line of its own.
            if (in.gcount() == 0) break;
            in.clear();
            in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        // A last line without a line feed ends in eof but still counts.
        if (const auto numbers = scanLine(line)) {
            const auto [r, g, b] = *numbers;
            // Only line 0 drops black: some maps start with a black entry that is not meant
            // as a colour of the ramp.
            if (!(firstLine && r == 0 && g == 0 && b == 0)) {
                colors.push_back({toComponent(r), toComponent(g), toComponent(b)});
                if (colors.size() > kMaxColorMapColors) break;
            }
        }
        firstLine = false;
        if (!in.good()) break;
    }
}

// Makes the stops of gradient from the colours collected.
void setStops(const std::vector<ColorRGBf>& colors, Gradientf& gradient) {
    const std::size_t n = colors.size();
    if (n == 1) {
        // k / (n - 1) would be 0 / 0: a single stop at 0 samples to its colour everywhere.
        gradient.AddStop(0.0, colors.front());
    } else {
        for (std::size_t k = 0; k < n; ++k) {
            gradient.AddStop(static_cast<double>(k) / static_cast<double>(n - 1), colors[k]);
        }
    }
}

}  // namespace

int loadColorMap(std::istream& in, Gradientf& gradient) {
    std::vector<ColorRGBf> colors;
    // A stream that is already failed (a file that did not open) leaves the stops alone.
    if (in.good()) {
        readColors(in, colors);
        if (colors.size() > kMaxColorMapColors) return static_cast<int>(colors.size());
        gradient.Clear();
    }
    setStops(colors, gradient);
    gradient.Simplify();
    return static_cast<int>(std::min<std::size_t>(colors.size(), INT_MAX));
}

ColorMapResult loadColorMapText(std::string_view text, Gradientf& gradient) {
    std::istringstream in{std::string(text)};
    ColorMapResult result;
    result.colors = static_cast<std::size_t>(loadColorMap(in, gradient));
    return result;
}

ColorMapResult loadColorMapFile(const std::filesystem::path& path, Gradientf& gradient) {
    std::string text;
    ColorMapResult result;
    result.read = readTextFile(path, kColorMapLimits, text, &result.systemError);
    if (result.read != ReadStatus::Ok) return result;
    result.colors = loadColorMapText(text, gradient).colors;
    return result;
}

void loadDefaultGradients(const std::filesystem::path& programFolder, Gradientf& speed,
                          Gradientf& angle) {
    loadDefaultGradients(std::vector<std::filesystem::path>{programFolder}, speed, angle);
}

void loadDefaultGradients(const std::vector<std::filesystem::path>& folders, Gradientf& speed,
                          Gradientf& angle) {
    // Each file on its own, so the second file is tried whatever became of the first.
    const auto loadFile = [&folders](const char* name, Gradientf& gradient) {
        const auto path = findDataFile(folders, name);
        return path && loadColorMapFile(*path, gradient);
    };
    if (!loadFile("speed.map", speed)) setBuiltinSpeedGradient(speed);
    if (!loadFile("angle.map", angle)) setBuiltinAngleGradient(angle);
}

void setBuiltinSpeedGradient(Gradientf& speed) {
    speed.Clear();
    speed.AddStop(0.0, {1.0f, 0.0f, 0.0f});
    speed.AddStop(0.166, {1.0f, 1.0f, 0.0f});
    speed.AddStop(0.333, {0.0f, 1.0f, 0.0f});
    speed.AddStop(0.5, {0.0f, 1.0f, 1.0f});
    speed.AddStop(0.666, {0.0f, 0.0f, 1.0f});
    speed.AddStop(0.833, {1.0f, 0.0f, 1.0f});
    speed.AddStop(1.0, {1.0f, 0.0f, 0.0f});
}

void setBuiltinAngleGradient(Gradientf& angle) {
    angle.Clear();
    angle.AddStop(0.0, {0.0f, 0.0f, 0.0f});
    angle.AddStop(1.0, {0.5f, 0.5f, 0.5f});
}

}  // namespace qm
