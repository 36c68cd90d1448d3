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
