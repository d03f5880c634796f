// kivo-evaluate: measures the device service's gesture recognition on a folder of labelled
// recordings and prints a confusion table, so that thresholds can be tuned on anyone's takes.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Recording.h>

#include <kivo_tools/ToolExit.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What a take was labelled with, and the outcomes it can have.
// "tap" takes either kind of tap as right: a finger tapping in the air may press towards the
// screen or down, whichever its hand's pose makes natural.
constexpr std::array<const char*, 6> kLabels{"swipe",   "circle", "screen-tap",
                                             "key-tap", "tap",    "none"};
constexpr std::array<const char*, 4> kTypes{"swipe", "circle", "screen-tap", "key-tap"};
constexpr const char* kMixed = "several";

// The label of a take: its folder's name when that is a label (swipe/take-3.kivo), otherwise the
// label its file name starts with, followed by the end of the name or by '-', '_' or '.'
// (swipe-left-3.kivo, none_pinch.kivo). Nothing for a file that has neither.
std::optional<std::string> labelOf(const fs::path& file) {
    const std::string folder = file.parent_path().filename().string();
    for (const char* label : kLabels) {
        if (folder == label) {
            return label;
        }
    }
    const std::string stem = file.stem().string();
    for (const char* label : kLabels) {
        const std::string l = label;
        if (stem.rfind(l, 0) == 0 &&
            (stem.size() == l.size() ||
             std::string("-_.").find(stem[l.size()]) != std::string::npos)) {
            return label;
        }
    }
    return std::nullopt;
}

struct Take {
    fs::path path;
    std::string label;
    std::map<std::string, int> started;  // gestures begun, by type
    std::string outcome;                 // the one type seen, "none", or kMixed
    std::vector<std::string> swipes;     // the way each swipe went, in the order they started
    // Each start and stop (and with a trace, why motion made no gesture) with its time in the
    // take, in time order.
    std::vector<std::pair<double, std::string>> events;
};

bool isRight(const Take& take) {
    return take.outcome == take.label ||
           (take.label == "tap" && (take.outcome == "screen-tap" || take.outcome == "key-tap"));
}

// The axis a swipe mostly went along, in the user's words (device frame: x right, y up, z
// towards the user).
const char* wayOf(const Kivo::Vector& d) {
    const float ax = std::abs(d.x);
    const float ay = std::abs(d.y);
    const float az = std::abs(d.z);
    if (ax >= ay && ax >= az) {
        return d.x > 0 ? "right" : "left";
    }
    if (ay >= az) {
        return d.y > 0 ? "up" : "down";
    }
    return d.z > 0 ? "back" : "forward";
}

// Replays `take` in lockstep with every gesture type enabled and counts the gestures that start;
// with `trace`, also notes why motion made no gesture.
std::string replay(Take& take, bool trace) {
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    if (auto err = Kivo::DeviceService::replay(take.path.string()); !err.empty()) {
        return err;
    }
    std::int64_t seen = controller.frame(0).id();
    std::int64_t firstTime = -1;
    // By frame timestamp: the trace speaks while a frame is recognised, before it is read here.
    std::vector<std::pair<std::int64_t, std::string>> timeline;
    if (trace) {
        // A refusal that holds frame after frame is noted once.
        Kivo::DeviceService::traceRecognition([&timeline](std::int64_t t, std::string_view why) {
            const std::string line = "why: " + std::string(why);
            for (auto it = timeline.rbegin(); it != timeline.rend(); ++it) {
                if (it->second.starts_with("why: ")) {
                    if (it->second == line) {
                        return;
                    }
                    break;
                }
            }
            timeline.emplace_back(t, line);
        });
    }
    while (Kivo::DeviceService::advance()) {
        const Kivo::Frame newest = controller.frame(0);
        for (std::int64_t id = seen + 1; id <= newest.id(); ++id) {
            const auto f = controller.frame(static_cast<int>(newest.id() - id));
            if (firstTime < 0) {
                firstTime = f.timestamp();
            }
            for (int i = 0; i < f.gestures().count(); ++i) {
                const auto g = f.gestures()[i];
                const bool start = g.state() == Kivo::Gesture::StateStart;
                const bool stop = g.state() == Kivo::Gesture::StateStop;
                if (start) {
                    ++take.started[std::string(Kivo::gestureTypeName(g.type()))];
                }
                if (stop && g.type() == Kivo::Gesture::Swipe) {
                    take.swipes.emplace_back(wayOf(Kivo::SwipeGesture(g).direction()));
                }
                if (start || stop) {
                    char line[160];
                    std::snprintf(line, sizeof line, "%s %s",
                                  std::string(Kivo::gestureTypeName(g.type())).c_str(),
                                  start ? "start" : "stop");
                    std::string event = line;
                    if (stop && g.type() == Kivo::Gesture::Swipe) {
                        const Kivo::SwipeGesture swipe(g);
                        std::snprintf(line, sizeof line, " %s %.0f mm", wayOf(swipe.direction()),
                                      swipe.position().distanceTo(swipe.startPosition()));
                        event += line;
                    }
                    timeline.emplace_back(f.timestamp(), std::move(event));
                }
            }
        }
        seen = newest.id();
    }
    Kivo::DeviceService::stop();
    if (trace) {
        Kivo::DeviceService::traceRecognition({});
    }
    std::stable_sort(timeline.begin(), timeline.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [t, text] : timeline) {
        take.events.emplace_back(1e-6 * static_cast<double>(t - firstTime), std::move(text));
    }
    take.outcome = take.started.empty()      ? "none"
                   : take.started.size() > 1 ? kMixed
                                             : take.started.begin()->first;
    return {};
}

