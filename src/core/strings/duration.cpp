#include "core/strings/duration.h"

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

}  // namespace qm
