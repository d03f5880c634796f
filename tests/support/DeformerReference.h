#pragma once
// The deformer's vertex passes as written: every vertex against every input point, on one
// thread, in order. The tests and the benchmark measure the deformer against it.
#include <cmath>
#include <vector>

#include "nodes/KivoDeformerNode.h"

namespace kivorova::testing {

inline double falloff(short type, double d, double r) {
    double w = type == 1   ? 1.0 - d / r
               : type == 2 ? 1.0 - (d * d) / (r * r)
                           : std::pow(360.0, -(std::pow(d / r, 2.5) - 0.01));
    if (w < 0.0)
        w = 0.0;
    else if (w > 1.0)
        w = 1.0;
    return w;
}

inline void reference(const kivo_rova::DeformSettings& s, const RPointArray& inputs,
                      RPointArray& points, const RFloatVectorArray& normals) {
    const std::size_t n = inputs.size(), m = points.size();
    const double r = s.radius;
    std::vector<RVector> D(n);
    std::vector<RPoint> C(n, RPoint(0, 0, 0));
    std::vector<double> W(n, 0.0), S(n, 0.0);
    if (!s.pause) {
        for (std::size_t i = 0; i < m; ++i) {
            const RPoint& p = points[i];
            const RFloatVector& ni = normals[i];
            for (std::size_t j = 0; j < n; ++j) {
                const double d = p.distanceTo(inputs[j]);
                if (d > r)
                    continue;
                const double w = falloff(s.falloffType, d, r);
                const double wf = static_cast<float>(w);
                D[j].x += static_cast<double>(ni.x) * wf;
                D[j].y += static_cast<double>(ni.y) * wf;
                D[j].z += static_cast<double>(ni.z) * wf;
                C[j].x += w * p.x;
                C[j].y += w * p.y;
                C[j].z += w * p.z;
                W[j] += w;
            }
        }
        for (std::size_t j = 0; j < n; ++j) {
            D[j].normalize();
            if (W[j] > 0.0) {
                C[j].x /= W[j];
                C[j].y /= W[j];
                C[j].z /= W[j];
            }
        }
    }
    if (s.weightedSign)
        for (std::size_t j = 0; j < n; ++j)
            S[j] = (inputs[j].x - C[j].x) * D[j].x + (inputs[j].y - C[j].y) * D[j].y +
                   (inputs[j].z - C[j].z) * D[j].z;
    for (std::size_t i = 0; i < m; ++i) {
        RPoint& p = points[i];
        for (std::size_t j = 0; j < n; ++j) {
            const double d = p.distanceTo(inputs[j]);
            if (d > r)
                continue;
            double sign = S[j];
            if (!s.weightedSign) {
                const float dx = static_cast<float>(inputs[j].x - p.x);
                const float dy = static_cast<float>(inputs[j].y - p.y);
                const float dz = static_cast<float>(inputs[j].z - p.z);
                sign =
                    dx * normals[i].x + dy * normals[i].y + dz * normals[i].z > 0.0f ? 1.0 : -1.0;
            }
            if ((s.deformType == 1 && sign >= 0.0) || (s.deformType == 2 && sign <= 0.0))
                continue;
            const double w = falloff(s.falloffType, d, r);
            p.x += ((D[j].x * sign) * w) * s.power;
            p.y += ((D[j].y * sign) * w) * s.power;
            p.z += ((D[j].z * sign) * w) * s.power;
        }
    }
}

}  // namespace kivorova::testing
