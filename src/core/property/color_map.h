// Colour-map files: plain text, one colour per line as three numbers 0 to 255, turned into
// evenly spaced gradient stops. Also fills the default speed and angle gradients.
#pragma once

#include <filesystem>
#include <istream>
#include <vector>

#include "core/property/gradient.h"

namespace qm {

// Replaces the stops of gradient with the colours read from in, spaced evenly from 0 to 1, and
// simplifies them. A stream that is not good at the start leaves the stops as they were (apart
// from Simplify). Returns the number of colours accepted; 0 means the file held no colour
// (and, if it was readable, the gradient is now empty).
//
// Each line is scanned for the first three runs of at most three digits, each kept modulo 256;
// anything else separates them. A line 0 of 0 0 0 is dropped. Only the first 255 characters of
// a line are scanned; the rest of a longer line is skipped.
int loadColorMap(std::istream& in, Gradientf& gradient);

// Loads speed.map and angle.map from programFolder into the two gradients. A file that cannot
// be opened gives the built-in ramp instead: a hue circle from red back to red for speed, black
// to mid grey for angle. Nothing is reported.
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
