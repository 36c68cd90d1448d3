#include "whois/Monitor.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QTime>

#include "platform/LogBox.h"
#include "whois/WatchContext.h"
#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/Log.h"
#include "sending/Senders.h"
#include "task/VariableTables.h"
#include "whois/ServerTable.h"

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

int portNumber(const QString& field) {
  bool ok = false;
  const int port = textrules::trimSpaces(field).toInt(&ok, 10);
  return ok && port >= 0 && port <= 65535 ? port : -1;
}

}  // namespace whois

namespace {
const QString kStatusConnecting = QStringLiteral("状态：连接Whois服务器......");
const QString kStatusQuerying = QStringLiteral("状态：发送Whois查询数据......");
const QString kStatusPause = QStringLiteral("状态：发送完成，whois间隔...");
}  // namespace

WhoisMonitor::WhoisMonitor(WatchContext& w) : w(w) {
  clock_.start();
  connect(&Winsock1, &QTcpSocket::connected, this, &WhoisMonitor::onConnected);
  connect(&Winsock1, &QTcpSocket::readyRead, this, &WhoisMonitor::onReadyRead);
  connect(&Winsock1, &QTcpSocket::disconnected, this, &WhoisMonitor::onDisconnected);
  connect(&Winsock1, &QTcpSocket::errorOccurred, this, &WhoisMonitor::onError);
  connect(&Winsock1, &QTcpSocket::stateChanged, this, &WhoisMonitor::progressed);
}

WhoisMonitor::~WhoisMonitor() {
  closing_ = true;
  Winsock1.abort();
}

// Blocks in the event loop until done() holds, the time runs out (timeoutMs
// < 0: never) or the run flag changes; re-armed when a nested flow flips the
// flag and sets it back (the WHOIS-triggered send does) before done() holds.
bool WhoisMonitor::waitFor(const std::function<bool()>& done, qint64 timeoutMs) {
  const QDeadlineTimer deadline =
      timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                    : QDeadlineTimer(timeoutMs, Qt::PreciseTimer);
  while (!done()) {
    const qint64 left = deadline.isForever() ? -1 : deadline.remainingTime();
    if (left == 0) break;
    platform::EventWait wait;
    wait.wakeOn(this, &WhoisMonitor::progressed);
    wait.wakeOn(&w, &RunFlag::runFlagChanged);
    wait.run(done, left);
  }
  return done();
}

// --- query client ------------------------------------------------------------

bool WhoisMonitor::winsock_state() const {
  return Winsock1.state() == QAbstractSocket::ConnectedState;
}

void WhoisMonitor::Close() {
  closing_ = true;
  Winsock1.abort();
  closing_ = false;
  queryOpen_ = false;
}

void WhoisMonitor::Wait_close() {
  waitFor([this] { return Winsock1.state() == QAbstractSocket::UnconnectedState; }, -1);
  whois_connected = false;
}

void WhoisMonitor::do_connect(const QString& host, const QString& port) {
  w.view.setText(Ctl::Label1, kStatusConnecting);
  const qint64 limitMs = qint64(w.settings.whois_timeout) * 1000;
  const int portNo = whois::portNumber(port);
  // Nothing to wait for: with no time to wait no connection could be seen.
  if (limitMs <= 0 || w.int_start() != 1 || portNo < 0) return;
  connectFailed_ = false;
  Winsock1.connectToHost(host, static_cast<quint16>(portNo));
  waitFor([this] { return whois_connected || connectFailed_ || w.int_start() != 1; }, limitMs);
  // A connection that comes later belongs to no query.
  if (!whois_connected) Close();
}

void WhoisMonitor::do_whois() {
  const int i = w.whois_domain_index;
  const QString domain = w.domain_list.value(i);
  reply_done = false;
  reply_.clear();
  whois_data.clear();
  replyCut_ = false;
  queryOpen_ = true;
  Winsock1.write(charsets::toGb18030(domain + textrules::kCrLf));
  Winsock1.flush();
  appendLog(w.view, Ctl::regsend,
            whois::logTime(platform::now()) + QStringLiteral(" Sending Whois data: ") + domain);

  // wait_whois_reply
  if (reply_done) return;
  reply_arrived = false;
  waitFor([this] { return reply_done || w.int_start() != 1; },
          qint64(w.settings.whois_timeout) * 1000);
  if (!reply_done && !reply_arrived) {
    logResult(i, whois::kUnclear);
    reply_done = true;
  }
}

void WhoisMonitor::onConnected() {
  whois_connected = true;
  emit progressed();
}

void WhoisMonitor::onError() {
  if (closing_) return;
  qCInfo(lcWhois).noquote() << "connection error:" << Winsock1.errorString();
  connectFailed_ = true;
  emit progressed();
}

void WhoisMonitor::onReadyRead() {
  if (closing_) return;
  takeBytes();
}

// The server closed: what it sent before is still read, and the reply is
// complete, so a last incomplete expiry line is judged too.
void WhoisMonitor::onDisconnected() {
  if (closing_) return;
  whois_connected = false;
  const bool open = queryOpen_;
  takeBytes();
  if (open && queryOpen_ && !reply_done) judge(true);
  queryOpen_ = false;
  emit progressed();
}

void WhoisMonitor::takeBytes() {
  const QByteArray bytes = Winsock1.readAll();
  if (bytes.isEmpty()) return;
  // Read and dropped: a reply after its verdict, or data no query asked for.
  if (!queryOpen_ || reply_done) return;
  const qsizetype room = whois::kMaxReplyBytes - reply_.size();
  if (bytes.size() > room) {
    reply_.append(bytes.constData(), room);
    replyCut_ = true;
  } else {
    reply_.append(bytes);
  }
  judge(replyCut_);
  emit progressed();
}

