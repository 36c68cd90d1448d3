// The sending engine as a user runs it on a server: the headless runner
// (`zembrin catch TASK --settings INI`) against stubs on loopback, each figure
// next to its baseline from the same run.
//
//   first catch   one-domain WHOIS catch, deletion reply 1.5 s after the
//                 query: reaction (deletion reply sent -> registration
//                 arrived) cold (warming off) and warm, over HTTP and HTTPS
//                 (TLS stub, test CA through SSL_CERT_FILE), next to a
//                 minimal client that blocks on the same WHOIS reply and
//                 then writes on an open connection; and warm against a
//                 registrar that closes idle connections after 400 ms
//   20 drops      20 domains deleted at once over HTTPS, registrar answering
//                 in 300 ms: p50, p99, max, by warm connections
//   after stop    200/s against a registrar answering in 2 s, SIGINT after
//                 2 s: requests that arrived after the stop
//   flood         frequency 0 against nginx (nginx-light, `return 200`) for
//                 SECONDS, HTTP/1.1 and HTTP/2: arrivals per second, the
//                 summary's sent count against arrivals, the ratio to
//                 `wrk -t1 -c6` against the same nginx (HTTP/1.1) and, for
//                 HTTP/2, to `h2load -c1 -m100` (nghttp2-client)
//
//   idle cost     processor time of the runner over 10 s of waiting for a
//                 registration's reply, a WHOIS reply and in a WHOIS pause,
//                 warming off and on
//
//   bench_sending [RUNS [SECONDS [first|drops|stop|flood|idle]]]
//                                      defaults: 7 runs per first-catch case, 5 s floods, all parts
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>

#include "support/NginxServer.cpp"
#include "support/StubHttpServer.cpp"
#include "support/StubWhoisServer.cpp"
#include "support/TaskFixture.h"
#include "task/TaskFile.h"

namespace {

struct Stats {
  double p50 = 0, p99 = 0, max = 0;
  int n = 0;
};

Stats stats(QList<double> v) {
  Stats s;
  if (v.isEmpty()) return s;
  std::sort(v.begin(), v.end());
  const auto at = [&](double q) {
    return v[std::min<qsizetype>(v.size() - 1, qsizetype(q * (v.size() - 1) + 0.5))];
  };
  s.p50 = at(0.5);
  s.p99 = at(0.99);
  s.max = v.last();
  s.n = int(v.size());
  return s;
}

void printStats(const char* what, const Stats& s, const char* unit = "ms") {
  std::printf("  %-44s n=%-4d p50=%8.3f %s  p99=%8.3f %s  max=%8.3f %s\n", what, s.n, s.p50, unit,
              s.p99, unit, s.max, unit);
  std::fflush(stdout);
}

struct Runner {
  QTemporaryDir dir;
  QProcess process;
  QString err;

  bool writeFiles(const TaskWindow& task, const QByteArray& ini) {
    QString error;
    if (!writeTaskFile(task, dir.filePath(QStringLiteral("task.txt")), &error)) return false;
    QFile f(dir.filePath(QStringLiteral("zembrin.ini")));
    return f.open(QIODevice::WriteOnly) && f.write(ini) == ini.size();
  }
  void start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SSL_CERT_FILE"),
               StubHttpServer::tlsFixture(QStringLiteral("ca.pem")));
    if (qEnvironmentVariableIsSet("BENCH_BINDNOW"))
      env.insert(QStringLiteral("LD_BIND_NOW"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(ZEMBRIN_BIN));
    process.setArguments({QStringLiteral("catch"), dir.filePath(QStringLiteral("task.txt")),
                          QStringLiteral("--settings"),
                          dir.filePath(QStringLiteral("zembrin.ini"))});
    process.setStandardOutputFile(qEnvironmentVariableIsSet("BENCH_DEBUG")
                                      ? QStringLiteral("/tmp/bench_out.txt")
                                      : QProcess::nullDevice());
    process.start();
    process.waitForStarted();
  }
  bool finish(int timeoutMs) {
    const bool ok = process.waitForFinished(timeoutMs);
    err = QString::fromUtf8(process.readAllStandardError());
    return ok && process.exitCode() == 0;
  }
  qint64 summary(const char* key) const {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("\\[summary\\].* %1=(\\d+)").arg(QLatin1String(key)))
            .match(err);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
  }
};

