#pragma once
#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "sending/RunEvents.h"
#include "sending/Warmup.h"
#include "task/TaskContext.h"

class RequestRing;  // sending/HttpExchange.h

// Which start a send belongs to.
enum class SendMode { NormalRegistration, CatchWithoutWhois, WhoisTriggered };

// Whether a tick send is running (its reply wait included) or none is.
enum class TickState { Idle, Sending };

// The state of the current run, set by the start flows and read by the
// senders.
struct RunState {
  SendMode send_mode = SendMode::NormalRegistration;
  qint16 timer_start = 0;  // a timed start is armed or the run it started goes on
  QDateTime time_base;     // the time variable's base, moved on per request
  QDateTime run_start;
  qint32 duration_s = 0;
  int interval_unit_s = 1;
  float interval_ms = 0;
  qint32 whois_send_count = 0;
  int whois_domain_index = 0;  // the domain a WHOIS-triggered send is for
  // When the deletion behind a WHOIS-triggered send was read: set by the
  // monitor right before it calls SendFormLoop, for the catch report and the
  // lateness of that request.
  qint64 deletion_read_mono_ns = 0;  // QElapsedTimer's monotonic clock
  qint64 deletion_read_wall_us = 0;  // microseconds since the epoch
  // The monitor's bookkeeping of a deletion (its log line, closing the WHOIS
  // connection), run by SendFormLoop once the registration is on the wire,
  // or when it ends without sending: it costs more than the request.
  std::function<void()> after_catch_on_wire;
  // Of the run so far: requests on the wire more than 2 ms after their due
  // time, and WHOIS-triggered registrations.
  qint64 late_requests = 0;
  qint64 catches = 0;
  // The blocking loop's request ring when a timed start set it up ahead;
  // SendFormLoop takes it (shared_ptr: deletable while incomplete here).
  std::shared_ptr<RequestRing> loop_ring;
};

// The tick sender's place between ticks.
struct TickPlace {
  std::shared_ptr<RequestRing> request_pool;  // shared_ptr: deletable while incomplete here
  int pool_slot = 0;
  TickState tick_state = TickState::Idle;
  QDateTime last_send_start;
  qint32 tick_send_count = 0;
  int dyn1_row = 0, dyn2_row = 0;
  qint64 tick_due_ns = 0;  // when the current tick send was due (monotonic)
};

// What the senders see of the task window.
class SendContext : public TaskContext, public RunState, public TickPlace {
 public:
  using TaskContext::TaskContext;
  // The remaining-time display of the blocking loop.
  QTimer Timer5;
  RunEvents events;
  RegistrarWarmer warmer{events};

  // reg_second times the unit of send_time, in seconds.
  qint32 durationFromWindow() const;
  // Milliseconds between requests for frequence per send_interval; -1000
  // when frequence is "0" (no limit).
  float intervalFromWindow() const;
};
