#include "ConfigStore.h"

#include <kivo/Config.h>

#include <cmath>

namespace Kivo {

namespace detail {

void ConfigStore::resetDefaults() {
    const auto f = [](float v) { return Value{Config::Float, false, 0, v, {}, false}; };
    std::map<std::string, Value> values{
        {"device.name", {Config::String, false, 0, 0.0f, "Kivo Sense (simulated)", true}},
        {"history.frames",
         {Config::Int32, false, static_cast<std::int32_t>(kHistoryFrames), 0.0f, {}, true}},
        {"recognizer.enabled", {Config::Bool, true, 0, 0.0f, {}, false}},
        // The live source's camera model (KivoTools::CameraModel has the same defaults).
        {"camera.fov", f(60.0f)},
        {"camera.hand_size", f(95.0f)},
        {"camera.distance", f(500.0f)},
        {"camera.height", f(250.0f)},
    };
    const RecognizerDefaults d;
    for (const auto& k : kRecognizerKeys) {
        values[k.key] = f(d.*k.member);
    }
    std::lock_guard lock(m_mutex);
    m_values = std::move(values);
    ++m_generation;
}

}  // namespace detail

Config::Config() = default;

Config::Config(std::shared_ptr<detail::ConfigStore> store) : m_store(std::move(store)) {}

Config::ValueType Config::type(const std::string& key) const {
    return m_store ? m_store->get(key).type : Undefined;
}

bool Config::getBool(const std::string& key) const {
    if (!m_store) {
        return false;
    }
    const auto v = m_store->get(key);
    return v.type == Bool && v.b;
}

std::int32_t Config::getInt32(const std::string& key) const {
    if (!m_store) {
        return 0;
    }
    const auto v = m_store->get(key);
    return v.type == Int32 ? v.i : 0;
}

float Config::getFloat(const std::string& key) const {
    if (!m_store) {
        return 0.0f;
    }
    const auto v = m_store->get(key);
    return v.type == Float ? v.f : 0.0f;
}

std::string Config::getString(const std::string& key) const {
    if (!m_store) {
        return {};
    }
    const auto v = m_store->get(key);
    return v.type == String ? v.s : std::string{};
}

bool Config::setBool(const std::string& key, bool value) {
    return m_store && m_store->set(key, {Bool, value, 0, 0.0f, {}, false});
}

bool Config::setInt32(const std::string& key, std::int32_t value) {
    return m_store && m_store->set(key, {Int32, false, value, 0.0f, {}, false});
}

bool Config::setFloat(const std::string& key, float value) {
    return m_store && std::isfinite(value) &&
           m_store->set(key, {Float, false, 0, value, {}, false});
}

bool Config::setString(const std::string& key, const std::string& value) {
    return m_store && m_store->set(key, {String, false, 0, 0.0f, value, false});
}

std::vector<std::string> Config::keys() const {
    return m_store ? m_store->keys() : std::vector<std::string>{};
}

}  // namespace Kivo
