#pragma once
// One-euro smoothing of a rigid pose: a low-pass filter whose cutoff rises with the speed, so a
// still hand is smoothed hard and a moving one follows with little lag. The position's axes
// share one cutoff, from the speed along the path (so a diagonal stroke keeps its direction); the
// rotation is filtered as a whole on the sphere of rotations (a slerp towards the new rotation,
// with the cutoff from the angular speed), never component by component. The step works on plain
// doubles: any thread, nothing allocated.
#include "host/HostApi.h"

namespace kivo_rova {

// A rotation and a translation. The rotation is a unit quaternion (x, y, z, w).
struct Pose {
    double position[3] = {0.0, 0.0, 0.0};
    double rotation[4] = {0.0, 0.0, 0.0, 1.0};
};

// What one step filters with. Cutoffs are in Hz; cutoff = minCutoff + speedCoefficient * speed
// (length units per second) for the position, minCutoff + angularCoefficient * angular speed
// (degrees per second) for the rotation. The defaults are kivoFilter's, for millimetres; they were
// chosen on the real recording (bench/filter): a still palm is smoothed at 1 Hz, and every
// 500 mm/s of speed, or 1000 degrees/s of turning, raises the cutoff by 1 Hz.
struct OneEuroSettings {
    double minCutoff = 1.0;
    double speedCoefficient = 0.002;
    double angularCoefficient = 0.001;
    double derivativeCutoff = 1.0;
};

class OneEuroPoseFilter {
  public:
    // Whether a sample was taken since the last reset.
    bool started() const { return m_started; }
    // Forgets every sample: the next one is put out as it is.
    void reset() { m_started = false; }

    // Takes `raw`, `dt` seconds after the previous sample (dt > 0; ignored for the first
    // sample after a reset, which is put out unchanged), and answers the filtered pose.
    const Pose& step(const Pose& raw, double dt, const OneEuroSettings& settings);

    const Pose& pose() const { return m_pose; }

  private:
    Pose m_pose;
    double m_velocity[3] = {0.0, 0.0, 0.0};  // filtered, length units per second
    double m_angular[3] = {0.0, 0.0, 0.0};   // filtered angular velocity, radians per second
    bool m_started = false;
};

// A transform taken apart as a pose and the scale of each of its rows (negative x for a
// mirroring matrix); shear is dropped. False when the matrix has no finite rotation (a row of
// zero length, a value that is not finite): nothing is written then.
bool poseFromMatrix(const RMatrix& matrix, Pose& pose, double scale[3]);
// The transform with that scale, rotation and translation (row-vector convention).
RMatrix matrixFromPose(const Pose& pose, const double scale[3]);

}  // namespace kivo_rova
