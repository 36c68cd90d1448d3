#include "whois/Monitor.h"

#include <QLocale>
#include <QSet>
#include <QTime>
#include <cmath>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/HttpClient.h"
#include "platform/LogBox.h"
#include "sending/Senders.h"
#include "task/VariableTables.h"
#include "whois/Rdap.h"
#include "whois/WhoisQuery.h"

namespace whois {

QString logTime(const QDateTime& t) {
  // Short date and the time with seconds, like the system's general format;
  // the long time format's zone name is left out.
  static const QString format = [] {
    const QLocale locale = QLocale::system();
    QString time = locale.timeFormat(QLocale::LongFormat);
    time.remove(QLatin1Char('t'));
    return locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + time.trimmed();
  }();
  return QLocale::system().toString(t, format);
}

}  // namespace whois

namespace {
const QString kStatusConnecting = QStringLiteral("状态：连接Whois服务器......");
const QString kStatusQuerying = QStringLiteral("状态：发送Whois查询数据......");

// Starts of a rated lane keep this far inside the one-second window, so the
// server never counts one more because of network jitter.
constexpr qint64 kRateWindowNs = 1'000'000'000 + 2'000'000;
// A cycle of a rated lane that found nothing due (every domain waits for its
// re-query delay or its registration) waits at least this long.
constexpr int kIdleCycleMs = 250;

int limitOf(const Settings& s) { return s.whois_timeout > 0 ? s.whois_timeout * 1000 : 0; }
}  // namespace

// The domains queried one at a time (every row without a rate), or the
// domains of one rated row.
struct WhoisMonitor::Lane {
  int index = 0;
  bool oneAtATime = false;
  double rate = 0;
  int parallel = 1;
  QString serverKey;  // rated lanes: their row's server
  QList<int> domains;

  enum class Phase { Cycle, Pause, Done } phase = Phase::Cycle;
  int cursor = 0;
  bool anyWatched = false;  // a domain passed in this cycle was watched
  bool startedAny = false;
  int inFlight = 0;

  // One at a time: the query in progress, or left open after its wait ended
  // with data but no verdict (what still comes is judged); and whether its
  // registration is being sent, which the watch waits for.
  WhoisQuery* current = nullptr;
  bool sending = false;

  // Rated lanes: when queries started (a ring of the last floor(rate)).
  qint64 lastStartNs = 0;
  bool startedEver = false;
  std::vector<qint64> starts;
  size_t oldest = 0;

  QTimer next;   // the next step, at once or when the rate allows
  QTimer pause;  // between cycles
};

WhoisMonitor::WhoisMonitor(WatchContext& context) : w(context) {
  clock_.start();
  connect(&w, &RunFlag::runFlagChanged, this, [this] {
    if (running_ && !stopped_ && this->w.int_start() != 1) stop();
  });
}

WhoisMonitor::~WhoisMonitor() = default;

WhoisMonitor& whoisMonitor(WatchContext& w) {
  if (!w.whois) w.whois = std::make_shared<WhoisMonitor>(w);
  return *w.whois;
}

void whois_monitor(WatchContext& w) { whoisMonitor(w).run(); }

void Timer6_Timer(WatchContext& w) {
  if (w.int_start() != 1) return;
  const qint64 left =
      w.settings.whois_time - platform::secondsFrom(w.last_send_start, platform::now());
  w.view.setText(Ctl::Label1,
                 texts::kStatusWhoisPause + QString::number(left) + QStringLiteral(" 秒"));
}

// --- the watch ---------------------------------------------------------------

