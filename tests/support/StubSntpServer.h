#pragma once
#include <QByteArray>
#include <QList>
#include <QMutex>

class QThread;
class QUdpSocket;

// A time server stand-in on 127.0.0.1 (RFC 4330, server mode), whose clock
// runs offsetMs ahead of this machine's wall clock. Each query gets the next
// scripted reply, then the default one. With Threading::OwnThread it answers
// from a thread of its own, so a test may block (QProcess::waitForFinished)
// or run the program as a separate process against it. Every public member
// is thread-safe; no moc is needed, so a benchmark may compile this file
// alone.
class StubSntpServer {
 public:
  enum class Behaviour {
    Answer,          // a good reply
    Silent,          // no reply at all
    KissOfDeath,     // stratum 0, "RATE"
    Unsynchronised,  // leap indicator 3
    WrongOrigin,     // originate timestamp not the query's transmit
    Short,           // 47 bytes
    OtherPort,       // a good reply, but sent from another port
  };
  struct Reply {
    Behaviour behaviour = Behaviour::Answer;
    int delayMs = 0;  // before answering
    // Stamp the receive time when answering, not on arrival: the delay then
    // looks like network time on the way there, which skews the offset.
    bool stampOnSend = false;
    double offsetMs = 0;  // the server clock's lead for this reply
  };
  enum class Threading { SameThread, OwnThread };

  explicit StubSntpServer(Threading threading = Threading::SameThread);
  ~StubSntpServer();
  StubSntpServer(const StubSntpServer&) = delete;
  StubSntpServer& operator=(const StubSntpServer&) = delete;

  bool listen();
  quint16 port() const;
  // "127.0.0.1:PORT", as the time_server setting takes it.
  QString address() const;

  // The server clock's lead over this machine (replies without a script).
  void setOffsetMs(double offsetMs);
  // Replies for the next queries, in order; then the default.
  void setScript(const QList<Reply>& replies);
  int queryCount() const;

  // Used by the server's socket.
  Reply nextReply();
  void countQuery();

 private:
  QUdpSocket* socket_ = nullptr;
  QUdpSocket* other_ = nullptr;  // the wrong port of Behaviour::OtherPort
  QThread* thread_ = nullptr;
  mutable QMutex mutex_;
  QList<Reply> script_;
  double offsetMs_ = 0;
  int queries_ = 0;
  quint16 port_ = 0;
};
