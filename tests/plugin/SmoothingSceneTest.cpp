// The smoothing session in data/scenes: the real recording replayed through the tracking node,
// its palm baked raw and through the one-euro filter side by side.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"

namespace {

using namespace kivorova::testing;

// RMS second difference of consecutive points.
double jitter(const std::vector<std::vector<double>>& points) {
    double sum = 0;
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            const double a = points[i + 1][k] - 2 * points[i][k] + points[i - 1][k];
            sum += a * a;
        }
    }
    return std::sqrt(sum / static_cast<double>(points.size() - 2));
}

TEST(SmoothingScene, TheFilteredPalmShakesFiveTimesLessThanTheRawOneWhichIsKept) {
    std::filesystem::current_path(sourceRoot());
    const auto run = runRova({"data/scenes/smoothing.rova"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ifstream table(sourceRoot() / "out" / "smoothing.csv");
    std::string line;
    ASSERT_TRUE(std::getline(table, line));
    std::vector<std::string> columns;
    {
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) columns.push_back(cell);
    }
    const auto column = [&columns](const std::string& name) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c] == name)
                return c;
        }
        ADD_FAILURE() << "no column " << name;
        return std::size_t{0};
    };
    std::vector<std::vector<double>> raw, smooth;
    std::vector<std::size_t> rawAt, smoothAt;
    for (int k = 0; k < 3; ++k) {
        rawAt.push_back(column("rawPalm.translation[" + std::to_string(k) + "]"));
        smoothAt.push_back(column("smoothPalm.translation[" + std::to_string(k) + "]"));
    }
    const std::size_t enabledAt = column("smooth.outputEnabled");
    while (std::getline(table, line)) {
        std::vector<double> values;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) values.push_back(std::stod(cell));
        raw.push_back({values[rawAt[0]], values[rawAt[1]], values[rawAt[2]]});
        smooth.push_back({values[smoothAt[0]], values[smoothAt[1]], values[smoothAt[2]]});
        EXPECT_EQ(values[enabledAt], 1.0);
    }
    ASSERT_EQ(raw.size(), 325u);
    // The first frame passes as it is; the rest stay within a scene unit (20 mm) of the raw
    // palm and shake far less.
    for (int k = 0; k < 3; ++k) EXPECT_EQ(smooth[0][k], raw[0][k]);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const double dx = smooth[i][0] - raw[i][0], dy = smooth[i][1] - raw[i][1],
                     dz = smooth[i][2] - raw[i][2];
        EXPECT_LT(std::sqrt(dx * dx + dy * dy + dz * dz), 1.0) << "frame " << i + 1;
    }
    EXPECT_GT(jitter(raw) / jitter(smooth), 5.0);
}

}  // namespace
