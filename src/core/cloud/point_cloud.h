// The point cloud of a scene: the first points of the orbit a render of the scene plots, as a
// PLY file for 3D tools (x, y, z as float, red, green, blue as uchar per vertex), in the colour
// each point gets in the scene's mode:
//   - Gaz, Liquide: grey, the density of the cloud at the point's pixel in the scene's view
//     (the cloud's own points splatted as Gaz splats them, developed with the scene's
//     luminosity and gamma); a point outside the frame counts as alone at its pixel;
//   - Lumière, Plasma: the speed and angle gradients at the step that leaves the point and the
//     turn it makes there, divided by the brightest channel when that exceeds 1;
//   - Solide: white.
// The orbit is the classic single one (the attractor restarted, the generator at state 0, the
// 1000 unplotted iterations of the transient), so the points are those of iterating the
// attractor. The file is written as a stream, a chunk of points at a time, and completely or
// not at all: a stop, a divergence or a write error leaves no file and keeps a previous one.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/attractor/attractor.h"
#include "core/file/atomic_write.h"
#include "core/render/bitmap3d.h"

namespace qm {

inline constexpr std::uint64_t kDefaultCloudPoints = 1000000;
inline constexpr std::uint64_t kMaxCloudPoints = 100000000;

enum class CloudFormat : std::uint8_t { BinaryLittleEndian, Ascii };

struct CloudSettings {
    std::uint64_t count = kDefaultCloudPoints;  // 1 to kMaxCloudPoints
    CloudFormat format = CloudFormat::BinaryLittleEndian;
    std::string comment;  // one line for the header (cloudComment); may be empty
};

// Shared with other threads while a cloud is written: the stop request in, the progress out.
struct CloudControl {
    std::atomic<bool> stopRequested{false};
    std::atomic<double> progress{0.0};  // 0 to 1, over both passes where there are two
};

enum class CloudStatus : std::uint8_t {
    Ok,
    Stopped,      // the stop request came first
    Diverged,     // the orbit left the bounds (divergedAfter says when)
    WriteFailed,  // the file could not be written (write says why)
    BadCount,     // a count of 0 or above kMaxCloudPoints
};

struct CloudResult {
    CloudStatus status = CloudStatus::Ok;
    WriteResult write;
    std::int64_t divergedAfter = 0;  // iterations of the orbit, transient included
    std::uint64_t bytes = 0;         // of the file written

    explicit operator bool() const { return status == CloudStatus::Ok; }
};

// The colour of a point as a byte triple, red first.
struct CloudColor {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const CloudColor&, const CloudColor&) = default;
};

// Writes the cloud of the attractor (left as it was: the orbit runs on a copy) rendered by the
// target, which holds the scene's mode, size, camera, settings and, for the Light family, its
// ranges and gradients (a prepared scene's target). The target itself is not changed. Runs on
// the calling thread, whose random31 state it restores at the end.
CloudResult writePointCloud(const std::filesystem::path& path, const Attractor& attractor,
                            const TBitmap3D& target, const CloudSettings& settings,
                            CloudControl& control);

// What the cloud shows, for its header: the program, the kind, the mode and the view's size,
// in ASCII (the mode by its scene-file keyword).
std::string cloudComment(const Attractor& attractor, const TBitmap3D& target);

// The header of a cloud of count points (up to and including "end_header\n"). The comment
// stays on its line and in printable ASCII: other bytes become '?'.
std::string plyHeader(std::uint64_t count, CloudFormat format, const std::string& comment);

}  // namespace qm
