// Wall-clock time values, as gettimeofday gives them.
//
// Thread-safe: plain values.
#ifndef BOOTCRANK_BASE_TIME_VALUE_H_
#define BOOTCRANK_BASE_TIME_VALUE_H_

#include <cstdint>

namespace bootcrank {

// A wall-clock time: seconds and microseconds since the epoch. The zero value
// means "never" (a plugin that did not run).
struct TimeValue {
  int64_t seconds = 0;
  int64_t microseconds = 0;

  static TimeValue Now();
  // Microseconds since the epoch, in one number.
  int64_t Micros() const { return seconds * 1000000 + microseconds; }
  bool IsZero() const { return seconds == 0 && microseconds == 0; }
};

// Microseconds from `start` to `end`.
int64_t ElapsedMicroseconds(const TimeValue& start, const TimeValue& end);

}  // namespace bootcrank

#endif  // BOOTCRANK_BASE_TIME_VALUE_H_
