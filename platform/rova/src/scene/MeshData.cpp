// Mesh data: points, polygons, per-vertex normals and the revision that caches key on.
#include <atomic>
#include <cmath>
#include <limits>

#include "Scene.h"
#include "SceneChanges.h"

namespace rova::scene {

namespace {
std::uint64_t nextRevision() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}
}  // namespace

MeshData::MeshData() : m_revision(nextRevision()) {}

void MeshData::setPoints(std::vector<RPoint> points) {
    m_points = std::move(points);
    changed();
}

void MeshData::setTopology(std::vector<RPoint> points, std::vector<int> counts,
                           std::vector<int> vertices) {
    m_points = std::move(points);
    m_faceCounts = std::move(counts);
    m_faceVertices = std::move(vertices);
    changed();
}

std::shared_ptr<MeshData> MeshData::copy() const {
    auto out = std::make_shared<MeshData>();
    out->m_points = m_points;
    out->m_faceCounts = m_faceCounts;
    out->m_faceVertices = m_faceVertices;
    out->m_normals = m_normals;
    return out;
}

// A vertex's normal is the sum of the normals of the faces around it, each as long as twice the
// face's area (Newell's formula, exact for planar polygons and stable for bent ones), made unit
// length. A vertex that no face uses, or whose faces cancel out, has the zero normal.
void MeshData::changed() {
    m_revision = nextRevision();
    detail::noteSceneChange();  // data a mesh shows may have changed in place
    m_cache.reset();
    m_normals.assign(m_points.size(), RVector());
    std::size_t start = 0;
    for (const int count : m_faceCounts) {
        RVector n;
        for (int k = 0; k < count; ++k) {
            const RPoint& a = m_points[static_cast<std::size_t>(m_faceVertices[start + k])];
            const RPoint& b =
                m_points[static_cast<std::size_t>(m_faceVertices[start + (k + 1) % count])];
            n.x += (a.y - b.y) * (a.z + b.z);
            n.y += (a.z - b.z) * (a.x + b.x);
            n.z += (a.x - b.x) * (a.y + b.y);
        }
        for (int k = 0; k < count; ++k)
            m_normals[static_cast<std::size_t>(m_faceVertices[start + k])] += n;
        start += static_cast<std::size_t>(count);
    }
    for (RVector& n : m_normals) n.normalize();
}

MeshData* meshDataOf(const RObject& object) {
    return dynamic_cast<MeshData*>(detail::Access::get(object));
}

}  // namespace rova::scene

namespace rova::scene {

const std::pair<RPoint, RPoint>& MeshData::bounds() const {
    if (m_boundsRevision != m_revision || m_boundsRevision == 0) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        RPoint lower(inf, inf, inf), upper(-inf, -inf, -inf);
        for (const RPoint& p : m_points) {
            // fmin/fmax skip a coordinate that is not a number.
            lower =
                RPoint(std::fmin(lower.x, p.x), std::fmin(lower.y, p.y), std::fmin(lower.z, p.z));
            upper =
                RPoint(std::fmax(upper.x, p.x), std::fmax(upper.y, p.y), std::fmax(upper.z, p.z));
        }
        m_bounds = {lower, upper};
        m_boundsRevision = m_revision;
    }
    return m_bounds;
}

}  // namespace rova::scene