// Sets KEY=VALUE on the service's configuration: a float, or true/false for a boolean key.
std::string applySetting(const std::string& setting) {
    const auto eq = setting.find('=');
    if (eq == std::string::npos) {
        return "--set " + setting + ": expected KEY=VALUE";
    }
    const std::string key = setting.substr(0, eq);
    const std::string value = setting.substr(eq + 1);
    Kivo::Config config = Kivo::Controller().config();
    switch (config.type(key)) {
        case Kivo::Config::Bool:
            if (value != "true" && value != "false") {
                return "--set " + setting + ": " + key + " takes true or false";
            }
            config.setBool(key, value == "true");
            return {};
        case Kivo::Config::Float: {
            std::size_t used = 0;
            float f = 0.0f;
            try {
                f = std::stof(value, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != value.size() || value.empty() || !config.setFloat(key, f)) {
                return "--set " + setting + ": " + key + " takes a finite number";
            }
            return {};
        }
        case Kivo::Config::Undefined:
            return "--set " + setting + ": no such key (--keys lists them)";
        default:
            return "--set " + setting + ": " + key + " is not a recogniser setting";
    }
}

std::string percent(int n, int of) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", of == 0 ? 0.0 : 100.0 * n / of);
    return text;
}

void printTables(const std::vector<Take>& takes) {
    std::vector<std::string> columns(kTypes.begin(), kTypes.end());
    columns.push_back("none");
    columns.push_back(kMixed);
    std::map<std::string, std::map<std::string, int>> confusion;  // label -> outcome -> takes
    std::map<std::string, std::map<std::string, int>> anyOf;      // label -> type -> takes
    std::map<std::string, int> count;
    int right = 0;
    for (const auto& t : takes) {
        ++confusion[t.label][t.outcome];
        ++count[t.label];
        for (const auto& [type, n] : t.started) {
            ++anyOf[t.label][type];
        }
        right += isRight(t) ? 1 : 0;
    }
    const auto row = [](const std::string& first, const std::vector<std::string>& cells) {
        std::printf("%-12s", first.c_str());
        for (const auto& c : cells) {
            std::printf(" %11s", c.c_str());
        }
        std::printf("\n");
    };
    std::printf("outcome of each take (one gesture type seen, none, or several types):\n");
    auto header = columns;
    header.insert(header.begin(), "takes");
    header.push_back("right");
    row("label", header);
    for (const char* label : kLabels) {
        if (count[label] == 0) {
            continue;
        }
        std::vector<std::string> cells{std::to_string(count[label])};
        for (const auto& c : columns) {
            cells.push_back(std::to_string(confusion[label][c]));
        }
        const int correct = std::string(label) == "tap"
                                ? confusion[label]["screen-tap"] + confusion[label]["key-tap"]
                                : confusion[label][label];
        cells.push_back(percent(correct, count[label]));
        row(label, cells);
    }
    std::printf("\ntakes in which each type was recognised at least once:\n");
    std::vector<std::string> typeHeader(kTypes.begin(), kTypes.end());
    row("label", typeHeader);
    for (const char* label : kLabels) {
        if (count[label] == 0) {
            continue;
        }
        std::vector<std::string> cells;
        for (const char* type : kTypes) {
            cells.push_back(percent(anyOf[label][type], count[label]));
        }
        row(label, cells);
    }
    std::printf("\n%d of %zu takes right (%s)\n", right, takes.size(),
                percent(right, static_cast<int>(takes.size())).c_str());
}

}  // namespace

