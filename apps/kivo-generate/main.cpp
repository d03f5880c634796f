// kivo-generate: writes synthetic recordings of the device's interactions.
#include <kivo_tools/Generator.h>

#include <kivo_tools/ToolExit.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>

static int run(int argc, char** argv) {
    CLI::App app{
        "Writes synthetic Kivo recordings (one per interaction) into a folder. With --takes, "
        "writes human-like variants of each instead, sorted into one folder per gesture they "
        "must give (swipe/, circle/, screen-tap/, key-tap/, none/): a labelled set for "
        "kivo-evaluate."};
    std::string outDir = ".";
    std::vector<std::string> names;
    bool list = false;
    std::uint32_t takes = 0;
    std::uint64_t seed = 1;
    app.add_option("-o,--output", outDir, "folder for the NAME.kivo files")->capture_default_str();
    app.add_option("sessions", names, "sessions to write (default: all)");
    app.add_flag("-l,--list", list, "list the sessions (name, gesture, description) and exit");
    app.add_option("--takes", takes,
                   "write N takes of each session as OUTPUT/GESTURE/NAME-K.kivo: take 00 is the "
                   "canonical one, the others vary it (1 to 1000)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1000u));
    app.add_option("--seed", seed, "seed of the variation (same seed, same takes)")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    if (list) {
        for (const auto& s : KivoTools::generatedSessions()) {
            std::cout << s.name << "\t" << s.gesture << "\t" << s.description << "\n";
        }
        return 0;
    }
    if (names.empty()) {
        for (const auto& s : KivoTools::generatedSessions()) {
            names.push_back(s.name);
        }
    }
    std::map<std::string, std::string> gestureOf;
    for (const auto& s : KivoTools::generatedSessions()) {
        gestureOf[s.name] = s.gesture;
    }
    const auto write = [&](const std::filesystem::path& folder, const std::string& file,
                           const Kivo::Recording& rec) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            std::cerr << "kivo-generate: " << folder.string()
                      << ": cannot create the folder: " << ec.message() << "\n";
            return false;
        }
        const auto path = (folder / file).string();
        if (auto err = Kivo::writeRecording(path, rec); !err.empty()) {
            std::cerr << "kivo-generate: " << err << "\n";
            return false;
        }
        std::cout << path << ": " << rec.frameCount() << " frames, " << rec.eventCount()
                  << " events\n";
        return true;
    };
    for (const auto& name : names) {
        Kivo::Recording rec;
        std::string error;
        if (!KivoTools::generateSession(name, rec, error)) {
            std::cerr << "kivo-generate: " << error << "\n";
            return 1;
        }
        if (takes == 0) {
            if (!write(outDir, name + ".kivo", rec)) {
                return 1;
            }
            continue;
        }
        for (std::uint32_t take = 0; take < takes; ++take) {
            KivoTools::generateSession(name, rec, error, take, seed);
            char number[32];
            std::snprintf(number, sizeof number, "-%02u.kivo", static_cast<unsigned>(take));
            if (!write(std::filesystem::path(outDir) / gestureOf[name], name + number, rec)) {
                return 1;
            }
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    return KivoTools::exitAfterOutput("kivo-generate", run(argc, argv));
}
