#include "support/StubHttpServer.h"

#include <sys/socket.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <chrono>

namespace {

QByteArray reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// One client connection: reads requests one after the other and answers them
// in order (HTTP/1.1 without pipelining surprises).
class StubHttpConnection : public QObject {
 public:
  StubHttpConnection(StubHttpServer* owner, QTcpSocket* socket, QObject* parent)
      : QObject(parent), owner_(owner), socket_(socket), id_(owner->nextConnectionId()) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, [this] { onData(); });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { finished(); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
      if (socket_->state() != QAbstractSocket::ConnectedState) finished();
    });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] { pumpEndless(); });
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
      if (!busy_ && !done_) socket_->disconnectFromHost();
    });
    restartIdle();
  }

 private:
  void finished() {
    if (done_) return;
    done_ = true;
    deleteLater();
  }

  void restartIdle() {
    if (const int ms = owner_->idleCloseMs(); ms > 0) idle_.start(ms);
  }

  void onData() {
    idle_.stop();
    buffer_ += socket_->readAll();
    processBuffer();
  }

  void processBuffer() {
    while (!busy_ && !done_) {
      if (!haveHead_) {
        const qsizetype end = buffer_.indexOf("\r\n\r\n");
        if (end < 0) return;
        parseHead(buffer_.left(end));
        buffer_.remove(0, end + 4);
        haveHead_ = true;
      }
      if (buffer_.size() < bodyLength_) return;
      current_.body = buffer_.left(bodyLength_);
      buffer_.remove(0, bodyLength_);
      haveHead_ = false;
      current_.arrivalNs = StubHttpServer::monotonicNs();
      current_.connection = id_;
      const StubHttpServer::Reply reply = owner_->replyFor(current_);
      const bool closeAfter = current_.header("Connection").toLower() == "close";
      owner_->record(std::move(current_));
      current_ = {};
      answer(reply, closeAfter);
    }
  }

  void parseHead(const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    current_.method = first.value(0);
    current_.target = first.value(1);
    bodyLength_ = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const QByteArray line = lines[i].trimmed();
      const qsizetype colon = line.indexOf(':');
      if (colon <= 0) continue;
      const QByteArray name = line.left(colon).trimmed();
      const QByteArray value = line.mid(colon + 1).trimmed();
      current_.headers.append({name, value});
      if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
        bodyLength_ = value.toLongLong();
    }
  }

  void answer(const StubHttpServer::Reply& reply, bool closeAfter) {
    using B = StubHttpServer::Behaviour;
    switch (reply.behaviour) {
      case B::NeverAnswer:
        busy_ = true;  // keep reading, never answer
        return;
      case B::EndlessBody:
        busy_ = true;
        endless_ = true;
        socket_->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        pumpEndless();
        return;
      case B::ResetMidReply:
      case B::Answer:
        break;
    }
    if (reply.delayMs > 0) {
      busy_ = true;
      auto* timer = new QTimer(this);
      timer->setSingleShot(true);
      timer->setTimerType(Qt::PreciseTimer);
      connect(timer, &QTimer::timeout, this, [this, reply, closeAfter, timer] {
        timer->deleteLater();
        busy_ = false;
        writeReply(reply, closeAfter);
        processBuffer();
      });
      timer->start(reply.delayMs);
      return;
    }
    writeReply(reply, closeAfter);
  }

  void writeReply(const StubHttpServer::Reply& reply, bool closeAfter) {
    if (done_) return;
    const bool reset = reply.behaviour == StubHttpServer::Behaviour::ResetMidReply;
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) +
        "\r\nContent-Type: " + reply.contentType +
        "\r\nContent-Length: " + QByteArray::number(reply.body.size() + (reset ? 100000 : 0)) +
        "\r\n";
    for (const auto& h : reply.headers) out += h.first + ": " + h.second + "\r\n";
    if (closeAfter) out += "Connection: close\r\n";
    out += "\r\n";
    if (reset) {
      // Headers and part of the body, then RST instead of the rest.
      out += reply.body.left(reply.body.size() / 2);
      socket_->write(out);
      socket_->flush();
      QTimer::singleShot(20, this, [this] {
        if (done_) return;
        const linger l{1, 0};
        ::setsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l,
                     sizeof l);
        socket_->abort();
        finished();
      });
      busy_ = true;
      return;
    }
    out += reply.body;
    socket_->write(out);
    restartIdle();
    if (closeAfter) {
      busy_ = true;
      socket_->disconnectFromHost();
    }
  }

  void pumpEndless() {
    if (!endless_ || done_) return;
    static const QByteArray chunk(64 * 1024, 'x');
    while (socket_->bytesToWrite() < 256 * 1024) socket_->write(chunk);
  }

  StubHttpServer* owner_;
  QTcpSocket* socket_;
  int id_;
  QByteArray buffer_;
  StubHttpServer::Request current_;
  qint64 bodyLength_ = 0;
  bool haveHead_ = false;
  bool busy_ = false;
  bool endless_ = false;
  bool done_ = false;
  QTimer idle_;
};

}  // namespace

