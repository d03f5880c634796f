#pragma once
#include <map>

#include "host/HostApi.h"

namespace kivo_rova {

// The settings one deformation reads from the node's attributes.
struct DeformSettings {
    short deformType = 1;   // 0 pushPull, 1 push, 2 pull (any other value: pushPull)
    short falloffType = 0;  // 0 gauss, 1 linear, 2 needle (any other value: gauss)
    bool weightedSign = true;
    double radius = 1.0;
    double power = 1.0;
    bool pause = false;
};

// Moves `points` in place by the input points `inputs` (both in the mesh's object space): the
// gather pass (one direction, centroid and weight sum per input point) and the move pass (each
// vertex meets the input points in order). Normal i belongs to vertex i; a vertex past the end
// of `normals` has the zero normal. A radius that is not positive reaches no vertex. The result
// does not depend on the number of threads, and vertices out of every input point's reach are
// never weighed.
// `bounds`, when the caller knows it (a mesh keeps the box around its points with its
// geometry), is the box around `points`: when no input point reaches it, nothing is read.
struct PointBounds {
    RPoint lower;
    RPoint upper;
};
void deformPoints(const DeformSettings& settings, const RPointArray& inputs, RPointArray& points,
                  const RFloatVectorArray& normals, const PointBounds* bounds = nullptr);

// Pushes dents into meshes (or pulls them out) around up to ten tracked points.
class KivoDeformerNode : public RPxDeformerNode {
  public:
    static const RTypeId id;
    static constexpr int kInputPoints = 10;

    static RObject deformType;
    static RObject falloffType;
    static RObject weightedSign;
    static RObject radius;
    static RObject power;
    static RObject verbose;
    static RObject permanent;
    static RObject pause;
    static RObject inputPoint[kInputPoints];
    static RObject inputPointEnabled[kInputPoints];

    KivoDeformerNode() = default;
    ~KivoDeformerNode() override;

    static void* createInstance();
    static RStatus initializeAttributes();

    RStatus deformGeometry(RDataBlock& block, RItGeometry& iterator, const RMatrix& localToWorld,
                           unsigned int multiIndex) override;

  private:
    static RStatus initializeInputPoint(int index);

    // The working shape of one geometry, in the mesh's object space, kept between evaluations.
    // Each geometry (by its index in `input`) has its own, so a deformer on several meshes never
    // writes one mesh's shape onto another or mixes their vertex counts.
    struct StoredShape {
        RPointArray storedPoints;
        RFloatVectorArray storedNormals;
    };
    std::map<unsigned int, StoredShape> storedShapes;
};

}  // namespace kivo_rova
