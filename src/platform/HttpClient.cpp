#include "platform/HttpClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>

#include "platform/EventWait.h"
#include "platform/HttpEngine.h"
#include "platform/Log.h"
#include "platform/RunFlag.h"

namespace platform {

// ---------------------------------------------------------------------------
// Engine

namespace {
// A libcurl option that does not take (an old library, a build without
// HTTP/2) leaves the transfer on libcurl's default; the reason goes to the log.
template <typename T>
void setOption(CURL* e, CURLoption option, T value) {
  if (const CURLcode rc = curl_easy_setopt(e, option, value); rc != CURLE_OK)
    qCInfo(lcHttp) << "curl_easy_setopt" << int(option) << "failed:" << curl_easy_strerror(rc);
}

template <typename T>
void setMultiOption(CURLM* m, CURLMoption option, T value) {
  if (const CURLMcode rc = curl_multi_setopt(m, option, value); rc != CURLM_OK)
    qCInfo(lcHttp) << "curl_multi_setopt" << int(option) << "failed:" << curl_multi_strerror(rc);
}

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
  if (!globalInit) qCInfo(lcHttp) << "curl_global_init failed";
  multi_ = curl_multi_init();
  setMultiOption(multi_, CURLMOPT_SOCKETFUNCTION, &HttpEngine::onSocket);
  setMultiOption(multi_, CURLMOPT_SOCKETDATA, this);
  setMultiOption(multi_, CURLMOPT_TIMERFUNCTION, &HttpEngine::onTimer);
  setMultiOption(multi_, CURLMOPT_TIMERDATA, this);
  // A registration must never queue behind a busy connection: the senders
  // keep below this limit, so libcurl's own queue stays empty.
  setMultiOption(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(kMaxConnectionsPerHost));
  setMultiOption(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(2 * kMaxConnectionsPerHost));
  setMultiOption(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);

  // Where an OpenSSL program would look for its trust store; a registrar
  // behind a private CA then works without touching the system store.
  ca_file_ = qgetenv("SSL_CERT_FILE");
  if (ca_file_.isEmpty()) ca_file_ = qgetenv("CURL_CA_BUNDLE");
  ca_dir_ = qgetenv("SSL_CERT_DIR");

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
      t->owner->finish(HttpRequest::Outcome::failure(QStringLiteral("HTTP engine shut down")));
    }
    curl_multi_remove_handle(multi_, t->easy);
    curl_easy_cleanup(t->easy);
    delete t;
  }
  transfers_.clear();
  for (CURL* e : idle_easy_) curl_easy_cleanup(e);
  idle_easy_.clear();
  curl_multi_cleanup(multi_);
  multi_ = nullptr;
  g_engine = nullptr;
}

// A socket's notifiers stay while it is open: a kept-alive connection is
// handed back and forth for every request of a flood, and making notifiers
// anew each time costs more than the request's own work.
int HttpEngine::onSocket(CURL*, curl_socket_t s, int what, void* userp, void*) {
  auto* self = static_cast<HttpEngine*>(userp);
  if (what == CURL_POLL_REMOVE) {
    if (auto it = self->socket_watches_.find(s); it != self->socket_watches_.end()) {
      // The read side stays watched while the connection idles: a server's
      // close then shows at once rather than at the next idle check.
      if (it->second.write) it->second.write->setEnabled(false);
      if (it->second.read) it->second.read->setEnabled(true);
      it->second.inUse = false;
    }
    return 0;
  }
  SocketWatch& watch = self->socket_watches_[s];
  watch.inUse = true;
  const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
  const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
  if (wantRead && !watch.read) {
    watch.read = new QSocketNotifier(s, QSocketNotifier::Read, self);
    connect(watch.read, &QSocketNotifier::activated, self, [self, s] { self->onReadable(s); });
  }
  if (wantWrite && !watch.write) {
    watch.write = new QSocketNotifier(s, QSocketNotifier::Write, self);
    connect(watch.write, &QSocketNotifier::activated, self,
            [self, s] { self->drive(s, CURL_CSELECT_OUT); });
  }
  if (watch.read && watch.read->isEnabled() != wantRead) watch.read->setEnabled(wantRead);
  if (watch.write && watch.write->isEnabled() != wantWrite) watch.write->setEnabled(wantWrite);
  return 0;
}

