#include "core/cloud/point_cloud.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include "core/attractor/random31.h"
#include "core/math/cr_exp_log.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/render_loop.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"

namespace qm {

namespace {

// Points iterated, coloured and formatted per pass of the writer: the file grows by this many
// records at a time (15 bytes each in binary, at most about 60 in text).
constexpr std::int32_t kChunk = 32768;
constexpr std::size_t kBinaryRecord = 15;

// The classic orbit of a render on a copy of the attractor: restarted, the thread's
// generator at 0, the transient iterated and dropped.
class Orbit {
public:
    explicit Orbit(const Attractor& source) : attractor_(source.clone()) {}

    bool valid() const { return attractor_ != nullptr; }

    // False when the orbit diverges within the transient.
    bool start() {
        attractor_->restart();
        threadRandom31().state = 0;
        Vecd scratch[256];
        while (!attractor_->diverged() && attractor_->iterationCount() < kRenderTransient) {
            const auto want =
                std::min<std::int32_t>(256, kRenderTransient - attractor_->iterationCount());
            attractor_->iterateBlock(scratch, want);
        }
        return !attractor_->diverged();
    }
    // n points, or fewer when the orbit diverges (the point that left is not given).
    std::int32_t next(Vecd* out, std::int32_t n) {
        const std::int32_t got = attractor_->iterateBlock(out, n);
        return attractor_->diverged() ? got - 1 : got;
    }
    bool diverged() const { return attractor_->diverged(); }
    std::int64_t count() const { return attractor_->iterationCount(); }

private:
    std::unique_ptr<Attractor> attractor_;
};

// Colours a chunk of points in orbit order, as the scene's mode sees them.
class Colorist {
public:
    virtual ~Colorist() = default;
    // colours[i] for points[i]; a Light family colourist needs the point after the chunk too,
    // so it is given n + 1 points (the last one only to colour point n - 1).
    virtual void color(const Vecd* points, std::int32_t n, CloudColor* colours) = 0;
    // Whether color needs the point after the last one.
    virtual bool looksAhead() const { return false; }
};

class WhiteColorist final : public Colorist {
public:
    void color(const Vecd*, std::int32_t n, CloudColor* colours) override {
        std::fill(colours, colours + n, CloudColor{255, 255, 255});
    }
};

// Grey density: the cloud splatted into a Gas target of the scene's view beforehand.
class DensityColorist final : public Colorist {
public:
    explicit DensityColorist(std::unique_ptr<TBitmap3D> gas)
        : target_(std::move(gas)), gas_(static_cast<TBitmap3D_Gas&>(*target_)) {}

    TBitmap3D& target() { return *target_; }

    void finishDensity() {
        gas_.FindPeak();
        exponent_ = static_cast<float>(1 / gas_.gamma);
        brightness_ = static_cast<float>(gas_.luminosity * 255);
    }

    void color(const Vecd* points, std::int32_t n, CloudColor* colours) override {
        const float* d = gas_.density.data();
        const std::int32_t w = gas_.imageWidth;
        for (std::int32_t i = 0; i < n; ++i) {
            Splat s;
            // The density where the point's splat falls, weighted as the splat weighs it.
            float c = 1.0f;
            if (gas_.splatCell(gas_.project(points[i]), s))
                c = s.w00 * d[s.index] + s.w10 * d[s.index + 1] + s.w01 * d[s.index + w] +
                    s.w11 * d[s.index + w + 1];
            const std::uint8_t g = level(c);
            colours[i] = {g, g, g};
        }
    }

private:
    // Gas's development of a density c.
    std::uint8_t level(float c) const {
        if (!(gas_.peak > 0) || !(c > 0)) return 0;
        const float v = crm::powFloat(static_cast<double>(std::min(c / gas_.peak, 1.0f)),
                                      static_cast<double>(exponent_)) *
                        brightness_;
        if (!(v > 0)) return 0;
        return static_cast<std::uint8_t>(static_cast<int>(std::min(v, 255.0f)));
    }

    std::unique_ptr<TBitmap3D> target_;
    TBitmap3D_Gas& gas_;
    float exponent_ = 1;
    float brightness_ = 255;
};

// The Light family's colours: each point takes the colour the mode gives it once its
// successor is known.
class LightColorist final : public Colorist {
public:
    explicit LightColorist(const TBitmap3D_Light& light) : light_(light), color_(light.plotColor) {}

