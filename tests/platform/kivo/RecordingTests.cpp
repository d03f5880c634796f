// The recording format: round trips, and the reader's refusals with file, line and field.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Frame.h>
#include <kivo/Pointable.h>
#include <kivo/PointableList.h>
#include <kivo/Recording.h>
#include <kivo_tools/Generator.h>
#include <kivo_tools/HandDataConverter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace {

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("kivo-test-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

const std::string kHeader =
    "kivo-recording version=1 rate=60 length=mm time=us gestures=recorded\n";
const std::string kFrame =
    "frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; pointable 11 hand=1 "
    "tip=0,200,-80 dir=0,0,-1; gesture 3 type=circle state=update duration=1200 hand=1 "
    "pointable=11 center=1,2,3 normal=0,0,1 radius=40 progress=1.25\n";

// Parses `text` and returns the error (empty when it parsed).
std::string parseError(const std::string& text) {
    Kivo::Recording rec;
    std::string error;
    return Kivo::parseRecording(text, "in.kivo", rec, error) ? std::string{} : error;
}

TEST(RecordingFormat, EveryGeneratedSessionRoundTripsExactly) {
    for (const auto& session : KivoTools::generatedSessions()) {
        Kivo::Recording rec;
        std::string error;
        ASSERT_TRUE(KivoTools::generateSession(session.name, rec, error)) << error;
        const auto path = tempPath(session.name + ".kivo");
        ASSERT_EQ(Kivo::writeRecording(path, rec), "");
        Kivo::Recording back;
        ASSERT_TRUE(Kivo::readRecording(path, back, error)) << error;
        EXPECT_EQ(back, rec) << session.name;
        std::filesystem::remove(path);
    }
}

TEST(RecordingFormat, GesturesAndEventsRoundTrip) {
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::parseRecording(
        kHeader + kFrame + "event focus-lost t=5\nend frames=1 events=1\n", "x", rec, error))
        << error;
    ASSERT_EQ(rec.entries.size(), 2u);
    const auto& frame = std::get<Kivo::FrameRecord>(rec.entries[0]);
    ASSERT_EQ(frame.gestures.size(), 1u);
    EXPECT_EQ(frame.gestures[0].type, 4);
    EXPECT_EQ(frame.gestures[0].state, 2);
    EXPECT_FLOAT_EQ(frame.gestures[0].progress, 1.25f);
    EXPECT_EQ(frame.pointables[0].handId, 1);
    EXPECT_EQ(std::get<Kivo::EventRecord>(rec.entries[1]).kind, Kivo::EventKind::FocusLost);
    for (const auto& entry : rec.entries) {
        Kivo::RecordEntry back;
        ASSERT_TRUE(Kivo::parseRecordLine(Kivo::formatRecordLine(entry), back, error)) << error;
        EXPECT_EQ(back, entry);
    }
}

// A pointable's length is optional: lines without it (every recording made before it existed)
// read as 0 and write back unchanged; a known length reads back exactly and reaches the SDK.
TEST(RecordingFormat, PointableLengthIsOptionalAndRoundTrips) {
    const std::string old =
        "frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; "
        "pointable 11 hand=1 tip=0,200,-80 dir=0,0,-1";
    Kivo::RecordEntry entry;
    std::string error;
    ASSERT_TRUE(Kivo::parseRecordLine(old, entry, error)) << error;
    EXPECT_EQ(std::get<Kivo::FrameRecord>(entry).pointables[0].length, 0.0f);
    EXPECT_EQ(Kivo::formatRecordLine(entry), old);

    const std::string withLength = old + " length=71.37";
    ASSERT_TRUE(Kivo::parseRecordLine(withLength, entry, error)) << error;
    EXPECT_EQ(std::get<Kivo::FrameRecord>(entry).pointables[0].length, 71.37f);
    EXPECT_EQ(Kivo::formatRecordLine(entry), withLength);

    EXPECT_FALSE(Kivo::parseRecordLine(old + " length=-3", entry, error));
    EXPECT_EQ(error, "field 'length' of pointable 11: must not be negative");
    EXPECT_FALSE(Kivo::parseRecordLine(old + " length=inf", entry, error));
    EXPECT_NE(error.find("field 'length' of pointable 11"), std::string::npos) << error;
    EXPECT_FALSE(Kivo::parseRecordLine(withLength + " length=2", entry, error));

    ASSERT_EQ(Kivo::DeviceService::inject(withLength + "; pointable 12 hand=1 tip=0,200,-70 "
                                                       "dir=0,0,-1"),
              "");
    const auto pointables = Kivo::Controller().frame(0).pointables();
    ASSERT_EQ(pointables.count(), 2);
    EXPECT_EQ(pointables[0].length(), 71.37f);
    EXPECT_EQ(pointables[1].length(), 0.0f) << "unknown";
    EXPECT_EQ(Kivo::Pointable().length(), 0.0f);
    Kivo::DeviceService::reset();
}

