// Writing a file completely or not at all: the bytes go to a temporary file beside the target,
// which replaces the target only once it is complete and on disk. On Linux the temporary file
// has no name while it is written (O_TMPFILE), so a process killed meanwhile leaves nothing;
// it gets a name only for the moment between linking and renaming it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace qm {

enum class WriteStatus : std::uint8_t {
    Ok,
    CannotCreate,  // no temporary file in the target's folder (missing, read-only, ...)
    WriteFailed,   // writing the bytes failed (a full disk, ...)
    SyncFailed,    // the data could not be flushed to the device
    CloseFailed,
    RenameFailed,  // the temporary could not replace the target
    NotRegular,    // the target is a folder, a device, a pipe or a socket: left alone
    Exists,        // the target exists and was not to be replaced
};

struct WriteResult {
    WriteStatus status = WriteStatus::Ok;
    int systemError = 0;  // the errno of the failing step; 0 when Ok

    explicit operator bool() const { return status == WriteStatus::Ok; }
};

enum class Replace : std::uint8_t {
    Allowed,  // an existing regular file is replaced
    Never,    // an existing file of any kind makes the write fail with Exists; the complete
              // file is linked under the target's name in one step, without a temporary name
};

// Writes bytes to target. On failure the temporary file is removed and a previous file at
// target is left as it was. A replaced file keeps its permission bits; a symbolic link at
// target keeps being a link, and the file it points to is replaced. Only a regular file is
// ever replaced: any other existing target (folder, device, pipe, socket) is refused.
WriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                Replace replace = Replace::Allowed);

// Where writeFileInPieces puts the bytes, as they come.
class FileSink {
public:
    explicit FileSink(int fd) : fd_(fd) {}
    // Appends bytes; false once anything has failed.
    bool write(std::string_view bytes);
    // Overwrites bytes already written, at offset from the start (a header patched once the
    // sizes it declares are known); the range must lie within what was written.
    bool writeAt(std::uint64_t offset, std::string_view bytes);
    std::uint64_t size() const { return size_; }
    // The errno of the first failure; 0 while none.
    int error() const { return error_; }

private:
    int fd_;
    std::uint64_t size_ = 0;
    int error_ = 0;
};

// As writeFileAtomically, for contents too large to build in memory first: fill writes them
// piece by piece into the sink. When fill returns false or a write into the sink fails, the
// write fails (WriteFailed) and the target is left as it was.
WriteResult writeFileInPieces(const std::filesystem::path& target,
                              const std::function<bool(FileSink&)>& fill,
                              Replace replace = Replace::Allowed);

// Removes every temporary file that a write in progress has given a name to. Async-signal-
// safe: a program's SIGINT or SIGTERM handler calls it before the program exits.
void removePendingTemporaries() noexcept;

namespace detail {
// Off, every write uses a named temporary file, as on file systems without O_TMPFILE.
void setAnonymousTemporaries(bool enabled);
}  // namespace detail

}  // namespace qm
