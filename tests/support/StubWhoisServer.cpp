#include "support/StubWhoisServer.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <ctime>
#include <functional>
#include <memory>

#include "codecs/Charsets.h"

namespace {

// One accepted connection: reads the query line, then plays the script.
void serve(StubWhoisServer* stub, QTcpSocket* socket) {
  const int connection = stub->nextConnection();
  auto buffer = std::make_shared<QByteArray>();
  auto answered = std::make_shared<bool>(false);
  auto serving = std::make_shared<bool>(false);
  auto done = [stub, serving] {
    if (*serving) stub->setBusy(-1);
    *serving = false;
  };
  QObject::connect(socket, &QTcpSocket::disconnected, socket, done);
  QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
    buffer->append(socket->readAll());
    if (*answered) return;
    const qsizetype lf = buffer->indexOf('\n');
    if (lf < 0) return;
    *answered = true;
    StubWhoisServer::Query q;
    q.raw = buffer->left(lf + 1);
    QByteArray line = q.raw;
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    q.domain = charsets::fromGb18030(line);
    q.arrivalNs = StubWhoisServer::monotonicNs();
    q.connection = connection;
    const int index = stub->record(q);
    *serving = true;
    stub->setBusy(+1);
    const StubWhoisServer::Script script = stub->scriptFor(q.domain);

    auto fill = [socket, stub] {
      static const QByteArray chunk = QByteArray(64 * 1024 - 2, 'x') + "\r\n";
      while (socket->state() == QAbstractSocket::ConnectedState &&
             socket->bytesToWrite() < 256 * 1024) {
        socket->write(chunk);
        stub->addSent(chunk.size());
      }
    };
    // Pending timers own the steps; the steps refer to themselves weakly.
    auto step = std::make_shared<std::function<void(int)>>();
    std::weak_ptr<std::function<void(int)>> weak = step;
    *step = [=](int k) {
      const auto self = weak.lock();
      if (!self || socket->state() != QAbstractSocket::ConnectedState) return;
      if (k < script.pieces.size()) {
        if (k == 0) stub->noteSent(index, StubWhoisServer::monotonicNs());
        socket->write(script.pieces[k]);
        socket->flush();
        stub->addSent(script.pieces[k].size());
        if (k + 1 < script.pieces.size() && script.gapMs > 0) {
          QTimer::singleShot(script.gapMs, socket, [self, k] { (*self)(k + 1); });
        } else {
          (*self)(k + 1);
        }
        return;
      }
      if (script.endless) {
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, fill);
        fill();
      } else if (script.closeAfter) {
        done();
        socket->disconnectFromHost();
      }
    };
    if (script.delayMs > 0) {
      QTimer::singleShot(script.delayMs, socket, [step] { (*step)(0); });
    } else {
      (*step)(0);
    }
  });
}

}  // namespace

StubWhoisServer::StubWhoisServer(Threading threading) {
  anchor_ = new QObject;
  if (threading == Threading::OwnThread) {
    thread_ = new QThread;
    anchor_->moveToThread(thread_);
    thread_->start();
  }
  QMetaObject::invokeMethod(
      anchor_,
      [this] {
        server_ = new QTcpServer(anchor_);
        QObject::connect(server_, &QTcpServer::newConnection, anchor_, [this] {
          while (QTcpSocket* s = server_->nextPendingConnection()) {
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            serve(this, s);
          }
        });
      },
      thread_ ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
}

StubWhoisServer::~StubWhoisServer() {
  // Connections and the server go with the anchor, in their own thread.
  QMetaObject::invokeMethod(
      anchor_, [this] { delete anchor_; },
      thread_ ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
  if (thread_) {
    thread_->quit();
    thread_->wait();
    delete thread_;
  }
}

bool StubWhoisServer::listen(quint16 port) {
  bool ok = false;
  QMetaObject::invokeMethod(
      anchor_,
      [&] {
        ok = server_->listen(QHostAddress::LocalHost, port);
        port_ = server_->serverPort();
      },
      thread_ ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
  return ok;
}

quint16 StubWhoisServer::port() const { return port_; }

StubWhoisServer::Script StubWhoisServer::reply(const QByteArray& text) {
  Script s;
  s.pieces = {text};
  return s;
}

StubWhoisServer::Script StubWhoisServer::silent() {
  Script s;
  s.closeAfter = false;
  return s;
}

void StubWhoisServer::setScript(const QString& domain, const Script& script) {
  QMutexLocker lock(&mutex_);
  scripts_.insert(domain, script);
}

void StubWhoisServer::setDefaultScript(const Script& script) {
  QMutexLocker lock(&mutex_);
  default_ = script;
}

StubWhoisServer::Script StubWhoisServer::scriptFor(const QString& domain) const {
  QMutexLocker lock(&mutex_);
  return scripts_.value(domain, default_);
}

QList<StubWhoisServer::Query> StubWhoisServer::queries() const {
  QMutexLocker lock(&mutex_);
  return queries_;
}

int StubWhoisServer::queryCount() const {
  QMutexLocker lock(&mutex_);
  return queries_.size();
}

int StubWhoisServer::connectionCount() const {
  QMutexLocker lock(&mutex_);
  return connections_;
}

qint64 StubWhoisServer::bytesSent() const {
  QMutexLocker lock(&mutex_);
  return sent_;
}

int StubWhoisServer::record(const Query& q) {
  QMutexLocker lock(&mutex_);
  queries_.append(q);
  return queries_.size() - 1;
}

void StubWhoisServer::noteSent(int queryIndex, qint64 ns) {
  QMutexLocker lock(&mutex_);
  if (queryIndex >= 0 && queryIndex < queries_.size()) queries_[queryIndex].replySentNs = ns;
}

void StubWhoisServer::addSent(qint64 n) {
  QMutexLocker lock(&mutex_);
  sent_ += n;
}

void StubWhoisServer::setBusy(int delta) {
  QMutexLocker lock(&mutex_);
  busy_ += delta;
  maxBusy_ = std::max(maxBusy_, busy_);
}

int StubWhoisServer::maxBusy() const {
  QMutexLocker lock(&mutex_);
  return maxBusy_;
}

int StubWhoisServer::busy() const {
  QMutexLocker lock(&mutex_);
  return busy_;
}

int StubWhoisServer::nextConnection() {
  QMutexLocker lock(&mutex_);
  return ++connections_;
}

qint64 StubWhoisServer::monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
