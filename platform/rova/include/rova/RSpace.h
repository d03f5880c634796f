#pragma once

// Where a transform-dependent value is measured. kTransform: the transform's own attributes
// (relative to its parent); kObject: the object's local space, before its transform; kWorld: after
// every transform above the object.
class RSpace {
  public:
    enum Space {
        kInvalid = 0,
        kTransform = 1,
        kPreTransform = 2,
        kPostTransform = 3,
        kWorld = 4,
        kObject = kPreTransform
    };
};
