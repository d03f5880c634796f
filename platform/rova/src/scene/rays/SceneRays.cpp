// The scene-level ray structure: every mesh an instance under its world matrix; and the queries.
#include <embree3/rtcore.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

#include "HostImpl.h"
#include "SceneChanges.h"
#include "model/NodeRecords.h"
#include "scene/RayQueries.h"
#include "scene/rays/HitPlacement.h"
#include "scene/rays/MeshRays.h"
#include "scene/rays/RayLibrary.h"

namespace rova::scene::rays {
namespace {

// The scene structure holds the meshes in a frame of its own: centred on the box around them and
// scaled by a power of two to within [-1, 1], each instance placed by its mesh's stored space and
// its world matrix in double. A mesh whose placement the library could not carry in single
// precision (a flattening, projective or non-number matrix, or a size far below the frame's) is
// asked on its own instead.
struct Instance {
    std::shared_ptr<NodeRecord> shape;
    std::shared_ptr<NodeRecord> transform;  // null at the top
    std::shared_ptr<MeshData> mesh;
    std::uint64_t revision = 0;
    std::shared_ptr<MeshRays> rays;
    RMatrix world;
    RTCGeometry geometry = nullptr;  // in the structure
    unsigned id = RTC_INVALID_GEOMETRY_ID;
    std::array<float, 12> placement{};  // as the library holds it
};

// The most an instance's placement may magnify the frame: a mesh smaller than a thousandth of it
// would see its rays with too little single precision.
constexpr double kMostMagnified = 1e3;

// Where the mesh lies in world space, in double; false when it cannot be placed in the frame.
struct Placement {
    Affine map;
    double inverse[3][3];
    Vec3 low, high;  // the world box of the mesh's box
};
bool placementOf(const Instance& instance, Placement& out) {
    Vec3 low, high;
    if (!instance.rays || !instance.rays->box(low, high) ||
        affineOf(instance.world, out.map) != MatrixKind::kAffine ||
        !invertLinear(out.map, out.inverse))
        return false;
    for (int axis = 0; axis < 3; ++axis) {
        out.low[axis] = out.high[axis] = out.map.shift[axis];
        for (int row = 0; row < 3; ++row) {
            const double a = low[row] * out.map.linear[row][axis];
            const double b = high[row] * out.map.linear[row][axis];
            out.low[axis] += std::min(a, b);
            out.high[axis] += std::max(a, b);
        }
    }
    return finite(out.low) && finite(out.high);
}

class SceneRays {
  public:
    SceneRays() : m_scene(rtcNewScene(device())) {
        if (m_scene)
            rtcSetSceneFlags(m_scene, RTC_SCENE_FLAG_ROBUST);
    }
    ~SceneRays() {
        for (const Instance& instance : m_instances)
            if (instance.geometry)
                rtcReleaseGeometry(instance.geometry);
        if (m_scene)
            rtcReleaseScene(m_scene);
    }
    SceneRays(const SceneRays&) = delete;
    SceneRays& operator=(const SceneRays&) = delete;

    // Brings the structure up to date. When the host's count of scene changes is the one seen at
    // the last update, nothing the scene shows can have changed: answered without a look at the
    // meshes. Otherwise the meshes are looked at, and the structure changes only where they did.
    host::Status update() {
        if (!m_scene)
            return deviceFailure("intersect: cannot make the scene structure");
        // Read before looking: a change made while the meshes are evaluated is seen next time.
        const std::uint64_t changes = detail::sceneChanges();
        if (m_updated && changes == m_changesSeen)
            return {};
        ++buildCounters().sceneChecks;
        if (!current())
            if (host::Status status = rebuildInstances(); !status)
                return status;
        // A mesh or matrix left dirty (its source failed) is pulled again at the next query.
        m_changesSeen = settled() ? changes : 0;
        return {};
    }

