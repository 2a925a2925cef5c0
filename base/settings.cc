#include "base/settings.h"

#include <ctime>

#include "base/graph_lock.h"

namespace bootcrank {

Settings::Settings() : randomSeed(static_cast<int64_t>(time(nullptr))) {}

Settings& Settings::Instance() {
  static Settings* instance GUARDED_BY(graphLock) = nullptr;
  GraphLockHolder lock;
  if (instance == nullptr) instance = new Settings();
  return *instance;
}

}  // namespace bootcrank
