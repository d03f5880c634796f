#pragma once
// The scene inside the host: the built-in DAG node types (transform, mesh, camera), the hierarchy
// between them, mesh data and the active 3D view. Main thread only: data threads never reach it.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "rova/RMatrix.h"
#include "rova/RPoint.h"
#include "rova/RVector.h"
#include "rovahost/Host.h"

namespace rova::scene {

using detail::NodeRecord;
using detail::NodeType;

// Something a later consumer (a ray-intersection structure, say) builds from a mesh and hangs off
// it. It is valid only for the revision it was built at: see MeshData::cachedFor.
struct MeshCache {
    virtual ~MeshCache() = default;
};

// Polygon mesh data: points, faces, and one normal per vertex (element i belongs to vertex i).
// Every change of points or topology goes through setPoints/setTopology, which recompute the
// normals and take a new revision number, unique in the process, so a cache keyed on the
// revision can never mistake one state of a mesh (or another mesh) for this one.
struct MeshData : detail::DataObject {
    MeshData();
    const std::vector<RPoint>& points() const { return m_points; }
    const std::vector<int>& faceCounts() const { return m_faceCounts; }      // per polygon
    const std::vector<int>& faceVertices() const { return m_faceVertices; }  // all polygons
    const std::vector<RVector>& normals() const { return m_normals; }
    std::uint64_t revision() const { return m_revision; }
    // The box around the points (lower, upper corners); computed once per revision. Without
    // points, lower is above upper. A coordinate that is not a number is left out.
    const std::pair<RPoint, RPoint>& bounds() const;

    void setPoints(std::vector<RPoint> points);
    // Faces as vertex counts and vertex indices; the caller has checked the indices.
    void setTopology(std::vector<RPoint> points, std::vector<int> counts,
                     std::vector<int> vertices);
    std::shared_ptr<MeshData> copy() const;  // same geometry, a fresh revision, no cache

    // The cache built at the current revision, or null.
    std::shared_ptr<MeshCache> cachedFor() const {
        return m_cacheRevision == m_revision ? m_cache : nullptr;
    }
    void setCache(std::shared_ptr<MeshCache> cache) const {
        m_cache = std::move(cache);
        m_cacheRevision = m_revision;
    }

  private:
    void changed();
    std::vector<RPoint> m_points;
    std::vector<int> m_faceCounts, m_faceVertices;
    std::vector<RVector> m_normals;
    std::uint64_t m_revision = 0;
    mutable std::pair<RPoint, RPoint> m_bounds;
    mutable std::uint64_t m_boundsRevision = 0;
    mutable std::shared_ptr<MeshCache> m_cache;
    mutable std::uint64_t m_cacheRevision = 0;
};

MeshData* meshDataOf(const RObject& object);  // null unless the object is mesh data

// The scene belongs to the thread the host was made on (the main thread): a data thread that
// reaches for it finds no view, no node and no path.
bool onSceneThread();
inline RStatus offSceneThread(const char* call) {
    return RStatus(RStatus::kFailure,
                   std::string(call) + ": the scene is reached from the main thread only");
}

// The live node behind a node object, or null (not a node, deleted, or asked off the main thread).
inline NodeRecord* liveNode(const RObject& object) {
    if (!onSceneThread())
        return nullptr;
    detail::ObjectImpl* impl = detail::Access::get(object);
    if (!impl || impl->kind != RObject::Kind::kNode)
        return nullptr;
    auto* node = static_cast<NodeRecord*>(impl);
    return node->alive && node->instance ? node : nullptr;
}
inline RObject objectOf(NodeRecord* node) {
    return node ? detail::Access::make(node->shared_from_this()) : RObject();
}

// ---- node types
enum class DagKind { kNone, kTransform, kMesh, kCamera };

// The host's built-in scene types, made once per host.
std::vector<std::shared_ptr<NodeType>> makeSceneTypes();
DagKind dagKind(const NodeRecord* node);
inline bool isDag(const NodeRecord* node) {
    return dagKind(node) != DagKind::kNone;
}
// Adds an attribute (and its children, after it) to a built-in type; returns its index.
int addAttribute(NodeType& type, const std::shared_ptr<detail::AttributeDef>& def);
// A keyable compound of three doubles with X, Y and Z children, each defaulting to value.
std::shared_ptr<detail::AttributeDef> tripleAttribute(const std::string& longName,
                                                      const std::string& shortName, double value);
// The attribute of the node's type with this long name (every use names the attribute).
int attributeIndex(const NodeRecord* node, const char* longName);

// ---- hierarchy
NodeRecord* parentOf(const NodeRecord* node);  // null at the top
void setParent(NodeRecord* child, NodeRecord* parent);
std::vector<NodeRecord*> childrenOf(const NodeRecord* node);  // creation order
// The node and everything below it, parents before their children.
std::vector<NodeRecord*> subtree(NodeRecord* node);
// From the top transform down to the node.
std::vector<NodeRecord*> pathTo(NodeRecord* node);
// The world transforms of the transforms whose parent is this transform (dirty propagation).
std::vector<detail::PlugRef> worldDependents(NodeRecord* node, int attribute);

// What a tick shows of the scene: every transform's world matrix and every mesh's geometry,
// pulled through what is connected into them. Failures land in the host's evaluation errors.
void evaluateDisplayed();

// ---- matrices (evaluating through connections)
RMatrix localMatrix(NodeRecord* transform);
RMatrix worldMatrix(NodeRecord* node);  // a shape: its transform's; null or top: identity

// ---- meshes
std::shared_ptr<MeshData> meshOf(NodeRecord* shape);  // evaluated outMesh; may be null
host::Status setMeshOf(NodeRecord* shape, std::shared_ptr<MeshData> mesh);

// ---- the active 3D view
// The camera shape the active view looks through: the user's when one is set and exists, else the
// host's default camera, a shape "perspShape" under "persp" that is in no node list: at (0, 0, 10),
// looking down -Z at the origin, +Y up.
NodeRecord* activeCameraShape();
NodeRecord* defaultCameraShape();

}  // namespace rova::scene
