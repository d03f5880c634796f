#pragma once
#include "rova/RDagPath.h"
#include "rova/REulerRotation.h"
#include "rova/RFnDependencyNode.h"
#include "rova/RQuaternion.h"
#include "rova/RSpace.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RVector.h"

// A function set for transform nodes: translation and rotation. kTransform (and kObject) read and
// write the transform's own translate and rotate attributes (rotation as xyz Euler angles); kWorld
// reads through every transform above it. Setters change the attributes directly (nothing goes on
// the undo queue) and make what depends on them dirty.
class ROVA_API RFnTransform : public RFnDependencyNode {
  public:
    RFnTransform() noexcept = default;
    explicit RFnTransform(const RObject& node, RStatus* status = nullptr);
    explicit RFnTransform(const RDagPath& path, RStatus* status = nullptr);
    RStatus setObject(const RObject& node) override;

    RVector getTranslation(RSpace::Space space, RStatus* status = nullptr) const;
    RVector translation(RSpace::Space space, RStatus* status = nullptr) const {
        return getTranslation(space, status);
    }
    // kTransform sets the translate attribute; kWorld the translation that puts the transform's
    // origin at that world position.
    RStatus setTranslation(const RVector& translation, RSpace::Space space);

    RStatus getRotation(RQuaternion& rotation, RSpace::Space space = RSpace::kTransform) const;
    RStatus getRotation(REulerRotation& rotation) const;  // kTransform, radians
    // Only kTransform is supported: the rotate attribute becomes the rotation's xyz Euler angles.
    RStatus setRotation(const RQuaternion& rotation, RSpace::Space space = RSpace::kTransform);
    RStatus setRotation(const REulerRotation& rotation);

    // The transform's own matrix (scale, rotation and translation, and its input matrix after
    // them), and that as scale, rotation and translation.
    RTransformationMatrix transformation(RStatus* status = nullptr) const;
};
