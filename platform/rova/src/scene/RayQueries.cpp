// Ray queries: per-mesh acceleration structures, the scene-level structure over them, and the
// exact placement of hits.
#include "scene/RayQueries.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <unordered_map>

#include "HostImpl.h"
#include "SceneChanges.h"
#include "rova/RFnMesh.h"
#include "rovahost/Scene.h"

namespace rova::scene::rays {
namespace {

// ---------------------------------------------------------------- the device
std::atomic<std::int64_t> g_bytes{0};
Counters g_counters;
std::string g_deviceError;  // the newest error the library reported

// The library's own worker threads are not instrumented by the thread sanitizer, which then
// reports their hand-offs as races. Under it every build runs on the calling thread; results do
// not depend on the build's threading (hits are collected, placed in double and sorted).
#if defined(__SANITIZE_THREAD__)
constexpr const char* kDeviceConfig = "threads=1";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr const char* kDeviceConfig = "threads=1";
#else
constexpr const char* kDeviceConfig = "";
#endif
#else
constexpr const char* kDeviceConfig = "";
#endif

RTCDevice device() {
    static RTCDevice made = [] {
        RTCDevice d = rtcNewDevice(kDeviceConfig);
        if (!d)
            return d;
        rtcSetDeviceErrorFunction(
            d,
            [](void*, RTCError, const char* message) {
                g_deviceError = message ? message : "unknown error";
            },
            nullptr);
        // Called from build threads too.
        rtcSetDeviceMemoryMonitorFunction(
            d,
            [](void*, ssize_t bytes, bool) {
                g_bytes.fetch_add(static_cast<std::int64_t>(bytes), std::memory_order_relaxed);
                return true;
            },
            nullptr);
        return d;
    }();
    return made;
}

host::Status deviceFailure(const char* what) {
    return host::Status::failure(std::string(what) + ": " +
                                 (g_deviceError.empty() ? "no ray device" : g_deviceError));
}

// Hits the traversal offers; every one is refused so that traversal goes on to the next.
struct Collector {
    RTCIntersectContext context;                       // first: the library hands this pointer back
    std::vector<std::pair<unsigned, unsigned>> found;  // (instance, triangle)
};

void collect(const RTCFilterFunctionNArguments* args) {
    auto* collector = reinterpret_cast<Collector*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (!args->valid[i])
            continue;
        collector->found.emplace_back(RTCHitN_instID(args->hit, args->N, i, 0),
                                      RTCHitN_primID(args->hit, args->N, i));
        args->valid[i] = 0;
    }
}

// The ray parameter (in units of the direction's length) up to which the traversal looks: a little
// beyond the limit, so that single precision loses nothing the exact placement keeps.
float traversalLimit(double limit) {
    if (!std::isfinite(limit) || limit > 1e30)
        return std::numeric_limits<float>::infinity();
    return static_cast<float>(limit) * 1.001f + 1e-6f;
}

// Every triangle the ray meets up to the parameter `limit`, unordered.
std::vector<std::pair<unsigned, unsigned>> traverse(RTCScene scene, const RPoint& source,
                                                    const RVector& direction, double limit) {
    Collector collector;
    collector.found.reserve(16);
    rtcInitIntersectContext(&collector.context);
    RTCRayHit rayHit{};
    rayHit.ray.org_x = static_cast<float>(source.x);
    rayHit.ray.org_y = static_cast<float>(source.y);
    rayHit.ray.org_z = static_cast<float>(source.z);
    rayHit.ray.dir_x = static_cast<float>(direction.x);
    rayHit.ray.dir_y = static_cast<float>(direction.y);
    rayHit.ray.dir_z = static_cast<float>(direction.z);
    rayHit.ray.tnear = 0.0f;
    rayHit.ray.tfar = traversalLimit(limit);
    rayHit.ray.mask = 0xffffffffu;
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene, &collector.context, &rayHit);
    return std::move(collector.found);
}