void WhoisMonitor::buildWatch() {
  const QList<ServerRow>& servers = w.settings.whois_servers;
  whois_watch.clear();
  whois_watch.reserve(w.domain_list.size());
  lanes_.clear();
  backOff_.clear();
  changedRows_.clear();

  QHash<int, int> laneOfRow;
  int oneAtATimeLane = -1;
  QHash<int, QString> keyOfRow;
  QSet<int> seen;
  auto newLane = [this](bool oneAtATime) {
    auto lane = std::make_unique<Lane>();
    Lane* l = lane.get();
    l->index = static_cast<int>(lanes_.size());
    l->oneAtATime = oneAtATime;
    for (QTimer* t : {&l->next, &l->pause}) {
      t->setSingleShot(true);
      t->setTimerType(Qt::PreciseTimer);
    }
    connect(&l->next, &QTimer::timeout, this, [this, l] {
      if (l->oneAtATime)
        stepOneAtATime(*l);
      else
        pump(*l);
    });
    connect(&l->pause, &QTimer::timeout, this, [this, l] { endPause(*l); });
    lanes_.push_back(std::move(lane));
    return l->index;
  };

  for (int i = 0; i < w.domain_list.size(); ++i) {
    WatchRow row;
    const int match = matchServerRow(servers, w.domain_list[i]);
    const ServerRow* s = match >= 0 ? &servers[match] : nullptr;
    const bool rdap = s && whois::isRdapServer(s->server);
    // A port that is no TCP port makes a WHOIS row unusable.
    if (s && (rdap || whois::portNumber(s->port) >= 0)) {
      row.state = 1;
      row.server = s->server;
      row.port = s->port;
      row.deleted_mark = s->deleted_mark;
      row.expiry_head = s->expiry_head;
      row.expiry_tail = s->expiry_tail;
      row.limited_mark = s->limited_mark;
      row.serverRow = match;
      row.rdap = rdap;
      row.shown = whois::WatchState::Watching;
      if (!keyOfRow.contains(match)) keyOfRow.insert(match, whois::serverKey(*s));
      row.serverKey = keyOfRow.value(match);

      const whois::QueryPace pace = whois::queryPace(*s);
      if (!seen.contains(match)) {
        seen.insert(match);
        const QString line = QString::number(match + 1);
        if (!pace.valid)
          emit w.events.notice(
              QStringLiteral("Whois服务器第%1行的查询频率有误，该行改为逐个查询").arg(line));
        if (!rdap && !whois::deletedMarkUsable(s->deleted_mark))
          emit w.events.notice(
              QStringLiteral("Whois服务器第%1行的已删除特征为空，该行的域名不会判定为已删除")
                  .arg(line));
      }
      int laneIndex;
      if (pace.isParallel()) {
        laneIndex = laneOfRow.value(match, -1);
        if (laneIndex < 0) {
          laneIndex = newLane(false);
          laneOfRow.insert(match, laneIndex);
          Lane& l = *lanes_[laneIndex];
          l.rate = pace.rate;
          l.parallel = pace.parallel;
          l.serverKey = row.serverKey;
          l.starts.assign(static_cast<size_t>(std::floor(std::min(pace.rate, 1e5))), 0);
        }
      } else {
        if (oneAtATimeLane < 0) oneAtATimeLane = newLane(true);
        laneIndex = oneAtATimeLane;
      }
      lanes_[laneIndex]->domains.append(i);
      row.lane = laneIndex;
    }
    whois_watch.append(row);
  }
  emit watchBuilt();
}

void WhoisMonitor::run() {
  ToggleTaskControls(w.view);
  w.view.setEnabled(Ctl::time_end, false);
  BuildVariableTables(w);
  buildWatch();

  stopped_ = false;
  shown_ = Shown::Nothing;
  sendDepth_ = 0;
  running_ = true;
  w.setIntStart(1);
  for (const auto& lane : lanes_) startCycle(*lane);
  if (!ended()) {
    platform::EventWait wait;
    wait.wakeOn(this, &WhoisMonitor::progressed);
    wait.run([this] { return ended(); }, -1);
  }
  running_ = false;

  for (const auto& q : queries_)
    if (!q->inPool) releaseQuery(q.get());
  for (const auto& lane : lanes_) {
    lane->next.stop();
    lane->pause.stop();
  }
  w.Timer6.stop();
  w.setIntStart(0);
  w.view.setText(Ctl::Label1, texts::kStatusDone);
  w.timer_start = 0;
  ToggleTaskControls(w.view);
  w.view.setEnabled(Ctl::time_end, false);
  emit watchEnded();
  announceRunEnd(w);
  w.prompter.showMessage(texts::kDoneMessage);
}

bool WhoisMonitor::ended() const {
  if (sendDepth_ > 0) return false;
  for (const auto& lane : lanes_)
    if (lane->phase != Lane::Phase::Done) return false;
  return true;
}

QList<int> WhoisMonitor::takeChangedRows() {
  QList<int> rows;
  rows.swap(changedRows_);
  for (int i : std::as_const(rows))
    if (i < whois_watch.size()) whois_watch[i].changed = false;
  return rows;
}

