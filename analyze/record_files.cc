#include "analyze/record_files.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdlib>

#include "analyze/record.h"

namespace bootcrank {
namespace analyze {

std::string HostPath(const std::string& absolutePath) {
  const char* root = getenv("BOOTCRANK_ROOT");
  std::string prefix = root != nullptr && root[0] == '/' ? root : "";
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  return prefix + absolutePath;
}

std::string RecordDirectory() { return HostPath("/var/log/bootcrank"); }

std::vector<std::string> ListRecords(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) throw RecordError(directory + ": cannot open directory: " + strerror(errno));
  std::vector<std::string> names;
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0 && name[0] != '.')
      names.push_back(name);
  }
  int error = errno;
  closedir(dir);
  if (error != 0) throw RecordError(directory + ": cannot read directory: " + strerror(error));
  std::sort(names.begin(), names.end());
  std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
  for (std::string& name : names) name = prefix + name;
  return names;
}

std::string NewestRecord() {
  std::string directory = RecordDirectory();
  std::vector<std::string> records;
  try {
    records = ListRecords(directory);
  } catch (const RecordError& e) {
    throw RecordError(std::string("no boot record to read (") + e.what() + "); name a record or profiling log");
  }
  if (records.empty()) throw RecordError("no boot record in " + directory + "; name a record or profiling log");
  return records.back();
}

}  // namespace analyze
}  // namespace bootcrank
