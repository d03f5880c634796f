// A controller held in a static, destroyed by the exit-time destructors while a real-time replay
// is still running and its listener-less connection is being polled: must exit cleanly.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

Kivo::Controller& sharedController() {
    static Kivo::Controller controller;
    return controller;
}

}  // namespace

int main() {
    sharedController().enableGesture(4);
    Kivo::ReplayOptions options;
    options.realtime = true;
    options.loop = true;
    options.speed = 4.0;
    if (auto err = Kivo::DeviceService::replay(
            std::string(KIVO_TEST_DATA) + "/generated/circle.kivo", options);
        !err.empty()) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    std::int64_t last = -1;
    while (std::chrono::steady_clock::now() < until) {
        const auto frame = sharedController().frame(0);
        if (frame.isValid() && frame.id() < last) {
            std::fprintf(stderr, "frame ids went backwards\n");
            return 1;
        }
        last = frame.id();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return last > 0 ? 0 : 1;  // the replay is still running when main returns
}
