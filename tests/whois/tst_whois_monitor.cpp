// The WHOIS monitor end to end: a task window on plain values, a scripted
// WHOIS server and a stub registrar on 127.0.0.1.
#include <QTcpServer>
#include <QtTest>

#include "codecs/Charsets.h"
#include "platform/Clock.h"
#include "support/WhoisCatch.h"

Q_DECLARE_METATYPE(StubWhoisServer::Script)

namespace {

const QDateTime kNow(QDate(2030, 6, 15), QTime(12, 0, 0));

QByteArray expiryLine(int daysAhead) { return expiryReply(kNow.date().addDays(daysAhead)); }

QString resultLine(const QString& domain, const QString& verdict) {
  return whois::logTime(kNow) + QStringLiteral(" 域名 ") + domain + verdict;
}

QString queryLine(const QString& domain) {
  return whois::logTime(kNow) + QStringLiteral(" Sending Whois data: ") + domain;
}

QStringList whoisResults(const TaskView& view) {
  QStringList lines;
  for (const QString& e : logEntries(view, Ctl::regresult))
    if (e.contains(QStringLiteral(" 域名 "))) lines << e;
  return lines;
}

// A catch with WHOIS checking on: the task, the settings, the two stubs.
struct Catch {
  TaskFixture f;
  StubHttpServer registrar;
  StubWhoisServer whoisServer;

  explicit Catch(const QStringList& domains) {
    registrar.listen();
    whoisServer.listen();
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")), domainLines(domains));
    f.settings.whois_servers = {serverRow(QStringLiteral(".com"))};
    f.settings.whois_timeout = 2;
    f.settings.whois_time = 0;
    f.settings.whois_time2 = 0;
    f.settings.whois_after_reg = false;
  }

  ServerRow serverRow(const QString& suffixes, const QString& mark = kDeletedMark) const {
    return stubServerRow(whoisServer.port(), suffixes, mark);
  }

  double run(const std::function<bool()>& stopWhen = {}, int limitMs = 30000) {
    return runWatch(f, stoppedAt, stopWhen, limitMs, [this](qint64 ms) {
      if (firstPauseAt < 0 && f.w.Timer6.isActive()) firstPauseAt = ms / 1000.0;
    });
  }

  double stoppedAt = -1;
  double firstPauseAt = -1;
};

}  // namespace

class TestWhoisMonitor : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    platform::setClockForTests([] { return kNow; });
  }
  void cleanup() { platform::setClockForTests({}); }

  void oneQuery_data();
  void oneQuery();
  void fullCatch();
  void afterRegistrationWaitsInterval();
  void pauseLastsToSecondBoundaryAfterWhoisTime();
  void lateVerdictDuringPause();
  void stopMidCycle();
  void stopDuringTriggeredSendEndsMonitor();
  void countDown_data();
  void countDown();
};

