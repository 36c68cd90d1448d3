// The start flows of the task window: normal registration, the catch with
// its timer-driven run, the stop, and the timed start.
#include <cmath>
#include <utility>

#include "app/TaskWindow.h"
#include "codecs/Charsets.h"
#include "platform/Clock.h"
#include "sending/HttpExchange.h"
#include "sending/Senders.h"
#include "task/Validation.h"
#include "task/VariableTables.h"
#include "whois/Monitor.h"

namespace {

qint64 floorDiv(qint64 a, qint64 b) {
  return static_cast<qint64>(std::floor(static_cast<double>(a) / static_cast<double>(b)));
}

}  // namespace

QString TaskWindow::countdownText(qint64 s) {
  const qint64 dayRem = s % 86400;  // remainder keeps the dividend's sign
  return texts::kCountdownPrefix + QStringLiteral("%1天 %2时 %3分 %4秒")
                                       .arg(floorDiv(s, 86400))
                                       .arg(floorDiv(dayRem, 3600))
                                       .arg(floorDiv(dayRem % 3600, 60))
                                       .arg(dayRem % 3600 % 60);
}

void TaskWindow::normalreg_Click() { startNormalRegistration(); }

bool TaskWindow::startNormalRegistration() {
  if (!ValidateTask(*this)) return false;
  report.runStarting();
  beginRun(*this);
  send_mode = SendMode::NormalRegistration;
  time_base = run_start = platform::now();
  duration_s = durationFromWindow();
  ToggleTaskControls();
  view.setEnabled(Ctl::time_end, false);
  BuildVariableTables(*this);
  SendFormLoop(*this);
  ToggleTaskControls();
  view.setEnabled(Ctl::time_end, false);
  return true;
}

void TaskWindow::regstop_Click() { setIntStart(0); }

void TaskWindow::regstart_Click() { startCatch(); }

bool TaskWindow::startCatch() {
  if (!ValidateTask(*this)) return false;
  prepareCatch();
  runCatch();
  return true;
}

// The log file, warming, the tables, the interval and duration and the
// request ring: they depend only on the task, which the lock keeps as it was
// checked.
void TaskWindow::prepareCatch() {
  platform::prepareHttp();
  report.runStarting();
  warmer.start(api_url, settings);
  if (settings.check_whois) {
    charsets::warmUp();  // the monitor builds its tables itself
    return;
  }
  BuildVariableTables(*this);
  interval_unit_s = secondsPerUnit(view.text(Ctl::send_interval));
  interval_ms = intervalFromWindow();
  duration_s = durationFromWindow();
  const int ringSlots = requestRingSize(interval_ms, SendMode::CatchWithoutWhois);
  if (interval_ms < 1000) {
    loop_ring = std::make_shared<RequestRing>(ringSlots);
    return;
  }
  setUpRequestPool(*this, ringSlots);
}

void TaskWindow::runCatch() {
  beginRun(*this);
  if (settings.check_whois) {
    whois_send_count = 0;
    time_base = platform::now();
    whois_monitor(*this);
    return;
  }
  send_mode = SendMode::CatchWithoutWhois;
  time_base = run_start = platform::now();
  ToggleTaskControls();
  view.setEnabled(Ctl::time_end, false);

  if (interval_ms < 1000) {
    SendFormLoop(*this);
    ToggleTaskControls();
    view.setEnabled(Ctl::time_end, false);
    return;
  }

  dyn1_row = dyn2_row = pool_slot = 0;
  tick_send_count = 0;
  Timer2.setInterval(static_cast<int>(std::lround(interval_ms)));
  view.setText(Ctl::regresult, QString());
  view.setText(Ctl::regsend, QString());
  last_send_start = platform::now();
  tick_state = TickState::Idle;
  Timer3.start();
  tick_due_ns = platform::monotonicNs();
  SendFormOnTick(*this);
  startPacing();
}

// Pacing and finish of a timer-driven run. A tick that falls due while a tick
// send still waits for its reply starts no second send; the run is finished
// only once no send is in progress.
// Timer2 (re)starts: its ticks are due every interval from now.
void TaskWindow::startPacing() {
  tick_due_ns = platform::monotonicNs();
  Timer2.start();
}