namespace {
enum class IdleRead { Nothing, Data, Closed };

// What an idle connection has to read, without taking it: nothing yet, data
// nobody asked for, or the server's close (an end of stream or an error).
IdleRead peekIdle(curl_socket_t s) {
  char byte;
  const ssize_t n = ::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return IdleRead::Data;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    return IdleRead::Nothing;
  return IdleRead::Closed;
}
}  // namespace

// An idle connection that turns readable was closed by its server, or got
// data nobody asked for (a TLS session ticket, an HTTP/2 frame). Either way
// it is no longer watched here, so a level-triggered notifier cannot spin;
// the idle check's poll still sees a close that follows such data.
void HttpEngine::onReadable(curl_socket_t s) {
  const auto it = socket_watches_.find(s);
  if (it == socket_watches_.end() || it->second.inUse) {
    drive(s, CURL_CSELECT_IN);
    return;
  }
  const IdleRead read = peekIdle(s);
  if (read == IdleRead::Nothing) return;
  it->second.read->setEnabled(false);
  if (read == IdleRead::Data) return;
  const auto open = open_sockets_.find(s);
  if (open != open_sockets_.end()) emit idleConnectionLost(open->second);
}

void HttpEngine::forgetSocket(curl_socket_t s) {
  const auto it = socket_watches_.find(s);
  if (it == socket_watches_.end()) return;
  // May be called from inside the notifier's own signal: deleted later.
  for (QSocketNotifier* n : {it->second.read, it->second.write}) {
    if (!n) continue;
    n->setEnabled(false);
    n->deleteLater();
  }
  socket_watches_.erase(it);
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

int HttpEngine::onPrereq(void* userp, char*, char*, int, int) {
  static_cast<HttpTransfer*>(userp)->onWire = true;
  return CURL_PREREQFUNC_OK;
}

// Our own sockets, so that connections idling in libcurl's cache can be
// watched for a server that closes them.
curl_socket_t HttpEngine::onOpenSocket(void* userp, curlsocktype, curl_sockaddr* address) {
  const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd >= 0 && g_engine) {
    g_engine->forgetSocket(fd);  // a socket closed behind our back had this number
    g_engine->open_sockets_[fd] = static_cast<HttpTransfer*>(userp)->origin;
  }
  return fd >= 0 ? fd : CURL_SOCKET_BAD;
}

int HttpEngine::onCloseSocket(void*, curl_socket_t s) {
  if (g_engine) {
    g_engine->open_sockets_.erase(s);
    g_engine->forgetSocket(s);
  }
  return ::close(s);
}

// A server that closed an idle connection shows as a peer shutdown or an
// end of stream; readable data alone (a TLS session ticket, an HTTP/2 frame)
// is no close.
bool HttpEngine::idleConnectionClosed(const QByteArray& origin) {
  std::vector<pollfd> idle;
  for (const auto& [s, socketOrigin] : open_sockets_)
    if (socketOrigin == origin && !socketInUse(s)) idle.push_back({s, POLLIN | POLLRDHUP, 0});
  if (idle.empty() || ::poll(idle.data(), idle.size(), 0) <= 0) return false;
  for (const pollfd& p : idle) {
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
    if ((p.revents & POLLIN) && peekIdle(p.fd) == IdleRead::Closed) return true;
  }
  return false;
}

void HttpEngine::drive(curl_socket_t s, int events) {
  int running = 0;
  if (const CURLMcode rc = curl_multi_socket_action(multi_, s, events, &running); rc != CURLM_OK)
    qCInfo(lcHttp) << "curl_multi_socket_action failed:" << curl_multi_strerror(rc);
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
    const bool answered = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && t->truncated);
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    if (answered && followRedirect(t, code)) continue;
    any = true;
    count(t, answered ? static_cast<int>(code) : 0);
    if (HttpRequest* owner = t->owner) {
      owner->transfer_ = nullptr;
      HttpRequest::Outcome outcome;
      if (answered) {
        outcome.status = static_cast<int>(code);
        outcome.body = std::move(t->reply);
        outcome.truncated = t->truncated;
        long version = 0;
        curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
        outcome.httpVersion = version == CURL_HTTP_VERSION_2_0 ? 2 : 1;
        // Only answers that ask us to wait carry a header anyone reads.
        curl_header* retry = nullptr;
        if ((code == 429 || code >= 500) &&
            curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &retry) == CURLHE_OK)
          outcome.retryAfter = retry->value;
        if (code >= 300 && code < 400) {
          const char* location = nullptr;
          curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
          if (location) {
            outcome.refusedRedirect = location;
            qCInfo(lcHttp) << "redirect to another origin not followed:" << location;
          }
        }
      } else {
        outcome.error = QString::fromUtf8(curl_easy_strerror(rc));
        if (t->error[0]) outcome.error += QStringLiteral(": ") + QString::fromUtf8(t->error);
      }
      owner->finish(std::move(outcome));
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

