#include "core/file/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

namespace qm {

namespace {

namespace fs = std::filesystem;

// Creates a new, unused file beside target. open with O_EXCL (rather than mkstemp) so that
// the file gets the permissions the user's umask gives any new file.
int createTemporary(const fs::path& target, fs::path& temporary, int& error) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on "." + std::string.
    std::string stem = ".";
    stem += target.filename().string();
    stem += ".tmp-";
    stem += std::to_string(getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder / (stem + "-" + std::to_string(counter.fetch_add(1)));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        error = errno;
        if (error != EEXIST) return -1;
    }
    return -1;
}

bool writeAll(int fd, std::string_view bytes, int& error) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) {
            error = EIO;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the rename itself durable. The new file is complete whether or not this succeeds,
// so a failure here is not reported.
void syncFolder(const fs::path& target) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

WriteResult writeFileAtomically(const fs::path& requested, std::string_view bytes) {
    if (requested.filename().empty()) return {WriteStatus::CannotCreate, EISDIR};

    // Replace what a link points to, not the link: that is what overwriting the file in place
    // would have done.
    fs::path target = requested;
    std::error_code ec;
    if (fs::is_symlink(requested, ec)) {
        const fs::path resolved = fs::canonical(requested, ec);
        if (!ec) target = resolved;
    }

    fs::path temporary;
    int error = 0;
    const int fd = createTemporary(target, temporary, error);
    if (fd < 0) return {WriteStatus::CannotCreate, error};

    auto fail = [&](WriteStatus status, int err, bool open) {
        if (open) ::close(fd);
        ::unlink(temporary.c_str());
        return WriteResult{status, err};
    };

    // A replaced file keeps its permissions; best effort, as some file systems have none.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    if (!writeAll(fd, bytes, error)) return fail(WriteStatus::WriteFailed, error, true);
    if (::fsync(fd) != 0) return fail(WriteStatus::SyncFailed, errno, true);
    // close may report a deferred write error (network file systems do).
    if (::close(fd) != 0) return fail(WriteStatus::CloseFailed, errno, false);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail(WriteStatus::RenameFailed, errno, false);
    syncFolder(target);
    return {};
}

}  // namespace qm
