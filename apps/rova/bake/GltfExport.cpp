#include "GltfExport.h"

#include <fcntl.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>

#include "HandRig.h"
#include "rovahost/ReplaceFile.h"
#include "rovahost/Scene.h"

namespace rova::bake {
namespace {

constexpr int kArrayBuffer = TINYGLTF_TARGET_ARRAY_BUFFER;
constexpr int kElementArrayBuffer = TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER;
// What the document takes, a generous guess: a base, and per accessor with its view.
constexpr std::uint64_t kDocumentBytes = 64 * 1024;
constexpr std::uint64_t kDocumentBytesPerAccessor = 512;
// Per frame: a time, and per object translation, rotation and scale floats.
constexpr std::uint64_t kTimeBytes = sizeof(float);
constexpr std::uint64_t kPoseBytes = (3 + 4 + 3) * sizeof(float);

std::string bytesText(std::uint64_t bytes) {
    return std::to_string(bytes) + " bytes";
}

// A file of the buffer's bytes as they come, unnamed (removed when closed), in the output's folder
// so that it fills the disk the output will be on.
class Spool {
  public:
    explicit Spool(const std::filesystem::path& beside) {
        std::string name = beside.string() + ".spool-XXXXXX";
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0) {
            m_status = host::Status::failure("cannot write '" + beside.string() +
                                             "': " + std::strerror(errno));
            return;
        }
        ::unlink(name.c_str());
        m_name = beside.string();
    }
    ~Spool() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    bool write(const void* data, std::size_t size) {
        const auto* at = static_cast<const char*>(data);
        while (size > 0 && m_status.ok) {
            const ssize_t written = ::write(m_fd, at, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0) {
                m_status =
                    host::Status::failure("cannot write '" + m_name + "': " + std::strerror(errno));
                return false;
            }
            at += written;
            size -= static_cast<std::size_t>(written);
        }
        return m_status.ok;
    }
    int fd() const { return m_fd; }
    const host::Status& status() const { return m_status; }

  private:
    int m_fd = -1;
    std::string m_name;
    host::Status m_status;
};

std::vector<float> flatten(const std::vector<Vec3>& points) {
    std::vector<float> values;
    values.reserve(points.size() * 3);
    for (const Vec3& p : points)
        for (double c : p) values.push_back(static_cast<float>(c));
    return values;
}

struct Bounds {
    std::vector<double> min, max;
};

Bounds boundsOf(const std::vector<float>& values, std::size_t components) {
    Bounds bounds{std::vector<double>(components, std::numeric_limits<double>::infinity()),
                  std::vector<double>(components, -std::numeric_limits<double>::infinity())};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t c = i % components;
        bounds.min[c] = std::min(bounds.min[c], double{values[i]});
        bounds.max[c] = std::max(bounds.max[c], double{values[i]});
    }
    return bounds;
}

// A stretch of the buffer already written, for an accessor.
struct View {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    std::size_t count = 0;
    Bounds bounds;
};

struct MeshViews {
    bool written = false;     // a mesh with points
    bool pointsOnly = false;  // and no polygons: a point cloud
    std::vector<float> base;  // its first shape, which the targets are relative to
    View positions;
    View indices;
    std::vector<View> targets;
};

}  // namespace

struct GltfWriter::Impl {
    std::filesystem::path path;
    bool binary = false;
    long long frames = 0;
    std::uint64_t keyBytes = 0;                          // times and poses, written at the end
    std::optional<Spool> spool;                          // .glb: the buffer until the end
    std::optional<host::FileReplacement> bin, document;  // .gltf's .bin; the .gltf or .glb
    std::uint64_t bufferBytes = 0;
    std::vector<MeshViews> meshes;  // per object
    host::Status status;

    bool append(const void* data, std::size_t size) {
        const bool ok = binary ? spool->write(data, size) : bin->write(data, size);
        if (!ok)
            status = binary ? spool->status() : bin->status();
        bufferBytes += size;
        return ok;
    }

    // Raw bytes, kept 4-byte aligned for the accessors that follow.
    View appendBytes(const void* data, std::size_t size, std::size_t count) {
        View view{bufferBytes, size, count, {}};
        append(data, size);
        static constexpr char kZeros[4] = {};
        if (size % 4 != 0)
            append(kZeros, 4 - size % 4);
        return view;
    }

