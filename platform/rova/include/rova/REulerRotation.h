#pragma once
#include "rova/RMatrix.h"
#include "rova/RQuaternion.h"
#include "rova/RVector.h"

// Euler angles in radians. Order kXYZ rotates about x first, then y, then z.
class ROVA_API REulerRotation {
  public:
    enum RotationOrder { kXYZ = 0, kYZX, kZXY, kXZY, kYXZ, kZYX };
    double x = 0.0, y = 0.0, z = 0.0;
    RotationOrder order = kXYZ;

    constexpr REulerRotation() noexcept = default;
    constexpr REulerRotation(double ax, double ay, double az, RotationOrder o = kXYZ) noexcept
        : x(ax), y(ay), z(az), order(o) {}
    explicit REulerRotation(const RVector& v, RotationOrder o = kXYZ) noexcept
        : x(v.x), y(v.y), z(v.z), order(o) {}

    RMatrix asMatrix() const noexcept;
    RQuaternion asQuaternion() const noexcept;
    RVector asVector() const noexcept { return {x, y, z}; }
    // Angles of a pure rotation matrix (scale removed first) in this rotation's order.
    static REulerRotation decompose(const RMatrix& m, RotationOrder o = kXYZ) noexcept;
};
