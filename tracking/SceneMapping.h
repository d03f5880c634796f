#pragma once
// From device space to the scene. The tracking nodes work in two stages: on the data thread each
// hand and pointable becomes a 4x4 transform in device space (frameFromAxes, from vectors widened
// by toSceneVector); on the main thread compute places such a transform in the scene with the
// node's scale and offset and, when asked, relative to the active camera (placeTransform).
//
// Matrices are the host's RMatrix: row-major, applied to row vectors (p' = p * M), translation in
// row 3, column 3 always (0, 0, 0, 1) here; A * B applies A first. Rotations follow the right-hand
// rule.
#include "device/DeviceApi.h"
#include "host/HostApi.h"

namespace kivo_rova {

// How one compute places device-space transforms in the scene.
struct SceneMapping {
    double scale = 1.0;                       // device length to scene length
    RVector offset;                           // added to every translation after scaling
    bool relativeToCamera = false;            // carry every transform along with cameraFrame
    RMatrix cameraFrame = RMatrix::identity;  // used only when relativeToCamera is true

    bool operator==(const SceneMapping& o) const noexcept {
        return scale == o.scale && offset == o.offset && relativeToCamera == o.relativeToCamera &&
               cameraFrame == o.cameraFrame;
    }
};

// A device vector widened to doubles, component by component; no change of axes or units.
RVector toSceneVector(const Kivo::Vector& v) noexcept;

// The matrix whose rows are right, up, back and position (column 3 stays 0, 0, 0, 1).
RMatrix matrixFromRows(const RVector& right, const RVector& up, const RVector& back,
                       const RVector& position) noexcept;

// The world transform of the active 3D view's camera: rows right, up, back (minus the view
// direction) and the eye point when `withPosition`, else the origin. Main thread only (it reads
// the scene). A view or camera that cannot be found is reported on standard error
// ("Error: R3dView::active3DView", "Error: R3dView::getCamera") and the frame is built from
// what the host answers for the failed queries; it never stops.
RMatrix cameraFrame(bool withPosition);

// A transform whose local +Y follows `primary`, whose +Z follows `secondary` made perpendicular
// to it, and whose origin is `position`: the shortest turn taking +Y to the primary axis, then a
// roll about it that brings +Z to the secondary axis. When |primary . secondary| is at most 0.001
// the secondary axis is taken as it is. Any thread.
//
// The rotation is always finite and orthonormal (determinant 1); the translation is `position`
// as given. Degenerate inputs have these results:
//  - primary exactly along -Y: the shortest turn is not unique; the half turn about +X is used,
//    so +Y goes to -Y and the roll then brings +Z to the secondary axis as usual;
//  - primary zero or not finite: taken as +Y (no turn), so only the roll applies;
//  - secondary parallel to the primary, zero or not finite: there is no roll, so the result is
//    the shortest turn alone (for a primary along -Y, the half turn about +X).
RMatrix frameFromAxes(const RVector& primary, const RVector& secondary,
                      const RVector& position) noexcept;

// Places a device-space transform in the scene, in place: the translation is multiplied by the
// scale (the rotation rows are not), then offset is added; when relativeToCamera, the result is
// then carried by the camera frame (M = M * cameraFrame). Inline: a compute places up to 27.
inline void placeTransform(RMatrix& transform, const SceneMapping& mapping) noexcept {
    for (unsigned int k = 0; k < 3; ++k) {
        transform[3][k] = transform[3][k] * mapping.scale + mapping.offset[k];
    }
    if (mapping.relativeToCamera) {
        transform = transform * mapping.cameraFrame;
    }
}

}  // namespace kivo_rova