    bool looksAhead() const override { return true; }

    void color(const Vecd* points, std::int32_t n, CloudColor* colours) override {
        for (std::int32_t i = 0; i <= n; ++i) {
            if (i == 0 && started_) continue;  // the first point was taken with the last chunk
            light_.advanceWith(before_, last_, color_, points[i]);
            if (i == 0) continue;  // the very first point: its colour comes with the next one
            colours[i - 1] = bytes(color_);
        }
        started_ = true;
    }

private:
    static CloudColor bytes(const ColorRGBf& c) {
        // Speed and angle colours add up to 2 per channel: keep the hue of a brighter sum.
        const float top = std::max({c.r, c.g, c.b});
        const float k = top > 1.0f ? 1.0f / top : 1.0f;
        return {TBitmap3D::channelByte(c.r * k), TBitmap3D::channelByte(c.g * k),
                TBitmap3D::channelByte(c.b * k)};
    }

    const TBitmap3D_Light& light_;
    Vecd before_{0, 0, 0};
    Vecd last_{0, 0, 0};
    ColorRGBf color_;
    bool started_ = false;
};

void putFloat(std::string& out, float v) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((bits >> (8 * k)) & 0xFF));
}

void appendNumber(std::string& out, float v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    out.append(text, ec == std::errc() ? end : text);
}

void appendRecords(std::string& out, const Vecd* p, const CloudColor* c, std::int32_t n,
                   CloudFormat format) {
    for (std::int32_t i = 0; i < n; ++i) {
        const float x = static_cast<float>(p[i].x), y = static_cast<float>(p[i].y),
                    z = static_cast<float>(p[i].z);
        if (format == CloudFormat::BinaryLittleEndian) {
            putFloat(out, x);
            putFloat(out, y);
            putFloat(out, z);
            out.push_back(static_cast<char>(c[i].r));
            out.push_back(static_cast<char>(c[i].g));
            out.push_back(static_cast<char>(c[i].b));
        } else {
            appendNumber(out, x);
            out.push_back(' ');
            appendNumber(out, y);
            out.push_back(' ');
            appendNumber(out, z);
            out.push_back(' ');
            out += std::to_string(c[i].r);
            out.push_back(' ');
            out += std::to_string(c[i].g);
            out.push_back(' ');
            out += std::to_string(c[i].b);
            out.push_back('\n');
        }
    }
}

// Puts the calling thread's generator back however the writer returns.
struct RandomGuard {
    Random31 saved = threadRandom31();
    ~RandomGuard() { threadRandom31() = saved; }
};

}  // namespace

std::string cloudComment(const Attractor& attractor, const TBitmap3D& target) {
    static constexpr const char* kModes[kRenderModeCount] = {"gas", "liquid", "light", "plasma",
                                                             "solid"};
    return softwareName() + " point cloud: " +
           StringTable::builtinText(TextId::kKindKeywordFirst + attractor.kindCode()) +
           ", mode " + kModes[std::min<int>(target.mode, kRenderModeCount - 1)] + ", view " +
           std::to_string(target.imageWidth) + "x" + std::to_string(target.imageHeight);
}

std::string plyHeader(std::uint64_t count, CloudFormat format, const std::string& comment) {
    std::string h = "ply\nformat ";
    h += format == CloudFormat::Ascii ? "ascii 1.0\n" : "binary_little_endian 1.0\n";
    if (!comment.empty()) {
        // A line break would end the comment and corrupt the header, and readers take the
        // header for ASCII.
        std::string line;
        for (const char c : comment) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '\n' || c == '\r' || c == '\t')
                line += ' ';
            else if (u >= 0x20 && u < 0x7F)
                line += c;
            else if (u < 0x80 || u >= 0xC0)  // one '?' per character, not per byte
                line += '?';
        }
        h += "comment " + line + "\n";
    }
    h += "element vertex " + std::to_string(count) + "\n";
    h += "property float x\nproperty float y\nproperty float z\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    return h;
}

