// The memory side of an image size: what writing the image adds to the render target, and how
// much this process may still allocate. Both are checked before a target is sized, so that a
// size too large for the machine or for the process's limits is refused with the figures
// instead of failing half-way.
#pragma once

#include <cstdint>

namespace qm {

// The copy of the image an encoder holds while a file is written: the BMP writer builds the
// whole file in memory; a PNG's compressed rows take at most about as much. 3 bytes a pixel,
// the width counted as SetWidth keeps it.
std::uint64_t imageEncoderBytes(std::int32_t width, std::int32_t height);

// One thread's fixed-point sums of a multi-stream Gas render (GasFixedSums): 8 bytes a pixel.
std::uint64_t gasThreadSumBytes(std::int32_t width, std::int32_t height);
// Whether a Gas render of several streams gives each of `threads` threads sums of its own:
// when they all take at most half of budgetBytes. Otherwise the threads add atomically into
// the target's sums, which is slower and takes nothing more.
bool gasThreadSumsFit(std::uint64_t perThreadBytes, std::int32_t threads,
                      std::uint64_t budgetBytes);

// What a render of the mode (0 to 4) at this size takes with `streams` streams on `threads`
// threads (0: every core the process may use), as the render engine allocates it: the render
// target's image and buffers (Gas's fixed-point sums only with several streams), and Gas's
// sums per thread where they fit in half of budgetBytes.
std::uint64_t renderMemoryNeed(int mode, std::int32_t width, std::int32_t height,
                               std::int32_t streams, std::int32_t threads,
                               std::uint64_t budgetBytes);

// What rendering an image of the mode at this size and writing it needs: renderMemoryNeed
// (against memoryBudget()) and the encoder's copy. The program and the tool both refuse a size
// whose need is above memoryBudget().
std::uint64_t imageMemoryNeed(int mode, std::int32_t width, std::int32_t height,
                              std::int32_t streams, std::int32_t threads);

// Which limit bounds the budget.
enum class MemoryLimit : std::uint8_t {
    HalfPhysical,  // half the machine's memory: a render leaves room for everything else
    AddressSpace,  // RLIMIT_AS (ulimit -v)
    DataSegment,   // RLIMIT_DATA (ulimit -d)
    ControlGroup,  // the memory.max of the process's control group or one of its ancestors
};

struct MemoryBudget {
    std::uint64_t bytes = 0;
    MemoryLimit limit = MemoryLimit::HalfPhysical;
};

// What this process may still allocate: the least of half the physical memory and of what each
// process limit leaves above the current use (address space, data segment, control group).
MemoryBudget memoryBudget();

}  // namespace qm