QByteArray whoisIni(quint16 whoisPort, int warm) {
  return QStringLiteral(
             "[option]\r\ncheck_whois=1\r\nwhois_after_reg=0\r\nwhois_time=0\r\nwarm_connections=%"
             "2\r\n"
             "whois_no=1\r\nwhois_server_1=.com|||127.0.0.1|||%1|||No match for|||Expiration Date: "
             "|||\r\n")
      .arg(whoisPort)
      .arg(warm)
      .toUtf8();
}

// Reactions (ms) of a WHOIS catch of `domains`, all deleted deletedAfterMs
// after their query.
QList<double> whoisCatch(bool tls, int warm, const QStringList& domains, int deletedAfterMs,
                         int replyMs, int idleCloseMs = 0) {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  registrar.listen(tls);
  registrar.setIdleCloseMs(idleCloseMs);
  StubHttpServer::Reply reply;
  reply.delayMs = replyMs;
  registrar.setReply(reply);
  StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
  whois.listen();
  for (const QString& d : domains) {
    StubWhoisServer::Script s =
        StubWhoisServer::reply("No match for \"" + d.toUpper().toUtf8() + "\".\r\n");
    // The first deletion comes late enough for warming; the rest at once, as
    // a batch that drops together.
    s.delayMs = d == domains.first() ? deletedAfterMs : 0;
    whois.setScript(d, s);
  }
  TaskFixture f;
  f.setSimpleTask(registrar.url(QStringLiteral("/reg")), domainLines(domains));
  f.view.setIndex(Ctl::radio_send_type, 1);
  f.view.setIndex(Ctl::radio_post_type, 1);
  f.view.setIndex(Ctl::radio_return_info, 0);  // "不返回": no wait between drops
  Runner r;
  if (!r.writeFiles(f.w, whoisIni(whois.port(), warm))) return {};
  r.start();
  if (!r.finish(60000)) std::fprintf(stderr, "runner: %s\n", qPrintable(r.err.right(400)));
  if (qEnvironmentVariableIsSet("BENCH_DEBUG")) std::fprintf(stderr, "%s\n", qPrintable(r.err));
  QHash<QString, qint64> sentAt;
  for (const auto& q : whois.queries()) sentAt.insert(q.domain, q.replySentNs);
  QList<double> ms;
  for (const auto& req : registrar.requests()) {
    if (req.method == "HEAD") continue;
    const QString d =
        QString::fromUtf8(req.body).section(QStringLiteral("domain="), 1).section(u'&', 0, 0);
    if (sentAt.contains(d)) ms << (req.arrivalNs - sentAt.value(d)) / 1e6;
  }
  return ms;
}

