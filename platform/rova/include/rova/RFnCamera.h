#pragma once
#include "rova/RDagPath.h"
#include "rova/RFnDependencyNode.h"
#include "rova/RPoint.h"
#include "rova/RSpace.h"
#include "rova/RVector.h"

// A function set for cameras. A camera sits at its transform's origin and looks down its local -Z
// with +Y up and +X right. Directions are unit length. Without a camera (an unattached function
// set, or a path that is not a camera) every query fails and answers as a camera at the world
// origin looking down -Z: eye (0, 0, 0), view (0, 0, -1), up (0, 1, 0), right (1, 0, 0).
class ROVA_API RFnCamera : public RFnDependencyNode {
  public:
    RFnCamera() noexcept = default;
    explicit RFnCamera(const RObject& cameraNode, RStatus* status = nullptr);
    explicit RFnCamera(const RDagPath& path, RStatus* status = nullptr);
    RStatus setObject(const RObject& cameraNode) override;

    RPoint eyePoint(RSpace::Space space = RSpace::kObject, RStatus* status = nullptr) const;
    RVector viewDirection(RSpace::Space space = RSpace::kObject, RStatus* status = nullptr) const;
    RVector upDirection(RSpace::Space space = RSpace::kObject, RStatus* status = nullptr) const;
    RVector rightDirection(RSpace::Space space = RSpace::kObject, RStatus* status = nullptr) const;

  private:
    RMatrix toSpace(RSpace::Space space, RStatus* status) const;
    RDagPath m_path;
    bool m_hasPath = false;
};
