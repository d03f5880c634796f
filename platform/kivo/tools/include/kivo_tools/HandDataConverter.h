#pragma once

#include <kivo/Recording.h>

#include <string>

namespace KivoTools {

// Converts hand-skeleton data (21 landmarks per frame: wrist; thumb, index, middle, ring and
// little finger from knuckle to tip, four joints each) into a recording.
struct HandDataOptions {
    std::string landmarksPath;  // JSON [frame][21][x, y, z], metres, y down, origin at the hand
    std::string imagePath;      // optional JSON [frame][21][x, y, depth], pixels: the hand's travel
    double rate = 25.0;         // frames per second
    double mmPerPixel = 100.0 / 182.0;
    float height = 200.0f;  // palm height above the device at the first frame, mm
    bool rightHand = true;
};

// Returns false and sets `error` (naming the file, the frame and the landmark) on bad input.
bool convertHandData(const HandDataOptions& options, Kivo::Recording& out, std::string& error);

}  // namespace KivoTools
