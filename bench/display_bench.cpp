// The display of a poster scaled to its window: the program's area average against Qt's smooth
// scaling, on a 7016x4961 image (A2 at 300 dpi) shown in 976x690. Items are source pixels.
#include <benchmark/benchmark.h>

#include <QImage>

#include <cstdint>
#include <vector>

#include "gui/image_widget.h"

namespace {

constexpr int kWidth = 7016, kHeight = 4961;
const QSize kShown(976, 690);

const QImage& poster() {
    static std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(static_cast<std::size_t>(kWidth) * 3 * kHeight);
        std::uint32_t x = 1;
        for (std::uint8_t& v : b)
            v = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        return b;
    }();
    static const QImage image(bytes.data(), kWidth, kHeight, kWidth * 3, QImage::Format_BGR888);
    return image;
}

void BM_ShrinkImage(benchmark::State& state) {
    const QImage& image = poster();
    for (auto _ : state) benchmark::DoNotOptimize(qm::gui::shrinkImage(image, kShown).constBits());
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ShrinkImage)->Unit(benchmark::kMillisecond);

void BM_QtSmoothScale(benchmark::State& state) {
    const QImage& image = poster();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            image.scaled(kShown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).constBits());
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_QtSmoothScale)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