class StubHttpCore : public QTcpServer {
 public:
  explicit StubHttpCore(StubHttpServer* owner) : owner_(owner) {}

  bool start(bool tls, quint16 port, const QString& certName) {
    tls_ = tls;
    if (tls) {
      QFile certFile(StubHttpServer::tlsFixture(certName + QStringLiteral(".pem")));
      QFile keyFile(StubHttpServer::tlsFixture(certName + QStringLiteral(".key")));
      if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) return false;
      config_ = QSslConfiguration::defaultConfiguration();
      config_.setLocalCertificate(QSslCertificate(certFile.readAll(), QSsl::Pem));
      config_.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem));
      config_.setPeerVerifyMode(QSslSocket::VerifyNone);
      if (config_.localCertificate().isNull() || config_.privateKey().isNull()) return false;
    }
    // Clients here open more connections at once than Qt's backlog of 50
    // holds; a full backlog drops a SYN, which is retried only a second later.
    setListenBacklogSize(1024);
    return QTcpServer::listen(QHostAddress::LocalHost, port);
  }

 protected:
  void incomingConnection(qintptr fd) override {
    QTcpSocket* socket;
    if (tls_) {
      auto* ssl = new QSslSocket;
      ssl->setSslConfiguration(config_);
      socket = ssl;
    } else {
      socket = new QTcpSocket;
    }
    if (!socket->setSocketDescriptor(fd)) {
      delete socket;
      return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    new StubHttpConnection(owner_, socket, this);
    if (tls_) static_cast<QSslSocket*>(socket)->startServerEncryption();
  }

 private:
  StubHttpServer* owner_;
  bool tls_ = false;
  QSslConfiguration config_;
};

// ---------------------------------------------------------------------------

QByteArray StubHttpServer::Request::header(const QByteArray& name) const {
  for (const auto& h : headers)
    if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
  return {};
}

