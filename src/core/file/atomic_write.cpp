#include "core/file/atomic_write.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <system_error>

namespace qm {

namespace {

namespace fs = std::filesystem;

std::atomic<bool> anonymousTemporaries{true};

// The names of temporary files that exist on disk now or are about to, for a signal handler
// to remove. Fixed storage and lock-free atomics only: the handler may run in the middle of
// any of this, on any thread. A slot goes free (0) -> being filled (1) -> named (2).
constexpr int kPendingSlots = 64;
constexpr std::size_t kPendingPathMax = 4096;
struct PendingSlot {
    std::atomic<int> state{0};
    std::atomic<pid_t> owner{0};  // the thread writing
    char path[kPendingPathMax];
};
PendingSlot pendingSlots[kPendingSlots];
// Set by the handler: no write gives a temporary file a name any more.
std::atomic<bool> stopping{false};

// Registers a temporary name for the lifetime of the object; a write gives the file that name
// only when ready() says so. A name too long for the slots, or a 65th write at once, goes
// unregistered: the write still works, a signal may leave it behind.
class PendingName {
public:
    explicit PendingName(const fs::path& path) {
        const std::string& text = path.native();
        if (text.size() >= kPendingPathMax) return;
        for (int i = 0; i < kPendingSlots; ++i) {
            int expected = 0;
            if (!pendingSlots[i].state.compare_exchange_strong(expected, 1)) continue;
            std::memcpy(pendingSlots[i].path, text.c_str(), text.size() + 1);
            pendingSlots[i].owner.store(gettid());
            pendingSlots[i].state.store(2);
            slot_ = i;
            return;
        }
    }
    ~PendingName() {
        if (slot_ >= 0) pendingSlots[slot_].state.store(0);
    }
    PendingName(const PendingName&) = delete;
    PendingName& operator=(const PendingName&) = delete;

    // False once the program is stopping. Checked after registering, so that the handler,
    // which sets the flag before it looks at the slots, either sees this name or is seen.
    bool ready() const { return !stopping.load(); }

private:
    int slot_ = -1;
};

fs::path folderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The temporary names of target in this process: ".NAME.tmp-PID-N", N counting up.
fs::path temporaryName(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on "." + std::string.
    std::string name = ".";
    name += target.filename().string();
    name += ".tmp-";
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(counter.fetch_add(1));
    return folderOf(target) / name;
}

// The file a chain of symbolic links at path ends in (up to 40 links, as the system follows
// them). Only the last component is resolved: a link among the folders is followed by every
// call below anyway.
fs::path resolveLinks(const fs::path& requested) {
    fs::path p = requested;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) return p;
        p = next.is_absolute() ? next : folderOf(p) / next;
    }
    return p;  // a loop: still a link, which is refused as not a regular file
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

// Writes the file's contents into fd; false with error set on failure.
using Filler = std::function<bool(int fd, int& error)>;

// Makes the rename itself durable. The new file is complete whether or not this succeeds,
// so a failure here is not reported.
void syncFolder(const fs::path& target) {
    const int fd = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Puts the complete file at temporary in place of target; the temporary name is gone after.
WriteResult publish(const fs::path& temporary, const fs::path& target, Replace replace) {
    if (replace == Replace::Allowed) {
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            return {WriteStatus::RenameFailed, error};
        }
        return {};
    }
    // Never replace: the kernel checks and renames in one step, or a hard link does the same
    // where the file system cannot rename that way.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        error = ::link(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
    }
    ::unlink(temporary.c_str());
    if (error == 0) return {};
    return {error == EEXIST ? WriteStatus::Exists : WriteStatus::RenameFailed, error};
}