    host::Result<std::vector<Hit>> query(const RPoint& source, const RVector& direction,
                                         double tolerance, double maxDistance) {
        std::vector<Hit> hits;
        RVector unit;
        if (!usable(source, direction, maxDistance, unit))
            return {hits, {}};
        const auto ask = [&](const Instance& instance) {
            meshHits(*instance.rays, *instance.mesh, instance.world, instance.shape.get(), source,
                     unit, maxDistance, hits);
        };
        LibraryRay ray;
        const Vec3 o{(source.x - m_center[0]) / m_scale, (source.y - m_center[1]) / m_scale,
                     (source.z - m_center[2]) / m_scale};
        const Prepared prepared = m_byId.empty()
                                      ? Prepared::kMisses
                                      : prepare(m_boxLow, m_boxHigh, o, {unit.x, unit.y, unit.z},
                                                maxDistance / m_scale, ray);
        if (prepared == Prepared::kLoop) {
            for (const Instance* instance : m_byId)
                if (instance)
                    ask(*instance);
        } else if (prepared == Prepared::kTraverse) {
            auto found = traverse(m_scene, ray);
            std::sort(found.begin(), found.end());
            for (auto it = found.begin(); it != found.end();) {
                const unsigned id = it->first;
                const auto end = std::find_if(
                    it, found.end(), [id](const auto& entry) { return entry.first != id; });
                const Instance* instance = id < m_byId.size() ? m_byId[id] : nullptr;
                if (instance)
                    placeHits(*instance->rays, *instance->mesh, instance->world, source, unit,
                              maxDistance, instance->shape.get(), it, end, false, hits);
                it = end;
            }
        }
        for (const Instance* instance : m_apart) ask(*instance);
        orderHits(hits, tolerance);
        return {hits, {}};
    }

  private:
    // Nothing the scene shows changed since the last update: no node came or went, and every
    // mesh shows the same geometry under the same parent and world matrix.
    bool current() const {
        const auto& host = detail::hostImpl();
        if (!m_updated || host.nodes.size() != m_nodeCount ||
            host.lastCreationIndex != m_lastCreation || host.timeNode != m_timeNode.get() ||
            (m_timeNode && !m_timeNode->alive))
            return false;
        for (const Instance& instance : m_instances) {
            NodeRecord* shape = instance.shape.get();
            const int out = attributeIndex(shape, "outMesh");
            if (!shape->alive || shape->isDirty(out) ||
                parentOf(shape) != instance.transform.get() ||
                shape->valueOf(out).mesh.get() != instance.mesh.get() ||
                (instance.mesh && instance.mesh->revision() != instance.revision))
                return false;
            if (NodeRecord* transform = instance.transform.get()) {
                const int world = attributeIndex(transform, "worldMatrix");
                if (!transform->alive || transform->isDirty(world) ||
                    !(transform->valueOf(world).matrix() == instance.world))
                    return false;
            }
        }
        return true;
    }

    // Every mesh and world matrix the structure holds was pulled clean.
    bool settled() const {
        for (const Instance& instance : m_instances) {
            NodeRecord* shape = instance.shape.get();
            if (shape->isDirty(attributeIndex(shape, "outMesh")))
                return false;
            if (NodeRecord* transform = instance.transform.get();
                transform && transform->isDirty(attributeIndex(transform, "worldMatrix")))
                return false;
        }
        return true;
    }

