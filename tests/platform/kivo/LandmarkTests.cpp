// The camera tracker's messages: the reader's refusals, and the converter's device frames (axes,
// depth, ids) from a real hand's landmarks.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo_tools/Landmarks.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Kivo::Vector;
using KivoTools::LandmarkFrame;
using KivoTools::LandmarkHand;

std::string dataPath(const std::string& name) {
    return std::string(KIVO_TEST_DATA) + "/../" + name;
}

// The first frames of a real right hand fingerspelling, as the tracker page sends them from a
// mirrored view (620 x 1080 pixels, 40 ms apart).
const std::vector<std::string>& aslLines() {
    static const std::vector<std::string> lines = [] {
        std::ifstream in(dataPath("landmarks/asl-fingerspelling.jsonl"));
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }();
    return lines;
}

LandmarkFrame aslFrame(std::size_t index) {
    LandmarkFrame frame;
    bool hello = false;
    std::string error;
    EXPECT_TRUE(KivoTools::parseLandmarkMessage(aslLines().at(index), frame, hello, error))
        << error;
    return frame;
}

// Parses `doc` dumped as text and returns the error (empty when it parsed).
std::string refusal(const nlohmann::json& doc) {
    LandmarkFrame frame;
    bool hello = false;
    std::string error;
    return KivoTools::parseLandmarkMessage(doc.dump(), frame, hello, error) ? std::string{} : error;
}

TEST(LandmarkMessage, ReadsFramesAndHello) {
    ASSERT_EQ(aslLines().size(), 100u);
    const auto frame = aslFrame(1);
    EXPECT_EQ(frame.timeMs, 40.0);
    EXPECT_EQ(frame.width, 620);
    EXPECT_EQ(frame.height, 1080);
    EXPECT_TRUE(frame.mirrored);
    ASSERT_EQ(frame.hands.size(), 1u);
    EXPECT_TRUE(frame.hands[0].right);
    EXPECT_FLOAT_EQ(frame.hands[0].score, 0.97f);

    LandmarkFrame out;
    bool hello = false;
    std::string error;
    ASSERT_TRUE(KivoTools::parseLandmarkMessage(
        R"({"type":"hello","client":"kivo-tracker","version":1})", out, hello, error))
        << error;
    EXPECT_TRUE(hello);
    ASSERT_TRUE(KivoTools::parseLandmarkMessage(
        R"({"type":"frame","time":5,"width":640,"height":480,"hands":[]})", out, hello, error))
        << error;
    EXPECT_FALSE(hello);
    EXPECT_TRUE(out.hands.empty()) << "no hand in view";
    EXPECT_FALSE(out.mirrored) << "mirrored is optional";

    // MediaPipe may label both hands alike; both are read.
    auto doc = nlohmann::json::parse(aslLines()[0]);
    doc["hands"].push_back(doc["hands"][0]);
    EXPECT_EQ(refusal(doc), "");
}

