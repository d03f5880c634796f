#pragma once

#include <kivo/Recording.h>

#include <cstdint>
#include <deque>
#include <map>

namespace Kivo::detail {

class ConfigStore;

struct RecognizerSettings;

// The thresholds' initial values.
struct RecognizerDefaults {
    bool enabled = true;
    float swipeMinLength = 120.0f;       // mm
    float swipeMinSpeed = 700.0f;        // mm/s
    float circleMinRadius = 10.0f;       // mm
    float circleMinTurns = 0.75f;        // turns
    float circleMinSpeed = 60.0f;        // mm/s
    float screenTapMinDistance = 12.0f;  // mm
    float screenTapMinSpeed = 120.0f;    // mm/s
    float keyTapMinDistance = 10.0f;     // mm
    float keyTapMinSpeed = 120.0f;       // mm/s
    float tapMaxDuration = 0.4f;         // s
    float tapMaxLateralRatio = 0.35f;
};

struct RecognizerSettings : RecognizerDefaults {
    static RecognizerSettings fromConfig(const ConfigStore& store);
};

// Recognises swipes, circles, screen taps and key taps in the motion of each hand's pointing
// finger (the pointable reaching farthest along the hand's direction). Deterministic: the same
// frames after a reset give the same gestures with the same ids.
class Recognizer {
  public:
    void reset();
    // Appends the gesture updates this frame completes to `frame.gestures`.
    void process(FrameRecord& frame, const RecognizerSettings& settings);

  private:
    struct Sample {
        std::int64_t t = 0;
        Vector p;
    };
    struct Tap {
        bool moving = false;
        Sample start;
        float maxLateral = 0.0f;
        bool pendingStop = false;
        GestureRecord pending;
    };
    struct Track {
        std::int32_t handId = 0;
        std::int32_t pointerId = 0;
        std::deque<Sample> samples;  // recent pointer tips
        std::deque<Sample> path;     // the current uninterrupted motion
        // swipe: 0 idle, 1 candidate, 2 active
        int swipePhase = 0;
        Sample swipeStart;
        GestureRecord swipe;
        bool circleActive = false;
        GestureRecord circle;
        Vector circleLastRadial;
        std::int64_t circleStartTime = 0;
        Tap screenTap;
        Tap keyTap;
    };

    void stopAll(Track& track, FrameRecord& frame);
    void updateSwipe(Track& tr, const Sample& s, const Vector& v, const RecognizerSettings& cfg,
                     FrameRecord& frame);
    void updateCircle(Track& tr, const Sample& s, float speed, const RecognizerSettings& cfg,
                      FrameRecord& frame);
    void updateTap(Track& tr, Tap& tap, int type, const Vector& axis, float minDistance,
                   float minSpeed, const Sample& s, const Vector& v, const RecognizerSettings& cfg,
                   FrameRecord& frame);

    std::map<std::int32_t, Track> m_tracks;  // by hand id
    std::int32_t m_nextId = 1;
};

}  // namespace Kivo::detail
