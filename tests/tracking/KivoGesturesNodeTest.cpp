// The gestures node in the headless host: gestures injected into the simulated device as lines
// of the recording format, or replayed in lockstep, and the node's outputs read with `get`.
// Each `refresh` (and each `play` tick) lets the live data thread finish a pass over the newest
// device frame first, so the reads after it show that frame's record.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaScript;

// A node `g` whose data thread runs; the device has no source yet.
const std::string kLiveNode =
    "plugin -load kivo_rova\n"
    "create kivoGesturesNode -name g\n"
    "set g.live on\n";

// Parts of a frame line, in the recording format.
std::string swipe(int id, const std::string& state, long long duration,
                  const std::string& position = "0,0,0", const std::string& direction = "1,0,0",
                  const std::string& speed = "800", const std::string& start = "0,0,0") {
    return "gesture " + std::to_string(id) + " type=swipe state=" + state +
           " duration=" + std::to_string(duration) + " hand=0 pointable=0 start=" + start +
           " position=" + position + " direction=" + direction + " speed=" + speed;
}

std::string circle(int id, const std::string& state, long long duration,
                   const std::string& center = "0,0,0", const std::string& normal = "0,0,1",
                   const std::string& radius = "40", const std::string& progress = "1.25") {
    return "gesture " + std::to_string(id) + " type=circle state=" + state +
           " duration=" + std::to_string(duration) + " hand=0 pointable=0 center=" + center +
           " normal=" + normal + " radius=" + radius + " progress=" + progress;
}

// type: screen-tap or key-tap.
std::string tap(int id, const std::string& type, const std::string& state, long long duration,
                const std::string& position = "0,0,0", const std::string& direction = "0,0,-1") {
    return "gesture " + std::to_string(id) + " type=" + type + " state=" + state +
           " duration=" + std::to_string(duration) + " hand=0 pointable=0 position=" + position +
           " direction=" + direction;
}

// One frame line at time t (microseconds) with the given parts.
std::string frameLine(int id, const std::vector<std::string>& parts) {
    std::string line = "frame " + std::to_string(id) + " t=" + std::to_string(id * 10000);
    for (const std::string& part : parts) {
        line += "; " + part;
    }
    return line;
}

// The statement that delivers one frame to the device.
std::string inject(int id, const std::vector<std::string>& parts = {}) {
    return "device -inject \"" + frameLine(id, parts) + "\"\n";
}

// Statements that print each plug's value, one line each.
std::string gets(const std::vector<std::string>& plugs) {
    std::string text;
    for (const std::string& plug : plugs) {
        text += "get g." + plug + "\n";
    }
    return text;
}

// The printed lines after the node's name (what `create` printed).
std::vector<std::string> values(const RovaRun& run) {
    auto lines = linesOf(run.out);
    if (!lines.empty() && lines.front() == "g") {
        lines.erase(lines.begin());
    }
    return lines;
}

void expectVector(const std::string& line, double x, double y, double z) {
    const auto numbers = numbersOf(line);
    ASSERT_EQ(numbers.size(), 3u) << line;
    EXPECT_NEAR(numbers[0], x, 1e-9) << line;
    EXPECT_NEAR(numbers[1], y, 1e-9) << line;
    EXPECT_NEAR(numbers[2], z, 1e-9) << line;
}

// ---------------------------------------------------------------- which gesture is shown

