// How far one render would scale past this machine: the share of a render's wall time spent
// outside the phases every thread shares, and the speed-up that share allows on more cores
// (Amdahl: 1 / (f + (1 - f) / N)).
//
// Each case renders the Lorenz flow (10, 28, 8/3, 0.005) fitted to the image, with 16 streams
// and 10 developments (BuildImage, as the program and the tool develop), the default render
// of 20,000,000 iterations unless told otherwise, on 1 and on 2 threads; the runs of every
// case are interleaved and the medians printed:
//   serial_before  one thread: the share of the wall time outside the parallel phases when
//                  every development runs on one thread (the bookkeeping between rounds and
//                  the developments, less the fold of Gas's sums, which was shared already)
//   serial         one thread: the same now that the developments are shared (less every
//                  part of them that the threads share)
//   outside        the run's share outside the parallel phases: serial, plus the barrier's
//                  wake-up on several threads
//   amdahl_N       the speed-up on N cores that serial (and serial_before) allow
//   thread_mib     the memory each thread beyond the first adds
//
//   scaling_bench [--iterations N] [--repeat R] [--modes 0,1,2,4] [--sides 640,2048]
//                 [--threads 1,2]
// Shared machine: the medians of at least 5 runs.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/sampling.h"

namespace {

using namespace qm;

struct Scene {
    Lorenz_2L attractor;
    std::unique_ptr<TBitmap3D> target;
    Scene(int mode, int side) {
        attractor.A = 10;
        attractor.B = 28;
        attractor.C = 8.0 / 3;
        attractor.dT = 0.005;
        attractor.restart();
        target = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
            setBuiltinSpeedGradient(light->speedGradient);
            setBuiltinAngleGradient(light->angleGradient);
        }
        target->SetWidth(side);
        target->SetHeight(side == 640 ? 480 : side);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        sampleAttractor(attractor, *target, kPreviewIterations, SamplingMode::Fit);
    }
};

struct Develop final : RenderSink {
    explicit Develop(TBitmap3D& t) : target(t) {}
    void develop() override { target.BuildImage(); }
    TBitmap3D& target;
};

struct Run {
    double wall, serialBefore, serial, outside;
    std::uint64_t threadBytes;
};

Run render(Scene& scene, std::int64_t iterations, std::int32_t threads) {
    scene.target->ClearImage();
    RenderEngine engine(scene.attractor, *scene.target, {iterations, 10, 16, threads, 0, {}});
    RenderControl control;
    Develop sink(*scene.target);
    engine.run(sink, control);
    const EngineStats& s = engine.stats();
    Run r{};
    r.wall = s.wallSeconds;
    r.serialBefore = (s.betweenRoundsSeconds - s.foldSeconds) / s.wallSeconds;
    r.serial = (s.betweenRoundsSeconds - s.developParallelSeconds) / s.wallSeconds;
    r.outside = (s.betweenRoundsSeconds - s.developParallelSeconds + s.wakeSeconds) / s.wallSeconds;
    r.threadBytes = s.bytesPerAddedThread;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<std::int64_t> numbers(std::string_view text) {
    std::vector<std::int64_t> out;
    while (!text.empty()) {
        std::int64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc()) break;
        out.push_back(v);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (!text.empty() && text[0] == ',') text.remove_prefix(1);
    }
    return out;
}

double amdahl(double f, int n) {
    return 1 / (f + (1 - f) / n);
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t iterations = 20000000;
    int repeat = 5;
    std::vector<std::int64_t> modes{0, 1, 2, 4}, sides{640, 2048}, threadCounts{1, 2};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i], value = argv[i + 1];
        const auto v = numbers(value);
        if (v.empty()) continue;
        if (name == "--iterations") iterations = v[0];
        if (name == "--repeat") repeat = static_cast<int>(v[0]);
        if (name == "--modes") modes = v;
        if (name == "--sides") sides = v;
        if (name == "--threads") threadCounts = v;
    }
    static const char* const kModes[] = {"Gaz", "Liquide", "Lumiere", "Plasma", "Solide"};
    struct Case {
        int mode, side, threads;
        std::vector<Run> runs;
    };
    std::vector<Case> cases;
    std::map<std::pair<int, int>, std::unique_ptr<Scene>> scenes;
    for (auto mode : modes)
        for (auto side : sides) {
            scenes[{static_cast<int>(mode), static_cast<int>(side)}] =
                std::make_unique<Scene>(static_cast<int>(mode), static_cast<int>(side));
            for (auto t : threadCounts)
                cases.push_back(
                    {static_cast<int>(mode), static_cast<int>(side), static_cast<int>(t), {}});
        }
    // Interleaved: every case once per pass.
    for (int pass = 0; pass < repeat; ++pass)
        for (Case& c : cases)
            c.runs.push_back(render(*scenes[{c.mode, c.side}], iterations, c.threads));

    std::printf("%-8s %-9s %3s %8s %8s %8s %8s | %-19s | %-19s | %s\n", "mode", "size", "T",
                "wall_s", "ser_bef", "serial", "outside", "amdahl 8/32/64 bef",
                "amdahl 8/32/64 now", "thread_mib");
    for (const Case& c : cases) {
        std::vector<double> wall, before, serial, outside;
        for (const Run& r : c.runs) {
            wall.push_back(r.wall);
            before.push_back(r.serialBefore);
            serial.push_back(r.serial);
            outside.push_back(r.outside);
        }
        const double fb = median(before), f = median(serial);
        const std::string size =
            std::to_string(c.side) + "x" + std::to_string(c.side == 640 ? 480 : c.side);
        std::printf(
            "%-8s %-9s %3d %8.3f %7.2f%% %7.2f%% %7.2f%% | %5.2f %5.2f %6.2f | %5.2f %5.2f %6.2f | "
            "%.1f\n",
            kModes[c.mode], size.c_str(), c.threads, median(wall), 100 * fb, 100 * f,
            100 * median(outside), amdahl(fb, 8), amdahl(fb, 32), amdahl(fb, 64), amdahl(f, 8),
            amdahl(f, 32), amdahl(f, 64),
            static_cast<double>(c.runs.front().threadBytes) / (1 << 20));
    }
    return 0;
}
