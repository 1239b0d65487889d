// Colour-map files: plain text, one colour per line as three numbers 0 to 255, turned into
// evenly spaced gradient stops. Also fills the default speed and angle gradients.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string_view>
#include <vector>

#include "core/file/input_file.h"
#include "core/property/gradient.h"

namespace qm {

// A map gives at most this many colours (a classic map has 256). Beyond, it is refused: each
// plotted point samples the gradient, and a ramp of a million stops only slows rendering down.
inline constexpr std::size_t kMaxColorMapColors = 4096;
// What a map file may hold: room for kMaxColorMapColors long lines, and for comment lines.
// NUL bytes are data: a line's scan simply ends at one.
inline constexpr TextLimits kColorMapLimits{std::size_t{4} << 20, std::size_t{1} << 18, true};

// What loading a colour-map file gave.
struct ColorMapResult {
    ReadStatus read = ReadStatus::Ok;
    int systemError = 0;     // errno when read is CannotOpen or ReadFailed
    std::size_t colors = 0;  // colours accepted, counted up to kMaxColorMapColors + 1

    bool tooMany() const { return colors > kMaxColorMapColors; }
    // Whether the gradient now holds the map (an empty one when the map gave no colour).
    explicit operator bool() const { return read == ReadStatus::Ok && !tooMany(); }
};

// Replaces the stops of gradient with the colours read from in, spaced evenly from 0 to 1, and
// simplifies them. A stream that is not good at the start leaves the stops as they were (apart
// from Simplify). Returns the number of colours accepted; 0 means the file held no colour
// (and, if it was readable, the gradient is now empty). A map of more than kMaxColorMapColors
// colours leaves the gradient as it was and gives kMaxColorMapColors + 1; reading stops there.
//
// Each line is scanned for the first three runs of at most three digits, each kept modulo 256;
// anything else separates them. A line 0 of 0 0 0 is dropped. Only the first 255 characters of
// a line are scanned; the rest of a longer line is skipped.
int loadColorMap(std::istream& in, Gradientf& gradient);
// The same for the text of a map.
ColorMapResult loadColorMapText(std::string_view text, Gradientf& gradient);
// The same for a file, read within kColorMapLimits; a file that cannot be read, or that holds
// too many colours, leaves the gradient as it was.
ColorMapResult loadColorMapFile(const std::filesystem::path& path, Gradientf& gradient);

// Loads speed.map and angle.map from programFolder into the two gradients. A file that cannot
// be read, or that gives too many colours, gives the built-in ramp instead: a hue circle from
// red back to red for speed, black to mid grey for angle. Nothing is reported.
void loadDefaultGradients(const std::filesystem::path& programFolder, Gradientf& speed,
                          Gradientf& angle);
// The same, each file taken from the first of the folders that holds it (the data folders of
// core/file/data_location.h).
void loadDefaultGradients(const std::vector<std::filesystem::path>& folders, Gradientf& speed,
                          Gradientf& angle);

// The built-in ramps alone, whatever files there are.
void setBuiltinSpeedGradient(Gradientf& speed);
void setBuiltinAngleGradient(Gradientf& angle);

}  // namespace qm