void TaskWindow::Timer2_Timer() {
  tick_due_ns += static_cast<qint64>(std::llround(double(interval_ms) * 1e6));
  const qint64 elapsed = platform::secondsFrom(run_start, platform::now());
  const bool sending = tick_state == TickState::Sending;
  if (duration_s - elapsed > 0 && int_start() == 1) {
    if (!sending) SendFormOnTick(*this);
    return;
  }
  if (sending) return;
  releaseRequestPool(*this);
  view.setText(Ctl::Label1, texts::kStatusDone);
  view.setText(Ctl::Label4, texts::kRemainingPrefix);
  setIntStart(0);
  timer_start = 0;
  ToggleTaskControls();
  Timer2.stop();
  Timer3.stop();
  Timer4.stop();  // a pending catch-up must not send after the finish
  view.setEnabled(Ctl::time_end, false);
  announceRunEnd(*this);
  prompter.showMessage(texts::kDoneMessage);
}

void TaskWindow::Timer3_Timer() {
  if (int_start() != 1) {
    Timer2_Timer();
    return;
  }
  // Between two tick sends (the sender's own state, not the label's text).
  const QString pauseStatus = QStringLiteral("状态：间隔时间中");
  if (tick_state == TickState::Idle && tick_send_count > 0) {
    const qint64 wait = floorDiv(static_cast<qint64>(interval_ms), 1000) -
                        platform::secondsFrom(last_send_start, platform::now());
    view.setText(Ctl::Label1, pauseStatus + QStringLiteral(" 等待 ") + QString::number(wait) +
                                  QStringLiteral(" 秒"));
  }
  const qint64 remaining = duration_s - platform::secondsFrom(run_start, platform::now());
  view.setText(Ctl::Label4, texts::remainingText(remaining));
  if (duration_s - platform::secondsFrom(run_start, platform::now()) <= 0) setIntStart(0);
  if (tick_state == TickState::Idle &&
      interval_ms / 1000 - platform::secondsFrom(last_send_start, platform::now()) < 0) {
    Timer2.stop();
    Timer4.start();
  }
}

// The catch-up send (the tick sender itself keeps a stop pressed meanwhile).
void TaskWindow::Timer4_Timer() {
  Timer4.stop();
  Timer2.stop();
  if (tick_state == TickState::Idle) {
    tick_due_ns = platform::monotonicNs();  // a catch-up is due when it comes
    SendFormOnTick(*this);
  }
  startPacing();
}

void TaskWindow::time_start_Click() {
  const QString text = view.text(Ctl::year1) + u'-' + view.text(Ctl::month1) + u'-' +
                       view.text(Ctl::day1) + u' ' + view.text(Ctl::hour1) + u':' +
                       view.text(Ctl::minute1) + u':' + view.text(Ctl::second1);
  const QDateTime at = platform::parseLocalDateTime(text);
  if (!at.isValid()) {
    prompter.showMessage(texts::kBadDateTime);
    return;
  }
  timed_start_at = at;
  if (timed_start_at <= platform::now()) {
    prompter.showMessage(QStringLiteral("定时时间必须大于当前时间！"));
    return;
  }
  if (!ValidateTask(*this)) return;
  report.runStarting();
  ToggleTaskControls();
  view.setEnabled(Ctl::regstop, false);
  Timer1.start(1000);
  view.setText(Ctl::Label_timer,
               countdownText(platform::secondsFrom(platform::now(), timed_start_at)));
  timer_start = 1;
  view.setText(Ctl::Label1, QStringLiteral("状态：定时等待中......"));
  armTimedStart();
}

// Counts down on the corrected wall clock, read afresh at every tick so a
// clock change is followed; the next tick is aimed just past the next whole
// second. The alarm starts the catch; a tick finding it due starts it when
// no alarm could (the clock replaced in tests, no timerfd).
void TaskWindow::Timer1_Timer() {
  const QDateTime now = correctedNow();
  const qint64 leadMs = settings.timed_lead_ms;
  if (timed_start_at > platform::now(clock_offset_us_ / 1000 + leadMs)) {
    view.setText(Ctl::Label_timer, countdownText(platform::secondsFrom(now, timed_start_at)));
    const qint64 msIntoSecond = (platform::wallClockUs() + clock_offset_us_) / 1000 % 1000;
    Timer1.setInterval(static_cast<int>(1000 - msIntoSecond + 2));
    prepareWhenNear();
    return;
  }
  timedStartDue();
}