// A minimal client: it asks the WHOIS stub as a catch does, blocks on the
// reply, and writes the registration on a connection already open (and
// handshaken); from the stub's deletion reply to the registrar's arrival,
// as a catch is measured.
QList<double> minimalClient(bool tls, int runs, int deletedAfterMs) {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  registrar.listen(tls);
  StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
  whois.listen();
  StubWhoisServer::Script deleted = StubWhoisServer::reply("No match for \"A.COM\".\r\n");
  deleted.delayMs = deletedAfterMs;
  whois.setScript(QStringLiteral("a.com"), deleted);
  QSslSocket socket;
  QSslConfiguration c = QSslConfiguration::defaultConfiguration();
  c.setCaCertificates(
      QSslCertificate::fromPath(StubHttpServer::tlsFixture(QStringLiteral("ca.pem"))));
  socket.setSslConfiguration(c);
  if (tls) {
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), registrar.port());
    if (!socket.waitForEncrypted(5000)) return {};
  } else {
    socket.connectToHost(QStringLiteral("127.0.0.1"), registrar.port());
    if (!socket.waitForConnected(5000)) return {};
  }
  socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  const QByteArray body = "user=bob&domain=a.com";
  const QByteArray req = "POST /reg HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body;
  QList<double> ms;
  for (int i = 0; i < runs; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(whois.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char reply[256];
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::write(fd, "a.com\r\n", 7) != 7 || ::read(fd, reply, sizeof reply) <= 0) {
      ::close(fd);
      return ms;
    }
    socket.write(req);
    socket.flush();
    ::close(fd);
    registrar.waitForRequests(i + 1, 5000);
    const QList<StubWhoisServer::Query> queries = whois.queries();
    ms << (registrar.requests().value(i).arrivalNs - queries.value(i).replySentNs) / 1e6;
    while (socket.bytesAvailable() == 0 && socket.waitForReadyRead(2000)) {
    }
    socket.readAll();
  }
  return ms;
}

void firstCatch(int runs) {
  std::printf(
      "first catch of a run (one domain, deletion 1.5 s after the query), headless runner:\n");
  for (bool tls : {false, true}) {
    const char* scheme = tls ? "HTTPS" : "HTTP";
    printStats(qPrintable(QStringLiteral("%1 minimal client, open connection").arg(scheme)),
               stats(minimalClient(tls, runs, 1500)));
    for (int warm : {0, 4}) {
      QList<double> all;
      for (int i = 0; i < runs; ++i)
        all += whoisCatch(tls, warm, {QStringLiteral("a.com")}, 1500, 0);
      printStats(qPrintable(QStringLiteral("%1 catch, %2")
                                .arg(scheme, warm ? QStringLiteral("warm (4 connections)")
                                                  : QStringLiteral("cold (warming off)"))),
                 stats(all));
    }
  }
  // The registrar drops idle connections after 400 ms: the warm ones are
  // opened again before the deletion.
  QList<double> all;
  for (int i = 0; i < runs; ++i)
    all += whoisCatch(true, 4, {QStringLiteral("a.com")}, 1500, 0, 400);
  printStats("HTTPS catch, warm, idle ones closed at 400 ms", stats(all));
}

void twentyDrops() {
  std::printf("20 simultaneous drops over HTTPS, registrar answering in 300 ms:\n");
  QStringList domains;
  for (int i = 0; i < 20; ++i) domains << QStringLiteral("d%1.com").arg(i, 2, 10, QLatin1Char('0'));
  for (int warm : {0, 4, 20})
    printStats(qPrintable(QStringLiteral("warm_connections=%1").arg(warm)),
               stats(whoisCatch(true, warm, domains, 1500, 300)));
}

void afterStop() {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  registrar.listen();
  StubHttpServer::Reply reply;
  reply.delayMs = 2000;
  registrar.setReply(reply);
  registrar.setRecordDetails(false);
  TaskFixture f;
  f.setSimpleTask(registrar.url(QStringLiteral("/reg")), domainLines({QStringLiteral("a.com")}));
  f.view.setIndex(Ctl::radio_send_type, 1);
  f.view.setIndex(Ctl::radio_post_type, 1);
  f.view.setIndex(Ctl::radio_send_info, 0);
  f.view.setIndex(Ctl::radio_return_info, 0);
  f.view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QStringLiteral("200")));
  f.view.setText(Ctl::reg_second, QStringLiteral("60"));
  Runner r;
  r.writeFiles(f.w, "[option]\r\ncheck_whois=0\r\nwarm_connections=0\r\n");
  r.start();
  QThread::msleep(2000);
  const qint64 stopNs = StubHttpServer::monotonicNs();
  ::kill(static_cast<pid_t>(r.process.processId()), SIGINT);
  r.finish(20000);
  int after = 0;
  for (qint64 t : registrar.arrivalTimesNs()) after += t > stopNs + 1000000;
  std::printf(
      "after a stop (200/s, registrar answering in 2 s, SIGINT after 2 s):\n"
      "  arrived after the stop: %d   sent=%lld   arrived=%d\n",
      after, static_cast<long long>(r.summary("sent")), registrar.requestCount());
}