// ---------------------------------------------------------------- one mesh
// A mesh's structure: its triangles (polygons fanned from their first vertex) in one scene.
class MeshRays : public MeshCache {
  public:
    MeshRays() : m_scene(rtcNewScene(device())) {
        if (!m_scene)
            return;
        rtcSetSceneFlags(m_scene, RTC_SCENE_FLAG_ROBUST);
        rtcSetSceneBuildQuality(m_scene, RTC_BUILD_QUALITY_MEDIUM);
    }
    ~MeshRays() override {
        if (m_scene)
            rtcReleaseScene(m_scene);
    }
    MeshRays(const MeshRays&) = delete;
    MeshRays& operator=(const MeshRays&) = delete;

    bool valid() const { return m_scene != nullptr; }
    RTCScene scene() const { return m_scene; }
    std::size_t triangleCount() const { return m_polygonOf.size(); }

    // Triangles of the mesh's polygons, built for the first time.
    bool build(const MeshData& mesh) {
        fan(mesh, m_indices, m_polygonOf);
        if (m_polygonOf.empty()) {
            rtcCommitScene(m_scene);
            return true;
        }
        m_geometry = rtcNewGeometry(device(), RTC_GEOMETRY_TYPE_TRIANGLE);
        if (!m_geometry)
            return false;
        // Later commits of moved points refit the bounds instead of building again.
        rtcSetGeometryBuildQuality(m_geometry, RTC_BUILD_QUALITY_REFIT);
        rtcSetGeometryIntersectFilterFunction(m_geometry, collect);
        auto* indices = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(m_geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                    3 * sizeof(unsigned), m_polygonOf.size()));
        auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
            m_geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float),
            std::max<std::size_t>(1, mesh.points().size())));
        if (!indices || !vertices)
            return false;
        std::copy(m_indices.begin(), m_indices.end(), indices);
        m_vertices = vertices;
        writePoints(mesh);
        rtcCommitGeometry(m_geometry);
        rtcAttachGeometry(m_scene, m_geometry);
        rtcReleaseGeometry(m_geometry);  // the scene holds it from here
        rtcCommitScene(m_scene);
        return true;
    }

    // Whether the mesh's polygons make the same triangles as this structure holds.
    bool sameTriangles(const MeshData& mesh) const {
        std::vector<unsigned> indices;
        std::vector<int> polygons;
        fan(mesh, indices, polygons);
        return polygons == m_polygonOf && indices == m_indices &&
               (m_polygonOf.empty() || mesh.points().size() == m_pointCount);
    }

    // The points moved, the polygons did not.
    void refit(const MeshData& mesh) {
        if (!m_geometry)
            return;
        writePoints(mesh);
        rtcUpdateGeometryBuffer(m_geometry, RTC_BUFFER_TYPE_VERTEX, 0);
        rtcCommitGeometry(m_geometry);
        rtcCommitScene(m_scene);
    }

    const unsigned* triangle(unsigned index) const { return &m_indices[3 * std::size_t{index}]; }

    // Whether the ray source + t * direction, 0 <= t <= limit, may meet the box around the points
    // in the mesh's own space, or (affine `world`) around them in the space `world` maps them to.
    bool mayHit(const RPoint& source, const RVector& direction, double limit) const {
        return !m_polygonOf.empty() && meetsBox(m_low, m_high, source, direction, limit);
    }
    bool mayHit(const RMatrix& world, const RPoint& source, const RVector& direction,
                double limit) const {
        if (m_polygonOf.empty())
            return false;
        if (world[0][3] != 0.0 || world[1][3] != 0.0 || world[2][3] != 0.0 || world[3][3] != 1.0)
            return true;  // not affine: no box is tried
        double low[3], high[3];
        for (int axis = 0; axis < 3; ++axis) {
            // The image of the box: the translation plus, per row, the smaller or larger end.
            low[axis] = high[axis] = world[3][axis];
            for (int row = 0; row < 3; ++row) {
                const double a = m_low[row] * world[row][axis];
                const double b = m_high[row] * world[row][axis];
                low[axis] += std::min(a, b);
                high[axis] += std::max(a, b);
            }
            if (!std::isfinite(low[axis]) || !std::isfinite(high[axis]))
                return true;
        }
        return meetsBox(low, high, source, direction, limit);
    }
    int polygonOf(unsigned index) const { return m_polygonOf[index]; }

    std::weak_ptr<detail::ObjectImpl> owner;  // the mesh data that holds this as its cache

  private:
    // The box is widened by far more than single precision moves a point, so that no hit the
    // traversal would find on the stored triangles is refused; a ray that misses it skips the
    // traversal.
    static bool meetsBox(const double* boxLow, const double* boxHigh, const RPoint& source,
                         const RVector& direction, double limit) {
        const double s[3] = {source.x, source.y, source.z};
        const double d[3] = {direction.x, direction.y, direction.z};
        double enter = 0.0;
        double leave = limit;
        for (int axis = 0; axis < 3; ++axis) {
            const double margin = 1e-5 * (boxHigh[axis] - boxLow[axis]) +
                                  1e-5 * std::max(std::abs(boxLow[axis]), std::abs(boxHigh[axis])) +
                                  1e-12;
            const double low = boxLow[axis] - margin;
            const double high = boxHigh[axis] + margin;
            if (d[axis] == 0.0) {
                if (!(s[axis] >= low && s[axis] <= high))
                    return false;
                continue;
            }
            double t0 = (low - s[axis]) / d[axis];
            double t1 = (high - s[axis]) / d[axis];
            if (t0 > t1)
                std::swap(t0, t1);
            enter = std::max(enter, t0);
            leave = std::min(leave, t1);
            if (!(enter <= leave))
                return false;
        }
        return true;
    }

    static void fan(const MeshData& mesh, std::vector<unsigned>& indices,
                    std::vector<int>& polygons) {
        indices.clear();
        polygons.clear();
        std::size_t start = 0;
        const auto& counts = mesh.faceCounts();
        const auto& corners = mesh.faceVertices();
        for (std::size_t polygon = 0; polygon < counts.size(); ++polygon) {
            const auto count = static_cast<std::size_t>(counts[polygon]);
            for (std::size_t k = 1; k + 1 < count; ++k) {
                indices.push_back(static_cast<unsigned>(corners[start]));
                indices.push_back(static_cast<unsigned>(corners[start + k]));
                indices.push_back(static_cast<unsigned>(corners[start + k + 1]));
                polygons.push_back(static_cast<int>(polygon));
            }
            start += count;
        }
    }

    void writePoints(const MeshData& mesh) {
        m_pointCount = mesh.points().size();
        float* out = m_vertices;
        for (int axis = 0; axis < 3; ++axis) {
            m_low[axis] = std::numeric_limits<double>::infinity();
            m_high[axis] = -std::numeric_limits<double>::infinity();
        }
        for (const RPoint& p : mesh.points()) {
            *out++ = static_cast<float>(p.x);
            *out++ = static_cast<float>(p.y);
            *out++ = static_cast<float>(p.z);
            const double c[3] = {p.x, p.y, p.z};
            for (int axis = 0; axis < 3; ++axis) {
                m_low[axis] = std::min(m_low[axis], c[axis]);
                m_high[axis] = std::max(m_high[axis], c[axis]);
            }
        }
        // Points that are not numbers: no box to trust, every ray goes to the traversal.
        for (int axis = 0; axis < 3; ++axis)
            if (!std::isfinite(m_low[axis]) || !std::isfinite(m_high[axis])) {
                m_low[axis] = -std::numeric_limits<double>::infinity();
                m_high[axis] = std::numeric_limits<double>::infinity();
            }
    }

    RTCScene m_scene = nullptr;
    RTCGeometry m_geometry = nullptr;
    float* m_vertices = nullptr;  // the library's vertex buffer
    std::size_t m_pointCount = 0;
    double m_low[3] = {0.0, 0.0, 0.0};  // the points' box in the mesh's own space
    double m_high[3] = {0.0, 0.0, 0.0};
    std::vector<unsigned> m_indices;  // three per triangle
    std::vector<int> m_polygonOf;     // per triangle
};

