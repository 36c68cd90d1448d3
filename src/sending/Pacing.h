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

class QSocketNotifier;

// Wakes the event loop at a moment to the microsecond: a Linux timerfd watched
// by a QSocketNotifier, on the monotonic clock for delays or on the wall
// clock for a set moment. A QTimer counts whole milliseconds from the moment
// it is started, so a due time falling between two of them would be met up
// to a millisecond late, and it does not follow the wall clock.
class PreciseAlarm {
 public:
  enum class Clock { Monotonic, Wall };
  explicit PreciseAlarm(Clock clock = Clock::Monotonic);
  ~PreciseAlarm();
  PreciseAlarm(const PreciseAlarm&) = delete;
  PreciseAlarm& operator=(const PreciseAlarm&) = delete;

  bool isValid() const { return notifier_ != nullptr; }
  QSocketNotifier* notifier() const { return notifier_; }
  // Rings once, delayMs from now (fractions count). Monotonic alarms only.
  void arm(double delayMs);
  // Rings once when the wall clock reaches epochUs (microseconds since the
  // epoch), at once when that has passed. Wall alarms only.
  void armAt(qint64 epochUs);
  void disarm();
  // Takes the ring off the descriptor; true when it had rung. A wall alarm
  // rings a few milliseconds early, and this returns at its moment to the
  // microsecond, having waited out the rest. A wall alarm whose clock was set
  // meanwhile has not rung: clockSet is then true and the alarm must be
  // armed again.
  bool acknowledge(bool* clockSet = nullptr);

 private:
  Clock clock_;
  qint64 momentUs_ = 0;  // a wall alarm's moment
  bool takeRing(bool* clockSet);
  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};
