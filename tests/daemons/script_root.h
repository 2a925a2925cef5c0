// A scratch host root for the daemon tests: BOOTCRANK_ROOT points
// at it while the object lives; dev/log and dev/kmsg are plain files in it.
#ifndef BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_
#define BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_

#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <string>

namespace bootcrank {
namespace testing {

class ScriptRoot {
 public:
  ScriptRoot() : root_(boost::filesystem::unique_path("/tmp/bootcrank-daemons-%%%%%%").string()) {
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
    Write("/dev/log", "");
    Write("/dev/kmsg", "");
  }
  ~ScriptRoot() {
    unsetenv("BOOTCRANK_ROOT");
    boost::filesystem::remove_all(root_);
  }

  std::string Path(const std::string& absolute) const { return root_ + absolute; }
  void Write(const std::string& absolute, const std::string& content, mode_t mode = 0644) const {
    boost::filesystem::create_directories(boost::filesystem::path(Path(absolute)).parent_path());
    std::ofstream(Path(absolute), std::ios::trunc) << content;
    chmod(Path(absolute).c_str(), mode);
  }
  // An executable /bin/sh script with `body`; its full path.
  std::string Script(const std::string& absolute, const std::string& body) const {
    Write(absolute, "#!/bin/sh\n" + body + "\n", 0755);
    return Path(absolute);
  }
  std::string Read(const std::string& absolute) const {
    std::ostringstream text;
    text << std::ifstream(Path(absolute)).rdbuf();
    return text.str();
  }

 private:
  std::string root_;
};

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_DAEMONS_SCRIPT_ROOT_H_
