// kivo-convert: turns hand-skeleton landmark data into a Kivo recording.
#include <kivo_tools/HandDataConverter.h>
#include <kivo_tools/Landmarks.h>
#include <kivo_tools/SameFile.h>

#include <kivo_tools/ToolExit.h>
#include <CLI/CLI.hpp>

#include <cmath>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

// Sets KEY=VALUE of the camera model; returns an empty string or the error.
std::string applyCameraSetting(const std::string& setting, KivoTools::CameraModel& model) {
    const auto eq = setting.find('=');
    if (eq == std::string::npos) {
        return "--set " + setting + ": expected KEY=VALUE";
    }
    const std::string key = setting.substr(0, eq);
    const std::string value = setting.substr(eq + 1);
    for (const auto& k : KivoTools::kCameraKeys) {
        if (key != k.key) {
            continue;
        }
        std::size_t used = 0;
        float f = 0.0f;
        try {
            f = std::stof(value, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (value.empty() || used != value.size() || !std::isfinite(f)) {
            return "--set " + setting + ": " + key + " takes a finite number";
        }
        if (f < k.min || f > k.max) {
            return "--set " + setting + ": " + key + " must be between " + std::to_string(k.min) +
                   " and " + std::to_string(k.max);
        }
        model.*k.member = f;
        return {};
    }
    std::string known;
    for (const auto& k : KivoTools::kCameraKeys) {
        known += (known.empty() ? "" : ", ") + std::string(k.key);
    }
    return "--set " + setting + ": no such key (" + known + ")";
}

}  // namespace

static int run(int argc, char** argv) {
    CLI::App app{
        "Converts hand landmarks into a Kivo recording: palm position, palm normal, hand "
        "direction, fingertips and their directions. Reads camera landmarks (JSON "
        "[frame][21][x,y,z], metres, y down) or depth-camera skeletons (text, one frame per "
        "line: 22 joints x, y, z in metres, x to the user's right, y up, z towards the user), or "
        "the frames the tracker page collects from a video (--frames: JSON lines, one message "
        "per frame), placed by the camera model."};
    KivoTools::HandDataOptions options;
    std::string output;
    bool left = false;
    std::string framesPath;
    std::vector<std::string> settings;
    auto* landmarks = app.add_option("landmarks", options.landmarksPath,
                                     "3D landmarks (JSON) or skeletons (text), metres")
                          ->check(CLI::ExistingFile);
    auto* frames =
        app.add_option("--frames", framesPath,
                       "a tracked video's frames: JSON lines, one tracker message per frame; the "
                       "recording keeps their times")
            ->check(CLI::ExistingFile)
            ->excludes(landmarks);
    app.add_option("-s,--set", settings,
                   "camera model for --frames: KEY=VALUE, for example -s camera.fov=70 "
                   "(repeatable; keys camera.fov, camera.hand_size, camera.distance, "
                   "camera.height)")
        ->allow_extra_args(false);  // one setting each: the input may follow
    app.add_option("-o,--output", output, "recording to write")->required();
    app.add_option("--image", options.imagePath,
                   "the same frames in image pixels, for the hand's travel")
        ->check(CLI::ExistingFile);
    app.add_option("--rate", options.rate, "frames per second")->capture_default_str();
    app.add_option("--mm-per-pixel", options.mmPerPixel, "image scale")->capture_default_str();
    app.add_option("--height", options.height, "palm height above the device, mm")
        ->capture_default_str();
    app.add_flag("--left", left, "the data shows a left hand");
    app.add_option("--resample", options.resampleRate,
                   "frames per second of the recording, sampled between the input's frames "
                   "(default: the input's)");
    app.add_option("--noise", options.noise,
                   "mm: standard deviation of Gaussian noise added to each landmark coordinate")
        ->capture_default_str();
    app.add_option("--seed", options.seed, "draws the noise")->capture_default_str();
    app.add_option("--hold", options.hold,
                   "s the first pose is held before the motion (clips cut at a gesture's start "
                   "from a session whose hand was already in view)")
        ->capture_default_str();
    app.add_flag("--leave", options.leave,
                 "end with a frame without the hand, as if it left the view after the last one");
    // What shapes landmark and skeleton files does not apply to a tracked video's frames: given
    // with --frames, it is refused rather than silently left out.
    for (const char* name : {"--image", "--rate", "--mm-per-pixel", "--height", "--left",
                             "--resample", "--noise", "--seed", "--hold", "--leave"}) {
        app.get_option(name)->excludes(frames);
    }
    CLI11_PARSE(app, argc, argv);
    options.rightHand = !left;
    if (framesPath.empty() && options.landmarksPath.empty()) {
        std::cerr << "kivo-convert: give a landmarks file or --frames FILE\n";
        return 1;
    }
    if (!settings.empty() && framesPath.empty()) {
        std::cerr << "kivo-convert: --set applies to --frames only\n";
        return 1;
    }

    // The inputs are read whole before the recording is written: one named as the output would
    // be lost.
    for (const std::string* input : {&options.landmarksPath, &framesPath, &options.imagePath}) {
        if (!input->empty() && KivoTools::sameFile(*input, output)) {
            std::cerr << "kivo-convert: the recording (-o) would overwrite its input, '" << *input
                      << "'\n";
            return 1;
        }
    }

    Kivo::Recording rec;
    std::string error;
    if (!framesPath.empty()) {
        KivoTools::CameraModel model;
        for (const auto& setting : settings) {
            if (auto err = applyCameraSetting(setting, model); !err.empty()) {
                std::cerr << "kivo-convert: " << err << "\n";
                return 1;
            }
        }
        std::ifstream in(framesPath);
        if (!in) {
            std::cerr << "kivo-convert: " << framesPath << ": cannot open the file for reading\n";
            return 1;
        }
        if (!KivoTools::convertLandmarkLines(in, framesPath, model, rec, error)) {
            std::cerr << "kivo-convert: " << error << "\n";
            return 1;
        }
    } else if (!KivoTools::convertHandData(options, rec, error)) {
        std::cerr << "kivo-convert: " << error << "\n";
        return 1;
    }
    if (auto err = Kivo::writeRecording(output, rec); !err.empty()) {
        std::cerr << "kivo-convert: " << err << "\n";
        return 1;
    }
    std::cout << output << ": " << rec.frameCount() << " frames at " << rec.header.rate
              << " per second\n";
    return 0;
}

int main(int argc, char** argv) {
    return KivoTools::exitAfterOutput("kivo-convert", run(argc, argv));
}
