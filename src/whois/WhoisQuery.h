#pragma once
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

#include "whois/Verdict.h"

namespace platform {
class HttpRequest;
}

// One WHOIS query over TCP (connect, send the domain with CR LF, receive) or
// one RDAP lookup over HTTP, with its time limit and what has come back. The
// monitor keeps a pool of these and reuses them from query to query; it
// decides what each event means.
class WhoisQuery : public QObject {
  Q_OBJECT
 public:
  WhoisQuery();
  ~WhoisQuery() override;

  // What the monitor keeps per query.
  int domain = -1;  // index in whois_watch
  int lane = -1;
  bool waitedOn = false;  // the one-at-a-time watch waits for this query
  bool held = false;      // its reply is being handled further down the stack
  bool inPool = true;
  bool reply_done = false;
  bool reply_arrived = false;
  whois::ReplyReader reader;
  int rateSlot = -1;      // its entry in its lane's ring of starts
  qint64 rateMarkNs = 0;  // what it put there when it started
  qint64 sentNs = 0;      // monotonic, when the query went out
  qint64 readNs = 0;      // monotonic, when its latest data was read
  qint64 readWallUs = 0;  // the same moment on the wall clock

  enum class Phase { Idle, Connecting, Querying, Rdap };
  Phase phase() const { return phase_; }

  // Starts a connection; connected() or connectFailed() follows (also when
  // limitMs passes first).
  void do_connect(const QString& host, quint16 port, qint64 limitMs);
  // Sends the domain followed by CR LF; replyData() follows for each piece,
  // replyTimedOut() when nothing decided it within limitMs.
  void do_whois(const QString& domainName, const whois::Markers& markers, qint64 limitMs);
  // GET url with Accept: application/rdap+json; rdapAnswered() follows, or
  // replyTimedOut().
  void startRdap(const QString& url, qint64 limitMs);
  // Ends the connection (or abandons the lookup) and its time limit.
  void Close();
  // Only the time limit: the verdict is in, the connection closes later.
  void stopTimeLimit() { limit_.stop(); }

  // The RDAP answer, once rdapAnswered() came.
  const platform::HttpRequest& rdapAnswer() const { return *http_; }

 signals:
  void connected();
  void connectFailed();
  // New data is in the reader; complete: the server closed or the reply
  // reached its cap, so nothing more will come.
  void replyData(bool complete);
  void replyTimedOut();
  void rdapAnswered();

 private:
  void takeBytes(bool closed);
  void onTimeLimit();

  QTcpSocket winsock;
  std::unique_ptr<platform::HttpRequest> http_;
  QTimer limit_;
  Phase phase_ = Phase::Idle;
  qsizetype replyBytes_ = 0;
  bool closing_ = false;
};