bool StubHttpServer::Request::hasHeader(const QByteArray& name) const {
  for (const auto& h : headers)
    if (h.first.compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

StubHttpServer::StubHttpServer(Threading threading) {
  core_ = new StubHttpCore(this);
  if (threading == Threading::OwnThread) {
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("StubHttpServer"));
    core_->moveToThread(thread_);
    thread_->start();
  }
}

StubHttpServer::~StubHttpServer() {
  if (thread_) {
    StubHttpCore* core = core_;
    QMetaObject::invokeMethod(
        core, [core] { delete core; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete thread_;
  } else {
    delete core_;
  }
}

bool StubHttpServer::listen(bool tls, quint16 port, const QString& certName) {
  bool ok = false;
  quint16 bound = 0;
  auto run = [&] {
    ok = core_->start(tls, port, certName);
    bound = core_->serverPort();
  };
  if (thread_)
    QMetaObject::invokeMethod(core_, run, Qt::BlockingQueuedConnection);
  else
    run();
  QMutexLocker lock(&mutex_);
  port_ = ok ? bound : 0;
  tls_ = tls;
  return ok;
}

void StubHttpServer::close() {
  auto run = [this] { core_->close(); };
  if (thread_)
    QMetaObject::invokeMethod(core_, run, Qt::BlockingQueuedConnection);
  else
    run();
}

quint16 StubHttpServer::port() const {
  QMutexLocker lock(&mutex_);
  return port_;
}

bool StubHttpServer::isTls() const {
  QMutexLocker lock(&mutex_);
  return tls_;
}

QString StubHttpServer::url(const QString& pathAndQuery) const {
  QMutexLocker lock(&mutex_);
  return QStringLiteral("%1://127.0.0.1:%2%3")
      .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
      .arg(port_)
      .arg(pathAndQuery);
}

void StubHttpServer::setReply(const Reply& reply) {
  QMutexLocker lock(&mutex_);
  reply_ = reply;
  responder_ = nullptr;
}

void StubHttpServer::setResponder(std::function<Reply(const Request&)> responder) {
  QMutexLocker lock(&mutex_);
  responder_ = std::move(responder);
}

void StubHttpServer::setRecordDetails(bool on) {
  QMutexLocker lock(&mutex_);
  record_details_ = on;
}

StubHttpServer::Reply StubHttpServer::replyFor(const Request& r) {
  std::function<Reply(const Request&)> responder;
  {
    QMutexLocker lock(&mutex_);
    if (!responder_) return reply_;
    responder = responder_;
  }
  return responder(r);
}

void StubHttpServer::record(Request&& r) {
  QMutexLocker lock(&mutex_);
  ++count_;
  times_.append(r.arrivalNs);
  if (record_details_) requests_.append(std::move(r));
  for (const Waiter& w : waiters_)
    if (count_ >= w.count) QMetaObject::invokeMethod(w.loop, "quit", Qt::QueuedConnection);
}

int StubHttpServer::nextConnectionId() {
  QMutexLocker lock(&mutex_);
  connection_opened_ns_.append(monotonicNs());
  return ++connections_;
}

qint64 StubHttpServer::connectionOpenedNs(int n) const {
  QMutexLocker lock(&mutex_);
  return connection_opened_ns_.value(n - 1, -1);
}

void StubHttpServer::setIdleCloseMs(int ms) {
  QMutexLocker lock(&mutex_);
  idle_close_ms_ = ms;
}

int StubHttpServer::idleCloseMs() const {
  QMutexLocker lock(&mutex_);
  return idle_close_ms_;
}

QList<StubHttpServer::Request> StubHttpServer::requests() const {
  QMutexLocker lock(&mutex_);
  return requests_;
}

QList<qint64> StubHttpServer::arrivalTimesNs() const {
  QMutexLocker lock(&mutex_);
  return times_;
}

int StubHttpServer::requestCount() const {
  QMutexLocker lock(&mutex_);
  return count_;
}

int StubHttpServer::connectionCount() const {
  QMutexLocker lock(&mutex_);
  return connections_;
}

void StubHttpServer::clearRecords() {
  QMutexLocker lock(&mutex_);
  requests_.clear();
  times_.clear();
  count_ = 0;
}

bool StubHttpServer::waitForRequests(int n, int timeoutMs) {
  QEventLoop loop;
  {
    QMutexLocker lock(&mutex_);
    if (count_ >= n) return true;
    waiters_.append({&loop, n});
  }
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  QMutexLocker lock(&mutex_);
  waiters_.removeIf([&loop](const Waiter& w) { return w.loop == &loop; });
  return count_ >= n;
}

qint64 StubHttpServer::monotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

QString StubHttpServer::tlsFixture(const QString& name) {
  // This file lives in tests/support; the fixtures in tests/fixtures/tls.
  const QDir here = QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir();
  return QDir::cleanPath(here.absoluteFilePath(QStringLiteral("../fixtures/tls/") + name));
}
