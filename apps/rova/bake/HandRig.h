#pragma once
// A tracked hand as a rig a 3D tool can show and retarget: a palm joint and, per finger, a chain
// of three bones (proximal, middle, distal) ending in a tip joint, with a simple hand mesh bound
// to them. Each bone points along its joint's local +Y.
//
// The device gives each finger its tip and direction, not its joints, so every finger is a
// straight chain: its knuckle lies one finger length back from the tip along the direction, and the
// bones split that length in fixed proportions. The palm joint follows the palm's pose; a
// finger's first joint sits at the knuckle, turned so that the finger points along the tracked
// direction; the joints further out keep their rest offsets along the finger.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "BakeTake.h"

namespace rova::bake {

inline constexpr std::size_t kFingerJoints = 4;  // proximal, middle, distal, tip
inline constexpr std::size_t kRigJoints = 1 + SkinTrack::kFingers * kFingerJoints;

// Finger j's length from knuckle to tip in device millimetres (thumb to little finger: an
// adult hand's proportions). Pointables that report their own length would give it here.
double fingerLengthMm(std::size_t finger);

struct RigJoint {
    std::string name;
    int parent = -1;              // index into the joints, -1 for the palm
    Pose rest;                    // local pose of the bind (rest) pose
    Mat4 inverseBind{};           // inverse of its world matrix in the bind pose, column-major
    std::vector<Pose> animation;  // local pose per frame; empty: the rest pose throughout
};

struct RigMesh {
    std::vector<Vec3> positions;  // bind pose, the bake's unit
    std::vector<std::array<std::uint8_t, 4>> joints;
    std::vector<std::array<float, 4>> weights;
    std::vector<std::uint32_t> indices;  // triangles
};

struct HandRig {
    std::vector<RigJoint> joints;  // the palm first, then each finger's four from the knuckle out
    RigMesh mesh;
};

// The rig of one baked hand: joint names start with the node's name ("hand_palm",
// "hand_index_1" ... "hand_index_tip").
HandRig handRig(const SkinTrack& skin, std::size_t frames);

}  // namespace rova::bake
