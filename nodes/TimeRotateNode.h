#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Turns a time value into a steadily growing rotation:
//     outputRotate = initialRotate + (axis * time) * scale, per component.
// The axis is not normalised and no unit conversion is applied; the node keeps no state.
class TimeRotateNode : public RPxNode {
  public:
    static const RTypeId id;

    static RObject scale;          // double, rate multiplier
    static RObject time;           // plain double, not a time attribute
    static RObject axis;           // three doubles
    static RObject initialRotate;  // three doubles
    static RObject outputRotate;   // three doubles, output

    TimeRotateNode() = default;
    ~TimeRotateNode() override;

    // Serves outputRotate only; every other plug gets kUnknownParameter.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;

    static void* createInstance();
    static RStatus initializeAttributes();
};

}  // namespace kivo_rova
