#include "sending/Warmup.h"

#include <QUrl>

#include "sending/RunEvents.h"
#include "settings/Settings.h"

namespace {
// How often idle connections are looked at for a close by the server that
// the engine's own watch did not see (a close after unasked-for data): one
// poll() over a few sockets, so such a close is mended well within a second.
constexpr int kIdleCheckMs = 250;
}  // namespace

RegistrarWarmer::RegistrarWarmer(RunEvents& events) : events_(events) {
  interval_.setTimerType(Qt::CoarseTimer);
  connect(&interval_, &QTimer::timeout, this, &RegistrarWarmer::warmRound);
  idleCheck_.setInterval(kIdleCheckMs);
  connect(&idleCheck_, &QTimer::timeout, this, [this] {
    if (platform::idleConnectionClosed(origin_)) warmRound();
  });
}

RegistrarWarmer::~RegistrarWarmer() = default;

QString RegistrarWarmer::warmUrlFor(const QString& apiUrl, const QString& warmUrl) {
  if (!warmUrl.isEmpty()) return warmUrl;
  const QUrl api(apiUrl.trimmed());
  const QString scheme = api.scheme().toLower();
  if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || api.host().isEmpty())
    return {};
  QUrl origin;
  origin.setScheme(scheme);
  origin.setHost(api.host());
  origin.setPort(api.port());
  origin.setPath(QStringLiteral("/"));
  return origin.toString();
}

void RegistrarWarmer::start(const QString& apiUrl, const Settings& settings) {
  const QString url = warmUrlFor(apiUrl, settings.warm_url);
  if (settings.warm_connections <= 0 || url.isEmpty()) return;
  if (active() && url == url_) return;
  stop();
  url_ = url;
  origin_ = platform::originOf(platform::normalizeUrl(url));
  // A custom warm-up URL may well not answer HEAD; the origin's "/" does.
  method_ = settings.warm_url.isEmpty() ? QStringLiteral("HEAD") : QStringLiteral("GET");
  connections_ = settings.warm_connections;
  failureSaid_ = false;
  interval_.start(settings.warm_interval * 1000);
  idleCheck_.start();
  onLost_ = connect(platform::httpEngine(), &platform::HttpEngineSignals::idleConnectionLost, this,
                    [this](const QByteArray& origin) {
                      if (origin == origin_) warmRound();
                    });
  warmRound();
}

void RegistrarWarmer::stop() {
  interval_.stop();
  idleCheck_.stop();
  disconnect(onLost_);
  // Dropping the requests lets warm-ups on the wire finish unobserved.
  requests_.clear();
}

void RegistrarWarmer::warmRound() {
  // A round still out is not doubled.
  for (const auto& r : requests_)
    if (r->readyState() != 4) return;
  requests_.clear();
  for (int i = 0; i < connections_; ++i) {
    auto r = std::make_unique<platform::HttpRequest>();
    platform::HttpRequest* raw = r.get();
    connect(raw, &platform::HttpRequest::completed, this, [this, raw] { onWarmed(raw); });
    r->open(method_, url_, true);
    requests_.push_back(std::move(r));
  }
  for (const auto& r : requests_) r->send({});
}

void RegistrarWarmer::onWarmed(platform::HttpRequest* r) {
  if (r->status() > 0 || failureSaid_) return;
  failureSaid_ = true;
  emit events_.notice(QStringLiteral("预热连接失败：") + r->errorString());
}