// Each malformed part of a message is refused with the field at fault named.
TEST(LandmarkMessage, RefusesEachBadFieldNamingIt) {
    const auto good = nlohmann::json::parse(aslLines()[0]);
    struct Case {
        const char* name;
        void (*change)(nlohmann::json&);
        const char* error;  // what the refusal starts with
    };
    const std::vector<Case> cases{
        {"array", [](nlohmann::json& d) { d = nlohmann::json::array(); }, "message: "},
        {"no type", [](nlohmann::json& d) { d.erase("type"); }, "type: missing"},
        {"numeric type", [](nlohmann::json& d) { d["type"] = 1; }, "type: expected a string"},
        {"unknown type", [](nlohmann::json& d) { d["type"] = "frames"; }, "type: unknown"},
        {"no time", [](nlohmann::json& d) { d.erase("time"); }, "time: missing"},
        {"text time", [](nlohmann::json& d) { d["time"] = "0"; }, "time: expected a finite"},
        {"negative time", [](nlohmann::json& d) { d["time"] = -1; }, "time: "},
        {"zero width", [](nlohmann::json& d) { d["width"] = 0; }, "width: "},
        {"huge width", [](nlohmann::json& d) { d["width"] = 20000; }, "width: "},
        {"fractional height", [](nlohmann::json& d) { d["height"] = 480.5; }, "height: "},
        {"missing height", [](nlohmann::json& d) { d.erase("height"); }, "height: missing"},
        {"mirrored text", [](nlohmann::json& d) { d["mirrored"] = "yes"; }, "mirrored: "},
        {"hands object", [](nlohmann::json& d) { d["hands"] = nlohmann::json::object(); },
         "hands: expected an array"},
        {"three hands",
         [](nlohmann::json& d) {
             d["hands"].push_back(d["hands"][0]);
             d["hands"].push_back(d["hands"][0]);
         },
         "hands: at most 2 hands, got 3"},
        {"hand not object", [](nlohmann::json& d) { d["hands"][0] = 3; }, "hands[0]: "},
        {"lower-case handedness", [](nlohmann::json& d) { d["hands"][0]["handedness"] = "right"; },
         "hands[0].handedness: "},
        {"no handedness", [](nlohmann::json& d) { d["hands"][0].erase("handedness"); },
         "hands[0].handedness: missing"},
        {"score above 1", [](nlohmann::json& d) { d["hands"][0]["score"] = 1.5; },
         "hands[0].score: "},
        {"20 landmarks", [](nlohmann::json& d) { d["hands"][0]["image"].erase(20); },
         "hands[0].image: expected 21 landmarks, got 20"},
        {"22 landmarks",
         [](nlohmann::json& d) { d["hands"][0]["world"].push_back(d["hands"][0]["world"][0]); },
         "hands[0].world: expected 21 landmarks, got 22"},
        {"no world", [](nlohmann::json& d) { d["hands"][0].erase("world"); },
         "hands[0].world: missing"},
        {"two coordinates",
         [](nlohmann::json& d) {
             d["hands"][0]["image"][3] = nlohmann::json::array({0.5, 0.5});
         },
         "hands[0].image[3]: expected [x, y, z]"},
        {"image far right", [](nlohmann::json& d) { d["hands"][0]["image"][3][0] = 2.5; },
         "hands[0].image[3][0]: "},
        {"image far above", [](nlohmann::json& d) { d["hands"][0]["image"][4][1] = -1.5; },
         "hands[0].image[4][1]: "},
        {"null coordinate", [](nlohmann::json& d) { d["hands"][0]["world"][2][1] = nullptr; },
         "hands[0].world[2][1]: expected a finite number"},
        {"world beyond a metre", [](nlohmann::json& d) { d["hands"][0]["world"][0][0] = 1.5; },
         "hands[0].world[0][0]: "},
        {"second hand's bad point",
         [](nlohmann::json& d) {
             d["hands"].push_back(d["hands"][0]);
             d["hands"][1]["world"][3][2] = "0.1";
         },
         "hands[1].world[3][2]: expected a finite number"},
    };
    ASSERT_EQ(refusal(good), "");
    for (const auto& c : cases) {
        auto doc = good;
        c.change(doc);
        const auto error = refusal(doc);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << error;
    }

    // What JSON cannot say but its text can: not JSON at all, and numbers too large for a
    // double (read as infinite).
    const auto textRefusal = [](const std::string& text) {
        LandmarkFrame frame;
        bool hello = false;
        std::string error;
        return KivoTools::parseLandmarkMessage(text, frame, hello, error) ? std::string{} : error;
    };
    EXPECT_EQ(textRefusal("{\"type\":\"frame\""), "message: not valid JSON at byte 16 (in type)");
    EXPECT_EQ(textRefusal("").rfind("message: not valid JSON", 0), 0u);
    EXPECT_EQ(textRefusal("{\"type\":\"frame\",\"time\":NaN}"),
              "message: not valid JSON at byte 24 (in time)");
    EXPECT_EQ(textRefusal(R"({"type":"frame","time":1e999,"width":640,"height":480,"hands":[]})")
                  .rfind("time: expected a finite number", 0),
              0u);
    auto doc = good.dump();
    const auto at = doc.find("\"world\":[[") + 10;
    doc.replace(at, doc.find(',', at) - at, "-1e400");
    EXPECT_EQ(textRefusal(doc).rfind("hands[0].world[0][0]: expected a finite number", 0), 0u)
        << textRefusal(doc);
}

