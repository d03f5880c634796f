// kivo-convert --frames: a tracked video's messages (one per line, as the tracker page collects
// them) become a recording with the video's timing, placed by the camera model; bad lines and
// settings are refused with where and why. Landmark files: what would lose the input or write a
// recording no reader takes is refused.
#include <kivo/Recording.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

using kivorova::testing::runProgram;
using kivorova::testing::TempDir;

kivorova::testing::RovaRun convert(const std::vector<std::string>& args) {
    return runProgram(KIVO_CONVERT_EXECUTABLE, args);
}

const std::string kAslFrames = std::string(KIVO_LANDMARK_DATA) + "/asl-fingerspelling.jsonl";

std::vector<std::string> aslLines() {
    std::ifstream in(kAslFrames);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// One of the real hand's messages with its time replaced.
std::string atTime(std::string line, const std::string& time) {
    const auto at = line.find("\"time\":") + 7;
    return line.replace(at, line.find(',', at) - at, time);
}

Kivo::Recording readBack(const fs::path& path) {
    Kivo::Recording rec;
    std::string error;
    EXPECT_TRUE(Kivo::readRecording(path.string(), rec, error)) << error;
    return rec;
}

const Kivo::FrameRecord& frameAt(const Kivo::Recording& rec, std::size_t i) {
    return std::get<Kivo::FrameRecord>(rec.entries.at(i));
}

TEST(KivoConvertFrames, ARealHandsVideoFramesBecomeARecordingWithItsTiming) {
    TempDir dir;
    const auto out = dir.path() / "asl.kivo";
    const auto run = convert({"--frames", kAslFrames, "-o", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("100 frames at 25 per second"), std::string::npos) << run.out;
    const auto rec = readBack(out);
    ASSERT_EQ(rec.frameCount(), 100u);
    EXPECT_EQ(rec.header.rate, 25.0) << "from the 40 ms between frames";
    EXPECT_FALSE(rec.header.gesturesRecorded) << "the device recognises gestures on replay";
    for (std::size_t f = 0; f < rec.entries.size(); ++f) {
        const auto& frame = frameAt(rec, f);
        EXPECT_EQ(frame.timestamp, static_cast<std::int64_t>(f) * 40000);
        ASSERT_EQ(frame.hands.size(), 1u);
        EXPECT_EQ(frame.hands[0].id, 1) << "one hand tracked throughout";
        ASSERT_EQ(frame.pointables.size(), 5u);
        for (const auto& p : frame.pointables) {
            EXPECT_GT(p.length, 20.0f);
        }
    }
    // The same messages give the same recording.
    const auto again = dir.path() / "again.kivo";
    ASSERT_EQ(convert({"--frames", kAslFrames, "-o", again.string()}).exitCode, 0);
    EXPECT_EQ(readBack(again), rec);

    // The camera model from -s: a wider lens puts the same image nearer the camera; a camera
    // nearer the space's centre puts the hand farther towards the performer.
    const Kivo::Vector palm = frameAt(rec, 0).hands[0].palmPosition;
    const auto wide = dir.path() / "wide.kivo";
    const auto wideRun =
        convert({"--frames", kAslFrames, "-o", wide.string(), "-s", "camera.fov=90"});
    ASSERT_EQ(wideRun.exitCode, 0) << wideRun.err;
    EXPECT_LT(frameAt(readBack(wide), 0).hands[0].palmPosition.z, palm.z - 50.0f);
    const auto near = dir.path() / "near.kivo";
    ASSERT_EQ(convert({"--frames", kAslFrames, "-o", near.string(), "-s", "camera.distance=400",
                       "-s", "camera.height=300"})
                  .exitCode,
              0);
    const Kivo::Vector moved = frameAt(readBack(near), 0).hands[0].palmPosition;
    EXPECT_NEAR(moved.z, palm.z + 100.0f, 0.01f);
    EXPECT_NEAR(moved.y, palm.y + 50.0f, 0.01f);
    EXPECT_NEAR(moved.x, palm.x, 0.01f);
}

// Frames a tracker skipped or lost: the recording keeps the video's times, the rate follows the
// usual interval, and a hand found again is a new hand.
TEST(KivoConvertFrames, KeepsUnevenTimesAndRenewsLostHands) {
    const auto lines = aslLines();
    TempDir dir;
    std::string empty = atTime(lines[3], "133.5");
    empty = empty.substr(0, empty.find("\"hands\":")) + "\"hands\":[]}";
    const auto frames = dir.write(
        "frames.jsonl", "{\"type\":\"hello\",\"client\":\"kivo-tracker\",\"version\":1}\n" +
                            atTime(lines[0], "0") + "\n\n" + atTime(lines[1], "33.25") + "\n" +
                            atTime(lines[2], "66.5") + "\n" + atTime(lines[3], "99.75") + "\n" +
                            empty + "\n" + atTime(lines[4], "200") + "\r\n");
    const auto out = dir.path() / "uneven.kivo";
    const auto run = convert({"--frames", frames.string(), "-o", out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto rec = readBack(out);
    ASSERT_EQ(rec.frameCount(), 6u);
    EXPECT_NEAR(rec.header.rate, 1000.0 / 33.25, 1e-9);
    const std::vector<std::int64_t> times{0, 33250, 66500, 99750, 133500, 200000};
    for (std::size_t f = 0; f < times.size(); ++f) {
        EXPECT_EQ(frameAt(rec, f).timestamp, times[f]);
    }
    EXPECT_TRUE(frameAt(rec, 4).hands.empty());
    EXPECT_EQ(frameAt(rec, 3).hands.at(0).id, 1);
    EXPECT_EQ(frameAt(rec, 5).hands.at(0).id, 2) << "lost and found again";
}

TEST(KivoConvertFrames, RefusesBadLinesAndSettingsSayingWhere) {
    const auto lines = aslLines();
    TempDir dir;
    const auto out = dir.path() / "out.kivo";
    auto shortHand = lines[2];
    const auto cut = shortHand.find("],[", shortHand.find("\"image\":"));
    shortHand.erase(cut, shortHand.find("],[", cut + 1) - cut);  // 20 image landmarks
    const struct {
        std::string text;
        std::string error;
    } files[] = {
        {lines[0] + "\n" + lines[1] + "\n" + shortHand + "\n",
         ":3: hands[0].image: expected 21 landmarks, got 20"},
        {lines[0] + "\n" + lines[1] + "\n" + atTime(lines[2], "40") + "\n",
         ":3: time: 40 ms does not follow the previous frame's 40 ms"},
        {lines[0] + "\nnot json\n", ":2: message: not valid JSON"},
        {atTime(lines[0], "0") + "\n" + atTime(lines[1], "1e14") + "\n",
         ":2: time: 100000000000000 ms is more than 1000000000000 ms after the first frame's 0 "
         "ms (the most a recording holds)"},
        {"\n{\"type\":\"hello\"}\n", ": no frames"},
    };
    for (const auto& f : files) {
        const auto path = dir.write("bad.jsonl", f.text);
        const auto run = convert({"--frames", path.string(), "-o", out.string()});
        EXPECT_EQ(run.exitCode, 1) << f.error;
        EXPECT_NE(run.err.find(path.string() + f.error), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out)) << "nothing written for " << f.error;
    }

    const struct {
        std::vector<std::string> args;
        std::string error;
    } settings[] = {
        {{"-s", "camera.fov=500"}, "camera.fov must be between 10"},
        {{"-s", "camera.fov=wide"}, "camera.fov takes a finite number"},
        {{"-s", "camera.zoom=2"}, "no such key (camera.fov, camera.hand_size"},
        {{"-s", "camera.fov"}, "expected KEY=VALUE"},
    };
    for (const auto& s : settings) {
        auto args = std::vector<std::string>{"--frames", kAslFrames, "-o", out.string()};
        args.insert(args.end(), s.args.begin(), s.args.end());
        const auto run = convert(args);
        EXPECT_EQ(run.exitCode, 1) << s.error;
        EXPECT_NE(run.err.find(s.error), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_NE(convert({"-o", out.string()}).exitCode, 0) << "no input";
    EXPECT_NE(convert({kAslFrames, "--frames", kAslFrames, "-o", out.string()}).exitCode, 0)
        << "two inputs";
    // What shapes a landmark file does not apply to frames: refused, not silently left out.
    for (const std::string option : {"--resample", "--noise", "--hold", "--rate"}) {
        const auto run = convert({"--frames", kAslFrames, option, "2", "-o", out.string()});
        EXPECT_NE(run.exitCode, 0) << option;
        EXPECT_NE(run.err.find(option), std::string::npos) << run.err;
    }
    EXPECT_NE(convert({"--frames", kAslFrames, "--leave", "-o", out.string()}).exitCode, 0);
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace

namespace {

// A flat open hand in metres, 21 landmarks (wrist, then each finger from base to tip), moved
// along x by `shift`; one coordinate replaced by `far` when it is not zero.
std::string handLandmarks(double shift, double far = 0.0) {
    std::ostringstream out;
    out << "[[" << shift << ",0,0]";
    const double xs[] = {-0.03, -0.015, 0.0, 0.015, 0.03};
    for (int finger = 0; finger < 5; ++finger)
        for (int joint = 0; joint < 4; ++joint)
            out << ",[" << xs[finger] + shift << "," << 0.06 + 0.02 * joint << ","
                << (finger == 0 ? 0.01 * joint : 0.0) << "]";
    out << "]";
    std::string text = out.str();
    if (far != 0.0) {
        std::ostringstream value;
        value << far;
        text.replace(2, std::to_string(0).size(), value.str());
    }
    return text;
}

TEST(KivoConvertLandmarks, RefusesWhatWouldLoseItsInputOrWriteNumbersNoReaderTakes) {
    TempDir dir;
    const std::string good =
        "[" + handLandmarks(0.0) + "," + handLandmarks(0.01) + "," + handLandmarks(0.02) + "]";
    const auto input = dir.write("hand.json", good);
    const auto out = dir.path() / "out.kivo";
    ASSERT_EQ(convert({input.string(), "-o", out.string()}).exitCode, 0);
    EXPECT_EQ(readBack(out).frameCount(), 3u);

    // The output naming the input: the landmarks would be lost.
    const auto same = convert({input.string(), "-o", (dir.path() / "." / "hand.json").string()});
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_NE(same.err.find("would overwrite its input"), std::string::npos) << same.err;
    std::ifstream kept(input);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), good);

    // A landmark 1e30 m out: a finger's length would overflow; refused with the frame.
    const auto far =
        dir.write("far.json", "[" + handLandmarks(0.0) + "," + handLandmarks(0.0, 1e30) + "]");
    const auto farOut = dir.path() / "far.kivo";
    const auto refused = convert({far.string(), "-o", farOut.string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(far.string() + ": frame 1: landmark 0 lands more than"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(farOut));

    // Options out of range are named as such, not blamed on the input.
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"--height", "nan"}, {"--height", "1e308"}, {"--mm-per-pixel", "0"}}) {
        const auto run = convert({input.string(), option, value, "-o", farOut.string()});
        EXPECT_EQ(run.exitCode, 1) << option << " " << value;
        EXPECT_NE(run.err.find("kivo-convert: " + option.substr(2) + ": must be"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_FALSE(fs::exists(farOut));
}

}  // namespace