double wrkRate(const QString& url, int seconds) {
  QProcess wrk;
  wrk.start(QStringLiteral("wrk"), {QStringLiteral("-t1"), QStringLiteral("-c6"),
                                    QStringLiteral("-d%1s").arg(seconds), url});
  if (!wrk.waitForFinished(seconds * 1000 + 30000)) return 0;
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Requests/sec:\\s*([0-9.]+)"))
                                        .match(QString::fromLocal8Bit(wrk.readAllStandardOutput()));
  return m.hasMatch() ? m.captured(1).toDouble() : 0;
}

// h2load's rate over one TLS connection with 100 streams at once: the HTTP/2
// baseline (h2load does not check the test certificate); 0 when it is missing.
double h2loadRate(const QString& url, int seconds) {
  QProcess h2load;
  h2load.start(QStringLiteral("h2load"), {QStringLiteral("-c1"), QStringLiteral("-m100"),
                                          QStringLiteral("-D"), QString::number(seconds), url});
  if (!h2load.waitForFinished(seconds * 1000 + 30000)) return 0;
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("finished in [0-9.]+s, ([0-9.]+) req/s"))
          .match(QString::fromLocal8Bit(h2load.readAllStandardOutput()));
  return m.hasMatch() ? m.captured(1).toDouble() : 0;
}

void flood(int seconds) {
  std::printf("flood (frequency 0, asynchronous, no display, %d s) against nginx:\n", seconds);
  NginxServer plain, h2;
  if (!plain.start(false) || !h2.start(true)) {
    std::printf("  nginx did not start: %s\n", qPrintable(plain.error() + h2.error()));
    return;
  }
  const double wrk = wrkRate(plain.url(QStringLiteral("/reg")), seconds);
  std::printf("  %-44s %10.0f requests/s\n", "wrk -t1 -c6 (HTTP/1.1)", wrk);
  const double h2load = h2loadRate(h2.url(QStringLiteral("/reg")), seconds);
  std::printf("  %-44s %10.0f requests/s\n", "h2load -c1 -m100 (HTTP/2 over TLS)", h2load);
  for (NginxServer* n : {&plain, &h2}) {
    TaskFixture f;
    f.setSimpleTask(n->url(QStringLiteral("/reg")),
                    domainLines({QStringLiteral("a.com"), QStringLiteral("b.com")}));
    f.view.setIndex(Ctl::radio_send_type, 1);
    f.view.setIndex(Ctl::radio_post_type, 1);
    f.view.setIndex(Ctl::radio_send_info, 0);
    f.view.setIndex(Ctl::radio_return_info, 0);
    f.view.setIndex(Ctl::frequence, 0);
    f.view.setText(Ctl::reg_second, QString::number(seconds));
    Runner r;
    r.writeFiles(f.w, "[option]\r\ncheck_whois=0\r\nwarm_connections=0\r\n");
    const int before = n->log().size();
    r.start();
    r.finish(seconds * 1000 + 60000);
    QThread::msleep(300);  // nginx writes its log as it answers
    const QStringList lines = n->log().mid(before);
    const int arrived = int(lines.size());
    const double rate = arrived / double(seconds);
    const bool isH2 = n == &h2;
    std::printf("  %-44s %10.0f requests/s arrived   sent=%lld arrived=%d   %.2f x wrk",
                isH2 ? "zembrin, HTTP/2 over TLS" : "zembrin, HTTP/1.1", rate,
                static_cast<long long>(r.summary("sent")), arrived, wrk > 0 ? rate / wrk : 0.0);
    if (isH2) std::printf("   %.2f x h2load", h2load > 0 ? rate / h2load : 0.0);
    std::printf("\n");
  }
  std::printf("  target: at least 0.35 x wrk, sent equal to arrived\n");
}