// ---------------------------------------------------------------------------------------------
// Converter

// The device's palm of one converted hand.
Vector palmOf(const Kivo::FrameRecord& frame, std::size_t hand = 0) {
    return frame.hands.at(hand).palmPosition;
}

Kivo::FrameRecord convertOnce(const LandmarkFrame& frame,
                              const KivoTools::CameraModel& model = {}) {
    KivoTools::LandmarkConverter converter(model);
    return converter.convert(frame);
}

// The real hand's shape, turned `yaw` degrees about the vertical through its palm and `pitch`
// about the horizontal, placed with its palm at `at` (mm, camera frame as shown: x right, y
// down, z away) and seen by a pinhole camera of `fov` degrees over 640 x 480 pixels.
LandmarkFrame placedHand(Vector at, float yaw = 0.0f, float pitch = 0.0f, float fov = 60.0f,
                         float handSize = 95.0f) {
    const auto source = aslFrame(0);
    const auto& real = source.hands[0];
    LandmarkHand hand = real;
    const float scale = handSize / real.world[9].distanceTo(real.world[0]);
    Vector palm;
    for (int i : {0, 5, 9, 13, 17}) {
        palm += real.world[i] * scale / 5.0f;
    }
    const float cy = std::cos(yaw * std::numbers::pi_v<float> / 180.0f);
    const float sy = std::sin(yaw * std::numbers::pi_v<float> / 180.0f);
    const float cp = std::cos(pitch * std::numbers::pi_v<float> / 180.0f);
    const float sp = std::sin(pitch * std::numbers::pi_v<float> / 180.0f);
    const float focal = 320.0f / std::tan(fov * std::numbers::pi_v<float> / 360.0f);
    for (std::size_t i = 0; i < KivoTools::kHandLandmarks; ++i) {
        Vector p = real.world[i] * scale - palm;
        p = Vector{cy * p.x + sy * p.z, p.y, -sy * p.x + cy * p.z};
        p = Vector{p.x, cp * p.y - sp * p.z, sp * p.y + cp * p.z};
        hand.world[i] = p / 1000.0f;  // the tracker's world landmarks: metres, about the hand
        const Vector c = p + at;
        hand.image[i] = Vector{(320.0f + focal * c.x / c.z) / 640.0f,
                               (240.0f + focal * c.y / c.z) / 480.0f, 0.0f};
    }
    LandmarkFrame frame;
    frame.width = 640;
    frame.height = 480;
    frame.mirrored = true;
    frame.hands.push_back(hand);
    return frame;
}

