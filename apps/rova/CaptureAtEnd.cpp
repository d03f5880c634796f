#include "CaptureAtEnd.h"

#include <kivo/DeviceService.h>

#include <iostream>
#include <string>

namespace rova::app {

bool completeCaptureAtEnd() {
    const std::string error = Kivo::DeviceService::stopRecording();
    if (error.empty())
        return true;
    std::cerr << "error: capture still running at the end: " << error << std::endl;
    return false;
}

}  // namespace rova::app
