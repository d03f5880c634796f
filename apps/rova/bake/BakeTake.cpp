#include "BakeTake.h"

#include <cmath>

namespace rova::bake {

Pose poseOfMatrix(const std::array<double, 16>& m) {
    Pose pose;
    pose.translation = {m[12], m[13], m[14]};
    // Row i is where the matrix takes local axis i: column i of the column-vector form.
    Vec3 axis[3];
    for (int i = 0; i < 3; ++i) {
        const Vec3 row{m[4 * i], m[4 * i + 1], m[4 * i + 2]};
        const double length = std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
        pose.scale[static_cast<std::size_t>(i)] = length;
        axis[i] = length > 0.0 ? Vec3{row[0] / length, row[1] / length, row[2] / length}
                               : Vec3{i == 0 ? 1.0 : 0.0, i == 1 ? 1.0 : 0.0, i == 2 ? 1.0 : 0.0};
    }
    const double determinant = axis[0][0] * (axis[1][1] * axis[2][2] - axis[1][2] * axis[2][1]) -
                               axis[0][1] * (axis[1][0] * axis[2][2] - axis[1][2] * axis[2][0]) +
                               axis[0][2] * (axis[1][0] * axis[2][1] - axis[1][1] * axis[2][0]);
    if (determinant < 0.0) {
        pose.scale[0] = -pose.scale[0];
        axis[0] = {-axis[0][0], -axis[0][1], -axis[0][2]};
    }
    // r(row, col) of the rotation in column-vector form: column c is axis c.
    const auto r = [&axis](int row, int col) { return axis[col][static_cast<std::size_t>(row)]; };
    const double trace = r(0, 0) + r(1, 1) + r(2, 2);
    Quat q;
    if (trace > 0.0) {
        const double s = 0.5 / std::sqrt(trace + 1.0);
        q = {(r(2, 1) - r(1, 2)) * s, (r(0, 2) - r(2, 0)) * s, (r(1, 0) - r(0, 1)) * s, 0.25 / s};
    } else if (r(0, 0) > r(1, 1) && r(0, 0) > r(2, 2)) {
        const double s = 2.0 * std::sqrt(1.0 + r(0, 0) - r(1, 1) - r(2, 2));
        q = {0.25 * s, (r(0, 1) + r(1, 0)) / s, (r(0, 2) + r(2, 0)) / s, (r(2, 1) - r(1, 2)) / s};
    } else if (r(1, 1) > r(2, 2)) {
        const double s = 2.0 * std::sqrt(1.0 + r(1, 1) - r(0, 0) - r(2, 2));
        q = {(r(0, 1) + r(1, 0)) / s, 0.25 * s, (r(1, 2) + r(2, 1)) / s, (r(0, 2) - r(2, 0)) / s};
    } else {
        const double s = 2.0 * std::sqrt(1.0 + r(2, 2) - r(0, 0) - r(1, 1));
        q = {(r(0, 2) + r(2, 0)) / s, (r(1, 2) + r(2, 1)) / s, 0.25 * s, (r(1, 0) - r(0, 1)) / s};
    }
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= length;
    pose.rotation = q;
    return pose;
}

}  // namespace rova::bake
