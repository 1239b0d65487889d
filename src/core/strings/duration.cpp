#include "core/strings/duration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qm {

std::string formatClockDuration(double seconds) {
    // A day in whole seconds is enough: hours wrap at 24 anyway.
    const double wrapped = std::isfinite(seconds) && seconds > 0 ? std::fmod(seconds, 86400.0) : 0.0;
    const auto total = static_cast<long>(wrapped);
    char text[64];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, (total / 60) % 60, total % 60);
    return text;
}

std::string formatRenderTime(double seconds, std::string_view separator) {
    if (!(std::isfinite(seconds) && seconds >= 0 && seconds < 10))
        return formatClockDuration(seconds);
    // Whole tenths, with a margin for products such as 2.3 * 10 = 22.999999999999996.
    const auto tenths = static_cast<long>(std::floor(seconds * 10.0 + 1e-6));
    std::string clock = formatClockDuration(static_cast<double>(tenths / 10));
    clock += separator;
    clock += static_cast<char>('0' + std::clamp(tenths % 10, 0L, 9L));
    return clock;
}

}  // namespace qm
