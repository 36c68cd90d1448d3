#include "sending/Senders.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cmath>
#include <optional>
#include <utility>

#include "codecs/StopWatch.h"
#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "sending/HttpExchange.h"
#include "sending/Pacing.h"
#include "sending/RequestBuilder.h"
#include "sending/SendContext.h"

namespace {

const QString kStatusConnecting = QStringLiteral("状态：连接域名注册服务器......");
const QString kStatusSending = QStringLiteral("状态：发送数据中......");
const QString kStatusInterval = QStringLiteral("状态：间隔时间中......");
using texts::kDoneMessage;
using texts::kRemainingPrefix;
using texts::kStatusDone;
// How many tick sends are running, nested in each other's reply waits.
const char* const kTickDepth = "zembrinTickSendDepth";
const double kEventsEveryMs = 0.5;
// A request later than this after its due time counts as late.
constexpr qint64 kLateNs = 2000000;

void countLateness(SendContext& w, qint64 dueNs) {
  if (platform::monotonicNs() - dueNs > kLateNs) ++w.late_requests;
}

// The catch report of a WHOIS-triggered request, once its outcome is known
// (the reply may not be awaited, so it is watched here).
void reportCatch(SendContext& w, const std::shared_ptr<platform::HttpRequest>& request,
                 qint64 onWireNs) {
  CatchReport report;
  const int index = w.whois_domain_index;
  report.domain = index >= 0 && index < w.domain_list.size() ? w.domain_list[index] : QString();
  report.deletedAtUs = w.deletion_read_wall_us;
  report.deletedAt = QDateTime::fromMSecsSinceEpoch(report.deletedAtUs / 1000);
  const qint64 readNs = w.deletion_read_mono_ns;
  report.onWireMs = double(onWireNs - readNs) / 1e6;
  const bool utf8 = w.utf8_reply != 0;
  RunEvents* events = &w.events;
  auto finish = [events, request, report, readNs, utf8]() mutable {
    report.httpStatus = request->status();
    if (request->status() > 0) report.replyMs = double(platform::monotonicNs() - readNs) / 1e6;
    report.reply = replyOutcome(*request, utf8).text;
    emit events->caught(report);
  };
  if (request->readyState() == 4) {
    finish();
    return;
  }
  auto* watch = new QObject(events);
  QObject::connect(request.get(), &platform::HttpRequest::completed, watch,
                   [watch, finish]() mutable {
                     finish();
                     watch->deleteLater();
                   });
}

int nextIndex(int index, qsizetype size) {
  return size <= 0 ? 0 : static_cast<int>((index + 1) % size);
}

// Blocks in the event loop until the clock reaches dueMs, or the run flag
// leaves 1; no spinning.
// The alarm is made at the first wait: a single request (normal registration,
// a WHOIS-triggered send) never pays for it.
void waitUntil(SendContext& w, const PacingClock& clock, double dueMs,
               std::optional<PreciseAlarm>& lazyAlarm) {
  const double remainingMs = dueMs - clock.elapsedMs();
  if (remainingMs <= 0) return;
  if (!lazyAlarm) lazyAlarm.emplace();
  PreciseAlarm& alarm = *lazyAlarm;
  platform::EventWait wait;
  if (!alarm.isValid()) {
    wait.wakeOn(&w, &RunFlag::runFlagChanged);
    wait.run([&w] { return w.int_start() != 1; }, static_cast<qint64>(std::ceil(remainingMs)));
    return;
  }
  bool rang = false;
  // Connected before the wait's own wake-up, so the ring is taken first.
  const QMetaObject::Connection ring =
      QObject::connect(alarm.notifier(), &QSocketNotifier::activated,
                       [&alarm, &rang] { rang |= alarm.acknowledge(); });
  wait.wakeOn(alarm.notifier(), &QSocketNotifier::activated);
  wait.wakeOn(&w, &RunFlag::runFlagChanged);
  alarm.arm(remainingMs);
  // The timer limit is only a safety net behind the alarm.
  wait.run([&] { return rang || w.int_start() != 1; },
           static_cast<qint64>(std::ceil(remainingMs)) + 20);
  QObject::disconnect(ring);
  alarm.disarm();
}

}  // namespace

