#include "BakeSampler.h"

#include <kivo/DeviceService.h>

#include <set>

#include "rovahost/Scene.h"

namespace rova::bake {
namespace {

using host::PlugValue;
using host::Status;

Status failure(const std::string& message) {
    return Status::failure(message);
}

// The columns of one plug value, or why it cannot be sampled.
host::Result<std::vector<std::string>> columnsOf(const std::string& plug, const PlugValue& value) {
    using Kind = PlugValue::Kind;
    std::vector<std::string> columns;
    const auto components = [&](int count) {
        for (int i = 0; i < count; ++i) columns.push_back(plug + "[" + std::to_string(i) + "]");
    };
    switch (value.kind) {
        case Kind::kBool:
        case Kind::kInt:
        case Kind::kDouble:
        case Kind::kTime:
        case Kind::kString:
            columns.push_back(plug);
            break;
        case Kind::kDouble3:
            components(3);
            break;
        case Kind::kMatrix:
            components(16);
            break;
        case Kind::kMesh:
            return {{},
                    failure("cannot sample '" + plug +
                            "': it holds a mesh; name the object to bake its shape")};
        case Kind::kArray:
        case Kind::kNone:
            return {{}, failure("cannot sample '" + plug + "': it holds no single value")};
    }
    return {columns, {}};
}

PlugSample sampleOf(const PlugValue& value) {
    using Kind = PlugValue::Kind;
    switch (value.kind) {
        case Kind::kBool:
            return std::vector<double>{value.boolValue ? 1.0 : 0.0};
        case Kind::kInt:
            return std::vector<double>{static_cast<double>(value.intValue)};
        case Kind::kDouble:
        case Kind::kTime:
            return std::vector<double>{value.doubleValue};
        case Kind::kDouble3:
            return std::vector<double>(value.double3.begin(), value.double3.end());
        case Kind::kMatrix:
            return std::vector<double>(value.matrix.begin(), value.matrix.end());
        case Kind::kString:
            return value.text;
        default:
            return std::vector<double>{};
    }
}

MeshShape shapeOf(const host::scene::MeshGeometry& geometry) {
    return {geometry.points, geometry.faces};
}

}  // namespace

host::Result<BakeTake> sampleBake(host::Host& host, const BakeRequest& request,
                                  const std::function<void(long long)>& progress) {
    BakeTake take;
    take.fps = host.fps();
    std::set<std::string> seen;
    for (const std::string& item : request.items) {
        if (item.find('.') != std::string::npos) {
            auto canonical = host.canonicalPlug(item);
            if (!canonical.ok())
                return {{}, failure(canonical.status.message)};
            if (!seen.insert(canonical.value).second)
                return {{}, failure("'" + item + "' is named twice")};
            take.plugs.push_back({item, {}, {}});
            continue;
        }
        auto transform = host::scene::transformOf(item);
        if (!transform.ok())
            return {{}, failure(transform.status.message)};
        if (!seen.insert(transform.value).second)
            return {{}, failure("'" + item + "' is named twice")};
        ObjectTrack track;
        track.name = transform.value;
        if (auto mesh = host::scene::shapeOf(transform.value, host::scene::ShapeType::kMesh);
            mesh.ok())
            track.meshName = mesh.value;
        take.objects.push_back(std::move(track));
    }

    for (long long i = 0; i < request.frames; ++i) {
        const double frame = static_cast<double>(request.startFrame + i);
        host.setTime(frame / take.fps);
        if (request.replay) {
            Kivo::DeviceService::advance();
            Kivo::DeviceService::flushEvents();
        }
        host.tick();
        take.frames.push_back(frame);
        take.seconds.push_back(host.time());

        for (ObjectTrack& track : take.objects) {
            auto world = host.getPlug(track.name + ".worldMatrix");
            if (!world.ok())
                return {
                    {},
                    failure("frame " + host::formatDouble(frame) + ": " + world.status.message)};
            track.poses.push_back(poseOfMatrix(world.value.matrix));
            if (track.meshName.empty())
                continue;
            auto geometry = host::scene::geometry(track.meshName, false);
            if (!geometry.ok())
                return {
                    {},
                    failure("frame " + host::formatDouble(frame) + ": " + geometry.status.message)};
            if (i == 0) {
                track.baseShape = shapeOf(geometry.value);
                track.shapeOfFrame.push_back(-1);
                continue;
            }
            if (geometry.value.faces != track.baseShape.faces)
                return {{},
                        failure("frame " + host::formatDouble(frame) + ": the polygons of '" +
                                track.meshName + "' changed during the bake")};
            const int previous = track.shapeOfFrame.back();
            const auto& shown = previous < 0 ? track.baseShape.points
                                             : track.shapes[static_cast<std::size_t>(previous)];
            if (geometry.value.points == shown) {
                track.shapeOfFrame.push_back(previous);
            } else if (geometry.value.points == track.baseShape.points) {
                track.shapeOfFrame.push_back(-1);
            } else {
                track.shapes.push_back(geometry.value.points);
                track.shapeOfFrame.push_back(static_cast<int>(track.shapes.size()) - 1);
            }
        }
        for (PlugTrack& track : take.plugs) {
            auto value = host.getPlug(track.plug);
            if (!value.ok())
                return {
                    {},
                    failure("frame " + host::formatDouble(frame) + ": " + value.status.message)};
            auto columns = columnsOf(track.plug, value.value);
            if (!columns.ok())
                return {{}, columns.status};
            if (i == 0)
                track.columns = columns.value;
            else if (columns.value != track.columns)
                return {{},
                        failure("frame " + host::formatDouble(frame) + ": '" + track.plug +
                                "' changed its kind of value during the bake")};
            track.samples.push_back(sampleOf(value.value));
        }
        if (progress)
            progress(i + 1);
    }
    return {std::move(take), {}};
}

}  // namespace rova::bake