    host::Status rebuildInstances() {
        auto& host = detail::hostImpl();
        std::map<const NodeRecord*, Instance> before;
        for (Instance& instance : m_instances) before[instance.shape.get()] = std::move(instance);
        m_instances.clear();
        // What each mesh shows now, beside what the structure held of it.
        struct Now {
            std::shared_ptr<MeshData> mesh;
            std::shared_ptr<MeshRays> rays;
        };
        std::vector<Now> now;
        const auto nodes = host.nodes;
        for (const auto& node : nodes) {
            if (!node->alive || dagKind(node.get()) != DagKind::kMesh)
                continue;
            Instance instance;
            if (const auto it = before.find(node.get()); it != before.end()) {
                instance = std::move(it->second);
                before.erase(it);
            }
            NodeRecord* parent = parentOf(node.get());
            instance.shape = node;
            instance.transform =
                parent ? std::static_pointer_cast<NodeRecord>(parent->shared_from_this()) : nullptr;
            instance.world = worldMatrix(node.get());
            // Kept without geometry, so that geometry arriving later is noticed.
            Now shows{meshOf(node.get()), nullptr};
            if (shows.mesh) {
                auto rays = raysOf(node.get(), *shows.mesh);
                if (!rays.ok())
                    return rays.status;
                shows.rays = rays.value;
            }
            m_instances.push_back(std::move(instance));
            now.push_back(std::move(shows));
        }
        bool changed = false;
        for (auto& [shape, gone] : before) changed |= release(gone);

        // The frame: kept while the meshes stay well inside it, so that moving one mesh changes
        // only its own placement.
        std::vector<Placement> placements(m_instances.size());
        std::vector<bool> placed(m_instances.size(), false);
        Vec3 low, high;
        low.fill(std::numeric_limits<double>::infinity());
        high.fill(-std::numeric_limits<double>::infinity());
        for (std::size_t k = 0; k < m_instances.size(); ++k) {
            Instance probe;
            probe.rays = now[k].rays;
            probe.world = m_instances[k].world;
            placed[k] = placementOf(probe, placements[k]);
            if (placed[k])
                for (int axis = 0; axis < 3; ++axis) {
                    low[axis] = std::min(low[axis], placements[k].low[axis]);
                    high[axis] = std::max(high[axis], placements[k].high[axis]);
                }
        }
        const bool any = low[0] <= high[0];
        if (any) {
            double half = 0.0;
            bool inside = m_scale > 0.0;
            for (int axis = 0; axis < 3; ++axis) {
                half = std::max(half, high[axis] / 2 - low[axis] / 2);
                inside = inside && low[axis] >= m_center[axis] - m_scale &&
                         high[axis] <= m_center[axis] + m_scale;
            }
            if (!inside || half < m_scale / 16) {
                for (int axis = 0; axis < 3; ++axis)
                    m_center[axis] = low[axis] / 2 + high[axis] / 2;
                // Room to move: twice the meshes' half size, and more (short of infinity).
                m_scale = half > 0.0 ? std::ldexp(1.0, std::min(std::ilogb(half) + 2, 1023)) : 1.0;
            }
            for (int axis = 0; axis < 3; ++axis) {
                m_boxLow[axis] = (low[axis] - m_center[axis]) / m_scale;
                m_boxHigh[axis] = (high[axis] - m_center[axis]) / m_scale;
            }
        }

        m_apart.clear();
        for (std::size_t k = 0; k < m_instances.size(); ++k) {
            Instance& instance = m_instances[k];
            const auto& [mesh, rays] = now[k];
            std::array<float, 12> placement{};
            if (!placed[k] || !placeInFrame(*rays, placements[k], placement)) {
                changed |= release(instance);
                if (rays && rays->triangleCount() > 0)
                    m_apart.push_back(&instance);
            } else {
                const bool fresh = !instance.geometry;
                if (fresh) {
                    instance.geometry = rtcNewGeometry(device(), RTC_GEOMETRY_TYPE_INSTANCE);
                    if (!instance.geometry)
                        return deviceFailure("intersect: cannot make an instance");
                }
                bool commit =
                    fresh || instance.mesh != mesh || instance.revision != mesh->revision();
                if (fresh || instance.rays != rays) {
                    rtcSetGeometryInstancedScene(instance.geometry, rays->scene());
                    commit = true;
                }
                if (fresh || placement != instance.placement) {
                    rtcSetGeometryTransform(instance.geometry, 0, RTC_FORMAT_FLOAT3X4_COLUMN_MAJOR,
                                            placement.data());
                    commit = true;
                }
                if (commit) {
                    rtcCommitGeometry(instance.geometry);
                    changed = true;
                }
                if (fresh)
                    instance.id = rtcAttachGeometry(m_scene, instance.geometry);
            }
            instance.mesh = mesh;
            instance.revision = mesh ? mesh->revision() : 0;
            instance.rays = rays;
            instance.placement = placement;
        }
        m_byId.clear();
        for (const Instance& instance : m_instances) {
            if (!instance.geometry)
                continue;
            if (instance.id >= m_byId.size())
                m_byId.resize(instance.id + 1, nullptr);
            m_byId[instance.id] = &instance;
        }
        if (changed || !m_updated) {
            rtcCommitScene(m_scene);
            ++buildCounters().sceneUpdates;
        }
        m_updated = true;
        m_nodeCount = host.nodes.size();
        m_lastCreation = host.lastCreationIndex;
        // Held so that a host started afresh (a new time node) is never taken for this one.
        m_timeNode = host.timeNode
                         ? std::static_pointer_cast<NodeRecord>(host.timeNode->shared_from_this())
                         : nullptr;
        return {};
    }

