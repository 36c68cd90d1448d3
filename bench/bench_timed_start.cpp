// Timed start: how late the first registration request of a timed catch
// (without WHOIS, asynchronous, nothing displayed) arrives at the registrar
// stub after the set second, over 10 starts of
// `zembrin catch TASK --settings INI --at ...`:
//   - on the local clock (no time server), and with a time server stub on
//     127.0.0.1 whose clock runs 1.5 s ahead, the lateness then taken on the
//     stub's clock (the catch starts 1.5 s earlier by ours);
//   - 2 requests per second (the first request alone) with warming off (a
//     cold connection) and on, and a flood (frequency "0", its first request
//     stamped by a plain epoll registrar on a processor of its own, which
//     the flood's other requests cannot hold up) with warming on;
// next to a minimal client that sleeps until the second (clock_nanosleep,
// absolute) and then opens a connection and sends one request.
//
//   bench_timed_start [STARTS [ZEMBRIN]]   defaults: 10, the runner of this build
//   (ZEMBRIN: another build of the runner, e.g. an older one: local clock,
//   cold, 2 per second only)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "FirstArrivalServer.h"
#include "HeadlessCatch.h"
#include "support/StubHttpServer.cpp"
#include "support/StubSntpServer.cpp"
#include "support/TaskFixture.h"

