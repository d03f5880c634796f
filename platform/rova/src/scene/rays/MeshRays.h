#pragma once
// One mesh's ray structure, hung off its mesh data and carried over to the node's next geometry.
#include <embree3/rtcore.h>

#include <memory>
#include <vector>

#include "model/Objects.h"
#include "scene/rays/RayLibrary.h"

namespace rova::scene::rays {

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

// The mesh's structure: the one its data holds, the node's previous one refitted or rebuilt, or
// a new one. `node` may be null (free mesh data).
host::Result<std::shared_ptr<MeshRays>> raysOf(NodeRecord* node, const MeshData& mesh);

}  // namespace rova::scene::rays
