#include <kivo_tools/HandDataConverter.h>
#include <kivo_tools/Landmarks.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string_view>

namespace KivoTools {

namespace {

using Kivo::FrameRecord;
using Kivo::Vector;

constexpr std::size_t kLandmarks = kHandLandmarks;
constexpr std::size_t kSkeletonJoints = 22;
// How far from the device (mm) a landmark may be placed: a kilometre, far past any view, yet
// near enough that a finger's length and direction stay within the recording's numbers.
constexpr float kMaxPlacementMm = 1e6f;

using Landmarks = std::vector<std::array<double, 3>>;

struct Failure {
    std::string message;
};

std::vector<Landmarks> loadLandmarks(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw Failure{path + ": cannot open the file for reading"};
    }
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(in);
    } catch (const nlohmann::json::parse_error& e) {
        throw Failure{path + ": not valid JSON: " + e.what()};
    }
    if (!doc.is_array() || doc.empty()) {
        throw Failure{path + ": expected a non-empty array of frames"};
    }
    std::vector<Landmarks> frames;
    for (std::size_t f = 0; f < doc.size(); ++f) {
        const auto& frame = doc[f];
        if (!frame.is_array() || frame.size() != kLandmarks) {
            throw Failure{path + ": frame " + std::to_string(f) + ": expected " +
                          std::to_string(kLandmarks) + " landmarks"};
        }
        Landmarks lm(kLandmarks);
        for (std::size_t i = 0; i < kLandmarks; ++i) {
            const auto& p = frame[i];
            if (!p.is_array() || p.size() < 3) {
                throw Failure{path + ": frame " + std::to_string(f) + ", landmark " +
                              std::to_string(i) + ": expected [x, y, z]"};
            }
            for (std::size_t k = 0; k < 3; ++k) {
                if (!p[k].is_number() || !std::isfinite(p[k].get<double>())) {
                    throw Failure{path + ": frame " + std::to_string(f) + ", landmark " +
                                  std::to_string(i) + ", component " + std::to_string(k) +
                                  ": expected a finite number"};
                }
                lm[i][k] = p[k].get<double>();
            }
        }
        frames.push_back(std::move(lm));
    }
    return frames;
}

Vector palmCentre2d(const Landmarks& lm) {
    Vector c;
    for (int i : kPalmLandmarks) {
        c += Vector{static_cast<float>(lm[i][0]), static_cast<float>(lm[i][1]), 0.0f};
    }
    return c / static_cast<float>(kPalmLandmarks.size());
}

using Points = std::array<Vector, kLandmarks>;  // one frame in the device's frame, mm

// The 22-joint text layout: one frame per line, 66 numbers.
std::vector<Landmarks> loadSkeletons(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw Failure{path + ": cannot open the file for reading"};
    }
    std::vector<Landmarks> frames;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const std::string where = path + ":" + std::to_string(number);
        Landmarks lm(kSkeletonJoints);
        const char* at = line.c_str();
        for (std::size_t k = 0; k < kSkeletonJoints * 3; ++k) {
            char* next = nullptr;
            const double v = std::strtod(at, &next);
            if (next == at || !std::isfinite(v)) {
                throw Failure{where + ": joint " + std::to_string(k / 3) + ", component " +
                              std::to_string(k % 3) + ": expected a finite number (" +
                              std::to_string(kSkeletonJoints) + " joints x, y, z per line)"};
            }
            lm[k / 3][k % 3] = v;
            at = next;
        }
        if (std::string_view(at).find_first_not_of(" \t\r") != std::string_view::npos) {
            throw Failure{where + ": more than " + std::to_string(kSkeletonJoints * 3) +
                          " numbers"};
        }
        frames.push_back(std::move(lm));
    }
    if (frames.empty()) {
        throw Failure{path + ": no frames"};
    }
    return frames;
}

bool isJson(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw Failure{path + ": cannot open the file for reading"};
    }
    char c = 0;
    while (in.get(c) && std::isspace(static_cast<unsigned char>(c))) {
    }
    return c == '[';
}

