#pragma once
// The first hit of a ray on polygon geometry found the slow way: every polygon fanned into
// triangles, tested one by one in double (Moller-Trumbore). Ray-query tests and benchmarks
// check the host's answers against it.
#include <rovahost/Scene.h>

#include <array>
#include <cmath>
#include <optional>

namespace kivorova::testing {

using Vec = std::array<double, 3>;

inline Vec sub(const Vec& a, const Vec& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Nearest hit (t >= 0) of the ray o + t d with the geometry, or none.
inline std::optional<Vec> bruteFirstHit(const rova::host::scene::MeshGeometry& g, const Vec& o,
                                        const Vec& d) {
    double best = INFINITY;
    for (const auto& face : g.faces)
        for (std::size_t k = 1; k + 1 < face.size(); ++k) {
            const Vec& a = g.points[static_cast<std::size_t>(face[0])];
            const Vec e1 = sub(g.points[static_cast<std::size_t>(face[k])], a);
            const Vec e2 = sub(g.points[static_cast<std::size_t>(face[k + 1])], a);
            const Vec p = cross(d, e2);
            const double det = dot(e1, p);
            if (det == 0.0)
                continue;
            const Vec s = sub(o, a);
            const double u = dot(s, p) / det;
            if (u < 0.0 || u > 1.0)
                continue;
            const Vec q = cross(s, e1);
            const double v = dot(d, q) / det;
            const double t = dot(e2, q) / det;
            if (v >= 0.0 && u + v <= 1.0 && t >= 0.0 && t < best)
                best = t;
        }
    if (!std::isfinite(best))
        return std::nullopt;
    return Vec{o[0] + d[0] * best, o[1] + d[1] * best, o[2] + d[2] * best};
}

}  // namespace kivorova::testing
