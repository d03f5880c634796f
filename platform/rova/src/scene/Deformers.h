#pragma once
// Deformers between a mesh's own geometry and what the scene shows of it. A deformed mesh shape's
// inMesh is connected from a deformer's outputGeom[k]; the geometry entering the deformer sits in
// its inputGeom[k] (a copy of the shape's own geometry, or what was connected into the shape
// before, so deformers stack). Main thread only.
#include <memory>
#include <vector>

#include "Scene.h"
#include "rova/RItGeometry.h"

namespace rova::scene {

// What an RItGeometry works on during one deformGeometry call.
struct GeometryState {
    std::shared_ptr<MeshData> input;  // null: no geometry entered
    RMatrix toWorld;
    std::vector<RPoint> written;
    bool wrote = false;
};

bool isDeformer(const NodeRecord* node);
int inputGeomIndex(const NodeRecord* deformer);
int outputGeomIndex(const NodeRecord* deformer);

// The mesh shape that element `index` of the deformer's output ends in (through stacked
// deformers), or null.
NodeRecord* deformedShape(NodeRecord* deformer, unsigned index);
// The outputGeom plugs of every deformer that deforms this shape (its whole stack).
std::vector<detail::PlugRef> deformersOf(NodeRecord* shape);

// What the deformer puts out for a geometry: `previous` itself when it already holds exactly these
// points over the same faces, so a geometry that did not change keeps its revision.
std::shared_ptr<MeshData> deformedMesh(const GeometryState& state,
                                       const std::shared_ptr<detail::ObjectImpl>& previous);

}  // namespace rova::scene

namespace rova::detail {
struct GeometryAccess {
    static RItGeometry make(scene::GeometryState* state) { return RItGeometry(state); }
    static scene::GeometryState* state(const RItGeometry& it) {
        return static_cast<scene::GeometryState*>(it.m_geometry);
    }
};
}  // namespace rova::detail
