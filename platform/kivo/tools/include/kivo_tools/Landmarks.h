#pragma once

#include <kivo/Recording.h>
#include <kivo/Vector.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace KivoTools {

// A camera hand tracker's landmarks: wrist; thumb, index, middle, ring and little finger from
// base to tip, four each.
inline constexpr std::size_t kHandLandmarks = 21;

struct LandmarkHand {
    bool right = true;   // handedness "Right"
    float score = 1.0f;  // 0..1
    // x, y in 0..1 of the image as shown (x to the right, y down), z relative depth (smaller is
    // nearer the camera).
    std::array<Kivo::Vector, kHandLandmarks> image{};
    // Metres, origin near the hand's centre, x to the right as shown, y down, z away from the
    // camera.
    std::array<Kivo::Vector, kHandLandmarks> world{};
};

struct LandmarkFrame {
    double timeMs = 0.0;  // capture time, milliseconds
    int width = 0;        // pixels of the camera image
    int height = 0;
    bool mirrored = false;  // the image is shown mirrored (the landmarks describe it as shown)
    std::vector<LandmarkHand> hands;
};

// The limits the reader holds a message to.
inline constexpr std::size_t kMaxLandmarkHands = 2;
inline constexpr int kMaxImageSide = 16384;  // pixels
// Image landmarks may lie somewhat outside the image (a hand partly out of view), not far.
inline constexpr double kMinImageCoordinate = -1.0;
inline constexpr double kMaxImageCoordinate = 2.0;
inline constexpr double kMaxImageDepth = 10.0;      // |z| of image landmarks, in image widths
inline constexpr double kMaxWorldCoordinate = 1.0;  // |coordinate| of world landmarks, metres

// One page -> host message. Returns false with `error` naming the field at fault
// ("hands[1].world[3][2]: expected a finite number") for anything malformed: not JSON, wrong
// type, wrong landmark count, NaN/inf, absurd values, more than 2 hands, unknown "type".
// A "hello" message parses to `hello = true` and no frame.
bool parseLandmarkMessage(std::string_view text, LandmarkFrame& out, bool& hello,
                          std::string& error);

// Where the camera sees from and what hand it assumes: Kivo config keys (32-bit floats), each
// documented with unit and default (docs/camera.md).
struct CameraModel {
    float fieldOfView = 60.0f;  // camera.fov, degrees, horizontal
    float handSize = 95.0f;     // camera.hand_size, mm, wrist to the middle finger's knuckle
    float distance =
        500.0f;             // camera.distance, mm from the camera to the interaction space's centre
    float height = 250.0f;  // camera.height, mm above the device of the image's centre line
};

// One hand's 21 landmarks in the device's frame (mm, x to the right, y up, z towards the
// performer) to its hand record and its five pointables (thumb to little finger, ids
// handId * 10 + 0..4), appended to `frame`. Returns false, appending nothing, when the palm is
// degenerate (wrist and knuckles coincide).
bool appendHand(const std::array<Kivo::Vector, kHandLandmarks>& points, bool right,
                std::int32_t handId, Kivo::FrameRecord& frame);

class LandmarkConverter {
  public:
    explicit LandmarkConverter(const CameraModel& model = {});
    // The device frame for one camera frame: palm position, normal and direction, five pointables
    // (tip, direction, length) per hand, at most two hands; ids stable while a hand stays tracked,
    // a new id when it is lost and found again; timestamp in microseconds from `timeMs`
    // (relative to the first frame converted). Device space: mm, x to the right as shown, y up,
    // z towards the performer (a hand moving towards the camera moves to -z, towards the screen).
    Kivo::FrameRecord convert(const LandmarkFrame& frame);
    void reset();

    // The hand's 21 landmarks in the device's frame, or false when its shape is degenerate.
    bool devicePoints(const LandmarkFrame& frame, const LandmarkHand& hand,
                      std::array<Kivo::Vector, kHandLandmarks>& out) const;

    const CameraModel& model() const { return m_model; }

  private:
    struct Tracked {
        std::int32_t id = 0;
        bool right = true;
        Kivo::Vector palm;
    };

    CameraModel m_model;
    bool m_started = false;
    double m_firstMs = 0.0;
    std::int64_t m_lastTimestamp = 0;
    std::int64_t m_frameId = 0;
    std::int32_t m_nextHandId = 1;
    std::vector<Tracked> m_tracked;
};

}  // namespace KivoTools
