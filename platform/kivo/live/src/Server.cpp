#include "PageFiles.h"

#include <kivo/DeviceService.h>
#include <kivo_live/Live.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <charconv>
#include <cmath>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace KivoLive {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr int kProtocolVersion = 1;
// HTTP requests carry no body worth reading; their headers are small.
constexpr std::uint32_t kHttpHeaderLimit = 8 * 1024;
constexpr std::uint64_t kHttpBodyLimit = 4 * 1024;
// How long a stopping server waits for the streaming client to take its close message.
constexpr auto kCloseGrace = std::chrono::milliseconds(250);
constexpr auto kStatusPeriod = std::chrono::seconds(1);
// The most one read of the stream takes in at a time.
constexpr std::size_t kReadChunk = 64 * 1024;
// Beast refuses a frame whose header announces more than this many times the message limit
// outright; smaller ones are read in parts and refused at the limit.
constexpr std::size_t kFrameLimitFactor = 16;

std::string jsonText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A request target as it may appear in a message: printable, and not too long.
std::string printable(std::string_view text) {
    constexpr std::size_t kMax = 80;
    std::string out;
    for (const char c : text.substr(0, kMax)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (text.size() > kMax)
        out += "...";
    return out;
}

std::string_view pathOf(std::string_view target) {
    return target.substr(0, target.find_first_of("?#"));
}

std::string endpointText(const tcp::endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

struct Outgoing {
    std::string text;
    bool droppable = false;  // poses and status: a newer one replaces what a slow client missed
};

class StreamSession;

// The page's stop button, for the host's live play; defined with the process's server below.
void requestStop();
// Grows each time a client starts streaming.
std::atomic<std::uint64_t> g_clientSerial{0};

// Whether a page -> host message is {"type":"stop"}: looked for in the text first, so frames are
// not parsed twice.
bool isStopRequest(std::string_view text) {
    if (text.find("\"stop\"") == std::string_view::npos)
        return false;
    const auto json = nlohmann::json::parse(text, nullptr, false);
    return json.is_object() && json.size() == 1 && json.contains("type") && json["type"] == "stop";
}

class Server : public std::enable_shared_from_this<Server> {
  public:
    Server(ListenOptions options, std::filesystem::path root)
        : m_options(std::move(options)), m_root(std::move(root)) {}
    ~Server() { shutdown(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::string bind();
    void run(std::uint64_t session);
    // Stops the server and waits for its thread; any thread but the server's own.
    void shutdown();

    bool stopped() const { return m_stopped.load(std::memory_order_acquire); }
    unsigned short port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    const ListenOptions& options() const { return m_options; }
    const std::filesystem::path& root() const { return m_root; }
    std::uint64_t session() const { return m_session; }
    std::uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

    // Any thread.
    bool enqueue(Outgoing message);

    // The server's thread.
    void refuse(const std::string& reason) { Kivo::DeviceService::liveRefused(m_session, reason); }
    bool hasClient() const { return m_client != nullptr; }
    void adopt(const std::shared_ptr<StreamSession>& client);
    void release(const StreamSession* client);
    bool takeNext(std::string& text);

  private:
    void accept();
    void scheduleStatus();
    void sendStatus();

    const ListenOptions m_options;
    const std::filesystem::path m_root;
    // The server's I/O, let go of once its thread has ended: what the pending handlers hold
    // (every connection) closes with it.
    struct Io {
        asio::io_context ioc{1};
        tcp::acceptor acceptor{ioc};
        asio::steady_timer statusTimer{ioc};
        asio::steady_timer stopTimer{ioc};
    };
    std::unique_ptr<Io> m_io = std::make_unique<Io>();
    std::thread m_thread;
    std::mutex m_shutdownMutex;
    std::atomic<bool> m_stopped{false};
    unsigned short m_port = 0;
    std::uint64_t m_session = 0;

    std::shared_ptr<StreamSession> m_client;  // the server's thread only

    std::mutex m_outMutex;
    std::deque<Outgoing> m_outbox;
    bool m_hasClient = false;  // m_outMutex
    bool m_pumpPosted = false;
    std::atomic<std::uint64_t> m_dropped{0};
};

// ---------------------------------------------------------------------------------------------
// The one WebSocket client (or a second one, told so and closed)

class StreamSession : public std::enable_shared_from_this<StreamSession> {
  public:
    StreamSession(Server& server, tcp::socket&& socket, std::string peer)
        : m_server(server),
          m_ws(std::move(socket)),
          m_peer(std::move(peer)),
          m_converter(server.options().camera) {}

    void start(http::request<http::empty_body> request) {
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = m_server.options().handshakeTimeout;
        timeout.idle_timeout = m_server.options().idleTimeout / 2;
        timeout.keep_alive_pings = true;
        m_ws.set_option(timeout);
        // The limit is kept by received(); this only bounds what one read may take in.
        m_ws.read_message_max(m_server.options().maxMessageBytes * kFrameLimitFactor);
        m_ws.async_accept(
            request, [self = shared_from_this()](beast::error_code ec) { self->accepted(ec); });
    }

    // Writes the next queued message unless one is on its way.
    void pump() {
        if (m_writing || !m_active || m_closing)
            return;
        if (!m_server.takeNext(m_current))
            return;
        m_writing = true;
        m_ws.text(true);
        m_ws.async_write(asio::buffer(m_current),
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->m_writing = false;
                             if (self->m_pendingClose) {
                                 auto close = std::move(self->m_pendingClose);
                                 self->m_pendingClose = nullptr;
                                 if (!ec)
                                     self->writeThenClose(std::move(close));
                                 return;
                             }
                             if (!ec)
                                 self->pump();  // a failed write ends the read as well
                         });
    }

    // The server stops: a close message, then `done`.
    template <typename Done>
    void closeGoingAway(Done done) {
        m_pendingClose = nullptr;
        m_active = false;
        m_closing = true;
        m_ws.async_close(websocket::close_code::going_away,
                         [self = shared_from_this(), done](beast::error_code) { done(); });
    }

  private:
    using Then = std::function<void(beast::error_code, std::size_t)>;

    void writeThenClose(Then close) {
        m_writing = true;
        m_ws.text(true);
        m_ws.async_write(asio::buffer(m_current), std::move(close));
    }

    void accepted(beast::error_code ec) {
        if (ec) {
            m_server.refuse("WebSocket handshake from " + m_peer + " failed: " + ec.message());
            return;
        }
        if (m_server.hasClient()) {
            const std::string reason = "another client is streaming";
            m_server.refuse(reason + " (" + m_peer + " refused)");
            m_current = jsonText({{"type", "refused"}, {"reason", reason}, {"refused", 1}});
            m_ws.text(true);
            m_ws.async_write(asio::buffer(m_current),
                             [self = shared_from_this()](beast::error_code error, std::size_t) {
                                 if (error)
                                     return;
                                 self->m_ws.async_close(websocket::close_code::try_again_later,
                                                        [self](beast::error_code) {});
                             });
            return;
        }
        m_active = true;
        m_server.adopt(shared_from_this());
        Kivo::DeviceService::liveClient(m_server.session(), m_peer);
        m_server.enqueue({jsonText({{"type", "welcome"},
                                    {"version", kProtocolVersion},
                                    {"maxMessageBytes", m_server.options().maxMessageBytes}}),
                          false});
        read();
    }

    // A message is read in parts, so that one over the limit is refused (with a message the
    // client reads before the close) without ever being held whole.
    void read() {
        m_ws.async_read_some(
            m_buffer, kReadChunk,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->received(ec); });
    }

    void received(beast::error_code ec) {
        if (ec) {
            ended(ec);
            return;
        }
        if (!m_active)
            return;
        if (m_buffer.size() > m_server.options().maxMessageBytes) {
            oversized();
            return;
        }
        if (!m_ws.is_message_done()) {
            read();
            return;
        }
        if (!m_ws.got_text()) {
            refuseMessage("a binary message: the stream takes JSON text");
        } else {
            const auto data = m_buffer.cdata();
            handle(std::string_view(static_cast<const char*>(data.data()), data.size()));
        }
        m_buffer.consume(m_buffer.size());
        read();
    }

    // The client is let go first, so that it may reconnect as soon as it reads the close.
    void oversized() {
        ++m_refused;
        const std::string reason = "a message over the limit of " +
                                   std::to_string(m_server.options().maxMessageBytes) +
                                   " bytes (the stream was closed)";
        m_server.refuse(reason);
        m_active = false;
        m_server.release(this);
        m_buffer.consume(m_buffer.size());
        m_closing = true;
        m_current = jsonText({{"type", "refused"}, {"reason", reason}, {"refused", m_refused}});
        auto close = [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error)
                return;
            self->m_ws.async_close(websocket::close_code::too_big, [self](beast::error_code) {});
        };
        if (m_writing) {
            // A write is on its way: the refusal follows it.
            m_pendingClose = close;
            return;
        }
        m_writing = true;
        m_ws.text(true);
        m_ws.async_write(asio::buffer(m_current), close);
    }

    void handle(std::string_view text) {
        KivoTools::LandmarkFrame frame;
        bool hello = false;
        std::string error;
        try {
            if (isStopRequest(text)) {
                requestStop();
                return;
            }
            if (!KivoTools::parseLandmarkMessage(text, frame, hello, error)) {
                refuseMessage(error);
                return;
            }
            if (hello)
                return;
            if (m_lastTime && !(frame.timeMs > *m_lastTime)) {
                refuseMessage("time " + number(frame.timeMs) +
                              " is not after the previous frame's " + number(*m_lastTime));
                return;
            }
            m_lastTime = frame.timeMs;
            Kivo::DeviceService::deliverLive(m_server.session(), m_converter.convert(frame),
                                             frame.timeMs);
        } catch (const std::exception& e) {
            refuseMessage(std::string("the frame could not be converted: ") + e.what());
        }
    }

    static std::string number(double value) {
        std::array<char, 32> text{};
        const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
        return std::string(text.data(), end);
    }

    void refuseMessage(const std::string& reason) {
        ++m_refused;
        m_server.refuse(reason);
        m_server.enqueue(
            {jsonText({{"type", "refused"}, {"reason", reason}, {"refused", m_refused}}), false});
    }

    // The stream is over: the client closed it, vanished, or broke the protocol.
    void ended(beast::error_code ec) {
        m_pendingClose = nullptr;
        if (!m_active)
            return;
        m_active = false;
        if (ec == websocket::error::message_too_big) {
            m_server.refuse("a message over the limit of " +
                            std::to_string(m_server.options().maxMessageBytes) +
                            " bytes (the stream was closed)");
        } else if (ec == beast::error::timeout) {
            m_server.refuse("the client " + m_peer + " stopped answering (the stream was closed)");
        } else if (ec != websocket::error::closed && ec != asio::error::eof &&
                   ec != asio::error::connection_reset && ec != asio::error::operation_aborted &&
                   ec != asio::error::broken_pipe) {
            m_server.refuse("not a WebSocket stream from " + m_peer + ": " + ec.message() +
                            " (the stream was closed)");
        }
        m_server.release(this);
    }

    Server& m_server;
    websocket::stream<beast::tcp_stream> m_ws;
    beast::flat_buffer m_buffer;
    std::string m_peer;
    std::string m_current;  // the message being written
    bool m_writing = false;
    bool m_active = false;  // the server's streaming client
    bool m_closing = false;
    Then m_pendingClose;  // the close after the oversized message's refusal
    std::uint64_t m_refused = 0;
    std::optional<double> m_lastTime;
    KivoTools::LandmarkConverter m_converter;
};

// ---------------------------------------------------------------------------------------------
// HTTP: the page's files, and the way into /stream

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(Server& server, tcp::socket&& socket, std::string peer)
        : m_server(server),
          m_stream(std::move(socket)),
          m_firstRequestDeadline(m_stream.get_executor()),
          m_peer(std::move(peer)) {}

    void read() {
        m_parser.emplace();
        m_parser->header_limit(kHttpHeaderLimit);
        m_parser->body_limit(kHttpBodyLimit);
        if (m_requests == 0) {
            // The first request's deadline is our own timer rather than the stream's: the
            // stream closes the socket before its handler runs, so the peer would see the close
            // before the refusal is on record.
            m_stream.expires_never();
            m_firstRequestDeadline.expires_after(m_server.options().handshakeTimeout);
            m_firstRequestDeadline.async_wait([self = shared_from_this()](beast::error_code ec) {
                if (ec || self->m_readEnded)
                    return;  // cancelled, or the read ended as the timer's handler was queued
                self->m_server.refuse("no HTTP request from " + self->m_peer + " in time");
                self->close();
            });
        } else {
            m_stream.expires_after(m_server.options().handshakeTimeout);
        }
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->received(ec); });
    }

  private:
    void received(beast::error_code ec) {
        m_readEnded = true;
        m_firstRequestDeadline.cancel();
        if (ec == http::error::end_of_stream || ec == asio::error::eof ||
            ec == asio::error::connection_reset || ec == asio::error::operation_aborted) {
            close();
            return;
        }
        if (ec == websocket::error::message_too_big) {
            m_server.refuse("a message over the limit of " +
                            std::to_string(m_server.options().maxMessageBytes) +
                            " bytes (the stream was closed)");
        } else if (ec == beast::error::timeout) {
            close();
            return;
        }
        if (ec) {
            m_server.refuse("not an HTTP request from " + m_peer + ": " + ec.message());
            close();
            return;
        }
        ++m_requests;
        http::request<http::empty_body> request = m_parser->release();
        const bool stream = pathOf(request.target()) == "/stream";
        if (websocket::is_upgrade(request) && stream) {
            m_stream.expires_never();
            std::make_shared<StreamSession>(m_server, m_stream.release_socket(), m_peer)
                ->start(std::move(request));
            return;
        }
        if (stream) {
            m_server.refuse("an HTTP request for /stream without a WebSocket handshake from " +
                            m_peer);
            respond(request, http::status::upgrade_required,
                    "/stream takes a WebSocket connection\n");
            return;
        }
        serve(request);
    }

    void serve(const http::request<http::empty_body>& request) {
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            respond(request, http::status::method_not_allowed, "only GET and HEAD\n");
            return;
        }
        const auto file = detail::resolvePageFile(m_server.root(), request.target());
        if (file.kind == detail::PageFile::Kind::Refused) {
            m_server.refuse("HTTP " + printable(request.target()) + ": " + file.reason);
            respond(request, http::status::forbidden, "refused: " + file.reason + "\n");
            return;
        }
        if (file.kind == detail::PageFile::Kind::NotFound) {
            respond(request, http::status::not_found, "not found\n");
            return;
        }
        beast::error_code ec;
        http::file_body::value_type body;
        body.open(file.path.c_str(), beast::file_mode::scan, ec);
        if (ec) {
            respond(request, http::status::not_found, "not found\n");
            return;
        }
        const std::uint64_t size = body.size();
        const auto type = detail::contentType(file.path);
        if (const auto range = request.find(http::field::range); range != request.end()) {
            serveRange(request, std::move(body), size, type, range->value());
            return;
        }
        if (request.method() == http::verb::head) {
            http::response<http::empty_body> response{http::status::ok, request.version()};
            headers(response, request, type);
            response.content_length(size);
            send(std::move(response));
            return;
        }
        http::response<http::file_body> response{
            std::piecewise_construct, std::make_tuple(std::move(body)),
            std::make_tuple(http::status::ok, request.version())};
        headers(response, request, type);
        response.content_length(size);
        send(std::move(response));
    }

    // One range, "bytes=A-B", "bytes=A-" or "bytes=-N": what a video element asks for to seek.
    void serveRange(const http::request<http::empty_body>& request,
                    http::file_body::value_type body, std::uint64_t size, std::string_view type,
                    std::string_view spec) {
        std::uint64_t first = 0;
        std::uint64_t last = size == 0 ? 0 : size - 1;
        bool valid = spec.starts_with("bytes=") && size > 0;
        if (valid) {
            spec.remove_prefix(6);
            const auto dash = spec.find('-');
            valid = dash != std::string_view::npos && spec.find(',') == std::string_view::npos;
            if (valid) {
                const auto a = spec.substr(0, dash);
                const auto b = spec.substr(dash + 1);
                auto parse = [](std::string_view text, std::uint64_t& out) {
                    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
                    return !text.empty() && r.ec == std::errc{} &&
                           r.ptr == text.data() + text.size();
                };
                std::uint64_t n = 0;
                if (a.empty()) {
                    valid = parse(b, n) && n > 0;
                    first = valid ? size - std::min(n, size) : 0;
                } else {
                    valid = parse(a, first) && (b.empty() || parse(b, n));
                    if (valid && !b.empty())
                        last = std::min(n, size - 1);
                    valid = valid && first <= last;
                }
            }
        }
        if (!valid) {
            http::response<http::string_body> response{http::status::range_not_satisfiable,
                                                       request.version()};
            headers(response, request, "text/plain; charset=utf-8");
            response.set(http::field::content_range, "bytes */" + std::to_string(size));
            response.prepare_payload();
            send(std::move(response));
            return;
        }
        std::string part(static_cast<std::size_t>(last - first + 1), '\0');
        beast::error_code ec;
        body.file().seek(first, ec);
        std::size_t got = 0;
        while (!ec && got < part.size()) {
            const std::size_t n = body.file().read(part.data() + got, part.size() - got, ec);
            if (n == 0)
                break;
            got += n;
        }
        part.resize(got);
        http::response<http::string_body> response{http::status::partial_content,
                                                   request.version()};
        headers(response, request, type);
        response.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(first + got - 1) + "/" +
                                                     std::to_string(size));
        if (request.method() == http::verb::head) {
            response.content_length(got);
        } else {
            response.body() = std::move(part);
            response.prepare_payload();
        }
        send(std::move(response));
    }

    template <typename Body>
    void headers(http::response<Body>& response, const http::request<http::empty_body>& request,
                 std::string_view type) {
        response.set(http::field::content_type, type);
        response.set(http::field::accept_ranges, "bytes");
        response.set(http::field::cache_control, "no-cache");
        response.keep_alive(request.keep_alive());
    }

    void respond(const http::request<http::empty_body>& request, http::status status,
                 std::string text) {
        http::response<http::string_body> response{status, request.version()};
        headers(response, request, "text/plain; charset=utf-8");
        if (status == http::status::method_not_allowed)
            response.set(http::field::allow, "GET, HEAD");
        if (request.method() != http::verb::head)
            response.body() = std::move(text);
        response.prepare_payload();
        send(std::move(response));
    }

    template <typename Body>
    void send(http::response<Body>&& response) {
        const bool keepAlive = response.keep_alive();
        m_stream.expires_after(m_server.options().handshakeTimeout);
        beast::async_write(
            m_stream, http::message_generator(std::move(response)),
            [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                if (ec || !keepAlive) {
                    self->close();
                    return;
                }
                self->read();
            });
    }

    void close() {
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        m_stream.close();
    }

    Server& m_server;
    beast::tcp_stream m_stream;
    asio::steady_timer m_firstRequestDeadline;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::empty_body>> m_parser;
    std::string m_peer;
    std::uint64_t m_requests = 0;
    bool m_readEnded = false;  // the first read has completed, one way or another
};

