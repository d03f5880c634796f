#pragma once

#include <kivo/Recording.h>

#include <string>
#include <vector>

namespace KivoTools {

// Synthetic sessions of every interaction the device is used for, made from a simple hand model
// (millimetres, y up, hands about 200 mm above the device). Deterministic: the same name always
// gives the same recording. None carries gestures: the service recognises them on replay.
struct SessionInfo {
    std::string name;
    std::string description;
};

std::vector<SessionInfo> generatedSessions();

// Returns false and sets `error` for an unknown name.
bool generateSession(const std::string& name, Kivo::Recording& out, std::string& error);

}  // namespace KivoTools
