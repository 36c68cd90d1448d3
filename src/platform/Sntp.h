#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <optional>

class QHostInfo;

namespace platform {

// A time server as the setting names it: host[:port], the host a name, an
// IPv4 address or an IPv6 address (in brackets when a port follows).
struct TimeServer {
  QString host;
  quint16 port = 123;
};
// Empty when the text is no host[:port].
std::optional<TimeServer> parseTimeServer(const QString& text);

// One SNTP exchange (RFC 4330): the server's clock minus ours, and the round
// trip without the server's own time.
struct SntpSample {
  qint64 offsetUs = 0;
  qint64 roundTripUs = 0;
};
enum class SntpVerdict { Sample, Ignore, KissOfDeath };

// The 48-byte client request sent at t1Us.
QByteArray sntpRequest(qint64 t1Us);
// Judges a reply to `request` (sent at t1Us, the reply read at t4Us). A reply
// that is short, not from a server, unsynchronised, not for this request or
// more than a day off is to be ignored; a kiss-o'-death asks us to stop.
SntpVerdict readSntpReply(const QByteArray& reply, const QByteArray& request, qint64 t1Us,
                          qint64 t4Us, SntpSample* sample);

// Measures the local clock's offset from a time server: a few queries, each
// sent once the previous one is answered or given up, keeping the sample
// with the shortest round trip. Event-driven: measure() returns at once and
// measured() or failed() follows.
class SntpClient : public QObject {
  Q_OBJECT
 public:
  enum class Failure { HostNotFound, NoReply };
  static constexpr int kSamples = 4;
  static constexpr int kReplyTimeoutMs = 1000;

  explicit SntpClient(QObject* parent = nullptr);
  ~SntpClient() override;

  // Starts a measurement; one already running is abandoned.
  void measure(const TimeServer& server);
  void cancel();
  bool isMeasuring() const { return measuring_; }

 signals:
  void measured(qint64 offsetUs, qint64 roundTripUs);
  void failed(platform::SntpClient::Failure why);

 private:
  void onLookedUp(const QHostInfo& info);
  void start(const QHostAddress& address);
  void sendSample();
  void onReadyRead();
  void nextSample();
  void finish();

  quint16 port_ = 123;
  QHostAddress address_;
  int lookupId_ = -1;
  bool measuring_ = false;
  QUdpSocket socket_;
  QTimer replyTimer_;
  int sent_ = 0;
  QByteArray request_;
  qint64 t1Us_ = 0;
  std::optional<SntpSample> best_;
};

}  // namespace platform
