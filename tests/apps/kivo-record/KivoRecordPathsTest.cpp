// kivo-record --paths: the OBJ it writes is read back as a mesh viewer would and compared with
// the recording that was replayed.
#include <gtest/gtest.h>
#include <kivo/Recording.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"

namespace {

namespace fs = std::filesystem;

using ProgramRun = kivorova::testing::RovaRun;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs kivo-record with its standard output and error sent to files (so neither is a terminal).
ProgramRun runKivoRecord(const std::vector<std::string>& args) {
    return kivorova::testing::runProgram(KIVO_RECORD_EXECUTABLE, args);
}

struct Point {
    double x = 0, y = 0, z = 0;
};

double distance(const Point& a, const Point& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

// One object of an OBJ file: its polylines (and lone points) resolved to their vertices.
struct ObjObject {
    std::vector<std::vector<Point>> polylines;
    std::vector<Point> points;
};

// Reads the records a polyline file uses (o, v, l, p, comments); anything else, or an index that
// is no vertex of the object it appears in, is an error naming the line.
struct ObjFile {
    std::map<std::string, ObjObject> objects;
    std::size_t vertexCount = 0;
    std::string error;
};

ObjFile parseObj(const std::string& text) {
    ObjFile obj;
    std::vector<Point> vertices;
    std::string current;
    std::size_t firstVertexOfObject = 0;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    const auto fail = [&](const std::string& why) {
        obj.error = "line " + std::to_string(number) + ": " + why + ": '" + line + "'";
        return obj;
    };
    while (std::getline(lines, line)) {
        ++number;
        std::istringstream fields(line);
        std::string record;
        if (!(fields >> record) || record[0] == '#') {
            continue;
        }
        if (record == "o") {
            if (!(fields >> current) || obj.objects.count(current) != 0) {
                return fail("missing or repeated object name");
            }
            obj.objects[current];
            firstVertexOfObject = vertices.size() + 1;
        } else if (record == "v") {
            Point p;
            std::string rest;
            if (!(fields >> p.x >> p.y >> p.z) || (fields >> rest) || !std::isfinite(p.x) ||
                !std::isfinite(p.y) || !std::isfinite(p.z)) {
                return fail("a vertex needs three finite numbers");
            }
            vertices.push_back(p);
        } else if (record == "l" || record == "p") {
            if (current.empty()) {
                return fail("element outside any object");
            }
            std::vector<Point> resolved;
            long index = 0;
            while (fields >> index) {
                if (index < static_cast<long>(firstVertexOfObject) ||
                    index > static_cast<long>(vertices.size())) {
                    return fail("index " + std::to_string(index) + " is no vertex of the object");
                }
                resolved.push_back(vertices[static_cast<std::size_t>(index - 1)]);
            }
            if (!fields.eof() || resolved.empty() || (record == "l" && resolved.size() < 2)) {
                return fail("bad element");
            }
            if (record == "l") {
                obj.objects[current].polylines.push_back(resolved);
            } else {
                obj.objects[current].points.insert(obj.objects[current].points.end(),
                                                   resolved.begin(), resolved.end());
            }
        } else {
            return fail("unexpected record");
        }
    }
    obj.vertexCount = vertices.size();
    return obj;
}

// What the recording holds, per object name the OBJ should have: every palm and tip position in
// the order of the frames.
std::map<std::string, std::vector<Point>> expectedTracks(const std::string& recordingPath) {
    Kivo::Recording recording;
    std::string error;
    EXPECT_TRUE(Kivo::readRecording(recordingPath, recording, error)) << error;
    std::map<std::string, std::vector<Point>> tracks;
    const auto point = [](const Kivo::Vector& v) { return Point{v.x, v.y, v.z}; };
    for (const auto& entry : recording.entries) {
        if (const auto* frame = std::get_if<Kivo::FrameRecord>(&entry)) {
            for (const auto& hand : frame->hands) {
                tracks["palm_" + std::to_string(hand.id)].push_back(point(hand.palmPosition));
            }
            for (const auto& pointable : frame->pointables) {
                tracks["pointable_" + std::to_string(pointable.id)].push_back(
                    point(pointable.tipPosition));
            }
        }
    }
    return tracks;
}

// "FILE: 90 frames; swipe 1 circle 0 screen-tap 0 key-tap 0" -> {swipe: 1, ...}
std::map<std::string, int> gestureCounts(const std::string& summary) {
    std::map<std::string, int> counts;
    std::istringstream words(summary.substr(summary.find(';') + 1));
    std::string type;
    int count = 0;
    while (words >> type >> count) {
        counts[type] = count;
    }
    return counts;
}

std::vector<Point> samplesOf(const ObjObject& object) {
    std::vector<Point> samples = object.points;
    for (const auto& polyline : object.polylines) {
        samples.insert(samples.end(), polyline.begin(), polyline.end());
    }
    return samples;
}

// Written with three decimals.
constexpr double kTolerance = 0.001;

class KivoRecordPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        m_scratch =
            fs::temp_directory_path() / ("kivo-record-" + std::to_string(::getpid()) + "-" + name);
        fs::create_directories(m_scratch);
    }
    void TearDown() override { fs::remove_all(m_scratch); }