void TestWhoisMonitor::oneQuery_data() {
  QTest::addColumn<QString>("domain");
  QTest::addColumn<QString>("mark");
  QTest::addColumn<StubWhoisServer::Script>("script");
  QTest::addColumn<QString>("host");  // "stub", "refused" or a host name
  QTest::addColumn<int>("timeout");
  QTest::addColumn<QStringList>("verdicts");
  QTest::addColumn<int>("registrations");
  QTest::addColumn<double>("minSeconds");  // until the query's end (the pause)
  QTest::addColumn<double>("maxSeconds");

  using S = StubWhoisServer;
  const QString a = QStringLiteral("a.com");
  auto pieces = [](QList<QByteArray> p, int gapMs = 150, bool close = true) {
    S::Script s;
    s.pieces = std::move(p);
    s.gapMs = gapMs;
    s.closeAfter = close;
    return s;
  };

  QTest::newRow("deleted") << a << kDeletedMark << S::reply(deletedReply(a)) << "stub" << 5
                           << QStringList{whois::kDeleted} << 1 << 0.0 << 2.0;
  QTest::newRow("registered, 151 days") << a << kDeletedMark << S::reply(expiryLine(151)) << "stub"
                                        << 5 << QStringList{whois::kRegistered} << 0 << 0.0 << 2.0;
  QTest::newRow("not yet deleted, 150 days")
      << a << kDeletedMark << S::reply(expiryLine(150)) << "stub" << 5
      << QStringList{whois::kNotDeleted} << 0 << 0.0 << 2.0;
  QTest::newRow("both markers: deleted first")
      << a << kDeletedMark << S::reply(deletedReply(a) + expiryLine(400)) << "stub" << 5
      << QStringList{whois::kDeleted, whois::kRegistered} << 1 << 0.0 << 2.0;
  // Judged on everything received for the query, not packet by packet.
  QTest::newRow("deleted marker split over two packets")
      << a << kDeletedMark << pieces({"No mat", "ch for \"A.COM\".\r\n"}, 150, false) << "stub" << 5
      << QStringList{whois::kDeleted} << 1 << 0.1 << 2.0;
  QTest::newRow("expiry head split over two packets")
      << a << kDeletedMark
      << pieces({"Domain: A.COM\r\nExpiration Da", "te: 2040-01-01\r\n"}, 150, false) << "stub" << 5
      << QStringList{whois::kRegistered} << 0 << 0.1 << 2.0;
  QTest::newRow("expiry line judged once its LF is in")
      << a << kDeletedMark
      << pieces({"Expiration Date: 2030-0", "6-20", "\r\nRegistrar: X\r\n"}, 150, false) << "stub"
      << 5 << QStringList{whois::kNotDeleted} << 0 << 0.25 << 2.0;
  // Data then close at once: read, and the unfinished line judged at the close.
  QTest::newRow("early close") << a << kDeletedMark << S::reply("Expiration Date: 2045-01-01")
                               << "stub" << 5 << QStringList{whois::kRegistered} << 0 << 0.0 << 2.0;
  QTest::newRow("deleted, then close at once")
      << a << kDeletedMark << S::reply("No match for A.COM") << "stub" << 5
      << QStringList{whois::kDeleted} << 1 << 0.0 << 2.0;
  QTest::newRow("no answer: unclear after the time-out")
      << a << kDeletedMark << S::silent() << "stub" << 1 << QStringList{whois::kUnclear} << 0 << 0.9
      << 2.5;
  QTest::newRow("closed without a word") << a << kDeletedMark << pieces({}) << "stub" << 5
                                         << QStringList{whois::kUnclear} << 0 << 0.0 << 2.0;
  QTest::newRow("garbage, then close")
      << a << kDeletedMark << S::reply(QByteArray("\xff\xfe\x00\x81garbage\r\n", 13)) << "stub" << 5
      << QStringList{whois::kUnclear} << 0 << 0.0 << 2.0;
  QTest::newRow("date that does not parse")
      << a << kDeletedMark << S::reply("Expiration Date: some day\r\n") << "stub" << 5
      << QStringList{whois::kUnclear} << 0 << 0.0 << 2.0;
  S::Script endless = pieces({"Domain: A.COM\r\n"});
  endless.endless = true;
  QTest::newRow("endless reply is cut off") << a << kDeletedMark << endless << "stub" << 10
                                            << QStringList{whois::kUnclear} << 0 << 0.0 << 5.0;
  QTest::newRow("connection refused")
      << a << kDeletedMark << S::reply(deletedReply(a)) << "refused" << 5
      << QStringList{whois::kConnectTimeout} << 0 << 0.0 << 2.0;
  QTest::newRow("host that does not resolve")
      << a << kDeletedMark << S::reply(deletedReply(a)) << "nonexistent.invalid" << 2
      << QStringList{whois::kConnectTimeout} << 0 << 0.0 << 3.5;
  QTest::newRow("time-out 0: no connection at all")
      << a << kDeletedMark << S::reply(deletedReply(a)) << "stub" << 0
      << QStringList{whois::kConnectTimeout} << 0 << 0.0 << 1.0;
  // Query and reply in GB18030; the reply split inside a double-byte character.
  const QByteArray gbReply = charsets::toGb18030(QStringLiteral("查询结果：无匹配记录\r\n"));
  QTest::newRow("gb18030") << QStringLiteral("中文.com") << QStringLiteral("无匹配记录")
                           << pieces({gbReply.left(13), gbReply.mid(13)}, 150, false) << "stub" << 5
                           << QStringList{whois::kDeleted} << 1 << 0.1 << 2.0;
}

