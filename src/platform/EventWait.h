#pragma once
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <functional>

namespace platform {

// Blocks in a nested event loop (the window and timers keep running) until
// done() holds or the time limit passes. done() is tested at the start and
// whenever one of the signals given to wakeOn() fires, so every condition it
// reads must have such a signal; there is no polling.
class EventWait {
 public:
  EventWait() = default;
  EventWait(const EventWait&) = delete;
  EventWait& operator=(const EventWait&) = delete;

  template <typename Sender, typename Signal>
  void wakeOn(const Sender* sender, Signal signal) {
    QObject::connect(sender, signal, &loop_, [this] { check(); });
  }

  // timeoutMs < 0: no limit. Returns done() as it stands at the end.
  bool run(const std::function<bool()>& done, qint64 timeoutMs) {
    done_ = done;
    if (done_()) return true;
    QTimer limit;
    if (timeoutMs >= 0) {
      limit.setSingleShot(true);
      limit.setTimerType(Qt::PreciseTimer);
      QObject::connect(&limit, &QTimer::timeout, &loop_, &QEventLoop::quit);
      limit.start(static_cast<int>(std::min<qint64>(timeoutMs, INT_MAX)));
    }
    loop_.exec();
    return done_();
  }

 private:
  void check() {
    if (done_ && done_()) loop_.quit();
  }
  QEventLoop loop_;
  std::function<bool()> done_;
};

}  // namespace platform