TEST(RecordingReader, RejectsTruncatedFilesNamingFileLineAndField) {
    const std::string full = kHeader + kFrame + "end frames=1 events=0\n";
    const auto path = tempPath("truncated.kivo");
    // Cut at the end line: the closing line is missing.
    writeText(path, kHeader + kFrame);
    Kivo::Recording rec;
    std::string error;
    EXPECT_FALSE(Kivo::readRecording(path, rec, error));
    EXPECT_EQ(error, path + ":3: field 'end': missing (the file is truncated)");
    // Cut inside a line.
    writeText(path, full.substr(0, kHeader.size() + 40));
    EXPECT_FALSE(Kivo::readRecording(path, rec, error));
    EXPECT_EQ(error.rfind(path + ":2: field ", 0), 0u) << error;
    std::filesystem::remove(path);
    EXPECT_TRUE(rec.entries.empty()) << "nothing is half-loaded";
}

TEST(RecordingReader, RefusesFoldersAndDevicesWithoutReadingThem) {
    Kivo::Recording rec;
    std::string error;
    // A device may never end: it is refused before a byte is read.
    EXPECT_FALSE(Kivo::readRecording("/dev/zero", rec, error));
    EXPECT_EQ(error, "/dev/zero: is a device, not a recording (only files and pipes are read)");
    const std::string folder = std::filesystem::temp_directory_path().string();
    EXPECT_FALSE(Kivo::readRecording(folder, rec, error));
    EXPECT_EQ(error, folder + ": is a folder, not a recording (only files and pipes are read)");
    EXPECT_TRUE(rec.entries.empty());
}

TEST(RecordingReader, SkipsAByteOrderMarkBeforeTheHeader) {
    EXPECT_EQ(parseError("\xEF\xBB\xBF" + kHeader + kFrame + "end frames=1 events=0\n"), "");
}

TEST(RecordingReader, RejectsWrongVersionAndBadHeaders) {
    EXPECT_EQ(parseError("kivo-recording version=2 rate=60 length=mm time=us gestures=none\n"),
              "in.kivo:1: field 'version' of header: version 2 is not supported (this reader "
              "reads version 1)");
    EXPECT_EQ(parseError("# comment\nsomething else\n"),
              "in.kivo:2: field 'format': expected a header starting with 'kivo-recording', "
              "got 'something'");
    EXPECT_EQ(parseError("kivo-recording version=1 rate=60 length=cm time=us gestures=none\n"),
              "in.kivo:1: field 'length' of header: only 'mm' is supported, got 'cm'");
    EXPECT_EQ(parseError("kivo-recording version=1 length=mm time=us gestures=none\n"),
              "in.kivo:1: field 'rate' of header: missing");
    EXPECT_EQ(parseError(""), "in.kivo:1: field 'format': the file is empty (no header)");
}

TEST(RecordingReader, TakesRatesFromOneToTenThousandFramesPerSecond) {
    const auto withRate = [](const std::string& rate) {
        return parseError("kivo-recording version=1 rate=" + rate +
                          " length=mm time=us gestures=none\nend frames=0 events=0\n");
    };
    for (const std::string rate : {"1e-300", "0", "0.5", "-60", "10000.5", "1e300"}) {
        EXPECT_EQ(withRate(rate),
                  "in.kivo:1: field 'rate' of header: must be between 1 and 10000 frames per "
                  "second, got '" +
                      rate + "'");
    }
    EXPECT_EQ(withRate("inf"),
              "in.kivo:1: field 'rate' of header: expected a finite number, got 'inf'");
    EXPECT_EQ(withRate("1"), "");
    EXPECT_EQ(withRate("10000"), "");
}

