#include "sending/Pacing.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>

PreciseAlarm::PreciseAlarm() {
  fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
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

void PreciseAlarm::disarm() {
  if (fd_ < 0) return;
  const itimerspec off{};
  ::timerfd_settime(fd_, 0, &off, nullptr);
  acknowledge();
}

bool PreciseAlarm::acknowledge() {
  std::uint64_t expirations = 0;
  return fd_ >= 0 && ::read(fd_, &expirations, sizeof expirations) == sizeof expirations &&
         expirations > 0;
}
