// Ray queries: per-mesh acceleration structures, the scene-level structure over them, and the
// exact placement of hits.
#include "scene/RayQueries.h"
#include "HostImpl.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <unordered_map>

#include "SceneChanges.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
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

// ---------------------------------------------------------------- rays in double
// The library asserts on rays whose coordinates exceed about 1.8e18 or are not numbers, drops
// triangles with points beyond that, and single precision turns directions below 1e-38 into
// nothing. So every ray is prepared in double before it reaches the library: its direction made
// unit length, carried into a space where the geometry it may meet lies within [-1, 1] on every
// axis, and started where it enters that geometry's box. A ray that cannot be brought there is
// answered by a loop over the triangles in double.

using Vec3 = std::array<double, 3>;

// The boxes' widening in those spaces: far above the single-precision rounding of the points.
constexpr double kMargin = 1e-4;
// The most a coordinate or a ray length given to the library may be.
constexpr double kLibraryReach = 1e6;

bool finite(const Vec3& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

double largest(const Vec3& v) {
    return std::max({std::abs(v[0]), std::abs(v[1]), std::abs(v[2])});
}

// The direction at unit length and its length (which may overflow to infinity); false for no
// direction. Scaled by its largest component first, so that lengths like 1e-200 or 1e300 neither
// underflow nor overflow on the way.
bool unitOf(const RVector& d, RVector& unit, double& length) {
    const double m = largest({d.x, d.y, d.z});
    if (!(m > 0.0) || !std::isfinite(m))
        return false;
    // Below about 1e-308 the reciprocal overflows: divided instead.
    const double perM = 1.0 / m;
    const RVector s = std::isfinite(perM) ? RVector(d.x * perM, d.y * perM, d.z * perM)
                                          : RVector(d.x / m, d.y / m, d.z / m);
    const double l = s.length();  // from 1 to the root of 3
    const double perL = 1.0 / l;
    unit = RVector(s.x * perL, s.y * perL, s.z * perL);
    length = m * l;
    return true;
}

// An affine map p * linear + shift (row vectors).
struct Affine {
    double linear[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Vec3 shift{0.0, 0.0, 0.0};

    Vec3 point(const Vec3& p) const {
        Vec3 out = shift;
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r) out[c] += p[r] * linear[r][c];
        return out;
    }
    Vec3 vector(const Vec3& v) const {
        Vec3 out{0.0, 0.0, 0.0};
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r) out[c] += v[r] * linear[r][c];
        return out;
    }
};

enum class MatrixKind { kAffine, kProjective, kNotNumbers };

MatrixKind affineOf(const RMatrix& m, Affine& out) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m[r][c]))
                return MatrixKind::kNotNumbers;
    if (m[0][3] != 0.0 || m[1][3] != 0.0 || m[2][3] != 0.0 || m[3][3] != 1.0)
        return MatrixKind::kProjective;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out.linear[r][c] = m[r][c];
    out.shift = {m[3][0], m[3][1], m[3][2]};
    return MatrixKind::kAffine;
}

// The inverse of the linear part; false when it flattens space (numerically singular) or its
// inverse overflows. Rows and columns are brought to unit size first, so that a mesh scaled by
// 1e-200 or 1e200 along an axis keeps its inverse.
bool invertLinear(const Affine& a, double out[3][3]) {
    double row[3], column[3], b[3][3];
    for (int r = 0; r < 3; ++r) {
        row[r] = largest({a.linear[r][0], a.linear[r][1], a.linear[r][2]});
        if (!(row[r] > 0.0))
            return false;
    }
    for (int c = 0; c < 3; ++c) {
        column[c] =
            largest({a.linear[0][c] / row[0], a.linear[1][c] / row[1], a.linear[2][c] / row[2]});
        if (!(column[c] > 0.0))
            return false;
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) b[r][c] = a.linear[r][c] / row[r] / column[c];
    const double cofactor[3][3] = {
        {b[1][1] * b[2][2] - b[1][2] * b[2][1], b[1][2] * b[2][0] - b[1][0] * b[2][2],
         b[1][0] * b[2][1] - b[1][1] * b[2][0]},
        {b[0][2] * b[2][1] - b[0][1] * b[2][2], b[0][0] * b[2][2] - b[0][2] * b[2][0],
         b[0][1] * b[2][0] - b[0][0] * b[2][1]},
        {b[0][1] * b[1][2] - b[0][2] * b[1][1], b[0][2] * b[1][0] - b[0][0] * b[1][2],
         b[0][0] * b[1][1] - b[0][1] * b[1][0]}};
    const double det =
        b[0][0] * cofactor[0][0] + b[0][1] * cofactor[0][1] + b[0][2] * cofactor[0][2];
    // Rounding leaves about 1e-16 of a truly singular matrix.
    if (!(std::abs(det) > 1e-14))
        return false;
    // a = R b C, so a^-1 = C^-1 b^-1 R^-1.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            out[r][c] = cofactor[c][r] / det / column[r] / row[c];
            if (!std::isfinite(out[r][c]))
                return false;
        }
    return true;
}