int requestRingSize(float interval_ms, SendMode send_mode) {
  if (interval_ms > 20000 || send_mode == SendMode::WhoisTriggered) return 1;
  // Single precision as the interval itself: 20000 / (1000 / 3) gives 60,
  // where a double quotient of the rounded interval falls just short.
  if (interval_ms > 0) return static_cast<int>(20000.0f / interval_ms) + 1;
  return 5001;
}

void setUpRequestPool(SendContext& w, int slotCount) {
  if (w.request_pool) w.request_pool->release();
  w.request_pool = std::make_shared<RequestRing>(slotCount);
  w.pool_slot = 0;
}

void releaseRequestPool(SendContext& w) {
  if (w.request_pool) w.request_pool->release();
  w.pool_slot = 0;
}

void waitForRequestsInFlight(int timeoutMs) { platform::waitForHttpTransfers(timeoutMs); }

void beginRun(SendContext& w) {
  platform::resetRequestCounters();
  w.late_requests = 0;
  w.catches = 0;
}

namespace {
// Emits a run's summary once every registration still out has finished, or
// the reply time-out has passed: event-driven, the window stays free.
class SummaryGate : public QObject {
 public:
  SummaryGate(SendContext& w, int timeoutS) : QObject(&w.events), w_(w) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { emitOnce(); });
    timer_.start(std::max(timeoutS, 0) * 1000 + 1);
  }
  void check() {
    if (platform::countedRequestsInFlight() == 0) emitOnce();
  }
  void emitOnce() {
    if (done_) return;
    done_ = true;
    emit w_.events.runEnded(runSummary(w_));
    deleteLater();
  }

 private:
  SendContext& w_;
  QTimer timer_;
  bool done_ = false;
};
}  // namespace

RunSummary runSummary(const SendContext& w) {
  const platform::RequestCounters c = platform::requestCounters();
  RunSummary r;
  r.sent = c.sent;
  r.replies = c.replies;
  r.httpErrors = c.httpErrors;
  r.failures = c.failures;
  r.late = w.late_requests;
  r.catches = w.catches;
  r.lastStatus = c.lastStatus;
  return r;
}

void announceRunEnd(SendContext& w) {
  w.warmer.stop();
  platform::dropRequestsNotOnWire();
  auto* gate = new SummaryGate(w, w.view.text(Ctl::time_out).toInt());
  QObject::connect(platform::httpEngine(), &platform::HttpEngineSignals::transferDone, gate,
                   [gate] { gate->check(); });
  gate->check();
}

void Timer5_Timer(SendContext& w) {
  if (w.int_start() != 1) return;
  const qint64 remaining = w.duration_s - platform::secondsFrom(w.run_start, platform::now());
  w.view.setText(Ctl::Label4, texts::remainingText(remaining));
  if (remaining <= 0 && w.send_mode == SendMode::CatchWithoutWhois) w.setIntStart(0);
}

void SendFormOnTick(SendContext& w) {
  // A stop pressed since the run's first send is not undone by a late tick.
  if (w.tick_send_count > 0 && w.int_start() != 1) return;
  const int depth = w.property(kTickDepth).toInt();
  w.setProperty(kTickDepth, depth + 1);

  w.tick_state = TickState::Sending;
  w.last_send_start = platform::now();
  w.view.setText(Ctl::Label1, kStatusSending);
  w.view.setText(Ctl::Label1, kStatusConnecting);
  w.setIntStart(1);
  if (!w.request_pool) w.request_pool = std::make_shared<RequestRing>(1);

  if (!platform::waitForFreeConnection(platform::originOf(platform::normalizeUrl(w.api_url)), w)) {
    w.setProperty(kTickDepth, depth);
    return;
  }
  int row1 = w.dyn1_row, row2 = w.dyn2_row;
  BuildOptions options;
  options.advanceTimeBase = w.tick_send_count != 0;
  options.expandLineBreaks = false;
  BuildRequest(w, w.dyn1_lines, w.dyn2_lines, row1, row2, options);
  w.tick_send_count += 1;
  const qint32 count = w.tick_send_count;
  const std::shared_ptr<platform::HttpRequest> slot = w.request_pool->slot(w.pool_slot);

  // The place moves on before the reply wait, so a send started inside the
  // wait takes the next slot and lines and leaves this one alone.
  w.dyn1_row = nextIndex(row1, w.dyn1_lines.size());
  w.dyn2_row = nextIndex(row2, w.dyn2_lines.size());
  w.pool_slot = nextIndex(w.pool_slot, w.request_pool->size());

  SendRequest(w, slot, count, showSentFor(w, count, false), awaitReplyFor(w, count),
              [&w] { countLateness(w, w.tick_due_ns); });

  w.setProperty(kTickDepth, depth);
  if (depth == 0) {
    w.view.setText(Ctl::Label1, kStatusInterval);
    w.tick_state = TickState::Idle;
  }
}

