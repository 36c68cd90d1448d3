#include "platform/Clock.h"

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
