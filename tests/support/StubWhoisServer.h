#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

class QObject;
class QThread;
class QTcpServer;

// A WHOIS server stand-in on 127.0.0.1, scripted per queried domain: it reads
// the query line, then sends the script's pieces (with pauses between them,
// so each arrives in a packet of its own), and closes, keeps the connection
// open, or sends without end until the client leaves.
//
// With Threading::OwnThread it runs in a thread of its own, so a benchmark
// can time its replies while the main thread is busy. Every public member is
// thread-safe; no moc is needed, so a benchmark may compile this file alone.
class StubWhoisServer {
 public:
  struct Script {
    QList<QByteArray> pieces;  // sent in order
    int delayMs = 0;           // before the first piece
    int gapMs = 30;            // between pieces
    bool closeAfter = true;    // close once the last piece is out
    bool endless = false;      // then send filler lines until the client leaves
  };
  struct Query {
    QByteArray raw;          // the query line as received, CR LF included
    QString domain;          // the line without CR LF, decoded from GB18030
    qint64 arrivalNs = 0;    // monotonicNs() when the line was complete
    qint64 replySentNs = 0;  // monotonicNs() right before the first piece went out
    int connection = 0;
  };
  enum class Threading { SameThread, OwnThread };

  explicit StubWhoisServer(Threading threading = Threading::SameThread);
  ~StubWhoisServer();
  StubWhoisServer(const StubWhoisServer&) = delete;
  StubWhoisServer& operator=(const StubWhoisServer&) = delete;

  bool listen(quint16 port = 0);
  quint16 port() const;

  // A one-piece reply that closes afterwards.
  static Script reply(const QByteArray& text);
  // Accepts, reads the query and never answers.
  static Script silent();

  void setScript(const QString& domain, const Script& script);
  void setDefaultScript(const Script& script);  // for domains without a script

  QList<Query> queries() const;
  int queryCount() const;
  int connectionCount() const;
  qint64 bytesSent() const;  // total, over all connections
  // Queries being served at once: from the query line's arrival until the
  // server closed or the client left. The most there ever were, and now.
  int maxBusy() const;
  int busy() const;

  static qint64 monotonicNs();

  // Used by the connections.
  Script scriptFor(const QString& domain) const;
  int record(const Query& q);
  void noteSent(int queryIndex, qint64 ns);
  void addSent(qint64 n);
  int nextConnection();
  void setBusy(int delta);

 private:
  QObject* anchor_ = nullptr;  // lives in the server's thread
  QThread* thread_ = nullptr;
  QTcpServer* server_ = nullptr;
  mutable QMutex mutex_;
  QHash<QString, Script> scripts_;
  Script default_;
  QList<Query> queries_;
  int connections_ = 0;
  qint64 sent_ = 0;
  int busy_ = 0;
  int maxBusy_ = 0;
  quint16 port_ = 0;
};
