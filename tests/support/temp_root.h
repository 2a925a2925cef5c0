// A scratch directory that is the host root (BOOTCRANK_ROOT) while it lives.
// Paths are relative to it; a leading slash is allowed.
#ifndef BOOTCRANK_TESTS_SUPPORT_TEMP_ROOT_H_
#define BOOTCRANK_TESTS_SUPPORT_TEMP_ROOT_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <set>
#include <sstream>

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
  std::string Path(const std::string& relative) const {
    return root + "/" + relative.substr(relative.rfind('/', 0) == 0);
  }
  // Creates the parent directories.
  void Write(const std::string& relative, const std::string& content, mode_t mode = 0644) const {
    boost::filesystem::create_directories(boost::filesystem::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << content;
    chmod(Path(relative).c_str(), mode);
  }
  // An executable /bin/sh script running `body`; its full path.
  std::string Script(const std::string& relative, const std::string& body) const {
    Write(relative, "#!/bin/sh\n" + body + "\n", 0755);
    return Path(relative);
  }
  std::string Read(const std::string& relative) const {
    std::ostringstream text;
    text << std::ifstream(Path(relative), std::ios::binary).rdbuf();
    return text.str();
  }
  std::set<std::string> List() const {
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(root)) names.insert(entry.path().filename().string());
    return names;
  }
  std::string root;
};

}  // namespace bootcrank::testing

#endif  // BOOTCRANK_TESTS_SUPPORT_TEMP_ROOT_H_