// ---------------------------------------------------------------------------------------------
// Server

std::string Server::bind() {
    beast::error_code ec;
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), m_options.port);
    const std::string where = "127.0.0.1:" + std::to_string(m_options.port);
    m_io->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_io->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        m_io->acceptor.bind(endpoint, ec);
    if (!ec)
        m_io->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return "cannot listen on " + where + ": " + ec.message();
    m_port = m_io->acceptor.local_endpoint(ec).port();
    return {};
}

void Server::run(std::uint64_t session) {
    m_session = session;
    accept();
    scheduleStatus();
    m_thread = std::thread([this] {
        try {
            m_io->ioc.run();
        } catch (const std::exception& e) {
            Kivo::DeviceService::liveRefused(m_session,
                                             std::string("the server failed: ") + e.what());
        }
    });
}

void Server::shutdown() {
    std::lock_guard lock(m_shutdownMutex);
    m_stopped.store(true, std::memory_order_release);
    if (!m_thread.joinable()) {
        m_io.reset();
        return;
    }
    asio::post(m_io->ioc, [this] {
        beast::error_code ec;
        m_io->acceptor.close(ec);
        m_io->statusTimer.cancel();
        {
            std::lock_guard out(m_outMutex);
            m_hasClient = false;
            m_outbox.clear();
        }
        if (!m_client) {
            m_io->ioc.stop();
            return;
        }
        auto client = std::move(m_client);
        client->closeGoingAway([this] { m_io->ioc.stop(); });
        m_io->stopTimer.expires_after(kCloseGrace);
        m_io->stopTimer.async_wait([this](beast::error_code) { m_io->ioc.stop(); });
    });
    m_thread.join();
    m_io.reset();
}