    // Takes the instance out of the structure; whether it was in.
    bool release(Instance& instance) {
        if (!instance.geometry)
            return false;
        rtcDetachGeometry(m_scene, instance.id);
        rtcReleaseGeometry(instance.geometry);
        instance.geometry = nullptr;
        instance.id = RTC_INVALID_GEOMETRY_ID;
        return true;
    }

    // The map from the mesh's stored space into the frame, as the library takes it (rows of the
    // linear part, then the shift); false when single precision could not carry rays through it.
    bool placeInFrame(const MeshRays& rays, const Placement& where,
                      std::array<float, 12>& out) const {
        const double s = rays.scale();
        const Vec3 center = where.map.point(rays.center());
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const double linear = where.map.linear[r][c] * (s / m_scale);
                const double inverse = where.inverse[r][c] * (m_scale / s);
                if (!std::isfinite(linear) || !(std::abs(inverse) <= kMostMagnified) ||
                    std::abs(linear) > 4.0)
                    return false;
                out[static_cast<std::size_t>(r * 3 + c)] = static_cast<float>(linear);
            }
        for (int c = 0; c < 3; ++c) {
            const double shift = (center[c] - m_center[c]) / m_scale;
            if (!(std::abs(shift) <= 4.0))
                return false;
            out[static_cast<std::size_t>(9 + c)] = static_cast<float>(shift);
        }
        return true;
    }

    RTCScene m_scene = nullptr;
    std::vector<Instance> m_instances;
    std::vector<const Instance*> m_byId;
    std::vector<const Instance*> m_apart;  // meshes asked on their own
    Vec3 m_center{0.0, 0.0, 0.0};          // the frame: world point = center + scale * frame point
    double m_scale = 0.0;                  // none yet
    Vec3 m_boxLow{0.0, 0.0, 0.0};          // the meshes' box in the frame
    Vec3 m_boxHigh{0.0, 0.0, 0.0};
    bool m_updated = false;
    std::uint64_t m_changesSeen = 0;  // the host's count of scene changes at the last update
                                      // (0, which it never is, when a mesh stayed dirty)
    std::size_t m_nodeCount = 0;
    std::uint64_t m_lastCreation = 0;
    std::shared_ptr<NodeRecord> m_timeNode;
};

SceneRays& sceneRays() {
    static SceneRays scene;
    return scene;
}

}  // namespace

Counters counters() {
    Counters out = buildCounters();
    out.bytes = libraryBytes();
    return out;
}

host::Result<std::vector<Hit>> intersectMesh(NodeRecord* node, const MeshData& mesh,
                                             const RMatrix& world, const RPoint& source,
                                             const RVector& direction, double tolerance,
                                             double maxDistance) {
    std::vector<Hit> hits;
    RVector unit;
    if (!usable(source, direction, maxDistance, unit))
        return {hits, {}};
    auto rays = raysOf(node, mesh);
    if (!rays.ok())
        return {hits, rays.status};
    meshHits(*rays.value, mesh, world, node, source, unit, maxDistance, hits);
    orderHits(hits, tolerance);
    return {hits, {}};
}

host::Result<std::vector<Hit>> intersectScene(const RPoint& source, const RVector& direction,
                                              double tolerance, double maxDistance) {
    SceneRays& scene = sceneRays();
    if (host::Status status = scene.update(); !status)
        return {{}, status};
    return scene.query(source, direction, tolerance, maxDistance);
}

}  // namespace rova::scene::rays
