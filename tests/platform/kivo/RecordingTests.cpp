// The recording format: round trips, and the reader's refusals with file, line and field.
#include <kivo/DeviceService.h>
#include <kivo/Recording.h>
#include <kivo_tools/Generator.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

TEST(RecordingReader, RejectsMalformedRecordsNamingTheField) {
    const auto withLine = [&](const std::string& line) {
        return parseError(kHeader + line + "\nend frames=1 events=0\n");
    };
    EXPECT_EQ(withLine("frame 1 t=0; hand 2 palm=0,1 normal=0,-1,0 dir=0,0,-1"),
              "in.kivo:2: field 'palm' of hand 2: expected three numbers 'x,y,z', got '0,1'");
    EXPECT_EQ(withLine("frame 1 t=0; hand 2 palm=0,1,x normal=0,-1,0 dir=0,0,-1"),
              "in.kivo:2: field 'palm' of hand 2: expected a finite number, got 'x'");
    EXPECT_EQ(withLine("frame 1 t=0; hand 2 palm=0,1,nan normal=0,-1,0 dir=0,0,-1"),
              "in.kivo:2: field 'palm' of hand 2: expected a finite number, got 'nan'");
    EXPECT_EQ(withLine("frame 1 t=0; hand 2 palm=0,1,2 dir=0,0,-1"),
              "in.kivo:2: field 'normal' of hand 2: missing");
    EXPECT_EQ(withLine("frame 1 t=0; hand 2 palm=0,1,2 normal=0,-1,0 dir=0,0,-1 speed=3"),
              "in.kivo:2: field 'speed' of hand 2: unknown field");
    EXPECT_EQ(withLine("frame 1 t=0; pointable 5 hand=4 tip=0,0,0 dir=0,0,1"),
              "in.kivo:2: field 'hand' of pointable 5: no hand 4 before it in this frame");
    EXPECT_EQ(withLine("frame 1 t=abc"),
              "in.kivo:2: field 't' of frame 1: expected an integer, "
              "got 'abc'");
    EXPECT_EQ(withLine("frame 1 t=0; gesture 1 type=wave state=start duration=0 hand=0 "
                       "pointable=0"),
              "in.kivo:2: field 'type' of gesture 1: expected one of swipe, circle, screen-tap, "
              "key-tap, got 'wave'");
    EXPECT_EQ(withLine("blob 1"),
              "in.kivo:2: field 'record': expected 'frame' or 'event', got "
              "'blob'");
    EXPECT_EQ(parseError(kHeader + kFrame + "frame 1 t=5\nend frames=2 events=0\n"),
              "in.kivo:3: field 'id' of frame 1: frame ids must increase (previous 1)");
    EXPECT_EQ(parseError(kHeader + kFrame + "end frames=2 events=0\n"),
              "in.kivo:3: field 'frames' of end: says 2 but 1 frames were read");
    EXPECT_EQ(parseError(kHeader + kFrame + "end frames=1 events=0\nframe 9 t=9\n"),
              "in.kivo:4: field 'end': nothing may follow the 'end' line");
}

TEST(RecordingReader, MissingFileIsAnErrorNotACrash) {
    Kivo::Recording rec;
    std::string error;
    EXPECT_FALSE(Kivo::readRecording("/nonexistent/x.kivo", rec, error));
    EXPECT_EQ(error, "/nonexistent/x.kivo: cannot open the file for reading");
    EXPECT_EQ(Kivo::DeviceService::replay("/nonexistent/x.kivo"),
              "replay: /nonexistent/x.kivo: cannot open the file for reading");
}

TEST(RecordingReader, ShippedRecordingsAreValid) {
    for (const auto& dir : {"generated", "real"}) {
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(KIVO_TEST_DATA) + "/" + dir)) {
            if (entry.path().extension() != ".kivo") {
                continue;
            }
            Kivo::Recording rec;
            std::string error;
            EXPECT_TRUE(Kivo::readRecording(entry.path().string(), rec, error)) << error;
            EXPECT_GT(rec.frameCount(), 50u) << entry.path();
        }
    }
}

TEST(RecordingReader, ShippedGeneratedSessionsMatchTheGenerator) {
    for (const auto& session : KivoTools::generatedSessions()) {
        Kivo::Recording made;
        Kivo::Recording shipped;
        std::string error;
        ASSERT_TRUE(KivoTools::generateSession(session.name, made, error));
        ASSERT_TRUE(Kivo::readRecording(
            std::string(KIVO_TEST_DATA) + "/generated/" + session.name + ".kivo", shipped, error))
            << error;
        EXPECT_EQ(made, shipped) << session.name << ": regenerate with kivo-generate";
    }
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