// Processor time (user + system) a process has used, in seconds.
double cpuSeconds(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  // Fields after the command's closing parenthesis: utime is the 12th, stime the 13th.
  const QByteArray text = stat.readAll();
  const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
  if (f.size() < 13) return -1;
  return (f[11].toDouble() + f[12].toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

// The runner's share of one core over 10 s of waiting, from 1.5 s after its
// start (once it is set up and waiting), with warming off and on.
void idleCost() {
  std::printf(
      "idle cost: processor time of the runner over 10 s of waiting (registrar over HTTPS):\n");
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  registrar.listen(true);  // warm connections over TLS, as registrars are
  StubHttpServer::Reply slow;
  slow.delayMs = 30000;
  StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
  whois.listen();
  // Expiring within the window the watch keeps: queried again after each pause.
  const QByteArray soon = QDate::currentDate().addDays(100).toString(Qt::ISODate).toUtf8();
  whois.setScript(QStringLiteral("a.com"),
                  StubWhoisServer::reply("Expiration Date: " + soon + "T00:00:00Z\r\n"));
  StubWhoisServer::Script late = StubWhoisServer::reply("No match for \"B.COM\".\r\n");
  late.delayMs = 30000;
  whois.setScript(QStringLiteral("b.com"), late);
  struct Case {
    const char* what;
    QString domain;
    bool whois;
  };
  for (const Case& c :
       {Case{"a registration's reply (registrar: 30 s)", QStringLiteral("a.com"), false},
        Case{"a WHOIS reply (server: 30 s)", QStringLiteral("b.com"), true},
        Case{"a WHOIS pause (whois_time=10)", QStringLiteral("a.com"), true}}) {
    for (int warm : {0, 4}) {
      registrar.setReply(c.whois ? StubHttpServer::Reply() : slow);
      TaskFixture f;
      f.setSimpleTask(registrar.url(QStringLiteral("/reg")), domainLines({c.domain}));
      f.view.setIndex(Ctl::radio_send_type, 1);
      f.view.setIndex(Ctl::radio_post_type, 0);  // 同步(慢): waits for its reply
      f.view.setText(Ctl::reg_second, QStringLiteral("60"));
      f.view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QStringLiteral("1")));
      QByteArray ini = c.whois
                           ? whoisIni(whois.port(), warm)
                           : QStringLiteral("[option]\r\ncheck_whois=0\r\nwarm_connections=%1\r\n")
                                 .arg(warm)
                                 .toUtf8();
      ini.replace("whois_time=0", "whois_time=10");
      ini += "whois_timeout=60\r\n";
      const int requestsBefore = registrar.requestCount();
      const int queriesBefore = whois.queryCount();
      Runner r;
      r.writeFiles(f.w, ini);
      r.start();
      QThread::msleep(1500);
      const double before = cpuSeconds(r.process.processId());
      QThread::msleep(10000);
      const double used = cpuSeconds(r.process.processId()) - before;
      ::kill(static_cast<pid_t>(r.process.processId()), SIGINT);
      r.finish(20000);
      // What it waited on: the requests (warm-ups included) and queries it made.
      std::printf(
          "  waiting for %-42s warm_connections=%d  %5.2f%% of a core   (%d HTTP, %d WHOIS)\n",
          c.what, warm, before < 0 ? -1.0 : used / 10.0 * 100.0,
          registrar.requestCount() - requestsBefore, whois.queryCount() - queriesBefore);
    }
  }
  std::printf("  target: under 2%% of a core\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  if (only.isEmpty() || only == QStringLiteral("first")) firstCatch(runs);
  if (only.isEmpty() || only == QStringLiteral("drops")) twentyDrops();
  if (only.isEmpty() || only == QStringLiteral("stop")) afterStop();
  if (only.isEmpty() || only == QStringLiteral("flood")) flood(seconds);
  if (only.isEmpty() || only == QStringLiteral("idle")) idleCost();
  return 0;
}
