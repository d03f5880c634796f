#pragma once
// The live source: a server on the loopback address that serves the tracker page over HTTP and
// takes one WebSocket stream of landmark frames (/stream), which it converts into device frames
// and delivers to the device service as they arrive. All network I/O runs on the server's own
// thread; nothing here waits for a client.
#include <kivo_tools/Landmarks.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace KivoLive {

inline constexpr unsigned short kDefaultPort = 8765;
// The largest page -> host message; a larger one closes the stream (WebSocket close code 1009).
inline constexpr std::size_t kMaxMessageBytes = 256 * 1024;

struct ListenOptions {
    std::filesystem::path root;          // the page's folder: nothing outside it is served
    unsigned short port = kDefaultPort;  // 0: any free port
    std::size_t maxMessageBytes = kMaxMessageBytes;
    // An HTTP request or WebSocket handshake must be complete within this time.
    std::chrono::milliseconds handshakeTimeout{10'000};
    // A stream silent this long is pinged; one that stays silent as long again is closed.
    std::chrono::milliseconds idleTimeout{15'000};
    // Messages waiting for a slow client; past it the oldest poses and status messages go first.
    std::size_t sendQueueLimit = 64;
    KivoTools::CameraModel camera;
};

// Starts listening on 127.0.0.1 and makes the stream the device service's source (the device
// plugs in). Stopping the device service's source (DeviceService::stop(), another source, reset)
// stops the server. Returns "" or a one-line message: "listen: ..." (the port is taken, the root
// is not a folder, a server is already listening).
std::string listen(const ListenOptions& options);

// The port the running server is bound to; 0 when none is listening.
unsigned short port();

// Queues a text message for the streaming client and returns at once, from any thread. False when
// no client is streaming. A client that reads too slowly loses the oldest queued poses first.
bool sendToClient(std::string text);

// Messages dropped for slow clients since listening began.
std::uint64_t droppedMessages();

// A number that grows each time a client starts streaming (0 before the first): whoever sends
// state the page builds on (the scene for the pose view) sends all of it again when it changes.
std::uint64_t clientSerial();

// Called, on the server's thread, when the streaming page asks the host to stop what it performs
// ({"type":"stop"}; the live play). Replaces the previous handler; an empty one ignores requests.
void onStopRequest(std::function<void()> handler);

}  // namespace KivoLive
