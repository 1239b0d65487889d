#include "core/simd_lanes.h"

#include <atomic>

namespace qm::detail {

namespace {

bool cpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    // GCC's check includes the operating system's support for the YMM registers (XGETBV).
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::atomic<bool>& lanesFlag() {
    static std::atomic<bool> flag{cpuHasAvx2()};
    return flag;
}

}  // namespace

bool avx2Lanes() {
    return lanesFlag().load(std::memory_order_relaxed);
}

bool setAvx2Lanes(bool enabled) {
    const bool on = enabled && cpuHasAvx2();
    lanesFlag().store(on, std::memory_order_relaxed);
    return on;
}

}  // namespace qm::detail
