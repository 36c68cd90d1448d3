#pragma once
#include <QElapsedTimer>

// Millisecond stopwatch on the monotonic clock.
class CStopWatch {
 public:
  CStopWatch();
  qint32 Elapsed() const;            // ms since creation or the last Reset
  qint32 MinimumResolution() const;  // smallest timer period, ms
  qint32 MaximumResolution() const;  // largest timer period, ms
  void Reset();

 private:
  QElapsedTimer timer_;
};