CloudResult writePointCloud(const std::filesystem::path& path, const Attractor& attractor,
                            const TBitmap3D& target, const CloudSettings& settings,
                            CloudControl& control) {
    CloudResult result;
    if (settings.count == 0 || settings.count > kMaxCloudPoints) {
        result.status = CloudStatus::BadCount;
        return result;
    }
    RandomGuard guard;
    control.progress.store(0.0, std::memory_order_relaxed);
    Orbit orbit(attractor);
    if (!orbit.valid()) {
        result.status = CloudStatus::Diverged;
        return result;
    }
    std::vector<Vecd> points(kChunk + 1);
    std::vector<CloudColor> colours(kChunk);
    const std::uint64_t total = settings.count;
    const bool twoPasses =
        target.renderMode() == RenderMode::Gas || target.renderMode() == RenderMode::Liquid;
    const double share = twoPasses ? 0.5 : 1.0;  // of the progress, per pass

    auto diverged = [&] {
        result.status = CloudStatus::Diverged;
        result.divergedAfter = orbit.count();
        return result;
    };

    // The colourist, with the density pass for the grey modes.
    std::unique_ptr<Colorist> colorist;
    if (twoPasses) {
        auto density = std::make_unique<DensityColorist>(CreateRenderTarget(0, target));
        TBitmap3D& gas = density->target();
        gas.SetView();
        // The cloud's own densest pixel is its white, whatever exposure an animation's frame
        // was developed with.
        gas.fixedPeak = 0;
        gas.ClearImage();
        if (!orbit.start()) return diverged();
        for (std::uint64_t done = 0; done < total;) {
            if (control.stopRequested.load(std::memory_order_relaxed)) {
                result.status = CloudStatus::Stopped;
                return result;
            }
            const auto want =
                static_cast<std::int32_t>(std::min<std::uint64_t>(kChunk, total - done));
            const std::int32_t got = orbit.next(points.data(), want);
            gas.PlotBlock(points.data(), got);
            if (orbit.diverged()) return diverged();
            done += static_cast<std::uint64_t>(got);
            control.progress.store(share * static_cast<double>(done) / static_cast<double>(total),
                                   std::memory_order_relaxed);
        }
        density->finishDensity();
        colorist = std::move(density);
    } else if (target.isLightFamily()) {
        colorist = std::make_unique<LightColorist>(static_cast<const TBitmap3D_Light&>(target));
    } else {
        colorist = std::make_unique<WhiteColorist>();
    }

    // The file: the header, then the records chunk by chunk as the orbit gives them.
    const std::string header = plyHeader(total, settings.format, settings.comment);
    if (!orbit.start()) return diverged();
    std::string buffer;
    buffer.reserve(kChunk * (settings.format == CloudFormat::Ascii ? 64 : kBinaryRecord));
    const bool ahead = colorist->looksAhead();
    bool firstChunk = true;
    result.write = writeFileInPieces(path, [&](FileSink& sink) {
        if (!sink.write(header)) return false;
        for (std::uint64_t done = 0; done < total;) {
            if (control.stopRequested.load(std::memory_order_relaxed)) {
                result.status = CloudStatus::Stopped;
                return false;
            }
            const auto want =
                static_cast<std::int32_t>(std::min<std::uint64_t>(kChunk, total - done));
            // Looking ahead, points[0] holds the last chunk's successor point, and the chunk
            // needs want points plus its own successor.
            Vecd* const first = points.data() + (ahead && !firstChunk ? 1 : 0);
            const std::int32_t need = ahead ? want + (firstChunk ? 1 : 0) : want;
            const std::int32_t got = orbit.next(first, need);
            if (got < need) {
                diverged();
                return false;
            }
            colorist->color(points.data(), want, colours.data());
            buffer.clear();
            appendRecords(buffer, points.data(), colours.data(), want, settings.format);
            if (!sink.write(buffer)) return false;
            if (ahead) points[0] = points[static_cast<std::size_t>(want)];
            firstChunk = false;
            done += static_cast<std::uint64_t>(want);
            control.progress.store(
                (1 - share) + share * static_cast<double>(done) / static_cast<double>(total),
                std::memory_order_relaxed);
        }
        result.bytes = sink.size();
        return true;
    });
    if (result.status == CloudStatus::Ok && !result.write) result.status = CloudStatus::WriteFailed;
    return result;
}

}  // namespace qm
