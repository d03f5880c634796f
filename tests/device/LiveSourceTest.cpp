// The live source in the rova program: `device -listen` serves the tracker page and takes one
// WebSocket stream of landmark frames, which scripts see as a live device. Clients here stream
// from the test while rova runs its script; the script waits for frames with `device -await`,
// and the test reads what rova prints as it prints it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LiveClient.h"
#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace {

using kivorova::testing::ChildProcess;
using kivorova::testing::frameJson;
using kivorova::testing::frameMessage;
using kivorova::testing::httpRequest;
using kivorova::testing::LiveClient;
using kivorova::testing::nonLoopbackAddress;
using kivorova::testing::numbersOf;
using kivorova::testing::RawConnection;
using kivorova::testing::rawExchange;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;
using kivorova::testing::startRovaScript;
using kivorova::testing::TempDir;
using kivorova::testing::TestHand;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long a step may take before the test gives up on it (a bound, not a pace).
constexpr auto kPatience = 30s;

// The page's folder of a test: a few files of each kind the tracker serves, and a secret beside
// it that nothing may reach.
class LiveSource : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path root;

    void SetUp() override {
        root = dir.path() / "page";
        fs::create_directories(root / "assets");
        dir.write("page/index.html", "<!doctype html><title>tracker</title>\n");
        dir.write("page/app.js", "console.log('tracker');\n");
        dir.write("page/app.css", "body{}\n");
        dir.write("page/assets/hands.wasm", "wasm-bytes");
        dir.write("page/assets/hands.data", "0123456789");
        dir.write("page/assets/hand.tflite", "model");
        dir.write("page/assets/hands.binarypb", "graph");
        dir.write("page/assets/info.json", "{}");
        dir.write("secret.txt", "TOP-SECRET\n");
        fs::create_symlink(dir.path() / "secret.txt", root / "leak.txt");
    }

    // rova running `script` after `device -listen -port 0 -root ROOT`, and the port it bound.
    std::unique_ptr<ChildProcess> listen(const std::string& script, unsigned short& port) {
        auto rova =
            startRovaScript("device -listen -port 0 -root \"" + root.string() + "\"\n" + script);
        const auto line = rova->awaitLine("listening on", kPatience);
        if (!line) {
            ADD_FAILURE() << "rova did not listen:\n" << rova->finish(kPatience).err;
            port = 0;
            return rova;
        }
        std::smatch match;
        const std::regex address(R"(http://127\.0\.0\.1:(\d+)/)");
        EXPECT_TRUE(std::regex_search(*line, match, address)) << *line;
        port = static_cast<unsigned short>(std::stoi(match[1]));
        return rova;
    }
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Ten frames of one hand at image x, 33 ms apart from `startMs`.
void streamHand(LiveClient& client, double startMs, double x, int frames = 10) {
    for (int i = 0; i < frames; ++i)
        client.send(frameMessage(startMs + 33.0 * i, {TestHand{x, 0.5, true}}));
}

