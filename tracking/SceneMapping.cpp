#include "tracking/SceneMapping.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kivo_rova {
namespace {

bool isFinite(const RVector& v) noexcept {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The unit vector along v; zero for a zero or non-finite v. Scaled first so that neither tiny
// nor huge components underflow or overflow on the way.
RVector unitOrZero(const RVector& v) noexcept {
    if (!isFinite(v)) {
        return RVector();
    }
    const double largest = std::max({std::abs(v.x), std::abs(v.y), std::abs(v.z)});
    if (largest == 0.0) {
        return RVector();
    }
    return (v / largest).normal();
}

// The rotation by `angle` radians about the unit vector `axis`, as a row-vector matrix.
RMatrix rotation(const RVector& axis, double angle) noexcept {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double t = 1.0 - c;
    const double k[3] = {axis.x, axis.y, axis.z};
    RMatrix m;
    for (unsigned int i = 0; i < 3; ++i) {
        for (unsigned int j = 0; j < 3; ++j) {
            m[i][j] = t * k[i] * k[j] + (i == j ? c : 0.0);
        }
    }
    // Row-vector form: the transpose of the column-vector rotation.
    m[0][1] += s * k[2];
    m[0][2] -= s * k[1];
    m[1][0] -= s * k[2];
    m[1][2] += s * k[0];
    m[2][0] += s * k[1];
    m[2][1] -= s * k[0];
    return m;
}

// M times v taken as a column vector: for a rotation, v turned back by it.
RVector turnedBack(const RMatrix& m, const RVector& v) noexcept {
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

}  // namespace

RVector toSceneVector(const Kivo::Vector& v) noexcept {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}

RMatrix matrixFromRows(const RVector& right, const RVector& up, const RVector& back,
                       const RVector& position) noexcept {
    RMatrix m;
    const RVector* rows[4] = {&right, &up, &back, &position};
    for (unsigned int row = 0; row < 4; ++row) {
        m[row][0] = rows[row]->x;
        m[row][1] = rows[row]->y;
        m[row][2] = rows[row]->z;
    }
    return m;
}

RMatrix cameraFrame(bool withPosition) {
    RStatus status;
    const R3dView view = R3dView::active3dView(&status);
    if (status.error()) {
        status.perror("Error: R3dView::active3DView");
    }
    RDagPath path;
    status = view.getCamera(path);
    if (status.error()) {
        status.perror("Error: R3dView::getCamera");
    }
    const RFnCamera camera(path);

    RVector position;
    if (withPosition) {
        const RPoint eye = camera.eyePoint(RSpace::kWorld);
        position = RVector(eye.x, eye.y, eye.z);
    }
    const RVector viewDirection = camera.viewDirection(RSpace::kWorld);
    const RVector up = camera.upDirection(RSpace::kWorld);
    const RVector right = camera.rightDirection(RSpace::kWorld);
    return matrixFromRows(right, up, -viewDirection, position);
}

RMatrix frameFromAxes(const RVector& primary, const RVector& secondary,
                      const RVector& position) noexcept {
    const RVector a = unitOrZero(primary) == RVector() ? RVector::yAxis : primary;
    const RVector aUnit = unitOrZero(a);
    const RVector given = isFinite(secondary) ? secondary : RVector();

    // The secondary axis made perpendicular to the primary one, on the secondary's side.
    RVector b = given;
    if (std::abs(a * given) > 0.001) {
        b = (a ^ given) ^ a;
        if (b * given < 0.0) {
            b = -b;
        }
    }

    // The shortest turn taking +Y to the primary axis: about Y x A, which is (Az, 0, -Ax).
    RMatrix turn;
    const RVector turnAxis = unitOrZero(RVector(aUnit.z, 0.0, -aUnit.x));
    if (turnAxis != RVector()) {
        turn = rotation(turnAxis, RVector::yAxis.angle(aUnit));
    } else if (aUnit.y < 0.0) {
        turn = rotation(RVector::xAxis, std::numbers::pi);
    }

    // The roll about the primary axis that brings the turned +Z to b.
    RMatrix roll;
    const RVector c = unitOrZero(turnedBack(turn, b));
    if (c != RVector()) {
        double angle = c.angle(RVector::zAxis);
        if (c.x < 0.0) {
            angle = -angle;
        }
        roll = rotation(aUnit, angle);
    }

    RMatrix m = turn * roll;
    m[3][0] = position.x;
    m[3][1] = position.y;
    m[3][2] = position.z;
    return m;
}

}  // namespace kivo_rova
