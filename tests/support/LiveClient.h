#pragma once
// A client of the live source's server, as the tracker page and less friendly peers talk to it:
// the WebSocket stream of landmark frames, raw bytes, HTTP requests. Every call waits on the
// connection itself (the host's answer, or its closing it).
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace kivorova::testing {

// A hand in view: the centre of its palm in the image (0..1, x to the right, y down).
struct TestHand {
    double x = 0.5;
    double y = 0.5;
    bool right = true;
};

// A page -> host frame message of an open hand, fingers up, palm to the camera, about half a
// metre away in a 640x480 image.
nlohmann::json frameJson(double timeMs, const std::vector<TestHand>& hands);
std::string frameMessage(double timeMs, const std::vector<TestHand>& hands);

class LiveClient {
  public:
    // Connects to ws://127.0.0.1:PORT/stream (from `fromAddress` when given) and reads the host's
    // first message: a welcome, or a refusal.
    explicit LiveClient(unsigned short port, const std::string& fromAddress = "");
    ~LiveClient();
    LiveClient(const LiveClient&) = delete;
    LiveClient& operator=(const LiveClient&) = delete;

    const nlohmann::json& first() const;
    void send(const std::string& text);
    void sendBinary(const std::string& bytes);
    // The host's next message that is not a status message.
    nlohmann::json next();
    nlohmann::json sendAwaitingReply(const std::string& text) {
        send(text);
        return next();
    }
    // Reads until the host closes the stream; its close code (0: no close message came).
    int awaitClose();
    // Ends the connection without a close message, as a crashed page would.
    void vanish();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A connection that sends `bytes` and then nothing more, closed when destroyed.
class RawConnection {
  public:
    RawConnection(unsigned short port, const std::string& bytes,
                  const std::string& fromAddress = "");
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    // All the host sends until it closes the connection.
    std::string readToEnd();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Connects (from `fromAddress` when given), writes `bytes` and returns all the host sends until
// it closes the connection.
std::string rawExchange(unsigned short port, const std::string& bytes,
                        const std::string& fromAddress = "");
// GET (or another method) of `target`, the connection closed after it: the whole response.
std::string httpRequest(unsigned short port, const std::string& target,
                        const std::string& method = "GET", const std::string& headers = "");
// An IPv4 address of this machine other than the loopback ones; empty when it has none.
std::string nonLoopbackAddress();

}  // namespace kivorova::testing
