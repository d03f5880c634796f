// play -live: the host ticking in real time until a limit or a signal stops it, the scene and pose
// messages a page watching the performance gets, and the capture a live take leaves behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
using nlohmann::json;
namespace {

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string inQuotes(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

std::vector<json> messagesOf(const std::filesystem::path& path) {
    std::vector<json> messages;
    for (const std::string& line : linesOf(fileText(path))) messages.push_back(json::parse(line));
    return messages;
}

// The one object of a message's "objects" with that field value, or null.
json objectNamed(const json& message, const std::string& field, const std::string& name) {
    for (const json& object : message["objects"])
        if (object[field] == name)
            return object;
    return nullptr;
}

// The summary line's tick count and reason: "played N ticks live in S s (L late), REASON".
struct Summary {
    long long ticks = -1;
    double seconds = -1.0;
    std::string reason;
};
Summary summaryIn(const std::string& out) {
    static const std::regex line(R"(played (\d+) ticks? live in ([0-9.]+) s \(\d+ late\), (.*))");
    std::smatch match;
    Summary summary;
    if (std::regex_search(out, match, line)) {
        summary.ticks = std::stoll(match[1]);
        summary.seconds = std::stod(match[2]);
        summary.reason = match[3];
    }
    return summary;
}

const std::string kSwipe = std::string(ROVA_SOURCE_ROOT) + "/data/recordings/generated/swipe.kivo";

// A palm at 1 scene unit above the plane, then 0.2 below it (scale 0.01) where it dents it.
const std::string kDentTake =
    "kivo-recording version=1 rate=60 length=mm time=us gestures=none\n"
    "frame 1 t=0; hand 1 palm=0,100,0 normal=0,-1,0 dir=0,0,-1\n"
    "frame 2 t=16667; hand 1 palm=0,-20,0 normal=0,-1,0 dir=0,0,-1\n"
    "frame 3 t=33334; hand 1 palm=0,-20,0 normal=0,-1,0 dir=0,0,-1\n"
    "end frames=3 events=0\n";

TEST(LivePlay, ThePageGetsTheSceneWhenItChangesAndEveryTicksPoses) {
    TempDir dir;
    dir.write("probeCreateUI.rova", "\n");
    dir.write("probeDeleteUI.rova", "\n");
    const auto take = dir.write("dent.kivo", kDentTake);
    const auto log = dir.path() / "poses.jsonl";
    // The box follows the palm, the plane is dented by it; `spare` is deleted by a statement
    // that the first tick's idle time queues for the second's.
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\nplugin -load rova_probe\n"
        "create kivoTransform -name hand; set hand.live on; set hand.sc 0.01\n"
        "cube -name box -size 0.2; connect hand.outputPalm0 box.inputMatrix\n"
        "plane -name p -size 2 -divisions 4; cube -name spare\n"
        "deformer kivoDeformer p -name d; set d.radius 0.5; set d.ip0Enabled on\n"
        "connect hand.outputPalm0 d.inputPoint0\n"
        "probeQueue \"probeQueue \\\"delete spare\\\"\"\n"
        "device -replay " +
            inQuotes(take) + "\ntime -fps 100\nplay -live -frames 3 -poses " + inQuotes(log) +
            "\nget box.worldMatrix\npoints p\n",
        {"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "--script-path", dir.path().string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Summary summary = summaryIn(run.out);
    EXPECT_EQ(summary.ticks, 3) << run.out;
    EXPECT_EQ(summary.reason, "-frames reached") << run.out;

    const auto messages = messagesOf(log);
    std::vector<std::string> types;
    for (const json& message : messages) types.push_back(message["type"]);
    // Tick 1: the whole scene; tick 2: the dented plane and the deleted cube; tick 3: nothing
    // changed but the poses.
    ASSERT_EQ(types, (std::vector<std::string>{"scene", "poses", "scene", "poses", "poses"}))
        << fileText(log);

    const json& first = messages[0];
    EXPECT_EQ(first["full"], true);
    EXPECT_TRUE(first["removed"].empty());
    ASSERT_EQ(first["objects"].size(), 3u) << first;
    const json box = objectNamed(first, "name", "box");
    ASSERT_FALSE(box.is_null()) << first;
    EXPECT_EQ(box["shape"], "boxShape");
    EXPECT_EQ(box["positions"].size(), 8u * 3u);
    EXPECT_EQ(box["indices"].size(), 6u * 2u * 3u) << "each quad as two triangles";
    const json flat = objectNamed(first, "name", "p");
    ASSERT_FALSE(flat.is_null()) << first;
    EXPECT_EQ(flat["positions"].size(), 25u * 3u);
    for (std::size_t v = 0; v < 25; ++v) EXPECT_EQ(flat["positions"][3 * v + 1], 0.0) << v;

    // Poses: the box where the palm is, at the scene time of each tick.
    const std::vector<double> heights{1.0, -0.2, -0.2};
    const std::vector<std::size_t> posesAt{1, 3, 4};
    for (std::size_t tick = 0; tick < 3; ++tick) {
        const json& poses = messages[posesAt[tick]];
        EXPECT_DOUBLE_EQ(poses["time"].get<double>(), 0.01 * static_cast<double>(tick + 1));
        const json pose = objectNamed(poses, "name", "box");
        ASSERT_FALSE(pose.is_null()) << poses;
        ASSERT_EQ(pose["matrix"].size(), 16u);
        EXPECT_NEAR(pose["matrix"][12].get<double>(), 0.0, 1e-9) << poses;
        EXPECT_NEAR(pose["matrix"][13].get<double>(), heights[tick], 1e-9) << poses;
        EXPECT_NEAR(pose["matrix"][14].get<double>(), 0.0, 1e-9) << poses;
        EXPECT_EQ(objectNamed(poses, "name", "spare").is_null(), tick > 0) << poses;
    }
    // The last poses are what the host shows after the play.
    const auto printed = linesOf(run.out);
    const auto summaryAt = std::find_if(printed.begin(), printed.end(), [](const std::string& l) {
        return l.rfind("played ", 0) == 0;
    });
    ASSERT_GE(printed.end() - summaryAt, 1 + 1 + 25) << run.out;
    const auto matrix = numbersOf(*(summaryAt + 1));
    ASSERT_EQ(matrix.size(), 16u);
    const json last = objectNamed(messages[4], "name", "box");
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_DOUBLE_EQ(last["matrix"][i].get<double>(), matrix[i]) << i;

    // Only the dented plane goes out again, with the points the host shows, and the cube is gone.
    const json& dent = messages[2];
    EXPECT_EQ(dent["full"], false);
    ASSERT_EQ(dent["objects"].size(), 1u) << dent;
    EXPECT_EQ(dent["objects"][0]["name"], "p");
    EXPECT_EQ(dent["objects"][0]["indices"], flat["indices"]);
    const json& dented = dent["objects"][0]["positions"];
    ASSERT_EQ(dented.size(), 25u * 3u);
    EXPECT_LT(dented[3 * 12 + 1].get<double>(), -0.1) << "the centre is pushed in";
    for (std::size_t v = 0; v < 25; ++v) {
        const auto point = numbersOf(*(summaryAt + 2 + static_cast<long>(v)));
        ASSERT_EQ(point.size(), 3u);
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(dented[3 * v + c].get<float>(), static_cast<float>(point[c]))
                << v << " " << c;
    }
    EXPECT_EQ(dent["removed"], json::array({"spareShape"}));
}

TEST(LivePlay, AStatementATickRunsCannotStartASecondLivePlay) {
    TempDir dir;
    dir.write("probeCreateUI.rova", "\n");
    dir.write("probeDeleteUI.rova", "\n");
    const auto run = runRovaStatements(
        "plugin -load rova_probe\nprobeQueue \"play -live -frames 5\"\nplay -live -frames 3\n",
        {"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("play: a live play is already running"), std::string::npos) << run.err;
    EXPECT_EQ(summaryIn(run.out).ticks, 3) << run.out;
    EXPECT_EQ(linesOf(run.out).size(), 1u) << run.out;
}

TEST(LivePlay, AFrameLimitTicksInRealTimeAndTheCaptureItTookBakes) {
    TempDir dir;
    const auto capture = dir.path() / "take.kivo";
    const auto table = dir.path() / "take.csv";
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\ncreate kivoTransform -name hand; set hand.live on\n"
        "sphere -name palm -radius 0.5; connect hand.outputPalm0 palm.inputMatrix\n"
        "device -replay " +
        inQuotes(kSwipe) + "\ndevice -record " + inQuotes(capture) +
        "\ntime -fps 50\nplay -live -frames 10\ntime\ndevice -status\n"
        "device -replay " +
        inQuotes(capture) + "\nbake -frames 10 -start 1 -replay -output " +
        inQuotes(dir.path() / "take.glb") + " -table " + inQuotes(table) + " palm\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("play: live at 50 fps\n"), std::string::npos) << run.err;
    const Summary summary = summaryIn(run.out);
    EXPECT_EQ(summary.ticks, 10) << run.out;
    EXPECT_EQ(summary.reason, "-frames reached") << run.out;
    // Ticks are due every 1/50 s from the first: the tenth cannot come before 9/50 s.
    EXPECT_GE(summary.seconds, 0.18 - 0.005) << run.out;
    const auto printed = linesOf(run.out);
    const auto at = std::find(printed.begin(), printed.end(), "0.2");
    ASSERT_NE(at, printed.end()) << "ten frames on at 50 fps\n" << run.out;
    ASSERT_NE(at + 1, printed.end());
    EXPECT_EQ((at + 1)->find(", recording "), std::string::npos)
        << "the capture ended with the play: " << *(at + 1);

    // The take holds the ten frames the ticks delivered, and bakes like any replay: the palm
    // where the swipe's palm was, frame by frame (millimetres in the take, metres in the table).
    const std::string text = fileText(capture);
    EXPECT_NE(text.find("\nend frames="), std::string::npos) << text;
    const auto rows = linesOf(fileText(table));
    ASSERT_EQ(rows.size(), 11u);
    const auto source = linesOf(fileText(kSwipe));
    for (std::size_t f = 1; f <= 10; ++f) {
        static const std::regex palm(R"(palm=(-?[0-9.]+),(-?[0-9.]+),(-?[0-9.]+))");
        std::smatch match;
        ASSERT_TRUE(std::regex_search(source[f], match, palm)) << source[f];
        const auto cells = numbersOf(std::regex_replace(rows[f], std::regex(","), " "));
        ASSERT_GE(cells.size(), 5u) << rows[f];
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(cells[2 + c], std::stod(match[c + 1]) * 0.001, 1e-9)
                << "frame " << f << " " << rows[f];
    }
}

TEST(LivePlay, ASecondsLimitEndsThePlay) {
    const auto run = runRovaStatements("time -fps 200\nplay -live -seconds 0.05\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Summary summary = summaryIn(run.out);
    EXPECT_EQ(summary.reason, "-seconds reached") << run.out;
    EXPECT_GE(summary.ticks, 1) << run.out;
    EXPECT_LE(summary.ticks, 10) << "ticks are due every 1/200 s from the first: " << run.out;
    EXPECT_GE(summary.seconds, 0.05 - 0.005) << run.out;
}

TEST(LivePlay, ASignalEndsThePlayAfterItsTickAndTheCaptureIsComplete) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(::strsignal(signal));
        TempDir dir;
        const auto capture = dir.path() / "take.kivo";
        const auto script =
            dir.write("live.rova",
                      "plugin -load kivo_rova\ncreate kivoTransform -name hand\n"
                      "set hand.live on\ndevice -replay " +
                          inQuotes(kSwipe) + " -loop\ndevice -record " + inQuotes(capture) +
                          "\nplay -live\nprint(\"after the play\\n\")\ndevice -status\n");
        ChildProcess rova(rovaProgram(), {script.string()});
        // Once it says so, the play is under way and the signal is its to take.
        const std::string live = rova.readUntil("play: live at 24 fps\n");
        ASSERT_NE(live.find("play: live at 24 fps\n"), std::string::npos) << live;
        rova.send(signal);
        const std::string out = rova.readAll();
        const int ended = rova.wait();
        const Summary summary = summaryIn(out);
        EXPECT_EQ(summary.reason, "stopped by SIG" + std::string(::sigabbrev_np(signal))) << out;
        if (signal == SIGINT) {
            // Ctrl-C ends the play, and the script goes on.
            EXPECT_EQ(ended, 0) << out;
            EXPECT_EQ(rova.exitCode(), 0) << out;
            EXPECT_NE(out.find("after the play\n"), std::string::npos) << out;
            EXPECT_EQ(out.find(", recording "), std::string::npos) << out;
        } else {
            // SIGTERM still ends the program, once the tick and the capture are complete.
            EXPECT_EQ(ended, SIGTERM) << out;
            EXPECT_EQ(out.find("after the play"), std::string::npos) << out;
        }
        const std::string text = fileText(capture);
        ASSERT_NE(text.rfind("end frames="), std::string::npos) << text;
        const auto again = runRovaStatements("device -replay " + inQuotes(capture) +
                                             "\nplay -frames 1000\ndevice -status\n");
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_NE(again.out.find("(lockstep, finished)"), std::string::npos) << again.out;
    }
}

// The page's end of the stream, as a WebSocket client with no browser.
class PageClient {
  public:
    explicit PageClient(unsigned short port) {
        namespace asio = boost::asio;
        m_ws.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        m_ws.handshake("127.0.0.1:" + std::to_string(port), "/stream");
        m_ws.text(true);
    }
    // The next message of that type; the others (status) are passed over.
    json next(const std::string& type) {
        for (;;) {
            json message = next();
            if (message["type"] == type)
                return message;
        }
    }
    json next() {
        boost::beast::flat_buffer buffer;
        m_ws.read(buffer);
        return json::parse(boost::beast::buffers_to_string(buffer.data()));
    }
    void send(const std::string& text) { m_ws.write(boost::asio::buffer(text)); }
    void close() { m_ws.close(boost::beast::websocket::close_code::normal); }

  private:
    boost::asio::io_context m_ioc;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> m_ws{m_ioc};
};

TEST(LivePlay, ThePageStreamingToTheHostGetsTheSceneAndCanStopThePlay) {
    TempDir dir;
    const auto script =
        dir.write("live.rova", "cube -name box; move -a 1 2 3 box\ndevice -listen -port 0 -root " +
                                   inQuotes(dir.path()) +
                                   "\ntime -fps 50\nplay -live\nprint(\"after the play\\n\")\n");
    ChildProcess rova(rovaProgram(), {script.string()});
    const std::string live = rova.readUntil("play: live at 50 fps\n");
    std::smatch port;
    ASSERT_TRUE(
        std::regex_search(live, port, std::regex(R"(listening on http://127\.0\.0\.1:(\d+)/)")))
        << live;

    // Each page that connects gets the whole scene first, then the poses of every tick.
    for (int page = 0; page < 2; ++page) {
        SCOPED_TRACE(page);
        // The host lets the page before go as soon as it has closed; until then a new one is
        // told that another is streaming.
        std::unique_ptr<PageClient> connected;
        for (int attempt = 0; attempt < 1000 && !connected; ++attempt) {
            auto client =
                std::make_unique<PageClient>(static_cast<unsigned short>(std::stoi(port[1])));
            const json first = client->next();
            if (first["type"] == "welcome")
                connected = std::move(client);
            else
                ASSERT_EQ(first["reason"], "another client is streaming") << first;
        }
        ASSERT_TRUE(connected);
        PageClient& client = *connected;
        const json scene = client.next("scene");
        EXPECT_EQ(scene["full"], true);
        ASSERT_EQ(scene["objects"].size(), 1u) << scene;
        EXPECT_EQ(scene["objects"][0]["shape"], "boxShape");
        const json poses = client.next("poses");
        const json box = objectNamed(poses, "name", "box");
        ASSERT_FALSE(box.is_null()) << poses;
        EXPECT_EQ(box["matrix"][12], 1.0);
        EXPECT_EQ(box["matrix"][13], 2.0);
        EXPECT_EQ(box["matrix"][14], 3.0);
        EXPECT_GT(client.next("poses")["time"].get<double>(), poses["time"].get<double>());
        if (page == 0) {
            client.close();
            continue;
        }
        // The page's stop button ends the play as Ctrl-C does; the script goes on.
        client.send(R"({"type":"stop"})");
        const std::string out = rova.readUntil("after the play\n");
        EXPECT_EQ(summaryIn(out).reason, "stop requested") << out;
        EXPECT_NE(out.find("after the play\n"), std::string::npos) << out;
    }
    EXPECT_EQ(rova.wait(), 0);
    EXPECT_EQ(rova.exitCode(), 0);
}

TEST(LivePlay, ASignalTheProgramIgnoresStaysIgnored) {
    TempDir dir;
    const auto script =
        dir.write("live.rova",
                  "python(\"import signal; signal.signal(signal.SIGINT, signal.SIG_IGN)\")\n"
                  "play -live\nprint(\"after the play\\n\")\n");
    ChildProcess rova(rovaProgram(), {script.string()});
    const std::string live = rova.readUntil("play: live at 24 fps\n");
    ASSERT_NE(live.find("play: live at 24 fps\n"), std::string::npos) << live;
    rova.send(SIGINT);
    rova.send(SIGTERM);
    const std::string out = rova.readAll();
    EXPECT_EQ(rova.wait(), SIGTERM) << out;
    EXPECT_EQ(summaryIn(out).reason, "stopped by SIGTERM") << out;
}

TEST(LivePlay, LimitsAreCheckedBeforeAnythingRuns) {
    for (const auto& [statement, message] : std::vector<std::pair<std::string, std::string>>{
             {"play -seconds 1", "-seconds and -poses go with -live"},
             {"play -live -frames 0", "-frames must be 1 or more with -live, got 0"},
             {"play -live -frames 2 -seconds 1", "give -frames or -seconds, not both"},
             {"play -live -seconds 0", "-seconds must be greater than 0, got 0"},
             {"play", "-frames N is required (or -live)"},
         }) {
        const auto run = runRovaStatements("print(\"ran\\n\")\n" + statement + "\n");
        EXPECT_EQ(run.exitCode, 1) << statement;
        EXPECT_EQ(run.out, "") << statement;
        EXPECT_NE(run.err.find(message), std::string::npos) << statement << "\n" << run.err;
    }
}

}  // namespace
}  // namespace rova::test
