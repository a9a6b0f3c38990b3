// A fresh temporary directory for one test, removed with everything in it.
// Every test that needs files on disk takes one: under the system's temporary
// directory, or under a chosen parent (a memory file system, say). The name
// holds no '-': tests pass these paths to the command line, which never takes
// an argument with a '-' in it for a file name.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace tabulon::test {

class TempDir {
 public:
  TempDir() : TempDir(std::filesystem::temp_directory_path()) {}
  explicit TempDir(const std::filesystem::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && Root.empty(); ++attempt) {
      auto candidate =
          parent / ("tabulon_test_" + std::to_string(random()) + std::to_string(attempt));
      if (std::filesystem::create_directory(candidate)) Root = candidate.string();
    }
    if (Root.empty()) ADD_FAILURE() << "no temporary directory";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(std::string_view name) const { return Root + "/" + std::string(name); }

  std::string Write(std::string_view name, std::string_view bytes) const {
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }

  std::string MakeDirectory(std::string_view name) const {
    std::string path = Path(name);
    std::filesystem::create_directories(path);
    return path;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::string Root;
};

}  // namespace tabulon::test
