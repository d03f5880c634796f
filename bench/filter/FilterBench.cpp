// kivoFilter's smoothing against the real recording: the palm's transform, as the tracking node
// builds it, through the filter step the node runs (matrix in, one-euro step, matrix out).
//
//  1. Jitter: RMS frame-to-frame acceleration (second difference) of the palm position, raw and
//     filtered, and the same for the rotation (degrees per frame per frame); ratio raw/filtered.
//  2. Lag: the time shift that maximises the cross-correlation of the filtered position with
//     the raw one over the whole recording (sub-tick by a parabola through the peak), and the
//     steady delay on ramps at several speeds at the recording's rate.
//  3. How both move with the cutoff of a still hand.
//  4. Cost per sample, against a baseline in the same run: copying the sample's matrix.
//
// Usage: filter_bench [--recording FILE] [--min-cutoff HZ] [--beta PER_MM_S]
//                     [--angular PER_DEG_S] [--dcut HZ] [--seconds S]
#include <kivo/Recording.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "CpuTime.h"
#include "nodes/OneEuroFilter.h"
#include "tracking/SceneMapping.h"

using kivo_rova::OneEuroPoseFilter;
using kivo_rova::OneEuroSettings;
using kivo_rova::Pose;

namespace {

struct Sample {
    double time;  // seconds
    RMatrix matrix;
};

RVector widened(const Kivo::Vector& v) {
    return {v.x, v.y, v.z};
}

// The first hand's palm in every frame that shows one, built as the tracking node builds it.
std::vector<Sample> palmSamples(const Kivo::Recording& recording) {
    std::vector<Sample> samples;
    for (const Kivo::RecordEntry& entry : recording.entries) {
        const auto* frame = std::get_if<Kivo::FrameRecord>(&entry);
        if (frame == nullptr || frame->hands.empty()) {
            continue;
        }
        const Kivo::HandRecord& hand = frame->hands.front();
        const RVector normal = widened(hand.palmNormal);
        samples.push_back(
            {static_cast<double>(frame->timestamp) / 1e6,
             kivo_rova::frameFromAxes(RVector(-normal.x, -normal.y, -normal.z),
                                      widened(hand.direction), widened(hand.palmPosition))});
    }
    return samples;
}

// The node's path for one sample: matrix to pose, one step, pose to matrix.
RMatrix filterOne(OneEuroPoseFilter& filter, const RMatrix& raw, double dt,
                  const OneEuroSettings& settings) {
    Pose pose;
    double scale[3];
    if (!kivo_rova::poseFromMatrix(raw, pose, scale)) {
        return raw;
    }
    return kivo_rova::matrixFromPose(filter.step(pose, dt, settings), scale);
}

std::vector<RMatrix> filtered(const std::vector<Sample>& samples, const OneEuroSettings& settings) {
    OneEuroPoseFilter filter;
    std::vector<RMatrix> out;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double dt = i == 0 ? 0.0 : samples[i].time - samples[i - 1].time;
        out.push_back(filterOne(filter, samples[i].matrix, dt, settings));
    }
    return out;
}

std::vector<RMatrix> matrices(const std::vector<Sample>& samples) {
    std::vector<RMatrix> out;
    for (const Sample& s : samples) out.push_back(s.matrix);
    return out;
}

double positionJitter(const std::vector<RMatrix>& m) {
    double sum = 0.0;
    for (std::size_t i = 1; i + 1 < m.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            const double a = m[i + 1][3][k] - 2.0 * m[i][3][k] + m[i - 1][3][k];
            sum += a * a;
        }
    }
    return std::sqrt(sum / static_cast<double>(m.size() - 2));
}

// The turn from a to b as a rotation vector, degrees, in world axes.
void turnBetween(const RMatrix& a, const RMatrix& b, double out[3]) {
    Pose pa, pb;
    double scale[3];
    (void)kivo_rova::poseFromMatrix(a, pa, scale);
    (void)kivo_rova::poseFromMatrix(b, pb, scale);
    const double* p = pa.rotation;
    double q[4] = {pb.rotation[0], pb.rotation[1], pb.rotation[2], pb.rotation[3]};
    if (p[0] * q[0] + p[1] * q[1] + p[2] * q[2] + p[3] * q[3] < 0.0) {
        for (double& c : q) c = -c;
    }
    // Vector and scalar parts of q * conj(p).
    const double v[3] = {p[3] * q[0] - q[3] * p[0] + (p[1] * q[2] - p[2] * q[1]),
                         p[3] * q[1] - q[3] * p[1] + (p[2] * q[0] - p[0] * q[2]),
                         p[3] * q[2] - q[3] * p[2] + (p[0] * q[1] - p[1] * q[0])};
    const double w = p[0] * q[0] + p[1] * q[1] + p[2] * q[2] + p[3] * q[3];
    const double s = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const double angle = 2.0 * std::atan2(s, w) * 180.0 / std::numbers::pi;
    for (int k = 0; k < 3; ++k) out[k] = s > 0.0 ? v[k] / s * angle : 0.0;
}

