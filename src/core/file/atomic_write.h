// Writing a file completely or not at all: the bytes go to a temporary file beside the target,
// which replaces the target only once it is complete and on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace qm {

enum class WriteStatus : std::uint8_t {
    Ok,
    CannotCreate,  // no temporary file in the target's folder (missing, read-only, ...)
    WriteFailed,   // writing the bytes failed (a full disk, ...)
    SyncFailed,    // the data could not be flushed to the device
    CloseFailed,
    RenameFailed,  // the temporary could not replace the target (a folder stands there, ...)
};

struct WriteResult {
    WriteStatus status = WriteStatus::Ok;
    int systemError = 0;  // the errno of the failing step; 0 when Ok

    explicit operator bool() const { return status == WriteStatus::Ok; }
};

// Writes bytes to target. On failure the temporary file is removed and a previous file at
// target is left as it was. A replaced file keeps its permission bits; a symbolic link at
// target has the file it points to replaced.
WriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

}  // namespace qm
