// The deformation kernel: gather and move passes over fixed blocks of vertices.
#include "nodes/DeformKernel.h"

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if !defined(KIVO_ROVA_SERIAL_PASSES)
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#endif

namespace kivo_rova {
namespace {

// Vertices are worked on in fixed blocks: the unit of culling, of parallel work and of the
// gather's reduction (partial sums per block, combined in block order), so the result is the
// same whatever the number of threads.
constexpr std::size_t kBlock = 2048;
constexpr std::size_t kMaxInputs = kMaxDeformInputs;

template <class Body>
void forEachBlock(std::size_t blocks, const Body& body) {
#if defined(KIVO_ROVA_SERIAL_PASSES)
    // Sanitizer builds that cannot see the task scheduler's synchronisation run the same blocks
    // in order.
    for (std::size_t b = 0; b < blocks; ++b) body(b);
#else
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, blocks),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                          for (std::size_t b = range.begin(); b != range.end(); ++b) body(b);
                      });
#endif
}

double falloff(short type, double d, double r) {
    double w = 0.0;
    if (type == 1) {
        w = 1.0 - d / r;
    } else if (type == 2) {
        w = 1.0 - (d * d) / (r * r);
    } else {
        w = std::pow(360.0, -(std::pow(d / r, 2.5) - 0.01));
    }
    if (w < 0.0) {
        w = 0.0;
    } else if (w > 1.0) {
        w = 1.0;
    }
    return w;
}

double distance(const RPoint& p, const RPoint& q) {
    return p.distanceTo(q);
}

// A square of the radius above which a squared distance is surely out of reach, so that most
// vertices out of reach are passed over without a square root; the rest are measured as written.
// Infinite (nothing passed over) for a radius so small that its square loses precision.
double outOfReachSquare(double r) {
    return r > 1e-150 ? r * r * (1.0 + 1e-9) : std::numeric_limits<double>::infinity();
}

bool surelyOutOfReach(const RPoint& p, const RPoint& q, double square) {
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    const double dz = p.z - q.z;
    return dx * dx + dy * dy + dz * dz > square;
}

struct Box {
    double lo[3] = {std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity()};
    double hi[3] = {-std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity()};
};

// The bounds of `count` points. A coordinate that is not a number leaves the bounds as they
// were. Two independent running bounds halve the chains of dependent comparisons; this pass
// reads every vertex, so it is as cheap as the reading itself allows.
Box boundsOf(const RPoint* points, std::size_t count) {
    Box box;
#if defined(__SSE2__)
    static_assert(sizeof(RPoint) == 4 * sizeof(double), "x, y, z, w next to each other");
    // Lanes (x, y) and (z, w); w is carried along and ignored. _mm_min_pd(p, lo) keeps lo
    // when p is not a number.
    __m128d loXY[2] = {_mm_set1_pd(box.lo[0]), _mm_set1_pd(box.lo[0])};
    __m128d loZW[2] = {_mm_set1_pd(box.lo[0]), _mm_set1_pd(box.lo[0])};
    __m128d hiXY[2] = {_mm_set1_pd(box.hi[0]), _mm_set1_pd(box.hi[0])};
    __m128d hiZW[2] = {_mm_set1_pd(box.hi[0]), _mm_set1_pd(box.hi[0])};
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        for (int k = 0; k < 2; ++k) {
            const double* p = &points[i + static_cast<std::size_t>(k)].x;
            const __m128d xy = _mm_loadu_pd(p);
            const __m128d zw = _mm_loadu_pd(p + 2);
            loXY[k] = _mm_min_pd(xy, loXY[k]);
            loZW[k] = _mm_min_pd(zw, loZW[k]);
            hiXY[k] = _mm_max_pd(xy, hiXY[k]);
            hiZW[k] = _mm_max_pd(zw, hiZW[k]);
        }
    }
    if (i < count) {
        const double* p = &points[i].x;
        const __m128d xy = _mm_loadu_pd(p);
        const __m128d zw = _mm_loadu_pd(p + 2);
        loXY[0] = _mm_min_pd(xy, loXY[0]);
        loZW[0] = _mm_min_pd(zw, loZW[0]);
        hiXY[0] = _mm_max_pd(xy, hiXY[0]);
        hiZW[0] = _mm_max_pd(zw, hiZW[0]);
    }
    alignas(16) double lo[4], hi[4], lo1[4], hi1[4];
    _mm_store_pd(lo, loXY[0]);
    _mm_store_pd(lo + 2, loZW[0]);
    _mm_store_pd(hi, hiXY[0]);
    _mm_store_pd(hi + 2, hiZW[0]);
    _mm_store_pd(lo1, loXY[1]);
    _mm_store_pd(lo1 + 2, loZW[1]);
    _mm_store_pd(hi1, hiXY[1]);
    _mm_store_pd(hi1 + 2, hiZW[1]);
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = std::min(lo[a], lo1[a]);
        box.hi[a] = std::max(hi[a], hi1[a]);
    }
