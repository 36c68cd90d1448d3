#include "platform/HttpClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include "platform/EventWait.h"
#include "platform/HttpEngine.h"

namespace platform {

// ---------------------------------------------------------------------------
// Engine

namespace {
HttpEngine* g_engine = nullptr;

const char* kUserAgent = "Mozilla/5.0 (compatible; Zembrin/" QT_STRINGIFY(
    ZEMBRIN_VERSION_MAJOR) "." QT_STRINGIFY(ZEMBRIN_VERSION_MINOR) ")";
}  // namespace

void destroyHttpEngine() {
  delete g_engine;  // the destructor clears g_engine
}

bool HttpEngine::exists() { return g_engine != nullptr; }

HttpEngine& HttpEngine::instance() {
  if (!g_engine) {
    g_engine = new HttpEngine;
    // Torn down while the event dispatcher still exists.
    if (QCoreApplication::instance()) qAddPostRoutine(destroyHttpEngine);
  }
  Q_ASSERT(g_engine->thread() == QThread::currentThread());
  return *g_engine;
}

HttpEngine::HttpEngine() {
  static const bool globalInit = (curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK);
  Q_UNUSED(globalInit);
  multi_ = curl_multi_init();
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &HttpEngine::onSocket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &HttpEngine::onTimer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
  // A registration must never queue behind a busy connection.
  curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxConnectionsPerHost);
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 2 * kMaxConnectionsPerHost);

  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });

  // Loopback never goes through a proxy (the stub registrars of the tests and
  // local gateways); other proxy settings are libcurl's usual ones.
  no_proxy_ = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const QByteArray v = qgetenv(name);
    if (!v.isEmpty()) {
      no_proxy_ += ',' + v;
      break;
    }
  }
}

HttpEngine::~HttpEngine() {
  for (HttpTransfer* t : transfers_) {
    if (t->owner) {
      t->owner->transfer_ = nullptr;
      t->owner->finish(0, {}, false, QStringLiteral("HTTP engine shut down"));
    }
    curl_multi_remove_handle(multi_, t->easy);
    curl_easy_cleanup(t->easy);
    curl_slist_free_all(t->headers);
    delete t;
  }
  transfers_.clear();
  for (CURL* e : idle_easy_) curl_easy_cleanup(e);
  idle_easy_.clear();
  curl_multi_cleanup(multi_);
  multi_ = nullptr;
  g_engine = nullptr;
}

int HttpEngine::onSocket(CURL*, curl_socket_t s, int what, void* userp, void* socketp) {
  auto* self = static_cast<HttpEngine*>(userp);
  auto* watch = static_cast<SocketWatch*>(socketp);
  if (what == CURL_POLL_REMOVE) {
    if (watch) {
      // May be called from inside the notifier's own signal: defer deletion.
      for (QSocketNotifier* n : {watch->read, watch->write}) {
        if (!n) continue;
        n->setEnabled(false);
        n->deleteLater();
      }
      delete watch;
      curl_multi_assign(self->multi_, s, nullptr);
    }
    return 0;
  }
  if (!watch) {
    watch = new SocketWatch;
    curl_multi_assign(self->multi_, s, watch);
  }
  const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
  const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
  if (wantRead && !watch->read) {
    watch->read = new QSocketNotifier(s, QSocketNotifier::Read, self);
    connect(watch->read, &QSocketNotifier::activated, self,
            [self, s] { self->drive(s, CURL_CSELECT_IN); });
  }
  if (wantWrite && !watch->write) {
    watch->write = new QSocketNotifier(s, QSocketNotifier::Write, self);
    connect(watch->write, &QSocketNotifier::activated, self,
            [self, s] { self->drive(s, CURL_CSELECT_OUT); });
  }
  if (watch->read) watch->read->setEnabled(wantRead);
  if (watch->write) watch->write->setEnabled(wantWrite);
  return 0;
}

int HttpEngine::onTimer(CURLM*, long timeoutMs, void* userp) {
  auto* self = static_cast<HttpEngine*>(userp);
  if (timeoutMs < 0)
    self->timer_.stop();
  else
    self->timer_.start(static_cast<int>(std::min<long>(timeoutMs, INT_MAX)));
  return 0;
}

