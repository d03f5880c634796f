#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Makes one transform follow another over time. The node holds the attracted matrix (taken
// from inputAttracted on the first evaluation) and, each time `time` advances by dt seconds,
// moves it the fraction min(1, strength * dt) of the way towards inputAttractor. With `track`
// on the output is the attractor itself. Only `time` and `inputAttractor` dirty the output.
class KivoAttractorNode : public RPxNode {
  public:
    static const RTypeId id;

    static RObject strength;         // double, rate per second
    static RObject track;            // bool
    static RObject time;             // time
    static RObject inputAttractor;   // matrix
    static RObject inputAttracted;   // matrix, read once
    static RObject outputAttracted;  // matrix, output

    KivoAttractorNode() = default;
    ~KivoAttractorNode() override;

    // Serves outputAttracted only; every other plug gets kUnknownParameter and leaves the
    // held state untouched.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;

    static void* createInstance();
    static RStatus initializeAttributes();

  private:
    // Rotation and translation the fraction t of the way from `from` to `to`, unit scale.
    static RMatrix blendTransforms(const RMatrix& from, const RMatrix& to, double t);

    bool m_heldValid = false;
    RTime m_lastTime;
    RMatrix m_heldMatrix;
};

}  // namespace kivo_rova
