// The ray library's device and traversal, and rays prepared in double for it.
#include "scene/rays/RayLibrary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>

namespace rova::scene::rays {
namespace {
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

// Hits the traversal offers; every one is refused so that traversal goes on to the next.
struct Collector {
    RTCIntersectContext context;                       // first: the library hands this pointer back
    std::vector<std::pair<unsigned, unsigned>> found;  // (instance, triangle)
};

// The boxes' widening in those spaces: far above the single-precision rounding of the points.
constexpr double kMargin = 1e-4;
// The most a coordinate or a ray length given to the library may be.
constexpr double kLibraryReach = 1e6;

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

}  // namespace

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

Counters& buildCounters() {
    return g_counters;
}

std::int64_t libraryBytes() {
    return g_bytes.load(std::memory_order_relaxed);
}

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

}  // namespace rova::scene::rays
