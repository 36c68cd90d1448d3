#include "platform/Clock.h"

#include <time.h>

namespace platform {
namespace {
std::function<QDateTime()>& clockOverride() {
  static std::function<QDateTime()> clock;
  return clock;
}
}  // namespace

QDateTime now() {
  QDateTime t = clockOverride() ? clockOverride()() : QDateTime::currentDateTime();
  t.setTime(QTime(t.time().hour(), t.time().minute(), t.time().second()));
  return t;
}

qint64 secondsFrom(const QDateTime& a, const QDateTime& b) { return a.secsTo(b); }

void setClockForTests(std::function<QDateTime()> clock) { clockOverride() = std::move(clock); }

}  // namespace platform

namespace platform {
qint64 monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

qint64 wallClockUs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}
}  // namespace platform