// Camera landmarks (and the hand's travel across the image) to the device's frame.
std::vector<Points> fromCamera(const HandDataOptions& options) {
    const auto frames = loadLandmarks(options.landmarksPath);
    std::vector<Landmarks> image;
    if (!options.imagePath.empty()) {
        image = loadLandmarks(options.imagePath);
        if (image.size() != frames.size()) {
            throw Failure{options.imagePath + ": has " + std::to_string(image.size()) +
                          " frames, " + options.landmarksPath + " has " +
                          std::to_string(frames.size())};
        }
    }
    const Vector start = image.empty() ? Vector{} : palmCentre2d(image.front());
    const auto scale = static_cast<float>(options.mmPerPixel);
    std::vector<Points> out(frames.size());
    for (std::size_t f = 0; f < frames.size(); ++f) {
        // Camera frame (x right, y down, z away from the camera) to the device's frame
        // (x to the user's right, y up, z towards the user): a half turn about z.
        Vector travel{0.0f, options.height, 0.0f};
        if (!image.empty()) {
            const Vector d = palmCentre2d(image[f]) - start;
            travel += Vector{-d.x * scale, -d.y * scale, 0.0f};
        }
        for (std::size_t i = 0; i < kLandmarks; ++i) {
            out[f][i] = Vector{static_cast<float>(-frames[f][i][0] * 1000.0),
                               static_cast<float>(-frames[f][i][1] * 1000.0),
                               static_cast<float>(frames[f][i][2] * 1000.0)} +
                        travel;
        }
    }
    return out;
}

// World skeletons from a camera facing the user: the axes are already the device's, so the
// hand keeps its motion and is moved as a whole to start with its palm `height` above the
// device. The palm-centre joint is left out: the palm is placed from the wrist and knuckles, as
// for camera landmarks.
std::vector<Points> fromSkeletons(const HandDataOptions& options) {
    const auto frames = loadSkeletons(options.landmarksPath);
    std::vector<Points> out(frames.size());
    for (std::size_t f = 0; f < frames.size(); ++f) {
        for (std::size_t i = 0; i < kLandmarks; ++i) {
            const auto& j = frames[f][i == 0 ? 0 : i + 1];
            out[f][i] = Vector{static_cast<float>(j[0] * 1000.0), static_cast<float>(j[1] * 1000.0),
                               static_cast<float>(j[2] * 1000.0)};
        }
    }
    const Vector shift = Vector{0.0f, options.height, 0.0f} - palmCentre(out.front());
    for (auto& points : out) {
        for (auto& p : points) {
            p += shift;
        }
    }
    return out;
}

// The motion sampled at `rate` frames per second, linearly between the input's frames.
std::vector<Points> resample(const std::vector<Points>& in, double inRate, double rate) {
    const double last = static_cast<double>(in.size() - 1) / inRate;
    std::vector<Points> out;
    for (std::size_t k = 0; static_cast<double>(k) / rate <= last + 1e-9; ++k) {
        const double x = static_cast<double>(k) / rate * inRate;
        const auto i = std::min(static_cast<std::size_t>(x), in.size() - 1);
        const auto j = std::min(i + 1, in.size() - 1);
        const auto w = static_cast<float>(x - static_cast<double>(i));
        Points p;
        for (std::size_t n = 0; n < kLandmarks; ++n) {
            p[n] = in[i][n] + (in[j][n] - in[i][n]) * w;
        }
        out.push_back(p);
    }
    return out;
}

// Gaussian noise, the same on every platform (splitmix64 and Box-Muller).
class Noise {
  public:
    explicit Noise(std::uint64_t seed) : m_state(seed) {}
    float next(float sigma) {
        const double u1 = (static_cast<double>(bits() >> 11) + 1.0) * 0x1.0p-53;
        const double u2 = static_cast<double>(bits() >> 11) * 0x1.0p-53;
        return sigma * static_cast<float>(std::sqrt(-2.0 * std::log(u1)) *
                                          std::cos(2.0 * std::numbers::pi * u2));
    }

