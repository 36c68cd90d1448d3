#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class RunFlag;

namespace platform {

struct HttpTransfer;

// Bounds that hold for every request, observed or not.
inline constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
// Longer than the longest reply time-out a task can choose (120 s), so a
// waiting sender always sees its own time-out first.
inline constexpr int kMaxRequestLifetimeMs = 130000;
// Transfers to one origin (scheme, host, port) at once, HTTP/2 streams
// included. Senders wait for a free one rather than let libcurl queue a
// request out of sight.
inline constexpr int kMaxConnectionsPerHost = 128;
// Redirects followed within the request's own origin.
inline constexpr int kMaxRedirects = 5;

// One HTTP request object on libcurl, driven by the Qt event loop of the
// calling thread; nothing here ever blocks. The operations mirror the request
// object the senders were designed around:
//   open -> setRequestHeader* -> send -> readyState() == 4 -> status(), body.
// Failures never raise: an operation that cannot apply is skipped, and a
// request that got no HTTP answer (bad URL, refused, unresolvable, TLS error,
// reset, lifetime exceeded) completes with status() 0.
//
// A reply body beyond kMaxReplyBytes ends the transfer; the request then
// completes normally with the first kMaxReplyBytes bytes and truncated() set.
class HttpRequest : public QObject {
  Q_OBJECT
 public:
  explicit HttpRequest(QObject* parent = nullptr);
  // A request already sent is not cancelled: it completes unobserved (within
  // kMaxRequestLifetimeMs).
  ~HttpRequest() override;

  // Starts a new request on this object. A previous request still in flight
  // is abandoned (its transfer is stopped); only the new one is observed.
  void open(const QString& method, const QString& url, bool async);
  void setRequestHeader(const QString& name, const QString& value);
  // Puts the request on the wire at once. A body on GET is sent as well.
  void send(const QByteArray& body);
  // A registration request: it counts in requestCounters() and is given up by
  // dropRequestsNotOnWire(). Set before send().
  void setCounted(bool on) { counted_ = on; }

  // 0 new, 1 opened, 2 sent, 3 receiving, 4 complete.
  int readyState() const { return ready_state_; }
  int status() const { return status_; }  // 0: no HTTP answer
  QByteArray responseBody() const { return body_; }
  bool isAsync() const { return async_; }
  bool truncated() const { return truncated_; }
  QString errorString() const { return error_; }  // why status() is 0
  // The Retry-After header of a 429 or 5xx answer; empty otherwise.
  QByteArray retryAfter() const { return retry_after_; }
  int httpVersion() const { return http_version_; }  // 1 or 2 once answered; 0 otherwise
  // A redirect to another origin that was not followed (its Location).
  QByteArray refusedRedirect() const { return refused_redirect_; }

 signals:
  // readyState() reached 4.
  void completed();

 private:
  friend class HttpEngine;
  struct Outcome {
    int status = 0;
    QByteArray body;
    bool truncated = false;
    QString error;
    int httpVersion = 0;
    QByteArray refusedRedirect;
    QByteArray retryAfter;
    static Outcome failure(QString why) {
      Outcome o;
      o.error = std::move(why);
      return o;
    }
  };
  void finish(Outcome outcome);

  QByteArray method_;
  QByteArray url_;
  QList<QByteArray> headers_;
  bool async_ = true;
  int ready_state_ = 0;
  int status_ = 0;
  QByteArray body_;
  bool truncated_ = false;
  QString error_;
  QByteArray retry_after_;
  int http_version_ = 0;
  QByteArray refused_redirect_;
  bool counted_ = false;
  HttpTransfer* transfer_ = nullptr;
  quint64 generation_ = 0;
};

// Sets libcurl up ahead of the first request (its one-time initialisation
// takes milliseconds), so a run's first request does not pay for it.
void prepareHttp();

// Transfers in flight on this thread, observed or not.
int httpTransfersInFlight();
// Blocks in the event loop until no transfer is in flight or timeoutMs has
// passed; true when none is left.
bool waitForHttpTransfers(int timeoutMs);

// "scheme://host:port" of a URL, lower case, as connections are shared.
QByteArray originOf(const QByteArray& url);
// A request to this origin may start now without waiting for a connection.
bool hasFreeConnection(const QByteArray& origin);
// The HTTP engine of this thread, as far as others watch it.
class HttpEngineSignals : public QObject {
  Q_OBJECT
 signals:
  // A transfer ended: a connection may be free, a count has changed.
  void transferDone();
  // A server closed a connection idling in the cache (origin as originOf).
  void idleConnectionLost(const QByteArray& origin);
};
HttpEngineSignals* httpEngine();

// A sender whose registrar has every connection busy waits for one to free
// up, as for a slow network: nothing queues out of sight. Blocks in the event
// loop at most timeoutMs (< 0: no limit); false unless a connection is free
// and the run flag still 1.
bool waitForFreeConnection(const QByteArray& origin, const RunFlag& run, qint64 timeoutMs = -1);

// Registration requests (setCounted) since the last reset.
struct RequestCounters {
  qint64 sent = 0;        // left for the server
  qint64 replies = 0;     // answered with an HTTP status
  qint64 httpErrors = 0;  // answered with 400 or more
  qint64 failures = 0;    // no HTTP answer
  int lastStatus = -1;    // status of the last one answered (0: none); -1 none finished
};
void resetRequestCounters();
// Those still in flight count as sent if they left, and as failures: this is
// the count at the end of a run, once the wait for them is over.
RequestCounters requestCounters();
int countedRequestsInFlight();
// Gives up every registration request that has not left yet (a connection
// still being opened): nothing leaves after a stop. Returns how many.
int dropRequestsNotOnWire();

// A connection to origin idling in the cache was closed by its server (the
// warm-up opens it again).
bool idleConnectionClosed(const QByteArray& origin);

// Tests only: a shorter lifetime than kMaxRequestLifetimeMs (0 restores it).
void setRequestLifetimeForTests(int ms);

// Tests only: trust this PEM file in addition to the system store (an empty
// path goes back to the system store alone).
void addTrustedCaFileForTests(const QString& pemPath);

// Escapes what cannot stand in a URL as typed (blanks, controls, non-ASCII as
// UTF-8, and "<>\"\\^`{|}") after the host, leaving existing %-escapes, the
// host and the rest as they are.
QByteArray normalizeUrl(const QString& url);

}  // namespace platform
