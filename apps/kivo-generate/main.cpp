// kivo-generate: writes synthetic recordings of the device's interactions.
#include <kivo_tools/Generator.h>

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"Writes synthetic Kivo recordings (one per interaction) into a folder."};
    std::string outDir = ".";
    std::vector<std::string> names;
    bool list = false;
    app.add_option("-o,--output", outDir, "folder for the NAME.kivo files")->capture_default_str();
    app.add_option("sessions", names, "sessions to write (default: all)");
    app.add_flag("-l,--list", list, "list the sessions and exit");
    CLI11_PARSE(app, argc, argv);

    if (list) {
        for (const auto& s : KivoTools::generatedSessions()) {
            std::cout << s.name << "\t" << s.description << "\n";
        }
        return 0;
    }
    if (names.empty()) {
        for (const auto& s : KivoTools::generatedSessions()) {
            names.push_back(s.name);
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::cerr << "kivo-generate: " << outDir << ": cannot create the folder: " << ec.message()
                  << "\n";
        return 1;
    }
    for (const auto& name : names) {
        Kivo::Recording rec;
        std::string error;
        if (!KivoTools::generateSession(name, rec, error)) {
            std::cerr << "kivo-generate: " << error << "\n";
            return 1;
        }
        const auto path = (std::filesystem::path(outDir) / (name + ".kivo")).string();
        if (auto err = Kivo::writeRecording(path, rec); !err.empty()) {
            std::cerr << "kivo-generate: " << err << "\n";
            return 1;
        }
        std::cout << path << ": " << rec.frameCount() << " frames, " << rec.eventCount()
                  << " events\n";
    }
    return 0;
}
