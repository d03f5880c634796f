// RMatrix.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ImathConvert.h"
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
#include "rovahost/NumberText.h"

const RMatrix RMatrix::identity{};

// ---------------------------------------------------------------- RMatrix
RMatrix::RMatrix(const double values[4][4]) noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = values[r][c];
}

RMatrix& RMatrix::setToIdentity() noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = r == c ? 1.0 : 0.0;
    return *this;
}

RMatrix RMatrix::operator*(const RMatrix& right) const noexcept {
    RMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += matrix[r][k] * right.matrix[k][c];
            out.matrix[r][c] = sum;
        }
    return out;
}

bool RMatrix::operator==(const RMatrix& o) const noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (matrix[r][c] != o.matrix[r][c])
                return false;
    return true;
}

bool RMatrix::isEquivalent(const RMatrix& o, double tolerance) const noexcept {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (std::abs(matrix[r][c] - o.matrix[r][c]) > tolerance)
                return false;
    return true;
}

double RMatrix::det4x4() const noexcept {
    return rova::detail::toImath(*this).determinant();
}

RMatrix RMatrix::inverse() const noexcept {
    const double det = det4x4();
    if (det == 0.0 || !std::isfinite(det))
        return RMatrix();
    return rova::detail::fromImath(rova::detail::toImath(*this).gjInverse(false));
}

RMatrix RMatrix::transpose() const noexcept {
    RMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.matrix[r][c] = matrix[c][r];
    return out;
}

RPoint operator*(const RPoint& p, const RMatrix& m) noexcept {
    const double in[4] = {p.x, p.y, p.z, p.w};
    double out[4];
    for (int c = 0; c < 4; ++c)
        out[c] = in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + in[3] * m[3][c];
    return {out[0], out[1], out[2], out[3]};
}

RVector operator*(const RVector& v, const RMatrix& m) noexcept {
    return {v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0],
            v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1],
            v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2]};
}
