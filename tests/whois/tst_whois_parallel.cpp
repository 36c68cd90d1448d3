// The watch with rated rows (parallel queries within a rate), limited
// replies, RDAP rows, and the defects of the watch's reply handling, end to
// end against stub servers on 127.0.0.1.
#include <QtTest>

#include "support/WhoisCatch.h"

namespace {

// The most query lines that arrived within any window of one second.
int busiestSecond(const QList<StubWhoisServer::Query>& queries) {
  int most = 0;
  for (qsizetype i = 0; i < queries.size(); ++i) {
    int n = 0;
    for (qsizetype j = i; j < queries.size(); ++j)
      if (queries[j].arrivalNs - queries[i].arrivalNs < 1000000000) ++n;
    most = std::max(most, n);
  }
  return most;
}

QList<qint64> arrivalsOf(const StubWhoisServer& s, const QString& domain) {
  QList<qint64> at;
  for (const StubWhoisServer::Query& q : s.queries())
    if (q.domain == domain) at << q.arrivalNs;
  return at;
}

}  // namespace

class TestWhoisParallel : public QObject {
  Q_OBJECT
 private slots:
  void rateAndParallelHold_data();
  void rateAndParallelHold();
  void deletionInMidRunIsCaughtWithinACycle();
  void slowRegistrarDoesNotHoldTheWatch();
  void stopEndsEveryQueryAtOnce();
  void limitedRepliesAreBackedOff_data();
  void limitedRepliesAreBackedOff();
  void limitedReplyHoldsTheWholeServer();
  void rdapRows_data();
  void rdapRows();
  void rdapRetryAfterIsHonoured();
  void deletionWithUnfinishedExpiryLine();
  void handEditedRows_data();
  void handEditedRows();
};

// In any one-second window at most `rate` queries start, and never more than
// `parallel` are in flight; whichever binds sets the pace.
void TestWhoisParallel::rateAndParallelHold_data() {
  QTest::addColumn<QString>("rate");
  QTest::addColumn<int>("parallel");
  QTest::addColumn<int>("replyMs");
  QTest::addColumn<double>("perSecond");  // the pace that should result
  QTest::newRow("the rate binds") << "10" << 4 << 50 << 10.0;
  QTest::newRow("a fractional rate") << "2.5" << 4 << 50 << 2.0;
  QTest::newRow("parallel binds") << "50" << 3 << 200 << 15.0;
}

void TestWhoisParallel::rateAndParallelHold() {
  QFETCH(QString, rate);
  QFETCH(int, parallel);
  QFETCH(int, replyMs);
  QFETCH(double, perSecond);
  WhoisCatch c = WhoisCatch::ofCount(40);
  c.f.settings.whois_servers = {c.row(QStringLiteral(".com"), rate, QString::number(parallel))};
  c.whoisServer.setDefaultScript(slowReply(expiryReply(QDate::currentDate().addDays(30)), replyMs));
  QElapsedTimer since;
  c.run([&] {
    if (!since.isValid() && c.whoisServer.queryCount() > 0) since.start();
    return since.isValid() && since.elapsed() >= 3000;
  });
  const QList<StubWhoisServer::Query> q = c.whoisServer.queries();
  QVERIFY2(busiestSecond(q) <= std::floor(rate.toDouble()),
           qPrintable(QString::number(busiestSecond(q))));
  QVERIFY2(c.whoisServer.maxBusy() <= parallel,
           qPrintable(QString::number(c.whoisServer.maxBusy())));
  // Not slower than the pace either: about perSecond over the 3 s.
  QVERIFY2(q.size() >= 3 * perSecond * 0.85 && q.size() <= 3 * perSecond + 2,
           qPrintable(QString::number(q.size())));
  if (perSecond < std::floor(rate.toDouble())) QCOMPARE(c.whoisServer.maxBusy(), parallel);
  // Each query's line in the log, its verdict after it.
  QCOMPARE(logEntries(c.f.view, Ctl::regsend).size(), q.size());
  QVERIFY(verdictLines(c.f.view).size() >= q.size() - parallel);
  QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
}

