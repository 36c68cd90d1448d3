#include "support/NginxServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "support/StubHttpServer.h"

namespace {
QString nginxBinary() {
  const QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"));
  if (!found.isEmpty()) return found;
  return QFile::exists(QStringLiteral("/usr/sbin/nginx")) ? QStringLiteral("/usr/sbin/nginx")
                                                          : QString();
}

quint16 freePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}
}  // namespace

bool NginxServer::available() { return !nginxBinary().isEmpty(); }

bool NginxServer::start(bool tls) {
  tls_ = tls;
  port_ = freePort();
  const QString d = dir_.path();
  const QString listen = QStringLiteral("listen 127.0.0.1:%1%2;")
                             .arg(port_)
                             .arg(tls ? QStringLiteral(" ssl http2") : QString());
  const QString ssl = tls ? QStringLiteral("ssl_certificate %1; ssl_certificate_key %2;")
                                .arg(StubHttpServer::tlsFixture(QStringLiteral("server.pem")),
                                     StubHttpServer::tlsFixture(QStringLiteral("server.key")))
                          : QString();
  const QString conf =
      QStringLiteral(
          "daemon off; worker_processes 1; pid %1/nginx.pid; error_log %1/error.log;\n"
          "events { worker_connections 4096; }\n"
          "http {\n"
          "  log_format plain '$connection $server_protocol $request_method';\n"
          "  access_log %1/access.log plain;\n"
          "  client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n"
          "  fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
          "  keepalive_requests 1000000; http2_max_requests 1000000;\n"
          "  server { %2 %3 location / { return 200 \"OK\"; } }\n"
          "}\n")
          .arg(d, listen, ssl);
  QFile f(d + QStringLiteral("/nginx.conf"));
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(conf.toUtf8());
  f.close();
  process_.setProgram(nginxBinary());
  process_.setArguments({QStringLiteral("-p"), d, QStringLiteral("-c"),
                         d + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                         d + QStringLiteral("/error.log")});
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.start();
  if (!process_.waitForStarted(5000)) return false;
  for (int i = 0; i < 100; ++i) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port_);
    if (probe.waitForConnected(100)) return true;
    if (process_.state() == QProcess::NotRunning) break;
    QThread::msleep(50);
  }
  QFile err(d + QStringLiteral("/error.log"));
  if (err.open(QIODevice::ReadOnly)) error_ = QString::fromUtf8(err.readAll());
  error_ += QString::fromUtf8(process_.readAll());
  return false;
}

void NginxServer::stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(3000)) process_.kill();
  process_.waitForFinished(1000);
}

QString NginxServer::url(const QString& path) const {
  return QStringLiteral("%1://127.0.0.1:%2%3")
      .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
      .arg(port_)
      .arg(path);
}

QStringList NginxServer::log() const {
  QFile f(dir_.path() + QStringLiteral("/access.log"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
  return lines;
}
