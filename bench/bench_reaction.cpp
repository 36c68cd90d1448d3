// Reaction time of a WHOIS catch: from the WHOIS stub sending the deletion
// reply to the registration request for that domain arriving at the
// registrar stub. Both stubs run on loopback in threads of their own; the
// catch runs through the headless runner (`zembrin catch TASK --settings INI`),
// in this process through whois_monitor(), and in this process through the
// real task window (its widgets append the log lines; offscreen unless a
// display is set).
//
//   bench_reaction [DOMAINS [RUNS]]     defaults: 250 domains, 2 runs each way
//
// Each run is one catch of DOMAINS domains that are all reported deleted, so
// every domain gives one sample. Prints p50, p99 and the worst case, each way
// twice: plain, and with the run's record on ("+report": save_log writing a
// log file, and a webhook called for every catch and at the end).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "HeadlessCatch.h"
#include "platform/Clock.h"
#include "support/StubHttpServer.cpp"
#include "support/StubWhoisServer.cpp"
#include "support/TaskFixture.h"
#include "task/Validation.h"
#include "ui/MainWindow.h"
#include "whois/Monitor.h"

namespace {

// What a run leaves behind, when on: the log file and a webhook on a stub of
// its own, so the registrar stub sees only registrations.
struct Report {
  bool on = false;
  QString logFile;
  QString hookUrl;
  void apply(Settings& s) const {
    s.save_log = on;
    s.log_file = on ? logFile : QString();
    s.notify_url = on ? hookUrl : QString();
  }
  QByteArray iniLines() const {
    if (!on) return {};
    return ("save_log=1\r\nlog_file=" + logFile + "\r\nnotify_url=" + hookUrl + "\r\n").toUtf8();
  }
};

QString domainName(int i) { return QStringLiteral("d%1.com").arg(i, 4, 10, QLatin1Char('0')); }

QString dynLines(int n) {
  QStringList domains;
  for (int i = 0; i < n; ++i) domains << domainName(i);
  return domainLines(domains);
}

// The task as a user would set up a catch: asynchronous ("异步(快)"), with
// the default display of sent and returned data.
void setUpTask(TaskFixture& f, const QString& url, int domains) {
  f.setSimpleTask(url, dynLines(domains));
  f.view.setIndex(Ctl::radio_post_type, 1);
}

ServerRow whoisRow(quint16 port) {
  return {
      QStringLiteral(".com"),         QStringLiteral("127.0.0.1"),         QString::number(port),
      QStringLiteral("No match for"), QStringLiteral("Expiration Date: "), QString()};
}

void applySettings(Settings& s, quint16 whoisPort) {
  s.check_whois = true;
  s.whois_after_reg = false;  // each domain is caught once, then the run ends
  s.whois_time = 0;
  s.whois_timeout = 5;
  s.whois_time2 = 0;
  s.whois_servers = {whoisRow(whoisPort)};
}

// Microseconds from each deletion reply to its registration request.
QList<double> reactions(const StubWhoisServer& whoisStub, const StubHttpServer& registrar,
                        int* missing) {
  QHash<QString, qint64> sent;
  for (const StubWhoisServer::Query& q : whoisStub.queries()) sent.insert(q.domain, q.replySentNs);
  QList<double> us;
  for (const StubHttpServer::Request& r : registrar.requests()) {
    const qsizetype at = r.body.indexOf("domain=");
    if (at < 0) continue;
    QByteArray domain = r.body.mid(at + 7);
    if (const qsizetype amp = domain.indexOf('&'); amp >= 0) domain.truncate(amp);
    const qint64 t0 = sent.value(QString::fromLatin1(domain), 0);
    if (t0 > 0) us << (r.arrivalNs - t0) / 1000.0;
  }
  *missing = int(sent.size()) - int(us.size());
  return us;
}

double percentile(QList<double> v, double p) {
  std::sort(v.begin(), v.end());
  const qsizetype i =
      std::clamp<qsizetype>(qsizetype(std::ceil(p * double(v.size()))) - 1, 0, v.size() - 1);
  return v[i];
}

void print(const char* how, const QList<double>& us, int missing) {
  if (us.isEmpty()) {
    std::printf("%-17s no samples (%d catches without a request)\n", how, missing);
    return;
  }
  double sum = 0;
  for (double x : us) sum += x;
  std::printf(
      "%-17s n=%lld  p50=%.3f ms  p90=%.3f ms  p99=%.3f ms  max=%.3f ms  mean=%.3f ms  "
      "missing=%d\n",
      how, static_cast<long long>(us.size()), percentile(us, 0.50) / 1000.0,
      percentile(us, 0.90) / 1000.0, percentile(us, 0.99) / 1000.0,
      *std::max_element(us.begin(), us.end()) / 1000.0, sum / double(us.size()) / 1000.0, missing);
}

QList<double> runInProcess(int domains, const Report& report, int* missing) {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  StubWhoisServer whoisStub(StubWhoisServer::Threading::OwnThread);
  registrar.listen();
  whoisStub.listen();
  whoisStub.setDefaultScript(StubWhoisServer::reply("No match for \"X.COM\".\r\n"));

  TaskFixture f;
  setUpTask(f, registrar.url(QStringLiteral("/reg")), domains);
  applySettings(f.settings, whoisStub.port());
  report.apply(f.settings);
  if (!ValidateTask(f.w)) {
    std::fprintf(stderr, "task refused: %s\n", qPrintable(f.prompter.messages().join('|')));
    return {};
  }
  f.w.report.runStarting();
  f.w.whois_send_count = 0;
  f.w.time_base = platform::now();
  whois_monitor(f.w);
  registrar.waitForRequests(domains, 5000);
  f.w.report.waitForNotifications(5000);
  return reactions(whoisStub, registrar, missing);
}

// The same catch through the task window's widgets.
QList<double> runInWindow(int domains, const QTemporaryDir& dir, const Report& report,
                          int* missing) {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  StubWhoisServer whoisStub(StubWhoisServer::Threading::OwnThread);
  registrar.listen();
  whoisStub.listen();
  whoisStub.setDefaultScript(StubWhoisServer::reply("No match for \"X.COM\".\r\n"));

  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  MainWindow window(prompter, settings, dialogState, dir.filePath(QStringLiteral("window.ini")));
  TaskWindow& w = window.task();
  w.Form_Load();
  window.show();
  w.removeHint(Ctl::txt_api_url);
  w.view.setText(Ctl::txt_api_url, registrar.url(QStringLiteral("/reg")));
  w.view.setText(Ctl::common1, QStringLiteral("user===bob"));
  w.view.setText(Ctl::dyn1, dynLines(domains));
  w.view.setText(Ctl::domain_var, QStringLiteral("domain"));
  w.view.setIndex(Ctl::radio_post_type, 1);
  applySettings(settings, whoisStub.port());
  report.apply(settings);
  if (!ValidateTask(w)) {
    std::fprintf(stderr, "task refused: %s\n", qPrintable(prompter.messages().join('|')));
    return {};
  }
  w.report.runStarting();
  w.whois_send_count = 0;
  w.time_base = platform::now();
  whois_monitor(w);
  registrar.waitForRequests(domains, 5000);
  w.report.waitForNotifications(5000);
  return reactions(whoisStub, registrar, missing);
}

QList<double> runHeadless(int domains, const QTemporaryDir& dir, const Report& report,
                          int* missing) {
  StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
  StubWhoisServer whoisStub(StubWhoisServer::Threading::OwnThread);
  registrar.listen();
  whoisStub.listen();
  whoisStub.setDefaultScript(StubWhoisServer::reply("No match for \"X.COM\".\r\n"));

  TaskFixture f;
  setUpTask(f, registrar.url(QStringLiteral("/reg")), domains);
  const ServerRow row = whoisRow(whoisStub.port());
  const QByteArray ini = QStringLiteral(
                             "[option]\r\ncheck_whois=1\r\nwhois_after_reg=0\r\nsave_log=0\r\n"
                             "whois_time=0\r\nwhois_timeout=5\r\nwhois_time2=0\r\nwhois_no=1\r\n"
                             "whois_server_1=%1|||%2|||%3|||%4|||%5|||%6\r\n")
                             .arg(row.suffixes, row.server, row.port, row.deleted_mark,
                                  row.expiry_head, row.expiry_tail)
                             .toLatin1() +
                         report.iniLines();
  runHeadlessCatch(f.w, ini, dir, 300000);
  registrar.waitForRequests(domains, 5000);
  return reactions(whoisStub, registrar, missing);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int domains = argc > 1 ? std::max(1, std::atoi(argv[1])) : 250;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  QTemporaryDir dir;

  StubHttpServer hook(StubHttpServer::Threading::OwnThread);
  hook.listen();
  Report report;
  report.logFile = dir.filePath(QStringLiteral("logs/bench-YYYYMMDD.log"));
  report.hookUrl = hook.url(QStringLiteral("/hook?d={{{domain}}}&e={{{event}}}&r={{{reply}}}"));

  std::printf(
      "reaction: WHOIS deletion reply sent -> registration request arrived "
      "(%d domains x %d runs, loopback)\n",
      domains, runs);
  const char* const ways[] = {"headless", "in-process", "window"};
  bool allSampled = true;
  for (const bool on : {false, true}) {
    report.on = on;
    QList<double> samples[3];
    int missing[3] = {0, 0, 0};
    for (int r = 0; r < runs; ++r) {
      int m = 0;
      samples[0] += runHeadless(domains, dir, report, &m);
      missing[0] += m;
      samples[1] += runInProcess(domains, report, &m);
      missing[1] += m;
      samples[2] += runInWindow(domains, dir, report, &m);
      missing[2] += m;
    }
    for (int i = 0; i < 3; ++i) {
      const QByteArray how = QByteArray(ways[i]) + (on ? "+report" : "");
      print(how.constData(), samples[i], missing[i]);
      allSampled = allSampled && !samples[i].isEmpty();
    }
  }
  std::printf("webhooks received: %d (one per catch and one per run with the report on)\n",
              hook.requestCount());
  std::printf("targets: headless p50 < 0.3 ms, p99 < 1 ms; window within twice that\n");
  return allSampled ? 0 : 1;
}