// 30 domains at 20 a second: a cycle lasts 1.5 s however slowly the server
// answers, so a domain that turns deleted is registered within 1.8 s.
void TestWhoisParallel::deletionInMidRunIsCaughtWithinACycle() {
  WhoisCatch c = WhoisCatch::ofCount(30);
  c.f.settings.whois_servers = {
      c.row(QStringLiteral(".com"), QStringLiteral("20"), QStringLiteral("4"))};
  c.f.view.setIndex(Ctl::radio_return_info, 0);
  c.whoisServer.setDefaultScript(slowReply(expiryReply(QDate::currentDate().addDays(30)), 150));
  const QString target = catchDomain(17);
  qint64 turnedAt = 0;
  QTimer::singleShot(1300, [&] {
    c.whoisServer.setScript(target, slowReply(deletedReply(target), 150));
    turnedAt = StubHttpServer::monotonicNs();
  });
  c.run([&] { return c.registrar.requestCount() > 0 || c.stoppedAt > 0; }, 8000);
  QVERIFY(c.registrar.waitForRequests(1, 2000));
  const StubHttpServer::Request reg = c.registrar.requests().first();
  QCOMPARE(WhoisCatch::registered(reg), target);
  const double delay = (reg.arrivalNs - turnedAt) / 1e9;
  QVERIFY2(delay > 0 && delay < 30 / 20.0 + 0.3, qPrintable(QString::number(delay)));
  QVERIFY(verdictLines(c.f.view).contains(verdictLine(target, whois::kDeleted)));
}

// The registrar takes 2 s to answer and each reply is awaited: the watch goes
// on meanwhile, a second deletion read during that wait is sent at once, and
// both replies are shown as they come.
void TestWhoisParallel::slowRegistrarDoesNotHoldTheWatch() {
  WhoisCatch c = WhoisCatch::ofCount(12);
  c.f.settings.whois_servers = {
      c.row(QStringLiteral(".com"), QStringLiteral("20"), QStringLiteral("2"))};
  c.f.view.setIndex(Ctl::radio_return_info, 2);  // 全程返回: every reply awaited
  StubHttpServer::Reply slow;
  slow.delayMs = 2000;
  c.registrar.setReply(slow);
  c.whoisServer.setDefaultScript(slowReply(expiryReply(QDate::currentDate().addDays(30)), 30));
  const QString first = catchDomain(2), second = catchDomain(9);
  c.whoisServer.setScript(first, StubWhoisServer::reply(deletedReply(first)));
  c.whoisServer.setScript(second, StubWhoisServer::reply(deletedReply(second)));
  c.run([&] { return logEntries(c.f.view, Ctl::regresult).count(QStringLiteral("OK")) >= 2; },
        10000);
  QVERIFY2(c.stoppedAt > 0 && c.stoppedAt < 5, qPrintable(QString::number(c.stoppedAt)));

  const QList<StubHttpServer::Request> regs = c.registrar.requests();
  QCOMPARE(regs.size(), 2);
  QCOMPARE(WhoisCatch::registered(regs[0]), first);
  QCOMPARE(WhoisCatch::registered(regs[1]), second);
  // The second went out as soon as its deletion was read, inside the first's wait.
  qint64 secondReplySent = 0;
  for (const StubWhoisServer::Query& q : c.whoisServer.queries())
    if (q.domain == second) secondReplySent = q.replySentNs;
  QVERIFY2((regs[1].arrivalNs - secondReplySent) / 1e6 < 50,
           qPrintable(QString::number((regs[1].arrivalNs - secondReplySent) / 1e6)));
  QVERIFY(regs[1].arrivalNs - regs[0].arrivalNs < 1500000000LL);
  // WHOIS queries kept arriving while the first registration was awaited.
  int during = 0;
  for (const StubWhoisServer::Query& q : c.whoisServer.queries())
    if (q.arrivalNs > regs[0].arrivalNs && q.arrivalNs < regs[0].arrivalNs + 1900000000LL) ++during;
  QVERIFY2(during >= 20, qPrintable(QString::number(during)));
  // Both registrar replies arrived and were shown (not cut short as time-outs).
  QCOMPARE(logEntries(c.f.view, Ctl::regresult).count(QStringLiteral("OK")), 2);
  QVERIFY(!c.f.view.text(Ctl::regresult).contains(QStringLiteral("连接超时！")));
  QCOMPARE(c.f.w.whois_send_count, 2);
}

