// Pacing: a catch without WHOIS at 200 requests per second for 10 s
// (asynchronous, nothing displayed). Request n is due (n - 1) x 5 ms after the
// start; this prints how late each one arrived at the registrar stub (max,
// p99, p50), in this process through SendFormLoop and through the headless
// runner (`zembrin catch TASK --settings INI`, check_whois=0).
//
// The run's clock starts inside the sender, so its origin is not visible from
// here. Two bases are printed: the moment SendFormLoop is called (in-process
// only, with the request ring and the HTTP engine set up ahead as a timed
// start has them), and the best-case origin, the earliest arrival minus its
// due offset (lateness relative to the most punctual request).
//
//   bench_pacing [SECONDS [PER_SECOND [REPLY_MS]]]   defaults: 10 s, 200 per second,
//                                                    a registrar answering in 400 ms
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "HeadlessCatch.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "sending/HttpExchange.h"
#include "sending/Senders.h"
#include "support/StubHttpServer.cpp"
#include "support/TaskFixture.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {

void setUpTask(TaskFixture& f, const QString& url, int seconds, int perSecond) {
  f.setSimpleTask(url, QStringLiteral("domain===a.com\r\ndomain===b.com\r\ndomain===c.com"));
  f.view.setIndex(Ctl::radio_send_type, 1);  // POST
  f.view.setIndex(Ctl::radio_post_type, 1);  // 异步(快)
  f.view.setIndex(Ctl::radio_send_info, 0);
  f.view.setIndex(Ctl::radio_return_info, 0);
  f.view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QString::number(perSecond)));
  f.view.setIndex(Ctl::send_interval, 0);  // 秒
  f.view.setText(Ctl::reg_second, QString::number(seconds));
}

double percentile(QList<double> v, double p) {
  std::sort(v.begin(), v.end());
  const qsizetype i =
      std::clamp<qsizetype>(qsizetype(std::ceil(p * double(v.size()))) - 1, 0, v.size() - 1);
  return v[i];
}

qint64 bestCaseOrigin(const QList<qint64>& arrivals, double intervalMs) {
  qint64 origin = arrivals.isEmpty() ? 0 : arrivals.first();
  for (qsizetype n = 0; n < arrivals.size(); ++n)
    origin = std::min(origin, arrivals[n] - qint64(double(n) * intervalMs * 1e6));
  return origin;
}

void report(const char* how, const QList<qint64>& arrivals, qint64 startNs, double intervalMs) {
  QList<double> late;
  for (qsizetype n = 0; n < arrivals.size(); ++n)
    late << (arrivals[n] - startNs) / 1e6 - double(n) * intervalMs;
  if (late.isEmpty()) {
    std::printf("%-34s no requests\n", how);
    return;
  }
  const auto [lo, hi] = std::minmax_element(late.begin(), late.end());
  int over2 = 0;
  for (double x : late)
    if (std::abs(x) > 2.0) ++over2;
  std::printf(
      "%-34s n=%lld  lateness max=%.3f ms  p99=%.3f ms  p50=%.3f ms  min=%.3f ms  "
      "beyond 2 ms: %d\n",
      how, static_cast<long long>(late.size()), *hi, percentile(late, 0.99), percentile(late, 0.50),
      *lo, over2);
  if (over2 > 0) {
    std::printf("%-34s beyond 2 ms (request: ms):", "");
    int shown = 0;
    for (qsizetype n = 0; n < late.size() && shown < 12; ++n)
      if (std::abs(late[n]) > 2.0) {
        std::printf(" %lld: %.2f", static_cast<long long>(n + 1), late[n]);
        ++shown;
      }
    std::printf("\n");
  }
}

int g_replyMs = 400;

void slowReplies(StubHttpServer& stub) {
  StubHttpServer::Reply r;
  r.delayMs = g_replyMs;
  stub.setReply(r);
}

QList<qint64> runInProcess(int seconds, int perSecond, qint64* startNs) {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  stub.setRecordDetails(false);
  stub.listen();
  slowReplies(stub);
  TaskFixture f;
  f.settings.check_whois = false;
  setUpTask(f, stub.url(QStringLiteral("/reg")), seconds, perSecond);
  if (!ValidateTask(f.w)) {
    std::fprintf(stderr, "task refused: %s\n", qPrintable(f.prompter.messages().join('|')));
    return {};
  }
  f.w.send_mode = SendMode::CatchWithoutWhois;
  f.w.time_base = f.w.run_start = platform::now();
  f.w.duration_s = f.w.durationFromWindow();
  BuildVariableTables(f.w);
  // Set up ahead, as a timed start does, so the call's moment is the run's.
  platform::prepareHttp();
  f.w.loop_ring = std::make_shared<RequestRing>(
      requestRingSize(f.w.intervalFromWindow(), SendMode::CatchWithoutWhois));
  *startNs = StubHttpServer::monotonicNs();
  SendFormLoop(f.w);
  waitForRequestsInFlight(5000);
  return stub.arrivalTimesNs();
}

QList<qint64> runHeadless(int seconds, int perSecond, const QTemporaryDir& dir) {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  stub.setRecordDetails(false);
  stub.listen();
  slowReplies(stub);
  TaskFixture f;
  setUpTask(f, stub.url(QStringLiteral("/reg")), seconds, perSecond);
  if (!runHeadlessCatch(f.w, "[option]\r\ncheck_whois=0\r\nwarm_connections=0\r\n", dir,
                        seconds * 1000 + 60000))
    return {};
  return stub.arrivalTimesNs();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int perSecond = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  g_replyMs = argc > 3 ? std::max(0, std::atoi(argv[3])) : 400;
  if (!frequenceEntries().contains(QString::number(perSecond))) {
    std::fprintf(stderr, "PER_SECOND must be an entry of the frequency list\n");
    return 64;
  }
  const double intervalMs = 1000.0 / perSecond;
  QTemporaryDir dir;
  std::printf(
      "pacing: %d requests per second for %d s (due every %.3f ms), asynchronous, "
      "no display, registrar answering in %d ms\n",
      perSecond, seconds, intervalMs, g_replyMs);

  qint64 start = 0;
  const QList<qint64> inProcess = runInProcess(seconds, perSecond, &start);
  report("in-process (from the call)", inProcess, start, intervalMs);
  report("in-process (best-case origin)", inProcess, bestCaseOrigin(inProcess, intervalMs),
         intervalMs);
  const QList<qint64> headless = runHeadless(seconds, perSecond, dir);
  report("headless (best-case origin)", headless, bestCaseOrigin(headless, intervalMs), intervalMs);
  // The runner's own count of requests on the wire more than 2 ms after their
  // due time, to tell its lateness from the stub's (same process as this).
  QFile err(dir.filePath(QStringLiteral("stderr.txt")));
  if (err.open(QIODevice::ReadOnly))
    for (const QByteArray& line : err.readAll().split('\n'))
      if (line.startsWith("[summary]"))
        std::printf("%-34s %s\n", "headless, runner's own", line.constData());
  std::printf("target: every request within 2 ms of its due time\n");
  return inProcess.isEmpty() ? 1 : 0;
}
