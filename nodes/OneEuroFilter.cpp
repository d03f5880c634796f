#include "nodes/OneEuroFilter.h"

#include <cmath>
#include <numbers>

namespace kivo_rova {
namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// The weight of the new sample in an exponential smoother with this cutoff, dt seconds on.
double smoothing(double cutoff, double dt) {
    const double r = 2.0 * std::numbers::pi * (cutoff > 0.0 ? cutoff : 0.0) * dt;
    return std::isfinite(r) ? r / (1.0 + r) : 1.0;
}

// asin(s) / s from s * s, for s up to 0.25, to about 1e-9.
double arcsineOverSine(double s2) {
    return 1.0 +
           s2 * (1.0 / 6.0 + s2 * (3.0 / 40.0 +
                                   s2 * (5.0 / 112.0 + s2 * (35.0 / 1152.0 + s2 * 63.0 / 2816.0))));
}

// sin(x) / x from x * x, for x up to 0.26, to about 1e-11.
double sineOverArgument(double x2) {
    return 1.0 - x2 / 6.0 * (1.0 - x2 / 20.0 * (1.0 - x2 / 42.0));
}

double length3(const double v[3]) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

const Pose& OneEuroPoseFilter::step(const Pose& raw, double dt, const OneEuroSettings& settings) {
    if (!m_started || !(dt > 0.0)) {
        m_pose = raw;
        for (int k = 0; k < 3; ++k) {
            m_velocity[k] = 0.0;
            m_angular[k] = 0.0;
        }
        m_started = true;
        return m_pose;
    }
    const double derivativeWeight = smoothing(settings.derivativeCutoff, dt);
    const double perSecond = 1.0 / dt;

    // Position: the speed estimate is smoothed first, then sets the cutoff for the position.
    double delta[3];
    for (int k = 0; k < 3; ++k) {
        delta[k] = raw.position[k] - m_pose.position[k];
        m_velocity[k] += derivativeWeight * (delta[k] * perSecond - m_velocity[k]);
    }
    const double weight =
        smoothing(settings.minCutoff + settings.speedCoefficient * length3(m_velocity), dt);
    for (int k = 0; k < 3; ++k) {
        m_pose.position[k] += weight * delta[k];
    }

    // Rotation: the turn from the filtered rotation to the new one, on the shorter arc (q and -q
    // are one rotation), as half-angle and axis.
    const double* a = m_pose.rotation;
    double b[4] = {raw.rotation[0], raw.rotation[1], raw.rotation[2], raw.rotation[3]};
    double cosHalf = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    if (cosHalf < 0.0) {
        for (double& c : b) c = -c;
        cosHalf = -cosHalf;
    }
    // Vector part of conj(a) * b: the turn's axis times the sine of its half angle.
    const double turn[3] = {a[3] * b[0] - b[3] * a[0] - (a[1] * b[2] - a[2] * b[1]),
                            a[3] * b[1] - b[3] * a[1] - (a[2] * b[0] - a[0] * b[2]),
                            a[3] * b[2] - b[3] * a[2] - (a[0] * b[1] - a[1] * b[0])};
    // Turns of up to 29 degrees (the usual case from one frame to the next) take the half angle
    // and the slerp's sines from short series in the squared sine, exact to about 1e-9: no root,
    // division or library call on the path from one sample to the next.
    const double sin2 = turn[0] * turn[0] + turn[1] * turn[1] + turn[2] * turn[2];
    const bool small = sin2 < 0.0625;
    double perSine;  // half angle per unit of its sine
    double half2 = 0.0;
    double half = 0.0;
    double sinHalf = 0.0;
    if (small) {
        perSine = arcsineOverSine(sin2);
        half2 = sin2 * perSine * perSine;
    } else {
        sinHalf = std::sqrt(sin2);
        half = std::atan2(sinHalf, cosHalf);
        perSine = half / sinHalf;
    }
    for (int k = 0; k < 3; ++k) {
        m_angular[k] += derivativeWeight * (2.0 * turn[k] * perSine * perSecond - m_angular[k]);
    }
    const double turnWeight = smoothing(
        settings.minCutoff + settings.angularCoefficient * kDegreesPerRadian * length3(m_angular),
        dt);
    // Slerp from a towards b by turnWeight: sin((1 - t) h) / sin h and sin(t h) / sin h.
    const double keep = 1.0 - turnWeight;
    double wa;
    double wb;
    if (small) {
        wa = keep * perSine * sineOverArgument(keep * keep * half2);
        wb = turnWeight * perSine * sineOverArgument(turnWeight * turnWeight * half2);
    } else {
        wa = std::sin(keep * half) / sinHalf;
        wb = std::sin(turnWeight * half) / sinHalf;
    }
    double q[4];
    for (int k = 0; k < 4; ++k) {
        q[k] = wa * a[k] + wb * b[k];
    }
    // The slerp of unit quaternions is unit but for rounding: one Newton step renormalises.
    const double perNorm = 1.5 - 0.5 * (q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int k = 0; k < 4; ++k) {
        m_pose.rotation[k] = q[k] * perNorm;
    }
    return m_pose;
}

bool poseFromMatrix(const RMatrix& matrix, Pose& pose, double scale[3]) {
    double rows[3][3];
    double lengths[3];
    for (int r = 0; r < 3; ++r) {
        lengths[r] = length3(matrix.matrix[r]);
        if (!std::isfinite(lengths[r]) || lengths[r] == 0.0 ||
            !std::isfinite(matrix.matrix[3][r])) {
            return false;
        }
        const double perLength = 1.0 / lengths[r];
        for (int c = 0; c < 3; ++c) {
            rows[r][c] = matrix.matrix[r][c] * perLength;
        }
    }
    // A mirroring matrix keeps its mirror in the x scale, so the rotation stays proper.
    const double det = rows[0][0] * (rows[1][1] * rows[2][2] - rows[1][2] * rows[2][1]) -
                       rows[0][1] * (rows[1][0] * rows[2][2] - rows[1][2] * rows[2][0]) +
                       rows[0][2] * (rows[1][0] * rows[2][1] - rows[1][1] * rows[2][0]);
    if (det < 0.0) {
        lengths[0] = -lengths[0];
        for (double& c : rows[0]) c = -c;
    }
    // Rows are the images of the axes (p' = p * M): M is the transpose of the column-convention
    // rotation. Shepperd's method, from the largest of the four squared components.
    const double m00 = rows[0][0], m11 = rows[1][1], m22 = rows[2][2];
    const double trace = m00 + m11 + m22;
    double q[4];
    if (trace > 0.0) {
        const double s = 2.0 * std::sqrt(1.0 + trace);
        const double i = 1.0 / s;
        q[3] = s / 4.0;
        q[0] = (rows[1][2] - rows[2][1]) * i;
        q[1] = (rows[2][0] - rows[0][2]) * i;
        q[2] = (rows[0][1] - rows[1][0]) * i;
    } else if (m00 > m11 && m00 > m22) {
        const double s = 2.0 * std::sqrt(1.0 + m00 - m11 - m22);
        const double i = 1.0 / s;
        q[3] = (rows[1][2] - rows[2][1]) * i;
        q[0] = s / 4.0;
        q[1] = (rows[0][1] + rows[1][0]) * i;
        q[2] = (rows[2][0] + rows[0][2]) * i;
    } else if (m11 > m22) {
        const double s = 2.0 * std::sqrt(1.0 + m11 - m00 - m22);
        const double i = 1.0 / s;
        q[3] = (rows[2][0] - rows[0][2]) * i;
        q[0] = (rows[0][1] + rows[1][0]) * i;
        q[1] = s / 4.0;
        q[2] = (rows[1][2] + rows[2][1]) * i;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + m22 - m00 - m11);
        const double i = 1.0 / s;
        q[3] = (rows[0][1] - rows[1][0]) * i;
        q[0] = (rows[2][0] + rows[0][2]) * i;
        q[1] = (rows[1][2] + rows[2][1]) * i;
        q[2] = s / 4.0;
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!std::isfinite(norm) || norm == 0.0) {
        return false;
    }
    const double perNorm = 1.0 / norm;
    for (int k = 0; k < 4; ++k) {
        pose.rotation[k] = q[k] * perNorm;
    }
    for (int k = 0; k < 3; ++k) {
        pose.position[k] = matrix.matrix[3][k];
        scale[k] = lengths[k];
    }
    return true;
}

RMatrix matrixFromPose(const Pose& pose, const double scale[3]) {
    const double x = pose.rotation[0], y = pose.rotation[1], z = pose.rotation[2],
                 w = pose.rotation[3];
    const double rows[3][3] = {
        {1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y + z * w), 2.0 * (x * z - y * w)},
        {2.0 * (x * y - z * w), 1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z + x * w)},
        {2.0 * (x * z + y * w), 2.0 * (y * z - x * w), 1.0 - 2.0 * (x * x + y * y)}};
    RMatrix out;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out.matrix[r][c] = rows[r][c] * scale[r];
        }
        out.matrix[r][3] = 0.0;
        out.matrix[3][r] = pose.position[r];
    }
    out.matrix[3][3] = 1.0;
    return out;
}

}  // namespace kivo_rova