TEST(HandDataConversion, RefusesRatesTheReaderWouldRefuse) {
    const auto landmarks = std::filesystem::temp_directory_path() /
                           ("kivo-landmarks-" + std::to_string(::getpid()) + ".json");
    std::string frame = "[";
    for (int k = 0; k < 21; ++k)
        frame += std::string(k ? "," : "") + "[" + std::to_string(0.01 * (k % 5)) + "," +
                 std::to_string(-0.01 * (k / 5)) + "," + std::to_string(0.001 * k) + "]";
    frame += "]";
    std::ofstream(landmarks) << "[" << frame << "," << frame << "]";
    // The input's rate and a resampling rate, each named as what it is.
    const struct {
        double KivoTools::HandDataOptions::*field;
        std::vector<double> rates;
        std::string error;
    } cases[] = {
        {&KivoTools::HandDataOptions::rate, {0.5, 0.0, -25.0, 20000.0}, "rate: "},
        {&KivoTools::HandDataOptions::resampleRate, {0.5, -25.0, 1e9}, "resample: "},
    };
    for (const auto& c : cases) {
        for (const double rate : c.rates) {
            KivoTools::HandDataOptions options;
            options.landmarksPath = landmarks.string();
            options.*c.field = rate;
            Kivo::Recording recording;
            std::string error;
            EXPECT_FALSE(KivoTools::convertHandData(options, recording, error)) << rate;
            EXPECT_NE(error.find(c.error + "must be between 1 and 10000 frames per second"),
                      std::string::npos)
                << error;
        }
    }
    std::filesystem::remove(landmarks);
}

// Depth-camera skeletons (22 joints a line, metres, x right, y up, z towards the user): the hand
// keeps its motion in the device's axes and starts with its palm 200 mm above the device;
// resampling puts frames between the input's; noise is drawn from the seed; bad lines are named.
TEST(HandDataConversion, ReadsSkeletonLinesResamplesAndAddsNoise) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("kivo-skeletons-" + std::to_string(::getpid()) + ".txt");
    const auto line = [](double dx, double dy) {
        std::string text;
        for (int j = 0; j < 22; ++j) {
            const int finger = j < 2 ? 0 : (j - 2) / 4;
            const int joint = j < 2 ? 0 : (j - 2) % 4 + 1;
            text += std::to_string(0.3 + dx + 0.02 * finger) + " " +
                    std::to_string(-0.2 + dy + 0.025 * joint) + " " + std::to_string(0.5) + " ";
        }
        return text + "\n";
    };
    std::ofstream(path) << line(0.0, 0.0) << line(0.01, 0.0) << line(0.02, 0.03);
    KivoTools::HandDataOptions options;
    options.landmarksPath = path.string();
    options.rate = 30.0;
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(KivoTools::convertHandData(options, rec, error)) << error;
    ASSERT_EQ(rec.frameCount(), 3u);
    const auto palm = [&](std::size_t i) {
        return std::get<Kivo::FrameRecord>(rec.entries[i]).hands.at(0).palmPosition;
    };
    EXPECT_NEAR(palm(0).x, 0.0f, 1e-3f);
    EXPECT_NEAR(palm(0).y, 200.0f, 1e-3f);
    EXPECT_NEAR(palm(0).z, 0.0f, 1e-3f);
    EXPECT_NEAR(palm(2).x, 20.0f, 1e-3f) << "to the user's right";
    EXPECT_NEAR(palm(2).y, 230.0f, 1e-3f) << "up";
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[0]).pointables.size(), 5u);

    options.resampleRate = 120.0;
    options.hold = 0.5;
    ASSERT_TRUE(KivoTools::convertHandData(options, rec, error)) << error;
    EXPECT_EQ(rec.header.rate, 120.0);
    ASSERT_EQ(rec.frameCount(), 60u + 9u) << "0.5 s held, then 1/15 s at 120 per second";
    EXPECT_NEAR(palm(60).x, 0.0f, 1e-3f);
    EXPECT_NEAR(palm(62).x, 5.0f, 1e-3f) << "half way between the first two frames";
    options.leave = true;
    ASSERT_TRUE(KivoTools::convertHandData(options, rec, error)) << error;
    ASSERT_EQ(rec.frameCount(), 60u + 9u + 1u) << "the hand leaves after the last frame";
    const auto& last = std::get<Kivo::FrameRecord>(rec.entries.back());
    EXPECT_TRUE(last.hands.empty());
    EXPECT_TRUE(last.pointables.empty());
    EXPECT_GT(last.timestamp, std::get<Kivo::FrameRecord>(rec.entries[68]).timestamp);
    options.leave = false;

    options.resampleRate = 0.0;
    options.hold = 0.0;
    options.noise = 2.0f;
    Kivo::Recording again;
    ASSERT_TRUE(KivoTools::convertHandData(options, rec, error)) << error;
    ASSERT_TRUE(KivoTools::convertHandData(options, again, error)) << error;
    EXPECT_EQ(rec, again) << "the same seed draws the same noise";
    EXPECT_GT(palm(0).distanceTo({0.0f, 200.0f, 0.0f}), 0.0f);
    options.seed = 2;
    ASSERT_TRUE(KivoTools::convertHandData(options, again, error)) << error;
    EXPECT_NE(rec, again);

    std::ofstream(path) << line(0.0, 0.0) << "0.1 0.2 x\n";
    EXPECT_FALSE(KivoTools::convertHandData(options, rec, error));
    EXPECT_EQ(error, path.string() +
                         ":2: joint 0, component 2: expected a finite number (22 joints x, y, z "
                         "per line)");
    std::filesystem::remove(path);
}

