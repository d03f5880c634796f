#include "PoseStream.h"

#include <array>
#include <charconv>
#include <cmath>
#include <set>
#include <vector>

#include "rovahost/Scene.h"

namespace rova::live {
namespace {

// Node names are letters, digits and '_'; quoting them costs nothing and keeps the JSON sound.
void appendString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            continue;
        out += c;
    }
    out += '"';
}

template <class Number>
void appendNumber(std::string& out, Number value) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    out.append(text.data(), end);
}

// Points go out as 32-bit floats: what the page draws with, at half the text of doubles.
bool appendPositions(std::string& out, const std::vector<std::array<double, 3>>& points) {
    for (const auto& p : points)
        for (const double c : p)
            if (!std::isfinite(static_cast<float>(c))) {
                out += "null";
                return false;
            }
    out += '[';
    bool first = true;
    for (const auto& p : points)
        for (const double c : p) {
            if (!first)
                out += ',';
            first = false;
            appendNumber(out, static_cast<float>(c));
        }
    out += ']';
    return true;
}

void appendMatrix(std::string& out, const std::array<double, 16>& matrix) {
    for (const double c : matrix)
        if (!std::isfinite(c)) {
            out += "null";
            return;
        }
    out += '[';
    for (std::size_t i = 0; i < matrix.size(); ++i) {
        if (i > 0)
            out += ',';
        appendNumber(out, matrix[i]);
    }
    out += ']';
}

}  // namespace

host::Status PoseStream::send(host::Host& host) {
    if (m_audience) {
        if (const std::uint64_t listener = m_audience(); listener != m_listener) {
            m_listener = listener;
            restart();
        }
    }
    // Meshes: which are shown now, and which of them the page has not seen in this shape.
    std::string objects;
    std::set<std::string> present;
    for (const std::string& shape : host.nodeNames("mesh")) {
        auto transform = host::scene::transformOf(shape);
        if (!transform.ok())
            continue;  // a mesh outside any transform has no place in the scene
        auto revision = host::scene::meshRevision(shape);
        if (!revision.ok())
            return revision.status;
        present.insert(shape);
        const auto known = m_shown.find(shape);
        if (known != m_shown.end() && known->second.revision == revision.value &&
            known->second.transform == transform.value)
            continue;
        auto geometry = host::scene::geometry(shape, false);
        if (!geometry.ok())
            return geometry.status;
        if (!objects.empty())
            objects += ',';
        objects += "{\"name\":";
        appendString(objects, transform.value);
        objects += ",\"shape\":";
        appendString(objects, shape);
        objects += ",\"positions\":";
        appendPositions(objects, geometry.value.points);
        objects += ",\"indices\":[";
        bool first = true;
        for (const std::uint32_t index : host::scene::triangleFans(geometry.value.faces)) {
            if (!first)
                objects += ',';
            first = false;
            appendNumber(objects, index);
        }
        objects += "]}";
        m_shown[shape] = {transform.value, revision.value};
    }
    std::string removed;
    for (auto it = m_shown.begin(); it != m_shown.end();) {
        if (present.count(it->first) != 0) {
            ++it;
            continue;
        }
        if (!removed.empty())
            removed += ',';
        appendString(removed, it->first);
        it = m_shown.erase(it);
    }
    if (m_full || !objects.empty() || !removed.empty()) {
        std::string scene = std::string("{\"type\":\"scene\",\"full\":") +
                            (m_full ? "true" : "false") + ",\"objects\":[" + objects +
                            "],\"removed\":[" + removed + "]}";
        m_full = false;
        m_sink(std::move(scene));
    }

    std::string poses = "{\"type\":\"poses\",\"time\":";
    appendNumber(poses, host.time());
    poses += ",\"objects\":[";
    bool first = true;
    for (const std::string& transform : host.nodeNames("transform")) {
        auto world = host.getPlug(transform + ".worldMatrix");
        if (!world.ok())
            return world.status;
        if (!first)
            poses += ',';
        first = false;
        poses += "{\"name\":";
        appendString(poses, transform);
        poses += ",\"matrix\":";
        appendMatrix(poses, world.value.matrix);
        poses += '}';
    }
    poses += "]}";
    m_sink(std::move(poses));
    return {};
}

}  // namespace rova::live
