#include "cli/video_encoder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "cli/arguments.h"
#include "cli/signals.h"

extern char** environ;

namespace qm::cli {

namespace fs = std::filesystem;

namespace {

// Writes all of bytes to fd; false when the reader has gone (or another error).
bool writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// SIGPIPE ignored while this lives: an encoder that stops reading makes the write fail
// instead of ending the tool.
class IgnorePipeSignal {
public:
    IgnorePipeSignal() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~IgnorePipeSignal() { sigaction(SIGPIPE, &previous_, nullptr); }
    IgnorePipeSignal(const IgnorePipeSignal&) = delete;
    IgnorePipeSignal& operator=(const IgnorePipeSignal&) = delete;

private:
    struct sigaction previous_ {};
};

}  // namespace

std::optional<VideoFormat> videoFormatOf(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".mp4") return VideoFormat::Mp4;
    if (extension == ".webm") return VideoFormat::WebM;
    return std::nullopt;
}

std::optional<fs::path> findFfmpeg() {
    if (const char* given = std::getenv("QM_FFMPEG"); given && *given) {
        if (::access(given, X_OK) == 0) return fs::path(given);
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    if (!path) return std::nullopt;
    std::string_view rest(path);
    while (true) {
        const auto colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        const fs::path candidate = fs::path(folder.empty() ? "." : std::string(folder)) / "ffmpeg";
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

std::optional<std::string> encodeVideo(const fs::path& ffmpeg, const std::vector<fs::path>& frames,
                                       double fps, const fs::path& output) {
    const std::optional<VideoFormat> format = videoFormatOf(output);
    if (!format) return std::string("the video must end in .mp4 or .webm");
    if (frames.empty()) return std::string("there is no frame to encode");
    // The temporary video: hidden, beside the target, so that the rename cannot cross devices.
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    std::string hidden(1, '.');
    hidden += output.filename().string();
    hidden += ".partial-" + std::to_string(::getpid());
    const fs::path partial = folder / hidden;

    std::vector<std::string> args = {ffmpeg.string(), "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "image2pipe", "-framerate", formatNumber(fps), "-c:v",
                                     "png", "-i", "pipe:0",
                                     // 4:2:0 needs even sides; the width is a multiple of 4.
                                     "-vf", "pad=iw:ceil(ih/2)*2", "-pix_fmt", "yuv420p"};
    if (*format == VideoFormat::Mp4)
        args.insert(args.end(),
                    {"-c:v", "libx264", "-crf", "18", "-movflags", "+faststart", "-f", "mp4"});
    else
        args.insert(args.end(), {"-c:v", "libvpx-vp9", "-crf", "30", "-b:v", "0", "-f", "webm"});
    args.push_back(partial.string());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::string("cannot start ffmpeg: ") + std::strerror(errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    setStopCleanupPath(partial.c_str());
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    if (spawned != 0) {
        ::close(pipeFds[1]);
        setStopCleanupPath(nullptr);
        return "cannot start " + ffmpeg.string() + ": " + std::strerror(spawned);
    }

    std::optional<std::string> problem;
    {
        IgnorePipeSignal ignorePipe;
        std::vector<char> bytes;
        for (const fs::path& frame : frames) {
            std::ifstream in(frame, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
            if (!in.good() && !in.eof()) {
                problem = "cannot read the frame " + frame.string();
                break;
            }
            if (!writeAll(pipeFds[1], bytes.data(), bytes.size())) {
                problem = std::string("ffmpeg stopped reading the frames");
                break;
            }
        }
        ::close(pipeFds[1]);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!problem && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        problem = "ffmpeg failed (" +
                  (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                     : std::string("killed by a signal")) +
                  ")";
    std::error_code ec;
    if (!problem) {
        fs::rename(partial, output, ec);
        if (ec) problem = "cannot rename the finished video: " + ec.message();
    }
    if (problem) fs::remove(partial, ec);
    setStopCleanupPath(nullptr);
    return problem;
}

}  // namespace qm::cli
