#include <kivo_tools/HandDataConverter.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <fstream>

namespace KivoTools {

namespace {

using Kivo::FrameRecord;
using Kivo::Vector;

constexpr std::size_t kLandmarks = 21;
constexpr std::array<int, 5> kPalmPoints{0, 5, 9, 13, 17};
constexpr std::array<int, 5> kTips{4, 8, 12, 16, 20};

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
    for (int i : kPalmPoints) {
        c += Vector{static_cast<float>(lm[i][0]), static_cast<float>(lm[i][1]), 0.0f};
    }
    return c / static_cast<float>(kPalmPoints.size());
}

}  // namespace

bool convertHandData(const HandDataOptions& options, Kivo::Recording& out, std::string& error) {
    try {
        if (!(options.rate >= Kivo::kMinRecordingRate && options.rate <= Kivo::kMaxRecordingRate)) {
            // The same range the reader accepts, so a conversion always replays.
            throw Failure{"rate: must be between 1 and 10000 frames per second"};
        }
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
        Kivo::Recording rec;
        rec.header.rate = options.rate;
        rec.header.gesturesRecorded = false;
        const Vector start = image.empty() ? Vector{} : palmCentre2d(image.front());
        const auto scale = static_cast<float>(options.mmPerPixel);
        for (std::size_t f = 0; f < frames.size(); ++f) {
            // Camera frame (x right, y down, z away from the camera) to the device's frame
            // (x to the user's right, y up, z towards the user): a half turn about z.
            Vector travel{0.0f, options.height, 0.0f};
            if (!image.empty()) {
                const Vector d = palmCentre2d(image[f]) - start;
                travel += Vector{-d.x * scale, -d.y * scale, 0.0f};
            }
            std::array<Vector, kLandmarks> p;
            for (std::size_t i = 0; i < kLandmarks; ++i) {
                p[i] = Vector{static_cast<float>(-frames[f][i][0] * 1000.0),
                              static_cast<float>(-frames[f][i][1] * 1000.0),
                              static_cast<float>(frames[f][i][2] * 1000.0)} +
                       travel;
            }
            FrameRecord frame;
            frame.id = static_cast<std::int64_t>(f) + 1;
            frame.timestamp = std::llround(static_cast<double>(f) * 1e6 / options.rate);
            Kivo::HandRecord hand;
            hand.id = 1;
            for (int i : kPalmPoints) {
                hand.palmPosition += p[i];
            }
            hand.palmPosition = hand.palmPosition / static_cast<float>(kPalmPoints.size());
            Vector normal = (p[5] - p[0]).cross(p[17] - p[0]).normalized();
            hand.palmNormal = options.rightHand ? normal : -normal;
            hand.direction = (p[9] - p[0]).normalized();
            if (hand.palmNormal == Vector{} || hand.direction == Vector{}) {
                throw Failure{options.landmarksPath + ": frame " + std::to_string(f) +
                              ": degenerate palm (wrist and knuckles coincide)"};
            }
            frame.hands.push_back(hand);
            for (std::size_t k = 0; k < kTips.size(); ++k) {
                const int tip = kTips[k];
                Kivo::PointableRecord pointable;
                pointable.id = 10 + static_cast<std::int32_t>(k);
                pointable.handId = hand.id;
                pointable.tipPosition = p[tip];
                pointable.direction = (p[tip] - p[tip - 1]).normalized();
                frame.pointables.push_back(pointable);
            }
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
