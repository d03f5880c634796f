#include "BakeSampler.h"

#include <kivo/DeviceService.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

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

std::string frameText(double frame) {
    return "frame " + host::formatDouble(frame) + ": ";
}

// The tracking output a plug of a kivoTransform node belongs to ("outputPalm0" for
// "outputPalm0Enabled" too), or "" when it is none.
std::string trackingOutputOf(const std::string& attribute) {
    // Reads digits from `at`; false when there are none.
    const auto digits = [&attribute](std::size_t& at) {
        const std::size_t from = at;
        while (at < attribute.size() && attribute[at] >= '0' && attribute[at] <= '9') ++at;
        return at > from;
    };
    std::size_t at = 0;
    if (attribute.rfind("outputPalm", 0) == 0) {
        at = std::string_view("outputPalm").size();
        if (!digits(at))
            return {};
    } else if (attribute.rfind("outputPointable", 0) == 0) {
        at = std::string_view("outputPointable").size();
        if (!digits(at))
            return {};
        if (at < attribute.size() && attribute[at] == '_') {
            ++at;
            if (!digits(at))
                return {};
        }
    } else {
        return {};
    }
    const std::string_view rest = std::string_view(attribute).substr(at);
    return rest.empty() || rest == "Enabled" ? attribute.substr(0, at) : std::string();
}

std::pair<std::string, std::string> splitPlug(const std::string& plug) {
    const auto dot = plug.find('.');
    return {plug.substr(0, dot), dot == std::string::npos ? "" : plug.substr(dot + 1)};
}

bool isTrackingNode(host::Host& host, const std::string& node) {
    auto type = host.nodeType(node);
    return type.ok() && type.value == kTrackingNodeType;
}

// The tracking outputs upstream of each item (through every connection into the nodes that make
// it, and an object's parents), in the order first met.
std::vector<TrackedOutput> trackedOutputs(host::Host& host, const BakeRequest& request,
                                          const std::vector<std::string>& canonicalItems) {
    std::map<std::string, std::vector<std::string>> sources;  // node -> plugs connected into it
    for (const auto& [source, destination] : host.connections())
        sources[splitPlug(destination).first].push_back(source);
    std::vector<TrackedOutput> found;
    const auto note = [&found](const std::string& plug, const std::string& item) {
        auto it = std::find_if(found.begin(), found.end(),
                               [&plug](const TrackedOutput& t) { return t.plug == plug; });
        if (it == found.end())
            it = found.insert(found.end(), TrackedOutput{plug, {}, 0});
        if (std::find(it->drives.begin(), it->drives.end(), item) == it->drives.end())
            it->drives.push_back(item);
    };
    for (std::size_t i = 0; i < request.items.size(); ++i) {
        const std::string& item = request.items[i];
        std::deque<std::string> pending;
        if (item.find('.') != std::string::npos) {
            const auto [node, attribute] = splitPlug(canonicalItems[i]);
            if (isTrackingNode(host, node)) {
                if (const std::string output = trackingOutputOf(attribute); !output.empty())
                    note(node + "." + output, item);
                continue;
            }
            pending.push_back(node);
        } else {
            for (std::string node = canonicalItems[i]; !node.empty();
                 node = host::scene::parentOf(node)) {
                pending.push_back(node);
                if (auto mesh = host::scene::shapeOf(node, host::scene::ShapeType::kMesh);
                    mesh.ok())
                    pending.push_back(mesh.value);
            }
        }
        std::set<std::string> visited(pending.begin(), pending.end());
        while (!pending.empty()) {
            const std::string node = pending.front();
            pending.pop_front();
            for (const std::string& source : sources[node]) {
                const auto [from, attribute] = splitPlug(source);
                if (isTrackingNode(host, from)) {
                    if (const std::string output = trackingOutputOf(attribute); !output.empty())
                        note(from + "." + output, item);
                    continue;
                }
                if (visited.insert(from).second)
                    pending.push_back(from);
            }
        }
    }
    return found;
}

