#pragma once
#include "host/HostApi.h"
#include "nodes/OneEuroFilter.h"

namespace kivo_rova {

// Smooths one tracked transform (a kivoTransform output, or any matrix) with a one-euro filter,
// leaving its source as it is. Each evaluation at a new `time` takes one sample; an evaluation
// at the time of the previous one redoes that step with what the inputs hold now (the same
// sample evaluated for another output, a corrected sample, a changed setting), so the result
// never depends on how often the outputs are read. The filter starts afresh when the time goes
// back, jumps on by more than resetGap, or the hand comes back after it was reported gone. A hand
// that vanishes (inputEnabled off) keeps its last filtered pose, still enabled, for graceTime
// seconds, so a dropout of a frame or two does not let go of what it holds.
class KivoFilterNode : public RPxNode {
  public:
    static const RTypeId id;

    static RObject inputMatrix;         // matrix
    static RObject inputEnabled;        // bool, default true
    static RObject time;                // double, seconds
    static RObject minCutoff;           // double, Hz
    static RObject speedCoefficient;    // double, Hz per mm/s
    static RObject angularCoefficient;  // double, Hz per degree/s
    static RObject derivativeCutoff;    // double, Hz
    static RObject scale;               // double, scene units per mm
    static RObject resetGap;            // double, seconds
    static RObject graceTime;           // double, seconds
    static RObject outputMatrix;        // matrix, output
    static RObject outputEnabled;       // bool, output
    static RObject outputTranslate;     // double3, output

    KivoFilterNode() = default;
    ~KivoFilterNode() override;

    // Serves the three outputs (and the translation's children) at once; any other plug gets
    // kUnknownParameter.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;

    static void* createInstance();
    static RStatus initializeAttributes();

  private:
    // Everything an evaluation changes: kept twice, so that a second evaluation at the same
    // time can start again from the state before the first.
    struct State {
        bool evaluated = false;  // an evaluation happened (time is valid)
        double time = 0.0;       // of the last evaluation
        double seenTime = 0.0;   // of the last sample taken (valid while the filter started)
        OneEuroPoseFilter filter;
        bool enabled = false;  // what outputEnabled says
        RMatrix output;        // what outputMatrix says
        Pose pose;             // its pose
    };
    struct Inputs {
        RMatrix matrix;
        bool enabled = true;
        double time = 0.0;
        OneEuroSettings settings;
        double resetGap = 0.0;
        double graceTime = 0.0;
    };
    static void evaluate(State& state, const Inputs& in);

    State m_state;
    State m_before;
};

}  // namespace kivo_rova