    static std::string recording(const std::string& name) {
        return std::string(KIVO_RECORDINGS_DIR) + "/" + name;
    }

    // Replays `name` with --paths and checks what every replay's OBJ must satisfy: it parses,
    // has one object per palm and pointable of the recording, each tracing the recorded
    // positions in order, and one marker per gesture the summary counts.
    ObjFile replayWithPaths(const std::string& name, const std::vector<std::string>& extra = {}) {
        const fs::path objPath = m_scratch / "paths.obj";
        std::vector<std::string> args{recording(name), "--paths", objPath.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProgramRun run = runKivoRecord(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "") << "nothing on standard error when it is not a terminal";
        ObjFile obj = parseObj(readText(objPath));
        EXPECT_EQ(obj.error, "") << name;

        const auto tracks = expectedTracks(recording(name));
        std::map<std::string, int> markers;
        for (const auto& [objectName, object] : obj.objects) {
            const auto track = tracks.find(objectName);
            if (track == tracks.end()) {
                const std::string type = objectName.substr(0, objectName.rfind('_'));
                ++markers[type];
                EXPECT_EQ(object.polylines.size(), 1u) << objectName;
                EXPECT_EQ(samplesOf(object).size(), 2u) << objectName;
                continue;
            }
            const auto samples = samplesOf(object);
            EXPECT_EQ(samples.size(), track->second.size()) << objectName;
            if (object.points.empty()) {
                // Polylines follow the frames in order.
                for (std::size_t i = 0; i < std::min(samples.size(), track->second.size()); ++i) {
                    if (distance(samples[i], track->second[i]) > kTolerance) {
                        ADD_FAILURE() << objectName << " sample " << i << " is off the recording";
                        break;
                    }
                }
            }
        }
        for (const auto& [trackName, positions] : tracks) {
            EXPECT_EQ(obj.objects.count(trackName), 1u) << trackName << " has no object";
        }
        for (const auto& [type, count] : gestureCounts(run.out)) {
            EXPECT_EQ(markers[type], count) << type << " markers in " << name;
            markers.erase(type);
        }
        EXPECT_TRUE(markers.empty())
            << "objects of no palm, pointable or gesture: " << markers.begin()->first;
        return obj;
    }

    fs::path m_scratch;
};

TEST_F(KivoRecordPaths, SwipeTracesThePalmAndTipsAndMarksTheStroke) {
    const ObjFile obj = replayWithPaths("generated/swipe.kivo");
    ASSERT_EQ(obj.error, "");
    std::set<std::string> names;
    for (const auto& [name, object] : obj.objects) {
        names.insert(name);
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"palm_1", "pointable_10", "pointable_11", "pointable_12",
                                     "pointable_13", "pointable_14", "swipe_1"}));
    ASSERT_EQ(obj.objects.count("swipe_1"), 1u);
    const auto& stroke = obj.objects.at("swipe_1").polylines.at(0);
    // From where the swipe started to where it ended, both on the pointing finger's path, across
    // the device from left to right.
    const auto tip = samplesOf(obj.objects.at("pointable_11"));
    for (const Point& end : stroke) {
        const bool onPath = std::any_of(
            tip.begin(), tip.end(), [&](const Point& p) { return distance(p, end) < kTolerance; });
        EXPECT_TRUE(onPath) << "marker end " << end.x << "," << end.y << "," << end.z;
    }
    EXPECT_GT(stroke[1].x - stroke[0].x, 120.0);
}

TEST_F(KivoRecordPaths, EveryGeneratedAndRealRecordingGivesMatchingPaths) {
    for (const char* name : {"generated/circle.kivo", "generated/screen-tap.kivo",
                             "generated/key-tap.kivo", "generated/two-hands.kivo",
                             "generated/pinch-carry.kivo", "real/asl-fingerspelling.kivo"}) {
        SCOPED_TRACE(name);
        replayWithPaths(name);
    }
}

