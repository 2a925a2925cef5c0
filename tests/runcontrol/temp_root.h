// A scratch directory for the run-control tests, optionally installed as the
// host root (BOOTCRANK_ROOT) for the lifetime of the object.
#ifndef BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_
#define BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace bootcrank {
namespace testing {

class TempRoot {
 public:
  // `asHostRoot`: point BOOTCRANK_ROOT at the directory until destruction.
  explicit TempRoot(bool asHostRoot = false) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/bootcrank-test.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (asHostRoot) {
      const char* old = getenv("BOOTCRANK_ROOT");
      hadRoot_ = old != nullptr;
      if (hadRoot_) oldRoot_ = old;
      setenv("BOOTCRANK_ROOT", path_.c_str(), 1);
      installed_ = true;
    }
  }
  ~TempRoot() {
    if (installed_) {
      if (hadRoot_) {
        setenv("BOOTCRANK_ROOT", oldRoot_.c_str(), 1);
      } else {
        unsetenv("BOOTCRANK_ROOT");
      }
    }
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  // `relative` below the directory ("" is the directory itself).
  std::string Path(const std::string& relative = "") const {
    return relative.empty() ? path_ : path_ + "/" + relative;
  }
  void MakeDirectory(const std::string& relative) const {
    boost::filesystem::create_directories(Path(relative));
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + Path(relative));
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in directory `relative`, sorted.
  std::vector<std::string> List(const std::string& relative = "") const {
    std::vector<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(Path(relative))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  mode_t Mode(const std::string& relative) const {
    struct stat st;
    if (stat(Path(relative).c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
  }

 private:
  std::string path_;
  bool installed_ = false;
  bool hadRoot_ = false;
  std::string oldRoot_;
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_
