#pragma once
#include <QDate>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "whois/ServerTable.h"
#include "whois/Verdict.h"
#include "whois/WatchContext.h"

class WhoisQuery;

// Watches every domain of domain_list over WHOIS (or RDAP) and fires the
// registration the moment a server reports it deleted; returns when watching
// has ended.
void whois_monitor(WatchContext& w);
void Timer6_Timer(WatchContext& w);

namespace whois {
// The verdict texts of the result log, each after " 域名 " and the domain.
inline const QString kDeleted = QStringLiteral(" 已删除，开始抢注！");
inline const QString kRegistered = QStringLiteral(" 已被注册，放弃注册此域名！");
inline const QString kNotDeleted = QStringLiteral(" 还未删除，继续查询！");
inline const QString kUnclear = QStringLiteral(" 状态不明，继续查询！");
inline const QString kConnectTimeout = QStringLiteral(" whois服务器连接超时，继续查询！");
inline const QString kLimited = QStringLiteral(" 查询受限，稍后继续查询！");

// A server that limits us is left alone for this long, doubled at each
// further limited reply up to kMaxBackOffMs; a good reply ends it.
inline constexpr qint64 kFirstBackOffMs = 2000;
inline constexpr qint64 kMaxBackOffMs = 5 * 60 * 1000;

// The system's general date and time (short date, time with seconds), as the
// WHOIS log lines show it.
QString logTime(const QDateTime& t);

// Where a watched domain stands, as the watch table shows it.
enum class WatchState {
  NoServer,     // no usable server row: never queried
  Watching,     // not answered yet
  Registering,  // reported deleted, registration sent
  GivenUp,      // registered far ahead: given up
  NotDeleted,
  Unclear,
  Limited,
  NoConnection,
};
}  // namespace whois

// One row of the watch table, for the domain of domain_list at the same index.
struct WatchRow {
  int state = 0;  // 1 while the domain is watched
  QString server, port, deleted_mark, expiry_head, expiry_tail, limited_mark;
  // Monotonic time (ms, WhoisMonitor::clock) at which the registration
  // triggered for this domain returned; -1 while none was sent.
  qint64 last_registration_ms = -1;

  // How it is queried.
  int serverRow = -1;  // in settings.whois_servers
  int lane = -1;
  bool rdap = false;
  QString serverKey;  // whois::serverKey of its row
  bool registering = false;

  // What the watch table shows.
  whois::WatchState shown = whois::WatchState::NoServer;
  qint64 lastQueryAtMs = -1;  // wall clock, ms since the epoch
  QDate expiry;
  int queries = 0;
  double lastReplyMs = -1;  // from the query to its answer
  bool changed = false;     // since the table last looked
};

// The WHOIS side of one task window: an event-driven watcher. Domains of
// rows without a rate are queried one at a time, in list order across those
// rows, exactly as the one-at-a-time watch always did; each row with a rate
// has a lane of its own that keeps up to `parallel` queries in flight and
// starts at most `rate` a second. Every query is a WhoisQuery of a pool;
// nothing here waits in a nested loop except run(), which returns when the
// watch has ended. The task window holds one (WatchContext::whois).
class WhoisMonitor : public QObject {
  Q_OBJECT
 public:
  explicit WhoisMonitor(WatchContext& context);
  ~WhoisMonitor() override;

  QList<WatchRow> whois_watch;
  // The reply of the latest query that ended, decoded.
  QString whois_data;

  void run();  // whois_monitor
  // Builds whois_watch and the lanes from domain_list and the server table.
  void buildWatch();

  // Monotonic milliseconds used for the re-query delay and back-off.
  qint64 clock() const { return clock_.elapsed(); }
  const QStringList& domains() const { return w.domain_list; }
  // Rows changed since the last call (the watch table refreshes from these).
  QList<int> takeChangedRows();

 signals:
  void watchBuilt();  // whois_watch was rebuilt for a new run
  void watchEnded();  // the run is over
  // Something run() may be waiting for has changed.
  void progressed();

 private:
  struct Lane;
  struct BackOff {
    qint64 sinceNs = 0;  // monotonic: the latest limited reply that counted
    qint64 untilNs = 0;
    qint64 stepMs = 0;
  };
  enum class Verdict { Registered, NotDeleted, Unclear, Limited, ConnectTimeout };

  // Lanes.
  void startCycle(Lane& lane);
  void endCycle(Lane& lane);
  void step(Lane& lane);  // from the event loop: the next query or queries
  void stepOneAtATime(Lane& lane);
  void pump(Lane& lane);
  WhoisQuery* startQuery(Lane& lane, int d);
  qint64 nextStartNs(const Lane& lane) const;
  bool due(int d) const;
  void stop();
  bool ended() const;
  void showParallelStatus();
  void wait_whois(Lane& lane);
  void endPause(Lane& lane);

  // Queries and their verdicts.
  WhoisQuery* takeQuery();
  void releaseQuery(WhoisQuery* q);
  void finishQuery(WhoisQuery* q);
  void onConnected(WhoisQuery* q);
  void onConnectFailed(WhoisQuery* q);
  void onReplyData(WhoisQuery* q, bool complete);
  void onReplyTimedOut(WhoisQuery* q);
  void onRdapAnswered(WhoisQuery* q);
  void conclude(WhoisQuery* q, Verdict v, const QDate& expiry = QDate(), qint64 retryAfterMs = -1);
  void registerDeleted(WhoisQuery* q);
  void applyExpiry(int i, const whois::Reading& r);
  void noteQuerySent(WhoisQuery* q);
  void noteAnswer(WhoisQuery* q);
  void backOff(const QString& key, qint64 querySentNs, qint64 retryAfterMs);
  void goodReply(const QString& key, qint64 querySentNs);
  qint64 backOffUntilNs(const QString& key) const;
  void logResult(int i, const QString& verdict);
  void show(int i, whois::WatchState s);

  WatchContext& w;
  QElapsedTimer clock_;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::vector<std::unique_ptr<WhoisQuery>> queries_;
  std::vector<WhoisQuery*> idle_;
  QHash<QString, BackOff> backOff_;
  QList<int> changedRows_;
  bool running_ = false;
  bool stopped_ = false;
  // Rated lanes only: what the status line shows of them (Timer6 counts
  // their pause down).
  enum class Shown { Nothing, Querying, Pause } shown_ = Shown::Nothing;
  int sendDepth_ = 0;  // triggered sends running, nested in each other
};

// The task window's monitor, created on first use.
WhoisMonitor& whoisMonitor(WatchContext& w);
