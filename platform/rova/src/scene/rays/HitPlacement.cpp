// Hits placed exactly in double, and ordered along the ray.
#include "scene/rays/HitPlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/NodeRecords.h"

namespace rova::scene::rays {
namespace {

// Where the ray meets the triangle, in double (Moller-Trumbore): its parameter, and the point
// on the triangle (from the corners, so that it stays as exact as they are however far the
// source lies). False when parallel, or (edges) when the ray passes beside the triangle; without
// edges the traversal already decided that it meets it. The triangle is measured in units of its
// own size, so that products of sizes like 1e200 or 1e-200 neither overflow nor underflow.
bool placeOnTriangle(const RPoint& source, const RVector& direction, const RPoint& a,
                     const RPoint& b, const RPoint& c, bool edges, double& t, RPoint& point) {
    const RVector e1 = b - a;
    const RVector e2 = c - a;
    const double size = std::max(largest({e1.x, e1.y, e1.z}), largest({e2.x, e2.y, e2.z}));
    const double perSize = 1.0 / size;
    if (!(size > 0.0) || !std::isfinite(size) || !std::isfinite(perSize))
        return false;
    const RVector f1 = e1 * perSize;
    const RVector f2 = e2 * perSize;
    const RVector p = direction ^ f2;
    const double perDet = 1.0 / (f1 * p);
    if (!std::isfinite(perDet))
        return false;
    const RVector s = (source - a) * perSize;
    const RVector q = s ^ f1;
    const double u = (s * p) * perDet;
    const double v = (direction * q) * perDet;
    t = (f2 * q) * perDet * size;
    if (edges && !(u >= 0.0 && v >= 0.0 && u + v <= 1.0))
        return false;
    point = a + e1 * u + e2 * v;
    return std::isfinite(t) && std::isfinite(point.x) && std::isfinite(point.y) &&
           std::isfinite(point.z);
}

}  // namespace

bool isIdentity(const RMatrix& m) {
    return m == RMatrix();
}

// Hits of one mesh's triangles (the second of each pair), nearest per polygon, placed in the
// query's space (unit direction); hits farther from the source than maxDistance are left out.
using Found = std::vector<std::pair<unsigned, unsigned>>;
void placeHits(const MeshRays& rays, const MeshData& mesh, const RMatrix& world,
               const RPoint& source, const RVector& direction, double maxDistance, NodeRecord* node,
               Found::const_iterator begin, Found::const_iterator end, bool edges,
               std::vector<Hit>& out) {
    const bool identity = isIdentity(world);
    const bool limited = maxDistance < std::numeric_limits<double>::infinity();
    const auto& points = mesh.points();
    const std::size_t first = out.size();
    for (auto it = begin; it != end; ++it) {
        const unsigned* corner = rays.triangle(it->second);
        RPoint v[3];
        for (int k = 0; k < 3; ++k) {
            const RPoint& p = points[corner[k]];
            v[k] = identity ? p : p * world;
        }
        double t = 0.0;
        RPoint point;
        if (!placeOnTriangle(source, direction, v[0], v[1], v[2], edges, t, point) || t < 0.0)
            continue;
        if (limited && !((point - source).length() <= maxDistance))
            continue;
        const double along = point.x * direction.x + point.y * direction.y + point.z * direction.z;
        out.push_back(Hit{t, along, point, rays.polygonOf(it->second), node});
    }
    // One hit per polygon: its nearest.
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Hit& a, const Hit& b) {
                  return a.polygon != b.polygon ? a.polygon < b.polygon : a.along < b.along;
              });
    const auto last =
        std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                    [](const Hit& a, const Hit& b) { return a.polygon == b.polygon; });
    out.erase(last, out.end());
}

// Nearest first (ties: mesh creation order, then polygon); hits of one mesh closer together
// along the ray than the tolerance count once.
void orderHits(std::vector<Hit>& hits, double tolerance) {
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        if (a.along != b.along)
            return a.along < b.along;
        const auto ca = a.mesh ? a.mesh->creationIndex : 0;
        const auto cb = b.mesh ? b.mesh->creationIndex : 0;
        if (ca != cb)
            return ca < cb;
        return a.polygon < b.polygon;
    });
    // The last hit kept of each mesh met so far (few meshes lie on one ray).
    std::vector<std::pair<const NodeRecord*, double>> last;
    std::size_t kept = 0;
    for (std::size_t k = 0; k < hits.size(); ++k) {
        const Hit& hit = hits[k];
        const auto it = std::find_if(last.begin(), last.end(),
                                     [&](const auto& entry) { return entry.first == hit.mesh; });
        if (it != last.end()) {
            if (hit.along - it->second <= tolerance)
                continue;
            it->second = hit.along;
        } else {
            last.emplace_back(hit.mesh, hit.along);
        }
        hits[kept++] = hit;
    }
    hits.resize(kept);
}

// A ray to ask about: a finite source, a finite non-zero direction (made unit length here) and
// a limit that is not negative.
bool usable(const RPoint& source, const RVector& direction, double maxDistance, RVector& unit) {
    double length = 0.0;
    return std::isfinite(source.x) && std::isfinite(source.y) && std::isfinite(source.z) &&
           maxDistance >= 0.0 && unitOf(direction, unit, length);
}

// Hits of one mesh (unordered) of the ray source + u * direction (the query's space, unit
// direction, u <= maxDistance): the ray carried into the mesh's own space in double, then to the
// library; a flattening or non-number world matrix shows nothing.
void meshHits(const MeshRays& rays, const MeshData& mesh, const RMatrix& world, NodeRecord* node,
              const RPoint& source, const RVector& direction, double maxDistance,
              std::vector<Hit>& out) {
    if (rays.triangleCount() == 0)
        return;
    const auto everyTriangle = [&] {
        Found all(rays.triangleCount());
        for (unsigned k = 0; k < all.size(); ++k) all[k] = {0u, k};
        placeHits(rays, mesh, world, source, direction, maxDistance, node, all.begin(), all.end(),
                  true, out);
    };
    RPoint localSource = source;
    RVector localDirection = direction;
    double limit = maxDistance;
    if (!isIdentity(world)) {
        Affine map;
        const MatrixKind kind = affineOf(world, map);
        if (kind == MatrixKind::kNotNumbers)
            return;
        if (kind == MatrixKind::kProjective)
            return everyTriangle();
        double inverse[3][3];
        if (!invertLinear(map, inverse))
            return;
        Affine toLocal;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) toLocal.linear[r][c] = inverse[r][c];
        const Vec3 s = toLocal.vector(
            {source.x - map.shift[0], source.y - map.shift[1], source.z - map.shift[2]});
        const Vec3 d = toLocal.vector({direction.x, direction.y, direction.z});
        double stretch = 0.0;
        if (!finite(s) || !unitOf({d[0], d[1], d[2]}, localDirection, stretch))
            return everyTriangle();
        localSource = RPoint(s[0], s[1], s[2]);
        // The same point of the ray, measured along the local unit direction.
        limit = maxDistance * stretch;
        if (std::isnan(limit))
            limit = std::numeric_limits<double>::infinity();
    }
    LibraryRay ray;
    switch (rays.prepare(localSource, localDirection, limit, ray)) {
        case Prepared::kMisses:
            return;
        case Prepared::kLoop:
            return everyTriangle();
        case Prepared::kTraverse: {
            const auto found = traverse(rays.scene(), ray);
            placeHits(rays, mesh, world, source, direction, maxDistance, node, found.begin(),
                      found.end(), false, out);
            return;
        }
    }
}

}  // namespace rova::scene::rays