TEST(RecordingReader, TimesRunFromZeroToTheLargestTime) {
    const auto withTime = [](const std::string& t) {
        return parseError(kHeader + "frame 1 t=" + t + "\nend frames=1 events=0\n");
    };
    EXPECT_EQ(withTime(std::to_string(Kivo::kMaxRecordingTime)), "");
    EXPECT_EQ(withTime(std::to_string(Kivo::kMaxRecordingTime + 1)),
              "in.kivo:2: field 't' of frame 1: must be between 0 and 1000000000000000 "
              "microseconds");
    EXPECT_EQ(withTime("-1"),
              "in.kivo:2: field 't' of frame 1: must be between 0 and 1000000000000000 "
              "microseconds");
}

TEST(RecordingReader, RefusesIdsGivenTwiceInAFrameAndPointablesOfMissingHands) {
    const auto withFrame = [](const std::string& parts) {
        return parseError(kHeader + "frame 1 t=0" + parts + "\nend frames=1 events=0\n");
    };
    const std::string hand = " palm=0,200,0 normal=0,-1,0 dir=0,0,-1";
    const std::string tip = " tip=0,200,-80 dir=0,0,-1";
    EXPECT_EQ(withFrame("; hand 2" + hand + "; hand 3" + hand + "; hand 2" + hand),
              "in.kivo:2: field 'id' of hand 2: given twice in this frame");
    EXPECT_EQ(
        withFrame("; hand 2" + hand + "; pointable 5 hand=2" + tip + "; pointable 5 hand=0" + tip),
        "in.kivo:2: field 'id' of pointable 5: given twice in this frame");
    EXPECT_EQ(withFrame("; hand 2" + hand + "; pointable 5 hand=3" + tip),
              "in.kivo:2: field 'hand' of pointable 5: no hand 3 before it in this frame");
    const std::string tap =
        " type=key-tap state=stop duration=0 hand=0 pointable=0 "
        "position=0,200,0 direction=0,-1,0";
    EXPECT_EQ(withFrame("; gesture 4" + tap + "; gesture 4" + tap),
              "in.kivo:2: field 'id' of gesture 4: given twice in this frame");
    // Directions are unit vectors, within what their text rounds off.
    EXPECT_EQ(withFrame("; hand 2 palm=0,200,0 normal=0,0,0 dir=0,0,-1"),
              "in.kivo:2: field 'normal' of hand 2: expected a unit vector, got '0,0,0' "
              "(length 0)");
    EXPECT_EQ(withFrame("; hand 2 palm=0,200,0 normal=0,-5,0 dir=0,0,-1"),
              "in.kivo:2: field 'normal' of hand 2: expected a unit vector, got '0,-5,0' "
              "(length 5)");
    EXPECT_EQ(withFrame("; pointable 5 hand=0 tip=0,200,-80 dir=0,0.5,0"),
              "in.kivo:2: field 'dir' of pointable 5: expected a unit vector, got '0,0.5,0' "
              "(length 0.5)");
    EXPECT_EQ(withFrame("; hand 2 palm=0,200,0 normal=0.577,-0.577,0.5774 dir=0,0,-1"), "");
    // Ids are per frame.
    EXPECT_EQ(parseError(kHeader + "frame 1 t=0; hand 2" + hand + "\nframe 2 t=5; hand 2" + hand +
                         "\nend frames=2 events=0\n"),
              "");
}