    View appendFloats(const std::vector<float>& values, std::size_t components, bool bounds) {
        View view{bufferBytes, values.size() * sizeof(float), values.size() / components, {}};
        if (bounds)
            view.bounds = boundsOf(values, components);
        append(values.data(), values.size() * sizeof(float));
        return view;
    }

    // The size the file would have with what is known so far, with room for the weights of
    // every target over every frame.
    std::uint64_t estimate() const {
        std::uint64_t bytes = kDocumentBytes + bufferBytes + keyBytes;
        for (const MeshViews& mesh : meshes) {
            const auto targets = static_cast<std::uint64_t>(mesh.targets.size());
            bytes += targets * (kDocumentBytesPerAccessor +
                                static_cast<std::uint64_t>(frames) * sizeof(float));
        }
        return bytes;
    }

    // `pending`: bytes about to be appended.
    host::Status checkSize(std::uint64_t pending = 0) {
        if (status.ok && estimate() + pending > kMaxGltfBytes)
            status = host::Status::failure("cannot bake into '" + path.string() +
                                           "': the glTF would pass " + bytesText(kMaxGltfBytes) +
                                           " (the most a .glb can hold) with the shapes so far; " +
                                           "bake fewer frames or fewer changing meshes");
        return status;
    }
};

GltfWriter::GltfWriter(const std::filesystem::path& path, long long frames, std::size_t objects,
                       std::size_t hands)
    : m_impl(std::make_unique<Impl>()) {
    Impl& w = *m_impl;
    w.path = path;
    w.frames = frames;
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    w.binary = extension == ".glb";
    if (!w.binary && extension != ".gltf") {
        w.status =
            host::Status::failure("cannot tell the format of '" + path.string() +
                                  "': name it .glb (binary) or .gltf (text with a .bin beside)");
        return;
    }
    const auto frameCount = static_cast<std::uint64_t>(std::max(frames, 0LL));
    // A hand keys its palm and each finger's first joint, as an object's pose takes.
    objects += hands * (1 + SkinTrack::kFingers);
    w.keyBytes =
        frameCount * (kTimeBytes + kPoseBytes * objects) + kDocumentBytesPerAccessor * 4 * objects;
    if (w.estimate() > kMaxGltfBytes) {
        w.status =
            host::Status::failure("cannot bake " + std::to_string(frames) + " frames of " +
                                  std::to_string(objects) + " objects into '" + path.string() +
                                  "': their keys alone take " + bytesText(w.estimate()) +
                                  ", more than a glTF holds (" + bytesText(kMaxGltfBytes) + ")");
        return;
    }
    w.meshes.resize(objects);
    if (w.binary) {
        w.spool.emplace(path);
        w.status = w.spool->status();
    } else {
        std::filesystem::path bin = path;
        bin.replace_extension(".bin");
        w.bin.emplace(bin);
        w.status = w.bin->status();
    }
}

GltfWriter::~GltfWriter() = default;

const host::Status& GltfWriter::status() const {
    return m_impl->status;
}

host::Status GltfWriter::baseShape(std::size_t object, const MeshShape& shape) {
    Impl& w = *m_impl;
    if (!w.status.ok)
        return w.status;
    MeshViews& mesh = w.meshes.at(object);
    const auto indices = host::scene::triangleFans(shape.faces);
    if (shape.points.empty())
        return w.status;
    if (!w.checkSize((shape.points.size() * 3 + indices.size()) * sizeof(float)).ok)
        return w.status;
    mesh.written = true;
    mesh.base = flatten(shape.points);
    mesh.positions = w.appendFloats(mesh.base, 3, true);
    // Points without polygons (polylines read from OBJ) are kept as a point cloud.
    mesh.pointsOnly = indices.empty();
    if (mesh.pointsOnly)
        return w.status;
    mesh.indices = {w.bufferBytes, indices.size() * sizeof(std::uint32_t), indices.size(), {}};
    w.append(indices.data(), indices.size() * sizeof(std::uint32_t));
    return w.status;
}

host::Status GltfWriter::laterShape(std::size_t object, const std::vector<Vec3>& points) {
    Impl& w = *m_impl;
    if (!w.status.ok)
        return w.status;
    MeshViews& mesh = w.meshes.at(object);
    if (!mesh.written)
        return w.status;
    mesh.targets.emplace_back();  // counted before it is written, so that it is refused whole
    if (!w.checkSize(points.size() * 3 * sizeof(float)).ok)
        return w.status;
    std::vector<float> delta = flatten(points);
    for (std::size_t i = 0; i < delta.size(); ++i) {
        delta[i] -= mesh.base[i];
        if (!std::isfinite(delta[i]))
            return w.status = host::Status::failure(
                       "cannot bake vertex " + std::to_string(i / 3) +
                       ": it moves further from its first place than a 32-bit float holds");
    }
    mesh.targets.back() = w.appendFloats(delta, 3, true);
    return w.status;
}

