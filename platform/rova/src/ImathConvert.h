#pragma once
// Conversions between the host API's matrix and Imath, which the runtime uses for its matrix
// algebra (determinant, inverse, Euler extraction). Imath stays inside the runtime: no public
// header names it, so plug-ins build without it.
#include <Imath/ImathMatrix.h>

#include "rova/RMatrix.h"

namespace rova::detail {

inline Imath::M44d toImath(const RMatrix& m) noexcept {
    Imath::M44d out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[r][c] = m[r][c];
    return out;
}

inline RMatrix fromImath(const Imath::M44d& m) noexcept {
    RMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[r][c] = m[r][c];
    return out;
}

}  // namespace rova::detail
