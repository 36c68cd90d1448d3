#include "support/StubSntpServer.h"

#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <chrono>
#include <cstring>

namespace {

qint64 wallUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void putNtp(uchar* p, qint64 unixUs) {
  const qint64 s = unixUs / 1000000 + 2208988800LL;
  const qint64 restUs = unixUs % 1000000;
  qToBigEndian(static_cast<quint32>(s), p);
  qToBigEndian(static_cast<quint32>((quint64(restUs) << 32) / 1000000), p + 4);
}

// The server's answer to `query`, stamped `receivedUs` and `now` on its clock.
QByteArray answer(const QByteArray& query, const StubSntpServer::Reply& r, qint64 receivedUs) {
  using B = StubSntpServer::Behaviour;
  QByteArray out(48, '\0');
  auto* p = reinterpret_cast<uchar*>(out.data());
  const qint64 lead = static_cast<qint64>(r.offsetMs * 1000);
  const int leap = r.behaviour == B::Unsynchronised ? 3 : 0;
  p[0] = static_cast<uchar>((leap << 6) | (4 << 3) | 4);  // version 4, server
  p[1] = r.behaviour == B::KissOfDeath ? 0 : 1;
  p[2] = 6;
  p[3] = static_cast<uchar>(-20);
  if (r.behaviour == B::KissOfDeath)
    std::memcpy(p + 12, "RATE", 4);
  else
    std::memcpy(p + 12, "GPS\0", 4);
  const qint64 sendUs = wallUs();
  putNtp(p + 16, sendUs + lead - 1000000);         // reference: a second ago
  std::memcpy(p + 24, query.constData() + 40, 8);  // originate = the query's transmit
  if (r.behaviour == B::WrongOrigin) p[31] ^= 0x5a;
  putNtp(p + 32, (r.stampOnSend ? sendUs : receivedUs) + lead);
  putNtp(p + 40, sendUs + lead);
  if (r.behaviour == B::Short) out.chop(1);
  return out;
}

}  // namespace

StubSntpServer::StubSntpServer(Threading threading) {
  socket_ = new QUdpSocket;
  other_ = new QUdpSocket;
  if (threading == Threading::OwnThread) {
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("StubSntpServer"));
    socket_->moveToThread(thread_);
    other_->moveToThread(thread_);
    thread_->start();
  }
  QObject::connect(socket_, &QUdpSocket::readyRead, socket_, [this] {
    while (socket_->hasPendingDatagrams()) {
      const QNetworkDatagram query = socket_->receiveDatagram();
      const qint64 receivedUs = wallUs();
      countQuery();
      const Reply r = nextReply();
      if (r.behaviour == Behaviour::Silent || query.data().size() < 48) continue;
      const QHostAddress to = query.senderAddress();
      const quint16 toPort = static_cast<quint16>(query.senderPort());
      auto send = [this, data = query.data(), r, receivedUs, to, toPort] {
        QUdpSocket* from = r.behaviour == Behaviour::OtherPort ? other_ : socket_;
        from->writeDatagram(answer(data, r, receivedUs), to, toPort);
      };
      if (r.delayMs > 0)
        QTimer::singleShot(r.delayMs, socket_, send);
      else
        send();
    }
  });
}

StubSntpServer::~StubSntpServer() {
  if (thread_) {
    QUdpSocket* socket = socket_;
    QUdpSocket* other = other_;
    QMetaObject::invokeMethod(
        socket,
        [socket, other] {
          delete socket;
          delete other;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete thread_;
  } else {
    delete socket_;
    delete other_;
  }
}

bool StubSntpServer::listen() {
  bool ok = false;
  auto run = [&] {
    ok = socket_->bind(QHostAddress::LocalHost, 0) && other_->bind(QHostAddress::LocalHost, 0);
  };
  if (thread_)
    QMetaObject::invokeMethod(socket_, run, Qt::BlockingQueuedConnection);
  else
    run();
  QMutexLocker lock(&mutex_);
  port_ = ok ? socket_->localPort() : 0;
  return ok;
}

quint16 StubSntpServer::port() const {
  QMutexLocker lock(&mutex_);
  return port_;
}

QString StubSntpServer::address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

void StubSntpServer::setOffsetMs(double offsetMs) {
  QMutexLocker lock(&mutex_);
  offsetMs_ = offsetMs;
}

void StubSntpServer::setScript(const QList<Reply>& replies) {
  QMutexLocker lock(&mutex_);
  script_ = replies;
}

int StubSntpServer::queryCount() const {
  QMutexLocker lock(&mutex_);
  return queries_;
}

StubSntpServer::Reply StubSntpServer::nextReply() {
  QMutexLocker lock(&mutex_);
  if (!script_.isEmpty()) return script_.takeFirst();
  Reply r;
  r.offsetMs = offsetMs_;
  return r;
}

void StubSntpServer::countQuery() {
  QMutexLocker lock(&mutex_);
  ++queries_;
}
