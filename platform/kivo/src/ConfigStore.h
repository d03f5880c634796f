#pragma once

#include "Recognizer.h"

#include <kivo/Config.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Kivo::detail {

// Frames the service's history keeps.
inline constexpr std::size_t kHistoryFrames = 120;

// The thread-safe store behind Config.
class ConfigStore {
  public:
    struct Value {
        Config::ValueType type = Config::Undefined;
        bool b = false;
        std::int32_t i = 0;
        float f = 0.0f;
        std::string s;
        bool readOnly = false;
    };

    ConfigStore() { resetDefaults(); }

    void resetDefaults();
    // Defines a key (used by resetDefaults).
    void define(const std::string& key, const Value& value) {
        std::lock_guard lock(m_mutex);
        m_values[key] = value;
        ++m_generation;
    }

    Value get(const std::string& key) const {
        std::lock_guard lock(m_mutex);
        const auto it = m_values.find(key);
        return it == m_values.end() ? Value{} : it->second;
    }

    // Replaces the value of an existing, writable key of the same type.
    bool set(const std::string& key, const Value& value) {
        std::lock_guard lock(m_mutex);
        const auto it = m_values.find(key);
        if (it == m_values.end() || it->second.readOnly || it->second.type != value.type) {
            return false;
        }
        const bool readOnly = it->second.readOnly;
        it->second = value;
        it->second.readOnly = readOnly;
        ++m_generation;
        return true;
    }

    std::vector<std::string> keys() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& [k, v] : m_values) {
            out.push_back(k);
        }
        return out;
    }

    // Increases whenever a value changes, so readers can cache.
    std::uint64_t generation() const {
        std::lock_guard lock(m_mutex);
        return m_generation;
    }

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, Value> m_values;
    std::uint64_t m_generation = 0;
};

}  // namespace Kivo::detail