// The part enter <= w <= leave of the ray o + w d (0 <= w <= limit) inside the box widened by
// margin; false when there is none.
bool clip(const Vec3& low, const Vec3& high, const Vec3& o, const Vec3& d, double limit,
          double margin, double& enter, double& leave) {
    enter = 0.0;
    leave = limit;
    for (int axis = 0; axis < 3; ++axis) {
        const double lo = low[axis] - margin;
        const double hi = high[axis] + margin;
        if (d[axis] == 0.0) {
            if (!(o[axis] >= lo && o[axis] <= hi))
                return false;
            continue;
        }
        double t0 = (lo - o[axis]) / d[axis];
        double t1 = (hi - o[axis]) / d[axis];
        if (t0 > t1)
            std::swap(t0, t1);
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
        if (!(enter <= leave))
            return false;
    }
    return true;
}

// A ray as the library takes it.
struct LibraryRay {
    float origin[3];
    float direction[3];
    float length;
};

enum class Prepared { kMisses, kTraverse, kLoop };

// The ray o + w d (unit d, 0 <= w <= limit) against geometry within the box [low, high] (inside
// [-1, 1] on every axis): it misses the box, or it starts where it enters it, or it starts so far
// off that double precision cannot place that start within the box (the loop answers it).
Prepared prepare(const Vec3& low, const Vec3& high, const Vec3& o, const Vec3& d, double limit,
                 LibraryRay& out) {
    if (!finite(o) || !finite(d) || std::isnan(limit))
        return Prepared::kLoop;
    // The box is widened beyond the start's own rounding too.
    const double margin = kMargin + 8.0 * std::numeric_limits<double>::epsilon() * largest(o);
    if (margin > 0.25)
        return Prepared::kLoop;
    double enter = 0.0;
    double leave = 0.0;
    if (!clip(low, high, o, d, limit, margin, enter, leave))
        return Prepared::kMisses;
    const double length = (leave - enter) * (1.0 + 1e-6) + 1e-6;
    Vec3 start;
    for (int axis = 0; axis < 3; ++axis) start[axis] = o[axis] + d[axis] * enter;
    // Never anything the library would refuse.
    if (!finite(start) || largest(start) > kLibraryReach || !(length <= kLibraryReach))
        return Prepared::kLoop;
    for (int axis = 0; axis < 3; ++axis) {
        out.origin[axis] = static_cast<float>(start[axis]);
        out.direction[axis] = static_cast<float>(d[axis]);
    }
    out.length = static_cast<float>(length);
    return Prepared::kTraverse;
}

