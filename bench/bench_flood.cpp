// Flood rate: a catch without WHOIS at frequency "0" (no limit), asynchronous
// ("异步(快)"), nothing displayed ("不显示", "不返回"): requests per second
// arriving at a registrar stub that answers at once, printed next to what
// `wrk -c 6` reaches against the same stub in the same run. The catch runs in
// this process through SendFormLoop and, as a user would run it, through the
// headless runner (`zembrin catch TASK --settings INI`, check_whois=0).
//
//   bench_flood [SECONDS [all|wrk|loop|runner]]      default 5 s, all three
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

#include "HeadlessCatch.h"
#include "platform/Clock.h"
#include "sending/Senders.h"
#include "support/StubHttpServer.cpp"
#include "support/TaskFixture.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {

QString dynLines(int n) {
  QStringList domains;
  for (int i = 0; i < n; ++i) domains << QStringLiteral("d%1.com").arg(i, 4, 10, QLatin1Char('0'));
  return domainLines(domains);
}

void setUpTask(TaskFixture& f, const QString& url, int seconds) {
  f.setSimpleTask(url, dynLines(100));
  f.view.setIndex(Ctl::radio_send_type, 1);  // POST
  f.view.setIndex(Ctl::radio_post_type, 1);  // 异步(快)
  f.view.setIndex(Ctl::radio_send_info, 0);
  f.view.setIndex(Ctl::radio_return_info, 0);
  f.view.setIndex(Ctl::frequence, 0);  // "0": no limit
  f.view.setText(Ctl::reg_second, QString::number(seconds));
}

// Arrivals within [from, from + seconds).
int arrivalsWithin(const StubHttpServer& stub, qint64 fromNs, int seconds) {
  int n = 0;
  for (qint64 t : stub.arrivalTimesNs())
    if (t >= fromNs && t < fromNs + qint64(seconds) * 1000000000) ++n;
  return n;
}

double runWrk(const QString& url, int seconds) {
  QProcess wrk;
  wrk.start(QStringLiteral("wrk"), {QStringLiteral("-t2"), QStringLiteral("-c6"),
                                    QStringLiteral("-d%1s").arg(seconds), url});
  if (!wrk.waitForFinished(seconds * 1000 + 30000) || wrk.exitCode() != 0) {
    std::fprintf(stderr, "wrk failed: %s\n", wrk.readAllStandardError().constData());
    return 0;
  }
  const QString out = QString::fromLocal8Bit(wrk.readAllStandardOutput());
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("Requests/sec:\\s*([0-9.]+)")).match(out);
  return m.hasMatch() ? m.captured(1).toDouble() : 0;
}

double runInProcess(const QString& url, int seconds, int* sentByLoop) {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  stub.setRecordDetails(false);
  stub.listen();
  TaskFixture f;
  f.settings.check_whois = false;
  setUpTask(f, stub.url(QStringLiteral("/reg")), seconds);
  Q_UNUSED(url);
  if (!ValidateTask(f.w)) {
    std::fprintf(stderr, "task refused: %s\n", qPrintable(f.prompter.messages().join('|')));
    return 0;
  }
  f.w.send_mode = SendMode::CatchWithoutWhois;
  f.w.time_base = f.w.run_start = platform::now();
  f.w.duration_s = f.w.durationFromWindow();
  BuildVariableTables(f.w);
  const qint64 start = StubHttpServer::monotonicNs();
  SendFormLoop(f.w);
  waitForRequestsInFlight(5000);
  *sentByLoop = f.view.text(Ctl::reg_send).section(QStringLiteral("："), 1).toInt();
  return arrivalsWithin(stub, start, seconds) / double(seconds);
}

double runHeadless(int seconds, const QTemporaryDir& dir) {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  stub.setRecordDetails(false);
  stub.listen();
  TaskFixture f;
  setUpTask(f, stub.url(QStringLiteral("/reg")), seconds);
  if (!runHeadlessCatch(f.w, "[option]\r\ncheck_whois=0\r\nwarm_connections=0\r\n", dir,
                        seconds * 1000 + 60000))
    return 0;
  const QList<qint64> at = stub.arrivalTimesNs();
  if (at.isEmpty()) return 0;
  return arrivalsWithin(stub, at.first(), seconds) / double(seconds);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const QString which = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("all");
  const bool all = which == QStringLiteral("all");
  QTemporaryDir dir;

  StubHttpServer wrkStub(StubHttpServer::Threading::OwnThread);
  wrkStub.setRecordDetails(false);
  wrkStub.listen();
  std::printf("flood: frequency 0, asynchronous, no display, %d s, registrar stub on loopback\n",
              seconds);
  std::fflush(stdout);
  double wrkRate = 0;
  if (all || which == QStringLiteral("wrk")) {
    wrkRate = runWrk(wrkStub.url(QStringLiteral("/reg")), seconds);
    std::printf("wrk -t2 -c6          %10.0f requests/s\n", wrkRate);
    std::fflush(stdout);
  }
  double inProcess = 0;
  if (all || which == QStringLiteral("loop")) {
    int sent = 0;
    inProcess = runInProcess(QString(), seconds, &sent);
    std::printf("in-process loop      %10.0f requests/s arrived (%d sent)   %.2f x wrk\n",
                inProcess, sent, wrkRate > 0 ? inProcess / wrkRate : 0.0);
    std::fflush(stdout);
  }
  if (all || which == QStringLiteral("runner")) {
    const double headless = runHeadless(seconds, dir);
    std::printf("headless runner      %10.0f requests/s arrived              %.2f x wrk\n",
                headless, wrkRate > 0 ? headless / wrkRate : 0.0);
  }
  std::printf("target: at least 0.25 x wrk\n");
  return 0;
}
