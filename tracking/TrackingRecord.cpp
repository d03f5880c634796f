#include "tracking/TrackingRecord.h"

#include <algorithm>

#include "tracking/SceneMapping.h"

namespace kivo_rova {

RMatrix handMatrix(const Kivo::Hand& hand) {
    return frameFromAxes(toSceneVector(-hand.palmNormal()), toSceneVector(hand.direction()),
                         toSceneVector(hand.palmPosition()));
}

RMatrix pointableMatrix(const Kivo::Pointable& pointable) {
    return frameFromAxes(toSceneVector(pointable.direction()), RVector::yAxis,
                         toSceneVector(pointable.tipPosition()));
}

void prefetchRecord(const TrackingRecord& record) noexcept {
    const auto lines = [](const void* from, std::size_t bytes) {
        const char* at = static_cast<const char*>(from);
        for (std::size_t k = 0; k < bytes; k += 64) {
            __builtin_prefetch(at + k);
        }
        __builtin_prefetch(at + bytes - 1);
    };
    const auto within = [](std::int32_t count, int most) {
        return static_cast<std::size_t>(std::clamp(count, std::int32_t{0}, std::int32_t{most}));
    };
    lines(&record,
          sizeof record.pointableCount +
              sizeof(RMatrix) * within(record.pointableCount, TrackingRecord::kMaxPointables));
    for (int h = 0; h < std::clamp(record.handCount, 0, TrackingRecord::kMaxHands); ++h) {
        lines(&record.hands[h], sizeof(HandRecord));
    }
    lines(&record.handCount, sizeof record.handCount + sizeof record.timestamp);
}

void fillRecord(TrackingRecord& record, const Kivo::Frame& frame) {
    record.timestamp = frame.timestamp();
    record.pointableCount = 0;
    record.handCount = 0;
    for (HandRecord& hand : record.hands) {
        hand.pointableCount = 0;
    }

    const Kivo::HandList hands = frame.hands();
    for (std::int32_t h = 0; h < hands.count() && h < TrackingRecord::kMaxHands; ++h) {
        const Kivo::Hand hand = hands[h];
        HandRecord& stored = record.hands[h];
        stored.pointableCount = 0;
        stored.palm = handMatrix(hand);
        const Kivo::PointableList pointables = hand.pointables();
        for (std::int32_t j = 0; j < pointables.count() && j < HandRecord::kMaxPointables; ++j) {
            stored.pointables[j] = pointableMatrix(pointables[j]);
            ++stored.pointableCount;
        }
        ++record.handCount;
    }

    const Kivo::PointableList pointables = frame.pointables();
    for (std::int32_t i = 0; i < pointables.count() && i < TrackingRecord::kMaxPointables; ++i) {
        record.pointables[i] = pointableMatrix(pointables[i]);
        ++record.pointableCount;
    }
}

}  // namespace kivo_rova
