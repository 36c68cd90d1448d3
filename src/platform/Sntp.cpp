#include "platform/Sntp.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUrl>
#include <QtEndian>
#include <cstdlib>

#include "platform/Clock.h"

namespace platform {
namespace {

// Seconds from 1900 (the NTP epoch) to 1970.
constexpr qint64 kNtpToUnixS = 2208988800LL;
constexpr qint64 kOneDayUs = 86400LL * 1000000;

// A host name (IDNA allowed) or IPv4 address: labels of letters, digits and
// hyphens.
bool isHostName(const QString& host) {
  const QByteArray ace = QUrl::toAce(host);
  if (ace.isEmpty() || ace.size() > 253) return false;
  for (const QByteArray& label : ace.split('.')) {
    if (label.isEmpty() || label.size() > 63 || label.startsWith('-') || label.endsWith('-'))
      return false;
    for (const char c : label)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
  }
  return true;
}

std::optional<quint16> portNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 5) return std::nullopt;
  for (const QChar c : text)
    if (c < u'0' || c > u'9') return std::nullopt;
  const int port = text.toInt();
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<quint16>(port);
}

bool isIpv6(const QString& text) {
  return QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
}

// NTP timestamps: seconds since 1900 and a binary fraction. A seconds field
// with its top bit clear lies in the era that begins in 2036.
qint64 ntpToUnixUs(const uchar* p) {
  const quint32 seconds = qFromBigEndian<quint32>(p);
  const quint32 fraction = qFromBigEndian<quint32>(p + 4);
  const qint64 era = (seconds & 0x80000000u) ? 0 : (qint64(1) << 32);
  const qint64 unixS = qint64(seconds) + era - kNtpToUnixS;
  return unixS * 1000000 + static_cast<qint64>((quint64(fraction) * 1000000) >> 32);
}

void unixUsToNtp(qint64 us, uchar* p) {
  const qint64 unixS = us / 1000000;
  const qint64 restUs = us % 1000000;
  qToBigEndian(static_cast<quint32>(unixS + kNtpToUnixS), p);
  qToBigEndian(static_cast<quint32>((quint64(restUs) << 32) / 1000000), p + 4);
}

}  // namespace

std::optional<TimeServer> parseTimeServer(const QString& text) {
  const QString t = text.trimmed();
  TimeServer server;
  QString port;
  if (t.startsWith(u'[')) {
    const qsizetype close = t.indexOf(u']');
    if (close < 0) return std::nullopt;
    server.host = t.mid(1, close - 1);
    const QString rest = t.mid(close + 1);
    if (!rest.isEmpty()) {
      if (!rest.startsWith(u':')) return std::nullopt;
      port = rest.mid(1);
      if (port.isEmpty()) return std::nullopt;
    }
    if (!isIpv6(server.host)) return std::nullopt;
  } else if (t.count(u':') > 1) {
    if (!isIpv6(t)) return std::nullopt;  // a bare IPv6 address, no port
    server.host = t;
  } else {
    const qsizetype colon = t.indexOf(u':');
    server.host = colon < 0 ? t : t.left(colon);
    if (colon >= 0) {
      port = t.mid(colon + 1);
      if (port.isEmpty()) return std::nullopt;
    }
    if (!isHostName(server.host)) return std::nullopt;
  }
  if (!port.isEmpty()) {
    const std::optional<quint16> p = portNumber(port);
    if (!p) return std::nullopt;
    server.port = *p;
  }
  return server;
}

QByteArray sntpRequest(qint64 t1Us) {
  QByteArray packet(48, '\0');
  auto* p = reinterpret_cast<uchar*>(packet.data());
  p[0] = (0 << 6) | (4 << 3) | 3;  // no leap warning, version 4, client
  unixUsToNtp(t1Us, p + 40);
  // The lowest fraction bits (under a microsecond) are random, so a forged
  // reply cannot simply guess which request it answers.
  p[47] = static_cast<uchar>(QRandomGenerator::global()->generate());
  return packet;
}

