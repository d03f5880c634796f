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

    // Position: the speed estimate is smoothed first, then sets the cutoff for the position.
    double delta[3];
    for (int k = 0; k < 3; ++k) {
        delta[k] = raw.position[k] - m_pose.position[k];
        m_velocity[k] += derivativeWeight * (delta[k] / dt - m_velocity[k]);
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
    const double sinHalf = length3(turn);
    // Small turns (the usual case from one frame to the next) skip the trigonometry: below a
    // half angle of 0.05 rad the series and the normalised linear blend differ from the exact
    // angle and slerp by less than 1e-6 of the turn.
    const bool small = sinHalf < 0.05;
    const double half =
        small ? sinHalf * (1.0 + sinHalf * sinHalf / 6.0) : std::atan2(sinHalf, cosHalf);
    const double perSine = sinHalf > 0.0 ? 2.0 * half / sinHalf : 2.0;  // angle per unit sine
    for (int k = 0; k < 3; ++k) {
        m_angular[k] += derivativeWeight * (turn[k] * perSine / dt - m_angular[k]);
    }
    const double turnWeight = smoothing(
        settings.minCutoff + settings.angularCoefficient * kDegreesPerRadian * length3(m_angular),
        dt);
    // Slerp from a towards b by turnWeight.
    double wa = 1.0 - turnWeight;
    double wb = turnWeight;
    if (!small) {
        wa = std::sin((1.0 - turnWeight) * half) / sinHalf;
        wb = std::sin(turnWeight * half) / sinHalf;
    }
    double q[4];
    for (int k = 0; k < 4; ++k) {
        q[k] = wa * a[k] + wb * b[k];
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int k = 0; k < 4; ++k) {
        m_pose.rotation[k] = q[k] / norm;
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
        for (int c = 0; c < 3; ++c) {
            rows[r][c] = matrix.matrix[r][c] / lengths[r];
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
        q[3] = s / 4.0;
        q[0] = (rows[1][2] - rows[2][1]) / s;
        q[1] = (rows[2][0] - rows[0][2]) / s;
        q[2] = (rows[0][1] - rows[1][0]) / s;
    } else if (m00 > m11 && m00 > m22) {
        const double s = 2.0 * std::sqrt(1.0 + m00 - m11 - m22);
        q[3] = (rows[1][2] - rows[2][1]) / s;
        q[0] = s / 4.0;
        q[1] = (rows[0][1] + rows[1][0]) / s;
        q[2] = (rows[2][0] + rows[0][2]) / s;
    } else if (m11 > m22) {
        const double s = 2.0 * std::sqrt(1.0 + m11 - m00 - m22);
        q[3] = (rows[2][0] - rows[0][2]) / s;
        q[0] = (rows[0][1] + rows[1][0]) / s;
        q[1] = s / 4.0;
        q[2] = (rows[1][2] + rows[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + m22 - m00 - m11);
        q[3] = (rows[0][1] - rows[1][0]) / s;
        q[0] = (rows[2][0] + rows[0][2]) / s;
        q[1] = (rows[1][2] + rows[2][1]) / s;
        q[2] = s / 4.0;
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!std::isfinite(norm) || norm == 0.0) {
        return false;
    }
    for (int k = 0; k < 4; ++k) {
        pose.rotation[k] = q[k] / norm;
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
