#include "platform/Clock.h"

#include <time.h>

#include <QRegularExpression>

namespace platform {
namespace {
std::function<QDateTime()>& clockOverride() {
  static std::function<QDateTime()> clock;
  return clock;
}

// A field's value when it is at most max, else -1; any number of leading
// zeros, and no digit count that could overflow.
int fieldValue(QStringView digits, int max) {
  while (digits.size() > 1 && digits.front() == u'0') digits = digits.mid(1);
  if (digits.size() > 4) return -1;
  const int value = digits.toInt();
  return value <= max ? value : -1;
}
}  // namespace

QDateTime parseLocalDateTime(const QString& text) {
  static const QRegularExpression shape(
      QStringLiteral("^[ \\t]*([0-9]+)[ \\t]*-[ \\t]*([0-9]+)[ \\t]*-[ \\t]*([0-9]+)[ \\t]+"
                     "([0-9]+)[ \\t]*:[ \\t]*([0-9]+)[ \\t]*:[ \\t]*([0-9]+)[ \\t]*$"));
  const QRegularExpressionMatch m = shape.match(text);
  if (!m.hasMatch()) return {};
  const int maxima[6] = {9999, 12, 31, 23, 59, 59};
  int part[6];
  for (int i = 0; i < 6; ++i) {
    part[i] = fieldValue(m.capturedView(i + 1), maxima[i]);
    if (part[i] < 0) return {};
  }
  if (m.capturedView(1).size() <= 2) part[0] += part[0] < 30 ? 2000 : 1900;
  const QDate date(part[0], part[1], part[2]);
  const QTime time(part[3], part[4], part[5]);
  if (!date.isValid() || !time.isValid()) return {};
  const QDateTime result(date, time);
  return result.isValid() ? result : QDateTime();
}

QDateTime now(qint64 aheadMs) {
  QDateTime t =
      (clockOverride() ? clockOverride()() : QDateTime::currentDateTime()).addMSecs(aheadMs);
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