namespace {

// A run's blocking loop begins (a WHOIS-triggered send is part of the watch's
// run): the remaining-time display runs and the log boxes start empty.
void beginLoopDisplay(SendContext& w) {
  // Precise: a coarse one-second timer may fire early, tick after tick, and
  // its whole-second count would end the run up to a second short.
  w.Timer5.setTimerType(Qt::PreciseTimer);
  w.Timer5.start();
  w.view.setText(Ctl::regresult, QString());
  w.view.setText(Ctl::regsend, QString());
}

// The ring a timed start set up ahead when it has the size needed, else a
// fresh one; either way it is ready before the stopwatch starts, so the
// first request is not held back by setting it up.
std::shared_ptr<RequestRing> takeLoopRing(SendContext& w, int ringSize) {
  std::shared_ptr<RequestRing> ring = w.loop_ring && w.loop_ring->size() == ringSize
                                          ? std::move(w.loop_ring)
                                          : std::make_shared<RequestRing>(ringSize);
  w.loop_ring.reset();
  return ring;
}

// A WHOIS-triggered send takes its values from the line of its domain.
void startAtDomainLine(const SendContext& w, int& row1, int& row2) {
  const int line = w.domain_lines.value(w.whois_domain_index);
  if (w.domain_source == QStringLiteral("dyn1"))
    row1 = line;
  else if (w.domain_source == QStringLiteral("dyn2"))
    row2 = line;
}

// The window's events (stop button, timers, replies) are taken at least
// every half millisecond, and whenever the next request is not due yet;
// polling every socket after each request of a flood would cost more than
// the request itself.
inline void takeEventsWhenDue(const PacingClock& clock, const PacingSchedule& schedule,
                              double& lastEventsMs) {
  if (clock.elapsedMs() - lastEventsMs >= kEventsEveryMs || !schedule.isDue(clock.elapsedMs())) {
    QCoreApplication::processEvents();
    lastEventsMs = clock.elapsedMs();
  }
}

// The loop is over: the ring's slots are let go (requests sent finish
// unobserved), the deletion's bookkeeping runs if no request took it along,
// and a run ends while a WHOIS-triggered send hands back to the watch.
void endLoop(SendContext& w, RequestRing& ring, bool triggered, bool stoppedByUser,
             const std::function<void()>& afterOnWire) {
  ring.release();
  if (afterOnWire) afterOnWire();
  // Nothing leaves after a stop: a request still waiting for its connection
  // is given up (a WHOIS-triggered one only when the user stopped).
  if (stoppedByUser) platform::dropRequestsNotOnWire();
  w.view.setText(Ctl::Label1, triggered ? texts::kStatusWhoisPause : kStatusDone);
  w.view.setText(Ctl::Label4, kRemainingPrefix);
  w.setIntStart(triggered && !stoppedByUser ? 1 : 0);
  w.timer_start = 0;
  w.Timer5.stop();
  if (triggered) return;
  announceRunEnd(w);
  w.prompter.showMessage(kDoneMessage);
}

}  // namespace

