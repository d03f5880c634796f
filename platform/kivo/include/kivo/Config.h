#pragma once

#include <kivo/Export.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kivo {

namespace detail {
class ConfigStore;
}

// Typed settings of the device service, shared by every connection of the process.
//
// Keys:
//   device.name                        string  "Kivo Sense (simulated)", read-only
//   history.frames                     int32   frames the history keeps, read-only
//   recognizer.enabled                 bool    recognise gestures in sources that carry none
//   recognizer.*                       float   the recogniser's thresholds: every key, its unit,
//                                              default and reason in docs/recording-format.md
//   camera.fov, camera.hand_size,      float   the live source's camera model, read when
//   camera.distance, camera.height             listening starts (docs/camera.md)
class KIVO_API Config {
  public:
    // Value type numbers. A key that does not exist reports Undefined.
    enum ValueType : int { Undefined = 0, Bool = 1, Int32 = 2, Float = 6, String = 8 };

    Config();
    explicit Config(std::shared_ptr<detail::ConfigStore> store);

    ValueType type(const std::string& key) const;
    // Readers return false / 0 / empty for a missing key or a key of another type.
    bool getBool(const std::string& key) const;
    std::int32_t getInt32(const std::string& key) const;
    float getFloat(const std::string& key) const;
    std::string getString(const std::string& key) const;
    // Setters return false (and change nothing) for a missing or read-only key, a value of the
    // wrong type, or a float that is not finite.
    bool setBool(const std::string& key, bool value);
    bool setInt32(const std::string& key, std::int32_t value);
    bool setFloat(const std::string& key, float value);
    bool setString(const std::string& key, const std::string& value);
    // Every key, sorted.
    std::vector<std::string> keys() const;

  private:
    std::shared_ptr<detail::ConfigStore> m_store;
};

}  // namespace Kivo
