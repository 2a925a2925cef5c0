#include "analyze/record_files.h"

#include <algorithm>
#include <cstdlib>

#include "analyze/record.h"
#include "host/error_text.h"
#include "host/files.h"
#include "host/host_paths.h"

namespace bootcrank {
namespace analyze {

std::string HostPath(const std::string& absolutePath) {
  const char* root = getenv("BOOTCRANK_ROOT");
  std::string prefix = root != nullptr && root[0] == '/' ? root : "";
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  return prefix + absolutePath;
}

std::string RecordDirectory() { return HostPath(host::kBootRecordDirectoryPath); }

std::vector<std::string> ListRecords(const std::string& directory) {
  std::vector<std::string> entries;
  if (int error = host::ListDirectory(directory, &entries)) {
    throw RecordError(directory + ": cannot read directory: " + host::ErrorText(error));
  }
  std::vector<std::string> names;
  for (const std::string& name : entries) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0 && name[0] != '.')
      names.push_back(name);
  }
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
    throw RecordError(std::string("no boot record to read (") + e.what() +
                      "); name a record or profiling log");
  }
  if (records.empty())
    throw RecordError("no boot record in " + directory + "; name a record or profiling log");
  return records.back();
}

}  // namespace analyze
}  // namespace bootcrank