TEST_F(KivoRecordPaths, AnUnplugBreaksEveryPath) {
    const ObjFile obj = replayWithPaths("generated/unplug-replug.kivo");
    ASSERT_FALSE(obj.objects.empty());
    for (const auto& [name, object] : obj.objects) {
        EXPECT_EQ(object.polylines.size(), 2u) << name;
    }
}

TEST_F(KivoRecordPaths, RealTimeReplaySeesTheSameObjects) {
    const ObjFile lockstep = replayWithPaths("generated/swipe.kivo");
    const ObjFile realtime =
        replayWithPaths("generated/swipe.kivo", {"--realtime", "--speed", "8"});
    std::set<std::string> lockstepNames, realtimeNames;
    for (const auto& entry : lockstep.objects) {
        lockstepNames.insert(entry.first);
    }
    for (const auto& entry : realtime.objects) {
        realtimeNames.insert(entry.first);
    }
    EXPECT_EQ(realtimeNames, lockstepNames);
}

TEST_F(KivoRecordPaths, AnUnwritableDestinationIsRefusedBeforeReplaying) {
    const fs::path missing = m_scratch / "no-such-folder" / "paths.obj";
    ProgramRun run =
        runKivoRecord({recording("generated/swipe.kivo"), "--paths", missing.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kivo-record: cannot write paths to '" + missing.string() +
                           "': no folder '" + missing.parent_path().string() + "'\n");

    run = runKivoRecord({recording("generated/swipe.kivo"), "--paths", m_scratch.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "kivo-record: cannot write paths to '" + m_scratch.string() + "': it is a folder\n");
}

TEST_F(KivoRecordPaths, ABadRecordingWritesNoPaths) {
    const fs::path bad = m_scratch / "bad.kivo";
    std::ofstream(bad) << "kivo-recording version=1 rate=60 length=mm time=us gestures=none\n"
                          "frame 1 t=0; hand 1 palm=0,1 normal=0,-1,0 dir=0,0,-1\n"
                          "end frames=1 events=0\n";
    const fs::path objPath = m_scratch / "paths.obj";
    const ProgramRun run = runKivoRecord({bad.string(), "--paths", objPath.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("kivo-record: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(objPath));

    // Nor a capture: a file already at -o keeps what it held, whatever the input's fault.
    const fs::path kept = m_scratch / "kept.kivo";
    std::ofstream(kept) << "what an earlier capture wrote\n";
    for (const fs::path& input : {bad, m_scratch / "missing.kivo"}) {
        const ProgramRun refused = runKivoRecord({input.string(), "-o", kept.string()});
        EXPECT_EQ(refused.exitCode, 1) << input;
        EXPECT_EQ(refused.err.rfind("kivo-record: replay: " + input.string(), 0), 0u)
            << refused.err;
        EXPECT_EQ(readText(kept), "what an earlier capture wrote\n") << input;
    }
    for (const char* option : {"-o", "--paths"}) {
        const ProgramRun unnamed = runKivoRecord({bad.string(), option, ""});
        EXPECT_EQ(unnamed.exitCode, 1) << option;
        EXPECT_NE(unnamed.err.find(" names no file"), std::string::npos) << unnamed.err;
    }
}

TEST_F(KivoRecordPaths, OutputsThatWouldOverwriteTheInputOrEachOtherAreRefused) {
    const fs::path input = m_scratch / "input.kivo";
    fs::copy_file(recording("generated/swipe.kivo"), input);
    const std::string before = readText(input);

    ProgramRun run = runKivoRecord({input.string(), "--paths", input.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "kivo-record: the paths (--paths) would overwrite the recording it "
              "replays, '" +
                  input.string() + "'\n");
    // The same file by another name.
    run = runKivoRecord({input.string(), "-o", (m_scratch / "." / "input.kivo").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("the capture (-o) would overwrite the recording it replays"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readText(input), before);

    const fs::path both = m_scratch / "both.out";
    run = runKivoRecord({input.string(), "-o", both.string(), "--paths", both.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "kivo-record: -o and --paths name the same file, '" + both.string() + "'\n");
    EXPECT_FALSE(fs::exists(both));

    run = runKivoRecord({input.string(), "--speed", "4"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("give --realtime with it"), std::string::npos) << run.err;
}

TEST_F(KivoRecordPaths, PathsReplaceAnEarlierFileWholeAndLeaveNothingBeside) {
    const fs::path objPath = m_scratch / "paths.obj";
    std::ofstream(objPath) << "an earlier file\n";
    const ProgramRun run =
        runKivoRecord({recording("generated/swipe.kivo"), "--paths", objPath.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(parseObj(readText(objPath)).error, "");
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(m_scratch)) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(files, std::vector<std::string>{"paths.obj"}) << "no part file is left behind";
}

}  // namespace
