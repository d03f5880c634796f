#pragma once

#include <kivo/Recording.h>

#include <cstdint>
#include <string>

namespace KivoTools {

// Converts hand-skeleton data into a recording. Two layouts are read, told apart by the file's
// first character:
// - JSON ('['): [frame][21][x, y, z], metres, camera frame (y down, z away from the camera),
//   origin at the hand: wrist; thumb, index, middle, ring and little finger from knuckle to tip,
//   four joints each. The hand's travel comes from the optional image landmarks.
// - text (anything else): one frame per line, 22 joints x (x, y, z) in metres in the world frame
//   of a depth camera that faces the user (x to the user's right, y up, z away from the camera,
//   towards the user): wrist, palm centre, then the five fingers as above. The world positions
//   carry the hand's travel.
struct HandDataOptions {
    std::string landmarksPath;
    std::string imagePath;  // optional JSON [frame][21][x, y, depth], pixels: the hand's travel
    double rate = 25.0;     // frames per second of the input
    double mmPerPixel = 100.0 / 182.0;
    float height = 200.0f;  // palm height above the device at the first frame, mm
    bool rightHand = true;
    // Frames per second of the recording; 0 keeps the input's frames. Other rates sample the
    // landmarks' motion linearly between input frames.
    double resampleRate = 0.0;
    // mm: standard deviation of the Gaussian noise added to each landmark coordinate in each
    // output frame (drawn from `seed`, so a conversion is repeatable).
    float noise = 0.0f;
    std::uint64_t seed = 1;
    // s the first pose is held before the motion: for clips cut from longer sessions at the
    // start of a gesture, whose hand was in view (and still) before the clip begins.
    double hold = 0.0;
    // A frame without the hand follows the last one: the take ends as if the hand left the view
    // (what a clip cut from a longer session at its gesture's end cannot show).
    bool leave = false;
};

// Returns false and sets `error` (naming the file, the frame and the landmark) on bad input.
bool convertHandData(const HandDataOptions& options, Kivo::Recording& out, std::string& error);

}  // namespace KivoTools
