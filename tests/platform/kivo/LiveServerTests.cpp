// The live source's server in-process: the stream's life as the device service sees it (a client
// vanishing, the server stopping with the source), messages from the host to a client that does
// not read, and the handshake timeout. Waits are on the connection or on listener callbacks.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Kivo.h>
#include <kivo_live/Live.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "LiveClient.h"

namespace {

using kivorova::testing::frameMessage;
using kivorova::testing::LiveClient;
using kivorova::testing::RawConnection;
using kivorova::testing::TestHand;

// Hands in view of each frame a listener heard of, awaitable.
class HandWatch : public Kivo::Listener {
  public:
    void handleFrame(const Kivo::Controller& controller) override {
        {
            std::lock_guard lock(m_mutex);
            m_hands = controller.frame().hands().count();
            m_sawHands = m_sawHands || m_hands > 0;
        }
        m_changed.notify_all();
    }
    // Waits until the newest frame shows `hands` hands (after one with hands, for 0).
    bool waitForHands(int hands) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_sawHands && m_hands == hands; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_hands = -1;
    bool m_sawHands = false;
};

class LiveServer : public ::testing::Test {
  protected:
    void SetUp() override {
        Kivo::DeviceService::reset();
        options.root = std::filesystem::temp_directory_path();
        options.port = 0;
    }
    void TearDown() override { Kivo::DeviceService::reset(); }

    void listen() {
        ASSERT_EQ(KivoLive::listen(options), "");
        ASSERT_NE(KivoLive::port(), 0);
    }

    KivoLive::ListenOptions options;
};

TEST_F(LiveServer, AVanishingClientTakesItsHandsAlongAndTheDeviceStaysPluggedIn) {
    listen();
    Kivo::Controller controller;
    HandWatch watch;
    controller.addListener(watch);
    {
        LiveClient client(KivoLive::port());
        client.send(frameMessage(100.0, {TestHand{0.3}, TestHand{0.7, 0.5, false}}));
        ASSERT_TRUE(watch.waitForHands(2));
        EXPECT_EQ(Kivo::DeviceService::status().live.client.rfind("127.0.0.1:", 0), 0u);
        client.vanish();
    }
    ASSERT_TRUE(watch.waitForHands(0)) << "the hands leave with the client";
    const auto status = Kivo::DeviceService::status();
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.source, Kivo::ServiceStatus::Source::Live);
    EXPECT_EQ(status.live.client, "");
    EXPECT_EQ(status.live.refused, 0u) << status.describe();
    EXPECT_NE(status.describe().find("(no client, 1 frames received"), std::string::npos)
        << status.describe();

    // The next client streams on, its frames after those of the one before.
    const std::int64_t before = controller.frame().timestamp();
    LiveClient next(KivoLive::port());
    EXPECT_EQ(next.first().value("type", ""), "welcome");
    next.send(frameMessage(5.0, {TestHand{}}));
    ASSERT_TRUE(watch.waitForHands(1));
    EXPECT_GT(controller.frame().timestamp(), before);
    controller.removeListener(watch);
}

TEST_F(LiveServer, EndingTheSourceStopsTheServerAndClosesTheStream) {
    listen();
    const unsigned short port = KivoLive::port();
    LiveClient client(port);
    Kivo::DeviceService::inject("frame 1 t=0");
    EXPECT_EQ(client.awaitClose(), 1001) << "choosing another source ends listening";
    EXPECT_EQ(KivoLive::port(), 0);
    EXPECT_EQ(Kivo::DeviceService::status().source, Kivo::ServiceStatus::Source::Inject);
    EXPECT_FALSE(KivoLive::sendToClient("{}"));
    // The port is free again at once.
    options.port = port;
    listen();
    EXPECT_EQ(KivoLive::port(), port);
}

TEST_F(LiveServer, MessagesToTheClientArriveInOrder) {
    listen();
    EXPECT_FALSE(KivoLive::sendToClient(R"({"type":"poses","time":0})")) << "no client yet";
    LiveClient client(KivoLive::port());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(KivoLive::sendToClient(R"({"type":"poses","time":)" + std::to_string(i) + "}"));
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(client.next().value("time", -1), i);
    }
}

TEST_F(LiveServer, AClientThatReadsNothingNeverHoldsUpTheSenderAndLosesTheOldestPoses) {
    options.sendQueueLimit = 8;
    listen();
    // Welcomed, then it reads nothing more: every send returns at once, the queue stays
    // bounded, and the device goes on.
    LiveClient stalled(KivoLive::port());
    const std::string pose =
        R"({"type":"poses","time":1,"objects":")" + std::string(64 * 1024, 'x') + R"("})";
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(KivoLive::sendToClient(pose)) << i;
    }
    EXPECT_GT(KivoLive::droppedMessages(), 0u);
    EXPECT_EQ(Kivo::DeviceService::inject("frame 2 t=1"), "");
}

TEST_F(LiveServer, AConnectionThatSendsNothingIsClosedAfterTheHandshakeTimeout) {
    options.handshakeTimeout = std::chrono::milliseconds(100);
    listen();
    RawConnection silent(KivoLive::port(), "");
    EXPECT_EQ(silent.readToEnd(), "");
    const auto status = Kivo::DeviceService::status();
    EXPECT_EQ(status.live.refused, 1u);
    EXPECT_EQ(status.live.lastRefusal.rfind("no HTTP request from 127.0.0.1:", 0), 0u)
        << status.live.lastRefusal;
}

}  // namespace
