#pragma once
// The deformation itself, apart from the node that feeds it: pure computation over point arrays,
// so benchmarks and tests drive it directly.
#include <cstddef>

#include "host/HostApi.h"

namespace kivo_rova {

// The most input points one deformation takes.
inline constexpr std::size_t kMaxDeformInputs = 10;

// The settings one deformation reads from the node's attributes.
struct DeformSettings {
    short deformType = 1;   // 0 pushPull, 1 push, 2 pull (any other value: pushPull)
    short falloffType = 0;  // 0 gauss, 1 linear, 2 needle (any other value: gauss)
    bool weightedSign = true;
    double radius = 1.0;
    double power = 1.0;
    bool pause = false;
};

// Moves `points` in place by the input points `inputs` (both in the mesh's object space): the
// gather pass (one direction, centroid and weight sum per input point) and the move pass (each
// vertex meets the input points in order). Normal i belongs to vertex i; a vertex past the end
// of `normals` has the zero normal. A radius that is not positive reaches no vertex. The result
// does not depend on the number of threads, and vertices out of every input point's reach are
// never weighed.
// `bounds`, when the caller knows it (a mesh keeps the box around its points with its
// geometry), is the box around `points`: when no input point reaches it, nothing is read.
struct PointBounds {
    RPoint lower;
    RPoint upper;
};
void deformPoints(const DeformSettings& settings, const RPointArray& inputs, RPointArray& points,
                  const RFloatVectorArray& normals, const PointBounds* bounds = nullptr);

}  // namespace kivo_rova
