// Durations as the progress display shows them.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// "hh:nn:ss": whole hours, minutes and seconds of two digits each. Hours count modulo 24, as
// a time of day would; negative and non-finite durations show as 00:00:00.
std::string formatClockDuration(double seconds);
// The total time of a render: "hh:nn:ss", with tenths of a second ("00:00:03,4" with the
// separator ",") under ten seconds, so that a fast render does not read 00:00:00. Tenths are
// truncated, as the seconds are.
std::string formatRenderTime(double seconds, std::string_view separator);

}  // namespace qm
