#pragma once
#include "rova/RDagPath.h"
#include "rova/RStatus.h"

// A 3D view of the scene. The host has one, the active view; it looks through the camera made
// active last (`view -camera N`), or through the host's default camera while there is none: a
// camera "persp" at (0, 0, 10) looking down -Z at the origin with +Y up, which no command changes.
// Like everything that reaches the scene, main thread only: from a data thread the calls fail.
class ROVA_API R3dView {
  public:
    R3dView() noexcept = default;
    // The active view; a failure leaves a null view.
    static R3dView active3dView(RStatus* status = nullptr);
    bool isNull() const noexcept { return !m_valid; }
    // The path to the view's camera shape; fails (path unchanged) for a null view.
    RStatus getCamera(RDagPath& camera) const;
    // Makes the view look through a camera shape (or the transform of one).
    RStatus setCamera(const RDagPath& camera);

  private:
    bool m_valid = false;
};
