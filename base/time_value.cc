#include "base/time_value.h"

#include <sys/time.h>

namespace bootcrank {

TimeValue TimeValue::Now() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return TimeValue{static_cast<int64_t>(now.tv_sec), static_cast<int64_t>(now.tv_usec)};
}

int64_t ElapsedMicroseconds(const TimeValue& start, const TimeValue& end) {
  return end.Micros() - start.Micros();
}

}  // namespace bootcrank