// Handles are kept between transfers with what every transfer shares set
// once: setting it all again for each request of a flood costs more than
// the rest of the request's own set-up.
CURL* HttpEngine::takeEasy() {
  if (!idle_easy_.empty()) {
    CURL* e = idle_easy_.back();
    idle_easy_.pop_back();
    return e;
  }
  CURL* e = curl_easy_init();
  if (!e) return nullptr;
  setOption(e, CURLOPT_WRITEFUNCTION, &HttpEngine::onWrite);
  setOption(e, CURLOPT_NOSIGNAL, 1L);
  setOption(e, CURLOPT_PROTOCOLS_STR, "http,https");
  setOption(e, CURLOPT_FOLLOWLOCATION, 0L);  // followRedirect() does it
  setOption(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  setOption(e, CURLOPT_PIPEWAIT, 0L);  // a registration never waits for a connection
  setOption(e, CURLOPT_PREREQFUNCTION, &HttpEngine::onPrereq);
  setOption(e, CURLOPT_OPENSOCKETFUNCTION, &HttpEngine::onOpenSocket);
  setOption(e, CURLOPT_CLOSESOCKETFUNCTION, &HttpEngine::onCloseSocket);
  setOption(e, CURLOPT_ACCEPT_ENCODING, "");
  setOption(e, CURLOPT_USERAGENT, kUserAgent);
  setOption(e, CURLOPT_NOPROXY, no_proxy_.constData());
  if (!ca_file_.isEmpty()) setOption(e, CURLOPT_CAINFO, ca_file_.constData());
  if (!ca_dir_.isEmpty()) setOption(e, CURLOPT_CAPATH, ca_dir_.constData());
  if (!extra_ca_.isEmpty()) {
    curl_blob blob{const_cast<char*>(extra_ca_.constData()), static_cast<size_t>(extra_ca_.size()),
                   CURL_BLOB_COPY};
    setOption(e, CURLOPT_CAINFO_BLOB, &blob);
  }
  return e;
}

void HttpEngine::setExtraCa(const QByteArray& pemBundle) {
  extra_ca_ = pemBundle;
  for (CURL* e : idle_easy_) curl_easy_cleanup(e);
  idle_easy_.clear();
}

// Redirects are followed by hand: libcurl would carry the body (password and
// key included) to whatever host a Location names.
bool HttpEngine::followRedirect(HttpTransfer* t, long code) {
  if (code < 300 || code >= 400 || code == 304 || t->redirects >= kMaxRedirects) return false;
  const char* location = nullptr;
  curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &location);
  if (!location || originOf(location) != t->origin) return false;
  ++t->redirects;
  t->url = location;
  t->reply.clear();
  t->truncated = false;
  curl_multi_remove_handle(multi_, t->easy);
  setOption(t->easy, CURLOPT_URL, t->url.constData());
  // As browsers do: 303, and 301/302 after a POST, continue as GET.
  const bool keepMethod = code == 307 || code == 308 || (t->method != "POST" && code != 303);
  if (!keepMethod) {
    t->method = "GET";
    setOption(t->easy, CURLOPT_CUSTOMREQUEST, nullptr);
    setOption(t->easy, CURLOPT_HTTPGET, 1L);
  }
  if (curl_multi_add_handle(multi_, t->easy) != CURLM_OK) return false;
  return true;
}

void HttpEngine::count(const HttpTransfer* t, int status) {
  if (!t->counted || t->countGeneration != count_generation_) return;
  if (t->onWire) ++counters_.sent;
  if (status > 0) {
    ++counters_.replies;
    if (status >= 400) ++counters_.httpErrors;
  } else {
    ++counters_.failures;
  }
  counters_.lastStatus = status;
}