void WhoisMonitor::show(int i, whois::WatchState s) {
  WatchRow& row = whois_watch[i];
  row.shown = s;
  if (!row.changed) {
    row.changed = true;
    changedRows_.append(i);
  }
}

bool WhoisMonitor::due(int d) const {
  const WatchRow& row = whois_watch[d];
  return row.state == 1 && !row.registering &&
         (row.last_registration_ms < 0 ||
          clock() - row.last_registration_ms > qint64(w.settings.whois_time2) * 1000);
}

// --- lanes -------------------------------------------------------------------

void WhoisMonitor::startCycle(Lane& lane) {
  lane.phase = Lane::Phase::Cycle;
  lane.cursor = 0;
  lane.anyWatched = false;
  lane.startedAny = false;
  if (!lane.oneAtATime) showParallelStatus();
  step(lane);
}

// Steps run from the event loop, so a query that ends inside a handler
// (or at once) never starts the next one on top of it.
void WhoisMonitor::step(Lane& lane) { lane.next.start(0); }

// The one-at-a-time watch: domain after domain in list order, each on a
// connection of its own, the next only once the previous has its verdict,
// its time-out, or its registration sent.
void WhoisMonitor::stepOneAtATime(Lane& lane) {
  if (lane.phase != Lane::Phase::Cycle || lane.sending || (lane.current && lane.current->waitedOn))
    return;
  while (lane.cursor < lane.domains.size()) {
    const int d = lane.domains[lane.cursor++];
    if (whois_watch[d].state == 1) lane.anyWatched = true;
    if (!due(d) || backOffUntilNs(whois_watch[d].serverKey) > platform::monotonicNs()) continue;
    if (lane.current) {
      // A connection left open by an expired query ends with the next query.
      releaseQuery(lane.current);
      lane.current = nullptr;
    }
    w.view.setText(Ctl::Label1, kStatusConnecting);
    // Without time to wait no connection could be seen; after a stop each
    // remaining domain gets its line at once.
    if (limitOf(w.settings) <= 0 || w.int_start() != 1) {
      logResult(d, whois::kConnectTimeout);
      show(d, whois::WatchState::NoConnection);
      continue;
    }
    startQuery(lane, d);
    if (lane.current) return;  // waiting for it
  }
  endCycle(lane);
}

// A rated lane: up to `parallel` queries in flight, started no faster than
// the rate allows and not while its server is backed off.
void WhoisMonitor::pump(Lane& lane) {
  if (lane.phase != Lane::Phase::Cycle) return;
  while (lane.inFlight < lane.parallel) {
    while (lane.cursor < lane.domains.size() && !due(lane.domains[lane.cursor])) {
      if (whois_watch[lane.domains[lane.cursor]].state == 1) lane.anyWatched = true;
      ++lane.cursor;
    }
    if (lane.cursor == lane.domains.size()) {
      if (lane.inFlight == 0) endCycle(lane);
      return;
    }
    const qint64 now = platform::monotonicNs();
    const qint64 at = nextStartNs(lane);
    if (now < at) {
      lane.next.start(static_cast<int>(std::min<qint64>((at - now + 999999) / 1000000, INT_MAX)));
      return;
    }
    const int d = lane.domains[lane.cursor++];
    lane.anyWatched = true;
    if (limitOf(w.settings) <= 0) {
      logResult(d, whois::kConnectTimeout);
      show(d, whois::WatchState::NoConnection);
      continue;
    }
    lane.lastStartNs = now;
    lane.startedEver = true;
    WhoisQuery* q = startQuery(lane, d);
    if (!lane.starts.empty()) {
      lane.starts[lane.oldest] = now;
      q->rateSlot = static_cast<int>(lane.oldest);
      q->rateMarkNs = now;
      lane.oldest = (lane.oldest + 1) % lane.starts.size();
    }
  }
}

qint64 WhoisMonitor::nextStartNs(const Lane& lane) const {
  qint64 at = backOffUntilNs(lane.serverKey);
  if (!lane.startedEver) return at;
  at = std::max(at, lane.lastStartNs + static_cast<qint64>(1e9 / lane.rate));
  // The start floor(rate) starts ago must have left the window.
  if (!lane.starts.empty() && lane.starts[lane.oldest] != 0)
    at = std::max(at, lane.starts[lane.oldest] + kRateWindowNs);
  return at;
}

