// Small helpers shared by the host tests: a private temporary folder and
// whole-file reads and writes.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

namespace testing_support {

namespace fs = boost::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder()
      : path_(fs::temp_directory_path() / fs::unique_path("cirrovane-test-%%%%-%%%%-%%%%")) {
    fs::create_directories(path_);
  }
  ~TemporaryFolder() {
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Where the store named `name` keeps its file under the given app-data folder.
inline fs::path SettingsFile(const fs::path& appData, const std::string& name) {
  return appData / "Cirrovane" / ("settings_pro_Cirrovane XR_" + name + ".ini");
}

inline fs::path WithSuffix(fs::path file, const char* suffix) {
  file += suffix;
  return file;
}

}  // namespace testing_support
