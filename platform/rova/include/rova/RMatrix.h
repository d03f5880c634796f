#pragma once
#include <vector>

#include "rova/RPoint.h"
#include "rova/RVector.h"

// 4x4 doubles, row-major, applied to row vectors: p' = p * M, translation in row 3.
// A * B applies A first, then B.
class ROVA_API RMatrix {
  public:
    double matrix[4][4];

    RMatrix() noexcept { setToIdentity(); }
    explicit RMatrix(const double values[4][4]) noexcept;

    static const RMatrix identity;

    double operator()(unsigned int row, unsigned int col) const noexcept {
        return matrix[row][col];
    }
    double& operator()(unsigned int row, unsigned int col) noexcept { return matrix[row][col]; }
    double* operator[](unsigned int row) noexcept { return matrix[row]; }
    const double* operator[](unsigned int row) const noexcept { return matrix[row]; }

    RMatrix& setToIdentity() noexcept;
    RMatrix operator*(const RMatrix& right) const noexcept;
    RMatrix& operator*=(const RMatrix& right) noexcept { return *this = *this * right; }
    bool operator==(const RMatrix& o) const noexcept;
    bool operator!=(const RMatrix& o) const noexcept { return !(*this == o); }
    bool isEquivalent(const RMatrix& o, double tolerance = 1e-10) const noexcept;
    // A singular matrix has no inverse: the identity is returned.
    RMatrix inverse() const noexcept;
    RMatrix transpose() const noexcept;
    double det4x4() const noexcept;
};

// Point and direction transforms in the row-vector convention.
ROVA_API RPoint operator*(const RPoint& p, const RMatrix& m) noexcept;
ROVA_API RVector operator*(const RVector& v, const RMatrix& m) noexcept;  // no translation

using RMatrixArray = std::vector<RMatrix>;