void WhoisMonitor::endCycle(Lane& lane) {
  if (!lane.anyWatched || stopped_) {
    lane.phase = Lane::Phase::Done;
    if (!lane.oneAtATime) showParallelStatus();
    emit progressed();
    return;
  }
  lane.phase = Lane::Phase::Pause;
  if (lane.oneAtATime) {
    wait_whois(lane);
    emit progressed();
    return;
  }
  // Rated lanes pause exactly whois_time; their rate paces the queries.
  int pauseMs = std::max<int>(w.settings.whois_time, 0) * 1000;
  if (!lane.startedAny) pauseMs = std::max(pauseMs, kIdleCycleMs);
  lane.pause.start(pauseMs);
  showParallelStatus();
}

// The pause between cycles of the one-at-a-time watch: until the
// (whois_time + 1)-th whole-second boundary of the clock after its start,
// measured on the monotonic clock from there on; Timer6 counts it down.
void WhoisMonitor::wait_whois(Lane& lane) {
  w.last_send_start = platform::now();
  const int pauseMs =
      (std::max<int>(w.settings.whois_time, 0) + 1) * 1000 - QTime::currentTime().msec();
  w.Timer6.start();
  lane.pause.start(pauseMs);
}

void WhoisMonitor::endPause(Lane& lane) {
  if (lane.oneAtATime) w.Timer6.stop();
  if (!stopped_) {
    startCycle(lane);
    return;
  }
  lane.phase = Lane::Phase::Done;
  if (!lane.oneAtATime) showParallelStatus();
  emit progressed();
}

// With rated lanes only, the status line says that queries run, and Timer6
// counts down while every lane pauses. (The one-at-a-time watch has the
// status line to itself when there is one.)
void WhoisMonitor::showParallelStatus() {
  bool anyCycle = false, anyPause = false;
  for (const auto& lane : lanes_) {
    if (lane->oneAtATime) return;
    anyCycle |= lane->phase == Lane::Phase::Cycle;
    anyPause |= lane->phase == Lane::Phase::Pause;
  }
  const Shown now = anyCycle ? Shown::Querying : anyPause ? Shown::Pause : Shown::Nothing;
  if (now == shown_) return;
  shown_ = now;
  if (now == Shown::Pause) {
    w.last_send_start = platform::now();
    w.Timer6.start();
    return;
  }
  w.Timer6.stop();
  if (now == Shown::Querying) w.view.setText(Ctl::Label1, kStatusQuerying);
}

// Every query in flight ends at once; the one-at-a-time watch ends its cycle
// as it always did (the query under way logs its line, each remaining due
// domain its connection time-out) and the run ends.
void WhoisMonitor::stop() {
  stopped_ = true;
  for (const auto& q : queries_) {
    if (q->inPool || q->held) continue;
    Lane& lane = *lanes_[q->lane];
    if (lane.current == q.get()) {
      if (q->waitedOn) {
        const int d = q->domain;
        if (q->phase() == WhoisQuery::Phase::Connecting) {
          logResult(d, whois::kConnectTimeout);
          show(d, whois::WatchState::NoConnection);
        } else if (!q->reply_done && !q->reply_arrived) {
          logResult(d, whois::kUnclear);
          show(d, whois::WatchState::Unclear);
        }
      }
      lane.current = nullptr;
    }
    releaseQuery(q.get());
  }
  // The lanes end from the event loop, as the waits they stand for did.
  for (const auto& lane : lanes_) {
    lane->next.stop();
    lane->inFlight = 0;
    switch (lane->phase) {
      case Lane::Phase::Pause:
        lane->pause.start(0);
        break;
      case Lane::Phase::Cycle:
        if (!lane->oneAtATime)
          lane->phase = Lane::Phase::Done;
        else if (!lane->sending)
          step(*lane);
        break;
      case Lane::Phase::Done:
        break;
    }
  }
  showParallelStatus();
  emit progressed();
}

// --- queries -----------------------------------------------------------------

WhoisQuery* WhoisMonitor::takeQuery() {
  WhoisQuery* q;
  if (!idle_.empty()) {
    q = idle_.back();
    idle_.pop_back();
  } else {
    queries_.push_back(std::make_unique<WhoisQuery>());
    q = queries_.back().get();
    connect(q, &WhoisQuery::connected, this, [this, q] { onConnected(q); });
    connect(q, &WhoisQuery::connectFailed, this, [this, q] { onConnectFailed(q); });
    connect(q, &WhoisQuery::replyData, this,
            [this, q](bool complete) { onReplyData(q, complete); });
    connect(q, &WhoisQuery::replyTimedOut, this, [this, q] { onReplyTimedOut(q); });
    connect(q, &WhoisQuery::rdapAnswered, this, [this, q] { onRdapAnswered(q); });
  }
  q->inPool = false;
  q->waitedOn = false;
  return q;
}