static int run(int argc, char** argv) {
    CLI::App app{
        "Replays labelled Kivo recordings in lockstep through the device service's gesture "
        "recognition and prints a confusion table. A take's label is its folder's name (swipe/, "
        "circle/, screen-tap/, key-tap/, tap/ (either tap), none/) or the start of its file name "
        "(swipe-left-3.kivo); other files are skipped. `kivo-generate --takes N -o DIR` makes such "
        "a set."};
    std::vector<std::string> inputs;
    std::vector<std::string> settings;
    bool listKeys = false;
    bool perTake = false;
    bool directions = false;
    bool events = false;
    bool trace = false;
    app.add_option("inputs", inputs, "folders (searched recursively) or .kivo files");
    app.add_option("-s,--set", settings,
                   "override a recogniser setting for the whole run, e.g. "
                   "-s recognizer.swipe.min_speed=600 (repeatable)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);  // one setting each: the inputs may follow
    app.add_flag("--keys", listKeys, "list the recogniser settings with their values and exit");
    app.add_flag("-t,--takes", perTake, "also print one line per take");
    app.add_flag("--directions", directions,
                 "with -t: end each take's line with the way each swipe went when it ended "
                 "(left, right, up, down, forward, back)");
    app.add_flag("--events", events,
                 "with -t: below each take's line, every gesture's start and stop with its time in "
                 "the take (and a swipe's way and length from where it started)");
    app.add_flag("--why", trace,
                 "with -t: below each take's line, also each stroke, reach or tap that made no "
                 "gesture, with its time, the figures and the setting that refused it");
    CLI11_PARSE(app, argc, argv);

    Kivo::DeviceService::reset();
    for (const auto& s : settings) {
        if (auto err = applySetting(s); !err.empty()) {
            std::cerr << "kivo-evaluate: " << err << "\n";
            return 2;
        }
    }
    if (listKeys) {
        const Kivo::Config config = Kivo::Controller().config();
        for (const auto& key : config.keys()) {
            if (key.rfind("recognizer.", 0) != 0) {
                continue;
            }
            if (config.type(key) == Kivo::Config::Bool) {
                std::cout << key << " " << (config.getBool(key) ? "true" : "false") << "\n";
            } else {
                std::cout << key << " " << config.getFloat(key) << "\n";
            }
        }
        return 0;
    }
    if (inputs.empty()) {
        std::cerr << "kivo-evaluate: no folder or recording given (--help)\n";
        return 2;
    }

    std::vector<Take> takes;
    int skipped = 0;
    const auto consider = [&](const fs::path& file) {
        if (auto label = labelOf(file)) {
            takes.push_back({file, *label, {}, {}, {}, {}});
        } else {
            ++skipped;
        }
    };
    for (const auto& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            std::vector<fs::path> files;
            for (const auto& e : fs::recursive_directory_iterator(input, ec)) {
                if (e.is_regular_file() && e.path().extension() == ".kivo") {
                    files.push_back(e.path());
                }
            }
            std::sort(files.begin(), files.end());
            std::for_each(files.begin(), files.end(), consider);
        } else if (fs::is_regular_file(input, ec)) {
            consider(input);
        } else {
            std::cerr << "kivo-evaluate: " << input
                      << (fs::exists(input, ec) ? ": is neither a file nor a folder"
                                                : ": no such file or folder")
                      << "\n";
            return 1;
        }
    }
    if (takes.empty()) {
        std::cerr << "kivo-evaluate: no labelled recording found (" << skipped
                  << " without a label)\n";
        return 1;
    }
    for (auto& take : takes) {
        if (auto err = replay(take, trace); !err.empty()) {
            std::cerr << "kivo-evaluate: " << err << "\n";
            return 1;
        }
        if (perTake) {
            std::printf("%s: %s -> %s", take.path.string().c_str(), take.label.c_str(),
                        take.outcome.c_str());
            for (const auto& [type, n] : take.started) {
                std::printf(" %s %d", type.c_str(), n);
            }
            if (directions && !take.swipes.empty()) {
                std::printf(" /");
                for (const auto& way : take.swipes) {
                    std::printf(" %s", way.c_str());
                }
            }
            std::printf("\n");
            if (events || trace) {
                for (const auto& [time, text] : take.events) {
                    if (!events && !text.starts_with("why: ")) {
                        continue;
                    }
                    std::printf("    %.3f s %s\n", time, text.c_str());
                }
            }
        }
    }
    if (perTake) {
        std::printf("\n");
    }
    printTables(takes);
    if (skipped > 0) {
        std::printf("%d recording(s) without a label skipped\n", skipped);
    }
    return 0;
}

int main(int argc, char** argv) {
    return KivoTools::exitAfterOutput("kivo-evaluate", run(argc, argv));
}
