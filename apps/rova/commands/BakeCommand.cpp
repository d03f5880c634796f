// bake -frames N [-start F] [-fps R] [-replay] [-unit M | -raw] [-skin NODE] -output PATH
//      [-table PATH] ITEM...
#include <kivo/DeviceService.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "../Command.h"
#include "../Interpreter.h"
#include "../ProgressBar.h"
#include "../bake/BakeSampler.h"
#include "../bake/GltfExport.h"
#include "../bake/SampleTable.h"
#include "rovahost/ReplaceFile.h"

namespace rova::lang {
namespace {

std::string lowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// A file the bake will write: its folder must exist now, so that a long bake is not lost at the
// end for want of a place to put it.
host::Status checkPlace(const std::string& path) {
    const std::filesystem::path file(path);
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        return host::Status::failure("cannot write '" + path + "': it is a folder");
    const std::filesystem::path folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, error))
        return host::Status::failure("cannot write '" + path + "': no folder '" + folder.string() +
                                     "'");
    return {};
}

// One device millimetre in metres: the tracking nodes place a millimetre at `scale` scene units.
constexpr double kMetresPerMm = 0.001;
// The scene unit when no tracking node says otherwise: that of the nodes' default scale (0.05
// scene units per millimetre, so a unit is 20 mm).
constexpr double kDefaultTrackingScale = 0.05;

// Metres per scene unit: -raw keeps scene units (1), -unit gives it, and otherwise the tracking
// nodes' scale sets it, so that a tracked hand comes out life-size.
host::Result<double> unitOf(const Invocation& in, host::Host& host) {
    if (in.has("raw"))
        return {1.0, {}};
    if (in.has("unit"))
        return {*parseNumber(in.value("unit")), {}};
    std::optional<double> scale;
    std::string first;
    for (const std::string& node : host.nodeNames(bake::kTrackingNodeType)) {
        auto value = host.getPlug(node + "." + bake::kTrackingScale);
        if (!value.ok())
            return {0.0, value.status};
        const double s = value.value.doubleValue;
        const std::string plug = node + "." + bake::kTrackingScale;
        if (!(s > 0.0) || !std::isfinite(s))
            return {0.0,
                    host::Status::failure("cannot tell the scene unit: '" + plug + "' is " +
                                          host::formatDouble(s) + "; give -unit METRES or -raw")};
        if (scale && *scale != s)
            return {0.0,
                    host::Status::failure("cannot tell the scene unit: '" + first + "' is " +
                                          host::formatDouble(*scale) + " and '" + plug + "' is " +
                                          host::formatDouble(s) + "; give -unit METRES or -raw")};
        scale = s;
        first = plug;
    }
    return {kMetresPerMm / scale.value_or(kDefaultTrackingScale), {}};
}

// The bake's rate: -fps, else a lockstep replay's recorded rate, else the scene's.
double rateOf(const Invocation& in, const host::Host& host) {
    if (in.has("fps"))
        return *parseNumber(in.value("fps"));
    if (in.has("replay")) {
        const auto status = Kivo::DeviceService::status();
        if (status.source == Kivo::ServiceStatus::Source::Replay &&
            !status.replayOptions.realtime && status.replayRate > 0.0)
            return status.replayRate;
    }
    return host.fps();
}

host::Status run(CommandContext& context) {
    const auto onFrame = context.interpreter().takeFrameHook();
    const auto& in = context.in();
    auto& host = context.host();
    bake::BakeRequest request;
    request.frames = *parseInteger(in.value("frames"));
    request.fps = rateOf(in, host);
    auto unit = unitOf(in, host);
    if (!unit.ok())
        return unit.status;
    request.unit = unit.value;
    request.metres = !in.has("raw");
    if (in.has("skin"))
        request.skins.push_back(in.value("skin"));
    if (in.has("start")) {
        request.startFrame = *parseInteger(in.value("start"));
    } else {
        const double current = host.time() * request.fps;
        if (!(std::abs(current) <= static_cast<double>(bake::kMaxBakeFrameNumber)))
            return host::Status::failure("the current frame (" + host::formatDouble(current) +
                                         ") is beyond the frames a bake can step; give -start");
        request.startFrame = std::llround(current);
    }
    request.replay = in.has("replay");
    request.items = in.args();
    const std::string output = in.value("output");
    const std::string table = in.value("table");
    for (const std::string& path : {output, table})
        if (!path.empty())
            if (auto status = checkPlace(path); !status)
                return status;

    std::size_t objects = 0;
    for (const std::string& item : request.items)
        objects += item.find('.') == std::string::npos ? 1 : 0;
    bake::GltfWriter gltf(output, request.frames, objects, request.skins.size());
    if (!gltf.status())
        return gltf.status();
    ProgressBar progress("bake", request.frames);
    progress.show(0);
    auto take = bake::sampleBake(host, request, gltf, [&](long long done) {
        progress.show(done);
        return onFrame ? onFrame(request.startFrame + done - 1) : host::Status{};
    });
    progress.finish();
    if (!take.ok())
        return take.status;
    // Every file is complete on disk before any replaces what was there.
    if (auto status = gltf.finish(take.value); !status)
        return status;
    std::optional<host::FileReplacement> tableFile;
    if (!table.empty()) {
        tableFile.emplace(table);
        if (auto status = bake::writeTable(take.value, *tableFile); !status)
            return status;
    }
    if (auto status = gltf.putInPlace(); !status)
        return status;
    if (tableFile)
        if (auto status = tableFile->putInPlace(); !status)
            return status;

    std::size_t meshes = 0, shapes = 0, columns = 0;
    for (const auto& track : take.value.objects) {
        meshes += track.meshName.empty() ? 0 : 1;
        shapes += track.shapeCount;
    }
    for (const auto& track : take.value.plugs) columns += track.columns.size();
    for (const std::string& warning : bake::bakeWarnings(take.value))
        std::cerr << "warning: bake: " << warning << "\n";
    std::cerr << std::flush;
    context.result(
        "baked " + std::to_string(request.frames) + " frames from frame " +
        std::to_string(request.startFrame) + ": " + std::to_string(take.value.objects.size()) +
        " objects (" + std::to_string(meshes) + " meshes, " + std::to_string(shapes) +
        " changed shapes), " + std::to_string(take.value.plugs.size()) + " plugs (" +
        std::to_string(columns) + " columns)" +
        (request.skins.empty() ? "" : ", the hand of " + request.skins.front() + " as a skin") +
        " -> " + output + (table.empty() ? "" : ", " + table) + " (" +
        host::formatDouble(request.fps) + " fps, " +
        (in.has("raw") ? std::string("scene units kept")
                       : "1 scene unit = " + host::formatDouble(request.unit) + " m") +
        ")");
    return {};
}

