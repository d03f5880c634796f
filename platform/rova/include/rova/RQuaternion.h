#pragma once
#include "rova/RMatrix.h"
#include "rova/RVector.h"

// Rotation quaternion (x, y, z imaginary, w real).
class ROVA_API RQuaternion {
  public:
    double x = 0.0, y = 0.0, z = 0.0, w = 1.0;

    constexpr RQuaternion() noexcept = default;
    constexpr RQuaternion(double ax, double ay, double az, double aw) noexcept
        : x(ax), y(ay), z(az), w(aw) {}
    // Rotation by angle (radians) about axis; a zero axis gives the identity.
    RQuaternion(double angle, const RVector& axis) noexcept;
    // The shortest rotation that turns a into b.
    RQuaternion(const RVector& a, const RVector& b) noexcept;

    static const RQuaternion identity;

    RMatrix asMatrix() const noexcept;
    RQuaternion normal() const noexcept;
    RQuaternion conjugate() const noexcept { return {-x, -y, -z, w}; }
    bool getAxisAngle(RVector& axis, double& angle) const noexcept;
    // Product: a * b applies a first, then b (row-vector convention, as for matrices).
    RQuaternion operator*(const RQuaternion& b) const noexcept;
    bool isEquivalent(const RQuaternion& o, double tolerance = 1e-10) const noexcept;
};

// Spherical interpolation along the shorter arc: t = 0 gives a, t = 1 gives b.
ROVA_API RQuaternion slerp(const RQuaternion& a, const RQuaternion& b, double t) noexcept;
