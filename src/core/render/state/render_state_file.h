// The render-state file (.qmrender): a RenderState on disk, written completely or not at all,
// read back only when every declared size and checksum holds and its buffers fit in memory.
//
// Layout, little-endian throughout:
//   header (112 bytes): "QMRENDER", format version, header size, file size, the global
//     counters, the size of every section, the stream record size and count, the buffer
//     count, the CRC-32 of each of the four first sections and last the CRC-32 of the header
//   text section: the scene and the settings, each a length-prefixed UTF-8 string
//   stream section: one fixed record of 1264 bytes per stream
//   values section: named arrays of doubles
//   buffer directory: per buffer its name, element count (floats), compressed size and the
//     CRC-32 of its compressed bytes
//   buffer data: each buffer's floats compressed with zlib, one after the other
#pragma once

#include <cstdint>
#include <filesystem>

#include "core/file/atomic_write.h"
#include "core/render/state/render_state.h"

namespace qm {

inline constexpr char kRenderStateMagic[8] = {'Q', 'M', 'R', 'E', 'N', 'D', 'E', 'R'};
inline constexpr std::uint32_t kRenderStateHeaderSize = 112;
inline constexpr std::uint32_t kStreamRecordSize = 1264;
// Room for a kind's orbit memory in a stream record (Julia's takes 137 values).
inline constexpr std::size_t kMaxOrbitMemory = 144;

// Writes the state to path through a temporary file: the buffers are compressed one piece at
// a time straight into it, so the file is never built whole in memory. A previous file at
// path stays as it was until the new one is complete.
WriteResult writeRenderState(const std::filesystem::path& path, const RenderState& state);

enum class StateReadStatus : std::uint8_t {
    Ok,
    CannotOpen,      // missing, or no permission
    NotRegularFile,  // a folder, a device, a pipe...
    NotAState,       // no render-state magic
    OtherVersion,    // a format version this program does not read
    Truncated,       // shorter than its header says
    Corrupt,         // a checksum or a declared size does not hold
    TooLarge,        // the buffers need more memory than this process can have now
    ReadFailed,      // the system failed to read
};

struct StateReadResult {
    StateReadStatus status = StateReadStatus::Ok;
    int systemError = 0;            // errno of CannotOpen and ReadFailed
    std::uint32_t version = 0;      // the file's version, for OtherVersion
    std::uint64_t neededBytes = 0;  // for TooLarge: the memory the state declares

    explicit operator bool() const { return status == StateReadStatus::Ok; }
};

struct StateReadOptions {
    // The memory the state may take; 0 means what the system has available now
    // (availableMemoryBytes).
    std::uint64_t memoryLimit = 0;
};

// Reads path into state; on any failure state is left as it was.
StateReadResult readRenderState(const std::filesystem::path& path, RenderState& state,
                                const StateReadOptions& options = {});

// The memory this process could still allocate: the system's available memory, less when the
// process's address-space limit leaves less.
std::uint64_t availableMemoryBytes();

}  // namespace qm
