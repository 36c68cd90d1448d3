#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// nginx from Debian's nginx-light on 127.0.0.1, for what a stub of our own
// would only pretend to do: HTTP/2 over TLS (ALPN) and floods. It answers
// every request with 200 "OK" and logs "<connection> <protocol> <method>" per
// request. (No moc is needed, so benchmarks can compile it on their own.)
class NginxServer {
 public:
  static bool available();
  // tls: HTTP/2 over TLS with the test certificate; otherwise HTTP/1.1.
  bool start(bool tls);
  void stop();
  ~NginxServer() { stop(); }
  quint16 port() const { return port_; }
  QString url(const QString& path = QStringLiteral("/")) const;
  // The access log's lines so far.
  QStringList log() const;
  QString error() const { return error_; }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  quint16 port_ = 0;
  bool tls_ = false;
  QString error_;
};
