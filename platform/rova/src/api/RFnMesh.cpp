// RFnMesh: points, normals and polygons of a mesh node or of mesh data.
#include "rova/RFnMesh.h"

#include "host/Faults.h"
#include "model/NodeRecords.h"
#include "scene/RayQueries.h"
#include "scene/Scene.h"

using rova::scene::DagKind;
using rova::scene::liveNode;
using rova::scene::MeshData;
using rova::scene::NodeRecord;

namespace {
RStatus noMesh(const char* call) {
    return RStatus(RStatus::kInvalidParameter,
                   std::string(call) + ": the function set has no mesh");
}

struct Attached {
    std::shared_ptr<MeshData> mesh;  // kept alive for the call
    NodeRecord* node = nullptr;      // null for mesh data
};

Attached attached(const RObject& object) {
    Attached out;
    if (MeshData* data = rova::scene::meshDataOf(object)) {
        out.mesh = std::static_pointer_cast<MeshData>(data->shared_from_this());
        return out;
    }
    out.node = liveNode(object);
    if (out.node && rova::scene::dagKind(out.node) == DagKind::kMesh)
        out.mesh = rova::scene::meshOf(out.node);
    if (!out.mesh)
        out.node = nullptr;
    return out;
}

bool isWorld(RSpace::Space space) {
    return space == RSpace::kWorld;
}
}  // namespace

RFnMesh::RFnMesh(const RObject& meshNodeOrData, RStatus* status) {
    const RStatus s = RFnMesh::setObject(meshNodeOrData);
    if (status)
        *status = s;
}

RFnMesh::RFnMesh(const RDagPath& path, RStatus* status) {
    RStatus s;
    const RObject node = path.node(&s);
    if (s)
        s = RFnMesh::setObject(node);
    if (s) {
        m_path = path;
        m_hasPath = true;
    }
    if (status)
        *status = s;
}

RStatus RFnMesh::setObject(const RObject& meshNodeOrData) {
    m_hasPath = false;
    m_path = RDagPath();
    const NodeRecord* node = liveNode(meshNodeOrData);
    if (!rova::scene::meshDataOf(meshNodeOrData) &&
        !(node && rova::scene::dagKind(node) == DagKind::kMesh)) {
        m_object = RObject();
        return RStatus(RStatus::kInvalidParameter,
                       "setObject: the object is not a mesh node or mesh data");
    }
    m_object = meshNodeOrData;
    return RStatus();
}

int RFnMesh::numVertices(RStatus* status) const {
    const Attached a = attached(m_object);
    if (status)
        *status = a.mesh ? RStatus() : noMesh("numVertices");
    return a.mesh ? static_cast<int>(a.mesh->points().size()) : 0;
}

int RFnMesh::numNormals(RStatus* status) const {
    const Attached a = attached(m_object);
    if (status)
        *status = a.mesh ? RStatus() : noMesh("numNormals");
    return a.mesh ? static_cast<int>(a.mesh->normals().size()) : 0;
}

int RFnMesh::numPolygons(RStatus* status) const {
    const Attached a = attached(m_object);
    if (status)
        *status = a.mesh ? RStatus() : noMesh("numPolygons");
    return a.mesh ? static_cast<int>(a.mesh->faceCounts().size()) : 0;
}

RStatus RFnMesh::getPoints(RPointArray& points, RSpace::Space space) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("getPoints");
    if (isWorld(space) && !a.node)
        return RStatus(RStatus::kInvalidParameter, "getPoints: mesh data has no world space");
    const RMatrix world = !isWorld(space) ? RMatrix()
                          : m_hasPath     ? m_path.inclusiveMatrix()
                                          : rova::scene::worldMatrix(a.node);
    points.clear();
    points.reserve(a.mesh->points().size());
    for (const RPoint& p : a.mesh->points()) points.push_back(isWorld(space) ? p * world : p);
    return RStatus();
}

RStatus RFnMesh::getBoundingBox(RPoint& lower, RPoint& upper) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("getBoundingBox");
    const auto& box = a.mesh->bounds();
    lower = box.first;
    upper = box.second;
    return RStatus();
}

RStatus RFnMesh::getPoint(int vertex, RPoint& point, RSpace::Space space) const {
    RPointArray points;
    if (RStatus s = getPoints(points, space); !s)
        return s;
    if (vertex < 0 || static_cast<std::size_t>(vertex) >= points.size())
        return RStatus(RStatus::kInvalidParameter, "getPoint: vertex " + std::to_string(vertex) +
                                                       " of " + std::to_string(points.size()));
    point = points[static_cast<std::size_t>(vertex)];
    return RStatus();
}

