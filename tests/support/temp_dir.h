// A scratch directory for one test, removed afterwards; optionally the working directory meanwhile.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

class TempDir {
 public:
  explicit TempDir(bool enter = false) {
    char pattern[] = "/tmp/qvn-test-XXXXXX";
    path_ = mkdtemp(pattern);
    if (enter) {
      char* previous = getcwd(nullptr, 0);
      previous_ = previous;
      std::free(previous);
      if (chdir(path_.c_str()) != 0) std::abort();
    }
  }
  ~TempDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::abort();
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