TEST(KivoGesturesNodeRecords, FrameWithoutGesturesShowsStatesMinusOneAndKeepsTheRest) {
    // A first frame sets every output of the four types; the second has no gesture.
    const auto run = runRovaScript(
        kLiveNode +
        inject(1, {swipe(1, "start", 1000, "100,200,-50", "2,0,0", "800"),
                   circle(2, "update", 2000, "10,20,30", "0,0,3", "40", "1.5"),
                   tap(3, "screen-tap", "start", 3000, "1,2,3", "0,0,-1"),
                   tap(4, "key-tap", "start", 4000, "4,5,6", "0,-1,0")}) +
        "refresh\n" + gets({"swipeState", "circleState", "screenTapState", "keyTapState"}) +
        "device -status\n" + inject(2) + "refresh\n" +
        gets({"swipeState",         "circleState",    "screenTapState",    "keyTapState",
              "swipeDuration",      "swipeDirection", "swipePosition",     "swipeSpeed",
              "swipeStartPosition", "circleDuration", "circleCenter",      "circleNormal",
              "circleProgress",     "circleRadius",   "screenTapDuration", "screenTapDirection",
              "screenTapPosition",  "keyTapDuration", "keyTapDirection",   "keyTapPosition"}) +
        "device -status\nget g.frameId\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = values(run);
    ASSERT_EQ(lines.size(), 27u) << run.out;
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "2");
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(lines[3], "1");
    // No gesture of any type: every state reads -1 ...
    EXPECT_EQ(lines[5], "-1");
    EXPECT_EQ(lines[6], "-1");
    EXPECT_EQ(lines[7], "-1");
    EXPECT_EQ(lines[8], "-1");
    // ... and every other output keeps what the first frame wrote.
    EXPECT_EQ(lines[9], "1000");
    expectVector(lines[10], 0.05, 0, 0);
    expectVector(lines[11], 5, 10, -2.5);
    EXPECT_EQ(lines[12], "800");
    expectVector(lines[13], 0, 0, 0);
    EXPECT_EQ(lines[14], "2000");
    expectVector(lines[15], 0.5, 1, 1.5);
    expectVector(lines[16], 0, 0, 0.05);
    EXPECT_EQ(lines[17], "1.5");
    EXPECT_EQ(lines[18], "2");
    EXPECT_EQ(lines[19], "3000");
    expectVector(lines[20], 0, 0, -0.05);
    expectVector(lines[21], 0.05, 0.1, 0.15);
    EXPECT_EQ(lines[22], "4000");
    expectVector(lines[23], 0, -0.05, 0);
    expectVector(lines[24], 0.2, 0.25, 0.3);
    // frameId shows the id the device gave the second frame.
    const std::string status = lines[25];
    const auto at = status.find("frame ");
    ASSERT_NE(at, std::string::npos) << status;
    EXPECT_EQ(lines[26], std::to_string(std::stoll(status.substr(at + 6)))) << status;
}

TEST(KivoGesturesNodeRecords, OldestKeptGestureOfATypeIsShown) {
    struct Case {
        int swipes;
        std::string shownDuration;
    };
    // Three swipes: the first. Twelve: the record keeps the last ten, so the third.
    for (const Case& c : {Case{3, "1000"}, Case{12, "3000"}}) {
        SCOPED_TRACE(c.swipes);
        std::vector<std::string> parts;
        for (int k = 1; k <= c.swipes; ++k) {
            parts.push_back(swipe(k, k == 1 ? "start" : "update", k * 1000LL));
        }
        const auto run =
            runRovaScript(kLiveNode + inject(1, parts) + "refresh\n" + gets({"swipeDuration"}));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(values(run), std::vector<std::string>{c.shownDuration}) << run.out;
    }
}

TEST(KivoGesturesNodeRecords, FirstRecordHoldsItsOwnFrameLaterOnesEverythingSinceThePushedOne) {
    // Frames 1 and 2 come before the node is live: its first record is frame 2's alone.
    // Frames 3 and 4 come while it is stopped again: the next record holds both, after the
    // frame it pushed last, and a gesture updated twice counts twice.
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoGesturesNode -name g\n" +
        inject(1, {swipe(1, "start", 1000)}) + inject(2, {circle(2, "start", 2000)}) +
        "set g.live on\nrefresh\n" + gets({"swipeState", "circleState"}) + "set g.live off\n" +
        inject(3, {tap(3, "key-tap", "start", 3000)}) +
        inject(4, {tap(3, "key-tap", "stop", 3500), tap(4, "key-tap", "start", 100)}) +
        "set g.live on\nrefresh\n" + gets({"swipeState", "circleState", "keyTapState"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run), (std::vector<std::string>{"-1", "1", "-1", "-1", "1"})) << run.out;
}

TEST(KivoGesturesNodeRecords, RecordsNotYetReadAreShownOnceEachOldestFirst) {
    // Two ticks push a tap's start and its stop before anything reads the node; each read
    // after an input change takes the next record, so neither update is lost.
    const auto run = runRovaScript(kLiveNode + inject(1, {tap(1, "key-tap", "start", 100)}) +
                                   "refresh\n" + inject(2, {tap(1, "key-tap", "stop", 16000)}) +
                                   "refresh\n"
                                   "get g.keyTapState\n"
                                   "set g.scale 0.05\n"
                                   "get g.keyTapState\n"
                                   "set g.scale 0.05\n"
                                   "evaluate g.keyTapState\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        values(run),
        (std::vector<std::string>{
            "1", "3", "evaluate: g.keyTapState: status 1, stored value kept, plug left dirty: 3"}))
        << run.out;
}

TEST(KivoGesturesNodeRecords, EveryWaitingRecordShowsOnTheFollowingTicksWithoutANewFrame) {
    // Two ticks push a tap's start and its stop before anything reads the node; no frame comes
    // after, yet the ticks that follow show the record still waiting, and then nothing new.
    const auto run = runRovaScript(kLiveNode + inject(1, {tap(1, "key-tap", "start", 100)}) +
                                   "refresh\n" + inject(2, {tap(1, "key-tap", "stop", 16000)}) +
                                   "refresh\n"
                                   "get g.keyTapState\n"
                                   "refresh\n"
                                   "get g.keyTapState\n"
                                   "refresh\nrefresh\n"
                                   "get g.keyTapDuration\n"
                                   "evaluate g.keyTapState\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run),
              (std::vector<std::string>{
                  "1", "3", "16000",
                  "evaluate: g.keyTapState: status 1, stored value kept, plug left dirty: 3"}))
        << run.out;
}

