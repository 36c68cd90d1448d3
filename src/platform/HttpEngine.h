#pragma once
// Internal to HttpClient.cpp: the libcurl multi handle of the thread, driven
// by QSocketNotifier (CURLMOPT_SOCKETFUNCTION) and a precise single-shot
// QTimer (CURLMOPT_TIMERFUNCTION).
#include <curl/curl.h>

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/HttpClient.h"

class QSocketNotifier;

namespace platform {

void destroyHttpEngine();

struct HttpTransfer {
  CURL* easy = nullptr;
  std::shared_ptr<curl_slist> headers;
  QByteArray method;
  QByteArray url;
  QByteArray origin;
  QByteArray body;  // must outlive the transfer (CURLOPT_POSTFIELDS)
  QByteArray reply;
  HttpRequest* owner = nullptr;  // null once nobody observes it
  bool truncated = false;
  bool counted = false;  // a registration request of the current count
  quint64 countGeneration = 0;
  bool onWire = false;  // the request has been handed to its connection
  int redirects = 0;
  char error[CURL_ERROR_SIZE] = {};
};

class HttpEngine : public HttpEngineSignals {
  Q_OBJECT
 public:
  static HttpEngine& instance();
  static bool exists();

  // Creates and starts a transfer for owner (owner->transfer_ is set before
  // it starts); a transfer that cannot start completes owner at once.
  void start(HttpRequest* owner, const QByteArray& method, const QByteArray& url,
             const QList<QByteArray>& headers, const QByteArray& body);
  // Stops a transfer at once (the request was reopened).
  void abort(HttpTransfer* t);
  // Nobody observes t any more; it completes on its own.
  void detach(HttpTransfer* t);

  int inFlight() const { return static_cast<int>(transfers_.size()); }
  int inFlightTo(const QByteArray& origin) const { return per_origin_.value(origin); }
  int countedInFlight() const;
  RequestCounters counters() const;
  // Requests of an earlier run still out no longer count.
  void resetCounters() {
    counters_ = {};
    ++count_generation_;
  }
  int dropNotOnWire();
  bool idleConnectionClosed(const QByteArray& origin);
  // Idle handles kept the trust they were set up with: they are dropped.
  // Tests call it while nothing is in flight.
  void setExtraCa(const QByteArray& pemBundle);
  void setLifetimeMs(int ms) { lifetime_ms_ = ms > 0 ? ms : kMaxRequestLifetimeMs; }

 private:
  friend void destroyHttpEngine();
  HttpEngine();
  ~HttpEngine() override;

  struct SocketWatch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    bool inUse = false;  // by a transfer; else idle in libcurl's cache
  };

  static int onSocket(CURL* easy, curl_socket_t s, int what, void* userp, void* socketp);
  static int onTimer(CURLM* multi, long timeoutMs, void* userp);
  static size_t onWrite(char* data, size_t size, size_t count, void* userp);
  static int onPrereq(void* userp, char*, char*, int, int);
  static curl_socket_t onOpenSocket(void* userp, curlsocktype, curl_sockaddr* address);
  static int onCloseSocket(void* userp, curl_socket_t s);
  void forgetSocket(curl_socket_t s);
  void onReadable(curl_socket_t s);
  bool socketInUse(curl_socket_t s) const {
    const auto it = socket_watches_.find(s);
    return it != socket_watches_.end() && it->second.inUse;
  }

  // curl_multi_socket_action, then hands out what finished.
  void drive(curl_socket_t s, int events);
  void collectFinished();
  // A redirect within the transfer's origin starts again at its target.
  bool followRedirect(HttpTransfer* t, long code);
  void count(const HttpTransfer* t, int status);
  void release(HttpTransfer* t);
  CURL* takeEasy();
  void configure(HttpTransfer* t, const QByteArray& method);
  std::shared_ptr<curl_slist> headerList(const QList<QByteArray>& headers);

  CURLM* multi_ = nullptr;
  QTimer timer_;
  std::unordered_set<HttpTransfer*> transfers_;
  QHash<QByteArray, int> per_origin_;
  RequestCounters counters_;
  quint64 count_generation_ = 0;
  std::unordered_map<curl_socket_t, QByteArray> open_sockets_;  // with their origin
  std::unordered_map<curl_socket_t, SocketWatch> socket_watches_;
  std::vector<CURL*> idle_easy_;
  QList<QByteArray> last_header_lines_;
  std::shared_ptr<curl_slist> last_headers_;
  QByteArray extra_ca_;
  QByteArray ca_file_, ca_dir_;  // from the environment
  QByteArray no_proxy_;
  int lifetime_ms_ = kMaxRequestLifetimeMs;
};

}  // namespace platform