// The camera model: the camera `height` above the device, `distance` in front of the space's
// centre, looking along +z; the image as shown has x to the right, y down.
TEST(LandmarkConverter, DeviceAxesFollowTheHandAsShown) {
    const KivoTools::CameraModel model;
    const Vector centre = palmOf(convertOnce(placedHand({0, 0, 500})));
    EXPECT_NEAR(centre.x, 0.0f, 0.5f);
    EXPECT_NEAR(centre.y, model.height, 0.5f);
    EXPECT_NEAR(centre.z, 0.0f, 0.5f) << "the space's centre is camera.distance away";

    const struct {
        const char* motion;
        Vector camera;  // where the palm goes in the camera's frame
        Vector device;  // where it must go in the device's
    } moves[] = {
        {"right as shown", {100, 0, 500}, {100, 0, 0}},
        {"left as shown", {-100, 0, 500}, {-100, 0, 0}},
        {"up", {0, -100, 500}, {0, 100, 0}},
        {"down", {0, 100, 500}, {0, -100, 0}},
        {"towards the camera", {0, 0, 350}, {0, 0, -150}},
        {"away from the camera", {0, 0, 700}, {0, 0, 200}},
    };
    for (const auto& m : moves) {
        const Vector moved = palmOf(convertOnce(placedHand(m.camera))) - centre;
        EXPECT_NEAR(moved.x, m.device.x, 1.0f) << m.motion;
        EXPECT_NEAR(moved.y, m.device.y, 1.0f) << m.motion;
        EXPECT_NEAR(moved.z, m.device.z, 1.0f) << m.motion;
    }

    // The same on the real hand's own image landmarks: shifted right in the image, it moves
    // right; looming larger about its palm, it comes towards the camera (towards the screen).
    const auto real = aslFrame(0);
    const Vector before = palmOf(convertOnce(real));
    auto right = real;
    auto larger = real;
    for (std::size_t i = 0; i < KivoTools::kHandLandmarks; ++i) {
        right.hands[0].image[i].x += 0.1f;
        larger.hands[0].image[i] =
            real.hands[0].image[0] + (real.hands[0].image[i] - real.hands[0].image[0]) * 1.25f;
    }
    const Vector toRight = palmOf(convertOnce(right)) - before;
    EXPECT_GT(toRight.x, 30.0f);
    EXPECT_NEAR(toRight.y, 0.0f, 3.0f);
    EXPECT_NEAR(toRight.z, 0.0f, 3.0f) << "off the axis, a shifted image is not quite a shift";
    const Vector nearer = palmOf(convertOnce(larger)) - before;
    EXPECT_LT(nearer.z, -50.0f) << "1.25 times larger: a fifth nearer the camera";

    // A wider lens sees the same image from nearer.
    KivoTools::CameraModel wide;
    wide.fieldOfView = 90.0f;
    EXPECT_LT(palmOf(convertOnce(real, wide)).z, before.z - 100.0f);
}

// Depth comes from the hand's shape fitted to its image, not from how large it looks: a hand
// turning in place stays where it is.
TEST(LandmarkConverter, ATurningHandKeepsItsDepth) {
    const Vector at{60, -40, 550};
    const Vector still = palmOf(convertOnce(placedHand(at)));
    for (float yaw : {-60.0f, -30.0f, 30.0f, 60.0f}) {
        for (float pitch : {-40.0f, 0.0f, 40.0f}) {
            const Vector turned = palmOf(convertOnce(placedHand(at, yaw, pitch)));
            EXPECT_NEAR(turned.z, still.z, 2.0f) << "yaw " << yaw << " pitch " << pitch;
            EXPECT_NEAR(turned.x, still.x, 2.0f) << "yaw " << yaw << " pitch " << pitch;
            EXPECT_NEAR(turned.y, still.y, 2.0f) << "yaw " << yaw << " pitch " << pitch;
        }
    }

    // The real hand fingerspells turning and bending its fingers, leaning towards the camera
    // and back once: its depth moves smoothly (no jump of more than 25 mm in 40 ms) and stays
    // within 120 mm over 4 s.
    float nearest = 1e9f;
    float farthest = -1e9f;
    float largestStep = 0.0f;
    float previous = 0.0f;
    KivoTools::LandmarkConverter converter;
    for (std::size_t f = 0; f < aslLines().size(); ++f) {
        const auto frame = converter.convert(aslFrame(f));
        ASSERT_EQ(frame.hands.size(), 1u) << f;
        const float z = palmOf(frame).z;
        if (f > 0) {
            largestStep = std::max(largestStep, std::abs(z - previous));
        }
        previous = z;
        nearest = std::min(nearest, z);
        farthest = std::max(farthest, z);
    }
    EXPECT_LT(largestStep, 25.0f);
    EXPECT_LT(farthest - nearest, 120.0f);
}

