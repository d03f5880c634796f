#pragma once
// Rotation helpers shared by the rotation types.
#include "rova/RQuaternion.h"

namespace rova::detail {
// The quaternion of a pure rotation matrix in the row-vector convention (rows are the images of
// the axes).
RQuaternion quaternionFromRotation(const double m[3][3]);
}  // namespace rova::detail