// A file without a name in target's folder, or -1 where the file system has none.
int createAnonymous(const fs::path& target) {
    if (!anonymousTemporaries.load(std::memory_order_relaxed)) return -1;
    return ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the anonymous file fd a fresh temporary name. Linking by descriptor needs a
// privilege; linking through /proc does not.
bool nameAnonymous(int fd, const fs::path& name, int& error) {
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    error = errno;
    return false;
}

// The write with an anonymous file. Sets handled to false when the file system offers no
// anonymous file or cannot name one, so that the caller writes a named one instead.
WriteResult writeAnonymous(const fs::path& target, const Filler& fill, Replace replace,
                           const struct stat* old, bool& handled) {
    handled = false;
    const int fd = createAnonymous(target);
    if (fd < 0) return {};
    handled = true;
    // A replaced file keeps its permissions; best effort, as some file systems have none.
    if (old) ::fchmod(fd, old->st_mode & 07777);
    int error = 0;
    if (!fill(fd, error)) {
        ::close(fd);
        return {WriteStatus::WriteFailed, error};
    }
    if (::fsync(fd) != 0) {
        error = errno;
        ::close(fd);
        return {WriteStatus::SyncFailed, error};
    }
    if (replace == Replace::Never) {
        // Linking fails where anything exists already: the complete file appears under its
        // own name in one step, and never has another.
        if (stopping.load()) {
            ::close(fd);
            return {WriteStatus::CannotCreate, EINTR};
        }
        if (nameAnonymous(fd, target, error)) {
            if (::close(fd) != 0) {
                error = errno;
                ::unlink(target.c_str());
                return {WriteStatus::CloseFailed, error};
            }
            return {};
        }
        ::close(fd);
        if (error == EEXIST) return {WriteStatus::Exists, error};
        handled = false;  // no /proc, say: the named way still works
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temporary = temporaryName(target);
        const PendingName pending(temporary);
        if (!pending.ready()) {
            ::close(fd);
            return {WriteStatus::CannotCreate, EINTR};
        }
        if (!nameAnonymous(fd, temporary, error)) {
            if (error == EEXIST) continue;
            ::close(fd);
            handled = false;  // no /proc, say: the named way still works
            return {};
        }
        // close may report a deferred write error (network file systems do).
        if (::close(fd) != 0) {
            error = errno;
            ::unlink(temporary.c_str());
            return {WriteStatus::CloseFailed, error};
        }
        return publish(temporary, target, replace);
    }
    ::close(fd);
    return {WriteStatus::CannotCreate, EEXIST};
}

// The write with a named temporary file, removed on any failure.
WriteResult writeNamed(const fs::path& target, const Filler& fill, Replace replace,
                       const struct stat* old) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temporary = temporaryName(target);
        // Registered before it exists, so that no moment has the file without the name.
        const PendingName pending(temporary);
        if (!pending.ready()) return {WriteStatus::CannotCreate, EINTR};
        // open with O_EXCL (rather than mkstemp) so that the file gets the permissions the
        // user's umask gives any new file.
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {WriteStatus::CannotCreate, errno};
        }
        auto fail = [&](WriteStatus status, int err, bool open) {
            if (open) ::close(fd);
            ::unlink(temporary.c_str());
            return WriteResult{status, err};
        };
        if (old) ::fchmod(fd, old->st_mode & 07777);
        int error = 0;
        if (!fill(fd, error)) return fail(WriteStatus::WriteFailed, error, true);
        if (::fsync(fd) != 0) return fail(WriteStatus::SyncFailed, errno, true);
        if (::close(fd) != 0) return fail(WriteStatus::CloseFailed, errno, false);
        return publish(temporary, target, replace);
    }
    return {WriteStatus::CannotCreate, EEXIST};
}

}  // namespace

namespace {

WriteResult writeWith(const fs::path& requested, const Filler& fill, Replace replace) {
    if (requested.filename().empty()) return {WriteStatus::NotRegular, EISDIR};

    // Replace what a link points to, not the link: that is what overwriting the file in place
    // would have done.
    const fs::path target = resolveLinks(requested);
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return {WriteStatus::NotRegular, S_ISDIR(old.st_mode) ? EISDIR : 0};
    if (exists && replace == Replace::Never) return {WriteStatus::Exists, EEXIST};
    const struct stat* previous = exists ? &old : nullptr;

    bool handled = false;
    WriteResult result = writeAnonymous(target, fill, replace, previous, handled);
    if (!handled) result = writeNamed(target, fill, replace, previous);
    if (result) syncFolder(target);
    return result;
}

}  // namespace

WriteResult writeFileAtomically(const fs::path& requested, std::string_view bytes,
                                Replace replace) {
    return writeWith(
        requested, [bytes](int fd, int& error) { return writeAll(fd, bytes, error); }, replace);
}

bool FileSink::write(std::string_view bytes) {
    if (error_ != 0) return false;
    if (!writeAll(fd_, bytes, error_)) return false;
    size_ += bytes.size();
    return true;
}

bool FileSink::writeAt(std::uint64_t offset, std::string_view bytes) {
    if (error_ != 0) return false;
    if (offset > size_ || bytes.size() > size_ - offset) {
        error_ = EINVAL;
        return false;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    auto at = static_cast<off_t>(offset);
    while (left > 0) {
        const ssize_t n = ::pwrite(fd_, p, left, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

WriteResult writeFileInPieces(const fs::path& requested, const std::function<bool(FileSink&)>& fill,
                              Replace replace) {
    return writeWith(
        requested,
        [&fill](int fd, int& error) {
            FileSink sink(fd);
            const bool filled = fill(sink);
            if (filled && sink.error() == 0) return true;
            error = sink.error() != 0 ? sink.error() : ECANCELED;
            return false;
        },
        replace);
}

void removePendingTemporaries() noexcept {
    stopping.store(true);
    // Other threads may be between naming a finished file and renaming it, a matter of
    // microseconds: let them finish (their file is then whole and in place), for at most a
    // fifth of a second. A slot of this thread's own is not waited for: it is interrupted here.
    const pid_t self = gettid();
    for (int waited = 0; waited < 200; ++waited) {
        bool busy = false;
        for (const PendingSlot& slot : pendingSlots)
            busy = busy || (slot.state.load() != 0 && slot.owner.load() != self);
        if (!busy) break;
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
    }
    for (PendingSlot& slot : pendingSlots) {
        if (slot.state.load() == 2) ::unlink(slot.path);
    }
}

namespace detail {
void setAnonymousTemporaries(bool enabled) {
    anonymousTemporaries.store(enabled, std::memory_order_relaxed);
}
}  // namespace detail

}  // namespace qm