  private:
    std::uint64_t bits() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t m_state;
};

}  // namespace

bool convertHandData(const HandDataOptions& options, Kivo::Recording& out, std::string& error) {
    try {
        const auto validRate = [](double rate) {
            return rate >= Kivo::kMinRecordingRate && rate <= Kivo::kMaxRecordingRate;
        };
        // The same range the reader accepts, so a conversion always replays.
        if (!validRate(options.rate)) {
            throw Failure{"rate: must be between 1 and 10000 frames per second"};
        }
        if (options.resampleRate != 0.0 && !validRate(options.resampleRate)) {
            throw Failure{"resample: must be between 1 and 10000 frames per second"};
        }
        if (!(options.noise >= 0.0f && options.noise <= 1000.0f)) {
            throw Failure{"noise: must be between 0 and 1000 mm"};
        }
        if (!(options.hold >= 0.0 && options.hold <= 60.0)) {
            throw Failure{"hold: must be between 0 and 60 seconds"};
        }
        if (!(std::abs(options.height) <= kMaxPlacementMm)) {
            throw Failure{"height: must be between -1000000 and 1000000 mm"};
        }
        if (!(options.mmPerPixel > 0.0 && options.mmPerPixel <= 1000.0)) {
            throw Failure{"mm-per-pixel: must be above 0 and at most 1000"};
        }
        auto points = isJson(options.landmarksPath) ? fromCamera(options) : fromSkeletons(options);
        double rate = options.rate;
        if (options.resampleRate > 0.0) {
            points = resample(points, options.rate, options.resampleRate);
            rate = options.resampleRate;
        }
        if (options.hold > 0.0) {
            const auto held = static_cast<std::size_t>(std::llround(options.hold * rate));
            points.insert(points.begin(), held, points.front());
        }
        if (options.noise > 0.0f) {
            Noise noise(options.seed);
            for (auto& frame : points) {
                for (auto& p : frame) {
                    p += Vector{noise.next(options.noise), noise.next(options.noise),
                                noise.next(options.noise)};
                }
            }
        }
        Kivo::Recording rec;
        rec.header.rate = rate;
        rec.header.gesturesRecorded = false;
        for (std::size_t f = 0; f < points.size(); ++f) {
            // Farther out, a finger's length or direction overflows the recording's numbers.
            for (std::size_t j = 0; j < points[f].size(); ++j) {
                const Vector& p = points[f][j];
                if (!(std::abs(p.x) <= kMaxPlacementMm && std::abs(p.y) <= kMaxPlacementMm &&
                      std::abs(p.z) <= kMaxPlacementMm)) {
                    throw Failure{options.landmarksPath + ": frame " + std::to_string(f) +
                                  ": landmark " + std::to_string(j) +
                                  " lands more than 1000000 mm from the device (are "
                                  "the coordinates in metres?)"};
                }
            }
            FrameRecord frame;
            frame.id = static_cast<std::int64_t>(f) + 1;
            frame.timestamp = std::llround(static_cast<double>(f) * 1e6 / rate);
            if (!appendHand(points[f], options.rightHand, 1, frame)) {
                throw Failure{options.landmarksPath + ": frame " + std::to_string(f) +
                              ": degenerate palm (wrist and knuckles coincide)"};
            }
            rec.entries.emplace_back(std::move(frame));
        }
        if (options.leave && !rec.entries.empty()) {
            FrameRecord frame;
            frame.id = static_cast<std::int64_t>(points.size()) + 1;
            frame.timestamp = std::llround(static_cast<double>(points.size()) * 1e6 / rate);
            rec.entries.emplace_back(std::move(frame));
        }
        out = std::move(rec);
        return true;
    } catch (const Failure& failure) {
        error = failure.message;
        return false;
    }
}

}  // namespace KivoTools
