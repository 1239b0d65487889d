#include "core/file/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <istream>

namespace qm {

namespace {

void setError(int* out, int error) {
    if (out) *out = error;
}

// Opens path for reading when it is a regular file. The name is looked at first, so that a
// device is never opened at all (opening some has effects); the descriptor is checked again
// after opening, so that a file swapped in between is caught too. O_NONBLOCK keeps open from
// waiting for the writer of a pipe; it is cleared once the file is known to be regular.
int openRegular(const std::filesystem::path& path, struct stat& st, ReadStatus& status,
                int& error) {
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        status = ReadStatus::CannotOpen;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        status = ReadStatus::NotRegular;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        // A socket (or a pipe without a writer, for a writer) answers ENXIO.
        status = error == ENXIO ? ReadStatus::NotRegular : ReadStatus::CannotOpen;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = errno;
        ::close(fd);
        status = ReadStatus::NotRegular;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    status = ReadStatus::Ok;
    return fd;
}

// read, retried when a signal interrupts it; -1 with errno on failure.
ssize_t readSome(int fd, void* buffer, std::size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Appends the descriptor's bytes to text up to its end, stopping one byte past maxBytes.
ReadStatus readBounded(int fd, std::size_t maxBytes, std::string& text, int& error) {
    char buffer[65536];
    for (;;) {
        const std::size_t room = maxBytes - std::min(maxBytes, text.size()) + 1;
        const ssize_t got = readSome(fd, buffer, std::min(sizeof buffer, room));
        if (got < 0) {
            error = errno;
            return ReadStatus::ReadFailed;
        }
        if (got == 0) return ReadStatus::Ok;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxBytes) return ReadStatus::TooLarge;
    }
}

ReadStatus checkText(const std::string& text, const TextLimits& limits) {
    if (!limits.allowNul && text.find('\0') != std::string::npos) return ReadStatus::NotText;
    if (exceedsLines(text, limits.maxLines)) return ReadStatus::TooManyLines;
    return ReadStatus::Ok;
}

}  // namespace

bool exceedsLines(std::string_view text, std::size_t maxLines) {
    std::size_t lines = 0;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         at = text.find('\n', at + 1)) {
        if (++lines > maxLines) return true;
    }
    if (!text.empty() && text.back() != '\n') ++lines;
    return lines > maxLines;
}

ReadStatus readText(std::istream& in, std::size_t maxBytes, std::string& text) {
    text.clear();
    char buffer[16384];
    while (in) {
        in.read(buffer, sizeof buffer);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (text.size() + got > maxBytes) return ReadStatus::TooLarge;
        text.append(buffer, got);
    }
    if (in.bad()) return ReadStatus::ReadFailed;
    if (text.find('\0') != std::string::npos) return ReadStatus::NotText;
    return ReadStatus::Ok;
}

ReadStatus readTextFile(const std::filesystem::path& path, const TextLimits& limits,
                        std::string& text, int* systemError) {
    text.clear();
    setError(systemError, 0);
    struct stat st {};
    ReadStatus status = ReadStatus::Ok;
    int error = 0;
    const int fd = openRegular(path, st, status, error);
    if (fd < 0) {
        setError(systemError, error);
        return status;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limits.maxBytes) {
        ::close(fd);
        return ReadStatus::TooLarge;
    }
    text.reserve(static_cast<std::size_t>(st.st_size));
    // The file may grow while it is read: the cap holds whatever the size said.
    status = readBounded(fd, limits.maxBytes, text, error);
    ::close(fd);
    if (status != ReadStatus::Ok) {
        setError(systemError, error);
        return status;
    }
    return checkText(text, limits);
}

ReadStatus readTextFile(const std::filesystem::path& path, std::size_t maxBytes,
                        std::string& text) {
    return readTextFile(path, TextLimits{maxBytes}, text);
}

ReadStatus readTextDescriptor(int fd, const TextLimits& limits, std::string& text,
                              int* systemError) {
    text.clear();
    setError(systemError, 0);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        setError(systemError, errno);
        return ReadStatus::CannotOpen;
    }
    // A folder cannot be read; a device is refused as by name, except a terminal, which is
    // what standard input is when nothing was redirected.
    if (S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode) || (S_ISCHR(st.st_mode) && !::isatty(fd)))
        return ReadStatus::NotRegular;
    if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > limits.maxBytes)
        return ReadStatus::TooLarge;
    int error = 0;
    const ReadStatus status = readBounded(fd, limits.maxBytes, text, error);
    if (status != ReadStatus::Ok) {
        setError(systemError, error);
        return status;
    }
    return checkText(text, limits);
}

// InputFile

InputFile::~InputFile() {
    close();
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
}

ReadStatus InputFile::open(const std::filesystem::path& path) {
    close();
    systemError_ = 0;
    struct stat st {};
    ReadStatus status = ReadStatus::Ok;
    fd_ = openRegular(path, st, status, systemError_);
    if (fd_ >= 0) size_ = static_cast<std::uint64_t>(st.st_size);
    return status;
}

ReadStatus InputFile::read(void* buffer, std::size_t n) {
    if (fd_ < 0) return ReadStatus::CannotOpen;
    if (n > size_ - position_) return ReadStatus::ReadFailed;
    auto* p = static_cast<char*>(buffer);
    for (std::size_t done = 0; done < n;) {
        const ssize_t got = readSome(fd_, p + done, n - done);
        if (got <= 0) {
            systemError_ = got < 0 ? errno : 0;
            return ReadStatus::ReadFailed;  // shrunk since it was opened, or failed
        }
        done += static_cast<std::size_t>(got);
        position_ += static_cast<std::uint64_t>(got);
    }
    return ReadStatus::Ok;
}

ReadStatus InputFile::readRest(std::string& bytes, std::size_t maxBytes) {
    bytes.clear();
    if (fd_ < 0) return ReadStatus::CannotOpen;
    const std::uint64_t rest = size_ - position_;
    if (rest > maxBytes) return ReadStatus::TooLarge;
    bytes.resize(static_cast<std::size_t>(rest));
    const ReadStatus status = read(bytes.data(), bytes.size());
    if (status != ReadStatus::Ok) bytes.clear();
    return status;
}

}  // namespace qm