double rotationJitter(const std::vector<RMatrix>& m) {
    double sum = 0.0;
    for (std::size_t i = 1; i + 1 < m.size(); ++i) {
        double before[3], after[3];
        turnBetween(m[i - 1], m[i], before);
        turnBetween(m[i], m[i + 1], after);
        for (int k = 0; k < 3; ++k) sum += (after[k] - before[k]) * (after[k] - before[k]);
    }
    return std::sqrt(sum / static_cast<double>(m.size() - 2));
}

// The shift, in ticks, by which `late` best matches `early` (positions about their means).
double crossCorrelationLag(const std::vector<RMatrix>& early, const std::vector<RMatrix>& late) {
    const std::size_t n = early.size();
    double mean[2][3] = {};
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            mean[0][k] += early[i][3][k] / static_cast<double>(n);
            mean[1][k] += late[i][3][k] / static_cast<double>(n);
        }
    }
    constexpr int kMaxShift = 12;
    double c[2 * kMaxShift + 1];
    for (int s = -kMaxShift; s <= kMaxShift; ++s) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const long j = static_cast<long>(i) + s;
            if (j < 0 || j >= static_cast<long>(n))
                continue;
            for (int k = 0; k < 3; ++k) {
                sum += (early[i][3][k] - mean[0][k]) *
                       (late[static_cast<std::size_t>(j)][3][k] - mean[1][k]);
            }
        }
        c[s + kMaxShift] = sum / static_cast<double>(n - static_cast<std::size_t>(std::abs(s)));
    }
    int best = 1;
    for (int i = 1; i < 2 * kMaxShift; ++i) {
        if (c[i] > c[best])
            best = i;
    }
    const double y0 = c[best - 1], y1 = c[best], y2 = c[best + 1];
    const double denominator = y0 - 2.0 * y1 + y2;
    return (best - kMaxShift) + (denominator != 0.0 ? 0.5 * (y0 - y2) / denominator : 0.0);
}

// Steady delay, seconds, of the filter on a straight ramp at `speed` mm/s sampled every dt.
double rampDelay(double speed, double dt, const OneEuroSettings& settings) {
    OneEuroPoseFilter filter;
    Pose pose;
    for (int i = 0; i < 2000; ++i) {
        pose.position[0] = speed * dt * i;
        const Pose& out = filter.step(pose, dt, settings);
        if (i == 1999)
            return (pose.position[0] - out.position[0]) / speed;
    }
    return 0.0;
}

double argument(int argc, char** argv, const char* name, double fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name)
            return std::atof(argv[i + 1]);
    }
    return fallback;
}

