#pragma once
// Temporary folders for tests: one removed with its contents when it goes away, and one that is
// also $HOME meanwhile (the gateway reads $HOME at call time), the previous value restored after.
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace ostrel::testing {

class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = std::filesystem::canonical(pattern);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class TempHome {
 public:
  explicit TempHome(std::string_view prefix) : folder_(prefix) {
    if (const char* old = std::getenv("HOME")) old_home_ = old;
    ::setenv("HOME", folder_.path().c_str(), 1);
  }
  ~TempHome() {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
    else ::unsetenv("HOME");
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& path() const { return folder_.path(); }

 private:
  TempFolder folder_;
  std::optional<std::string> old_home_;
};

}  // namespace ostrel::testing
