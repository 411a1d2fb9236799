#pragma once
// Temporary files and folders for tests, gone again at the end whatever the test did.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "platform/bytes.h"

namespace testnet {

// A file name of the running test's own in GoogleTest's temporary folder:
// PREFIX<pid>_<suite>_<test>.bin. Neither it nor the ".tmp" beside it (where a program
// writes before renaming) exists when the object is made or after it goes.
class TempFile {
 public:
  explicit TempFile(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = ::testing::TempDir() + prefix + std::to_string(getpid()) + "_" + name + ".bin";
    Remove();
  }
  ~TempFile() { Remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // Its content; empty when there is no such file.
  Bytes Read() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Remove() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_ + ".tmp", ignored);
  }
  std::string path_;
};

// A fresh folder in the system's temporary folder, removed with all it holds (write bits
// given back first, so a test may take them away).
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    static std::atomic<unsigned> serial{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + std::to_string(rd()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testnet
