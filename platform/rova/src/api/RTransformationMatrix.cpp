// RTransformationMatrix.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Rotation.h"
#include "rova/RArgList.h"
#include "rova/REulerRotation.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPoint.h"
#include "rova/RQuaternion.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RTransformationMatrix.h"
#include "rova/RVector.h"

// ---------------------------------------------------------------- RTransformationMatrix
RTransformationMatrix::RTransformationMatrix(const RMatrix& m) noexcept {
    m_translation = RVector(m[3][0], m[3][1], m[3][2]);
    RVector rows[3] = {RVector(m[0][0], m[0][1], m[0][2]), RVector(m[1][0], m[1][1], m[1][2]),
                       RVector(m[2][0], m[2][1], m[2][2])};
    // Gram-Schmidt: lengths along the orthogonalised axes are the scale; shear is dropped.
    double scale[3];
    scale[0] = rows[0].length();
    rows[0] = rows[0].normal();
    rows[1] = rows[1] - rows[0] * (rows[1] * rows[0]);
    scale[1] = rows[1].length();
    rows[1] = rows[1].normal();
    rows[2] = rows[2] - rows[0] * (rows[2] * rows[0]) - rows[1] * (rows[2] * rows[1]);
    scale[2] = rows[2].length();
    rows[2] = rows[2].normal();
    // Degenerate axes are rebuilt from the others so the rotation stays a rotation.
    if (rows[0].length() == 0.0)
        rows[0] =
            rows[1].length() > 0.0 && rows[2].length() > 0.0 ? rows[1] ^ rows[2] : RVector::xAxis;
    if (rows[1].length() == 0.0) {
        rows[1] = rows[2].length() > 0.0
                      ? rows[2] ^ rows[0]
                      : (std::abs(rows[0].y) < 0.9 ? RVector::yAxis : RVector::zAxis);
        rows[1] = (rows[1] - rows[0] * (rows[1] * rows[0])).normal();
    }
    if (rows[2].length() == 0.0)
        rows[2] = rows[0] ^ rows[1];
    if ((rows[0] ^ rows[1]) * rows[2] < 0.0) {
        rows[0] = -rows[0];
        scale[0] = -scale[0];
    }
    m_scale = RVector(scale[0], scale[1], scale[2]);
    const double r[3][3] = {{rows[0].x, rows[0].y, rows[0].z},
                            {rows[1].x, rows[1].y, rows[1].z},
                            {rows[2].x, rows[2].y, rows[2].z}};
    m_rotation = rova::detail::quaternionFromRotation(r);
}

RMatrix RTransformationMatrix::asMatrix() const noexcept {
    RMatrix scale;
    scale[0][0] = m_scale.x;
    scale[1][1] = m_scale.y;
    scale[2][2] = m_scale.z;
    RMatrix out = scale * m_rotation.asMatrix();
    out[3][0] = m_translation.x;
    out[3][1] = m_translation.y;
    out[3][2] = m_translation.z;
    return out;
}

REulerRotation RTransformationMatrix::eulerRotation() const noexcept {
    return REulerRotation::decompose(m_rotation.asMatrix());
}

RTransformationMatrix& RTransformationMatrix::rotateTo(const RQuaternion& q) noexcept {
    m_rotation = q.normal();
    return *this;
}

RTransformationMatrix& RTransformationMatrix::rotateTo(const REulerRotation& e) noexcept {
    m_rotation = e.asQuaternion().normal();
    return *this;
}

RTransformationMatrix& RTransformationMatrix::setTranslation(const RVector& t, Space) noexcept {
    m_translation = t;
    return *this;
}

RTransformationMatrix& RTransformationMatrix::setScale(const RVector& s, Space) noexcept {
    m_scale = s;
    return *this;
}