void TestWhoisMonitor::oneQuery() {
  QFETCH(QString, domain);
  QFETCH(QString, mark);
  QFETCH(StubWhoisServer::Script, script);
  QFETCH(QString, host);
  QFETCH(int, timeout);
  QFETCH(QStringList, verdicts);
  QFETCH(int, registrations);
  QFETCH(double, minSeconds);
  QFETCH(double, maxSeconds);
  const QString a = QStringLiteral("a.com");

  Catch c({domain});
  c.f.view.setIndex(Ctl::radio_send_info, 0);    // no sent data in regsend
  c.f.view.setIndex(Ctl::radio_return_info, 0);  // no replies in regresult
  c.whoisServer.setDefaultScript(script);
  ServerRow row = c.serverRow(QStringLiteral(".com"), mark);
  if (host == QLatin1String("refused")) {
    QTcpServer gone;  // a port nobody listens on once this block ends
    QVERIFY(gone.listen(QHostAddress::LocalHost));
    row.port = QString::number(gone.serverPort());
  } else if (host != QLatin1String("stub")) {
    row.server = host;
  }
  c.f.settings.whois_servers = {row};
  c.f.settings.whois_timeout = static_cast<qint16>(timeout);

  // Stop at the first pause: the query is over by then.
  c.run([&] { return c.f.w.Timer6.isActive(); });
  QVERIFY2(c.firstPauseAt >= minSeconds && c.firstPauseAt <= maxSeconds,
           qPrintable(QString::number(c.firstPauseAt)));

  QStringList expected;
  for (const QString& v : verdicts) expected << resultLine(domain, v);
  QCOMPARE(whoisResults(c.f.view), expected);
  // Without waiting for replies the request may still be on its way.
  QVERIFY(c.registrar.waitForRequests(registrations, 2000));
  QCOMPARE(c.registrar.requestCount(), registrations);
  if (registrations > 0 && domain == a)
    QVERIFY(c.registrar.requests().first().body.contains("domain=a.com"));

  const bool connected = verdicts.first() != whois::kConnectTimeout;
  if (connected) {
    QCOMPARE(c.whoisServer.queryCount(), 1);
    QCOMPARE(c.whoisServer.queries().first().raw, charsets::toGb18030(domain + "\r\n"));
    QCOMPARE(logEntries(c.f.view, Ctl::regsend), QStringList{queryLine(domain)});
  } else {
    QCOMPARE(c.whoisServer.connectionCount(), 0);
    QCOMPARE(logEntries(c.f.view, Ctl::regsend), QStringList{});
  }
  QVERIFY(c.f.w.whois->whois_data.size() <= whois::kMaxReplyBytes);
  QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  QCOMPARE(c.f.w.int_start(), qint16(0));
}

// Two watched domains, one deleted and one renewed, one without a server row
// and one whose row has no usable port: exactly one registration, for the
// deleted domain; the monitor ends by itself once nothing is watched.
void TestWhoisMonitor::fullCatch() {
  Catch c({"a.com", "b.com", "c.org", "d.net"});
  c.whoisServer.setScript("a.com", StubWhoisServer::reply(deletedReply("a.com")));
  c.whoisServer.setScript("b.com", StubWhoisServer::reply(expiryLine(151)));
  ServerRow badPort = c.serverRow(QStringLiteral(".net"));
  badPort.port = QStringLiteral("70000");
  c.f.settings.whois_servers = {c.serverRow(QStringLiteral(".com")), badPort};

  const double seconds = c.run();
  QVERIFY2(c.stoppedAt < 0, "the monitor did not end by itself");
  QVERIFY2(seconds < 3.0, qPrintable(QString::number(seconds)));

  QCOMPARE(c.registrar.requestCount(), 1);
  const StubHttpServer::Request reg = c.registrar.requests().first();
  QVERIFY2(reg.body.contains("domain=a.com"), reg.body.constData());
  QCOMPARE(c.f.w.whois_send_count, 1);
  QCOMPARE(c.f.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));

  QStringList queried;
  for (const auto& q : c.whoisServer.queries()) queried << q.domain;
  QCOMPARE(queried, (QStringList{"a.com", "b.com"}));

  // The registrar's reply follows the deleted line; the next verdict follows it.
  const QStringList results = logEntries(c.f.view, Ctl::regresult);
  QCOMPARE(results.size(), 3);
  QCOMPARE(results[0], resultLine("a.com", whois::kDeleted));
  QCOMPARE(results[1], QStringLiteral("OK"));
  QCOMPARE(results[2], resultLine("b.com", whois::kRegistered));
  const QStringList sent = logEntries(c.f.view, Ctl::regsend);
  QCOMPARE(sent.size(), 3);
  QCOMPARE(sent[0], queryLine("a.com"));
  QVERIFY(sent[1].contains("domain=a.com"));
  QCOMPARE(sent[2], queryLine("b.com"));

  QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  QCOMPARE(c.f.w.int_start(), qint16(0));
  QVERIFY(c.f.view.enabled(Ctl::regstart));
  QVERIFY(!c.f.view.enabled(Ctl::regstop));
  QVERIFY(!c.f.view.enabled(Ctl::time_end));
  QVERIFY(!c.f.view.readOnly(Ctl::common1));
  QVERIFY(c.f.view.readOnly(Ctl::regresult));
}

