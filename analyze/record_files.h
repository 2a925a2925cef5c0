// Where boot records live on a host, and which one is the newest.
//
// bootcrank writes one record per run to /var/log/bootcrank/ below the host
// root, named after its UTC start time ("20261206T091500.004217Z.json"), so
// the lexically greatest name is the newest run. The host root is the
// BOOTCRANK_ROOT environment variable when it holds an absolute path, as
// for every fixed path of bootcrank.
#ifndef BOOTCRANK_ANALYZE_RECORD_FILES_H_
#define BOOTCRANK_ANALYZE_RECORD_FILES_H_

#include <string>
#include <vector>

namespace bootcrank {
namespace analyze {

// `absolutePath` below the host root.
std::string HostPath(const std::string& absolutePath);

// The record directory below the host root.
std::string RecordDirectory();

// The "*.json" files of `directory`, full paths, in name order. Throws
// RecordError when the directory cannot be read.
std::vector<std::string> ListRecords(const std::string& directory);

// The newest record of RecordDirectory(); throws RecordError when there is
// none.
std::string NewestRecord();

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_RECORD_FILES_H_