// Every triangle the prepared ray meets, unordered.
std::vector<std::pair<unsigned, unsigned>> traverse(RTCScene scene, const LibraryRay& ray) {
    Collector collector;
    collector.found.reserve(16);
    rtcInitIntersectContext(&collector.context);
    RTCRayHit rayHit{};
    rayHit.ray.org_x = ray.origin[0];
    rayHit.ray.org_y = ray.origin[1];
    rayHit.ray.org_z = ray.origin[2];
    rayHit.ray.dir_x = ray.direction[0];
    rayHit.ray.dir_y = ray.direction[1];
    rayHit.ray.dir_z = ray.direction[2];
    rayHit.ray.tnear = 0.0f;
    rayHit.ray.tfar = ray.length;
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

    // The ray source + w * direction (the mesh's own space, unit direction, 0 <= w <= limit)
    // carried into the space the library holds the points in (see writePoints).
    Prepared prepare(const RPoint& source, const RVector& direction, double limit,
                     LibraryRay& out) const {
        if (m_polygonOf.empty() || !m_hasBox)
            return Prepared::kMisses;
        const Vec3 o{(source.x - m_center[0]) / m_scale, (source.y - m_center[1]) / m_scale,
                     (source.z - m_center[2]) / m_scale};
        return rays::prepare(m_boxLow, m_boxHigh, o, {direction.x, direction.y, direction.z},
                             limit / m_scale, out);
    }

    // The box around the points that are numbers, in the mesh's own space; false for none.
    bool box(Vec3& low, Vec3& high) const {
        if (m_polygonOf.empty() || !m_hasBox)
            return false;
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = m_center[axis] + m_boxLow[axis] * m_scale;
            high[axis] = m_center[axis] + m_boxHigh[axis] * m_scale;
        }
        return true;
    }
    // The library holds each point p as (p - center) / scale.
    const Vec3& center() const { return m_center; }
    double scale() const { return m_scale; }

    int polygonOf(unsigned index) const { return m_polygonOf[index]; }

    std::weak_ptr<detail::ObjectImpl> owner;  // the mesh data that holds this as its cache

  private:
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

    // The points go to the library centred on their box and scaled by a power of two to within
    // [-1, 1], so that points beyond what single precision (or the library) takes are kept, and
    // precision follows the mesh's size rather than its distance from the origin. Points that
    // are not numbers stay so: the library leaves their triangles out.
    void writePoints(const MeshData& mesh) {
        const auto& points = mesh.points();
        m_pointCount = points.size();
        Vec3 low, high;
        low.fill(std::numeric_limits<double>::infinity());
        high.fill(-std::numeric_limits<double>::infinity());
        for (const RPoint& p : points) {
            const Vec3 c{p.x, p.y, p.z};
            if (!finite(c))
                continue;
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], c[axis]);
                high[axis] = std::max(high[axis], c[axis]);
            }
        }
        m_hasBox = low[0] <= high[0];
        double half = 0.0;
        for (int axis = 0; axis < 3; ++axis) {
            m_center[axis] = m_hasBox ? low[axis] / 2 + high[axis] / 2 : 0.0;
            half = std::max(half, high[axis] / 2 - low[axis] / 2);
        }
        m_scale = m_hasBox && half > 0.0 ? std::ldexp(1.0, std::ilogb(half) + 1) : 1.0;
        for (int axis = 0; axis < 3; ++axis) {
            m_boxLow[axis] = m_hasBox ? (low[axis] - m_center[axis]) / m_scale : 0.0;
            m_boxHigh[axis] = m_hasBox ? (high[axis] - m_center[axis]) / m_scale : 0.0;
        }
        const float nan = std::numeric_limits<float>::quiet_NaN();
        float* out = m_vertices;
        for (const RPoint& p : points) {
            const Vec3 c{p.x, p.y, p.z};
            const bool number = finite(c);
            for (int axis = 0; axis < 3; ++axis)
                *out++ = number ? static_cast<float>((c[axis] - m_center[axis]) / m_scale) : nan;
        }
    }

    RTCScene m_scene = nullptr;
    RTCGeometry m_geometry = nullptr;
    float* m_vertices = nullptr;  // the library's vertex buffer
    std::size_t m_pointCount = 0;
    bool m_hasBox = false;  // some point is a number
    Vec3 m_center{0.0, 0.0, 0.0};
    double m_scale = 1.0;
    Vec3 m_boxLow{0.0, 0.0, 0.0};  // the points' box as the library holds them
    Vec3 m_boxHigh{0.0, 0.0, 0.0};
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

// ---------------------------------------------------------------- the scene
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
    Counters out = g_counters;
    out.bytes = g_bytes.load(std::memory_order_relaxed);
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
