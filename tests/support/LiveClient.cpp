#include "LiveClient.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <stdexcept>

namespace kivorova::testing {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// An open right hand in metres (x right, y down, z away from the camera), wrist below the palm.
constexpr std::array<std::array<double, 3>, 21> kHandWorld{{
    {0.0, 0.045, 0.0},                                                            // wrist
    {-0.03, 0.03, -0.005},    {-0.045, 0.01, -0.01},   {-0.055, -0.01, -0.012},   // thumb
    {-0.065, -0.025, -0.014},                                                     //
    {-0.022, -0.04, 0.0},     {-0.024, -0.07, -0.002}, {-0.025, -0.093, -0.004},  // index
    {-0.026, -0.112, -0.006},                                                     //
    {0.0, -0.045, 0.0},       {0.0, -0.078, -0.002},   {0.0, -0.104, -0.004},     // middle
    {0.0, -0.124, -0.006},                                                        //
    {0.02, -0.04, 0.0},       {0.021, -0.07, -0.002},  {0.022, -0.094, -0.004},   // ring
    {0.023, -0.113, -0.006},                                                      //
    {0.038, -0.03, 0.0},      {0.041, -0.055, -0.002}, {0.043, -0.072, -0.004},   // little
    {0.045, -0.088, -0.006},                                                      //
}};
constexpr int kWidth = 640;
constexpr int kHeight = 480;
// Pixels per metre of a hand about half a metre from a camera with a 60 degree field of view.
constexpr double kPixelsPerMetre = 1100.0;

tcp::endpoint loopback(unsigned short port) {
    return {asio::ip::address_v4::loopback(), port};
}

void connectFrom(tcp::socket& socket, unsigned short port, const std::string& fromAddress) {
    socket.open(tcp::v4());
    if (!fromAddress.empty())
        socket.bind(tcp::endpoint(asio::ip::make_address(fromAddress), 0));
    socket.connect(loopback(port));
}

std::string readToEnd(tcp::socket& socket) {
    std::string text;
    std::array<char, 4096> buffer{};
    beast::error_code ec;
    while (true) {
        const std::size_t n = socket.read_some(asio::buffer(buffer), ec);
        text.append(buffer.data(), n);
        if (ec)
            return text;
    }
}

}  // namespace

nlohmann::json frameJson(double timeMs, const std::vector<TestHand>& hands) {
    nlohmann::json list = nlohmann::json::array();
    for (const TestHand& hand : hands) {
        nlohmann::json image = nlohmann::json::array();
        nlohmann::json world = nlohmann::json::array();
        for (const auto& p : kHandWorld) {
            const double x = hand.right ? p[0] : -p[0];
            world.push_back({x, p[1], p[2]});
            image.push_back({hand.x + x * kPixelsPerMetre / kWidth,
                             hand.y + p[1] * kPixelsPerMetre / kHeight,
                             p[2] * kPixelsPerMetre / kWidth});
        }
        list.push_back({{"handedness", hand.right ? "Right" : "Left"},
                        {"score", 0.97},
                        {"image", image},
                        {"world", world}});
    }
    return {{"type", "frame"},   {"time", timeMs},   {"width", kWidth},
            {"height", kHeight}, {"mirrored", true}, {"hands", list}};
}

std::string frameMessage(double timeMs, const std::vector<TestHand>& hands) {
    return frameJson(timeMs, hands).dump();
}

struct LiveClient::Impl {
    asio::io_context ioc;
    websocket::stream<tcp::socket> ws{ioc};
    beast::flat_buffer buffer;
    nlohmann::json first;

    nlohmann::json read() {
        buffer.consume(buffer.size());
        ws.read(buffer);
        return nlohmann::json::parse(beast::buffers_to_string(buffer.cdata()));
    }
};

LiveClient::LiveClient(unsigned short port, const std::string& fromAddress)
    : m_impl(std::make_unique<Impl>()) {
    connectFrom(m_impl->ws.next_layer(), port, fromAddress);
    m_impl->ws.handshake("127.0.0.1:" + std::to_string(port), "/stream");
    m_impl->first = m_impl->read();
}

LiveClient::~LiveClient() = default;

const nlohmann::json& LiveClient::first() const {
    return m_impl->first;
}

void LiveClient::send(const std::string& text) {
    m_impl->ws.text(true);
    m_impl->ws.write(asio::buffer(text));
}

void LiveClient::sendBinary(const std::string& bytes) {
    m_impl->ws.binary(true);
    m_impl->ws.write(asio::buffer(bytes));
}

nlohmann::json LiveClient::next() {
    while (true) {
        nlohmann::json message = m_impl->read();
        if (message.value("type", "") != "status")
            return message;
    }
}

int LiveClient::awaitClose() {
    beast::error_code ec;
    while (!ec) {
        m_impl->buffer.consume(m_impl->buffer.size());
        m_impl->ws.read(m_impl->buffer, ec);
    }
    // The host may be gone before our answer to its close message reaches it: what counts is
    // the close message it sent.
    return static_cast<int>(m_impl->ws.reason().code);
}

void LiveClient::vanish() {
    beast::error_code ec;
    m_impl->ws.next_layer().set_option(asio::socket_base::linger(true, 0), ec);
    m_impl->ws.next_layer().close(ec);
}

struct RawConnection::Impl {
    asio::io_context ioc;
    tcp::socket socket{ioc};
};

RawConnection::RawConnection(unsigned short port, const std::string& bytes,
                             const std::string& fromAddress)
    : m_impl(std::make_unique<Impl>()) {
    connectFrom(m_impl->socket, port, fromAddress);
    beast::error_code ec;
    asio::write(m_impl->socket, asio::buffer(bytes), ec);
}

RawConnection::~RawConnection() = default;

std::string RawConnection::readToEnd() {
    return kivorova::testing::readToEnd(m_impl->socket);
}

std::string rawExchange(unsigned short port, const std::string& bytes,
                        const std::string& fromAddress) {
    return RawConnection(port, bytes, fromAddress).readToEnd();
}

std::string httpRequest(unsigned short port, const std::string& target, const std::string& method,
                        const std::string& headers) {
    return rawExchange(port, method + " " + target +
                                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
                                 "\r\n");
}

std::string nonLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    std::string found;
    for (const ifaddrs* entry = list; entry && found.empty(); entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        const asio::ip::address_v4 address(ntohl(in->sin_addr.s_addr));
        if (!address.is_loopback())
            found = address.to_string();
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace kivorova::testing