void Server::accept() {
    m_io->acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !m_io->acceptor.is_open())
            return;
        if (!ec) {
            const auto remote = socket.remote_endpoint(ec);
            if (ec) {
                // gone before we looked
            } else if (!remote.address().is_loopback()) {
                refuse("a connection from " + remote.address().to_string() +
                       ": only the loopback address may connect");
                socket.close(ec);
            } else {
                std::make_shared<HttpSession>(*this, std::move(socket), endpointText(remote))
                    ->read();
            }
        }
        accept();
    });
}

void Server::scheduleStatus() {
    m_io->statusTimer.expires_after(kStatusPeriod);
    m_io->statusTimer.async_wait([this](beast::error_code ec) {
        if (ec)
            return;
        sendStatus();
        scheduleStatus();
    });
}

void Server::sendStatus() {
    if (!m_client)
        return;
    const auto status = Kivo::DeviceService::status();
    nlohmann::json message{{"type", "status"},
                           {"fps", std::round(status.live.framesPerSecond * 10.0) / 10.0},
                           {"refused", status.live.refused}};
    message["latencyMs"] = status.live.latencyMs
                               ? nlohmann::json(std::round(*status.live.latencyMs * 10.0) / 10.0)
                               : nlohmann::json(nullptr);
    enqueue({jsonText(message), true});
}