int HttpEngine::countedInFlight() const {
  int n = 0;
  for (const HttpTransfer* t : transfers_)
    n += t->counted && t->countGeneration == count_generation_;
  return n;
}

RequestCounters HttpEngine::counters() const {
  RequestCounters c = counters_;
  for (const HttpTransfer* t : transfers_) {
    if (!t->counted || t->countGeneration != count_generation_) continue;
    c.sent += t->onWire;
    ++c.failures;
  }
  return c;
}

int HttpEngine::dropNotOnWire() {
  std::vector<HttpTransfer*> unsent;
  for (HttpTransfer* t : transfers_)
    if (t->counted && !t->onWire) unsent.push_back(t);
  for (HttpTransfer* t : unsent) {
    if (HttpRequest* owner = t->owner) {
      owner->transfer_ = nullptr;
      owner->finish(HttpRequest::Outcome::failure(
          QStringLiteral("given up before it left: the run had ended")));
    }
    release(t);
  }
  if (!unsent.empty()) emit transferDone();
  return static_cast<int>(unsent.size());
}

void HttpEngine::release(HttpTransfer* t) {
  curl_multi_remove_handle(multi_, t->easy);
  if (auto it = per_origin_.find(t->origin); it != per_origin_.end() && --it.value() <= 0)
    per_origin_.erase(it);
  if (idle_easy_.size() < 256) {
    idle_easy_.push_back(t->easy);
  } else {
    curl_easy_cleanup(t->easy);
  }
  transfers_.erase(t);
  delete t;
}

// What is the transfer's own; the method's options are all set again, since
// a handle keeps those of its previous transfer (a HEAD warm-up's NOBODY
// would turn the next POST into a HEAD).
void HttpEngine::configure(HttpTransfer* t, const QByteArray& method) {
  CURL* e = t->easy;
  setOption(e, CURLOPT_URL, t->url.constData());
  setOption(e, CURLOPT_PRIVATE, t);
  setOption(e, CURLOPT_WRITEDATA, t);
  setOption(e, CURLOPT_ERRORBUFFER, t->error);
  setOption(e, CURLOPT_TIMEOUT_MS, static_cast<long>(lifetime_ms_));
  setOption(e, CURLOPT_PREREQDATA, t);
  setOption(e, CURLOPT_OPENSOCKETDATA, t);
  setOption(e, CURLOPT_HTTPHEADER, t->headers.get());
  setOption(e, CURLOPT_CUSTOMREQUEST, nullptr);
  if (method == "GET" && t->body.isEmpty()) {
    setOption(e, CURLOPT_HTTPGET, 1L);
    return;
  }
  if (method == "HEAD") {
    setOption(e, CURLOPT_NOBODY, 1L);
    return;
  }
  setOption(e, CURLOPT_NOBODY, 0L);
  setOption(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t->body.size()));
  setOption(e, CURLOPT_POSTFIELDS, t->body.constData());
  if (method != "POST") setOption(e, CURLOPT_CUSTOMREQUEST, method.constData());
}

// The requests of a flood all carry the same headers: their list is made
// once and shared while they are out.
std::shared_ptr<curl_slist> HttpEngine::headerList(const QList<QByteArray>& headers) {
  if (last_headers_ && headers == last_header_lines_) return last_headers_;
  curl_slist* list = nullptr;
  for (const QByteArray& h : headers) list = curl_slist_append(list, h.constData());
  // No "Expect: 100-continue" round trip before a body.
  list = curl_slist_append(list, "Expect:");
  last_headers_ = std::shared_ptr<curl_slist>(list, curl_slist_free_all);
  last_header_lines_ = headers;
  return last_headers_;
}

