#pragma once
#include "rova/RMatrix.h"
#include "rova/RPoint.h"
#include "rova/RSpace.h"
#include "rova/RStatus.h"
#include "rova/RovaExport.h"

namespace rova::detail {
struct GeometryAccess;
}

// The vertices of one geometry a deformer deforms, in vertex order. The host hands one to
// RPxDeformerNode::deformGeometry; it is valid only during that call. Positions start as the
// geometry as it enters the deformer; what setAllPositions writes is what the deformer puts out.
// A deformer that writes nothing leaves the geometry as it came in.
class ROVA_API RItGeometry {
  public:
    // Number of vertices.
    int count(RStatus* status = nullptr) const;
    // Every position: the written ones if setAllPositions was called, else the incoming ones.
    RStatus allPositions(RPointArray& points, RSpace::Space space = RSpace::kObject) const;
    // Replaces every position; the array must hold exactly count() points. kWorld positions are
    // taken back into object space through the geometry's local-to-world matrix.
    RStatus setAllPositions(const RPointArray& points, RSpace::Space space = RSpace::kObject);

    RItGeometry(const RItGeometry&) = delete;
    RItGeometry& operator=(const RItGeometry&) = delete;

  private:
    friend struct rova::detail::GeometryAccess;
    explicit RItGeometry(void* geometry) noexcept : m_geometry(geometry) {}
    void* m_geometry = nullptr;
};
