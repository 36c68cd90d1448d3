#include "sending/Pacing.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/Clock.h"

namespace {
// A wall alarm rings this much before its moment and acknowledge() waits out
// the rest on the monotonic clock, so the kernel's and the event loop's
// wake-up (and a stall of the machine up to this long) fall before the moment
// instead of after it.
constexpr qint64 kWallEarlyUs = 3000;
// The last stretch is spun: a sleep's own wake-up would come after it.
constexpr qint64 kSpinNs = 150000;

void waitUntilMonotonicNs(qint64 deadlineNs) {
  const qint64 sleepUntilNs = deadlineNs - kSpinNs;
  const timespec t{static_cast<time_t>(sleepUntilNs / 1000000000),
                   static_cast<long>(sleepUntilNs % 1000000000)};
  if (sleepUntilNs > platform::monotonicNs())
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
  while (platform::monotonicNs() < deadlineNs) {
  }
}
}  // namespace

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
  // An expiry of zero would disarm: a moment at or before the epoch is "now".
  momentUs_ = std::max<qint64>(epochUs, 1);
  const qint64 us = std::max<qint64>(momentUs_ - kWallEarlyUs, 1);
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(us / 1000000);
  due.it_value.tv_nsec = static_cast<long>(us % 1000000) * 1000;
  // Cancelled when the clock is set, so the caller can measure it again.
  ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &due, nullptr);
}

void PreciseAlarm::disarm() {
  if (fd_ < 0) return;
  const itimerspec off{};
  ::timerfd_settime(fd_, 0, &off, nullptr);
  takeRing(nullptr);
}

bool PreciseAlarm::takeRing(bool* clockSet) {
  std::uint64_t expirations = 0;
  const bool rang = fd_ >= 0 &&
                    ::read(fd_, &expirations, sizeof expirations) == sizeof expirations &&
                    expirations > 0;
  if (clockSet) *clockSet = fd_ >= 0 && !rang && errno == ECANCELED;
  return rang;
}

bool PreciseAlarm::acknowledge(bool* clockSet) {
  if (!takeRing(clockSet)) return false;
  if (clock_ == Clock::Wall) {
    // The rest, at most kWallEarlyUs, on the monotonic clock: a wall clock
    // set meanwhile cannot stretch it.
    const qint64 restUs = std::clamp<qint64>(momentUs_ - platform::wallClockUs(), 0, kWallEarlyUs);
    waitUntilMonotonicNs(platform::monotonicNs() + restUs * 1000);
  }
  return true;
}