// The structure each mesh node had last, so that the node's next geometry can reuse it.
std::unordered_map<const NodeRecord*,
                   std::pair<std::weak_ptr<detail::ObjectImpl>, std::shared_ptr<MeshRays>>>&
lastOfNode() {
    static std::unordered_map<
        const NodeRecord*, std::pair<std::weak_ptr<detail::ObjectImpl>, std::shared_ptr<MeshRays>>>
        table;
    return table;
}

void forgetDeletedNodes() {
    auto& table = lastOfNode();
    for (auto it = table.begin(); it != table.end();) {
        const auto node = it->second.first.lock();
        if (!node || !static_cast<NodeRecord*>(node.get())->alive)
            it = table.erase(it);
        else
            ++it;
    }
}

host::Result<std::shared_ptr<MeshRays>> raysOf(NodeRecord* node, const MeshData& mesh) {
    if (auto cached = std::dynamic_pointer_cast<MeshRays>(mesh.cachedFor()))
        return {cached, {}};
    std::shared_ptr<MeshRays> previous;
    if (node) {
        const auto it = lastOfNode().find(node);
        if (it != lastOfNode().end() && !it->second.first.expired())
            previous = it->second.second;
    }
    std::shared_ptr<MeshRays> rays;
    if (previous && previous->sameTriangles(mesh)) {
        // The data that held it keeps its revision but loses the structure, which now shows the
        // new points.
        if (const auto owner = previous->owner.lock())
            if (auto* data = dynamic_cast<MeshData*>(owner.get());
                data && data->cachedFor() == previous)
                data->setCache(nullptr);
        previous->refit(mesh);
        rays = previous;
        ++g_counters.refits;
    } else {
        rays = std::make_shared<MeshRays>();
        if (!rays->valid() || !rays->build(mesh))
            return {nullptr, deviceFailure("intersect: cannot build the ray structure")};
        ++(previous ? g_counters.rebuilds : g_counters.builds);
    }
    rays->owner = std::const_pointer_cast<detail::ObjectImpl>(mesh.shared_from_this());
    mesh.setCache(rays);
    if (node) {
        const bool known = lastOfNode().count(node) != 0;
        lastOfNode()[node] = {node->shared_from_this(), rays};
        if (!known)
            forgetDeletedNodes();
    }
    return {rays, {}};
}