void HttpEngine::start(HttpRequest* owner, const QByteArray& method, const QByteArray& url,
                       const QList<QByteArray>& headers, const QByteArray& body) {
  auto* t = new HttpTransfer;
  t->easy = takeEasy();
  t->owner = owner;
  t->method = method;
  t->url = url;
  t->origin = originOf(url);
  t->body = body;
  t->counted = owner->counted_;
  t->countGeneration = count_generation_;
  t->headers = headerList(headers);
  if (!t->easy) {
    delete t;
    owner->finish(HttpRequest::Outcome::failure(QStringLiteral("could not create a transfer")));
    emit owner->completed();
    return;
  }
  configure(t, method);
  transfers_.insert(t);
  ++per_origin_[t->origin];
  owner->transfer_ = t;
  if (curl_multi_add_handle(multi_, t->easy) != CURLM_OK) {
    owner->transfer_ = nullptr;
    release(t);
    owner->finish(HttpRequest::Outcome::failure(QStringLiteral("could not start the transfer")));
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
  http_version_ = 0;
  refused_redirect_.clear();
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

void HttpRequest::finish(Outcome outcome) {
  ready_state_ = 4;
  status_ = outcome.status;
  body_ = std::move(outcome.body);
  truncated_ = outcome.truncated;
  error_ = std::move(outcome.error);
  http_version_ = outcome.httpVersion;
  refused_redirect_ = std::move(outcome.refusedRedirect);
  retry_after_ = std::move(outcome.retryAfter);
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

// By hand: this runs for every request of a flood.
QByteArray originOf(const QByteArray& url) {
  const qsizetype sep = url.indexOf("://");
  if (sep <= 0) return {};
  const QByteArray scheme = url.left(sep).toLower();
  qsizetype end = sep + 3;
  while (end < url.size() && !std::strchr("/?#", url[end])) ++end;
  QByteArray authority = url.mid(sep + 3, end - sep - 3).toLower();
  if (const qsizetype at = authority.lastIndexOf('@'); at >= 0) authority.remove(0, at + 1);
  const qsizetype colon = authority.lastIndexOf(':');
  if (colon < 0 || colon < authority.lastIndexOf(']'))
    authority += scheme == "https" ? ":443" : ":80";
  return scheme + "://" + authority;
}

bool hasFreeConnection(const QByteArray& origin) {
  return HttpEngine::instance().inFlightTo(origin) < kMaxConnectionsPerHost;
}

HttpEngineSignals* httpEngine() { return &HttpEngine::instance(); }

bool waitForFreeConnection(const QByteArray& origin, const RunFlag& run, qint64 timeoutMs) {
  HttpEngine& engine = HttpEngine::instance();
  EventWait wait;
  wait.wakeOn(&engine, &HttpEngine::transferDone);
  wait.wakeOn(&run, &RunFlag::runFlagChanged);
  const auto free = [&] { return engine.inFlightTo(origin) < kMaxConnectionsPerHost; };
  wait.run([&] { return free() || run.int_start() != 1; }, timeoutMs);
  return free() && run.int_start() == 1;
}

void resetRequestCounters() { HttpEngine::instance().resetCounters(); }
RequestCounters requestCounters() { return HttpEngine::instance().counters(); }
int countedRequestsInFlight() {
  return HttpEngine::exists() ? HttpEngine::instance().countedInFlight() : 0;
}
int dropRequestsNotOnWire() {
  return HttpEngine::exists() ? HttpEngine::instance().dropNotOnWire() : 0;
}
bool idleConnectionClosed(const QByteArray& origin) {
  return HttpEngine::exists() && HttpEngine::instance().idleConnectionClosed(origin);
}

void setRequestLifetimeForTests(int ms) { HttpEngine::instance().setLifetimeMs(ms); }

void addTrustedCaFileForTests(const QString& pemPath) {
  QByteArray bundle;
  if (!pemPath.isEmpty()) {
    const char* systemCa = nullptr;
    if (CURL* probe = curl_easy_init()) {
      curl_easy_getinfo(probe, CURLINFO_CAINFO, &systemCa);
      QFile system(
          QString::fromLocal8Bit(systemCa ? systemCa : "/etc/ssl/certs/ca-certificates.crt"));
      if (system.open(QIODevice::ReadOnly)) bundle = system.readAll() + '\n';
      curl_easy_cleanup(probe);
    }
    QFile extra(pemPath);
    if (extra.open(QIODevice::ReadOnly)) bundle += extra.readAll();
  }
  HttpEngine::instance().setExtraCa(bundle);
}

namespace {
QByteArray escapedUrl(const QString& url) {
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
}  // namespace

QByteArray normalizeUrl(const QString& url) {
  // A flood opens the same URL for every request.
  thread_local QString lastUrl;
  thread_local QByteArray lastNormal;
  if (url == lastUrl && !url.isNull()) return lastNormal;
  lastNormal = escapedUrl(url);
  lastUrl = url;
  return lastNormal;
}

}  // namespace platform