bool Server::enqueue(Outgoing message) {
    std::lock_guard lock(m_outMutex);
    if (!m_hasClient)
        return false;
    if (m_outbox.size() >= std::max<std::size_t>(1, m_options.sendQueueLimit)) {
        auto victim = std::find_if(m_outbox.begin(), m_outbox.end(),
                                   [](const Outgoing& o) { return o.droppable; });
        m_outbox.erase(victim != m_outbox.end() ? victim : m_outbox.begin());
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }
    m_outbox.push_back(std::move(message));
    if (!m_pumpPosted) {
        m_pumpPosted = true;
        asio::post(m_io->ioc, [self = shared_from_this()] {
            {
                std::lock_guard again(self->m_outMutex);
                self->m_pumpPosted = false;
            }
            if (self->m_client)
                self->m_client->pump();
        });
    }
    return true;
}

void Server::adopt(const std::shared_ptr<StreamSession>& client) {
    m_client = client;
    {
        std::lock_guard lock(m_outMutex);
        m_hasClient = true;
        m_outbox.clear();
    }
    // Counted once it can be sent to: what is sent for the new client reaches it.
    g_clientSerial.fetch_add(1);
}

void Server::release(const StreamSession* client) {
    if (m_client.get() != client)
        return;
    m_client.reset();
    {
        std::lock_guard lock(m_outMutex);
        m_hasClient = false;
        m_outbox.clear();
    }
    Kivo::DeviceService::liveClient(m_session, "");
}