// A stop ends every query in flight at once, and the run ends its usual way.
void TestWhoisParallel::stopEndsEveryQueryAtOnce() {
  WhoisCatch c = WhoisCatch::ofCount(20);
  c.f.settings.whois_servers = {
      c.row(QStringLiteral(".com"), QStringLiteral("50"), QStringLiteral("4"))};
  c.f.settings.whois_timeout = 10;
  c.whoisServer.setDefaultScript(StubWhoisServer::silent());
  QElapsedTimer sinceStop;
  const double seconds = c.run([&] {
    if (c.whoisServer.busy() < 4) return false;
    sinceStop.start();
    return true;
  });
  QVERIFY(c.stoppedAt > 0);
  QVERIFY2(sinceStop.elapsed() < 300, qPrintable(QString::number(sinceStop.elapsed())));
  QVERIFY(seconds < 3);
  QCOMPARE(c.whoisServer.queryCount(), 4);
  QTRY_COMPARE_WITH_TIMEOUT(c.whoisServer.busy(), 0, 1000);  // every connection closed
  QCOMPARE(c.f.w.int_start(), qint16(0));
  QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(c.f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  QVERIFY(!c.f.w.Timer6.isActive());
  QCOMPARE(c.registrar.requestCount(), 0);
}

// A limited reply is never an answer, though it holds the deleted marker;
// the server is left alone 2 s, then 4 s, and a good reply restores the pace.
void TestWhoisParallel::limitedRepliesAreBackedOff_data() {
  QTest::addColumn<QString>("rate");  // empty: one at a time
  QTest::newRow("rated row") << "20";
  QTest::newRow("one at a time") << "";
}

void TestWhoisParallel::limitedRepliesAreBackedOff() {
  QFETCH(QString, rate);
  WhoisCatch c({QStringLiteral("a.com")});
  c.f.settings.whois_servers = {
      c.row(QStringLiteral(".com"), rate, rate.isEmpty() ? QString() : "1")};
  c.f.settings.whois_after_reg = true;
  c.whoisServer.setDefaultScript(StubWhoisServer::reply(
      "No match for \"A.COM\".\r\nWHOIS LIMIT EXCEEDED - SEE WWW.EXAMPLE/LIMIT\r\n"));
  QTimer::singleShot(5000, [&] {
    c.whoisServer.setDefaultScript(
        StubWhoisServer::reply(expiryReply(QDate::currentDate().addDays(9))));
  });
  c.run([&] { return c.whoisServer.queryCount() >= 5; }, 12000);
  QCOMPARE(c.registrar.requestCount(), 0);
  const QList<qint64> at = arrivalsOf(c.whoisServer, QStringLiteral("a.com"));
  QVERIFY(at.size() >= 4);
  const double first = (at[1] - at[0]) / 1e9, second = (at[2] - at[1]) / 1e9;
  QVERIFY2(first >= 2.0 && first < 3.1, qPrintable(QString::number(first)));
  QVERIFY2(second >= 4.0 && second < 5.1, qPrintable(QString::number(second)));
  // After the good reply (the third query, at about 6 s) the pace is normal again.
  const double after = (at[3] - at[2]) / 1e9;
  QVERIFY2(after < 1.1, qPrintable(QString::number(after)));
  const QStringList lines = verdictLines(c.f.view);
  QCOMPARE(lines.mid(0, 2), (QStringList{verdictLine("a.com", whois::kLimited),
                                         verdictLine("a.com", whois::kLimited)}));
  QCOMPARE(lines.value(2), verdictLine("a.com", whois::kNotDeleted));
}

// With several queries in flight, their good replies to queries asked
// before the limited one do not cut the back-off short.
void TestWhoisParallel::limitedReplyHoldsTheWholeServer() {
  WhoisCatch c = WhoisCatch::ofCount(10);
  c.f.settings.whois_servers = {
      c.row(QStringLiteral(".com"), QStringLiteral("50"), QStringLiteral("4"))};
  c.whoisServer.setDefaultScript(slowReply(expiryReply(QDate::currentDate().addDays(20)), 100));
  const QString limited = catchDomain(3);
  c.whoisServer.setScript(limited, StubWhoisServer::reply("Too many queries, try again later\r\n"));
  c.run([&] { return c.whoisServer.queryCount() >= 14; }, 8000);
  const QList<StubWhoisServer::Query> q = c.whoisServer.queries();
  qint64 limitedAt = 0;
  for (const StubWhoisServer::Query& x : q)
    if (x.domain == limited && limitedAt == 0) limitedAt = x.replySentNs;
  QVERIFY(limitedAt > 0);
  QList<double> after;  // seconds after the limited reply, of every later query
  for (const StubWhoisServer::Query& x : q)
    if (x.arrivalNs > limitedAt) after << (x.arrivalNs - limitedAt) / 1e9;
  QVERIFY(!after.isEmpty());
  QVERIFY2(after.first() >= 2.0 && after.first() < 2.5, qPrintable(QString::number(after.first())));
  QCOMPARE(c.registrar.requestCount(), 0);
}

// RDAP rows: GET <base>domain/<name> with Accept: application/rdap+json; 404
// fires the registration, 200 reads the expiration event, 429 is limited.
void TestWhoisParallel::rdapRows_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<QString>("verdict");
  QTest::addColumn<QString>("rate");
  auto domain = [](int daysAhead) {
    return "{\"objectClassName\":\"domain\",\"ldhName\":\"A.COM\",\"status\":[\"active\"],"
           "\"events\":[{\"eventAction\":\"expiration\",\"eventDate\":\"" +
           QDate::currentDate().addDays(daysAhead).toString(Qt::ISODate).toLatin1() +
           "T04:00:00Z\"}]}";
  };
  QTest::newRow("404") << 404 << QByteArray("{\"errorCode\":404}") << whois::kDeleted << "20";
  QTest::newRow("200 far") << 200 << domain(400) << whois::kRegistered << "20";
  QTest::newRow("200 near") << 200 << domain(20) << whois::kNotDeleted << "20";
  QTest::newRow("429") << 429 << QByteArray() << whois::kLimited << "20";
  QTest::newRow("200 not JSON") << 200 << QByteArray("<html>") << whois::kUnclear << "20";
  QTest::newRow("404, one at a time") << 404 << QByteArray() << whois::kDeleted << "";
  QTest::newRow("200 far, one at a time") << 200 << domain(400) << whois::kRegistered << "";
}