TEST(KivoGesturesNodeRecords, DevicesWiderValuesShowTheirLow32Bits) {
    // Durations are microseconds up to 10^15 in the device.
    const auto run = runRovaScript(
        kLiveNode +
        inject(1, {swipe(1, "start", 4294967296LL + 7), circle(2, "start", 2147483648LL),
                   tap(3, "screen-tap", "start", 2147483647LL),
                   tap(4, "key-tap", "start", 8589934589LL)}) +
        "refresh\n" +
        gets({"swipeDuration", "circleDuration", "screenTapDuration", "keyTapDuration"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run), (std::vector<std::string>{"7", "-2147483648", "2147483647", "-3"}))
        << run.out;
}

TEST(KivoGesturesNodeRecords, EveryNodeOfTheTypeSeesTheGestures) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoGesturesNode -name g\ncreate kivoGesturesNode -name h\n"
        "set g.live on\nset h.live on\n" +
        inject(1, {tap(1, "screen-tap", "start", 500)}) +
        "refresh\nget g.screenTapState\nget h.screenTapState\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "g\nh\n1\n1\n");
}

// ---------------------------------------------------------------- placing vectors in the scene

// One swipe and one circle read back through the node's mapping inputs.
RovaRun mapped(const std::string& settings, const std::string& swipePart,
               const std::string& circlePart, const std::vector<std::string>& plugs) {
    return runRovaScript(kLiveNode + settings + inject(1, {swipePart, circlePart}) + "refresh\n" +
                         gets(plugs));
}

TEST(KivoGesturesNodeMapping, ScaleAndOffsetPlacePointsAndDirectionsAlike) {
    const std::string swipePart = swipe(1, "start", 10, "100,200,-50", "2,0,0", "800", "4,0,-8");
    const std::string circlePart = circle(2, "start", 10, "20,0,0", "0,0,0", "40", "0.75");
    const std::vector<std::string> plugs = {"swipeDirection", "swipePosition", "swipeStartPosition",
                                            "swipeSpeed",     "circleNormal",  "circleRadius",
                                            "circleProgress"};
    {
        SCOPED_TRACE("default scale 0.05, no offset");
        const auto run = mapped("", swipePart, circlePart, plugs);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = values(run);
        ASSERT_EQ(lines.size(), 7u) << run.out;
        expectVector(lines[0], 0.05, 0, 0);
        expectVector(lines[1], 5, 10, -2.5);
        expectVector(lines[2], 0.2, 0, -0.4);
        EXPECT_EQ(lines[3], "800");
        // A zero normal stays zero and then lands where the point (0, 0, 0) does.
        expectVector(lines[4], 0, 0, 0);
        EXPECT_EQ(lines[5], "2");
        EXPECT_EQ(lines[6], "0.75");
    }
    {
        SCOPED_TRACE("offset 1 2 3 moves vectors, not the radius");
        const auto run = mapped("set g.offset 1 2 3\n", swipePart, circlePart, plugs);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = values(run);
        ASSERT_EQ(lines.size(), 7u) << run.out;
        expectVector(lines[0], 1.05, 2, 3);
        expectVector(lines[1], 6, 12, 0.5);
        expectVector(lines[4], 1, 2, 3);
        EXPECT_EQ(lines[5], "2");
    }
    {
        SCOPED_TRACE("scale 2: speed and progress unscaled, radius scaled");
        const auto run = mapped("set g.scale 2\n", swipePart, circlePart, plugs);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = values(run);
        ASSERT_EQ(lines.size(), 7u) << run.out;
        expectVector(lines[0], 2, 0, 0);
        expectVector(lines[1], 200, 400, -100);
        EXPECT_EQ(lines[3], "800");
        EXPECT_EQ(lines[5], "80");
        EXPECT_EQ(lines[6], "0.75");
    }
}