// Hundreds of thousands of hands and pointables in one frame load at once (reading is linear in
// their count), and the checks of their ids still hold at the far end of the frame.
TEST(RecordingReader, LoadsFramesWithVeryManyHandsAndPointables) {
    constexpr int kCount = 300'000;
    std::string text = kHeader + "frame 1 t=0";
    for (int i = 1; i <= kCount; ++i) {
        text += "; hand " + std::to_string(i) + " palm=0,200,0 normal=0,-1,0 dir=0,0,-1";
    }
    for (int i = 1; i <= kCount; ++i) {
        const std::string id = std::to_string(i);
        text += "; pointable " + id + " hand=" + id + " tip=0,200,-80 dir=0,0,-1";
    }
    const std::string end = "\nend frames=1 events=0\n";
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::parseRecording(text + end, "in.kivo", rec, error)) << error;
    const auto& frame = std::get<Kivo::FrameRecord>(rec.entries.at(0));
    EXPECT_EQ(frame.hands.size(), std::size_t{kCount});
    ASSERT_EQ(frame.pointables.size(), std::size_t{kCount});
    EXPECT_EQ(frame.pointables.back().handId, kCount);

    EXPECT_EQ(parseError(text + "; pointable 17 hand=0 tip=0,0,0 dir=0,0,1" + end),
              "in.kivo:2: field 'id' of pointable 17: given twice in this frame");
}

// The files in `folder` whose names start with `prefix`.
std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

Kivo::FrameRecord frameWithHand(std::int64_t time, std::int32_t hand) {
    Kivo::FrameRecord f;
    f.timestamp = time;
    f.hands.push_back({hand, {0, 200, 0}, {0, -1, 0}, {0, 0, -1}});
    return f;
}

// The replayed file is read whole, but a capture renamed over it would lose it: whichever of the
// two starts first, the other is refused.
TEST(RecordingWriter, TheDeviceRefusesToRecordOverTheRecordingItReplays) {
    const auto folder = tempPath("over-source");
    std::filesystem::create_directories(folder);
    const auto source = folder + "/source.kivo";
    const std::string text = kHeader + kFrame + "end frames=1 events=0\n";
    writeText(source, text);
    ASSERT_EQ(Kivo::DeviceService::replay(source), "");
    EXPECT_EQ(Kivo::DeviceService::startRecording(folder + "/./source.kivo"),
              "record: " + folder +
                  "/./source.kivo is the recording being replayed; record to "
                  "another file");
    EXPECT_EQ(Kivo::DeviceService::startRecording(folder + "/capture.kivo"), "");
    EXPECT_EQ(Kivo::DeviceService::stop(), "");
    EXPECT_EQ(readText(source), text);

    ASSERT_EQ(Kivo::DeviceService::startRecording(source), "");
    EXPECT_EQ(Kivo::DeviceService::replay(folder + "/./source.kivo"),
              "replay: " + folder +
                  "/./source.kivo is the file being recorded to; stop the capture first");
    EXPECT_EQ(Kivo::DeviceService::stopRecording(), "");
    EXPECT_NE(readText(source), text) << "the capture itself is kept";
    Kivo::DeviceService::reset();
    std::filesystem::remove_all(folder);
}

// Until close() the path keeps what it held; the new file is written beside it and renamed.
TEST(RecordingWriter, WritesBesideThePathAndPutsTheFileInPlaceOnClose) {
    const auto folder = tempPath("beside");
    std::filesystem::create_directories(folder);
    const auto path = folder + "/take.kivo";
    writeText(path, kHeader + kFrame + "end frames=1 events=0\n");
    Kivo::RecordingWriter writer;
    ASSERT_EQ(writer.open(path, {}), "");
    writer.write(frameWithHand(0, 7));
    writer.write(frameWithHand(10, 8));
    EXPECT_EQ(readText(path), kHeader + kFrame + "end frames=1 events=0\n");
    const auto names = filesStartingWith(folder, "take.kivo");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].rfind("take.kivo." + std::to_string(::getpid()) + "-", 0), 0u) << names[1];
    EXPECT_EQ(names[1].substr(names[1].size() - 5), ".part") << names[1];

    ASSERT_EQ(writer.close(), "");
    EXPECT_EQ(filesStartingWith(folder, "take.kivo"), std::vector<std::string>{"take.kivo"});
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(path, rec, error)) << error;
    ASSERT_EQ(rec.frameCount(), 2u);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[1]).hands[0].id, 8);

    // A capture dropped instead (its source failed) leaves the path as it was, and nothing beside.
    const std::string before = readText(path);
    ASSERT_EQ(writer.open(path, {}), "");
    writer.write(frameWithHand(0, 9));
    writer.discard();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(readText(path), before);
    EXPECT_EQ(filesStartingWith(folder, "take.kivo"), std::vector<std::string>{"take.kivo"});
    std::filesystem::remove_all(folder);
}

