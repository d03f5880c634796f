// kivo-convert: turns hand-skeleton landmark data into a Kivo recording.
#include <kivo_tools/HandDataConverter.h>

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{
        "Converts hand landmarks into a Kivo recording: palm position, palm normal, hand "
        "direction, fingertips and their directions. Reads camera landmarks (JSON "
        "[frame][21][x,y,z], metres, y down) or depth-camera skeletons (text, one frame per "
        "line: 22 joints x, y, z in metres, x to the user's right, y up, z towards the user)."};
    KivoTools::HandDataOptions options;
    std::string output;
    bool left = false;
    app.add_option("landmarks", options.landmarksPath,
                   "3D landmarks (JSON) or skeletons (text), metres")
        ->required()
        ->check(CLI::ExistingFile);
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
    CLI11_PARSE(app, argc, argv);
    options.rightHand = !left;

    Kivo::Recording rec;
    std::string error;
    if (!KivoTools::convertHandData(options, rec, error)) {
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