// Where the ray meets the triangle's plane, in double (Moller-Trumbore without the edge tests:
// the traversal already decided that it meets the triangle). False when parallel.
bool placeOnTriangle(const RPoint& source, const RVector& direction, const RPoint& a,
                     const RPoint& b, const RPoint& c, double& t) {
    const RVector e1 = b - a;
    const RVector e2 = c - a;
    const RVector p = direction ^ e2;
    const double det = e1 * p;
    if (det == 0.0 || !std::isfinite(det))
        return false;
    const RVector s = source - a;
    const RVector q = s ^ e1;
    t = (e2 * q) / det;
    return std::isfinite(t);
}

bool isIdentity(const RMatrix& m) {
    return m == RMatrix();
}

// Hits of one mesh's triangles (the second of each pair), nearest per polygon, placed in the
// query's space; hits farther from the source than maxDistance are left out.
using Found = std::vector<std::pair<unsigned, unsigned>>;
void placeHits(const MeshRays& rays, const MeshData& mesh, const RMatrix& world,
               const RPoint& source, const RVector& direction, double maxDistance, NodeRecord* node,
               Found::const_iterator begin, Found::const_iterator end, std::vector<Hit>& out) {
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
        if (!placeOnTriangle(source, direction, v[0], v[1], v[2], t) || t < 0.0)
            continue;
        const RPoint point = source + direction * t;
        if (limited && !((point - source).length() <= maxDistance))
            continue;
        out.push_back(Hit{t, point, rays.polygonOf(it->second), node});
    }
    // One hit per polygon: its nearest.
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const Hit& a, const Hit& b) {
                  return a.polygon != b.polygon ? a.polygon < b.polygon : a.distance < b.distance;
              });
    const auto last =
        std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                    [](const Hit& a, const Hit& b) { return a.polygon == b.polygon; });
    out.erase(last, out.end());
}