SntpVerdict readSntpReply(const QByteArray& reply, const QByteArray& request, qint64 t1Us,
                          qint64 t4Us, SntpSample* sample) {
  if (reply.size() < 48 || request.size() < 48) return SntpVerdict::Ignore;
  const auto* p = reinterpret_cast<const uchar*>(reply.constData());
  const int leap = p[0] >> 6;
  const int version = (p[0] >> 3) & 7;
  const int mode = p[0] & 7;
  const int stratum = p[1];
  if (mode != 4 || version < 1 || version > 4) return SntpVerdict::Ignore;
  // Originate must echo our transmit timestamp exactly.
  if (reply.mid(24, 8) != request.mid(40, 8)) return SntpVerdict::Ignore;
  if (stratum == 0) return SntpVerdict::KissOfDeath;
  if (leap == 3 || stratum > 15) return SntpVerdict::Ignore;  // server not synchronised
  if (qFromBigEndian<quint64>(p + 40) == 0) return SntpVerdict::Ignore;

  const qint64 t2 = ntpToUnixUs(p + 32);  // receive
  const qint64 t3 = ntpToUnixUs(p + 40);  // transmit
  const qint64 offset = ((t2 - t1Us) + (t3 - t4Us)) / 2;
  const qint64 roundTrip = (t4Us - t1Us) - (t3 - t2);
  if (std::llabs(offset) > kOneDayUs || roundTrip < 0) return SntpVerdict::Ignore;
  *sample = {offset, roundTrip};
  return SntpVerdict::Sample;
}

SntpClient::SntpClient(QObject* parent) : QObject(parent) {
  replyTimer_.setSingleShot(true);
  connect(&replyTimer_, &QTimer::timeout, this, &SntpClient::nextSample);
  connect(&socket_, &QUdpSocket::readyRead, this, &SntpClient::onReadyRead);
}

SntpClient::~SntpClient() { cancel(); }

void SntpClient::measure(const TimeServer& server) {
  cancel();
  measuring_ = true;
  port_ = server.port;
  const QHostAddress literal(server.host);
  if (!literal.isNull()) {
    start(literal);
    return;
  }
  lookupId_ = QHostInfo::lookupHost(server.host, this, &SntpClient::onLookedUp);
}

void SntpClient::cancel() {
  if (lookupId_ >= 0) QHostInfo::abortHostLookup(lookupId_);
  lookupId_ = -1;
  replyTimer_.stop();
  socket_.abort();
  measuring_ = false;
  best_.reset();
  sent_ = 0;
}

void SntpClient::onLookedUp(const QHostInfo& info) {
  lookupId_ = -1;
  QHostAddress chosen;
  // IPv4 first: an IPv6 address without a route would cost every sample.
  for (const QHostAddress& a : info.addresses()) {
    if (chosen.isNull() || (a.protocol() == QAbstractSocket::IPv4Protocol &&
                            chosen.protocol() != QAbstractSocket::IPv4Protocol))
      chosen = a;
  }
  if (chosen.isNull()) {
    measuring_ = false;
    emit failed(Failure::HostNotFound);
    return;
  }
  start(chosen);
}

void SntpClient::start(const QHostAddress& address) {
  address_ = address;
  const bool v4 = address.protocol() == QAbstractSocket::IPv4Protocol;
  if (!socket_.bind(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0)) {
    measuring_ = false;
    emit failed(Failure::NoReply);
    return;
  }
  sendSample();
}

void SntpClient::sendSample() {
  ++sent_;
  t1Us_ = wallClockUs();
  request_ = sntpRequest(t1Us_);
  socket_.writeDatagram(request_, address_, port_);
  replyTimer_.start(kReplyTimeoutMs);
}

void SntpClient::onReadyRead() {
  while (socket_.hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket_.receiveDatagram();
    const qint64 t4 = wallClockUs();
    if (!measuring_ || !replyTimer_.isActive()) continue;  // late: its sample was given up
    if (!datagram.senderAddress().isEqual(address_, QHostAddress::TolerantConversion) ||
        datagram.senderPort() != port_)
      continue;
    SntpSample sample;
    switch (readSntpReply(datagram.data(), request_, t1Us_, t4, &sample)) {
      case SntpVerdict::Ignore:
        continue;
      case SntpVerdict::KissOfDeath:
        // The server asks us to stop: no more samples now.
        finish();
        return;
      case SntpVerdict::Sample:
        if (!best_ || sample.roundTripUs < best_->roundTripUs) best_ = sample;
        nextSample();
        return;
    }
  }
}

void SntpClient::nextSample() {
  replyTimer_.stop();
  if (sent_ < kSamples) {
    sendSample();
    return;
  }
  finish();
}

void SntpClient::finish() {
  const std::optional<SntpSample> best = best_;
  cancel();
  if (best)
    emit measured(best->offsetUs, best->roundTripUs);
  else
    emit failed(Failure::NoReply);
}

}  // namespace platform
