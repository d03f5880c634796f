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

// One sampled plug: numbers (a component per column) or, for a string attribute, text.
using PlugSample = std::variant<std::vector<double>, std::string>;
struct PlugTrack {
    std::string plug;                  // as named in the bake
    std::vector<std::string> columns;  // column names, one per component
    std::vector<PlugSample> samples;   // one per frame
};

struct BakeTake {
    double fps = 24.0;
    std::vector<double> frames;   // scene frame of each sample
    std::vector<double> seconds;  // scene time of each sample
    std::vector<ObjectTrack> objects;
    std::vector<PlugTrack> plugs;

    // Animation time of sample i: seconds since the first baked frame.
    double animationTime(std::size_t i) const { return seconds[i] - seconds.front(); }
};

}  // namespace rova::bake
