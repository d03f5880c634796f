#include "HandRig.h"

#include <cmath>

namespace rova::bake {
namespace {

constexpr const char* kFingerNames[SkinTrack::kFingers] = {"thumb", "index", "middle", "ring",
                                                           "pinky"};
// Knuckle to tip, in device millimetres.
constexpr double kFingerLengthMm[SkinTrack::kFingers] = {58.0, 80.0, 88.0, 82.0, 66.0};
// Where each bone starts along the finger, as a share of its length (the tip is at 1).
constexpr double kJointShare[kFingerJoints] = {0.0, 0.45, 0.75, 1.0};
// Finger thickness, millimetres.
constexpr double kFingerWidthMm[SkinTrack::kFingers] = {20.0, 18.0, 18.0, 17.0, 15.0};
// A resting right hand in the palm's frame (+Y the back of the hand, +Z towards the fingers, +X
// towards the thumb), millimetres: where each knuckle sits when no frame saw the finger.
constexpr Vec3 kRestKnuckleMm[SkinTrack::kFingers] = {{{30.0, -8.0, 5.0}},
                                                      {{22.0, 0.0, 42.0}},
                                                      {{2.0, 0.0, 46.0}},
                                                      {{-17.0, 0.0, 43.0}},
                                                      {{-34.0, -2.0, 36.0}}};
constexpr double kPalmLengthMm = 80.0;
constexpr double kPalmThicknessMm = 24.0;
constexpr double kPalmMarginMm = 9.0;

Vec3 add(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 scaled(const Vec3& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
Quat conjugate(const Quat& q) {
    return {-q[0], -q[1], -q[2], q[3]};
}
Quat multiply(const Quat& a, const Quat& b) {
    return {a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
            a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
            a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
            a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}
Vec3 rotate(const Quat& q, const Vec3& v) {
    const Quat p = multiply(multiply(q, {v[0], v[1], v[2], 0.0}), conjugate(q));
    return {p[0], p[1], p[2]};
}
Quat normalised(Quat q) {
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= length;
    return q;
}

// The turn that takes +Y (a bone) to +Z (along the resting fingers): a quarter turn about +X.
const Quat kAlongFingers = {std::sqrt(0.5), 0.0, 0.0, std::sqrt(0.5)};

// A rigid pose as a column-major matrix, and its inverse.
Mat4 matrixOf(const Quat& q, const Vec3& t) {
    const Vec3 x = rotate(q, {1.0, 0.0, 0.0}), y = rotate(q, {0.0, 1.0, 0.0}),
               z = rotate(q, {0.0, 0.0, 1.0});
    return {x[0], x[1], x[2], 0.0, y[0], y[1], y[2], 0.0,
            z[0], z[1], z[2], 0.0, t[0], t[1], t[2], 1.0};
}
Mat4 inverseOf(const Quat& q, const Vec3& t) {
    const Quat inverse = conjugate(q);
    return matrixOf(inverse, scaled(rotate(inverse, t), -1.0));
}

struct Box {
    Vec3 min, max;
    std::uint8_t joint;
};

void addBox(RigMesh& mesh, const Box& box) {
    const auto base = static_cast<std::uint32_t>(mesh.positions.size());
    for (int c = 0; c < 8; ++c) {
        mesh.positions.push_back({(c & 1) ? box.max[0] : box.min[0],
                                  (c & 2) ? box.max[1] : box.min[1],
                                  (c & 4) ? box.max[2] : box.min[2]});
        mesh.joints.push_back({box.joint, 0, 0, 0});
        mesh.weights.push_back({1.0F, 0.0F, 0.0F, 0.0F});
    }
    // Two triangles a face, counter-clockwise seen from outside.
    static constexpr std::uint32_t kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                   {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& face : kFaces)
        for (std::uint32_t k : {face[0], face[1], face[2], face[0], face[2], face[3]})
            mesh.indices.push_back(base + k);
}

}  // namespace

double fingerLengthMm(std::size_t finger) {
    return kFingerLengthMm[finger];
}

HandRig handRig(const SkinTrack& skin, std::size_t frames) {
    const double mm = skin.unitsPerMm;
    const bool palmSeen = !skin.palm.empty();
    HandRig rig;

    // The knuckles of the bind pose: where the tracked ones sat on the palm on average, or a
    // resting hand's.
    Vec3 knuckle[SkinTrack::kFingers];
    std::vector<Vec3> knuckleAt[SkinTrack::kFingers];  // per frame, in the palm's frame
    for (std::size_t j = 0; j < SkinTrack::kFingers; ++j) {
        const double length = fingerLengthMm(j) * mm;
        knuckle[j] = scaled(kRestKnuckleMm[j], mm);
        if (!palmSeen || skin.tips[j].empty())
            continue;
        Vec3 sum{};
        for (std::size_t i = 0; i < frames; ++i) {
            const Pose& palm = skin.palm[i];
            const Pose& tip = skin.tips[j][i];
            const Vec3 direction = rotate(tip.rotation, {0.0, 1.0, 0.0});
            const Vec3 base = sub(tip.translation, scaled(direction, length));
            knuckleAt[j].push_back(rotate(conjugate(palm.rotation), sub(base, palm.translation)));
            sum = add(sum, knuckleAt[j].back());
        }
        if (frames > 0)
            knuckle[j] = scaled(sum, 1.0 / static_cast<double>(frames));
    }

    RigJoint palm;
    palm.name = skin.node + "_palm";
    palm.inverseBind = inverseOf({0.0, 0.0, 0.0, 1.0}, {0.0, 0.0, 0.0});
    if (palmSeen)
        for (std::size_t i = 0; i < frames; ++i)
            palm.animation.push_back(
                {skin.palm[i].translation, normalised(skin.palm[i].rotation), {1.0, 1.0, 1.0}});
    rig.joints.push_back(palm);

    for (std::size_t j = 0; j < SkinTrack::kFingers; ++j) {
        const double length = fingerLengthMm(j) * mm;
        for (std::size_t k = 0; k < kFingerJoints; ++k) {
            RigJoint joint;
            joint.name = skin.node + "_" + kFingerNames[j] + "_" +
                         (k + 1 == kFingerJoints ? std::string("tip") : std::to_string(k + 1));
            if (k == 0) {
                joint.parent = 0;
                joint.rest = {knuckle[j], kAlongFingers, {1.0, 1.0, 1.0}};
                // The knuckle turned so that the finger points where the tip's direction does.
                for (std::size_t i = 0; i < knuckleAt[j].size(); ++i)
                    joint.animation.push_back({knuckleAt[j][i],
                                               normalised(multiply(conjugate(skin.palm[i].rotation),
                                                                   skin.tips[j][i].rotation)),
                                               {1.0, 1.0, 1.0}});
            } else {
                joint.parent = static_cast<int>(rig.joints.size()) - 1;
                joint.rest = {{0.0, (kJointShare[k] - kJointShare[k - 1]) * length, 0.0},
                              {0.0, 0.0, 0.0, 1.0},
                              {1.0, 1.0, 1.0}};
            }
            const Vec3 along = add(knuckle[j], {0.0, 0.0, kJointShare[k] * length});
            joint.inverseBind = inverseOf(kAlongFingers, along);
            rig.joints.push_back(std::move(joint));
        }
    }

    // The mesh, in the bind pose: a slab for the palm between the four fingers' knuckles and the
    // wrist, and a box along each bone, each moving rigidly with its joint.
    Vec3 low = knuckle[1], high = knuckle[1];
    for (std::size_t j = 2; j < SkinTrack::kFingers; ++j)
        for (std::size_t c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], knuckle[j][c]);
            high[c] = std::max(high[c], knuckle[j][c]);
        }
    const double middleY = (low[1] + high[1]) / 2.0;
    addBox(rig.mesh,
           {{low[0] - kPalmMarginMm * mm, middleY - kPalmThicknessMm * mm / 2.0,
             high[2] - kPalmLengthMm * mm},
            {high[0] + kPalmMarginMm * mm, middleY + kPalmThicknessMm * mm / 2.0, high[2]},
            0});
    for (std::size_t j = 0; j < SkinTrack::kFingers; ++j) {
        const double length = fingerLengthMm(j) * mm;
        for (std::size_t k = 0; k + 1 < kFingerJoints; ++k) {
            const double half =
                kFingerWidthMm[j] * mm * (1.0 - 0.12 * static_cast<double>(k)) / 2.0;
            const Vec3& at = knuckle[j];
            addBox(rig.mesh,
                   {{at[0] - half, at[1] - half * 0.85, at[2] + kJointShare[k] * length},
                    {at[0] + half, at[1] + half * 0.85, at[2] + kJointShare[k + 1] * length},
                    static_cast<std::uint8_t>(1 + j * kFingerJoints + k)});
        }
    }
    return rig;
}

}  // namespace rova::bake