// The palm faces the way its handedness says; the fingers have their real lengths.
TEST(LandmarkConverter, PalmAndFingersOfARealHand) {
    const auto mirrored = aslFrame(0);
    const auto frame = convertOnce(mirrored);
    ASSERT_EQ(frame.hands.size(), 1u);
    const auto& hand = frame.hands[0];
    // Fingerspelling shows the palm to the camera with the fingers up.
    EXPECT_LT(hand.palmNormal.z, -0.5f) << "out of the palm, towards the camera and the screen";
    EXPECT_GT(hand.direction.y, 0.5f);
    EXPECT_NEAR(hand.palmNormal.magnitude(), 1.0f, 1e-4f);
    EXPECT_NEAR(hand.palmNormal.dot(hand.direction), 0.0f, 0.35f);

    ASSERT_EQ(frame.pointables.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        const auto& p = frame.pointables[k];
        EXPECT_EQ(p.handId, hand.id);
        EXPECT_EQ(p.id, hand.id * 10 + static_cast<std::int32_t>(k));
        EXPECT_NEAR(p.direction.magnitude(), 1.0f, 1e-4f);
        // An adult's fingers, knuckle to tip, scaled to the 95 mm hand.
        EXPECT_GT(p.length, k == 0 ? 35.0f : 45.0f) << k;
        EXPECT_LT(p.length, 110.0f) << k;
    }
    EXPECT_GT(frame.pointables[2].length, frame.pointables[4].length) << "middle > little";

    // The same camera frame not mirrored: its x flipped back and, as the tracker labels it, the
    // other handedness. The hand is the same one, seen the other way round.
    auto raw = mirrored;
    raw.mirrored = false;
    raw.hands[0].right = false;
    for (std::size_t i = 0; i < KivoTools::kHandLandmarks; ++i) {
        raw.hands[0].image[i].x = 1.0f - raw.hands[0].image[i].x;
        raw.hands[0].world[i].x = -raw.hands[0].world[i].x;
    }
    const auto shown = convertOnce(raw).hands.at(0);
    EXPECT_NEAR(shown.palmPosition.x, -hand.palmPosition.x, 0.5f);
    EXPECT_NEAR(shown.palmNormal.x, -hand.palmNormal.x, 1e-4f);
    EXPECT_NEAR(shown.palmNormal.z, hand.palmNormal.z, 1e-4f) << "still facing the camera";
}

TEST(LandmarkConverter, IdsStayWhileTrackedAndRenewWhenLost) {
    KivoTools::LandmarkConverter converter;
    auto right = placedHand({120, 0, 500});
    auto left = placedHand({-120, 0, 500});
    left.hands[0].right = false;
    auto both = right;
    both.hands.push_back(left.hands[0]);
    auto swapped = both;
    std::swap(swapped.hands[0], swapped.hands[1]);
    LandmarkFrame none = right;
    none.hands.clear();

    std::vector<std::pair<LandmarkFrame, std::vector<std::int32_t>>> steps{
        {right, {1}}, {right, {1}}, {both, {1, 2}}, {swapped, {2, 1}},
        {left, {2}},  {none, {}},   {left, {3}},    {both, {4, 3}},
    };
    double time = 1000.0;
    std::int64_t lastId = 0;
    for (std::size_t s = 0; s < steps.size(); ++s) {
        auto frame = steps[s].first;
        frame.timeMs = time;
        time += 33.25;
        const auto out = converter.convert(frame);
        std::vector<std::int32_t> ids;
        for (const auto& h : out.hands) {
            ids.push_back(h.id);
        }
        EXPECT_EQ(ids, steps[s].second) << "step " << s;
        EXPECT_GT(out.id, lastId);
        lastId = out.id;
        EXPECT_EQ(out.timestamp, std::llround(static_cast<double>(s) * 33250.0)) << s;
        std::vector<std::int32_t> pointables;
        for (const auto& p : out.pointables) {
            pointables.push_back(p.id);
        }
        std::sort(pointables.begin(), pointables.end());
        EXPECT_EQ(std::adjacent_find(pointables.begin(), pointables.end()), pointables.end());
        EXPECT_EQ(pointables.size(), 5 * ids.size());
    }

    // Two hands labelled alike keep apart by where they are, whatever order they come in: one
    // moves right along the top, the other left along the bottom.
    converter.reset();
    std::vector<std::int32_t> upper;
    for (int step = 0; step <= 4; ++step) {
        const float x = -100.0f + 50.0f * static_cast<float>(step);
        auto frame = placedHand({x, 0, 500});
        const auto lower = placedHand({-x, 120, 500}).hands[0];
        frame.hands.insert(step % 2 == 0 ? frame.hands.end() : frame.hands.begin(), lower);
        frame.timeMs = step * 40.0;
        const auto out = converter.convert(frame);
        ASSERT_EQ(out.hands.size(), 2u);
        EXPECT_NE(out.hands[0].id, out.hands[1].id);
        upper.push_back(out.hands[0].palmPosition.y > out.hands[1].palmPosition.y
                            ? out.hands[0].id
                            : out.hands[1].id);
    }
    EXPECT_EQ(upper, std::vector<std::int32_t>(5, 1)) << "the upper hand keeps its id";
}

