// REulerRotation.
#include <Imath/ImathEuler.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ImathConvert.h"
#include "rova/RArgList.h"
#include "rova/REulerRotation.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPoint.h"
#include "rova/RQuaternion.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RVector.h"
#include "rovahost/NumberText.h"

// ---------------------------------------------------------------- REulerRotation
namespace {
RMatrix axisRotation(int axis, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    RMatrix m;
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    m[i][i] = c;
    m[i][j] = s;
    m[j][i] = -s;
    m[j][j] = c;
    return m;
}

// Axes in application order.
void orderAxes(REulerRotation::RotationOrder order, int axes[3]) {
    static const int table[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                    {0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    const int o =
        static_cast<int>(order) >= 0 && static_cast<int>(order) < 6 ? static_cast<int>(order) : 0;
    for (int k = 0; k < 3; ++k) axes[k] = table[o][k];
}

Imath::Eulerd::Order imathOrder(REulerRotation::RotationOrder order) {
    switch (order) {
        case REulerRotation::kXYZ:
            return Imath::Eulerd::XYZ;
        case REulerRotation::kYZX:
            return Imath::Eulerd::YZX;
        case REulerRotation::kZXY:
            return Imath::Eulerd::ZXY;
        case REulerRotation::kXZY:
            return Imath::Eulerd::XZY;
        case REulerRotation::kYXZ:
            return Imath::Eulerd::YXZ;
        case REulerRotation::kZYX:
            return Imath::Eulerd::ZYX;
    }
    return Imath::Eulerd::XYZ;
}
}  // namespace

RMatrix REulerRotation::asMatrix() const noexcept {
    int axes[3];
    orderAxes(order, axes);
    const double angles[3] = {x, y, z};
    RMatrix m;
    for (int k = 0; k < 3; ++k) m = m * axisRotation(axes[k], angles[axes[k]]);
    return m;
}

RQuaternion REulerRotation::asQuaternion() const noexcept {
    int axes[3];
    orderAxes(order, axes);
    const double angles[3] = {x, y, z};
    const RVector axisVectors[3] = {RVector::xAxis, RVector::yAxis, RVector::zAxis};
    RQuaternion q;
    for (int k = 0; k < 3; ++k) q = q * RQuaternion(angles[axes[k]], axisVectors[axes[k]]);
    return q;
}

REulerRotation REulerRotation::decompose(const RMatrix& m, RotationOrder o) noexcept {
    Imath::M44d rotation = rova::detail::toImath(m);
    for (int r = 0; r < 3; ++r) {
        Imath::V3d row(rotation[r][0], rotation[r][1], rotation[r][2]);
        const double l = row.length();
        if (l > 0.0)
            row /= l;
        rotation[r][0] = row.x;
        rotation[r][1] = row.y;
        rotation[r][2] = row.z;
    }
    Imath::Eulerd euler(imathOrder(o));
    euler.extract(rotation);
    const Imath::V3d angles =
        euler.toXYZVector();  // the fields hold the angles in application order
    return REulerRotation(angles.x, angles.y, angles.z, o);
}
