#include "host/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace bootcrank {
namespace host {

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsSpecialFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

int ListDirectory(const std::string& directory, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return errno;
  int error = 0;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(dir);
  return error;
}

int MakeDirectories(const std::string& directory, mode_t mode, std::string* failed) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    std::string prefix = directory.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
      *failed = prefix;
      return errno;
    }
    if (slash == std::string::npos) break;
  }
  struct stat st;
  int error = stat(directory.c_str(), &st) != 0 ? errno : (S_ISDIR(st.st_mode) ? 0 : ENOTDIR);
  if (error != 0) *failed = directory;
  return error;
}

}  // namespace host
}  // namespace bootcrank
