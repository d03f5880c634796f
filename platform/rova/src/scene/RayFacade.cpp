// The host's facade over the ray queries: mesh and scene intersections by object name.
#include <array>
#include <limits>
#include <string>
#include <vector>

#include "HostImpl.h"
#include "model/NodeRecords.h"
#include "rova/RFnMesh.h"
#include "rovahost/Scene.h"
#include "scene/RayQueries.h"

namespace rova::host::scene {

namespace {
RPoint pointOf(const std::array<double, 3>& p) {
    return {p[0], p[1], p[2]};
}
}  // namespace

Result<std::vector<RayHit>> intersect(const std::string& object,
                                      const std::array<double, 3>& source,
                                      const std::array<double, 3>& direction, double tolerance,
                                      double maxDistance) {
    const auto shape = shapeOf(object, ShapeType::kMesh);
    if (!shape.ok())
        return {{}, shape.status};
    detail::NodeRecord* node = detail::hostImpl().findNode(shape.value);
    RStatus status;
    const RFnMesh mesh(rova::scene::objectOf(node), &status);
    if (!status)
        return {{}, Status::failure(status.errorString().str())};
    RPointArray points;
    RIntArray polygons;
    mesh.intersect(pointOf(source), RVector(direction[0], direction[1], direction[2]), points,
                   tolerance, RSpace::kWorld, &polygons, &status);
    if (!status)
        return {{}, Status::failure(status.errorString().str())};
    // The same limit as the scene query's: the hit's distance from the source.
    const RPoint from = pointOf(source);
    std::vector<RayHit> hits;
    for (std::size_t k = 0; k < points.size(); ++k)
        if (maxDistance >= std::numeric_limits<double>::infinity() ||
            (points[k] - from).length() <= maxDistance)
            hits.push_back({shape.value, {points[k].x, points[k].y, points[k].z}, polygons[k]});
    return {hits, {}};
}

Result<std::vector<RayHit>> intersectScene(const std::array<double, 3>& source,
                                           const std::array<double, 3>& direction, double tolerance,
                                           double maxDistance) {
    const auto found = rova::scene::rays::intersectScene(
        pointOf(source), RVector(direction[0], direction[1], direction[2]), tolerance, maxDistance);
    if (!found.ok())
        return {{}, found.status};
    std::vector<RayHit> hits;
    hits.reserve(found.value.size());
    for (const auto& hit : found.value)
        hits.push_back({hit.mesh->name, {hit.point.x, hit.point.y, hit.point.z}, hit.polygon});
    return {hits, {}};
}

RayCounters rayCounters() {
    const auto c = rova::scene::rays::counters();
    return {c.builds, c.refits, c.rebuilds, c.sceneUpdates, c.sceneChecks, c.bytes};
}

}  // namespace rova::host::scene
