#include "BakeSampler.h"

#include <kivo/DeviceService.h>

#include <cmath>
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

bool finiteAsFloat(double value) {
    return std::isfinite(static_cast<float>(value));
}

// Why a pose cannot be keyed, or "".
std::string unkeyablePose(const Pose& pose) {
    for (const auto* values : {&pose.translation, &pose.scale})
        for (double c : *values)
            if (!finiteAsFloat(c))
                return "its world matrix is not finite as 32-bit floats";
    for (double c : pose.rotation)
        if (!finiteAsFloat(c))
            return "its world matrix is not finite as 32-bit floats";
    return {};
}

// The first point that is not finite as a 32-bit float, or -1.
long long firstUnkeyablePoint(const std::vector<Vec3>& points) {
    for (std::size_t i = 0; i < points.size(); ++i)
        for (double c : points[i])
            if (!finiteAsFloat(c))
                return static_cast<long long>(i);
    return -1;
}

std::string frameText(double frame) {
    return "frame " + host::formatDouble(frame) + ": ";
}

}  // namespace

host::Status checkKeyTimes(long long startFrame, long long frames, double fps) {
    const auto range = [&] {
        return "cannot bake frames " + std::to_string(startFrame) + " to " +
               std::to_string(startFrame + frames - 1) + " at " + host::formatDouble(fps) +
               " frames per second: ";
    };
    const double first = static_cast<double>(startFrame) / fps;
    float previous = 0.0F;
    for (long long i = 0; i < frames; ++i) {
        const long long number = startFrame + i;
        const double seconds = static_cast<double>(number) / fps;
        if (!std::isfinite(seconds))
            return failure(range() + "frame " + std::to_string(number) +
                           " falls at a time that is not a finite number of seconds");
        const float key = static_cast<float>(seconds - first);
        if (!std::isfinite(key))
            return failure(range() + "frame " + std::to_string(number) +
                           " is too far from the first for a glTF key time");
        if (i > 0 && !(key > previous))
            return failure(range() + "frames " + std::to_string(number - 1) + " and " +
                           std::to_string(number) +
                           " fall at the same glTF key time (32-bit seconds from the first "
                           "frame); bake fewer frames, from an earlier frame or at another rate");
        previous = key;
    }
    return {};
}

host::Result<BakeTake> sampleBake(host::Host& host, const BakeRequest& request, ShapeSink& shapes,
                                  const std::function<host::Status(long long)>& afterFrame) {
    BakeTake take;
    take.fps = host.fps();
    if (request.frames < 1 || request.frames > kMaxBakeFrames)
        return {{},
                failure("-frames must be from 1 to " + std::to_string(kMaxBakeFrames) + ", got " +
                        std::to_string(request.frames))};
    if (request.startFrame < -kMaxBakeFrameNumber ||
        request.startFrame > kMaxBakeFrameNumber - (request.frames - 1))
        return {{},
                failure("cannot bake " + std::to_string(request.frames) + " frames from frame " +
                        std::to_string(request.startFrame) + ": frames are numbered from " +
                        std::to_string(-kMaxBakeFrameNumber) + " to " +
                        std::to_string(kMaxBakeFrameNumber))};
    if (auto status = checkKeyTimes(request.startFrame, request.frames, take.fps); !status)
        return {{}, status};
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

    // The shape each mesh showed the frame before (the base's points are in the take).
    std::vector<std::vector<Vec3>> shown(take.objects.size());
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

        for (std::size_t o = 0; o < take.objects.size(); ++o) {
            ObjectTrack& track = take.objects[o];
            auto world = host.getPlug(track.name + ".worldMatrix");
            if (!world.ok())
                return {{}, failure(frameText(frame) + world.status.message)};
            track.poses.push_back(poseOfMatrix(world.value.matrix));
            if (const std::string why = unkeyablePose(track.poses.back()); !why.empty())
                return {{}, failure(frameText(frame) + "cannot bake '" + track.name + "': " + why)};
            if (track.meshName.empty())
                continue;
            auto geometry = host::scene::geometry(track.meshName, false);
            if (!geometry.ok())
                return {{}, failure(frameText(frame) + geometry.status.message)};
            auto& points = geometry.value.points;
            if (const long long bad = firstUnkeyablePoint(points); bad >= 0) {
                const Vec3& p = points[static_cast<std::size_t>(bad)];
                return {{},
                        failure(frameText(frame) + "cannot bake '" + track.meshName + "': vertex " +
                                std::to_string(bad) + " (" + host::formatDouble(p[0]) + " " +
                                host::formatDouble(p[1]) + " " + host::formatDouble(p[2]) +
                                ") is not finite as 32-bit floats")};
            }
            if (i == 0) {
                track.baseShape = {points, std::move(geometry.value.faces)};
                track.shapeOfFrame.push_back(-1);
                if (auto status = shapes.baseShape(o, track.baseShape); !status)
                    return {{}, failure(frameText(frame) + status.message)};
                shown[o] = std::move(points);
                continue;
            }
            if (geometry.value.faces != track.baseShape.faces)
                return {{},
                        failure(frameText(frame) + "the polygons of '" + track.meshName +
                                "' changed during the bake")};
            // Every point is finite here, so equal shapes compare equal.
            const int previous = track.shapeOfFrame.back();
            if (points == shown[o]) {
                track.shapeOfFrame.push_back(previous);
                continue;
            }
            if (points == track.baseShape.points) {
                track.shapeOfFrame.push_back(-1);
            } else {
                if (auto status = shapes.laterShape(o, points); !status)
                    return {
                        {},
                        failure(frameText(frame) + "'" + track.meshName + "': " + status.message)};
                track.shapeOfFrame.push_back(static_cast<int>(track.shapeCount++));
            }
            shown[o] = std::move(points);
        }
        for (PlugTrack& track : take.plugs) {
            auto value = host.getPlug(track.plug);
            if (!value.ok())
                return {{}, failure(frameText(frame) + value.status.message)};
            auto columns = columnsOf(track.plug, value.value);
            if (!columns.ok())
                return {{}, columns.status};
            if (i == 0)
                track.columns = columns.value;
            else if (columns.value != track.columns)
                return {{},
                        failure(frameText(frame) + "'" + track.plug +
                                "' changed its kind of value during the bake")};
            track.samples.push_back(sampleOf(value.value));
        }
        if (afterFrame)
            if (auto status = afterFrame(i + 1); !status)
                return {{}, failure(frameText(frame) + status.message)};
    }
    return {std::move(take), {}};
}

}  // namespace rova::bake
