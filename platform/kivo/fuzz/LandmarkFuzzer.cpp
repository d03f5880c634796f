// Feeds arbitrary bytes, one message per line, to the camera tracker's message reader and the
// converter. Whatever the reader accepts must be within its limits and write back out to the same
// frame; whatever the converter makes of it must be a valid recording line.
#include <kivo/Recording.h>
#include <kivo_tools/Landmarks.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

nlohmann::json point(const Kivo::Vector& v) {
    return nlohmann::json::array({v.x, v.y, v.z});
}

std::string messageOf(const KivoTools::LandmarkFrame& frame) {
    nlohmann::json hands = nlohmann::json::array();
    for (const auto& h : frame.hands) {
        nlohmann::json image = nlohmann::json::array();
        nlohmann::json world = nlohmann::json::array();
        for (std::size_t i = 0; i < KivoTools::kHandLandmarks; ++i) {
            image.push_back(point(h.image[i]));
            world.push_back(point(h.world[i]));
        }
        hands.push_back({{"handedness", h.right ? "Right" : "Left"},
                         {"score", h.score},
                         {"image", image},
                         {"world", world}});
    }
    return nlohmann::json{
        {"type", "frame"},        {"time", frame.timeMs},       {"width", frame.width},
        {"height", frame.height}, {"mirrored", frame.mirrored}, {"hands", hands}}
        .dump();
}

bool sameFrame(const KivoTools::LandmarkFrame& a, const KivoTools::LandmarkFrame& b) {
    if (a.timeMs != b.timeMs || a.width != b.width || a.height != b.height ||
        a.mirrored != b.mirrored || a.hands.size() != b.hands.size()) {
        return false;
    }
    for (std::size_t h = 0; h < a.hands.size(); ++h) {
        if (a.hands[h].right != b.hands[h].right || a.hands[h].score != b.hands[h].score ||
            a.hands[h].image != b.hands[h].image || a.hands[h].world != b.hands[h].world) {
            return false;
        }
    }
    return true;
}

void checkConverted(const Kivo::FrameRecord& frame) {
    if (frame.hands.size() > KivoTools::kMaxLandmarkHands ||
        frame.pointables.size() != 5 * frame.hands.size() || frame.timestamp < 0 ||
        frame.timestamp > Kivo::kMaxRecordingTime) {
        std::abort();
    }
    std::set<std::int32_t> hands;
    for (const auto& h : frame.hands) {
        if (!hands.insert(h.id).second || !h.palmPosition.isFinite() || !h.palmNormal.isFinite() ||
            !h.direction.isFinite()) {
            std::abort();
        }
    }
    for (const auto& p : frame.pointables) {
        if (!p.tipPosition.isFinite() || !p.direction.isFinite() || !std::isfinite(p.length) ||
            p.length < 0.0f) {
            std::abort();
        }
    }
    // The recording format takes it as it is.
    Kivo::RecordEntry back;
    std::string error;
    if (!Kivo::parseRecordLine(Kivo::formatRecordLine(frame), back, error) ||
        !(std::get<Kivo::FrameRecord>(back) == frame)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    KivoTools::LandmarkConverter converter;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const auto line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);

        KivoTools::LandmarkFrame frame;
        bool hello = false;
        std::string error;
        if (!KivoTools::parseLandmarkMessage(line, frame, hello, error)) {
            if (error.empty() || error.find(": ") == std::string::npos) {
                std::abort();  // every refusal names its field
            }
            continue;
        }
        if (hello) {
            continue;
        }
        KivoTools::LandmarkFrame again;
        if (!KivoTools::parseLandmarkMessage(messageOf(frame), again, hello, error) || hello ||
            !sameFrame(again, frame)) {
            std::abort();
        }
        checkConverted(converter.convert(frame));
    }
    return 0;
}
