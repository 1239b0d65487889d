// Frames into a video through the ffmpeg program, when it is installed: the PNG files are
// piped to it in order, and the video it writes under a temporary name beside the target
// replaces the target only once ffmpeg has finished it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm::cli {

enum class VideoFormat : std::uint8_t { Mp4, WebM };

// The format the file's extension names (.mp4, .webm, in any case), or none.
std::optional<VideoFormat> videoFormatOf(const std::filesystem::path& path);

// The ffmpeg program: QM_FFMPEG when it is set, else the first "ffmpeg" on PATH that may be
// run; none when there is none.
std::optional<std::filesystem::path> findFfmpeg();

// Encodes the frames, in the order given, at fps frames a second: H.264 in MP4 or VP9 in
// WebM, 4:2:0 (an odd height gets a black line at the bottom). None when the video was
// written, else why not (ffmpeg's own messages go to standard error).
std::optional<std::string> encodeVideo(const std::filesystem::path& ffmpeg,
                                       const std::vector<std::filesystem::path>& frames, double fps,
                                       const std::filesystem::path& output);

}  // namespace qm::cli