const CommandRegistration registration{{
    .name = "bake",
    .synopsis =
        "-frames N [-start F] [-fps R] [-replay] [-unit M | -raw] [-skin NODE] -output PATH "
        "[-table PATH] [ITEM...]",
    .summary =
        "Step the scene over N frames from frame F (default: the current frame) at the bake's "
        "rate, each setting the scene time, advancing a lockstep replay by one frame with -replay, "
        "and running a refresh; sample every ITEM (an object: its world pose and mesh shape; "
        "node.attribute: the plug's value) and with -skin a tracked hand as a rig; write glTF "
        "(.glb, or .gltf with a .bin beside) in metres and with -table a CSV or JSON table of "
        "every sampled number; warn about items that never changed, tracked outputs that never "
        "saw a hand and frames baked after the replay ended. Shows a progress bar on a terminal; "
        "not undoable.",
    .flags = {{.name = "frames",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "how many frames to bake, from 1 to 10000000"},
              {.name = "start",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "F",
               .help = "the first frame (default: the current frame, at the bake's rate)"},
              {.name = "fps",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "R",
               .help = "the bake's rate, which the scene takes on (default: with -replay the "
                       "recording's rate, else the scene's)"},
              {.name = "replay",
               .help = "advance a lockstep device replay by a frame each frame; keys fall at the "
                       "recorded times"},
              {.name = "unit",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "M",
               .help = "metres per scene unit (default: 0.001 / the kivoTransform nodes' scale, "
                       "0.02 with the default scale or without such a node)"},
              {.name = "raw", .help = "write scene units as they are (one scene unit per metre)"},
              {.name = "skin",
               .values = 1,
               .valueName = "NODE",
               .help = "also write the first hand of kivoTransform NODE as a skinned, animated "
                       "hand rig"},
              {.name = "output",
               .values = 1,
               .valueName = "PATH",
               .help = "the glTF file: .glb or .gltf"},
              {.name = "table",
               .values = 1,
               .valueName = "PATH",
               .help = "also write the samples as a table: .csv or .json"}},
    .minArgs = 0,
    .maxArgs = -1,
    .validate =
        [](const Invocation& in) {
            if (!in.has("frames"))
                return host::Status::failure("-frames N is required");
            const long long frames = *parseInteger(in.value("frames"));
            if (frames < 1 || frames > bake::kMaxBakeFrames)
                return host::Status::failure("-frames must be from 1 to " +
                                             std::to_string(bake::kMaxBakeFrames) + ", got " +
                                             in.value("frames"));
            if (in.args().empty() && !in.has("skin"))
                return host::Status::failure("name at least one ITEM to bake, or -skin NODE");
            if (in.has("fps") && !(*parseNumber(in.value("fps")) > 0.0))
                return host::Status::failure("-fps must be a positive number, got " +
                                             in.value("fps"));
            if (in.has("unit") && !(*parseNumber(in.value("unit")) > 0.0))
                return host::Status::failure("-unit must be a positive number of metres, got " +
                                             in.value("unit"));
            if (in.has("unit") && in.has("raw"))
                return host::Status::failure("-unit and -raw exclude each other");
            if (!in.has("output"))
                return host::Status::failure("-output PATH is required");
            const std::string output = lowerExtension(in.value("output"));
            if (output != ".glb" && output != ".gltf")
                return host::Status::failure("-output must name a .glb or .gltf file, got '" +
                                             in.value("output") + "'");
            if (in.has("table")) {
                const std::string table = lowerExtension(in.value("table"));
                if (table != ".csv" && table != ".json")
                    return host::Status::failure("-table must name a .csv or .json file, got '" +
                                                 in.value("table") + "'");
            }
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
