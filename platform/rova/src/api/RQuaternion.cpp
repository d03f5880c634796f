// RQuaternion.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Rotation.h"
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

const RQuaternion RQuaternion::identity{0.0, 0.0, 0.0, 1.0};

// ---------------------------------------------------------------- RQuaternion
namespace rova::detail {
// Quaternion of a pure rotation matrix (rows are the images of the axes).
RQuaternion quaternionFromRotation(const double m[3][3]) {
    // m is the row-vector matrix; its transpose is the usual column-vector rotation R.
    const double r00 = m[0][0], r11 = m[1][1], r22 = m[2][2];
    const double trace = r00 + r11 + r22;
    RQuaternion q;
    if (trace > 0.0) {
        const double s = std::sqrt(trace + 1.0) * 2.0;
        q.w = 0.25 * s;
        q.x = (m[1][2] - m[2][1]) / s;
        q.y = (m[2][0] - m[0][2]) / s;
        q.z = (m[0][1] - m[1][0]) / s;
    } else if (r00 > r11 && r00 > r22) {
        const double s = std::sqrt(1.0 + r00 - r11 - r22) * 2.0;
        q.w = (m[1][2] - m[2][1]) / s;
        q.x = 0.25 * s;
        q.y = (m[1][0] + m[0][1]) / s;
        q.z = (m[2][0] + m[0][2]) / s;
    } else if (r11 > r22) {
        const double s = std::sqrt(1.0 + r11 - r00 - r22) * 2.0;
        q.w = (m[2][0] - m[0][2]) / s;
        q.x = (m[1][0] + m[0][1]) / s;
        q.y = 0.25 * s;
        q.z = (m[2][1] + m[1][2]) / s;
    } else {
        const double s = std::sqrt(1.0 + r22 - r00 - r11) * 2.0;
        q.w = (m[0][1] - m[1][0]) / s;
        q.x = (m[2][0] + m[0][2]) / s;
        q.y = (m[2][1] + m[1][2]) / s;
        q.z = 0.25 * s;
    }
    return q.normal();
}
}  // namespace rova::detail

RQuaternion::RQuaternion(double angle, const RVector& axis) noexcept {
    const RVector n = axis.normal();
    if (n.length() == 0.0)
        return;
    const double s = std::sin(angle * 0.5);
    x = n.x * s;
    y = n.y * s;
    z = n.z * s;
    w = std::cos(angle * 0.5);
}

RQuaternion::RQuaternion(const RVector& a, const RVector& b) noexcept {
    const RVector na = a.normal(), nb = b.normal();
    if (na.length() == 0.0 || nb.length() == 0.0)
        return;
    const double d = std::clamp(na * nb, -1.0, 1.0);
    if (d >= 1.0 - 1e-15)
        return;
    if (d <= -1.0 + 1e-15) {
        // Opposite vectors: half a turn about any axis perpendicular to a.
        RVector axis = na ^ RVector::xAxis;
        if (axis.length() < 1e-6)
            axis = na ^ RVector::yAxis;
        *this = RQuaternion(M_PI, axis);
        return;
    }
    *this = RQuaternion(std::acos(d), na ^ nb);
}

RMatrix RQuaternion::asMatrix() const noexcept {
    const RQuaternion q = normal();
    const double xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const double xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const double wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    RMatrix m;
    m[0][0] = 1.0 - 2.0 * (yy + zz);
    m[0][1] = 2.0 * (xy + wz);
    m[0][2] = 2.0 * (xz - wy);
    m[1][0] = 2.0 * (xy - wz);
    m[1][1] = 1.0 - 2.0 * (xx + zz);
    m[1][2] = 2.0 * (yz + wx);
    m[2][0] = 2.0 * (xz + wy);
    m[2][1] = 2.0 * (yz - wx);
    m[2][2] = 1.0 - 2.0 * (xx + yy);
    return m;
}

RQuaternion RQuaternion::normal() const noexcept {
    const double l = std::sqrt(x * x + y * y + z * z + w * w);
    if (l == 0.0)
        return identity;
    return {x / l, y / l, z / l, w / l};
}

bool RQuaternion::getAxisAngle(RVector& axis, double& angle) const noexcept {
    const RQuaternion q = normal();
    const double s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    angle = 2.0 * std::atan2(s, q.w);
    if (s < 1e-15) {
        axis = RVector::xAxis;
        angle = 0.0;
        return false;
    }
    axis = RVector(q.x / s, q.y / s, q.z / s);
    return true;
}

RQuaternion RQuaternion::operator*(const RQuaternion& b) const noexcept {
    // Hamilton product b (x) a: a applies first.
    const RQuaternion& a = *this;
    return {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y,
            b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w,
            b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
}

bool RQuaternion::isEquivalent(const RQuaternion& o, double tolerance) const noexcept {
    const auto close = [tolerance](const RQuaternion& a, const RQuaternion& b) {
        return std::abs(a.x - b.x) <= tolerance && std::abs(a.y - b.y) <= tolerance &&
               std::abs(a.z - b.z) <= tolerance && std::abs(a.w - b.w) <= tolerance;
    };
    return close(*this, o) || close(*this, RQuaternion(-o.x, -o.y, -o.z, -o.w));
}

RQuaternion slerp(const RQuaternion& a, const RQuaternion& b, double t) noexcept {
    double d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    RQuaternion target = b;
    if (d < 0.0) {
        d = -d;
        target = RQuaternion(-b.x, -b.y, -b.z, -b.w);
    }
    if (t == 0.0)
        return a;
    if (t == 1.0)
        return target;
    double wa = 1.0 - t, wb = t;
    if (d < 1.0 - 1e-9) {
        const double theta = std::acos(std::min(d, 1.0));
        const double s = std::sin(theta);
        wa = std::sin((1.0 - t) * theta) / s;
        wb = std::sin(t * theta) / s;
    }
    return RQuaternion(wa * a.x + wb * target.x, wa * a.y + wb * target.y, wa * a.z + wb * target.z,
                       wa * a.w + wb * target.w)
        .normal();
}
