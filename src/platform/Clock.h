#pragma once
#include <QDateTime>
#include <functional>

namespace platform {

// Local wall-clock time in whole seconds: the "now" of the task logic.
QDateTime now();

// Seconds from a to b in whole seconds (negative when b is earlier).
qint64 secondsFrom(const QDateTime& a, const QDateTime& b);

// Tests replace the wall clock to check count-downs and time stamps without
// waiting; pass an empty function to restore the real clock.
void setClockForTests(std::function<QDateTime()> clock);

}  // namespace platform

namespace platform {
// CLOCK_MONOTONIC in nanoseconds: the clock of QElapsedTimer and of the
// arrival times the test servers record.
qint64 monotonicNs();
// The wall clock in microseconds since the epoch.
qint64 wallClockUs();
}  // namespace platform
