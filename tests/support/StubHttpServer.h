#pragma once
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <functional>

class QEventLoop;
class QThread;
class StubHttpCore;

// A registrar stand-in on 127.0.0.1 for tests and benchmarks. It records
// every request it receives and answers as configured: a status and body
// after an optional delay, or never, or a reply cut off by a connection
// reset, or an endless body. HTTP/1.1 with keep-alive; optionally TLS with
// the test certificate (tests/fixtures/tls/server.pem, for 127.0.0.1 and
// localhost, signed by tests/fixtures/tls/ca.pem).
//
// With Threading::OwnThread the server runs in a thread of its own, so the
// test may block (QProcess::waitForFinished) or a benchmark may load the main
// thread without slowing the server. Every public member is thread-safe.
// (No moc is needed, so benchmarks can compile this file on their own.)
class StubHttpServer {
 public:
  enum class Behaviour {
    Answer,         // status + body after delayMs
    NeverAnswer,    // read the request, keep the connection open, say nothing
    ResetMidReply,  // headers and part of the body, then a TCP reset
    EndlessBody,    // 200 and a body that never ends (until the client leaves)
  };
  struct Reply {
    int status = 200;
    QByteArray body = "OK";
    QByteArray contentType = "text/html";
    int delayMs = 0;
    Behaviour behaviour = Behaviour::Answer;
    QList<QPair<QByteArray, QByteArray>> headers;  // extra reply headers
  };
  struct Request {
    QByteArray method;
    QByteArray target;  // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 arrivalNs = 0;  // monotonicNs() when the request was complete
    int connection = 0;    // which connection it came on (1, 2, ...)
    // First header of that name (case-insensitive); null when absent.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
  };
  enum class Threading { SameThread, OwnThread };

  explicit StubHttpServer(Threading threading = Threading::SameThread);
  ~StubHttpServer();
  StubHttpServer(const StubHttpServer&) = delete;
  StubHttpServer& operator=(const StubHttpServer&) = delete;

  // Listens on 127.0.0.1 (any free port unless port is given). With tls the
  // certificate is tests/fixtures/tls/<certName>.pem with its .key.
  bool listen(bool tls = false, quint16 port = 0,
              const QString& certName = QStringLiteral("server"));
  void close();
  quint16 port() const;
  bool isTls() const;
  // "http://127.0.0.1:PORT" + pathAndQuery (https when TLS).
  QString url(const QString& pathAndQuery = QStringLiteral("/")) const;

  void setReply(const Reply& reply);
  // Decides the reply per request (runs in the server's thread).
  void setResponder(std::function<Reply(const Request&)> responder);
  // Off: only arrival times and the count are kept (for floods).
  void setRecordDetails(bool on);
  // Closes a keep-alive connection that has carried no request for ms (0:
  // never), as servers drop idle connections.
  void setIdleCloseMs(int ms);
  int idleCloseMs() const;

  QList<Request> requests() const;
  QList<qint64> arrivalTimesNs() const;
  int requestCount() const;
  int connectionCount() const;  // connections accepted so far
  // monotonicNs() when connection n (1, 2, ...) was accepted.
  qint64 connectionOpenedNs(int n) const;
  void clearRecords();

  // Blocks in the event loop until at least n requests have arrived.
  bool waitForRequests(int n, int timeoutMs);

  // The monotonic clock the arrival times use (CLOCK_MONOTONIC, the same as
  // QElapsedTimer and std::chrono::steady_clock).
  static qint64 monotonicNs();
  // Absolute path of a file in tests/fixtures/tls.
  static QString tlsFixture(const QString& name);

  // Used by the server's connections.
  Reply replyFor(const Request& r);
  void record(Request&& r);
  int nextConnectionId();

 private:
  struct Waiter {
    QEventLoop* loop;
    int count;
  };
  StubHttpCore* core_ = nullptr;
  QThread* thread_ = nullptr;
  mutable QMutex mutex_;
  Reply reply_;
  std::function<Reply(const Request&)> responder_;
  bool record_details_ = true;
  QList<Request> requests_;
  QList<qint64> times_;
  int count_ = 0;
  int connections_ = 0;
  QList<qint64> connection_opened_ns_;
  int idle_close_ms_ = 0;
  quint16 port_ = 0;
  bool tls_ = false;
  QList<Waiter> waiters_;
};