// Nanoseconds of this thread's CPU per sample of `work` over the samples, the best of several
// timed passes (CPU time, so that other processes on a busy machine count less).
template <class Work>
double nanosecondsPerSample(std::size_t count, double seconds, Work&& work) {
    double best = 1e300;
    const double end = kivorova::bench::threadCpuSeconds() + seconds;
    do {
        const double start = kivorova::bench::threadCpuSeconds();
        constexpr int kPasses = 200;
        for (int pass = 0; pass < kPasses; ++pass) work();
        const double ns = (kivorova::bench::threadCpuSeconds() - start) * 1e9;
        best = std::min(best, ns / (kPasses * static_cast<double>(count)));
    } while (kivorova::bench::threadCpuSeconds() < end);
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = KIVOROVA_RECORDINGS "/real/asl-fingerspelling.kivo";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--recording")
            path = argv[i + 1];
    }
    OneEuroSettings settings;
    settings.minCutoff = argument(argc, argv, "--min-cutoff", settings.minCutoff);
    settings.speedCoefficient = argument(argc, argv, "--beta", settings.speedCoefficient);
    settings.angularCoefficient = argument(argc, argv, "--angular", settings.angularCoefficient);
    settings.derivativeCutoff = argument(argc, argv, "--dcut", settings.derivativeCutoff);
    const double seconds = argument(argc, argv, "--seconds", 1.0);

    Kivo::Recording recording;
    std::string error;
    if (!Kivo::readRecording(path, recording, error)) {
        std::fprintf(stderr, "filter_bench: %s\n", error.c_str());
        return 1;
    }
    const std::vector<Sample> samples = palmSamples(recording);
    if (samples.size() < 3) {
        std::fprintf(stderr, "filter_bench: %s: fewer than three frames show a hand\n",
                     path.c_str());
        return 1;
    }
    const double tick =
        (samples.back().time - samples.front().time) / static_cast<double>(samples.size() - 1);
    std::printf("recording %s: %zu palm samples, one tick %.1f ms\n", path.c_str(), samples.size(),
                tick * 1e3);
    std::printf(
        "settings: minCutoff %g Hz, speedCoefficient %g per mm/s, angularCoefficient %g "
        "per degree/s, derivativeCutoff %g Hz\n",
        settings.minCutoff, settings.speedCoefficient, settings.angularCoefficient,
        settings.derivativeCutoff);

    const std::vector<RMatrix> raw = matrices(samples);
    const std::vector<RMatrix> smooth = filtered(samples, settings);
    const double rawJitter = positionJitter(raw), smoothJitter = positionJitter(smooth);
    const double rawTurn = rotationJitter(raw), smoothTurn = rotationJitter(smooth);
    const double lag = crossCorrelationLag(raw, smooth);
    std::printf(
        "F1 position jitter (RMS acceleration): raw %.4f mm/tick^2, filtered %.4f; "
        "ratio %.2f (target >= 5: %s)\n",
        rawJitter, smoothJitter, rawJitter / smoothJitter,
        rawJitter / smoothJitter >= 5.0 ? "met" : "NOT MET");
    std::printf(
        "F2 rotation jitter (RMS angular acceleration): raw %.4f deg/tick^2, filtered "
        "%.4f; ratio %.2f\n",
        rawTurn, smoothTurn, rawTurn / smoothTurn);
    std::printf(
        "F3 lag (cross-correlation of the positions): %.2f ticks (%.0f ms) (target <= 1 "
        "tick: %s)\n",
        lag, lag * tick * 1e3, lag <= 1.0 ? "met" : "NOT MET");
    std::printf("F4 delay on a ramp at the recording's rate:");
    for (const double speed : {50.0, 200.0, 500.0, 1000.0}) {
        const double delay = rampDelay(speed, tick, settings);
        std::printf(" %g mm/s %.2f ticks;", speed, delay / tick);
    }
    std::printf("\n");
    // How jitter and lag trade against each other through the cutoff of a still hand.
    std::printf("F5 trade-off (other settings as above), minCutoff: jitter ratio / lag in ticks:");
    for (const double cutoff : {0.5, 1.0, 1.5, 2.0, 3.0}) {
        OneEuroSettings other = settings;
        other.minCutoff = cutoff;
        const std::vector<RMatrix> f = filtered(samples, other);
        std::printf(" %g Hz %.2f / %.2f;", cutoff, rawJitter / positionJitter(f),
                    crossCorrelationLag(raw, f));
    }
    std::printf("\n");

    // Cost: every sample of the recording in turn, the filter's state carried through.
    std::vector<RMatrix> out(samples.size());
    OneEuroPoseFilter filter;
    const double copyNs = nanosecondsPerSample(samples.size(), seconds, [&] {
        for (std::size_t i = 0; i < samples.size(); ++i) out[i] = samples[i].matrix;
        asm volatile("" : : "r"(out.data()) : "memory");
    });
    const double filterNs = nanosecondsPerSample(samples.size(), seconds, [&] {
        for (std::size_t i = 0; i < samples.size(); ++i) {
            out[i] = filterOne(filter, samples[i].matrix, tick, settings);
        }
        asm volatile("" : : "r"(out.data()) : "memory");
    });
    std::printf(
        "F6 cost per sample: filter %.1f ns, baseline (copy of the sample) %.1f ns; "
        "ratio %.1f (target < 100 ns: %s)\n",
        filterNs, copyNs, filterNs / copyNs, filterNs < 100.0 ? "met" : "NOT MET");
    return 0;
}
