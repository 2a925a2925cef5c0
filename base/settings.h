// The process-wide settings of a run.
//
// Created on first use by Settings::Instance (under GraphLock) and never
// destroyed. The fields that options set are final once the command line has
// been read, except `parallel` and `threadCount` (thread count rule) and
// `pluginDirectory`. During the run, plugin activation may clear
// `interactive` and remove names from `interactiveRequires`; interactive runs
// have a single worker, so those two need no lock.
#ifndef BOOTCRANK_BASE_SETTINGS_H_
#define BOOTCRANK_BASE_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace bootcrank {

struct Settings {
  bool verbose = false;
  bool parallel = false;
  bool randomize = false;
  bool interactive = false;
  bool trace = false;
  uint32_t threadCount = 1;
  int64_t randomSeed = 0;  // the creation time in seconds unless --randomize=N
  std::string pluginDirectory;
  std::vector<std::string> disabledPlugins;
  std::vector<std::string> interactiveRequires;
  std::string method;
  bool invoke = false;
  bool daemonWait = false;
  uint32_t daemonWaitTimeout = 40;  // seconds
  char** environment = nullptr;     // the environment main received

  // The single object; takes GraphLock while it looks for (and the first time
  // creates) it. Never call it in a forked child of a threaded process.
  static Settings& Instance();

 private:
  Settings();
};

}  // namespace bootcrank

#endif  // BOOTCRANK_BASE_SETTINGS_H_
