// bake -frames N [-start F] [-replay] -output PATH [-table PATH] ITEM...
#include <cmath>
#include <filesystem>
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

host::Status run(CommandContext& context) {
    const auto onFrame = context.interpreter().takeFrameHook();
    const auto& in = context.in();
    auto& host = context.host();
    bake::BakeRequest request;
    request.frames = *parseInteger(in.value("frames"));
    if (in.has("start")) {
        request.startFrame = *parseInteger(in.value("start"));
    } else {
        const double current = host.time() * host.fps();
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
    bake::GltfWriter gltf(output, request.frames, objects);
    if (!gltf.status())
        return gltf.status();
    ProgressBar progress("bake", request.frames);
    progress.show(0);
    auto take = bake::sampleBake(host, request, gltf, [&](long long done) {
        progress.show(done);
        return onFrame ? onFrame(request.startFrame + done - 1) : host::Status{};
    });
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
    context.result(
        "baked " + std::to_string(request.frames) + " frames from frame " +
        std::to_string(request.startFrame) + ": " + std::to_string(take.value.objects.size()) +
        " objects (" + std::to_string(meshes) + " meshes, " + std::to_string(shapes) +
        " changed shapes), " + std::to_string(take.value.plugs.size()) + " plugs (" +
        std::to_string(columns) + " columns) -> " + output + (table.empty() ? "" : ", " + table));
    return {};
}

const CommandRegistration registration{{
    .name = "bake",
    .synopsis = "-frames N [-start F] [-replay] -output PATH [-table PATH] ITEM...",
    .summary =
        "Step the scene over N frames from frame F (default: the current frame), each setting the "
        "scene time, advancing a lockstep replay by one frame with -replay, and running a "
        "refresh; sample every ITEM (an object: its world pose and mesh shape; node.attribute: "
        "the plug's value); write glTF (.glb, or .gltf with a .bin beside) and with -table a CSV "
        "or JSON table of every sampled number. Shows a progress bar on a terminal; not undoable.",
    .flags = {{.name = "frames",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "how many frames to bake, from 1 to 10000000"},
              {.name = "start",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "F",
               .help = "the first frame (default: the current frame)"},
              {.name = "replay", .help = "advance a lockstep device replay by a frame each frame"},
              {.name = "output",
               .values = 1,
               .valueName = "PATH",
               .help = "the glTF file: .glb or .gltf"},
              {.name = "table",
               .values = 1,
               .valueName = "PATH",
               .help = "also write the samples as a table: .csv or .json"}},
    .minArgs = 1,
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