// More hands than a device shows: the two the tracker is surest of. Times never go back.
TEST(LandmarkConverter, KeepsTheTwoSurestHandsAndTimeGoingForward) {
    auto frame = placedHand({-150, 0, 500});
    frame.hands.push_back(placedHand({0, 0, 500}).hands[0]);
    frame.hands.push_back(placedHand({150, 0, 500}).hands[0]);
    frame.hands[0].score = 0.6f;
    frame.hands[1].score = 0.9f;
    frame.hands[2].score = 0.8f;
    KivoTools::LandmarkConverter converter;
    frame.timeMs = 500.0;
    const auto out = converter.convert(frame);
    ASSERT_EQ(out.hands.size(), 2u);
    EXPECT_GT(out.hands[0].palmPosition.x, -75.0f);
    EXPECT_GT(out.hands[1].palmPosition.x, -75.0f);
    frame.timeMs = 400.0;
    EXPECT_EQ(converter.convert(frame).timestamp, 0);
    frame.timeMs = 600.0;
    EXPECT_EQ(converter.convert(frame).timestamp, 100000);

    // A hand whose shape has no size is left out, never turned into non-finite numbers.
    auto flat = placedHand({0, 0, 500});
    flat.hands[0].world.fill(Vector{});
    EXPECT_TRUE(convertOnce(flat).hands.empty());
}

// The camera model's keys are the device service's configuration, documented with their
// defaults.
TEST(CameraModel, IsConfiguredByTheDevicesKeys) {
    Kivo::DeviceService::reset();
    Kivo::Config config = Kivo::Controller().config();
    const KivoTools::CameraModel defaults;
    std::stringstream format;
    format << std::ifstream(dataPath("../docs/recording-format.md")).rdbuf();
    std::stringstream camera;
    camera << std::ifstream(dataPath("../docs/camera.md")).rdbuf();
    for (const auto& k : KivoTools::kCameraKeys) {
        ASSERT_EQ(config.type(k.key), Kivo::Config::Float) << k.key;
        EXPECT_EQ(config.getFloat(k.key), defaults.*k.member) << k.key;
        std::ostringstream row;
        row << "| `" << k.key << "` | " << defaults.*k.member << " |";
        EXPECT_NE(format.str().find(row.str()), std::string::npos) << row.str();
        EXPECT_NE(camera.str().find(row.str()), std::string::npos) << row.str();
    }
    ASSERT_TRUE(config.setFloat("camera.fov", 75.0f));
    ASSERT_TRUE(config.setFloat("camera.hand_size", 1000.0f));
    const auto model = KivoTools::cameraModelFromConfig(config);
    EXPECT_EQ(model.fieldOfView, 75.0f);
    EXPECT_EQ(model.handSize, 300.0f) << "held within its limits";
    EXPECT_EQ(model.distance, defaults.distance);
    Kivo::DeviceService::reset();
}

}  // namespace