// Back to the pool; a query whose reply is still being handled further down
// the stack goes there once that handling has returned.
void WhoisMonitor::releaseQuery(WhoisQuery* q) {
  if (q->inPool) return;
  q->Close();
  q->inPool = true;
  q->waitedOn = false;
  if (!q->held) idle_.push_back(q);
}

WhoisQuery* WhoisMonitor::startQuery(Lane& lane, int d) {
  WhoisQuery* q = takeQuery();
  q->rateSlot = -1;
  q->domain = d;
  q->lane = lane.index;
  if (lane.oneAtATime) {
    lane.current = q;
    q->waitedOn = true;
  } else {
    ++lane.inFlight;
    lane.startedAny = true;
  }
  const WatchRow& row = whois_watch[d];
  if (!row.rdap) {
    q->do_connect(row.server, static_cast<quint16>(whois::portNumber(row.port)),
                  limitOf(w.settings));
    return q;
  }
  if (lane.oneAtATime) {
    w.view.setText(Ctl::Label1, kStatusQuerying);
    w.whois_domain_index = d;
  }
  // Logged first: a lookup that cannot start ends inside startRdap.
  appendLog(w.view, Ctl::regsend,
            whois::logTime(platform::now()) + QStringLiteral(" Sending Whois data: ") +
                w.domain_list.value(d));
  noteQuerySent(q);
  q->startRdap(whois::rdapQueryUrl(row.server, w.domain_list.value(d)), limitOf(w.settings));
  return q;
}

// Done with q: its lane moves on.
void WhoisMonitor::finishQuery(WhoisQuery* q) {
  Lane& lane = *lanes_[q->lane];
  const bool waited = q->waitedOn;
  if (lane.oneAtATime) {
    if (lane.current == q) lane.current = nullptr;
  } else {
    --lane.inFlight;
  }
  releaseQuery(q);
  if (!lane.oneAtATime || waited) step(lane);
}

void WhoisMonitor::onConnected(WhoisQuery* q) {
  const int d = q->domain;
  const WatchRow& row = whois_watch[d];
  if (lanes_[q->lane]->oneAtATime) {
    w.view.setText(Ctl::Label1, kStatusQuerying);
    w.whois_domain_index = d;
  }
  const QString domain = w.domain_list.value(d);
  q->do_whois(domain, {row.deleted_mark, row.expiry_head, row.expiry_tail, row.limited_mark},
              limitOf(w.settings));
  appendLog(w.view, Ctl::regsend,
            whois::logTime(platform::now()) + QStringLiteral(" Sending Whois data: ") + domain);
  noteQuerySent(q);
}

void WhoisMonitor::onConnectFailed(WhoisQuery* q) { conclude(q, Verdict::ConnectTimeout); }

// The verdict rules, on everything received for the query so far.
void WhoisMonitor::onReplyData(WhoisQuery* q, bool complete) {
  if (q->reply_done) return;
  const whois::Reading r = q->reader.read(complete, platform::now().date());
  if (q->reader.text().isEmpty()) {
    // Closed without a word: no answer can come any more.
    if (complete) conclude(q, Verdict::Unclear);
    return;
  }
  if (r.limited) {
    conclude(q, Verdict::Limited);
    return;
  }
  if (r.deleted) {
    registerDeleted(q);
    return;
  }
  switch (r.expiry) {
    case whois::Expiry::Registered:
      conclude(q, Verdict::Registered, r.expiryDate);
      return;
    case whois::Expiry::NotDeleted:
      conclude(q, Verdict::NotDeleted, r.expiryDate);
      return;
    case whois::Expiry::Unclear:
      conclude(q, Verdict::Unclear);
      return;
    case whois::Expiry::CutFailed:
    case whois::Expiry::None:
      // No verdict yet. A line whose date could not be cut out does not count
      // as an answer, so the time-out logs the state as not clear.
      q->reply_arrived = r.expiry == whois::Expiry::None;
      // The whole reply is in and says nothing we can read.
      if (complete) conclude(q, Verdict::Unclear);
      return;
  }
}