host::Status GltfWriter::finish(const BakeTake& take) {
    Impl& w = *m_impl;
    if (!w.status.ok)
        return w.status;
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "rova bake";
    // Accessors and views over what is in the buffer already, or is appended now.
    const auto accessor = [&model](const View& view, int componentType, int type, int target) {
        tinygltf::BufferView bufferView;
        bufferView.buffer = 0;
        bufferView.byteOffset = static_cast<std::size_t>(view.offset);
        bufferView.byteLength = static_cast<std::size_t>(view.bytes);
        bufferView.target = target;
        model.bufferViews.push_back(bufferView);
        tinygltf::Accessor a;
        a.bufferView = static_cast<int>(model.bufferViews.size()) - 1;
        a.componentType = componentType;
        a.count = view.count;
        a.type = type;
        a.minValues = view.bounds.min;
        a.maxValues = view.bounds.max;
        model.accessors.push_back(a);
        return static_cast<int>(model.accessors.size()) - 1;
    };
    const auto floats = [&](const std::vector<float>& values, int type, std::size_t components,
                            bool bounds) {
        return accessor(w.appendFloats(values, components, bounds), TINYGLTF_COMPONENT_TYPE_FLOAT,
                        type, 0);
    };

    tinygltf::Scene scene;
    scene.name = "bake";
    tinygltf::Animation animation;
    animation.name = "bake";
    const auto addChannel = [&animation](int node, const char* path, int input, int output,
                                         const char* interpolation) {
        tinygltf::AnimationSampler sampler;
        sampler.input = input;
        sampler.output = output;
        sampler.interpolation = interpolation;
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel channel;
        channel.sampler = static_cast<int>(animation.samplers.size()) - 1;
        channel.target_node = node;
        channel.target_path = path;
        animation.channels.push_back(channel);
    };

    std::vector<float> times;
    for (std::size_t i = 0; i < take.frames.size(); ++i)
        times.push_back(static_cast<float>(take.animationTime(i)));
    const int input = take.frames.empty() || (take.objects.empty() && take.skins.empty())
                          ? -1
                          : floats(times, TINYGLTF_TYPE_SCALAR, 1, true);

    for (std::size_t o = 0; o < take.objects.size(); ++o) {
        const ObjectTrack& track = take.objects[o];
        const MeshViews& views = w.meshes.at(o);
        tinygltf::Node node;
        node.name = track.name;
        if (views.written) {
            tinygltf::Primitive primitive;
            primitive.mode = views.pointsOnly ? TINYGLTF_MODE_POINTS : TINYGLTF_MODE_TRIANGLES;
            primitive.attributes["POSITION"] = accessor(
                views.positions, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, kArrayBuffer);
            if (!views.pointsOnly)
                primitive.indices = accessor(views.indices, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                             TINYGLTF_TYPE_SCALAR, kElementArrayBuffer);
            for (const View& target : views.targets)
                primitive.targets.push_back(
                    {{"POSITION", accessor(target, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                           TINYGLTF_TYPE_VEC3, kArrayBuffer)}});
            tinygltf::Mesh mesh;
            mesh.name = track.meshName;
            mesh.primitives.push_back(primitive);
            mesh.weights.assign(views.targets.size(), 0.0);
            model.meshes.push_back(mesh);
            node.mesh = static_cast<int>(model.meshes.size()) - 1;
        }
        if (!track.poses.empty()) {
            const Pose& first = track.poses.front();
            node.translation.assign(first.translation.begin(), first.translation.end());
            node.rotation.assign(first.rotation.begin(), first.rotation.end());
            node.scale.assign(first.scale.begin(), first.scale.end());
        }
        model.nodes.push_back(node);
        const int index = static_cast<int>(model.nodes.size()) - 1;
        scene.nodes.push_back(index);
        if (input < 0)
            continue;

        std::vector<float> translation, rotation, scale;
        Quat previous = track.poses.front().rotation;
        for (const Pose& pose : track.poses) {
            for (double c : pose.translation) translation.push_back(static_cast<float>(c));
            for (double c : pose.scale) scale.push_back(static_cast<float>(c));
            // q and -q are one rotation; the one nearer the previous key interpolates the short
            // way.
            Quat q = pose.rotation;
            if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0.0)
                for (double& c : q) c = -c;
            previous = q;
            for (double c : q) rotation.push_back(static_cast<float>(c));
        }
        addChannel(index, "translation", input, floats(translation, TINYGLTF_TYPE_VEC3, 3, false),
                   "LINEAR");
        addChannel(index, "rotation", input, floats(rotation, TINYGLTF_TYPE_VEC4, 4, false),
                   "LINEAR");
        addChannel(index, "scale", input, floats(scale, TINYGLTF_TYPE_VEC3, 3, false), "LINEAR");
        if (views.written && !views.targets.empty()) {
            // A row of weights per frame, written as it is made.
            const std::size_t targets = views.targets.size();
            View weights{w.bufferBytes, 0, track.shapeOfFrame.size() * targets, {}};
            std::vector<float> row(targets);
            for (int shown : track.shapeOfFrame) {
                std::fill(row.begin(), row.end(), 0.0F);
                if (shown >= 0)
                    row[static_cast<std::size_t>(shown)] = 1.0F;
                w.append(row.data(), row.size() * sizeof(float));
                weights.bytes += row.size() * sizeof(float);
            }
            addChannel(index, "weights", input,
                       accessor(weights, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_SCALAR, 0),
                       "STEP");
        }
    }
    for (const SkinTrack& skinTrack : take.skins) {
        const HandRig rig = handRig(skinTrack, take.frames.size());
        const int firstJoint = static_cast<int>(model.nodes.size());
        tinygltf::Skin skin;
        skin.name = skinTrack.node;
        std::vector<float> inverseBinds;
        for (std::size_t j = 0; j < rig.joints.size(); ++j) {
            const RigJoint& joint = rig.joints[j];
            tinygltf::Node node;
            node.name = joint.name;
            node.translation.assign(joint.rest.translation.begin(), joint.rest.translation.end());
            node.rotation.assign(joint.rest.rotation.begin(), joint.rest.rotation.end());
            if (!joint.animation.empty()) {
                const Pose& first = joint.animation.front();
                node.translation.assign(first.translation.begin(), first.translation.end());
                node.rotation.assign(first.rotation.begin(), first.rotation.end());
            }
            model.nodes.push_back(node);
            const int index = firstJoint + static_cast<int>(j);
            if (joint.parent < 0)
                scene.nodes.push_back(index);
            else
                model.nodes[static_cast<std::size_t>(firstJoint + joint.parent)].children.push_back(
                    index);
            skin.joints.push_back(index);
            for (double c : joint.inverseBind) inverseBinds.push_back(static_cast<float>(c));
            if (input < 0 || joint.animation.empty())
                continue;
            std::vector<float> translation, rotation;
            Quat previous = joint.animation.front().rotation;
            for (const Pose& pose : joint.animation) {
                for (double c : pose.translation) translation.push_back(static_cast<float>(c));
                Quat q = pose.rotation;
                if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] +
                        q[3] * previous[3] <
                    0.0)
                    for (double& c : q) c = -c;
                previous = q;
                for (double c : q) rotation.push_back(static_cast<float>(c));
            }
            addChannel(index, "translation", input,
                       floats(translation, TINYGLTF_TYPE_VEC3, 3, false), "LINEAR");
            addChannel(index, "rotation", input, floats(rotation, TINYGLTF_TYPE_VEC4, 4, false),
                       "LINEAR");
        }
        skin.skeleton = firstJoint;
        skin.inverseBindMatrices = floats(inverseBinds, TINYGLTF_TYPE_MAT4, 16, false);

        std::vector<std::uint8_t> jointBytes;
        std::vector<float> weights;
        for (const auto& j : rig.mesh.joints)
            jointBytes.insert(jointBytes.end(), j.begin(), j.end());
        for (const auto& v : rig.mesh.weights) weights.insert(weights.end(), v.begin(), v.end());
        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.attributes["POSITION"] =
            accessor(w.appendFloats(flatten(rig.mesh.positions), 3, true),
                     TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, kArrayBuffer);
        primitive.attributes["JOINTS_0"] =
            accessor(w.appendBytes(jointBytes.data(), jointBytes.size(), rig.mesh.joints.size()),
                     TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, kArrayBuffer);
        primitive.attributes["WEIGHTS_0"] =
            accessor(w.appendFloats(weights, 4, false), TINYGLTF_COMPONENT_TYPE_FLOAT,
                     TINYGLTF_TYPE_VEC4, kArrayBuffer);
        primitive.indices = accessor(
            w.appendBytes(rig.mesh.indices.data(), rig.mesh.indices.size() * sizeof(std::uint32_t),
                          rig.mesh.indices.size()),
            TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR, kElementArrayBuffer);
        tinygltf::Mesh mesh;
        mesh.name = skinTrack.node + "_mesh";
        mesh.primitives.push_back(primitive);
        model.meshes.push_back(mesh);
        model.skins.push_back(skin);
        tinygltf::Node holder;
        holder.name = skinTrack.node + "_mesh";
        holder.mesh = static_cast<int>(model.meshes.size()) - 1;
        holder.skin = static_cast<int>(model.skins.size()) - 1;
        model.nodes.push_back(holder);
        scene.nodes.push_back(static_cast<int>(model.nodes.size()) - 1);
    }
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    if (!animation.channels.empty())
        model.animations.push_back(animation);
    if (!w.status.ok)
        return w.status;

    tinygltf::TinyGLTF writer;
    std::ostringstream text;
    if (!writer.WriteGltfSceneToStream(&model, text, false, false))
        return w.status = host::Status::failure("cannot encode '" + w.path.string() + "'");
    nlohmann::json document = nlohmann::json::parse(text.str());
    document.erase("buffers");
    // What a length in the file is: glTF's metre, or the scene's own unit (-raw).
    document["asset"]["extras"]["lengthUnit"] = take.metres ? "metre" : "scene unit";
    if (take.metres)
        document["asset"]["extras"]["metresPerSceneUnit"] = take.unit;
    if (w.bufferBytes > 0) {
        document["buffers"] = nlohmann::json::array({{{"byteLength", w.bufferBytes}}});
        if (!w.binary) {
            std::filesystem::path bin = w.path;
            bin.replace_extension(".bin");
            document["buffers"][0]["uri"] = uriOfFileName(bin.filename().string());
        }
    }

    w.document.emplace(w.path);
    if (!w.document->status().ok)
        return w.status = w.document->status();
    if (!w.binary) {
        w.document->write(document.dump(2) + "\n");
        if (auto status = w.bin->finish(); !status.ok)
            return w.status = status;
        return w.status = w.document->finish();
    }
    // The binary container: a header, the document (padded with spaces) and the buffer (padded
    // with zeros), each chunk a multiple of 4 bytes.
    std::string json = document.dump();
    json.resize((json.size() + 3) / 4 * 4, ' ');
    const std::uint64_t binBytes = (w.bufferBytes + 3) / 4 * 4;
    const std::uint64_t total = 12 + 8 + json.size() + (w.bufferBytes > 0 ? 8 + binBytes : 0);
    if (total > kMaxGltfBytes)
        return w.status = host::Status::failure(
                   "cannot bake into '" + w.path.string() + "': the .glb would take " +
                   bytesText(total) + ", more than it can hold (" + bytesText(kMaxGltfBytes) + ")");
    const auto word = [](std::uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFFU);
        return bytes;
    };
    host::FileReplacement& out = *w.document;
    out.write("glTF" + word(2) + word(static_cast<std::uint32_t>(total)));
    out.write(word(static_cast<std::uint32_t>(json.size())) + "JSON" + json);
    if (w.bufferBytes > 0) {
        out.write(word(static_cast<std::uint32_t>(binBytes)) + std::string("BIN\0", 4));
        out.copyFrom(w.spool->fd(), 0, w.bufferBytes);
        out.write(std::string(static_cast<std::size_t>(binBytes - w.bufferBytes), '\0'));
    }
    return w.status = out.finish();
}

host::Status GltfWriter::putInPlace() {
    Impl& w = *m_impl;
    if (!w.status.ok || !w.document)
        return w.status.ok ? host::Status::failure("nothing to put in place") : w.status;
    if (w.bin && w.bufferBytes > 0)  // a bake of plugs alone has no buffer
        if (auto status = w.bin->putInPlace(); !status.ok)
            return w.status = status;
    return w.status = w.document->putInPlace();
}

std::string uriOfFileName(const std::string& name) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string uri;
    for (const unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0xFU];
        }
    }
    return uri;
}

}  // namespace rova::bake