// Nearest first (ties: mesh creation order, then polygon); hits of one mesh closer together
// along the ray than the tolerance count once.
void orderHits(std::vector<Hit>& hits, const RVector& direction, double tolerance) {
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        if (a.distance != b.distance)
            return a.distance < b.distance;
        const auto ca = a.mesh ? a.mesh->creationIndex : 0;
        const auto cb = b.mesh ? b.mesh->creationIndex : 0;
        if (ca != cb)
            return ca < cb;
        return a.polygon < b.polygon;
    });
    const double length = direction.length();
    // The last hit kept of each mesh met so far (few meshes lie on one ray).
    std::vector<std::pair<const NodeRecord*, double>> last;
    std::size_t kept = 0;
    for (std::size_t k = 0; k < hits.size(); ++k) {
        const Hit& hit = hits[k];
        const auto it = std::find_if(last.begin(), last.end(),
                                     [&](const auto& entry) { return entry.first == hit.mesh; });
        if (it != last.end()) {
            if ((hit.distance - it->second) * length <= tolerance)
                continue;
            it->second = hit.distance;
        } else {
            last.emplace_back(hit.mesh, hit.distance);
        }
        hits[kept++] = hit;
    }
    hits.resize(kept);
}

bool usable(const RPoint& source, const RVector& direction, double maxDistance) {
    return std::isfinite(source.x) && std::isfinite(source.y) && std::isfinite(source.z) &&
           std::isfinite(direction.x) && std::isfinite(direction.y) && std::isfinite(direction.z) &&
           direction.length() > 0.0 && maxDistance >= 0.0;
}

// The ray parameter at maxDistance from the source.
double parameterLimit(const RVector& direction, double maxDistance) {
    return maxDistance < std::numeric_limits<double>::infinity() ? maxDistance / direction.length()
                                                                 : maxDistance;
}

