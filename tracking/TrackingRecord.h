#pragma once
// What the hand-tracking node's data thread hands to compute through one pool slot: the palm and
// pointable transforms of one device frame, in device space (not yet scaled, offset or related to
// the camera; see SceneMapping.h).
#include <cstdint>
#include <type_traits>

#include "device/DeviceApi.h"
#include "host/HostApi.h"

namespace kivo_rova {

// One hand: its palm and its first five pointables, in the hand's list order.
struct HandRecord {
    static constexpr int kMaxPointables = 5;

    std::int32_t pointableCount;         // valid entries of `pointables`, 0 to 5
    RMatrix pointables[kMaxPointables];  // entries past pointableCount are stale, never read
    RMatrix palm;
};

// One frame: its first fifteen pointables and first two hands, in the device's list order.
// Counts are reset for every frame; matrices past the counts keep what an earlier frame left in
// the slot and are never read.
struct TrackingRecord {
    static constexpr int kMaxPointables = 15;
    static constexpr int kMaxHands = 2;

    std::int32_t pointableCount;  // valid entries of `pointables`, 0 to 15
    RMatrix pointables[kMaxPointables + 1];
    HandRecord hands[kMaxHands];
    std::int32_t handCount;  // valid entries of `hands`, 0 to 2
    std::int64_t timestamp;  // the frame's, microseconds in the device's time base
};

// The record is the pool's slot, copied as plain bytes; its size is the slot size.
static_assert(std::is_trivially_copyable_v<TrackingRecord>);
static_assert(std::is_standard_layout_v<TrackingRecord>);
static_assert(sizeof(HandRecord) == 776);
static_assert(sizeof(TrackingRecord) == 3624);

// The device-space transform of a hand: +Y away from the palm (minus the palm normal), +Z along
// the hand's direction, placed at the palm centre.
RMatrix handMatrix(const Kivo::Hand& hand);
// The device-space transform of a pointable: +Y along it, +Z towards world up as far as its
// direction allows, placed at its tip.
RMatrix pointableMatrix(const Kivo::Pointable& pointable);

// Asks for the cache lines of what `record` holds within its counts (its timestamp, counts and
// matrices), all at once: a compute reads the record where the data thread wrote it, on another
// core, and would otherwise wait for each transform's lines in turn.
void prefetchRecord(const TrackingRecord& record) noexcept;

// Fills `record` from `frame`: its timestamp, the first two hands with their first five pointables
// each, and the frame's first fifteen pointables. Writes only the timestamp, the counts and the
// matrices within them. Any thread; allocates nothing.
void fillRecord(TrackingRecord& record, const Kivo::Frame& frame);

}  // namespace kivo_rova
