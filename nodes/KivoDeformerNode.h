#pragma once
#include <map>

#include "host/HostApi.h"
#include "nodes/DeformKernel.h"

namespace kivo_rova {

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
