// kivo-stream: streams recorded landmark frames (one page -> host message per line) to a
// listening rova, as the tracker page would, and prints what the host answers.
#include <kivo_live/Live.h>

#include <kivo_tools/ToolExit.h>
#include <CLI/CLI.hpp>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// The host sends its status this often; a stream waits at most kDrainLimit for the answers to
// its last messages.
constexpr auto kHostStatusPeriod = std::chrono::seconds(1);
constexpr auto kDrainLimit = std::chrono::seconds(5);

struct Message {
    std::string text;
    std::optional<double> timeMs;  // a frame's capture time; the others go at once
};

class Streamer {
  public:
    Streamer(std::vector<Message> messages, bool fast, bool hold, bool now)
        : m_messages(std::move(messages)), m_fast(fast), m_hold(hold), m_now(now) {}

    int run(unsigned short port) {
        beast::error_code ec;
        beast::get_lowest_layer(m_ws).connect(tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                              ec);
        if (!ec)
            m_ws.handshake("127.0.0.1:" + std::to_string(port), "/stream", ec);
        if (ec) {
            std::cerr << "kivo-stream: cannot stream to 127.0.0.1:" << port << ": " << ec.message()
                      << "\n";
            return 1;
        }
        m_ws.text(true);
        read();
        m_start = std::chrono::steady_clock::now();
        sendNext();
        m_ioc.run();
        std::cerr << "kivo-stream: sent " << m_sent << " of " << m_messages.size() << " messages, "
                  << m_refused << " refused\n";
        return m_sent == m_messages.size() && !m_failed && m_refused == 0 ? 0 : 1;
    }

  private:
    void read() {
        m_ws.async_read(m_buffer, [this](beast::error_code ec, std::size_t) {
            if (ec) {
                closed(ec);
                return;
            }
            const std::string text = beast::buffers_to_string(m_buffer.cdata());
            m_buffer.consume(m_buffer.size());
            const auto message = nlohmann::json::parse(text, nullptr, false);
            const std::string type = message.is_object() ? message.value("type", "") : "";
            if (type == "refused")
                ++m_refused;
            if (type != "status")
                std::cout << text << std::endl;
            // A status sent a whole period after the last message went out comes after the
            // host's answers to every message: the stream may close.
            if (type == "status" && m_draining &&
                std::chrono::steady_clock::now() - m_lastSent >= kHostStatusPeriod) {
                finish();
            }
            read();
        });
    }

    void closed(beast::error_code ec) {
        m_timer.cancel();
        if (m_closing)
            return;
        if (m_sent < m_messages.size() || !m_hold) {
            std::cerr << "kivo-stream: the host closed the stream"
                      << (m_ws.reason().reason.empty()
                              ? std::string()
                              : ": " + std::string(m_ws.reason().reason.c_str()))
                      << " (" << ec.message() << ")\n";
            m_failed = m_sent < m_messages.size();
        }
    }

    void sendNext() {
        if (m_sent == m_messages.size()) {
            if (!m_hold) {
                // The host answers the last messages after they went out: its answers are
                // awaited (a refusal must be counted), at most kDrainLimit.
                m_draining = true;
                m_lastSent = std::chrono::steady_clock::now();
                m_timer.expires_after(kDrainLimit);
                m_timer.async_wait([this](beast::error_code ec) {
                    if (!ec)
                        finish();
                });
            }
            return;
        }
        const Message& message = m_messages[m_sent];
        if (!m_fast && message.timeMs) {
            if (!m_firstTime)
                m_firstTime = message.timeMs;
            const auto due =
                m_start +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double, std::milli>(*message.timeMs - *m_firstTime));
            if (due > std::chrono::steady_clock::now()) {
                m_timer.expires_at(due);
                m_timer.async_wait([this](beast::error_code ec) {
                    if (!ec)
                        write();
                });
                return;
            }
        }
        write();
    }

    void finish() {
        if (m_closing)
            return;
        m_closing = true;
        m_draining = false;
        m_timer.cancel();
        m_ws.async_close(websocket::close_code::normal, [](beast::error_code) {});
    }

    void write() {
        Message& message = m_messages[m_sent];
        if (m_now && message.timeMs) {
            // Captured now, on this machine's clock, as a live page's frames are.
            auto json = nlohmann::json::parse(message.text);
            json["time"] = std::chrono::duration<double, std::milli>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
            message.text = json.dump();
        }
        m_ws.async_write(asio::buffer(message.text), [this](beast::error_code ec, std::size_t) {
            if (ec)
                return;  // the read reports why
            ++m_sent;
            sendNext();
        });
    }

    std::vector<Message> m_messages;
    bool m_fast;
    bool m_hold;
    bool m_now;
    asio::io_context m_ioc;
    websocket::stream<beast::tcp_stream> m_ws{m_ioc};
    asio::steady_timer m_timer{m_ioc};
    beast::flat_buffer m_buffer;
    std::chrono::steady_clock::time_point m_start;
    std::optional<double> m_firstTime;
    std::size_t m_sent = 0;
    std::size_t m_refused = 0;
    bool m_closing = false;
    bool m_failed = false;
    bool m_draining = false;
    std::chrono::steady_clock::time_point m_lastSent;
};

}  // namespace

static int run(int argc, char** argv) {
    CLI::App app{
        "Streams landmark frames to a listening rova (device -listen) as the tracker page does: "
        "each line of FRAMES is one message, sent at its recorded capture time (\"time\", ms) "
        "unless --fast. Prints the host's messages but its status, one per line; after the last "
        "message, waits (up to 5 s) for the host's answers. Exits 1 when a message was not sent "
        "or the host refused one."};
    std::string path;
    unsigned short port = KivoLive::kDefaultPort;
    bool fast = false;
    bool hold = false;
    bool now = false;
    app.add_option("frames", path, "JSON lines: page -> host messages")
        ->required()
        ->check(CLI::ExistingFile);
    app.add_option("--port", port, "the port rova listens on")->capture_default_str();
    app.add_flag("--fast", fast, "send every message at once, without the recorded timing");
    app.add_flag("--hold", hold,
                 "stay connected after the last message until the host closes the stream");
    app.add_flag("--now", now,
                 "give each frame the time it is sent as its capture time (the host then measures "
                 "its latency as for a live page)");
    CLI11_PARSE(app, argc, argv);

    std::ifstream in(path, std::ios::binary);
    std::vector<Message> messages;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line == "\r")
            continue;
        Message message{line, std::nullopt};
        const auto json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_object() && json.contains("time") && json["time"].is_number())
            message.timeMs = json["time"].get<double>();
        messages.push_back(std::move(message));
    }
    if (in.bad()) {
        std::cerr << "kivo-stream: cannot read " << path << "\n";
        return 1;
    }
    return Streamer(std::move(messages), fast, hold, now).run(port);
}

int main(int argc, char** argv) {
    return KivoTools::exitAfterOutput("kivo-stream", run(argc, argv));
}
