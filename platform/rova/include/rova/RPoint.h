#pragma once
#include <vector>

#include "rova/RVector.h"

// A position; w is the homogeneous weight (1 for ordinary points).
class ROVA_API RPoint {
  public:
    double x = 0.0, y = 0.0, z = 0.0, w = 1.0;

    constexpr RPoint() noexcept = default;
    constexpr RPoint(double ax, double ay, double az, double aw = 1.0) noexcept
        : x(ax), y(ay), z(az), w(aw) {}
    explicit RPoint(const RVector& v) noexcept : x(v.x), y(v.y), z(v.z) {}

    static const RPoint origin;

    double distanceTo(const RPoint& o) const noexcept { return (*this - o).length(); }
    RVector asVector() const noexcept { return {x, y, z}; }
    RVector operator-(const RPoint& o) const noexcept { return {x - o.x, y - o.y, z - o.z}; }
    RPoint operator+(const RVector& v) const noexcept { return {x + v.x, y + v.y, z + v.z, w}; }
    RPoint operator-(const RVector& v) const noexcept { return {x - v.x, y - v.y, z - v.z, w}; }
    RPoint& operator+=(const RVector& v) noexcept { return *this = *this + v; }
    bool operator==(const RPoint& o) const noexcept {
        return x == o.x && y == o.y && z == o.z && w == o.w;
    }
};

using RPointArray = std::vector<RPoint>;
