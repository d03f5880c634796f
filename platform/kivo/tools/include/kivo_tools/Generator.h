#pragma once

#include <kivo/Recording.h>

#include <cstdint>
#include <string>
#include <vector>

namespace KivoTools {

// Synthetic sessions of every interaction the device is used for, made from a simple hand model
// (millimetres, y up, hands about 200 mm above the device). Deterministic: the same name, take and
// seed always give the same recording. None carries gestures: the service recognises them on
// replay.
struct SessionInfo {
    std::string name;
    std::string description;
    // What the recogniser must report for the session: "swipe", "circle", "screen-tap",
    // "key-tap", or "none" for a session in which no gesture was made.
    std::string gesture;
};

std::vector<SessionInfo> generatedSessions();

// Take 0 is the session's canonical form (60 frames per second, no noise): what
// data/recordings/generated holds. Any other take is a human-like variant drawn from `seed` and
// `take`: speeds, sizes, directions, timing, frame rate (25, 30 or 60 per second), hand position,
// handedness where it does not matter, and up to 1.5 mm of landmark noise, each within the range
// that keeps the session's meaning (a swipe stays a swipe, a wiggle stays no gesture).
//
// Returns false and sets `error` for an unknown name.
bool generateSession(const std::string& name, Kivo::Recording& out, std::string& error,
                     std::uint32_t take = 0, std::uint64_t seed = 1);

}  // namespace KivoTools
