#pragma once

// Symbols of the device library that other modules may use carry KIVO_API; everything else is
// hidden, so the host program and a loaded plug-in share exactly one device service.
#define KIVO_API __attribute__((visibility("default")))