// Two captures to one path (two processes, or two writers in one) each write a file of their
// own: the path always holds one whole recording, the one closed last.
TEST(RecordingWriter, WritersOfOnePathNeverMixTheirLines) {
    const auto path = tempPath("shared.kivo");
    Kivo::RecordingWriter first;
    Kivo::RecordingWriter second;
    ASSERT_EQ(first.open(path, {}), "");
    ASSERT_EQ(second.open(path, {}), "");
    for (int i = 0; i < 3; ++i) {
        first.write(frameWithHand(i * 10, 1));
        second.write(frameWithHand(i * 10, 2));
        second.write(frameWithHand(i * 10 + 5, 2));
    }
    const auto handsIn = [&] {
        Kivo::Recording rec;
        std::string error;
        EXPECT_TRUE(Kivo::readRecording(path, rec, error)) << error;
        std::vector<std::int32_t> hands;
        for (const auto& e : rec.entries) {
            hands.push_back(std::get<Kivo::FrameRecord>(e).hands.at(0).id);
        }
        return hands;
    };
    ASSERT_EQ(first.close(), "");
    EXPECT_EQ(handsIn(), (std::vector<std::int32_t>{1, 1, 1}));
    ASSERT_EQ(second.close(), "");
    EXPECT_EQ(handsIn(), (std::vector<std::int32_t>{2, 2, 2, 2, 2, 2}));
    std::filesystem::remove(path);
}

TEST(RecordingWriter, RefusesAtOnceWhatItCannotWrite) {
    Kivo::RecordingWriter writer;
    // A device, a folder: the finished file would replace them.
    EXPECT_EQ(writer.open("/dev/full", {}),
              "/dev/full: cannot open the file for writing (not a regular file)");
    const auto folder = std::filesystem::temp_directory_path().string();
    EXPECT_EQ(writer.open(folder, {}),
              folder + ": cannot open the file for writing (not a regular file)");
    EXPECT_EQ(writer.open("/nonexistent/dir/x.kivo", {}),
              "/nonexistent/dir/x.kivo: cannot open the file for writing (No such file or "
              "directory)");
    EXPECT_EQ(writer.open("", {}), "the file name is empty");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.close(), "");
    EXPECT_EQ(Kivo::DeviceService::startRecording(""), "record: the file name is empty");
    EXPECT_EQ(Kivo::DeviceService::status().recordingPath, "");
}

TEST(RecordingWriter, KeepsTimesWithinTheFormatsRange) {
    const auto path = tempPath("far.kivo");
    Kivo::RecordingWriter writer;
    ASSERT_EQ(writer.open(path, {}), "");
    writer.write(frameWithHand(-5, 1));
    writer.write(frameWithHand(Kivo::kMaxRecordingTime + 5, 1));
    writer.write(Kivo::EventRecord{Kivo::EventKind::FocusLost, Kivo::kMaxRecordingTime * 2});
    ASSERT_EQ(writer.close(), "");
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(path, rec, error)) << error << "\n" << readText(path);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[0]).timestamp, 0);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[1]).timestamp, Kivo::kMaxRecordingTime);
    EXPECT_EQ(std::get<Kivo::EventRecord>(rec.entries[2]).timestamp, Kivo::kMaxRecordingTime);
    std::filesystem::remove(path);
}

TEST(RecordingWriter, KeepsIdsAndTimeIncreasingWhateverItIsFed) {
    const auto path = tempPath("writer.kivo");
    {
        Kivo::RecordingWriter writer;
        ASSERT_EQ(writer.open(path, {}), "");
        Kivo::FrameRecord f;
        f.id = 5;
        f.timestamp = 100;
        writer.write(f);
        f.id = 2;
        f.timestamp = 50;
        writer.write(f);
        writer.write(Kivo::EventRecord{Kivo::EventKind::Disconnect, 10});
        ASSERT_EQ(writer.close(), "");
    }
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(path, rec, error)) << error << "\n" << readText(path);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[1]).id, 6);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[1]).timestamp, 100);
    std::filesystem::remove(path);
}

}  // namespace