void SendFormLoop(SendContext& w) {
  TaskView& view = w.view;
  const SendMode mode = w.send_mode;
  const bool triggered = mode == SendMode::WhoisTriggered;
  // A normal registration and a WHOIS-triggered send are one request each.
  const bool oneRequest = triggered || mode == SendMode::NormalRegistration;

  // A stop already pending when a WHOIS reply triggers this send is kept.
  bool stoppedByUser = triggered && w.int_start() != 1;
  // Taken at once: a deletion read while this one waits sets its own.
  std::function<void()> afterOnWire = std::exchange(w.after_catch_on_wire, nullptr);
  if (!triggered) beginLoopDisplay(w);
  view.setText(Ctl::Label1, kStatusConnecting);
  w.setIntStart(1);

  const float interval = mode == SendMode::NormalRegistration ? -1.0f : w.intervalFromWindow();
  const qint64 durationMs = static_cast<qint64>(w.durationFromWindow()) * 1000;
  // Lateness is measured against a schedule or a deletion; a normal
  // registration and unlimited requests have no due time to miss.
  const bool paced = triggered || (mode == SendMode::CatchWithoutWhois && interval > 0);

  // Shared copies of the boxes' lines, not split again for every catch.
  const QStringList lines1 = w.dyn1_lines;
  const QStringList lines2 = w.dyn2_lines;
  const std::shared_ptr<RequestRing> ring = takeLoopRing(w, requestRingSize(interval, mode));
  int slot = 0;
  qint32 count = 0;
  PacingSchedule schedule(interval);

  const QByteArray origin = platform::originOf(platform::normalizeUrl(w.api_url));
  int row1 = 0, row2 = 0;
  if (triggered) startAtDomainLine(w, row1, row2);

  // The duration is judged on the millisecond stopwatch, the due times on a
  // finer reading of the same monotonic clock started with it.
  CStopWatch watch;
  const PacingClock clock;
  const qint64 loopStartNs = platform::monotonicNs();
  std::optional<PreciseAlarm> alarm;
  double lastEventsMs = 0;
  // A stop pressed during a WHOIS-triggered send must reach the monitor.
  bool sentItsOne = false;
  for (;;) {
    if (durationMs < watch.Elapsed() || w.int_start() != 1 || (triggered && sentItsOne)) {
      if (w.int_start() != 1 && (triggered || !sentItsOne)) stoppedByUser = true;
      break;
    }
    if (view.text(Ctl::Label1) != kStatusInterval) view.setText(Ctl::Label1, kStatusInterval);
    if (count > 0 && !schedule.isDue(clock.elapsedMs())) {
      waitUntil(w, clock, std::min(schedule.dueMs(), static_cast<double>(durationMs + 1)), alarm);
      continue;
    }
    if (!platform::hasFreeConnection(origin)) {
      platform::waitForFreeConnection(origin, w,
                                      std::max<qint64>(durationMs - watch.Elapsed(), 0) + 1);
      continue;
    }
    view.setText(Ctl::Label1, kStatusSending);
    BuildOptions options;
    options.advanceTimeBase = count > 0 || triggered;
    options.expandLineBreaks = true;
    BuildRequest(w, lines1, lines2, row1, row2, options);
    ++count;
    qint32 caption = count;
    if (triggered) caption = ++w.whois_send_count;
    const std::shared_ptr<platform::HttpRequest> request = ring->slot(slot);
    const qint64 dueNs = triggered ? w.deletion_read_mono_ns
                                   : loopStartNs + static_cast<qint64>(schedule.dueMs() * 1e6);
    qint64 onWireNs = 0;
    SendRequest(w, request, caption, showSentFor(w, count, true), awaitReplyFor(w, count), [&] {
      onWireNs = platform::monotonicNs();
      if (paced) countLateness(w, dueNs);
      if (triggered) ++w.catches;
      if (afterOnWire) std::exchange(afterOnWire, nullptr)();
    });
    if (triggered) reportCatch(w, request, onWireNs);
    row1 = nextIndex(row1, lines1.size());
    row2 = nextIndex(row2, lines2.size());
    slot = nextIndex(slot, ring->size());
    if (oneRequest) {
      if (w.int_start() != 1) stoppedByUser = true;
      sentItsOne = true;
      // A triggered send ends without touching the flag: the WHOIS watch goes
      // on around it, and there (and in a send it is nested in) a 0 means stop.
      if (!triggered) w.setIntStart(0);
    }
    schedule.advance();
    takeEventsWhenDue(clock, schedule, lastEventsMs);
  }
  endLoop(w, *ring, triggered, stoppedByUser, afterOnWire);
}

qint32 SendContext::durationFromWindow() const {
  return view.text(Ctl::reg_second).toInt() * secondsPerUnit(view.text(Ctl::send_time));
}

float SendContext::intervalFromWindow() const {
  const int perUnit = view.index(Ctl::frequence) > 0 ? view.text(Ctl::frequence).toInt() : 0;
  const float unit = static_cast<float>(secondsPerUnit(view.text(Ctl::send_interval)));
  return (perUnit > 0 ? unit / static_cast<float>(perUnit) : -1.0f) * 1000.0f;
}
