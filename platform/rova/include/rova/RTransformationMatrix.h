#pragma once
#include "rova/REulerRotation.h"
#include "rova/RMatrix.h"
#include "rova/RQuaternion.h"
#include "rova/RVector.h"

// A matrix held as scale, rotation and translation (shear is dropped on decomposition).
// asMatrix() = scale * rotation * translation, in the row-vector convention.
class ROVA_API RTransformationMatrix {
  public:
    enum Space {
        kTransform = 1,
        kPreTransform = 2,
        kPostTransform = 3,
        kWorld = 4,
        kObject = kPreTransform
    };

    RTransformationMatrix() noexcept = default;
    explicit RTransformationMatrix(const RMatrix& m) noexcept;

    RMatrix asMatrix() const noexcept;
    RQuaternion rotation() const noexcept { return m_rotation; }
    REulerRotation eulerRotation() const noexcept;
    RVector getTranslation(Space space = kWorld) const noexcept {
        (void)space;
        return m_translation;
    }
    RVector translation(Space space = kWorld) const noexcept { return getTranslation(space); }
    RVector getScale(Space space = kWorld) const noexcept {
        (void)space;
        return m_scale;
    }

    RTransformationMatrix& rotateTo(const RQuaternion& q) noexcept;
    RTransformationMatrix& rotateTo(const REulerRotation& e) noexcept;
    RTransformationMatrix& setTranslation(const RVector& t, Space space = kWorld) noexcept;
    RTransformationMatrix& setScale(const RVector& s, Space space = kWorld) noexcept;

  private:
    RVector m_scale{1.0, 1.0, 1.0};
    RQuaternion m_rotation;
    RVector m_translation;
};
