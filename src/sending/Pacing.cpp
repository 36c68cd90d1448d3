#include "sending/Pacing.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>

PreciseAlarm::PreciseAlarm(Clock clock) : clock_(clock) {
  fd_ = ::timerfd_create(clock == Clock::Wall ? CLOCK_REALTIME : CLOCK_MONOTONIC,
                         TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0) return;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
}

PreciseAlarm::~PreciseAlarm() {
  delete notifier_;
  if (fd_ >= 0) ::close(fd_);
}

void PreciseAlarm::arm(double delayMs) {
  if (fd_ < 0) return;
  const auto ns = static_cast<std::int64_t>(std::max(delayMs, 0.001) * 1e6);
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  ::timerfd_settime(fd_, 0, &due, nullptr);
}

void PreciseAlarm::armAt(qint64 epochUs) {
  if (fd_ < 0 || clock_ != Clock::Wall) return;
  itimerspec due{};
  // An expiry of zero would disarm: a moment at or before the epoch is "now".
  const qint64 us = std::max<qint64>(epochUs, 1);
  due.it_value.tv_sec = static_cast<time_t>(us / 1000000);
  due.it_value.tv_nsec = static_cast<long>(us % 1000000) * 1000;
  // Cancelled when the clock is set, so the caller can measure it again.
  ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &due, nullptr);
}

void PreciseAlarm::disarm() {
  if (fd_ < 0) return;
  const itimerspec off{};
  ::timerfd_settime(fd_, 0, &off, nullptr);
  acknowledge();
}

bool PreciseAlarm::acknowledge(bool* clockSet) {
  std::uint64_t expirations = 0;
  const bool rang = fd_ >= 0 &&
                    ::read(fd_, &expirations, sizeof expirations) == sizeof expirations &&
                    expirations > 0;
  if (clockSet) *clockSet = fd_ >= 0 && !rang && errno == ECANCELED;
  return rang;
}
