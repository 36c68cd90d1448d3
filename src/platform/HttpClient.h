#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

namespace platform {

struct HttpTransfer;

// Bounds that hold for every request, observed or not.
inline constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
// Longer than the longest reply time-out a task can choose (120 s), so a
// waiting sender always sees its own time-out first.
inline constexpr int kMaxRequestLifetimeMs = 130000;
inline constexpr long kMaxConnectionsPerHost = 64;

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

  // 0 new, 1 opened, 2 sent, 3 receiving, 4 complete.
  int readyState() const { return ready_state_; }
  int status() const { return status_; }  // 0: no HTTP answer
  QByteArray responseBody() const { return body_; }
  bool isAsync() const { return async_; }
  bool truncated() const { return truncated_; }
  QString errorString() const { return error_; }  // why status() is 0
  // The Retry-After header of a 429 or 5xx answer; empty otherwise.
  QByteArray retryAfter() const { return retry_after_; }

 signals:
  // readyState() reached 4.
  void completed();

 private:
  friend class HttpEngine;
  void finish(int status, QByteArray body, bool truncated, QString error);

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