namespace {

constexpr double kServerAheadMs = 1500;

qint64 clockNs(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// CLOCK_REALTIME minus CLOCK_MONOTONIC, to put the stub's arrival times on
// the wall clock.
qint64 wallMinusMonotonicNs() { return clockNs(CLOCK_REALTIME) - clockNs(CLOCK_MONOTONIC); }

// A whole second of the wall clock at least `aheadS` seconds from now.
qint64 secondAhead(int aheadS) { return (clockNs(CLOCK_REALTIME) / 1000000000 + 1 + aheadS); }

double percentile(QList<double> v, double p) {
  std::sort(v.begin(), v.end());
  const qsizetype i =
      std::clamp<qsizetype>(qsizetype(std::ceil(p * double(v.size()))) - 1, 0, v.size() - 1);
  return v[i];
}

void report(const char* how, const QList<double>& lateMs) {
  if (lateMs.isEmpty()) {
    std::printf("%-46s no requests\n", how);
    return;
  }
  const auto [lo, hi] = std::minmax_element(lateMs.begin(), lateMs.end());
  std::printf("%-46s n=%lld  p50=%.3f ms  max=%.3f ms  min=%.3f ms\n", how,
              static_cast<long long>(lateMs.size()), percentile(lateMs, 0.5), *hi, *lo);
  std::printf("%-46s", "");
  for (double x : lateMs) std::printf(" %.3f", x);
  std::printf("\n");
}

// The registrar of a run: where it listens, and when the first
// registration arrived (warm-ups go to "/"), monotonic ns, 0 for none.
struct Registrar {
  std::function<QString()> url;
  std::function<void()> clear;
  std::function<qint64()> first;
};

Registrar registrarOf(StubHttpServer& stub) {
  return {[&stub] { return stub.url(QStringLiteral("/reg")); }, [&stub] { stub.clearRecords(); },
          [&stub] {
            qint64 first = 0;
            for (const StubHttpServer::Request& r : stub.requests())
              if (r.target == "/reg" && (first == 0 || r.arrivalNs < first)) first = r.arrivalNs;
            return first;
          }};
}

Registrar registrarOf(FirstArrivalServer& server) {
  return {[&server] { return QStringLiteral("http://127.0.0.1:%1/reg").arg(server.port()); },
          [&server] { server.reset(); }, [&server] { return server.firstNs(); }};
}

// The first registration's arrival in ms after the set second (on a clock
// aheadMs ahead of ours); NaN when none arrived.
double firstLateness(qint64 first, qint64 second, double aheadMs) {
  if (first == 0) return std::nan("");
  const double wallMs = double(first + wallMinusMonotonicNs()) / 1e6;
  return wallMs + aheadMs - double(second) * 1000.0;
}

QList<double> minimalClient(int starts, StubHttpServer& stub) {
  QList<double> late;
  const QByteArray request =
      "POST /reg HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: 21\r\n\r\n"
      "user=bob&domain=a.com";
  for (int i = 0; i < starts; ++i) {
    stub.clearRecords();
    const qint64 second = secondAhead(0);
    const timespec at{static_cast<time_t>(second), 0};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(stub.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) [[maybe_unused]]
      const ssize_t n = ::write(fd, request.constData(), request.size());
    stub.waitForRequests(1, 2000);
    ::close(fd);
    late << firstLateness(registrarOf(stub).first(), second, 0);
  }
  return late;
}

QList<double> timedStarts(int starts, const Registrar& registrar, const QString& timeServer,
                          double aheadMs, int perSecond, bool warm, const QString& program) {
  TaskFixture f;
  f.setSimpleTask(registrar.url());
  f.view.setIndex(Ctl::radio_send_type, 1);  // POST
  f.view.setIndex(Ctl::radio_post_type, 1);  // 异步(快)
  f.view.setIndex(Ctl::radio_send_info, 0);
  f.view.setIndex(Ctl::radio_return_info, 0);
  f.view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QString::number(perSecond)));
  f.view.setText(Ctl::reg_second, QStringLiteral("1"));
  const QByteArray ini =
      "[option]\r\ncheck_whois=0\r\nwarm_connections=" + QByteArray(warm ? "4" : "0") +
      "\r\ntime_server=" + timeServer.toUtf8() + "\r\n";
  QList<double> late;
  for (int i = 0; i < starts; ++i) {
    QTemporaryDir dir;
    registrar.clear();
    // On the server's clock, a second far enough ahead for the runner to
    // start, arm and prepare.
    const qint64 second = secondAhead(3 + int(std::ceil(aheadMs / 1000)));
    const QString at =
        QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!runHeadlessCatch(f.w, ini, dir, 60000, {QStringLiteral("--at"), at}, program)) break;
    late << firstLateness(registrar.first(), second, aheadMs);
  }
  return late;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const QString program = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(ZEMBRIN_BIN);
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  if (!stub.listen()) return 1;
  FirstArrivalServer fast;
  if (fast.port() == 0) return 1;
  FirstArrivalServer::keepOffRegistrarProcessor();
  StubSntpServer sntp(StubSntpServer::Threading::OwnThread);
  if (!sntp.listen()) return 1;
  sntp.setOffsetMs(kServerAheadMs);

  std::printf(
      "timed start: first registration's arrival after the set second, %d starts each "
      "(catch without WHOIS)\n",
      starts);
  report("minimal client (sleep to the second, send)", minimalClient(starts, stub));
  struct Way {
    const char* name;
    bool timeServer;
    int perSecond;
    bool warm;
  };
  const Way ways[] = {
      {"local clock, 2/s, cold", false, 2, false},  {"time server, 2/s, cold", true, 2, false},
      {"local clock, 2/s, warm", false, 2, true},   {"time server, 2/s, warm", true, 2, true},
      {"local clock, flood, warm", false, 0, true}, {"time server, flood, warm", true, 0, true},
  };
  for (const Way& way : ways) {
    if (argc > 2 && (way.timeServer || way.warm || way.perSecond == 0)) continue;
    // A flood's first request is stamped by a registrar the flood cannot hold up.
    const Registrar registrar = way.perSecond == 0 ? registrarOf(fast) : registrarOf(stub);
    report((QByteArray("zembrin catch --at, ") + way.name).constData(),
           timedStarts(starts, registrar, way.timeServer ? sntp.address() : QString(),
                       way.timeServer ? kServerAheadMs : 0, way.perSecond, way.warm, program));
  }
  std::printf("target: within 2 ms after the second, never before it\n");
  return 0;
}
