// RItGeometry: the vertices a deformer works on during one deformGeometry call.
#include "rova/RItGeometry.h"

#include "scene/Deformers.h"

namespace {
RStatus noGeometry(const char* call) {
    return RStatus(RStatus::kFailure, std::string(call) + ": the iterator has no geometry");
}

bool isWorld(RSpace::Space space) {
    return space == RSpace::kWorld || space == RSpace::kPostTransform;
}
}  // namespace

int RItGeometry::count(RStatus* status) const {
    const auto* state = rova::detail::GeometryAccess::state(*this);
    if (!state || !state->input) {
        if (status)
            *status = noGeometry("count");
        return 0;
    }
    if (status)
        status->clear();
    return static_cast<int>(state->input->points().size());
}

RStatus RItGeometry::allPositions(RPointArray& points, RSpace::Space space) const {
    const auto* state = rova::detail::GeometryAccess::state(*this);
    if (!state || !state->input)
        return noGeometry("allPositions");
    points = state->wrote ? state->written : state->input->points();
    if (isWorld(space))
        for (RPoint& p : points) p = p * state->toWorld;
    return RStatus();
}

RStatus RItGeometry::setAllPositions(const RPointArray& points, RSpace::Space space) {
    auto* state = rova::detail::GeometryAccess::state(*this);
    if (!state || !state->input)
        return noGeometry("setAllPositions");
    if (points.size() != state->input->points().size())
        return RStatus(RStatus::kInvalidParameter,
                       "setAllPositions: " + std::to_string(points.size()) +
                           " points for a geometry of " +
                           std::to_string(state->input->points().size()) + " vertices");
    state->written = points;
    if (isWorld(space)) {
        const RMatrix toObject = state->toWorld.inverse();
        for (RPoint& p : state->written) p = p * toObject;
    }
    for (RPoint& p : state->written) {
        if (p.w != 0.0 && p.w != 1.0)
            p = RPoint(p.x / p.w, p.y / p.w, p.z / p.w);
        p.w = 1.0;
    }
    state->wrote = true;
    return RStatus();
}