void TestWhoisParallel::rdapRows() {
  QFETCH(int, status);
  QFETCH(QByteArray, body);
  QFETCH(QString, verdict);
  QFETCH(QString, rate);
  WhoisCatch c({QStringLiteral("a.com")});
  StubHttpServer rdap(StubHttpServer::Threading::OwnThread);
  QVERIFY(rdap.listen());
  StubHttpServer::Reply answer;
  answer.status = status;
  answer.body = body;
  answer.contentType = "application/rdap+json";
  rdap.setReply(answer);
  ServerRow row = c.row(QStringLiteral(".com"), rate, rate.isEmpty() ? QString() : "2");
  row.server = rdap.url(QStringLiteral("/com/v1"));  // no "/" at the end: one is added
  row.port = QString();
  row.deleted_mark = QString();
  c.f.settings.whois_servers = {row};
  c.run([&] { return rdap.requestCount() >= 1 && !verdictLines(c.f.view).isEmpty(); }, 5000);

  QCOMPARE(rdap.requests().first().target, QByteArray("/com/v1/domain/a.com"));
  QCOMPARE(rdap.requests().first().method, QByteArray("GET"));
  QCOMPARE(rdap.requests().first().header("Accept"), QByteArray("application/rdap+json"));
  QCOMPARE(verdictLines(c.f.view).first(), verdictLine("a.com", verdict));
  const int registrations = verdict == whois::kDeleted ? 1 : 0;
  if (registrations) QVERIFY(c.registrar.waitForRequests(1, 2000));
  QCOMPARE(c.registrar.requestCount(), registrations);
  QCOMPARE(logEntries(c.f.view, Ctl::regsend).first().section(u' ', -4),
           QStringLiteral("Sending Whois data: a.com"));
  // RDAP lookups are not registrations.
  QCOMPARE(c.f.w.whois_send_count, registrations);
}

// 429 with Retry-After: 3: the next lookup waits 3 s, not the first 2 s.
void TestWhoisParallel::rdapRetryAfterIsHonoured() {
  WhoisCatch c({QStringLiteral("a.com")});
  StubHttpServer rdap(StubHttpServer::Threading::OwnThread);
  QVERIFY(rdap.listen());
  StubHttpServer::Reply limited;
  limited.status = 429;
  limited.body = "{}";
  limited.headers = {{"Retry-After", "3"}};
  rdap.setReply(limited);
  ServerRow row = c.row(QStringLiteral(".com"), QStringLiteral("20"), QStringLiteral("1"));
  row.server = rdap.url(QStringLiteral("/rdap/"));
  c.f.settings.whois_servers = {row};
  c.f.settings.whois_after_reg = true;
  c.run([&] { return rdap.requestCount() >= 2; }, 8000);
  const QList<qint64> at = rdap.arrivalTimesNs();
  QCOMPARE(at.size(), 2);
  const double gap = (at[1] - at[0]) / 1e9;
  QVERIFY2(gap >= 3.0 && gap < 3.6, qPrintable(QString::number(gap)));
  QCOMPARE(c.registrar.requestCount(), 0);
}