void TaskWindow::time_end_Click() {
  ToggleTaskControls();
  disarmTimedStart();
  view.setEnabled(Ctl::regstop, false);
  timer_start = 0;
  view.setText(Ctl::Label_timer, texts::kCountdownPrefix);
  view.setText(Ctl::Label1, QStringLiteral("状态：定时停止，任务结束"));
}

QString TaskWindow::clockOffsetText(qint64 offsetUs) {
  return QStringLiteral("时钟偏差：") +
         QString::asprintf("%+.3f", static_cast<double>(offsetUs) / 1e6) + QStringLiteral(" 秒");
}

qint64 TaskWindow::dueMomentUs() const {
  return timed_start_at.toMSecsSinceEpoch() * 1000 - clock_offset_us_ -
         qint64(settings.timed_lead_ms) * 1000;
}

QDateTime TaskWindow::correctedNow() const { return platform::now(clock_offset_us_ / 1000); }

// The arming path: the due moment on the local clock, moved by the time
// server's offset once it is measured (now and every 10 minutes).
void TaskWindow::armTimedStart() {
  clock_offset_us_ = 0;
  clockReported_ = false;
  catchPrepared_ = false;
  aimDueAlarm();
  measureClock();
}

// The cancel path.
void TaskWindow::disarmTimedStart() {
  stopTimedStartClocks();
  sntp_.cancel();
  warmer.stop();
  if (!std::exchange(catchPrepared_, false)) return;
  loop_ring.reset();
  releaseRequestPool(*this);
}

// A measurement still running goes on, so how the clock stood is said even
// when the start came first.
void TaskWindow::stopTimedStartClocks() {
  Timer1.stop();
  dueAlarm_.disarm();
  clockTimer_.stop();
}

void TaskWindow::measureClock() {
  const std::optional<platform::TimeServer> server =
      platform::parseTimeServer(settings.time_server);
  if (!server) return;  // no time server: the local clock
  sntp_.measure(*server);
  clockTimer_.start();
}

void TaskWindow::aimDueAlarm() {
  dueAlarm_.armAt(dueMomentUs());
  prepareWhenNear();
}

// Shortly before the due moment the catch start's validation, tables and
// ring are done, so the alarm's first request leaves on the second. The
// window is locked, so the task checked now is the task of the due moment; a
// task that fails the check is left to the due moment, which refuses it as a
// click would.
void TaskWindow::prepareWhenNear() {
  constexpr qint64 kPrepareAheadUs = 2000000;
  // The registrar's connections are warm well before: 30 s ahead.
  constexpr qint64 kWarmAheadUs = 30000000;
  const qint64 aheadUs = dueMomentUs() - platform::wallClockUs();
  if (aheadUs <= kWarmAheadUs) warmer.start(api_url, settings);
  if (catchPrepared_ || aheadUs > kPrepareAheadUs) return;
  if (!taskProblem(*this).isEmpty()) return;
  prepareCatch();
  catchPrepared_ = true;
}

void TaskWindow::onDueAlarm() {
  bool clockSet = false;
  if (dueAlarm_.acknowledge(&clockSet)) {
    timedStartDue();
    return;
  }
  // The wall clock was set: an offset measured against it no longer holds.
  if (!clockSet) return;
  clock_offset_us_ = 0;
  aimDueAlarm();
  measureClock();
}

// The due moment: the count-down's last text, the window back to idle for an
// instant, and the catch as the button starts it.
void TaskWindow::timedStartDue() {
  view.setText(Ctl::Label_timer,
               countdownText(platform::secondsFrom(correctedNow(), timed_start_at)));
  stopTimedStartClocks();
  ToggleTaskControls();
  view.setEnabled(Ctl::regstop, false);
  if (std::exchange(catchPrepared_, false)) {
    runCatch();
    return;
  }
  // A task refused when due leaves the window idle: no timed start is pending
  // any more, so the exit question must not be asked for it, and nothing is
  // warmed for it.
  if (!startCatch()) {
    timer_start = 0;
    warmer.stop();
  }
}