// With whois_after_reg the domain stays watched but is not queried again
// until whois_time2 seconds after its registration returned. The wall clock
// stands still here, so the delay and the pauses must run on a monotonic one.
void TestWhoisMonitor::afterRegistrationWaitsInterval() {
  Catch c({"a.com"});
  c.f.view.setIndex(Ctl::radio_return_info, 0);
  c.whoisServer.setDefaultScript(StubWhoisServer::reply(deletedReply("a.com")));
  c.f.settings.whois_after_reg = true;
  c.f.settings.whois_time2 = 2;

  c.run([&] { return c.registrar.requestCount() >= 2; });
  QCOMPARE(c.registrar.requestCount(), 2);
  const QList<qint64> at = c.registrar.arrivalTimesNs();
  const double gap = (at[1] - at[0]) / 1e9;
  QVERIFY2(gap > 2.0 && gap < 4.2, qPrintable(QString::number(gap)));
  // Skipped in the cycles in between: one query per registration.
  QCOMPARE(c.whoisServer.queryCount(), 2);
  QCOMPARE(whoisResults(c.f.view), (QStringList{resultLine("a.com", whois::kDeleted),
                                                resultLine("a.com", whois::kDeleted)}));
  QCOMPARE(c.f.w.whois_send_count, 2);
}

// The pause ends at the (whois_time + 1)-th second boundary after its start.
void TestWhoisMonitor::pauseLastsToSecondBoundaryAfterWhoisTime() {
  platform::setClockForTests({});
  Catch c({"a.com"});
  c.whoisServer.setDefaultScript(StubWhoisServer::reply("Expiration Date: 2000-01-01\r\n"));
  c.f.settings.whois_time = 1;
  c.run([&] { return c.whoisServer.queryCount() >= 3; });
  const QList<StubWhoisServer::Query> q = c.whoisServer.queries();
  QCOMPARE(q.size(), 3);
  for (int i = 1; i < q.size(); ++i) {
    const double gap = (q[i].arrivalNs - q[i - 1].arrivalNs) / 1e9;
    QVERIFY2(gap >= 1.0 && gap <= 2.2, qPrintable(QString::number(gap)));
  }
}

// A reply that gave no verdict within the time-out is still judged when the
// rest comes during the pause; the registration sent then does not cut the
// pause short.
void TestWhoisMonitor::lateVerdictDuringPause() {
  platform::setClockForTests({});
  Catch c({"a.com"});
  c.f.view.setIndex(Ctl::radio_return_info, 0);
  StubWhoisServer::Script late;
  late.pieces = {"Domain: A.COM\r\n", "No match for \"A.COM\".\r\n"};
  late.gapMs = 1500;
  late.closeAfter = false;
  c.whoisServer.setDefaultScript(late);
  c.f.settings.whois_timeout = 1;
  c.f.settings.whois_time = 3;
  c.f.settings.whois_after_reg = true;
  c.run([&] { return c.whoisServer.queryCount() >= 2; });

  QCOMPARE(c.registrar.requestCount(), 1);
  const QList<StubWhoisServer::Query> q = c.whoisServer.queries();
  QCOMPARE(q.size(), 2);
  const double registeredAfter = (c.registrar.arrivalTimesNs().first() - q[0].arrivalNs) / 1e9;
  QVERIFY2(registeredAfter > 1.4 && registeredAfter < 2.0,
           qPrintable(QString::number(registeredAfter)));
  const double cycleGap = (q[1].arrivalNs - q[0].arrivalNs) / 1e9;
  QVERIFY2(cycleGap > 4.0 && cycleGap < 5.3, qPrintable(QString::number(cycleGap)));
  // The run is stopped as soon as the second query arrives; a stop before any
  // of its reply came in logs that query as unclear.
  const QStringList results = whoisResults(c.f.view);
  QVERIFY2(results.size() == 1 || (results.size() == 2 && results[1].endsWith(whois::kUnclear)),
           qPrintable(results.join(u'|')));
  QVERIFY(results[0].endsWith(QStringLiteral(" 域名 a.com") + whois::kDeleted));
}

