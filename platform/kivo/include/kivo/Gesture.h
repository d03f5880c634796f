#pragma once

#include <kivo/Export.h>
#include <kivo/Vector.h>

#include <cstdint>
#include <memory>

namespace Kivo {

struct FrameRecord;

// One update of a recognised gesture, as reported with a frame. A gesture that lasts several
// frames reports one update per frame under the same id: state Start first, then Update, and Stop
// last (taps report Start and Stop only). Durations are microseconds since the motion began.
// An invalid (default) gesture has type Invalid, state Invalid, id 0 and duration 0.
class KIVO_API Gesture {
  public:
    enum Type : int { Invalid = 0, Swipe = 1, Circle = 4, ScreenTap = 5, KeyTap = 6 };
    enum State : int { StateInvalid = 0, StateStart = 1, StateUpdate = 2, StateStop = 3 };

    Gesture();
    Gesture(std::shared_ptr<const FrameRecord> frame, int index);

    bool isValid() const;
    Type type() const;
    State state() const;
    std::int32_t id() const;
    // Microseconds since the gesture's motion began.
    std::int64_t duration() const;
    float durationSeconds() const;
    // Id of the frame that reported this update (0 when invalid).
    std::int64_t frameId() const;
    // Ids of the hand and pointable that made the gesture (0 when none).
    std::int32_t handId() const;
    std::int32_t pointableId() const;

    bool operator==(const Gesture& other) const;

  protected:
    std::shared_ptr<const FrameRecord> m_frame;
    int m_index = -1;
};

// Typed views: built from any Gesture; a view of a gesture of another type is invalid and its
// values are zero.
class KIVO_API SwipeGesture : public Gesture {
  public:
    explicit SwipeGesture(const Gesture& g);
    Vector startPosition() const;
    Vector position() const;
    // Unit vector from the start position towards the current one.
    Vector direction() const;
    // Millimetres per second.
    float speed() const;
};

class KIVO_API CircleGesture : public Gesture {
  public:
    explicit CircleGesture(const Gesture& g);
    Vector center() const;
    // Unit normal of the circle's plane; the motion turns counter-clockwise about it.
    Vector normal() const;
    // Millimetres.
    float radius() const;
    // Turns completed so far (1.0 is one full turn).
    float progress() const;
};

class KIVO_API ScreenTapGesture : public Gesture {
  public:
    explicit ScreenTapGesture(const Gesture& g);
    Vector position() const;
    Vector direction() const;
};

class KIVO_API KeyTapGesture : public Gesture {
  public:
    explicit KeyTapGesture(const Gesture& g);
    Vector position() const;
    Vector direction() const;
};

}  // namespace Kivo