size_t HttpEngine::onWrite(char* data, size_t size, size_t count, void* userp) {
  auto* t = static_cast<HttpTransfer*>(userp);
  const qint64 bytes = static_cast<qint64>(size * count);
  const qint64 room = kMaxReplyBytes - t->reply.size();
  if (bytes > room) {
    // Keep what fits and end the transfer; it counts as complete.
    t->reply.append(data, static_cast<qsizetype>(std::max<qint64>(room, 0)));
    t->truncated = true;
    return 0;
  }
  t->reply.append(data, static_cast<qsizetype>(bytes));
  if (t->owner && t->owner->ready_state_ < 3) t->owner->ready_state_ = 3;
  return static_cast<size_t>(bytes);
}

void HttpEngine::drive(curl_socket_t s, int events) {
  int running = 0;
  curl_multi_socket_action(multi_, s, events, &running);
  collectFinished();
}

void HttpEngine::collectFinished() {
  struct Done {
    QPointer<HttpRequest> request;
    quint64 generation;
  };
  std::vector<Done> done;
  bool any = false;
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    CURL* easy = msg->easy_handle;
    const CURLcode rc = msg->data.result;
    HttpTransfer* t = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t);
    if (!t || !transfers_.count(t)) continue;
    any = true;
    if (HttpRequest* owner = t->owner) {
      long code = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
      owner->transfer_ = nullptr;
      // Only answers that ask us to wait carry a header anyone reads.
      curl_header* retry = nullptr;
      if ((code == 429 || code >= 500) &&
          curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &retry) == CURLHE_OK)
        owner->retry_after_ = QByteArray(retry->value);
      if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && t->truncated)) {
        owner->finish(static_cast<int>(code), std::move(t->reply), t->truncated, QString());
      } else {
        QString why = QString::fromUtf8(curl_easy_strerror(rc));
        if (t->error[0]) why += QStringLiteral(": ") + QString::fromUtf8(t->error);
        owner->finish(0, {}, false, why);
      }
      done.push_back({owner, owner->generation_});
    }
    release(t);
  }
  // Signals go out only after libcurl's queue has been read, so a handler
  // may open and send new requests.
  for (const Done& d : done)
    if (d.request && d.request->generation_ == d.generation && d.request->ready_state_ == 4)
      emit d.request->completed();
  if (any) emit transferDone();
}

CURL* HttpEngine::takeEasy() {
  if (!idle_easy_.empty()) {
    CURL* e = idle_easy_.back();
    idle_easy_.pop_back();
    return e;
  }
  return curl_easy_init();
}

void HttpEngine::release(HttpTransfer* t) {
  curl_multi_remove_handle(multi_, t->easy);
  curl_slist_free_all(t->headers);
  if (idle_easy_.size() < 256) {
    curl_easy_reset(t->easy);
    idle_easy_.push_back(t->easy);
  } else {
    curl_easy_cleanup(t->easy);
  }
  transfers_.erase(t);
  delete t;
}

void HttpEngine::configure(HttpTransfer* t, const QByteArray& method) {
  CURL* e = t->easy;
  curl_easy_setopt(e, CURLOPT_URL, t->url.constData());
  curl_easy_setopt(e, CURLOPT_PRIVATE, t);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpEngine::onWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->error);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(lifetime_ms_));
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(e, CURLOPT_NOPROXY, no_proxy_.constData());
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);
  if (!extra_ca_.isEmpty()) {
    curl_blob blob{const_cast<char*>(extra_ca_.constData()),
                   static_cast<size_t>(extra_ca_.size()), CURL_BLOB_COPY};
    curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
  }
  if (method == "GET" && t->body.isEmpty()) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    return;
  }
  if (method == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    return;
  }
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t->body.size()));
  curl_easy_setopt(e, CURLOPT_POSTFIELDS, t->body.constData());
  if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.constData());
}

void HttpEngine::start(HttpRequest* owner, const QByteArray& method, const QByteArray& url,
                       const QList<QByteArray>& headers, const QByteArray& body) {
  auto* t = new HttpTransfer;
  t->easy = takeEasy();
  t->owner = owner;
  t->url = url;
  t->body = body;
  for (const QByteArray& h : headers) t->headers = curl_slist_append(t->headers, h.constData());
  // No "Expect: 100-continue" round trip before a body.
  t->headers = curl_slist_append(t->headers, "Expect:");
  if (!t->easy) {
    curl_slist_free_all(t->headers);
    delete t;
    owner->finish(0, {}, false, QStringLiteral("could not create a transfer"));
    emit owner->completed();
    return;
  }
  configure(t, method);
  transfers_.insert(t);
  owner->transfer_ = t;
  if (curl_multi_add_handle(multi_, t->easy) != CURLM_OK) {
    owner->transfer_ = nullptr;
    release(t);
    owner->finish(0, {}, false, QStringLiteral("could not start the transfer"));
    emit owner->completed();
    return;
  }
  // Start at once rather than on the next timer tick. This may already
  // complete the transfer (a malformed URL, for one).
  drive(CURL_SOCKET_TIMEOUT, 0);
}