void WhoisMonitor::onReplyTimedOut(WhoisQuery* q) {
  const int d = q->domain;
  Lane& lane = *lanes_[q->lane];
  if (!q->reply_done && !q->reply_arrived) {
    logResult(d, whois::kUnclear);
    q->reply_done = true;
  }
  show(d, whois::WatchState::Unclear);
  if (lane.oneAtATime && q->phase() == WhoisQuery::Phase::Querying) {
    // The connection stays open until the next query: what still comes is
    // judged for this domain.
    q->waitedOn = false;
    step(lane);
    return;
  }
  finishQuery(q);
}

void WhoisMonitor::onRdapAnswered(WhoisQuery* q) {
  const platform::HttpRequest& a = q->rdapAnswer();
  const whois::RdapReading r =
      whois::readRdap(a.status(), a.responseBody(), a.truncated(), a.retryAfter(),
                      platform::now().date(), QDateTime::currentDateTimeUtc());
  switch (r.verdict) {
    case whois::RdapVerdict::Deleted:
      registerDeleted(q);
      return;
    case whois::RdapVerdict::Registered:
      conclude(q, Verdict::Registered, r.expiry);
      return;
    case whois::RdapVerdict::NotDeleted:
      conclude(q, Verdict::NotDeleted, r.expiry);
      return;
    case whois::RdapVerdict::Unclear:
      conclude(q, Verdict::Unclear, r.expiry);
      return;
    case whois::RdapVerdict::Limited:
      conclude(q, Verdict::Limited, QDate(), r.retryAfterMs);
      return;
    case whois::RdapVerdict::NoAnswer:
      conclude(q, Verdict::ConnectTimeout);
      return;
  }
}

// Logs the verdict for q's domain, applies it, and ends the query.
void WhoisMonitor::conclude(WhoisQuery* q, Verdict v, const QDate& expiry, qint64 retryAfterMs) {
  const int i = q->domain;
  WatchRow& row = whois_watch[i];
  q->reply_done = true;
  q->reply_arrived = true;
  if (expiry.isValid()) row.expiry = expiry;
  if (v != Verdict::ConnectTimeout) noteAnswer(q);
  switch (v) {
    case Verdict::Registered:
      logResult(i, whois::kRegistered);
      row.state = 0;
      show(i, whois::WatchState::GivenUp);
      break;
    case Verdict::NotDeleted:
      logResult(i, whois::kNotDeleted);
      show(i, whois::WatchState::NotDeleted);
      break;
    case Verdict::Unclear:
      logResult(i, whois::kUnclear);
      show(i, whois::WatchState::Unclear);
      break;
    case Verdict::Limited:
      logResult(i, whois::kLimited);
      show(i, whois::WatchState::Limited);
      backOff(row.serverKey, q->sentNs, retryAfterMs);
      break;
    case Verdict::ConnectTimeout:
      logResult(i, whois::kConnectTimeout);
      show(i, whois::WatchState::NoConnection);
      break;
  }
  // The first good reply restores the normal pace.
  if (v == Verdict::Registered || v == Verdict::NotDeleted) goodReply(row.serverKey, q->sentNs);
  if (v != Verdict::ConnectTimeout && q->phase() == WhoisQuery::Phase::Querying)
    whois_data = q->reader.text();
  finishQuery(q);
}