#else
    for (std::size_t i = 0; i < count; ++i) {
        const RPoint& p = points[i];
        box.lo[0] = p.x < box.lo[0] ? p.x : box.lo[0];
        box.lo[1] = p.y < box.lo[1] ? p.y : box.lo[1];
        box.lo[2] = p.z < box.lo[2] ? p.z : box.lo[2];
        box.hi[0] = p.x > box.hi[0] ? p.x : box.hi[0];
        box.hi[1] = p.y > box.hi[1] ? p.y : box.hi[1];
        box.hi[2] = p.z > box.hi[2] ? p.z : box.hi[2];
    }
#endif
    return box;
}

// Whether any point of the box may lie within `reach` of p. Errs towards yes: a margin covers
// rounding, and a reach that is not a number reaches everything.
bool mayReach(const Box& box, const RPoint& p, double reach) {
    const double c[3] = {p.x, p.y, p.z};
    double sum = 0.0;
    double scale = 1.0;
    for (int a = 0; a < 3; ++a) {
        const double gap =
            c[a] < box.lo[a] ? box.lo[a] - c[a] : (c[a] > box.hi[a] ? c[a] - box.hi[a] : 0.0);
        sum += gap * gap;
        scale += std::fabs(c[a]) + std::fabs(box.lo[a]) + std::fabs(box.hi[a]);
    }
    const double limit = reach * (1.0 + 1e-9) + scale * 1e-12;
    return !(std::sqrt(sum) > limit);
}

struct Partial {
    double d[3] = {0.0, 0.0, 0.0};
    double c[3] = {0.0, 0.0, 0.0};
    double w = 0.0;
    bool any = false;
};

RFloatVector normalOf(const RFloatVectorArray& normals, std::size_t i) {
    return i < normals.size() ? normals[i] : RFloatVector();
}

}  // namespace

