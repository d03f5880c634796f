// A controller held in a static, destroyed by the exit-time destructors while a real-time replay
// is still running and its listener-less connection is being polled: must exit cleanly.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Listener.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

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
    // A listener on a connection of its own says when frames arrive; the static connection keeps
    // none and is read between arrivals.
    struct Arrivals : Kivo::Listener {
        std::mutex mutex;
        std::condition_variable arrived;
        int count = 0;
        void handleFrame(const Kivo::Controller&) override {
            {
                std::lock_guard lock(mutex);
                ++count;
            }
            arrived.notify_all();
        }
    } arrivals;
    Kivo::Controller watcher;
    watcher.addListener(arrivals);
    std::int64_t last = -1;
    for (int seen = 1; seen <= 20; ++seen) {
        std::unique_lock lock(arrivals.mutex);
        if (!arrivals.arrived.wait_for(lock, std::chrono::seconds(20),
                                       [&] { return arrivals.count >= seen; })) {
            std::fprintf(stderr, "no frame arrived\n");
            return 1;
        }
        lock.unlock();
        const auto frame = sharedController().frame(0);
        if (frame.isValid() && frame.id() < last) {
            std::fprintf(stderr, "frame ids went backwards\n");
            return 1;
        }
        last = frame.id();
    }
    watcher.removeListener(arrivals);
    return last > 0 ? 0 : 1;  // the replay is still running when main returns
}