RStatus RFnMesh::setPoints(const RPointArray& points, RSpace::Space space) {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("setPoints");
    if (points.size() != a.mesh->points().size())
        return RStatus(RStatus::kInvalidParameter,
                       "setPoints: " + std::to_string(points.size()) + " points for a mesh of " +
                           std::to_string(a.mesh->points().size()) + " vertices");
    if (isWorld(space) && !a.node)
        return RStatus(RStatus::kInvalidParameter, "setPoints: mesh data has no world space");
    std::vector<RPoint> local = points;
    if (isWorld(space)) {
        const RMatrix toObject =
            (m_hasPath ? m_path.inclusiveMatrix() : rova::scene::worldMatrix(a.node)).inverse();
        for (RPoint& p : local) p = p * toObject;
    }
    for (RPoint& p : local) {
        if (p.w != 0.0 && p.w != 1.0)
            p = RPoint(p.x / p.w, p.y / p.w, p.z / p.w);
        p.w = 1.0;
    }
    if (!a.node) {
        a.mesh->setPoints(std::move(local));
        return RStatus();
    }
    auto changed = a.mesh->copy();
    changed->setPoints(std::move(local));
    const auto stored = rova::scene::setMeshOf(a.node, changed);
    return stored ? RStatus() : RStatus(RStatus::kFailure, "setPoints: " + stored.message);
}

RStatus RFnMesh::getNormals(RFloatVectorArray& normals, RSpace::Space space) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("getNormals");
    if (isWorld(space) && !a.node)
        return RStatus(RStatus::kInvalidParameter, "getNormals: mesh data has no world space");
    // Normals turn with the inverse transpose, so they stay perpendicular under non-uniform scale.
    const RMatrix toWorld =
        !isWorld(space) ? RMatrix()
                        : (m_hasPath ? m_path.inclusiveMatrix() : rova::scene::worldMatrix(a.node))
                              .inverse()
                              .transpose();
    normals.clear();
    normals.reserve(a.mesh->normals().size());
    for (const RVector& n : a.mesh->normals())
        normals.emplace_back(isWorld(space) ? (n * toWorld).normal() : n);
    return RStatus();
}

RStatus RFnMesh::getVertexNormal(int vertex, RVector& normal, RSpace::Space space) const {
    RFloatVectorArray normals;
    if (RStatus s = getNormals(normals, space); !s)
        return s;
    if (vertex < 0 || static_cast<std::size_t>(vertex) >= normals.size())
        return RStatus(RStatus::kInvalidParameter, "getVertexNormal: vertex " +
                                                       std::to_string(vertex) + " of " +
                                                       std::to_string(normals.size()));
    normal = normals[static_cast<std::size_t>(vertex)].asVector();
    return RStatus();
}

RStatus RFnMesh::getVertices(RIntArray& vertexCounts, RIntArray& vertexList) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("getVertices");
    vertexCounts = a.mesh->faceCounts();
    vertexList = a.mesh->faceVertices();
    return RStatus();
}

RStatus RFnMesh::getPolygonVertices(int polygon, RIntArray& vertexList) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("getPolygonVertices");
    const auto& counts = a.mesh->faceCounts();
    if (polygon < 0 || static_cast<std::size_t>(polygon) >= counts.size())
        return RStatus(RStatus::kInvalidParameter, "getPolygonVertices: polygon " +
                                                       std::to_string(polygon) + " of " +
                                                       std::to_string(counts.size()));
    std::size_t start = 0;
    for (int k = 0; k < polygon; ++k)
        start += static_cast<std::size_t>(counts[static_cast<std::size_t>(k)]);
    const auto first = a.mesh->faceVertices().begin() + static_cast<long>(start);
    vertexList.assign(first, first + counts[static_cast<std::size_t>(polygon)]);
    return RStatus();
}

RStatus RFnMesh::revision(unsigned long long& revision) const {
    const Attached a = attached(m_object);
    if (!a.mesh)
        return noMesh("revision");
    revision = a.mesh->revision();
    return RStatus();
}

bool RFnMesh::intersect(const RPoint& source, const RVector& direction, RPointArray& points,
                        double tolerance, RSpace::Space space, RIntArray* polygonIds,
                        RStatus* status) const {
    points.clear();
    if (polygonIds)
        polygonIds->clear();
    const auto fail = [status](RStatus s) {
        if (status)
            *status = std::move(s);
        return false;
    };
    const Attached a = attached(m_object);
    if (!a.mesh)
        return fail(noMesh("intersect"));
    if (isWorld(space) && !a.node)
        return fail(RStatus(RStatus::kInvalidParameter, "intersect: mesh data has no world space"));
    const std::string subject = a.node ? a.node->name : std::string("meshData");
    if (rova::detail::faultArmed(rova::host::FaultPoint::kIntersect, subject))
        return fail(rova::detail::injectedFailure(rova::host::FaultPoint::kIntersect, subject));
    const RMatrix world = !isWorld(space) ? RMatrix()
                          : m_hasPath     ? m_path.inclusiveMatrix()
                                          : rova::scene::worldMatrix(a.node);
    const auto hits =
        rova::scene::rays::intersectMesh(a.node, *a.mesh, world, source, direction, tolerance);
    if (!hits.ok())
        return fail(RStatus(RStatus::kFailure, hits.status.message));
    for (const auto& hit : hits.value) {
        points.push_back(hit.point);
        if (polygonIds)
            polygonIds->push_back(hit.polygon);
    }
    if (status)
        *status = RStatus();
    return !points.empty();
}