void deformPoints(const DeformSettings& settings, const RPointArray& inputs, RPointArray& points,
                  const RFloatVectorArray& normals, const PointBounds* bounds) {
    const std::size_t n = std::min(inputs.size(), kMaxInputs);
    const double r = settings.radius;
    const double reachSquare = outOfReachSquare(r);
    // A radius that is not positive reaches nothing: at r = 0 the falloff would divide 0 by 0.
    if (n == 0 || !(r > 0.0) || settings.pause) {
        return;
    }
    if (bounds) {
        const Box whole{{bounds->lower.x, bounds->lower.y, bounds->lower.z},
                        {bounds->upper.x, bounds->upper.y, bounds->upper.z}};
        bool reached = false;
        for (std::size_t j = 0; j < n && !reached; ++j) {
            reached = mayReach(whole, inputs[j], r);
        }
        if (!reached) {
            return;
        }
    }
    const std::size_t m = points.size();
    const std::size_t blocks = (m + kBlock - 1) / kBlock;

    std::vector<Box> boxes(blocks);
    forEachBlock(blocks, [&](std::size_t b) {
        const std::size_t begin = b * kBlock;
        boxes[b] = boundsOf(points.data() + begin, std::min(m, begin + kBlock) - begin);
    });

    // Gather: per block and input point, sums over the block's vertices in index order.
    std::vector<Partial> partials(blocks * n);
    forEachBlock(blocks, [&](std::size_t b) {
        std::array<std::size_t, kMaxInputs> near{};
        std::size_t count = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (mayReach(boxes[b], inputs[j], r)) {
                near[count++] = j;
            }
        }
        if (count == 0) {
            return;
        }
        Partial* sums = &partials[b * n];
        const std::size_t end = std::min(m, (b + 1) * kBlock);
        for (std::size_t i = b * kBlock; i < end; ++i) {
            const RPoint& p = points[i];
            const RFloatVector normal = normalOf(normals, i);
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t j = near[k];
                if (surelyOutOfReach(p, inputs[j], reachSquare)) {
                    continue;
                }
                const double d = distance(p, inputs[j]);
                if (d > r) {
                    continue;
                }
                const double w = falloff(settings.falloffType, d, r);
                const double wf = static_cast<float>(w);
                Partial& s = sums[j];
                s.d[0] += static_cast<double>(normal.x) * wf;
                s.d[1] += static_cast<double>(normal.y) * wf;
                s.d[2] += static_cast<double>(normal.z) * wf;
                s.c[0] += w * p.x;
                s.c[1] += w * p.y;
                s.c[2] += w * p.z;
                s.w += w;
                s.any = true;
            }
        }
    });

    std::array<RVector, kMaxInputs> direction{};
    std::array<double, kMaxInputs> depth{};
    std::array<double, kMaxInputs> reachOfMove{};  // how far a vertex may have moved before j
    std::array<bool, kMaxInputs> acts{};
    double moved = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
        RVector d;
        double c[3] = {0.0, 0.0, 0.0};
        double weight = 0.0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const Partial& s = partials[b * n + j];
            if (!s.any) {
                continue;
            }
            d.x += s.d[0];
            d.y += s.d[1];
            d.z += s.d[2];
            c[0] += s.c[0];
            c[1] += s.c[1];
            c[2] += s.c[2];
            weight += s.w;
        }
        d.normalize();
        if (weight > 0.0) {
            c[0] /= weight;
            c[1] /= weight;
            c[2] /= weight;
        }
        direction[j] = d;
        const RPoint& P = inputs[j];
        depth[j] = settings.weightedSign
                       ? (P.x - c[0]) * d.x + (P.y - c[1]) * d.y + (P.z - c[2]) * d.z
                       : 0.0;
        // With a weighted sign the sign is one number per input point, so a mode that skips it
        // skips the whole input point.
        acts[j] = true;
        if (settings.weightedSign) {
            if (settings.deformType == 1 && depth[j] >= 0.0) {
                acts[j] = false;
            }
            if (settings.deformType == 2 && depth[j] <= 0.0) {
                acts[j] = false;
            }
        }
        reachOfMove[j] = r + moved;
        if (acts[j]) {
            const double sign = settings.weightedSign ? std::fabs(depth[j]) : 1.0;
            double step = sign * std::fabs(settings.power) * (1.0 + 1e-12) * d.length();
            if (std::isnan(step)) {
                step = std::numeric_limits<double>::infinity();
            }
            moved += step;
        }
    }

    // Move: each vertex meets the input points in order, from where the earlier ones left it.
    forEachBlock(blocks, [&](std::size_t b) {
        std::array<std::size_t, kMaxInputs> near{};
        std::size_t count = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (acts[j] && mayReach(boxes[b], inputs[j], reachOfMove[j])) {
                near[count++] = j;
            }
        }
        const std::size_t end = std::min(m, (b + 1) * kBlock);
        if (count == 0) {
            return;
        }
        for (std::size_t i = b * kBlock; i < end; ++i) {
            RPoint& p = points[i];
            const RFloatVector normal = normalOf(normals, i);
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t j = near[k];
                const RPoint& P = inputs[j];
                if (surelyOutOfReach(p, P, reachSquare)) {
                    continue;
                }
                const double d = distance(p, P);
                if (d > r) {
                    continue;
                }
                double s = depth[j];
                if (!settings.weightedSign) {
                    const float dx = static_cast<float>(P.x - p.x);
                    const float dy = static_cast<float>(P.y - p.y);
                    const float dz = static_cast<float>(P.z - p.z);
                    const float dot = dx * normal.x + dy * normal.y + dz * normal.z;
                    s = dot > 0.0f ? 1.0 : -1.0;
                }
                if ((settings.deformType == 1 && s >= 0.0) ||
                    (settings.deformType == 2 && s <= 0.0)) {
                    continue;
                }
                const double w = falloff(settings.falloffType, d, r);
                const RVector& D = direction[j];
                p.x += ((D.x * s) * w) * settings.power;
                p.y += ((D.y * s) * w) * settings.power;
                p.z += ((D.z * s) * w) * settings.power;
            }
        }
    });
}

}  // namespace kivo_rova