void HttpEngine::abort(HttpTransfer* t) {
  if (!transfers_.count(t)) return;
  if (t->owner) t->owner->transfer_ = nullptr;
  release(t);
  emit transferDone();
}

void HttpEngine::detach(HttpTransfer* t) {
  if (transfers_.count(t)) t->owner = nullptr;
}

// ---------------------------------------------------------------------------
// Request object

HttpRequest::HttpRequest(QObject* parent) : QObject(parent) {}

HttpRequest::~HttpRequest() {
  if (transfer_ && HttpEngine::exists()) HttpEngine::instance().detach(transfer_);
}

void HttpRequest::open(const QString& method, const QString& url, bool async) {
  if (transfer_) HttpEngine::instance().abort(transfer_);
  transfer_ = nullptr;
  ++generation_;
  method_ = method.toUpper().toLatin1();
  url_ = normalizeUrl(url);
  async_ = async;
  headers_.clear();
  ready_state_ = 1;
  status_ = 0;
  body_.clear();
  truncated_ = false;
  error_.clear();
  retry_after_.clear();
}

void HttpRequest::setRequestHeader(const QString& name, const QString& value) {
  if (ready_state_ != 1) return;
  QByteArray line = name.toUtf8();
  line.replace('\r', "").replace('\n', "");
  QByteArray v = value.toUtf8();
  v.replace('\r', "").replace('\n', "");
  // libcurl reads "Name:" as "remove the header"; "Name;" sends it empty.
  headers_ << (v.isEmpty() ? line + ';' : line + ": " + v);
}

void HttpRequest::send(const QByteArray& body) {
  if (ready_state_ != 1) return;
  ready_state_ = 2;
  HttpEngine::instance().start(this, method_, url_, headers_, body);
}

void HttpRequest::finish(int status, QByteArray body, bool truncated, QString error) {
  ready_state_ = 4;
  status_ = status;
  body_ = std::move(body);
  truncated_ = truncated;
  error_ = std::move(error);
}

// ---------------------------------------------------------------------------

void prepareHttp() { HttpEngine::instance(); }

int httpTransfersInFlight() { return HttpEngine::exists() ? HttpEngine::instance().inFlight() : 0; }

bool waitForHttpTransfers(int timeoutMs) {
  if (!HttpEngine::exists()) return true;
  HttpEngine& engine = HttpEngine::instance();
  EventWait wait;
  wait.wakeOn(&engine, &HttpEngine::transferDone);
  return wait.run([&engine] { return engine.inFlight() == 0; }, timeoutMs);
}

void setRequestLifetimeForTests(int ms) { HttpEngine::instance().setLifetimeMs(ms); }

void addTrustedCaFileForTests(const QString& pemPath) {
  QByteArray bundle;
  if (!pemPath.isEmpty()) {
    const char* systemCa = nullptr;
    if (CURL* probe = curl_easy_init()) {
      curl_easy_getinfo(probe, CURLINFO_CAINFO, &systemCa);
      QFile system(QString::fromLocal8Bit(systemCa ? systemCa : "/etc/ssl/certs/ca-certificates.crt"));
      if (system.open(QIODevice::ReadOnly)) bundle = system.readAll() + '\n';
      curl_easy_cleanup(probe);
    }
    QFile extra(pemPath);
    if (extra.open(QIODevice::ReadOnly)) bundle += extra.readAll();
  }
  HttpEngine::instance().setExtraCa(bundle);
}

QByteArray normalizeUrl(const QString& url) {
  static const char kHex[] = "0123456789ABCDEF";
  const QByteArray utf8 = url.toUtf8();
  // The host stays as typed (libcurl turns an international name into its
  // ASCII form); only what follows it is escaped.
  qsizetype from = 0;
  if (const qsizetype scheme = utf8.indexOf("://"); scheme >= 0) {
    from = scheme + 3;
    while (from < utf8.size() && !std::strchr("/?#", utf8[from])) ++from;
  }
  QByteArray out = utf8.left(from);
  out.reserve(utf8.size());
  for (qsizetype i = from; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || std::strchr("<>\"\\^`{|}", c)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace platform