// A reply holding the deleted marker and an expiry line whose LF never
// comes: we close the connection, so the line is judged as it stands. With
// re-querying on, a domain registered far ahead is then given up instead of
// being registered again at every cycle.
void TestWhoisParallel::deletionWithUnfinishedExpiryLine() {
  WhoisCatch c({QStringLiteral("a.com")});
  c.f.settings.whois_after_reg = true;
  StubWhoisServer::Script s;
  s.pieces = {"No match for \"A.COM\".\r\nExpiration Date: " +
              QDate::currentDate().addDays(400).toString(Qt::ISODate).toLatin1()};
  s.closeAfter = false;
  c.whoisServer.setDefaultScript(s);
  const double seconds = c.run({}, 8000);
  QVERIFY2(c.stoppedAt < 0, "the watch did not end by itself");
  QVERIFY(seconds < 4);
  QCOMPARE(c.registrar.requestCount(), 1);
  QCOMPARE(c.whoisServer.queryCount(), 1);
  QCOMPARE(verdictLines(c.f.view), (QStringList{verdictLine("a.com", whois::kDeleted),
                                                verdictLine("a.com", whois::kRegistered)}));
}

// Rows as a hand-edited INI may hold them: the monitor reads them with the
// rules of the settings save.
void TestWhoisParallel::handEditedRows_data() {
  QTest::addColumn<QString>("port");
  QTest::addColumn<QString>("mark");
  QTest::addColumn<QString>("rate");
  QTest::addColumn<QString>("parallel");
  QTest::addColumn<int>("queries");  // in the first cycle
  QTest::addColumn<int>("registrations");
  QTest::addColumn<QString>("notice");  // empty: none
  QTest::newRow("port with a sign: not watched") << "+43" << kDeletedMark << ""
                                                 << "" << 0 << 0 << "";
  QTest::newRow("port with a tab: not watched") << "\t43" << kDeletedMark << ""
                                                << "" << 0 << 0 << "";
  QTest::newRow("empty deleted marker never fires")
      << ""
      << ""
      << ""
      << "" << 1 << 0 << "Whois服务器第1行的已删除特征为空，该行的域名不会判定为已删除";
  QTest::newRow("bad rate: one at a time, named once")
      << "" << kDeletedMark << "fast"
      << "4" << 1 << 1 << "Whois服务器第1行的查询频率有误，该行改为逐个查询";
}

void TestWhoisParallel::handEditedRows() {
  QFETCH(QString, port);
  QFETCH(QString, mark);
  QFETCH(QString, rate);
  QFETCH(QString, parallel);
  QFETCH(int, queries);
  QFETCH(int, registrations);
  QFETCH(QString, notice);
  WhoisCatch c({QStringLiteral("a.com"), QStringLiteral("b.com")});
  ServerRow row = c.row(QStringLiteral(".com"), rate, parallel);
  if (!port.isEmpty()) row.port = port;
  row.deleted_mark = mark;
  c.f.settings.whois_servers = {row};
  c.whoisServer.setDefaultScript(StubWhoisServer::reply(deletedReply("x.com")));
  c.run([&] { return c.f.w.Timer6.isActive(); }, 5000);
  QCOMPARE(c.whoisServer.queryCount(), 2 * queries);
  if (registrations) QVERIFY(c.registrar.waitForRequests(2, 2000));
  QCOMPARE(c.registrar.requestCount(), 2 * registrations);
  QCOMPARE(c.notices, notice.isEmpty() ? QStringList() : QStringList{notice});
  if (queries > 0 && registrations > 0) {
    // One at a time: each query after the previous one's verdict.
    const QList<StubWhoisServer::Query> q = c.whoisServer.queries();
    QCOMPARE(c.whoisServer.maxBusy(), 1);
    QVERIFY(q[1].arrivalNs > q[0].arrivalNs);
  }
}

QTEST_GUILESS_MAIN(TestWhoisParallel)
#include "tst_whois_parallel.moc"
