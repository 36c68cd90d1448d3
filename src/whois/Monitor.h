#pragma once
#include "whois/WatchContext.h"
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <functional>

#include "whois/Verdict.h"


// Watches every domain of domain_list over WHOIS and fires the registration
// the moment a server reports it deleted; returns when watching has ended.
void whois_monitor(WatchContext& w);
void Timer6_Timer(WatchContext& w);

namespace whois {
// The verdict texts of the result log, each after " 域名 " and the domain.
inline const QString kDeleted = QStringLiteral(" 已删除，开始抢注！");
inline const QString kRegistered = QStringLiteral(" 已被注册，放弃注册此域名！");
inline const QString kNotDeleted = QStringLiteral(" 还未删除，继续查询！");
inline const QString kUnclear = QStringLiteral(" 状态不明，继续查询！");
inline const QString kConnectTimeout = QStringLiteral(" whois服务器连接超时，继续查询！");

// Most of one reply that is kept; a server that sends more is cut off there.
inline constexpr qsizetype kMaxReplyBytes = qsizetype(1) << 20;

// The system's general date and time (short date, time with seconds), as the
// WHOIS log lines show it.
QString logTime(const QDateTime& t);

// A server row's port field as a TCP port, or -1 when it is not a whole
// number from 0 to 65535.
int portNumber(const QString& field);
}  // namespace whois

// One row of the watch table, for the domain of domain_list at the same index.
struct WatchRow {
  int state = 0;  // 1 while the domain is watched
  QString server, port, deleted_mark, expiry_head, expiry_tail;
  // Monotonic time (ms, WhoisMonitor::clock) at which the registration
  // triggered for this domain returned; -1 while none was sent.
  qint64 last_registration_ms = -1;
};

// The WHOIS side of one task window: the query client on its single socket
// and the monitor that turns replies into verdicts. The task window holds one
// (WatchContext::whois); whois_monitor() creates it on first use.
class WhoisMonitor : public QObject {
  Q_OBJECT
 public:
  explicit WhoisMonitor(WatchContext& w);
  ~WhoisMonitor() override;

  QList<WatchRow> whois_watch;
  bool whois_connected = false;
  bool reply_done = false;
  bool reply_arrived = false;
  // Everything received so far for the query in progress, decoded.
  QString whois_data;

  // --- query client --------------------------------------------------------
  bool winsock_state() const;  // connected
  void Close();
  void Wait_close();
  // Connects to host:port within whois_timeout seconds; no attempt at all
  // when the time-out is 0, the run flag is clear or the port is not usable.
  void do_connect(const QString& host, const QString& port);
  // Sends the query for domain_list[whois_domain_index] and waits for its
  // verdict within whois_timeout seconds.
  void do_whois();

  // --- monitor ---------------------------------------------------------------
  void run();         // whois_monitor
  void wait_whois();  // the pause between cycles

  // Monotonic milliseconds used for the re-query delay.
  qint64 clock() const { return clock_.elapsed(); }

 signals:
  // Something a wait may be waiting for has changed.
  void progressed();

 private:
  void onConnected();
  void onReadyRead();
  void onDisconnected();
  void onError();
  void takeBytes();
  void judge(bool complete);
  void registerDeleted(int i);
  void logResult(int i, const QString& verdict);
  bool waitFor(const std::function<bool()>& done, qint64 timeoutMs);

  WatchContext& w;
  QTcpSocket Winsock1;
  QByteArray reply_;        // bytes of the query in progress, at most kMaxReplyBytes
  bool queryOpen_ = false;  // a query was sent on the current connection
  bool replyCut_ = false;   // the reply passed kMaxReplyBytes
  bool closing_ = false;    // we are closing the socket ourselves
  bool connectFailed_ = false;
  QElapsedTimer clock_;
};
