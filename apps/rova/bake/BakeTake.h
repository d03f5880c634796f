#pragma once
// What a bake samples: at every baked frame, the pose of each named object (world space, as
// translation, rotation quaternion and scale), the shape of its mesh when it has one, and the
// value of each named plug. Writers turn a take into files; nothing here touches the host.
#include <array>
#include <string>
#include <variant>
#include <vector>

namespace rova::bake {

using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w
using Mat4 = std::array<double, 16>;

// A world matrix (row-vector convention, translation in row 3) as translation, rotation and
// scale for a column-vector reader: p' = T + R (S p). A mirroring matrix gets a negative x scale;
// shear, which a chain of non-uniformly scaled parents can make, is dropped.
struct Pose {
    Vec3 translation{};
    Quat rotation{0.0, 0.0, 0.0, 1.0};
    Vec3 scale{1.0, 1.0, 1.0};
};
Pose poseOfMatrix(const std::array<double, 16>& rowMajor);

// A mesh as the object shows it in its own space, with polygons as the host keeps them.
struct MeshShape {
    std::vector<Vec3> points;
    std::vector<std::vector<int>> faces;
};

// Lengths (translations, mesh points) are in the bake's unit: scene units times BakeTake::unit.
struct ObjectTrack {
    std::string name;         // the transform's name
    std::string meshName;     // its mesh shape's name, "" without one
    std::vector<Pose> poses;  // one per frame
    MeshShape baseShape;      // the mesh at the first frame
    // Distinct later shapes go to the writer as they are sampled (a take never holds them):
    // shapeOfFrame[i] is the number of the shape frame i shows, in the order the shapes came,
    // -1 for the base shape. Consecutive repeats share one.
    std::size_t shapeCount = 0;
    std::vector<int> shapeOfFrame;
};

// The hand of a kivoTransform node's first hand as a rig: per frame the palm's world pose and each
// finger's fingertip pose (its local +Y along the finger), translations in the bake's unit. A frame
// that did not see the palm or a finger holds the nearest pose that did (the first one seen, before
// it); one that never saw it holds a resting hand.
struct SkinTrack {
    static constexpr std::size_t kFingers = 5;
    std::string node;                              // the kivoTransform node
    double unitsPerMm = 0.0;                       // output length of one device millimetre
    std::vector<Pose> palm;                        // one per frame
    std::array<std::vector<Pose>, kFingers> tips;  // one per frame, thumb to little finger
    std::size_t palmSeen = 0;                      // frames that saw the palm
    std::array<std::size_t, kFingers> tipsSeen{};
};

// One sampled plug: numbers (a component per column) or, for a string attribute, text.
using PlugSample = std::variant<std::vector<double>, std::string>;
struct PlugTrack {
    std::string plug;                  // as named in the bake
    std::vector<std::string> columns;  // column names, one per component
    std::vector<PlugSample> samples;   // one per frame
};

// A tracking output (a kivoTransform's palm or pointable matrix) that drives baked items.
struct TrackedOutput {
    std::string plug;                 // node.outputPalm0, node.outputPointable0_1...
    std::vector<std::string> drives;  // the items it reaches, as named in the bake
    std::size_t seen = 0;             // frames whose Enabled flag was on
};

// What a lockstep replay did during the bake (-replay).
struct ReplayReport {
    bool requested = false;        // -replay was given
    bool playing = false;          // a lockstep replay was the source at the first frame
    long long framesAfterEnd = 0;  // frames at which it delivered nothing more
    double firstFrameAfterEnd = 0.0;
};

struct BakeTake {
    double fps = 24.0;
    double unit = 1.0;            // output lengths per scene unit
    bool metres = false;          // output lengths are metres (else scene units, unit 1)
    std::vector<double> frames;   // scene frame of each sample
    std::vector<double> seconds;  // scene time of each sample
    // Animation time of each sample: seconds since the first baked frame (the recorded time when a
    // replay drove the bake), increasing as 32-bit floats.
    std::vector<double> keyTimes;
    std::vector<ObjectTrack> objects;
    std::vector<PlugTrack> plugs;
    std::vector<SkinTrack> skins;
    std::vector<TrackedOutput> tracked;
    ReplayReport replay;

    double animationTime(std::size_t i) const { return keyTimes[i]; }
};

}  // namespace rova::bake
