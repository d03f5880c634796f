#pragma once
#include "rova/RDagPath.h"
#include "rova/RFnDependencyNode.h"
#include "rova/RPoint.h"
#include "rova/RSpace.h"
#include "rova/RVector.h"

// A function set for polygon meshes: a mesh node (its points as it shows them, after whatever is
// connected into it), a path to one, or mesh data inside a data block. Points are listed in vertex
// order; there is one normal per vertex, so element i of the normals belongs to vertex i. Normals
// are recomputed from the faces whenever points change. World space needs a node or path (mesh
// data has no place in the scene); kObject and kTransform are the mesh's own space.
class ROVA_API RFnMesh : public RFnDependencyNode {
  public:
    RFnMesh() noexcept = default;
    explicit RFnMesh(const RObject& meshNodeOrData, RStatus* status = nullptr);
    explicit RFnMesh(const RDagPath& path, RStatus* status = nullptr);
    RStatus setObject(const RObject& meshNodeOrData) override;

    int numVertices(RStatus* status = nullptr) const;
    int numPolygons(RStatus* status = nullptr) const;
    int numNormals(RStatus* status = nullptr) const;  // equals numVertices
    RStatus getPoints(RPointArray& points, RSpace::Space space = RSpace::kObject) const;
    RStatus getPoint(int vertex, RPoint& point, RSpace::Space space = RSpace::kObject) const;
    // Replaces every point (the count must match). On a node this changes the node's own geometry
    // (a new mesh revision: earlier copies of the data keep the old points); on mesh data the data
    // itself.
    RStatus setPoints(const RPointArray& points, RSpace::Space space = RSpace::kObject);
    // The corners of the box around the points in the mesh's own space; kept with the geometry,
    // so asking again costs nothing until the points change. Without points, lower lies above
    // upper in every coordinate.
    RStatus getBoundingBox(RPoint& lower, RPoint& upper) const;
    RStatus getNormals(RFloatVectorArray& normals, RSpace::Space space = RSpace::kObject) const;
    RStatus getVertexNormal(int vertex, RVector& normal,
                            RSpace::Space space = RSpace::kObject) const;
    // Polygons: vertex counts, then all polygons' vertex indices in order.
    RStatus getVertices(RIntArray& vertexCounts, RIntArray& vertexList) const;
    RStatus getPolygonVertices(int polygon, RIntArray& vertexList) const;
    // A number that changes whenever the points or polygons change (never reused by another mesh
    // state in this process): caches of the geometry are valid while it stays the same.
    RStatus revision(unsigned long long& revision) const;

    // Casts the ray source + t * direction (t >= 0) at the mesh and fills `points` with every hit,
    // nearest first, in `space` (kWorld through the mesh's world matrix; needs a node or path),
    // and `polygonIds`, when given, with the polygon each hit lies on. A polygon is hit at most
    // once; hits closer together along the ray than `tolerance` (a ray through an edge two
    // polygons share) count once. Answers whether anything was hit; a zero or non-finite ray hits
    // nothing. The mesh keeps what it builds for the query until its points or polygons change.
    bool intersect(const RPoint& source, const RVector& direction, RPointArray& points,
                   double tolerance = 1e-10, RSpace::Space space = RSpace::kObject,
                   RIntArray* polygonIds = nullptr, RStatus* status = nullptr) const;

  private:
    RDagPath m_path;
    bool m_hasPath = false;
};
