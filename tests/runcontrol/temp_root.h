// A scratch directory that is the host root (BOOTCRANK_ROOT) while it lives.
#ifndef BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_
#define BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <boost/filesystem/string_file.hpp>
#include <set>

namespace bootcrank::testing {

struct TempRoot {
  TempRoot() {
    char pattern[] = "/tmp/bootcrank-test.XXXXXX";
    root = mkdtemp(pattern);
    setenv("BOOTCRANK_ROOT", root.c_str(), 1);
  }
  ~TempRoot() {
    unsetenv("BOOTCRANK_ROOT");
    boost::filesystem::remove_all(root);
  }
  std::string Path(const std::string& relative) const { return root + "/" + relative; }
  void Write(const std::string& relative, const std::string& content, mode_t mode = 0644) const {
    boost::filesystem::save_string_file(Path(relative), content);
    chmod(Path(relative).c_str(), mode);
  }
  std::string Read(const std::string& relative) const {
    std::string text;
    boost::filesystem::load_string_file(Path(relative), text);
    return text;
  }
  mode_t Mode(const std::string& relative) const {
    struct stat st = {};
    return stat(Path(relative).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  std::set<std::string> List(const std::string& relative = "") const {
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(Path(relative))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  std::string root;
};

}  // namespace bootcrank::testing

#endif  // BOOTCRANK_TESTS_RUNCONTROL_TEMP_ROOT_H_
