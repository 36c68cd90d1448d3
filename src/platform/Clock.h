#pragma once
#include <QDateTime>
#include <functional>

namespace platform {

// Local wall-clock time in whole seconds: the "now" of the task logic; with
// aheadMs, of a clock that many milliseconds ahead of ours.
QDateTime now(qint64 aheadMs = 0);

// The timed start's date and time: year-month-day hour:minute:second, each
// part decimal digits within its range (leading zeros allowed, none needed),
// blanks allowed around the separators and needed between date and time. A
// year of one or two digits reads as 2000-2029 or 1930-1999. Invalid when
// the text is none or names no existing local time.
QDateTime parseLocalDateTime(const QString& text);

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