// A stop in the middle of a cycle: the query under way ends at once and the
// remaining domains of the cycle get their time-out line without a
// connection; the monitor then ends without pausing.
void TestWhoisMonitor::stopMidCycle() {
  Catch c({"a.com", "b.com", "c.com"});
  c.whoisServer.setDefaultScript(StubWhoisServer::silent());
  c.f.settings.whois_timeout = 5;
  QElapsedTimer sinceQuery;
  c.run([&] {
    if (c.whoisServer.queryCount() == 0) return false;
    if (!sinceQuery.isValid()) sinceQuery.start();
    return sinceQuery.elapsed() >= 300;
  });
  QVERIFY(c.stoppedAt > 0);
  QVERIFY2(sinceQuery.elapsed() < 1000, qPrintable(QString::number(sinceQuery.elapsed())));
  QCOMPARE(c.whoisServer.connectionCount(), 1);
  QCOMPARE(whoisResults(c.f.view), (QStringList{resultLine("a.com", whois::kUnclear),
                                                resultLine("b.com", whois::kConnectTimeout),
                                                resultLine("c.com", whois::kConnectTimeout)}));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
}

// The sender sets the run flag back to 1 when it returns; a stop pressed
// while the registration waited for its reply must still end the monitor.
void TestWhoisMonitor::stopDuringTriggeredSendEndsMonitor() {
  Catch c({"a.com"});
  StubHttpServer::Reply slow;
  slow.delayMs = 3000;
  c.registrar.setReply(slow);
  c.whoisServer.setDefaultScript(StubWhoisServer::reply(deletedReply("a.com")));
  c.f.settings.whois_after_reg = true;  // a.com stays watched
  QElapsedTimer sinceStop;
  const double seconds = c.run([&] {
    if (c.registrar.requestCount() < 1) return false;
    sinceStop.start();
    return true;
  });
  QVERIFY(c.stoppedAt > 0);
  QVERIFY2(sinceStop.elapsed() < 1000, qPrintable(QString::number(sinceStop.elapsed())));
  QVERIFY2(seconds < 2.5, qPrintable(QString::number(seconds)));
  QCOMPARE(c.registrar.requestCount(), 1);
  QCOMPARE(c.whoisServer.queryCount(), 1);
  QCOMPARE(c.f.w.int_start(), qint16(0));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  // The stopped exchange is reported like any other.
  QCOMPARE(logEntries(c.f.view, Ctl::regresult),
           (QStringList{resultLine("a.com", whois::kDeleted), QStringLiteral("连接超时！")}));
}

void TestWhoisMonitor::countDown_data() {
  QTest::addColumn<int>("whoisTime");
  QTest::addColumn<int>("elapsed");
  QTest::addColumn<int>("runFlag");
  QTest::addColumn<QString>("label");
  QTest::newRow("first tick") << 5 << 1 << 1 << "状态：发送完成，whois间隔...4 秒";
  QTest::newRow("last second") << 5 << 5 << 1 << "状态：发送完成，whois间隔...0 秒";
  QTest::newRow("whois_time 0") << 0 << 1 << 1 << "状态：发送完成，whois间隔...-1 秒";
  QTest::newRow("stopped: unchanged") << 5 << 1 << 0 << "before";
}

void TestWhoisMonitor::countDown() {
  QFETCH(int, whoisTime);
  QFETCH(int, elapsed);
  QFETCH(int, runFlag);
  QFETCH(QString, label);
  TaskFixture f;
  f.settings.whois_time = static_cast<qint16>(whoisTime);
  f.w.last_send_start = kNow.addSecs(-elapsed);
  f.w.setIntStart(static_cast<qint16>(runFlag));
  f.view.setText(Ctl::Label1, QStringLiteral("before"));
  Timer6_Timer(f.w);
  QCOMPARE(f.view.text(Ctl::Label1), label);
}

QTEST_GUILESS_MAIN(TestWhoisMonitor)
#include "tst_whois_monitor.moc"
