#pragma once
#include <QElapsedTimer>

// The blocking loop's absolute schedule: request n is due when the run's
// clock reaches (n - 1) x interval; a negative interval keeps every request
// due at once. Kept in double precision: a single-precision sum stops growing
// by a few milliseconds after some hours, and a paced run would turn into a
// flood.
class PacingSchedule {
 public:
  explicit PacingSchedule(float intervalMs) : interval_(intervalMs) {}
  double dueMs() const { return next_; }
  bool isDue(double elapsedMs) const { return next_ <= elapsedMs; }
  void advance() { next_ += interval_; }

 private:
  double interval_;
  double next_ = 0;
};

// The run's clock for pacing: monotonic, read to the microsecond, so a due
// time is met to within the timer's wake-up rather than a whole millisecond
// late when the reading is truncated.
class PacingClock {
 public:
  PacingClock() { timer_.start(); }
  double elapsedMs() const { return static_cast<double>(timer_.nsecsElapsed()) / 1e6; }

 private:
  QElapsedTimer timer_;
};
