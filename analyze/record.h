// BootRecord: one run of bootcrank as the analyser sees it, read from a JSON
// boot record or from the older profiling log.
//
// A boot record (schema 1) holds every discovered plugin in run-list order,
// every barrier, the graph edges after cycle breaking ("after") and, for
// each node that ran, the times it became ready, was taken by a worker and
// ended. The profiling log holds only each plugin's start and end, so a
// record read from it has no edges, no ready times, no workers, no kinds
// and no results; Missing() names what is absent so that a command can say
// why it cannot answer.
//
// Times are microseconds since the Unix epoch; kNoTime marks a time that
// the source does not give (a plugin that never ran, or a log that does not
// carry it).
#ifndef BOOTCRANK_ANALYZE_RECORD_H_
#define BOOTCRANK_ANALYZE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace bootcrank {
namespace analyze {

using Micros = int64_t;
constexpr Micros kNoTime = std::numeric_limits<int64_t>::min();

// 3000-01-01T00:00:00Z: no later time is a real one, and differences of
// times up to it cannot overflow. Readers refuse times beyond it.
constexpr Micros kLatestTime = 32503680000LL * 1000000;

// The newest record schema major version this program reads.
constexpr int kRecordSchema = 1;

// A record or log that cannot be read: its path and what is wrong with it.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandResult {
  std::string command;
  int status = 0;
  std::string error;  // the executor's text when status is not 0
};

// A plugin or a barrier: both are nodes that a worker runs.
struct RecordNode {
  std::string name;
  bool barrier = false;
  // Plugins: "json", "native", "debug", "daemon"; barriers: "init",
  // "priority"; "" when the source does not say.
  std::string kind;
  // Plugins: "succeeded", "failed", "skipped", "not_reached"; "" for
  // barriers and when the source does not say.
  std::string result;
  std::string error;       // when failed
  std::string skipReason;  // when skipped
  std::string sourceFile;
  int sourceLine = 0;  // debug.conf line of a debug plugin, else 0
  std::vector<std::string>
  requires, provides;
  // The graph nodes this one waits for directly, after cycle breaking. A
  // plugin's entries name barriers first (a plugin only waits for
  // barriers), a barrier's name plugins first; see BootGraph.
  std::vector<std::string> after;
  uint32_t executionClass = 1;
  int32_t depth = -1;  // the scheduling depth the executor used; -1 unknown
  Micros ready = kNoTime, started = kNoTime, ended = kNoTime;
  int worker = -1;  // -1 unknown
  std::vector<CommandResult> commands;

  bool Ran() const { return started != kNoTime && ended != kNoTime; }
  // ended - started; 0 when it did not run.
  Micros Duration() const { return Ran() ? ended - started : 0; }
};

struct LoadFailure {
  std::string file, reason;
};
struct Cycle {
  std::vector<std::string> nodes;
  std::string droppedFrom, droppedTo;
};
struct MissingBarrier {
  std::string name;
  std::vector<std::string> requiredBy;
};

struct BootRecord {
  enum class Source { kRecord, kProfilingLog };
  Source source = Source::kRecord;
  std::string path;  // where it was read from, for messages

  int schema = kRecordSchema;
  std::string programName, programVersion, hostName, kernel, mode;
  std::vector<std::string> arguments, bootFlags;
  // Settings; workers is 0 when unknown.
  bool parallel = false, randomize = false, interactive = false, verbose = false;
  int workers = 0;
  int64_t randomSeed = 0;
  Micros start = kNoTime, end = kNoTime;
  int64_t uptimeSeconds = -1;  // -1 unknown
  int exitStatus = -1;         // -1 unknown
  std::string signal;          // "" when the run was not ended by a signal

  // Plugins first, in run-list order, then barriers.
  std::vector<RecordNode> nodes;
  std::vector<LoadFailure> loadFailures;
  std::vector<Cycle> cycles;
  std::vector<MissingBarrier> missingBarriers;

  bool HasGraph() const { return source == Source::kRecord; }
  // What the source lacks, as a phrase ("dependencies, ready times, ...");
  // "" for a boot record.
  std::string Missing() const;
  // The worker count of the run: the recorded setting, else one more than the
  // highest worker index seen, else 1.
  int WorkerCount() const;
  // The plugin of that name, or null.
  const RecordNode* FindPlugin(const std::string& name) const;
};

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_ANALYZE_RECORD_H_
