#pragma once
// The ray library as the queries use it: its one device, a traversal that collects every triangle
// a ray meets, and rays prepared in double before the library sees them.
//
// The library asserts on rays whose coordinates exceed about 1.8e18 or are not numbers, drops
// triangles with points beyond that, and single precision turns directions below 1e-38 into
// nothing. So every ray is prepared in double before it reaches the library: its direction made
// unit length, carried into a space where the geometry it may meet lies within [-1, 1] on every
// axis, and started where it enters that geometry's box. A ray that cannot be brought there is
// answered by a loop over the triangles in double.
#include <embree3/rtcore.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "rova/RMatrix.h"
#include "rova/RVector.h"
#include "scene/RayQueries.h"

namespace rova::scene::rays {

RTCDevice device();
// A failure naming what failed and the newest error the library reported.
host::Status deviceFailure(const char* what);
// The structures made, refitted and rebuilt so far (main thread), and the memory they hold.
Counters& buildCounters();
std::int64_t libraryBytes();
// The intersection filter of every mesh geometry: collects each hit and refuses it, so that
// traversal goes on to the next.
void collect(const RTCFilterFunctionNArguments* args);

using Vec3 = std::array<double, 3>;

inline bool finite(const Vec3& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

inline double largest(const Vec3& v) {
    return std::max({std::abs(v[0]), std::abs(v[1]), std::abs(v[2])});
}

// The direction at unit length and its length (which may overflow to infinity); false for no
// direction.
bool unitOf(const RVector& d, RVector& unit, double& length);

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
MatrixKind affineOf(const RMatrix& m, Affine& out);
// The inverse of the linear part; false when it flattens space (numerically singular) or its
// inverse overflows.
bool invertLinear(const Affine& a, double out[3][3]);

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
                 LibraryRay& out);
// Every triangle the prepared ray meets, unordered: (instance, triangle).
std::vector<std::pair<unsigned, unsigned>> traverse(RTCScene scene, const LibraryRay& ray);

}  // namespace rova::scene::rays