// Each frame that did not see the pose holds the nearest one that did, the first seen before it;
// nothing when none did.
void holdUnseen(std::vector<Pose>& poses, const std::vector<bool>& seen) {
    const auto first = std::find(seen.begin(), seen.end(), true);
    if (first == seen.end()) {
        poses.clear();
        return;
    }
    Pose held = poses[static_cast<std::size_t>(first - seen.begin())];
    for (std::size_t i = 0; i < poses.size(); ++i) {
        if (seen[i])
            held = poses[i];
        else
            poses[i] = held;
    }
}

Pose scaledPose(Pose pose, double unit) {
    for (double& c : pose.translation) c *= unit;
    return pose;
}

// The key after `previous` (seconds since the first frame, as a 32-bit float) for a frame whose
// time is `wanted`: itself when a float holds it later than the one before, else one frame on.
// The key after `previous`: `wanted` when a 32-bit float tells it apart, else the next float.
// A frame recorded at the time of the one before thus keys just after it, and the frames after
// it keep their recorded times instead of all coming one period late.
double nextKey(double previous, double wanted) {
    if (static_cast<float>(wanted) > static_cast<float>(previous))
        return wanted;
    return std::nextafter(static_cast<float>(previous), std::numeric_limits<float>::max());
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
    take.fps = request.fps;
    take.unit = request.unit;
    take.metres = request.metres;
    if (!(request.fps > 0.0) || !std::isfinite(request.fps))
        return {{},
                failure("the frame rate must be a positive number, got " +
                        host::formatDouble(request.fps))};
    if (!(request.unit > 0.0) || !std::isfinite(request.unit))
        return {{},
                failure("the unit must be a positive number of metres, got " +
                        host::formatDouble(request.unit))};
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
    std::vector<std::string> canonicalItems;
    for (const std::string& item : request.items) {
        if (item.find('.') != std::string::npos) {
            auto canonical = host.canonicalPlug(item);
            if (!canonical.ok())
                return {{}, failure(canonical.status.message)};
            if (!seen.insert(canonical.value).second)
                return {{}, failure("'" + item + "' is named twice")};
            canonicalItems.push_back(canonical.value);
            take.plugs.push_back({item, {}, {}});
            continue;
        }
        auto transform = host::scene::transformOf(item);
        if (!transform.ok())
            return {{}, failure(transform.status.message)};
        if (!seen.insert(transform.value).second)
            return {{}, failure("'" + item + "' is named twice")};
        canonicalItems.push_back(transform.value);
        ObjectTrack track;
        track.name = transform.value;
        if (auto mesh = host::scene::shapeOf(transform.value, host::scene::ShapeType::kMesh);
            mesh.ok())
            track.meshName = mesh.value;
        take.objects.push_back(std::move(track));
    }
    std::set<std::string> skinNodes;
    for (const std::string& node : request.skins) {
        if (!host.hasNode(node))
            return {{}, failure("-skin: no node '" + node + "'")};
        if (!isTrackingNode(host, node))
            return {{}, failure("-skin: '" + node + "' is not a " + kTrackingNodeType + " node")};
        if (!skinNodes.insert(node).second)
            return {{}, failure("-skin: '" + node + "' is named twice")};
        auto scale = host.getPlug(node + "." + kTrackingScale);
        if (!scale.ok())
            return {{}, failure(scale.status.message)};
        const double unitsPerMm = scale.value.doubleValue * request.unit;
        if (!(unitsPerMm > 0.0) || !std::isfinite(unitsPerMm))
            return {{},
                    failure("-skin: '" + node + "." + kTrackingScale + "' is " +
                            host::formatDouble(scale.value.doubleValue) +
                            "; a hand is sized by a positive scale")};
        SkinTrack skin;
        skin.node = node;
        skin.unitsPerMm = unitsPerMm;
        take.skins.push_back(std::move(skin));
    }
    take.tracked = trackedOutputs(host, request, canonicalItems);

    const auto device = Kivo::DeviceService::status();
    take.replay.requested = request.replay;
    take.replay.playing = request.replay && device.source == Kivo::ServiceStatus::Source::Replay &&
                          !device.replayOptions.realtime;
    // The recorded time key 0 stands for, once the replay delivered something.
    std::optional<std::int64_t> firstRecorded;
    host.setFps(take.fps);

    // The shape each mesh showed the frame before (the base's points are in the take).
    std::vector<std::vector<Vec3>> shown(take.objects.size());
    std::vector<std::vector<bool>> palmSeen(take.skins.size());
    std::vector<std::array<std::vector<bool>, SkinTrack::kFingers>> tipsSeen(take.skins.size());
    for (long long i = 0; i < request.frames; ++i) {
        const double frame = static_cast<double>(request.startFrame + i);
        host.setTime(frame / take.fps);
        bool delivered = false;
        if (request.replay) {
            delivered = Kivo::DeviceService::advance();
            Kivo::DeviceService::flushEvents();
            if (!delivered && take.replay.framesAfterEnd++ == 0)
                take.replay.firstFrameAfterEnd = frame;
        }
        host.tick();
        take.frames.push_back(frame);
        take.seconds.push_back(host.time());
        double wanted = take.keyTimes.empty() ? 0.0 : take.keyTimes.back() + 1.0 / take.fps;
        if (delivered) {
            const std::int64_t recorded = Kivo::DeviceService::status().replayTime;
            if (!firstRecorded)
                firstRecorded = recorded - std::llround(wanted * 1e6);
            wanted = static_cast<double>(recorded - *firstRecorded) / 1e6;
        }
        take.keyTimes.push_back(i == 0 ? 0.0 : nextKey(take.keyTimes.back(), wanted));

        for (std::size_t o = 0; o < take.objects.size(); ++o) {
            ObjectTrack& track = take.objects[o];
            auto world = host.getPlug(track.name + ".worldMatrix");
            if (!world.ok())
                return {{}, failure(frameText(frame) + world.status.message)};
            track.poses.push_back(scaledPose(poseOfMatrix(world.value.matrix), take.unit));
            if (const std::string why = unkeyablePose(track.poses.back()); !why.empty())
                return {{}, failure(frameText(frame) + "cannot bake '" + track.name + "': " + why)};
            if (track.meshName.empty())
                continue;
            auto geometry = host::scene::geometry(track.meshName, false);
            if (!geometry.ok())
                return {{}, failure(frameText(frame) + geometry.status.message)};
            auto& points = geometry.value.points;
            for (std::size_t v = 0; v < points.size(); ++v) {
                const Vec3 p = points[v];
                for (double& c : points[v]) c *= take.unit;
                if (std::none_of(points[v].begin(), points[v].end(),
                                 [](double c) { return !finiteAsFloat(c); }))
                    continue;
                return {{},
                        failure(frameText(frame) + "cannot bake '" + track.meshName + "': vertex " +
                                std::to_string(v) + " (" + host::formatDouble(p[0]) + " " +
                                host::formatDouble(p[1]) + " " + host::formatDouble(p[2]) +
                                ") is not finite as 32-bit floats in the bake's unit")};
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
        // A matrix output and whether it holds this frame's data.
        const auto tracked =
            [&host](const std::string& plug) -> host::Result<std::pair<Pose, bool>> {
            auto enabled = host.getPlug(plug + "Enabled");
            if (!enabled.ok())
                return {{}, enabled.status};
            auto matrix = host.getPlug(plug);
            if (!matrix.ok())
                return {{}, matrix.status};
            return {{poseOfMatrix(matrix.value.matrix), enabled.value.boolValue}, {}};
        };
        for (TrackedOutput& output : take.tracked) {
            auto enabled = host.getPlug(output.plug + "Enabled");
            if (!enabled.ok())
                return {{}, failure(frameText(frame) + enabled.status.message)};
            output.seen += enabled.value.boolValue ? 1 : 0;
        }
        for (std::size_t s = 0; s < take.skins.size(); ++s) {
            SkinTrack& skin = take.skins[s];
            auto palm = tracked(skin.node + ".outputPalm0");
            if (!palm.ok())
                return {{}, failure(frameText(frame) + palm.status.message)};
            skin.palm.push_back(scaledPose(palm.value.first, take.unit));
            palmSeen[s].push_back(palm.value.second);
            for (std::size_t j = 0; j < SkinTrack::kFingers; ++j) {
                auto tip = tracked(skin.node + ".outputPointable0_" + std::to_string(j));
                if (!tip.ok())
                    return {{}, failure(frameText(frame) + tip.status.message)};
                skin.tips[j].push_back(scaledPose(tip.value.first, take.unit));
                tipsSeen[s][j].push_back(tip.value.second);
            }
            for (const Pose* pose :
                 {&skin.palm.back(), &skin.tips[0].back(), &skin.tips[1].back(),
                  &skin.tips[2].back(), &skin.tips[3].back(), &skin.tips[4].back()})
                if (const std::string why = unkeyablePose(*pose); !why.empty())
                    return {{},
                            failure(frameText(frame) + "cannot bake the hand of '" + skin.node +
                                    "': " + why)};
        }
        if (afterFrame)
            if (auto status = afterFrame(i + 1); !status)
                return {{}, failure(frameText(frame) + status.message)};
    }
    for (std::size_t s = 0; s < take.skins.size(); ++s) {
        SkinTrack& skin = take.skins[s];
        skin.palmSeen =
            static_cast<std::size_t>(std::count(palmSeen[s].begin(), palmSeen[s].end(), true));
        holdUnseen(skin.palm, palmSeen[s]);
        for (std::size_t j = 0; j < SkinTrack::kFingers; ++j) {
            skin.tipsSeen[j] = static_cast<std::size_t>(
                std::count(tipsSeen[s][j].begin(), tipsSeen[s][j].end(), true));
            holdUnseen(skin.tips[j], tipsSeen[s][j]);
        }
    }
    return {std::move(take), {}};
}

std::vector<std::string> bakeWarnings(const BakeTake& take) {
    std::vector<std::string> warnings;
    const std::size_t frames = take.frames.size();
    const std::string over = " in the " + std::to_string(frames) + " baked frames";
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
        return text;
    };
    if (frames >= 2) {
        std::vector<std::string> still;
        const auto samePose = [](const Pose& a, const Pose& b) {
            return a.translation == b.translation && a.rotation == b.rotation && a.scale == b.scale;
        };
        for (const ObjectTrack& track : take.objects)
            if (track.shapeCount == 0 &&
                std::all_of(track.shapeOfFrame.begin(), track.shapeOfFrame.end(),
                            [](int shape) { return shape < 0; }) &&
                std::all_of(track.poses.begin(), track.poses.end(),
                            [&](const Pose& p) { return samePose(p, track.poses.front()); }))
                still.push_back(track.name);
        for (const PlugTrack& track : take.plugs)
            if (std::all_of(track.samples.begin(), track.samples.end(),
                            [&](const PlugSample& v) { return v == track.samples.front(); }))
                still.push_back(track.plug);
        if (!still.empty())
            warnings.push_back("never changed" + over + ": " + list(still));
    }
    std::vector<std::string> unseen;
    for (const TrackedOutput& output : take.tracked)
        if (output.seen == 0)
            unseen.push_back(output.plug + " (" + list(output.drives) + ")");
    for (const SkinTrack& skin : take.skins)
        if (skin.palmSeen == 0)
            unseen.push_back(skin.node + ".outputPalm0 (-skin " + skin.node + ")");
    if (!unseen.empty())
        warnings.push_back("tracked outputs never saw a hand" + over +
                           " (is the node live, and a replay playing?): " + list(unseen));
    if (take.replay.requested && !take.replay.playing)
        warnings.push_back(
            "-replay: no lockstep replay was playing (device -replay PATH); no "
            "frame advanced one");
    else if (take.replay.playing && take.replay.framesAfterEnd > 0)
        warnings.push_back(
            "the replay ended before frame " + host::formatDouble(take.replay.firstFrameAfterEnd) +
            ": the last " + std::to_string(take.replay.framesAfterEnd) + " of the " +
            std::to_string(frames) + " frames were baked after it and hold its last pose");
    return warnings;
}

}  // namespace rova::bake