bool Server::takeNext(std::string& text) {
    std::lock_guard lock(m_outMutex);
    if (m_outbox.empty())
        return false;
    text = std::move(m_outbox.front().text);
    m_outbox.pop_front();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The process's one server

struct Global {
    std::mutex mutex;
    std::shared_ptr<Server> server;
    std::function<void()> onStop;
};

Global& global() {
    static Global instance;
    return instance;
}

std::shared_ptr<Server> running() {
    auto& g = global();
    std::lock_guard lock(g.mutex);
    return g.server && !g.server->stopped() ? g.server : nullptr;
}

void requestStop() {
    auto& g = global();
    std::function<void()> handler;
    {
        std::lock_guard lock(g.mutex);
        handler = g.onStop;
    }
    if (handler)
        handler();
}

}  // namespace

std::string listen(const ListenOptions& options) {
    auto& g = global();
    std::lock_guard lock(g.mutex);
    if (g.server && !g.server->stopped())
        return "listen: already listening on " + g.server->address() +
               "; stop the device's source first";
    std::error_code ec;
    const auto root = std::filesystem::canonical(options.root, ec);
    if (ec || !std::filesystem::is_directory(root, ec))
        return "listen: " + options.root.string() + ": no such folder (the tracker page's folder)";
    auto server = std::make_shared<Server>(options, root);
    if (auto error = server->bind(); !error.empty())
        return "listen: " + error;
    const std::weak_ptr<Server> weak = server;
    const auto session = Kivo::DeviceService::startLive({server->address(), [weak] {
                                                             if (const auto s = weak.lock())
                                                                 s->shutdown();
                                                         }});
    server->run(session);
    g.server = std::move(server);
    return {};
}

unsigned short port() {
    const auto server = running();
    return server ? server->port() : 0;
}

bool sendToClient(std::string text) {
    const auto server = running();
    const bool droppable = text.find(R"("type":"poses")") < 32;
    return server && server->enqueue({std::move(text), droppable});
}

std::uint64_t droppedMessages() {
    const auto server = running();
    return server ? server->dropped() : 0;
}

void onStopRequest(std::function<void()> handler) {
    auto& g = global();
    std::lock_guard lock(g.mutex);
    g.onStop = std::move(handler);
}

std::uint64_t clientSerial() {
    return g_clientSerial.load();
}

}  // namespace KivoLive