// ---------------------------------------------------------------- the scene
struct Instance {
    std::shared_ptr<NodeRecord> shape;
    std::shared_ptr<NodeRecord> transform;  // null at the top
    std::shared_ptr<MeshData> mesh;
    std::uint64_t revision = 0;
    std::shared_ptr<MeshRays> rays;
    RMatrix world;
    RTCGeometry geometry = nullptr;
    unsigned id = RTC_INVALID_GEOMETRY_ID;
};

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
        ++g_counters.sceneChecks;
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
        if (!usable(source, direction, maxDistance))
            return {hits, {}};
        auto found = traverse(m_scene, source, direction, parameterLimit(direction, maxDistance));
        std::sort(found.begin(), found.end());
        for (auto it = found.begin(); it != found.end();) {
            const unsigned id = it->first;
            const auto end = std::find_if(it, found.end(),
                                          [id](const auto& entry) { return entry.first != id; });
            const Instance* instance = id < m_byId.size() ? m_byId[id] : nullptr;
            if (instance)
                placeHits(*instance->rays, *instance->mesh, instance->world, source, direction,
                          maxDistance, instance->shape.get(), it, end, hits);
            it = end;
        }
        orderHits(hits, direction, tolerance);
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
                    !(transform->valueOf(world).m == instance.world))
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
        bool changed = false;
        const auto nodes = host.nodes;
        for (const auto& node : nodes) {
            if (!node->alive || dagKind(node.get()) != DagKind::kMesh)
                continue;
            const auto mesh = meshOf(node.get());
            Instance instance;
            if (const auto it = before.find(node.get()); it != before.end()) {
                instance = std::move(it->second);
                before.erase(it);
            }
            NodeRecord* parent = parentOf(node.get());
            instance.shape = node;
            instance.transform =
                parent ? std::static_pointer_cast<NodeRecord>(parent->shared_from_this()) : nullptr;
            const RMatrix world = worldMatrix(node.get());
            if (!mesh) {
                // Kept without geometry, so that geometry arriving later is noticed.
                if (instance.geometry) {
                    rtcDetachGeometry(m_scene, instance.id);
                    rtcReleaseGeometry(instance.geometry);
                    changed = true;
                }
                instance.geometry = nullptr;
                instance.id = RTC_INVALID_GEOMETRY_ID;
                instance.mesh = nullptr;
                instance.rays = nullptr;
                instance.world = world;
                m_instances.push_back(std::move(instance));
                continue;
            }
            auto rays = raysOf(node.get(), *mesh);
            if (!rays.ok())
                return rays.status;
            const bool fresh = !instance.geometry;
            if (fresh) {
                instance.geometry = rtcNewGeometry(device(), RTC_GEOMETRY_TYPE_INSTANCE);
                if (!instance.geometry)
                    return deviceFailure("intersect: cannot make an instance");
            }
            if (fresh || instance.rays != rays.value) {
                rtcSetGeometryInstancedScene(instance.geometry, rays.value->scene());
                changed = true;
            }
            if (fresh || instance.mesh != mesh || instance.revision != mesh->revision() ||
                !(instance.world == world)) {
                float columns[12];
                for (int row = 0; row < 4; ++row)
                    for (int column = 0; column < 3; ++column)
                        columns[row * 3 + column] = static_cast<float>(world[row][column]);
                rtcSetGeometryTransform(instance.geometry, 0, RTC_FORMAT_FLOAT3X4_COLUMN_MAJOR,
                                        columns);
                rtcCommitGeometry(instance.geometry);
                changed = true;
            }
            if (fresh)
                instance.id = rtcAttachGeometry(m_scene, instance.geometry);
            instance.mesh = mesh;
            instance.revision = mesh->revision();
            instance.rays = rays.value;
            instance.world = world;
            m_instances.push_back(std::move(instance));
        }
        for (auto& [shape, gone] : before) {
            if (!gone.geometry)
                continue;
            rtcDetachGeometry(m_scene, gone.id);
            rtcReleaseGeometry(gone.geometry);
            changed = true;
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
            ++g_counters.sceneUpdates;
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

    RTCScene m_scene = nullptr;
    std::vector<Instance> m_instances;
    std::vector<const Instance*> m_byId;
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
    Counters out = g_counters;
    out.bytes = g_bytes.load(std::memory_order_relaxed);
    return out;
}

host::Result<std::vector<Hit>> intersectMesh(NodeRecord* node, const MeshData& mesh,
                                             const RMatrix& world, const RPoint& source,
                                             const RVector& direction, double tolerance,
                                             double maxDistance) {
    std::vector<Hit> hits;
    if (!usable(source, direction, maxDistance))
        return {hits, {}};
    auto rays = raysOf(node, mesh);
    if (!rays.ok())
        return {hits, rays.status};
    if (rays.value->triangleCount() == 0)
        return {hits, {}};
    // The structure is in the mesh's own space: the ray goes there, the hits come back exact. A
    // ray that misses the mesh's box (in the query's space, then in the mesh's) stops here.
    const double limit = parameterLimit(direction, maxDistance);
    RPoint localSource = source;
    RVector localDirection = direction;
    if (!isIdentity(world)) {
        if (!rays.value->mayHit(world, source, direction, limit))
            return {hits, {}};
        const RMatrix toLocal = world.inverse();
        localSource = source * toLocal;
        localDirection = direction * toLocal;
    }
    if (!rays.value->mayHit(localSource, localDirection, limit))
        return {hits, {}};
    const auto found = traverse(rays.value->scene(), localSource, localDirection, limit);
    placeHits(*rays.value, mesh, world, source, direction, maxDistance, node, found.begin(),
              found.end(), hits);
    orderHits(hits, direction, tolerance);
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

// ---------------------------------------------------------------- the host's facade
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