TEST_F(LiveSource, NodesSeeTheStreamedHandsMoveAndACaptureRecordsThem) {
    const fs::path take = dir.path() / "take.kivo";
    unsigned short port = 0;
    auto rova = listen(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "set k.live on\n"
        "device -record \"" +
            take.string() +
            "\"\n"
            "print(\"recording\\n\")\n"
            "device -await 10 -timeout 30\n"
            "refresh\n"
            "print(\"left\\n\")\n"
            "get k.outputPalm0Enabled\n"
            "get k.outputPalm0\n"
            "device -await 20 -timeout 30\n"
            "refresh\n"
            "print(\"right\\n\")\n"
            "get k.outputPalm0Enabled\n"
            "get k.outputPalm0\n"
            "device -status\n"
            "device -stop\n"
            "device -status\n",
        port);
    ASSERT_NE(port, 0);
    LiveClient client(port);
    EXPECT_EQ(client.first().value("type", ""), "welcome");
    EXPECT_EQ(client.first().value("maxMessageBytes", 0), 256 * 1024);

    // The capture must hold every frame, so the stream starts once rova has begun it (loading
    // the plug-in may take longer than the client takes to connect).
    ASSERT_TRUE(rova->awaitLine("recording", kPatience));
    // The hand on the left of the image as shown, then on its right.
    streamHand(client, 1000.0, 0.3);
    ASSERT_TRUE(rova->awaitLine("left", kPatience));
    const auto leftEnabled = rova->awaitLine("", kPatience);
    const auto leftPalm = rova->awaitLine("", kPatience);
    streamHand(client, 2000.0, 0.7);
    EXPECT_EQ(client.awaitClose(), 1001) << "device -stop closes the stream: going away";
    const RovaRun run = rova->finish(kPatience);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    ASSERT_TRUE(leftEnabled && leftPalm);
    EXPECT_EQ(*leftEnabled, "true");
    const std::vector<double> left = numbersOf(*leftPalm);
    const auto rightAt = run.out.find("right\n");
    ASSERT_NE(rightAt, std::string::npos) << run.out;
    std::istringstream after(run.out.substr(rightAt + 6));
    std::string rightEnabled;
    std::string rightPalm;
    std::string status;
    std::string stopped;
    std::getline(after, rightEnabled);
    std::getline(after, rightPalm);
    std::getline(after, status);
    std::getline(after, stopped);
    EXPECT_EQ(rightEnabled, "true");
    const std::vector<double> right = numbersOf(rightPalm);
    ASSERT_EQ(left.size(), 16u) << *leftPalm;
    ASSERT_EQ(right.size(), 16u) << rightPalm;
    // The node's translation is the palm's (in the node's units): left of the device's centre,
    // then right of it.
    EXPECT_LT(left[12], -2.0) << *leftPalm;
    EXPECT_GT(right[12], 2.0) << rightPalm;

    EXPECT_NE(status.find("source live 127.0.0.1:" + std::to_string(port) + " (client 127.0.0.1:"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("20 frames received"), std::string::npos) << status;
    EXPECT_NE(status.find("0 refused"), std::string::npos) << status;
    EXPECT_NE(status.find(", connected,"), std::string::npos) << status;
    EXPECT_EQ(stopped.rfind("source none, disconnected", 0), 0u) << stopped;

    // The capture holds every streamed frame with its hand, at increasing times.
    const std::string recording = readFile(take);
    std::istringstream lines(recording);
    std::string line;
    int withHand = 0;
    long long lastTime = -1;
    bool increasing = true;
    while (std::getline(lines, line)) {
        if (line.rfind("frame ", 0) != 0)
            continue;
        const auto t = line.find(" t=");
        const long long time = std::stoll(line.substr(t + 3));
        increasing = increasing && time >= lastTime;
        lastTime = time;
        withHand += line.find("hand 1") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(withHand, 20) << recording;
    EXPECT_TRUE(increasing) << recording;
    // The recorded time follows the capture times: 19 intervals, the second ten a second later.
    EXPECT_GE(lastTime, 1'000'000 + 9 * 33'000) << recording;
}

TEST_F(LiveSource, EveryBadInputIsRefusedWithItsReasonAndCounted) {
    unsigned short port = 0;
    auto rova = listen(
        "device -await 2 -timeout 30\n"
        "device -status\n"
        "device -await 3 -timeout 30\n"
        "device -status\n"
        "device -await 4 -timeout 30\n"
        "device -status\n"
        "device -await 5 -timeout 30\n"
        "device -status\n"
        "device -await 6 -timeout 30\n"
        "device -status\n"
        "device -stop\n",
        port);
    ASSERT_NE(port, 0);
    auto client = std::make_unique<LiveClient>(port);
    client->send(R"({"type":"hello","client":"kivo-tracker","version":1})");
    client->send(frameMessage(1000.0, {TestHand{}}));

    auto withHand = [](const std::function<void(nlohmann::json&)>& change) {
        nlohmann::json message = frameJson(1500.0, {TestHand{}});
        change(message);
        return message.dump();
    };
    // JSON has no infinity: a number too large for a double is what a page could send for one.
    auto infinite = [&] {
        std::string text =
            withHand([](nlohmann::json& m) { m["hands"][0]["world"][3][2] = 12345.5; });
        return text.replace(text.find("12345.5"), 7, "1e999");
    };
    struct Bad {
        std::string what;
        std::string message;
        std::string reason;  // part of the refusal's reason
    };
    const std::vector<Bad> bad{
        {"malformed JSON", R"({"type":"frame","time":12,)", "not valid JSON"},
        {"not an object", "[1,2,3]", "message"},
        {"unknown type", R"({"type":"pose"})", "type"},
        {"a landmark short", withHand([](nlohmann::json& m) { m["hands"][0]["image"].erase(20); }),
         "hands[0].image"},
        {"a landmark too many", withHand([](nlohmann::json& m) {
             m["hands"][0]["world"].push_back({0, 0, 0});
         }),
         "hands[0].world"},
        {"a number beyond a double", infinite(), "expected a finite number"},
        {"a string for a number",
         withHand([](nlohmann::json& m) { m["hands"][0]["world"][3][2] = "NaN"; }),
         "hands[0].world[3][2]"},
        {"absurd world coordinates",
         withHand([](nlohmann::json& m) { m["hands"][0]["world"][5][0] = 4000.0; }),
         "hands[0].world[5][0]"},
        {"absurd image coordinates",
         withHand([](nlohmann::json& m) { m["hands"][0]["image"][5][1] = -1e9; }),
         "hands[0].image[5][1]"},
        {"three hands",
         frameMessage(1500.0, {TestHand{0.2}, TestHand{0.5}, TestHand{0.8, 0.5, false}}), "hands"},
        {"a repeated time", frameMessage(1000.0, {TestHand{}}), "is not after"},
        {"a time going backwards", frameMessage(900.0, {TestHand{}}), "is not after"},
    };
    int count = 0;
    for (const Bad& b : bad) {
        const nlohmann::json reply = client->sendAwaitingReply(b.message);
        ++count;
        EXPECT_EQ(reply.value("type", ""), "refused") << b.what << ": " << reply;
        EXPECT_NE(reply.value("reason", "").find(b.reason), std::string::npos)
            << b.what << ": " << reply;
        EXPECT_EQ(reply.value("refused", 0), count) << b.what;
    }
    client->sendBinary(std::string("\x01\x02\x03", 3));
    const nlohmann::json binary = client->next();
    ++count;
    EXPECT_NE(binary.value("reason", "").find("binary"), std::string::npos) << binary;
    EXPECT_EQ(binary.value("refused", 0), count);
    // The stream goes on after refusals: the next good frame is delivered.
    client->send(frameMessage(2000.0, {TestHand{}}));
    const auto first = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("2 frames received"), std::string::npos) << *first;
    EXPECT_NE(first->find(std::to_string(count) + " refused, last: a binary message"),
              std::string::npos)
        << *first;

    // A message over the limit closes the stream (1009: too big).
    client->send(std::string(256 * 1024 + 1, ' '));
    EXPECT_EQ(client->awaitClose(), 1009);
    ++count;
    client = std::make_unique<LiveClient>(port);
    EXPECT_EQ(client->first().value("type", ""), "welcome") << "the next client may stream";
    client->send(frameMessage(5.0, {TestHand{}}));
    const auto oversized = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(oversized);
    EXPECT_NE(oversized->find(std::to_string(count) +
                              " refused, last: a message over the limit of 262144 bytes"),
              std::string::npos)
        << *oversized;

    // Bytes that are not HTTP, let alone a WebSocket handshake, on the server's port.
    const std::string raw = rawExchange(port, "\x16\x03\x01 hello, not a request\r\n\r\n");
    EXPECT_EQ(raw.find("101"), std::string::npos) << raw;
    ++count;
    // And a plain request for the stream without the handshake.
    const std::string plain = httpRequest(port, "/stream");
    EXPECT_EQ(plain.rfind("HTTP/1.1 426", 0), 0u) << plain;
    ++count;
    client->send(frameMessage(6.0, {TestHand{}}));
    const auto rawStatus = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(rawStatus);
    EXPECT_NE(rawStatus->find(std::to_string(count) +
                              " refused, last: an HTTP request for /stream without a WebSocket "
                              "handshake"),
              std::string::npos)
        << *rawStatus;

    // A second client while one streams: told so, and closed (1013: try again later).
    {
        LiveClient second(port);
        EXPECT_EQ(second.first().value("type", ""), "refused") << second.first();
        EXPECT_EQ(second.first().value("reason", ""), "another client is streaming");
        EXPECT_EQ(second.awaitClose(), 1013);
        ++count;
    }
    client->send(frameMessage(7.0, {TestHand{}}));
    const auto secondStatus = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(secondStatus);
    EXPECT_NE(secondStatus->find(std::to_string(count) + " refused, last: another client is "
                                                         "streaming"),
              std::string::npos)
        << *secondStatus;

    // A connection from an address other than the loopback one (where this machine has one).
    const std::string outside = nonLoopbackAddress();
    if (!outside.empty()) {
        EXPECT_EQ(rawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n", outside), "");
        ++count;
    }
    client->send(frameMessage(8.0, {TestHand{}}));
    const auto last = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(last);
    EXPECT_NE(last->find(std::to_string(count) + " refused"), std::string::npos) << *last;
    if (!outside.empty()) {
        EXPECT_NE(last->find("last: a connection from " + outside +
                             ": only the loopback address may connect"),
                  std::string::npos)
            << *last;
    }
    EXPECT_EQ(client->awaitClose(), 1001);
    const RovaRun run = rova->finish(kPatience);
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST_F(LiveSource, ServesThePageAndNothingOutsideItsFolder) {
    unsigned short port = 0;
    auto rova = listen("device -await 1 -timeout 30\ndevice -status\ndevice -stop\n", port);
    ASSERT_NE(port, 0);

    struct Served {
        std::string target;
        std::string type;
        std::string body;
    };
    const std::vector<Served> served{
        {"/", "text/html; charset=utf-8", "<title>tracker</title>"},
        {"/index.html?camera=1", "text/html; charset=utf-8", "<title>tracker</title>"},
        {"/app.js", "text/javascript; charset=utf-8", "console.log"},
        {"/app.css", "text/css; charset=utf-8", "body{}"},
        {"/assets/hands.wasm", "application/wasm", "wasm-bytes"},
        {"/assets/hands.data", "application/octet-stream", "0123456789"},
        {"/assets/hand.tflite", "application/octet-stream", "model"},
        {"/assets/hands.binarypb", "application/octet-stream", "graph"},
        {"/assets/info.json", "application/json", "{}"},
        {"/assets/%68ands.data", "application/octet-stream", "0123456789"},
    };
    for (const Served& s : served) {
        const std::string response = httpRequest(port, s.target);
        EXPECT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << s.target << "\n" << response;
        EXPECT_NE(response.find("Content-Type: " + s.type + "\r\n"), std::string::npos)
            << s.target << "\n"
            << response;
        EXPECT_NE(response.find(s.body), std::string::npos) << s.target << "\n" << response;
    }
    const std::string head = httpRequest(port, "/assets/hands.data", "HEAD");
    EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("0123456789"), std::string::npos) << "HEAD has no body";
    const std::string range =
        httpRequest(port, "/assets/hands.data", "GET", "Range: bytes=2-5\r\n");
    EXPECT_EQ(range.rfind("HTTP/1.1 206", 0), 0u) << range;
    EXPECT_NE(range.find("Content-Range: bytes 2-5/10\r\n"), std::string::npos) << range;
    EXPECT_EQ(range.substr(range.size() - 4), "2345") << range;
    const std::string tail = httpRequest(port, "/assets/hands.data", "GET", "Range: bytes=-3\r\n");
    EXPECT_EQ(tail.substr(tail.size() - 3), "789") << tail;
    const std::string unsatisfiable =
        httpRequest(port, "/assets/hands.data", "GET", "Range: bytes=20-30\r\n");
    EXPECT_EQ(unsatisfiable.rfind("HTTP/1.1 416", 0), 0u) << unsatisfiable;
    EXPECT_EQ(httpRequest(port, "/missing.js").rfind("HTTP/1.1 404", 0), 0u);
    EXPECT_EQ(httpRequest(port, "/", "POST").rfind("HTTP/1.1 405", 0), 0u);

    // Whatever the path asks, nothing outside the folder: each refused and counted.
    const std::vector<std::string> escapes{
        "/../secret.txt",
        "/assets/../../secret.txt",
        "/%2e%2e/secret.txt",
        "/%2E%2E%2Fsecret.txt",
        "/assets/..%2f..%2fsecret.txt",
        "/..\\secret.txt",
        "/leak.txt",
        "/index.html%00.js",
        "http://127.0.0.1/../secret.txt",
        "/%zz",
    };
    for (const std::string& target : escapes) {
        const std::string response = httpRequest(port, target);
        EXPECT_EQ(response.rfind("HTTP/1.1 403", 0), 0u) << target << "\n" << response;
        EXPECT_EQ(response.find("TOP-SECRET"), std::string::npos) << target;
    }
    // An absolute path names a file under the folder, not the machine's.
    const std::string absolute = httpRequest(port, "/" + (dir.path() / "secret.txt").string());
    EXPECT_EQ(absolute.rfind("HTTP/1.1 404", 0), 0u) << absolute;

    LiveClient client(port);
    client.send(frameMessage(1.0, {}));
    const auto status = rova->awaitLine("source live", kPatience);
    ASSERT_TRUE(status);
    EXPECT_NE(status->find(std::to_string(escapes.size()) + " refused, last: HTTP /%zz: a "
                                                            "malformed %-escape"),
              std::string::npos)
        << *status;
    EXPECT_EQ(client.awaitClose(), 1001);
    EXPECT_EQ(rova->finish(kPatience).exitCode, 0);
}

TEST_F(LiveSource, StalledClientsDoNotHoldUpTheHost) {
    unsigned short port = 0;
    auto rova = listen(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "set k.live on\n"
        "device -await 1 -timeout 30\n"
        "refresh\n"
        "get k.outputPalm0Enabled\n"
        "device -status\n"
        "device -stop\n",
        port);
    ASSERT_NE(port, 0);
    // One connection sends half a request and stops; the streaming client sends a frame and then
    // neither reads nor writes again.
    const RawConnection halfRequest(port, "GET / HTTP/1.1\r\nHost: 127.");
    LiveClient stalled(port);
    stalled.send(frameMessage(1.0, {TestHand{}}));
    const RovaRun run = rova->finish(kPatience);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\ntrue\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 frames received"), std::string::npos) << run.out;
}

TEST_F(LiveSource, KivoStreamSendsRecordedPageMessagesAndPrintsWhatTheHostRefused) {
    // A hello, fifteen frames 20 ms apart, and one frame short of a landmark among them.
    std::string frames = R"({"type":"hello","client":"kivo-tracker","version":1})"
                         "\n";
    for (int i = 0; i < 16; ++i) {
        nlohmann::json frame = frameJson(500.0 + 20.0 * i, {TestHand{0.4 + 0.01 * i}});
        if (i == 7)
            frame["hands"][0]["image"].erase(3);
        frames += frame.dump() + "\n";
    }
    const fs::path file = dir.write("frames.jsonl", frames);
    // Held open until the host closes, and sent all at once and closed: either way every answer
    // is read, and a refusal fails the run.
    for (const std::vector<std::string>& mode :
         {std::vector<std::string>{"--hold", "--now"}, std::vector<std::string>{"--fast"}}) {
        unsigned short port = 0;
        auto rova = listen("device -await 15 -timeout 30\ndevice -status\ndevice -stop\n", port);
        ASSERT_NE(port, 0);
        std::vector<std::string> args{"--port", std::to_string(port), file.string()};
        args.insert(args.begin(), mode.begin(), mode.end());
        const RovaRun stream = kivorova::testing::runProgram(KIVO_STREAM_PROGRAM, args);
        const RovaRun run = rova->finish(kPatience);
        EXPECT_EQ(stream.exitCode, 1) << mode[0] << "\n" << stream.err;
        EXPECT_NE(stream.out.find(R"("type":"welcome")"), std::string::npos) << stream.out;
        EXPECT_NE(stream.out.find(R"("reason":"hands[0].image: expected 21 landmarks, got 20")"),
                  std::string::npos)
            << mode[0] << "\n"
            << stream.out;
        EXPECT_NE(stream.err.find("sent 17 of 17 messages, 1 refused"), std::string::npos)
            << mode[0] << "\n"
            << stream.err;
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("15 frames received"), std::string::npos) << run.out;
        if (mode[0] == "--hold") {
            EXPECT_NE(run.out.find(" ms, 1 refused, last: hands[0].image"), std::string::npos)
                << "capture times on the host's clock give a latency\n"
                << run.out;
        }
    }
}

TEST(LiveListen, ClearErrorsForWhatCannotListen) {
    const TempDir dir;
    const std::string root = dir.path().string();
    RovaRun run =
        runRovaStatements("device -listen -port 0 -root \"" + root + "/missing\"; device -status");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("listen: " + root + "/missing: no such folder"), std::string::npos)
        << run.err;
    run = runRovaStatements("device -listen -port 0 -root \"" + root +
                            "\"; device -listen -port 0 -root \"" + root + "\"");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("listen: already listening on 127.0.0.1:"), std::string::npos)
        << run.err;
    run = runRovaStatements("device -listen -port 70000");
    EXPECT_NE(run.err.find("-port must be between 0 and 65535"), std::string::npos) << run.err;
    run = runRovaStatements("device -status -port 1");
    EXPECT_NE(run.err.find("-port and -root go with -listen"), std::string::npos) << run.err;
    // A port another program holds.
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    run = runRovaStatements("device -listen -port " + port + " -root \"" + root + "\"");
    ::close(taken);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("listen: cannot listen on 127.0.0.1:" + port + ": "), std::string::npos)
        << run.err;
    // Waiting for frames that never come fails, naming the state; listening again after a stop
    // works, and replaying ends listening.
    run = runRovaStatements("device -listen -port 0 -root \"" + root +
                            "\"; device -await 1 -timeout 0.05");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("await: 1 live frames did not arrive within 0.05 s (source live "),
              std::string::npos)
        << run.err;
    // With no live source there is nothing to wait for: it fails at once, saying so.
    run = runRovaStatements("device -await 0 -timeout 3600");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("await: no live source runs (source none"), std::string::npos)
        << run.err;
    run = runRovaStatements("device -listen -port 0 -root \"" + root +
                            "\"; device -stop; device -listen -port 0 -root \"" + root +
                            "\"; device -inject \"frame 1 t=0\"; device -status");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("source inject, connected"), std::string::npos) << run.out;
}

}  // namespace
