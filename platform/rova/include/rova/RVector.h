#pragma once
#include <cmath>
#include <vector>

#include "rova/RovaExport.h"

// A direction of three doubles, used as a row vector (v * M).
class ROVA_API RVector {
  public:
    double x = 0.0, y = 0.0, z = 0.0;

    constexpr RVector() noexcept = default;
    constexpr RVector(double ax, double ay, double az) noexcept : x(ax), y(ay), z(az) {}

    static const RVector zero, xAxis, yAxis, zAxis, xNegAxis, yNegAxis, zNegAxis;

    double length() const noexcept { return std::sqrt(x * x + y * y + z * z); }
    // Zero stays zero.
    RVector normal() const noexcept {
        const double l = length();
        return l > 0.0 ? RVector(x / l, y / l, z / l) : RVector();
    }
    // Normalises in place; zero stays zero.
    RVector& normalize() noexcept { return *this = normal(); }
    // Unsigned angle in radians, 0 to pi; 0 when either vector is zero.
    double angle(const RVector& other) const noexcept {
        const double l = length() * other.length();
        if (l <= 0.0)
            return 0.0;
        double c = (*this * other) / l;
        c = c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c);
        return std::acos(c);
    }
    bool isEquivalent(const RVector& other, double tolerance = 1e-10) const noexcept {
        return std::abs(x - other.x) <= tolerance && std::abs(y - other.y) <= tolerance &&
               std::abs(z - other.z) <= tolerance;
    }

    double operator[](unsigned int i) const noexcept { return i == 0 ? x : (i == 1 ? y : z); }
    double& operator[](unsigned int i) noexcept { return i == 0 ? x : (i == 1 ? y : z); }
    // Dot product.
    double operator*(const RVector& o) const noexcept { return x * o.x + y * o.y + z * o.z; }
    // Cross product.
    RVector operator^(const RVector& o) const noexcept {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    RVector operator+(const RVector& o) const noexcept { return {x + o.x, y + o.y, z + o.z}; }
    RVector operator-(const RVector& o) const noexcept { return {x - o.x, y - o.y, z - o.z}; }
    RVector operator-() const noexcept { return {-x, -y, -z}; }
    RVector operator*(double s) const noexcept { return {x * s, y * s, z * s}; }
    RVector operator/(double s) const noexcept { return {x / s, y / s, z / s}; }
    friend RVector operator*(double s, const RVector& v) noexcept { return v * s; }
    RVector& operator+=(const RVector& o) noexcept { return *this = *this + o; }
    RVector& operator-=(const RVector& o) noexcept { return *this = *this - o; }
    RVector& operator*=(double s) noexcept { return *this = *this * s; }
    bool operator==(const RVector& o) const noexcept { return x == o.x && y == o.y && z == o.z; }
};

// Three floats, for meshes and device-sized data.
class ROVA_API RFloatVector {
  public:
    float x = 0.0f, y = 0.0f, z = 0.0f;
    constexpr RFloatVector() noexcept = default;
    constexpr RFloatVector(float ax, float ay, float az) noexcept : x(ax), y(ay), z(az) {}
    explicit RFloatVector(const RVector& v) noexcept
        : x(static_cast<float>(v.x)), y(static_cast<float>(v.y)), z(static_cast<float>(v.z)) {}
    RVector asVector() const noexcept { return {x, y, z}; }
    bool operator==(const RFloatVector& o) const noexcept {
        return x == o.x && y == o.y && z == o.z;
    }
};

using RVectorArray = std::vector<RVector>;
using RFloatVectorArray = std::vector<RFloatVector>;
using RDoubleArray = std::vector<double>;
using RIntArray = std::vector<int>;