// The registration goes out from inside the reply handling, before anything
// else is looked at; the rest of the reply is judged once it has returned.
// Meanwhile the event loop runs inside the sending: rated lanes go on
// querying, and a deletion they read sends its own registration at once,
// nested in this one.
void WhoisMonitor::registerDeleted(WhoisQuery* q) {
  const int i = q->domain;
  Lane& lane = *lanes_[q->lane];
  const bool waited = q->waitedOn;
  whois::ReplyReader reader = std::move(q->reader);
  q->reader = whois::ReplyReader();
  q->reply_done = true;
  q->reply_arrived = true;

  WatchRow& row = whois_watch[i];
  if (!w.settings.whois_after_reg) row.state = 0;
  row.registering = true;
  noteAnswer(q);
  show(i, whois::WatchState::Registering);
  w.send_mode = SendMode::WhoisTriggered;

  q->held = true;  // its socket's signal is still being handled down the stack
  q->stopTimeLimit();
  if (lane.oneAtATime) {
    lane.sending = waited;
    if (lane.current == q) lane.current = nullptr;
  } else {
    --lane.inFlight;
  }
  // The deletion's line still comes before anything the registration logs.
  w.after_catch_on_wire = [this, q, i, &lane] {
    logResult(i, whois::kDeleted);
    releaseQuery(q);
    if (!lane.oneAtATime) step(lane);
  };

  const qint64 sentNs = q->sentNs;
  w.whois_domain_index = i;
  w.deletion_read_mono_ns = q->readNs;
  w.deletion_read_wall_us = q->readWallUs;
  ++sendDepth_;
  SendFormLoop(w);
  --sendDepth_;
  // The sending wrote its own status; a rated watch shows its own again.
  shown_ = Shown::Nothing;
  showParallelStatus();

  q->held = false;
  if (q->inPool) idle_.push_back(q);
  WatchRow& after = whois_watch[i];
  after.registering = false;
  if (w.settings.whois_after_reg) after.last_registration_ms = clock();
  goodReply(after.serverKey, sentNs);

  // We closed the connection ourselves: what we have is the complete reply,
  // so an expiry line still waiting for its LF is judged too.
  applyExpiry(i, reader.read(true, platform::now().date()));
  whois_data = reader.text();
  if (lane.oneAtATime && waited) {
    lane.sending = false;
    step(lane);
  }
  emit progressed();
}

// The expiry verdict of a reply that also reported the domain deleted.
void WhoisMonitor::applyExpiry(int i, const whois::Reading& r) {
  WatchRow& row = whois_watch[i];
  if (r.expiryDate.isValid()) row.expiry = r.expiryDate;
  switch (r.expiry) {
    case whois::Expiry::Registered:
      logResult(i, whois::kRegistered);
      row.state = 0;
      show(i, whois::WatchState::GivenUp);
      break;
    case whois::Expiry::NotDeleted:
      logResult(i, whois::kNotDeleted);
      break;
    case whois::Expiry::Unclear:
      logResult(i, whois::kUnclear);
      break;
    case whois::Expiry::CutFailed:
    case whois::Expiry::None:
      break;
  }
}

void WhoisMonitor::noteQuerySent(WhoisQuery* q) {
  // The rate counts a query from when the server sees it: a connection that
  // took a while must not bring the next start closer.
  Lane& lane = *lanes_[q->lane];
  if (q->rateSlot >= 0 && lane.starts[size_t(q->rateSlot)] == q->rateMarkNs)
    lane.starts[size_t(q->rateSlot)] = platform::monotonicNs();
  WatchRow& row = whois_watch[q->domain];
  ++row.queries;
  row.lastQueryAtMs = QDateTime::currentMSecsSinceEpoch();
  show(q->domain, row.shown);
}

void WhoisMonitor::noteAnswer(WhoisQuery* q) {
  whois_watch[q->domain].lastReplyMs = double(q->readNs - q->sentNs) / 1e6;
}

// Only replies to queries sent since the server began limiting us count:
// the other queries in flight then were asked before it said so.
void WhoisMonitor::backOff(const QString& key, qint64 querySentNs, qint64 retryAfterMs) {
  BackOff& b = backOff_[key];
  if (b.stepMs > 0 && querySentNs < b.sinceNs) return;
  b.stepMs = b.stepMs == 0 ? whois::kFirstBackOffMs : std::min(b.stepMs * 2, whois::kMaxBackOffMs);
  const qint64 waitMs = std::min(std::max(b.stepMs, retryAfterMs), whois::kMaxBackOffMs);
  b.sinceNs = platform::monotonicNs();
  b.untilNs = b.sinceNs + waitMs * 1000000;
}

void WhoisMonitor::goodReply(const QString& key, qint64 querySentNs) {
  const auto it = backOff_.find(key);
  if (it != backOff_.end() && querySentNs >= it->sinceNs) backOff_.erase(it);
}

qint64 WhoisMonitor::backOffUntilNs(const QString& key) const {
  const auto it = backOff_.constFind(key);
  return it == backOff_.cend() ? 0 : it->untilNs;
}

void WhoisMonitor::logResult(int i, const QString& verdict) {
  appendLog(w.view, Ctl::regresult,
            whois::logTime(platform::now()) + QStringLiteral(" 域名 ") + w.domain_list.value(i) +
                verdict);
}
