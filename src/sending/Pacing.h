#pragma once
#include <QtGlobal>
#include <cmath>

// The blocking loop's absolute schedule: request n is due when the stopwatch
// reaches (n - 1) x interval; a negative interval keeps every request due at
// once. Kept in double precision: a single-precision sum stops growing by a
// few milliseconds after some hours, and a paced run would turn into a flood.
class PacingSchedule {
 public:
  explicit PacingSchedule(float intervalMs) : interval_(intervalMs) {}
  // Whole milliseconds of the stopwatch at which the next request is due.
  qint64 dueMs() const { return static_cast<qint64>(std::ceil(next_)); }
  bool isDue(qint64 elapsedMs) const { return next_ <= static_cast<double>(elapsedMs); }
  void advance() { next_ += interval_; }

 private:
  double interval_;
  double next_ = 0;
};