TEST(KivoGesturesNodeMapping, CameraSwitches) {
    const std::string swipePart = swipe(1, "start", 10, "100,200,-50");
    const std::string circlePart = circle(2, "start", 10);
    // A camera turned a quarter about +Y at (1, 2, 3): right -Z, up +Y, back +X.
    const std::string turnedCamera =
        "camera -name cam\nrotate -os 0 90 0 cam\nmove -a 1 2 3 cam\nview -camera cam\n";
    struct Case {
        std::string name;
        std::string settings;
        double x, y, z;
    };
    const Case cases[] = {
        // The position switch alone does nothing.
        {"position switch alone", "set g.relativeToCameraPos on\n", 5, 10, -2.5},
        {"position switch alone, turned camera", turnedCamera + "set g.relativeToCameraPos on\n", 5,
         10, -2.5},
        // The default camera sits at (0, 0, 10) looking down -Z.
        {"both switches, default camera",
         "set g.relativeToCameraRot on\nset g.relativeToCameraPos on\n", 5, 10, 7.5},
        {"rotation only, turned camera", turnedCamera + "set g.relativeToCameraRot on\n", -2.5, 10,
         -5},
        {"both switches, turned camera",
         turnedCamera + "set g.relativeToCameraRot on\nset g.relativeToCameraPos on\n", -1.5, 12,
         -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = mapped(c.settings, swipePart, circlePart, {"swipePosition"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = linesOf(run.out);
        ASSERT_FALSE(lines.empty()) << run.out;
        expectVector(lines.back(), c.x, c.y, c.z);
    }
}

// ---------------------------------------------------------------- what compute answers

TEST(KivoGesturesNodeCompute, FrameIdAloneIsDeclined) {
    const auto run = runRovaScript(kLiveNode + inject(1, {swipe(1, "start", 1)}) +
                                   "refresh\n"
                                   "evaluate g.frameId\n"
                                   "evaluate g.scale\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run),
              (std::vector<std::string>{"evaluate: g.frameId: status 5, stored value kept: 0",
                                        "evaluate: g.scale: status 5, stored value kept: 0.05"}))
        << run.out;
}

TEST(KivoGesturesNodeCompute, WithoutANewRecordANewMappingPlacesTheLastOneAgain) {
    // Nothing pushed yet: evaluation fails. Then one record, read; an input change brings no
    // record, so the outputs show that record again with the new scale; with no change and no
    // record evaluation fails and the outputs stay.
    const auto run = runRovaScript(kLiveNode +
                                   "evaluate g.swipeState\n"
                                   "evaluate g.swipePositionX\n" +
                                   inject(1, {swipe(1, "start", 1, "100,200,-50")}) +
                                   "refresh\n"
                                   "get g.swipePosition\n"
                                   "set g.scale 1\n"
                                   "refresh\n"
                                   "get g.swipePosition\n"
                                   "get g.swipeState\n"
                                   "set g.offset 0 0 1\n"
                                   "evaluate g.swipePosition\n"
                                   "evaluate g.swipeState\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run),
              (std::vector<std::string>{
                  "evaluate: g.swipeState: status 1, stored value kept, plug left dirty: -1",
                  "evaluate: g.swipePositionX: status 1, stored value kept, plug left dirty: 0",
                  "5 10 -2.5", "100 200 -50", "1",
                  "evaluate: g.swipePosition: status 0, computed: 100 200 -49",
                  "evaluate: g.swipeState: status 1, stored value kept, plug left dirty: 1"}))
        << run.out;
}

// ---------------------------------------------------------------- lockstep replay

std::filesystem::path writeRecording(const std::string& name, const std::vector<std::string>& lines,
                                     int frames) {
    const auto path =
        std::filesystem::temp_directory_path() /
        (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".kivo");
    std::ofstream out(path);
    out << "kivo-recording version=1 rate=60 length=mm time=us gestures=recorded\n";
    for (const std::string& line : lines) {
        out << line << "\n";
    }
    out << "end frames=" << frames << " events=0\n";
    return path;
}

TEST(KivoGesturesNodeReplay, EachTickShowsItsFramesGestures) {
    // A key tap starts and stops on consecutive frames, a swipe runs over three.
    const auto path = writeRecording(
        "gestures-lockstep",
        {frameLine(1, {}), frameLine(2, {tap(1, "key-tap", "start", 1000, "0,150,0", "0,-1,0")}),
         frameLine(3, {tap(1, "key-tap", "stop", 17000, "0,150,0", "0,-1,0"),
                       swipe(2, "start", 1000, "20,200,0")}),
         frameLine(4, {swipe(2, "update", 17000, "40,200,0")}),
         frameLine(5, {swipe(2, "stop", 33000, "60,200,0")}), frameLine(6, {})},
        6);
    std::string script = kLiveNode + "device -replay " + path.string() + "\n";
    for (int tick = 0; tick < 6; ++tick) {
        script += "play -frames 1\n" + gets({"keyTapState", "swipeState", "swipePositionX"});
    }
    const auto run = runRovaScript(script);
    std::filesystem::remove(path);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(values(run), (std::vector<std::string>{"-1", "-1", "0",  //
                                                     "1", "-1", "0",   //
                                                     "3", "1", "1",    //
                                                     "-1", "2", "2",   //
                                                     "-1", "3", "3",   //
                                                     "-1", "-1", "3"}))
        << run.out;
}

}  // namespace
