#pragma once

#include <cmath>

namespace Kivo {

// A direction or position in the device's frame: millimetres, y up, the user's side at +z.
struct Vector {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vector() noexcept = default;
    constexpr Vector(float x_, float y_, float z_) noexcept : x(x_), y(y_), z(z_) {}

    constexpr Vector operator+(const Vector& o) const noexcept {
        return {x + o.x, y + o.y, z + o.z};
    }
    constexpr Vector operator-(const Vector& o) const noexcept {
        return {x - o.x, y - o.y, z - o.z};
    }
    constexpr Vector operator-() const noexcept { return {-x, -y, -z}; }
    constexpr Vector operator*(float s) const noexcept { return {x * s, y * s, z * s}; }
    constexpr Vector operator/(float s) const noexcept { return {x / s, y / s, z / s}; }
    constexpr Vector& operator+=(const Vector& o) noexcept { return *this = *this + o; }
    constexpr Vector& operator-=(const Vector& o) noexcept { return *this = *this - o; }
    constexpr bool operator==(const Vector&) const noexcept = default;

    constexpr float dot(const Vector& o) const noexcept { return x * o.x + y * o.y + z * o.z; }
    constexpr Vector cross(const Vector& o) const noexcept {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    float magnitude() const noexcept { return std::sqrt(dot(*this)); }
    float distanceTo(const Vector& o) const noexcept { return (*this - o).magnitude(); }
    // The unit vector along this one; the zero vector stays zero.
    Vector normalized() const noexcept {
        const float m = magnitude();
        return m > 0.0f ? *this / m : Vector{};
    }
    bool isFinite() const noexcept {
        return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
    }
};

}  // namespace Kivo
