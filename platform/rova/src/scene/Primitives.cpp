// The geometry of the primitive objects: cube, plane and sphere.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "rovahost/Scene.h"

namespace rova::host::scene {

MeshGeometry cube(double size) {
    const double h = size / 2.0;
    MeshGeometry g;
    g.points = {{-h, -h, h}, {h, -h, h}, {-h, h, h},   {h, h, h},
                {-h, h, -h}, {h, h, -h}, {-h, -h, -h}, {h, -h, -h}};
    // Counter-clockwise seen from outside: +Z, +Y, -Z, -Y, +X, -X.
    g.faces = {{0, 1, 3, 2}, {2, 3, 5, 4}, {4, 5, 7, 6}, {6, 7, 1, 0}, {1, 7, 5, 3}, {6, 0, 2, 4}};
    return g;
}

MeshGeometry plane(double size, int divisions) {
    const int d = std::max(divisions, 1);
    const double h = size / 2.0;
    MeshGeometry g;
    for (int row = 0; row <= d; ++row)
        for (int column = 0; column <= d; ++column)
            g.points.push_back({-h + size * column / d, 0.0, -h + size * row / d});
    const int stride = d + 1;
    for (int row = 0; row < d; ++row)
        for (int column = 0; column < d; ++column) {
            const int a = row * stride + column;
            // Counter-clockwise seen from +Y.
            g.faces.push_back({a, a + stride, a + stride + 1, a + 1});
        }
    return g;
}

MeshGeometry sphere(double radius, int segments) {
    const int around = std::max(segments, 3);
    const int stacks = std::max(around / 2, 2);
    const double pi = std::numbers::pi;
    MeshGeometry g;
    g.points.push_back({0.0, radius, 0.0});
    for (int i = 1; i < stacks; ++i) {
        const double phi = pi * i / stacks;
        const double y = radius * std::cos(phi), r = radius * std::sin(phi);
        for (int j = 0; j < around; ++j) {
            const double theta = 2.0 * pi * j / around;
            g.points.push_back({r * std::cos(theta), y, -r * std::sin(theta)});
        }
    }
    g.points.push_back({0.0, -radius, 0.0});
    // What is zero but for the rounding of sine and cosine is zero.
    for (auto& p : g.points)
        for (double& c : p)
            if (std::abs(c) < 1e-12 * radius)
                c = 0.0;
    const int bottom = static_cast<int>(g.points.size()) - 1;
    const auto ring = [&](int i, int j) { return 1 + (i - 1) * around + (j % around); };
    // Counter-clockwise seen from outside; theta grows counter-clockwise seen from +Y.
    for (int j = 0; j < around; ++j) g.faces.push_back({0, ring(1, j), ring(1, j + 1)});
    for (int i = 1; i + 1 < stacks; ++i)
        for (int j = 0; j < around; ++j)
            g.faces.push_back({ring(i, j), ring(i + 1, j), ring(i + 1, j + 1), ring(i, j + 1)});
    for (int j = 0; j < around; ++j)
        g.faces.push_back({bottom, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
    return g;
}

}  // namespace rova::host::scene
