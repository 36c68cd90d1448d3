#include "whois/WhoisQuery.h"

#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/Log.h"

WhoisQuery::WhoisQuery() {
  limit_.setSingleShot(true);
  connect(&limit_, &QTimer::timeout, this, &WhoisQuery::onTimeLimit);
  connect(&winsock, &QTcpSocket::connected, this, [this] {
    if (closing_ || phase_ != Phase::Connecting) return;
    limit_.stop();
    emit connected();
  });
  connect(&winsock, &QTcpSocket::errorOccurred, this, [this] {
    // Errors after the connection are seen as its close.
    if (closing_ || phase_ != Phase::Connecting) return;
    qCInfo(lcWhois).noquote() << "connection error:" << winsock.errorString();
    Close();
    emit connectFailed();
  });
  connect(&winsock, &QTcpSocket::readyRead, this, [this] {
    if (!closing_) takeBytes(false);
  });
  // The server closed: what it sent before is still read, and the reply is
  // complete, so a last incomplete expiry line is judged too.
  connect(&winsock, &QTcpSocket::disconnected, this, [this] {
    if (closing_) return;
    if (phase_ == Phase::Querying) takeBytes(true);
  });
}

WhoisQuery::~WhoisQuery() {
  closing_ = true;
  winsock.abort();
}

void WhoisQuery::do_connect(const QString& host, quint16 port, qint64 limitMs) {
  Close();
  phase_ = Phase::Connecting;
  limit_.start(static_cast<int>(std::min<qint64>(limitMs, INT_MAX)));
  winsock.connectToHost(host, port);
}

void WhoisQuery::do_whois(const QString& domainName, const whois::Markers& markers,
                          qint64 limitMs) {
  phase_ = Phase::Querying;
  reply_done = false;
  reply_arrived = false;
  reader = whois::ReplyReader(markers);
  replyBytes_ = 0;
  sentNs = platform::monotonicNs();
  winsock.write(charsets::toGb18030(domainName + textrules::kCrLf));
  winsock.flush();
  limit_.start(static_cast<int>(std::min<qint64>(limitMs, INT_MAX)));
}

void WhoisQuery::startRdap(const QString& url, qint64 limitMs) {
  Close();
  phase_ = Phase::Rdap;
  reply_done = false;
  reply_arrived = false;
  reader = whois::ReplyReader();
  if (!http_) {
    platform::prepareHttp();
    http_ = std::make_unique<platform::HttpRequest>();
    connect(http_.get(), &platform::HttpRequest::completed, this, [this] {
      if (phase_ != Phase::Rdap || reply_done) return;
      limit_.stop();
      readNs = platform::monotonicNs();
      readWallUs = platform::wallClockUs();
      emit rdapAnswered();
    });
  }
  sentNs = platform::monotonicNs();
  limit_.start(static_cast<int>(std::min<qint64>(limitMs, INT_MAX)));
  http_->open(QStringLiteral("GET"), url, true);
  http_->setRequestHeader(QStringLiteral("Accept"), QStringLiteral("application/rdap+json"));
  http_->send(QByteArray());
}

void WhoisQuery::Close() {
  limit_.stop();
  closing_ = true;
  winsock.abort();
  closing_ = false;
  // Reopening without sending abandons a lookup still in flight.
  if (http_ && http_->readyState() != 4 && http_->readyState() != 0)
    http_->open(QStringLiteral("GET"), QString(), true);
  phase_ = Phase::Idle;
}

void WhoisQuery::onTimeLimit() {
  switch (phase_) {
    case Phase::Connecting:
      Close();
      emit connectFailed();
      break;
    case Phase::Querying:
    case Phase::Rdap:
      emit replyTimedOut();
      break;
    case Phase::Idle:
      break;
  }
}

void WhoisQuery::takeBytes(bool closed) {
  const QByteArray bytes = winsock.readAll();
  // Read and dropped: a reply after its verdict, or data no query asked for.
  if (phase_ != Phase::Querying || reply_done) return;
  if (bytes.isEmpty() && !closed) return;
  readNs = platform::monotonicNs();
  readWallUs = platform::wallClockUs();
  const qsizetype room = whois::kMaxReplyBytes - replyBytes_;
  const bool cut = bytes.size() > room;
  const QByteArray taken = cut ? bytes.left(room) : bytes;
  replyBytes_ += taken.size();
  reader.append(taken);
  emit replyData(closed || cut);
}
