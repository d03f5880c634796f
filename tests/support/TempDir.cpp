#include "TempDir.h"

#include <unistd.h>

#include <fstream>
#include <random>

namespace kivorova::testing {

TempDir::TempDir() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("rova-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& text) const {
    const auto file = m_path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

}  // namespace kivorova::testing