// The verdict rules, on everything received for the query so far.
void WhoisMonitor::judge(bool complete) {
  const int i = w.whois_domain_index;
  if (i < 0 || i >= whois_watch.size()) return;
  if (reply_.isEmpty()) {
    // Closed without a word: no answer can come any more.
    if (complete && !reply_done) {
      logResult(i, whois::kUnclear);
      reply_done = true;
    }
    return;
  }
  whois_data = charsets::fromGb18030(reply_);

  // Deleted: the registration goes out before anything else is looked at.
  if (whois_data.contains(whois_watch[i].deleted_mark)) registerDeleted(i);

  const WatchRow& row = whois_watch[i];
  const whois::Reading r = whois::readReply(
      whois_data, complete, {row.deleted_mark, row.expiry_head, row.expiry_tail},
      platform::now().date());
  switch (r.expiry) {
    case whois::Expiry::Registered:
      logResult(i, whois::kRegistered);
      whois_watch[i].state = 0;
      break;
    case whois::Expiry::NotDeleted:
      logResult(i, whois::kNotDeleted);
      break;
    case whois::Expiry::Unclear:
      logResult(i, whois::kUnclear);
      break;
    case whois::Expiry::CutFailed:
    case whois::Expiry::None:
      // No verdict yet. A line whose date could not be cut out does not count
      // as an answer, so the wait's time-out logs the state as not clear.
      reply_arrived = r.expiry == whois::Expiry::None;
      if (complete && !reply_done) {
        // The whole reply is in and says nothing we can read.
        logResult(i, whois::kUnclear);
        reply_done = true;
        Close();
      }
      return;
  }
  reply_done = true;
  Close();
  reply_arrived = true;
}

void WhoisMonitor::registerDeleted(int i) {
  if (!w.settings.whois_after_reg) whois_watch[i].state = 0;
  reply_done = true;
  w.send_mode = 2;
  logResult(i, whois::kDeleted);
  Close();
  w.deletion_read_mono_ns = platform::monotonicNs();
  w.deletion_read_wall_us = platform::wallClockUs();
  // Returns with the run flag back at 1, unless a stop came meanwhile.
  SendFormLoop(w);

  if (w.settings.whois_after_reg) whois_watch[i].last_registration_ms = clock();
}

void WhoisMonitor::logResult(int i, const QString& verdict) {
  appendLog(w.view, Ctl::regresult,
            whois::logTime(platform::now()) + QStringLiteral(" 域名 ") + w.domain_list.value(i) +
                verdict);
}

// --- monitor -----------------------------------------------------------------

void WhoisMonitor::run() {
  ToggleTaskControls(w.view);
  w.view.setEnabled(Ctl::time_end, false);
  BuildVariableTables(w);

  whois_watch.clear();
  for (const QString& domain : std::as_const(w.domain_list)) {
    WatchRow row;
    const int match = matchServerRow(w.settings.whois_servers, domain);
    if (match >= 0) {
      const ServerRow& s = w.settings.whois_servers[match];
      // A port that is no TCP port makes the row unusable.
      if (whois::portNumber(s.port) >= 0) {
        row = {1, s.server, s.port, s.deleted_mark, s.expiry_head, s.expiry_tail, -1};
      }
    }
    whois_watch.append(row);
  }

  w.setIntStart(1);
  while (w.int_start() == 1) {
    bool any_watched = false;
    for (int d = 0; d < whois_watch.size(); ++d) {
      if (whois_watch[d].state == 1) any_watched = true;
      const WatchRow& row = whois_watch[d];
      const bool due =
          row.state == 1 &&
          (row.last_registration_ms < 0 ||
           clock() - row.last_registration_ms > qint64(w.settings.whois_time2) * 1000);
      if (!due) continue;
      if (!(textrules::trimSpaces(row.server).isEmpty() && winsock_state())) {
        Close();
        Wait_close();
        do_connect(row.server, row.port);
      }
      if (winsock_state() && whois_connected) {
        w.view.setText(Ctl::Label1, kStatusQuerying);
        w.whois_domain_index = d;
        do_whois();
      } else {
        logResult(d, whois::kConnectTimeout);
      }
    }
    if (!any_watched) {
      w.setIntStart(0);
      break;
    }
    wait_whois();
  }

  Close();
  whois_connected = false;
  w.view.setText(Ctl::Label1, texts::kStatusDone);
  w.timer_start = 0;
  ToggleTaskControls(w.view);
  w.view.setEnabled(Ctl::time_end, false);
  announceRunEnd(w);
  w.prompter.showMessage(texts::kDoneMessage);
}

// Lasts until the (whois_time + 1)-th whole-second boundary of the clock after
// its start, measured on the monotonic clock from there on.
void WhoisMonitor::wait_whois() {
  w.last_send_start = platform::now();
  const qint64 pauseMs =
      (qint64(std::max<qint16>(w.settings.whois_time, 0)) + 1) * 1000 - QTime::currentTime().msec();
  w.Timer6.start();
  waitFor([this] { return w.int_start() != 1; }, pauseMs);
  w.Timer6.stop();
}

void whois_monitor(WatchContext& w) {
  if (!w.whois) w.whois = std::make_shared<WhoisMonitor>(w);
  w.whois->run();
}

void Timer6_Timer(WatchContext& w) {
  if (w.int_start() != 1) return;
  const qint64 left =
      w.settings.whois_time - platform::secondsFrom(w.last_send_start, platform::now());
  w.view.setText(Ctl::Label1, kStatusPause + QString::number(left) + QStringLiteral(" 秒"));
}
