// Durations as the progress display shows them.
#pragma once

#include <string>

namespace qm {

// "hh:nn:ss": whole hours, minutes and seconds of two digits each. Hours count modulo 24, as
// a time of day would; negative and non-finite durations show as 00:00:00.
std::string formatClockDuration(double seconds);

}  // namespace qm
