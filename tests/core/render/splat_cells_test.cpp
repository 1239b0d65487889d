// The cells the parallel render's streams form two pixels at a time are those of the scalar
// projection and splat rule, for points inside, on and outside the frame, non-finite ones
// included.
#include "core/render/splat_cells.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <ostream>
#include <tuple>
#include <vector>

#include "core/attractor/random31.h"

namespace qm {
namespace {

struct Cell {
    std::int32_t point, index, row;
    float fx, fy;
    double depth;
    bool operator==(const Cell& o) const {
        // Bit for bit, as the buffers would receive them.
        return std::tie(point, index, row) == std::tie(o.point, o.index, o.row) &&
               std::bit_cast<std::uint32_t>(fx) == std::bit_cast<std::uint32_t>(o.fx) &&
               std::bit_cast<std::uint32_t>(fy) == std::bit_cast<std::uint32_t>(o.fy) &&
               std::bit_cast<std::uint64_t>(depth) == std::bit_cast<std::uint64_t>(o.depth);
    }
};

std::ostream& operator<<(std::ostream& os, const Cell& c) {
    return os << "point " << c.point << " index " << c.index << " row " << c.row << " fx " << c.fx
              << " fy " << c.fy << " depth " << c.depth;
}

// The scalar road: project as TBitmap3D::project does, then splatFractions.
std::vector<Cell> scalarCells(const std::array<double, 16>& m, std::int32_t width,
                              std::int32_t height, bool mirror, const std::vector<Vecd>& points) {
    std::vector<Cell> cells;
    const TBitmap3D::SplatLimits limits(width, height);
    auto one = [&](std::int32_t i, double x, double y, double z) {
        const double px = (m[0] * x + m[4] * y + m[8] * z + m[12] + 1) * width * 0.5;
        const double py = (m[1] * x + m[5] * y + m[9] * z + m[13] + 1) * height * 0.5;
        Cell c{i, 0, 0, 0, 0, (m[2] * x + m[6] * y + m[10] * z + m[14] + 1) * 0.5};
        if (TBitmap3D::splatFractions(px, py, limits, c.index, c.fx, c.fy, c.row))
            cells.push_back(c);
    };
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(points.size()); ++i) {
        const Vecd& p = points[static_cast<std::size_t>(i)];
        one(i, p.x, p.y, p.z);
        if (mirror) one(i, p.x, p.y, -1.0 * p.z);
    }
    return cells;
}

TEST(ForEachSplatCell, GivesTheScalarCellsInPlottingOrder) {
    // A turned, scaled matrix; a 101st point leaves one point without a partner in the pairs.
    const std::array<double, 16> m = {0.31, -0.12, 0.05, 0, 0.2,    0.27,  -0.4, 0,
                                      0.07, 0.33,  0.21, 0, -0.013, 0.021, 0.5,  1};
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Vecd> points;
    Random31 rng{12345};
    for (int i = 0; i < 97; ++i)
        points.push_back({(rng.uniform() - 0.5) * 8, (rng.uniform() - 0.5) * 8,
                          (rng.uniform() - 0.5) * 8});  // many fall outside the frame
    points.push_back({nan, 0, 0});
    points.push_back({0, inf, 0});
    points.push_back({1e300, -1e300, 0});
    points.push_back({0, 0, nan});
    for (bool mirror : {false, true}) {
        for (auto [width, height] : {std::pair{640, 480}, std::pair{16, 7}}) {
            for (std::size_t n : {points.size(), points.size() - 1}) {
                const std::vector<Vecd> some(points.begin(),
                                             points.begin() + static_cast<std::ptrdiff_t>(n));
                std::vector<Cell> cells;
                forEachSplatCell<true>(m, width, height, mirror, some.data(),
                                       static_cast<std::int32_t>(n),
                                       [&](std::int32_t i, std::int32_t index, float fx, float fy,
                                           std::int32_t row, double depth) {
                                           cells.push_back({i, index, row, fx, fy, depth});
                                       });
                const std::vector<Cell> expected = scalarCells(m, width, height, mirror, some);
                ASSERT_FALSE(expected.empty());
                EXPECT_EQ(cells, expected) << width << "x" << height << " mirror " << mirror;
            }
        }
    }
}

}  // namespace
}  // namespace qm
