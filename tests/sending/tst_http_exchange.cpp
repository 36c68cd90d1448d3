#include <QtTest>

#include "platform/LogBox.h"
#include "sending/HttpExchange.h"
#include "support/StubHttpServer.h"
#include "support/TaskFixture.h"

using platform::HttpRequest;
using Behaviour = StubHttpServer::Behaviour;

namespace {

const QString kGap = QStringLiteral("\r\n\r\n\r\n");

StubHttpServer::Reply reply(int status, const QByteArray& body, int delayMs = 0,
                            Behaviour behaviour = Behaviour::Answer) {
  StubHttpServer::Reply r;
  r.status = status;
  r.body = body;
  r.delayMs = delayMs;
  r.behaviour = behaviour;
  return r;
}

// A task window ready to exchange one request built by hand.
struct Exchange : TaskFixture {
  std::shared_ptr<HttpRequest> slot = std::make_shared<HttpRequest>();

  Exchange() {
    setTimeout(5);
    view.setIndex(Ctl::radio_post_type, 1);  // asynchronous unless a test says otherwise
    w.setIntStart(1);
  }
  void setTimeout(int seconds) {
    view.setIndex(Ctl::time_out, timeOutEntries().indexOf(QString::number(seconds)));
  }
  // One exchange as the senders make it (count 1, everything shown).
  qint64 send(const QString& url, const QString& body = QStringLiteral("a=1"), bool show = true,
              bool await = true) {
    w.request_url = url;
    w.reg.Form = body;
    QElapsedTimer t;
    t.start();
    SendRequest(w, slot, 1, show, await);
    return t.elapsed();
  }
  QString result() const { return view.text(Ctl::regresult); }
};

}  // namespace

class TestHttpExchange : public QObject {
  Q_OBJECT
 private slots:
  void replies_data();
  void replies();
  void requestOnTheWire_data();
  void requestOnTheWire();
  void failuresEndWithinTheTimeout_data();
  void failuresEndWithinTheTimeout();
  void noAnswerTimesOut();
  void stopEndsTheWaitAtOnce();
  void endlessBodyIsBounded();
  void tls_data();
  void tls();
  void displayRules_data();
  void displayRules();
  void synchronousWaitsAsynchronousDoesNot_data();
  void synchronousWaitsAsynchronousDoesNot();
  void displayLimitOnlyOnSuccess_data();
  void displayLimitOnlyOnSuccess();
  void reopeningAbandonsReleasingDoesNot();
  void unobservedRequestsHaveABoundedLife();
  void connectionsAreReusedAndParallel();
  void eachTransferHasOnlyItsOwnMethod();
  void redirectsOnlyWithinTheOrigin();
  void synchronousWaitOutlastsTheTimeout();
  void urlsAsTyped_data();
  void urlsAsTyped();
};

void TestHttpExchange::replies_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<bool>("utf8");
  QTest::addColumn<QString>("shown");
  QTest::newRow("plain") << 200 << QByteArray("OK") << false << QStringLiteral("OK");
  QTest::newRow("GB2312") << 200 << QByteArray("\xC4\xE3\xBA\xC3") << false
                          << QStringLiteral("你好");
  QTest::newRow("UTF-8") << 200 << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD") << true
                         << QStringLiteral("你好");
  QTest::newRow("UTF-8 bytes read as GB2312")
      << 200 << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD") << false << QStringLiteral("浣犲ソ");
  QTest::newRow("404 page") << 404 << QByteArray("<h1>no such api</h1>") << false
                            << QStringLiteral("<h1>no such api</h1>");
  QTest::newRow("500 page") << 500 << QByteArray("busy") << false << QStringLiteral("busy");
  QTest::newRow("empty body") << 200 << QByteArray() << false
                              << QStringLiteral("请求api失败或无数据返回。");
}

void TestHttpExchange::replies() {
  QFETCH(int, status);
  QFETCH(QByteArray, body);
  QFETCH(bool, utf8);
  QFETCH(QString, shown);
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(status, body));
  Exchange x;
  x.w.utf8_reply = utf8 ? -1 : 0;
  x.send(stub.url(QStringLiteral("/api")));
  QCOMPARE(x.result(), shown + kGap);
  QVERIFY(x.view.scrollCount(Ctl::regresult) > 0);
}

void TestHttpExchange::requestOnTheWire_data() {
  QTest::addColumn<int>("method");  // radio_send_type
  QTest::addColumn<bool>("templateMode");
  QTest::addColumn<QByteArray>("verb");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<QString>("sentLog");
  QTest::newRow("POST form") << 1 << false << QByteArray("POST") << QByteArray("a=1&b=%E4")
                             << QStringLiteral("a=1&b=%E4");
  QTest::newRow("GET form: the body goes too")
      << 0 << false << QByteArray("GET") << QByteArray("a=1&b=%E4") << QStringLiteral("a=1&b=%E4");
  QTest::newRow("GET template: no body")
      << 0 << true << QByteArray("GET") << QByteArray() << QStringLiteral("GET:");
}

void TestHttpExchange::requestOnTheWire() {
  QFETCH(int, method);
  QFETCH(bool, templateMode);
  QFETCH(QByteArray, verb);
  QFETCH(QByteArray, body);
  QFETCH(QString, sentLog);
  StubHttpServer stub;
  QVERIFY(stub.listen());
  Exchange x;
  x.view.setIndex(Ctl::radio_send_type, method);
  x.w.url_template_mode = templateMode;
  const QString url = stub.url(QStringLiteral("/reg?u=x&s=1"));
  x.send(url, QStringLiteral("a=1&b=%E4"));
  QCOMPARE(x.result(), QStringLiteral("OK") + kGap);
  QCOMPARE(x.view.text(Ctl::regsend), sentLog + (templateMode ? url : QString()) + kGap);
  QCOMPARE(x.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));
  const auto got = stub.requests();
  QCOMPARE(got.size(), 1);
  QCOMPARE(got[0].method, verb);
  QCOMPARE(got[0].target, QByteArray("/reg?u=x&s=1"));
  QCOMPARE(got[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
  QCOMPARE(got[0].header("If-Modified-Since"), QByteArray("0"));
  QCOMPARE(got[0].body, body);
}

void TestHttpExchange::failuresEndWithinTheTimeout_data() {
  QTest::addColumn<QString>("url");  // "STUB" stands for a stub registrar's address
  QTest::addColumn<int>("behaviour");
  QTest::addColumn<QString>("shown");
  QTest::newRow("refused") << QStringLiteral("CLOSED") << 0 << QStringLiteral("连接失败！");
  QTest::newRow("unresolvable host")
      << QStringLiteral("http://no-such-host.invalid/reg") << 0 << QStringLiteral("连接失败！");
  QTest::newRow("no host") << QStringLiteral("http:///reg") << 0 << QStringLiteral("连接失败！");
  QTest::newRow("not a URL") << QStringLiteral("::not a url::") << 0
                             << QStringLiteral("连接失败！");
  QTest::newRow("unknown scheme") << QStringLiteral("ftp://127.0.0.1/reg") << 0
                                  << QStringLiteral("连接失败！");
  QTest::newRow("empty URL") << QString() << 0 << QStringLiteral("连接失败！");
  QTest::newRow("reset mid-reply")
      << QStringLiteral("STUB") << int(Behaviour::ResetMidReply) << QStringLiteral("连接失败！");
}

void TestHttpExchange::failuresEndWithinTheTimeout() {
  QFETCH(QString, url);
  QFETCH(int, behaviour);
  QFETCH(QString, shown);
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, QByteArray(2000, 'r'), 0, Behaviour(behaviour)));
  if (url == QStringLiteral("STUB")) url = stub.url(QStringLiteral("/reg"));
  if (url == QStringLiteral("CLOSED")) {
    url = stub.url(QStringLiteral("/reg"));
    stub.close();
  }
  Exchange x;
  const qint64 ms = x.send(url);
  QCOMPARE(x.result(), shown + kGap);
  QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
  QCOMPARE(x.slot->readyState(), 4);
}

void TestHttpExchange::noAnswerTimesOut() {
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "late", 0, Behaviour::NeverAnswer));
  Exchange x;
  x.setTimeout(1);
  const qint64 ms = x.send(stub.url());
  QCOMPARE(x.result(), QStringLiteral("连接超时！") + kGap);
  QVERIFY2(ms > 1000 && ms < 1500, qPrintable(QString::number(ms)));
  QCOMPARE(stub.requestCount(), 1);
}

void TestHttpExchange::stopEndsTheWaitAtOnce() {
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "late", 3000));
  Exchange x;
  QTimer::singleShot(200, &x.w, [&x] { x.w.regstop_Click(); });
  const qint64 ms = x.send(stub.url());
  QCOMPARE(x.result(), QStringLiteral("连接超时！") + kGap);
  QVERIFY2(ms >= 190 && ms < 400, qPrintable(QString::number(ms)));
}

void TestHttpExchange::endlessBodyIsBounded() {
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, {}, 0, Behaviour::EndlessBody));
  Exchange x;
  const qint64 ms = x.send(stub.url());
  QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
  QVERIFY(x.slot->truncated());
  QCOMPARE(x.slot->responseBody().size(), platform::kMaxReplyBytes);
  QCOMPARE(x.result(), QString(platform::kMaxReplyBytes, u'x') + kGap);
  // The connection is given up, nothing is left running.
  QTRY_COMPARE(platform::httpTransfersInFlight(), 0);
}

void TestHttpExchange::tls_data() {
  QTest::addColumn<QString>("certificate");
  QTest::addColumn<bool>("trustTestCa");
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("shown");
  QTest::newRow("trusted") << "server" << true << "127.0.0.1" << QStringLiteral("OK");
  QTest::newRow("trusted, by name") << "server" << true << "localhost" << QStringLiteral("OK");
  QTest::newRow("unknown issuer") << "server" << false << "127.0.0.1"
                                  << QStringLiteral("连接失败！");
  QTest::newRow("name mismatch") << "otherhost" << true << "127.0.0.1"
                                 << QStringLiteral("连接失败！");
}

void TestHttpExchange::tls() {
  QFETCH(QString, certificate);
  QFETCH(bool, trustTestCa);
  QFETCH(QString, host);
  QFETCH(QString, shown);
  StubHttpServer stub;
  QVERIFY(stub.listen(true, 0, certificate));
  platform::addTrustedCaFileForTests(trustTestCa ? StubHttpServer::tlsFixture("ca.pem")
                                                 : QString());
  Exchange x;
  x.send(QStringLiteral("https://%1:%2/reg").arg(host).arg(stub.port()));
  platform::addTrustedCaFileForTests({});
  QCOMPARE(x.result(), shown + kGap);
  QCOMPARE(stub.requestCount(), shown == QStringLiteral("OK") ? 1 : 0);
}

void TestHttpExchange::displayRules_data() {
  QTest::addColumn<int>("sendInfo");
  QTest::addColumn<int>("returnInfo");
  QTest::addColumn<SendMode>("sendMode");
  QTest::addColumn<int>("count");
  QTest::addColumn<bool>("loop");
  QTest::addColumn<bool>("show");
  QTest::addColumn<bool>("await");
  QTest::newRow("first time, first")
      << 1 << 1 << SendMode::CatchWithoutWhois << 1 << true << true << true;
  QTest::newRow("first time, second")
      << 1 << 1 << SendMode::CatchWithoutWhois << 2 << true << false << false;
  QTest::newRow("every time") << 2 << 2 << SendMode::CatchWithoutWhois << 7 << true << true << true;
  QTest::newRow("never") << 0 << 0 << SendMode::CatchWithoutWhois << 1 << true << false << false;
  QTest::newRow("normal registration always")
      << 0 << 0 << SendMode::NormalRegistration << 1 << true << true << true;
  QTest::newRow("WHOIS-triggered, first of its call")
      << 1 << 1 << SendMode::WhoisTriggered << 1 << true << true << true;
  QTest::newRow("tick sender, never")
      << 0 << 0 << SendMode::CatchWithoutWhois << 1 << false << false << false;
}

void TestHttpExchange::displayRules() {
  QFETCH(int, sendInfo);
  QFETCH(int, returnInfo);
  QFETCH(SendMode, sendMode);
  QFETCH(int, count);
  QFETCH(bool, loop);
  QFETCH(bool, show);
  QFETCH(bool, await);
  Exchange x;
  x.view.setIndex(Ctl::radio_send_info, sendInfo);
  x.view.setIndex(Ctl::radio_return_info, returnInfo);
  x.w.send_mode = sendMode;
  QCOMPARE(showSentFor(x.w, count, loop), show);
  QCOMPARE(awaitReplyFor(x.w, count), await);
}

void TestHttpExchange::synchronousWaitsAsynchronousDoesNot_data() {
  QTest::addColumn<int>("postType");
  QTest::addColumn<bool>("waits");
  QTest::newRow("同步(慢)") << 0 << true;
  QTest::newRow("异步(快)") << 1 << false;
}

// With "不返回": nothing reaches regresult either way, but the synchronous
// sender goes on only once the reply is in.
void TestHttpExchange::synchronousWaitsAsynchronousDoesNot() {
  QFETCH(int, postType);
  QFETCH(bool, waits);
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "OK", 500));
  Exchange x;
  x.view.setIndex(Ctl::radio_post_type, postType);
  const qint64 ms = x.send(stub.url(), QStringLiteral("a=1"), false, false);
  QCOMPARE(x.result(), QString());
  QCOMPARE(x.view.text(Ctl::regsend), QString());
  QCOMPARE(x.slot->readyState() == 4, waits);
  QVERIFY2(waits ? ms >= 490 : ms < 100, qPrintable(QString::number(ms)));
  QVERIFY(stub.waitForRequests(1, 2000));  // on the wire either way
}

void TestHttpExchange::displayLimitOnlyOnSuccess_data() {
  QTest::addColumn<int>("before");
  QTest::addColumn<bool>("answer");
  QTest::addColumn<bool>("emptied");
  QTest::newRow("50001 then a reply") << 50001 << true << true;
  QTest::newRow("50000 then a reply") << 50000 << true << false;
  QTest::newRow("50001 then a failure") << 50001 << false << false;
}

void TestHttpExchange::displayLimitOnlyOnSuccess() {
  QFETCH(int, before);
  QFETCH(bool, answer);
  QFETCH(bool, emptied);
  StubHttpServer stub;
  QVERIFY(stub.listen());
  const QString url = stub.url();
  if (!answer) stub.close();
  Exchange x;
  const QString old(before, u'o');
  x.view.setText(Ctl::regresult, old);
  x.send(url);
  const QString entry = (answer ? QStringLiteral("OK") : QStringLiteral("连接失败！")) + kGap;
  QCOMPARE(x.result(), emptied ? entry : old + entry);
}

// Reopening a slot stops its old request; releasing the ring stops nothing:
// the request already sent completes unobserved.
void TestHttpExchange::reopeningAbandonsReleasingDoesNot() {
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "OK", 400));
  QCOMPARE(platform::httpTransfersInFlight(), 0);

  auto ring = std::make_shared<RequestRing>(1);
  auto first = ring->slot(0);
  first->open(QStringLiteral("GET"), stub.url(QStringLiteral("/1")), true);
  first->send({});
  QVERIFY(stub.waitForRequests(1, 2000));
  QCOMPARE(platform::httpTransfersInFlight(), 1);
  first->open(QStringLiteral("GET"), stub.url(QStringLiteral("/2")), true);  // reopened
  QCOMPARE(platform::httpTransfersInFlight(), 0);
  QCOMPARE(first->readyState(), 1);
  first->send({});
  first.reset();

  QElapsedTimer t;
  t.start();
  ring->release();
  QCOMPARE(ring->size(), 1);
  QCOMPARE(platform::httpTransfersInFlight(), 1);  // still running, unobserved
  QVERIFY(platform::waitForHttpTransfers(3000));
  QVERIFY2(t.elapsed() >= 250, qPrintable(QString::number(t.elapsed())));
  QCOMPARE(stub.requestCount(), 2);
  QCOMPARE(stub.requests()[1].target, QByteArray("/2"));
}

// A registrar that never answers cannot keep released requests (and their
// connections) forever: each ends after the lifetime bound.
void TestHttpExchange::unobservedRequestsHaveABoundedLife() {
  StubHttpServer stub;
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "never", 0, Behaviour::NeverAnswer));
  platform::setRequestLifetimeForTests(300);
  RequestRing ring(3);
  for (int i = 0; i < 3; ++i) {
    ring.slot(i)->open(QStringLiteral("POST"), stub.url(), true);
    ring.slot(i)->send("a=1");
  }
  ring.release();
  QVERIFY(stub.waitForRequests(3, 2000));
  QCOMPARE(platform::httpTransfersInFlight(), 3);
  QElapsedTimer t;
  t.start();
  const bool drained = platform::waitForHttpTransfers(3000);
  platform::setRequestLifetimeForTests(0);
  QVERIFY(drained);
  QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
}

// Keep-alive for requests one after the other; a new connection for each
// request sent while the others wait.
void TestHttpExchange::connectionsAreReusedAndParallel() {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "OK"));
  HttpRequest one;
  for (int i = 0; i < 5; ++i) {
    one.open(QStringLiteral("POST"), stub.url(), true);
    one.send("n=" + QByteArray::number(i));
    QTRY_COMPARE(one.readyState(), 4);
    QCOMPARE(one.status(), 200);
  }
  QCOMPARE(stub.connectionCount(), 1);

  stub.setReply(reply(200, "OK", 300));
  stub.clearRecords();
  std::vector<std::unique_ptr<HttpRequest>> many;
  for (int i = 0; i < 70; ++i) {
    many.push_back(std::make_unique<HttpRequest>());
    many.back()->open(QStringLiteral("GET"), stub.url(QStringLiteral("/p")), true);
    many.back()->send({});
  }
  QVERIFY(platform::waitForHttpTransfers(5000));
  for (const auto& r : many) QCOMPARE(r->status(), 200);
  // All at once, each on a connection of its own (the kept-alive one among
  // them): every request arrived before the first reply left, 300 ms after
  // the first arrival, so none was queued behind a busy connection.
  QCOMPARE(stub.connectionCount(), 70);
  const QList<qint64> arrivals = stub.arrivalTimesNs();
  QCOMPARE(arrivals.size(), 70);
  const auto [first, last] = std::minmax_element(arrivals.begin(), arrivals.end());
  QVERIFY2(*last - *first < 300000000, qPrintable(QString::number((*last - *first) / 1000000)));
}

// A 307 keeps the method and body: followed on the same origin only, so a
// registrar's redirect never carries the password to another server.
// One request object, so one handle of the engine, used in turn: a method's
// options never carry over to the next request (a HEAD's would make the next
// POST a HEAD without its body).
void TestHttpExchange::eachTransferHasOnlyItsOwnMethod() {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "OK"));
  const QList<QPair<QString, QByteArray>> turns = {{"HEAD", ""},   {"POST", "a=1"}, {"GET", ""},
                                                   {"PUT", "b=2"}, {"HEAD", ""},    {"GET", "c=3"},
                                                   {"POST", "d=4"}};
  HttpRequest one;
  for (const auto& [method, body] : turns) {
    one.open(method, stub.url(QStringLiteral("/m")), true);
    one.send(body);
    QTRY_COMPARE(one.readyState(), 4);
    QCOMPARE(one.status(), 200);
  }
  const QList<StubHttpServer::Request> got = stub.requests();
  QCOMPARE(got.size(), turns.size());
  for (qsizetype i = 0; i < turns.size(); ++i) {
    QCOMPARE(got[i].method, turns[i].first.toLatin1());
    QCOMPARE(got[i].body, turns[i].second);
  }
}

void TestHttpExchange::redirectsOnlyWithinTheOrigin() {
  StubHttpServer other(StubHttpServer::Threading::OwnThread);
  QVERIFY(other.listen());
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  QVERIFY(stub.listen());
  const QByteArray elsewhere = other.url(QStringLiteral("/steal")).toUtf8();
  stub.setResponder([elsewhere](const StubHttpServer::Request& r) {
    StubHttpServer::Reply reply;
    if (r.target == "/here") {
      reply.status = 307;
      reply.headers = {{"Location", "/there"}};
    } else if (r.target == "/away") {
      reply.status = 307;
      reply.body = "moved";
      reply.headers = {{"Location", elsewhere}};
    } else {
      reply.body = "arrived " + r.body;
    }
    return reply;
  });
  Exchange x;
  x.view.setIndex(Ctl::radio_send_type, 1);
  x.send(stub.url(QStringLiteral("/here")), QStringLiteral("pass=secret"));
  QCOMPARE(x.result(), QStringLiteral("arrived pass=secret") + kGap);

  x.view.setText(Ctl::regresult, QString());
  x.send(stub.url(QStringLiteral("/away")), QStringLiteral("pass=secret"));
  QCOMPARE(x.result(), QStringLiteral("moved\r\n（未跟随转向其他服务器的重定向：") +
                           QString::fromUtf8(elsewhere) + QStringLiteral("）") + kGap);
  QCOMPARE(other.requestCount(), 0);
}

// "同步(慢)" waits for the reply as long as the client's own limits allow:
// the task's time-out is the asynchronous wait's, so a reply slower than it
// is shown, and the next request never leaves while this one is pending.
void TestHttpExchange::synchronousWaitOutlastsTheTimeout() {
  StubHttpServer stub(StubHttpServer::Threading::OwnThread);
  QVERIFY(stub.listen());
  stub.setReply(reply(200, "late but here", 1600));
  Exchange x;
  x.setTimeout(1);
  x.view.setIndex(Ctl::radio_post_type, 0);
  const qint64 ms = x.send(stub.url());
  QVERIFY2(ms >= 1500, qPrintable(QString::number(ms)));
  QCOMPARE(x.result(), QStringLiteral("late but here") + kGap);

  // A stop still ends the wait at once.
  x.view.setText(Ctl::regresult, QString());
  QTimer::singleShot(200, [&x] { x.w.setIntStart(0); });
  QVERIFY(x.send(stub.url()) < 1000);
  QCOMPARE(x.result(), QStringLiteral("连接超时！") + kGap);
}

void TestHttpExchange::urlsAsTyped_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QByteArray>("sent");
  QTest::newRow("plain") << QStringLiteral("http://h:8/r?a=1&b=%41#f")
                         << QByteArray("http://h:8/r?a=1&b=%41#f");
  QTest::newRow("blank and Chinese in the query")
      << QStringLiteral("http://h/r?d=你 好") << QByteArray("http://h/r?d=%E4%BD%A0%20%E5%A5%BD");
  QTest::newRow("unsafe marks") << QStringLiteral("http://h/a|b{c}\\\"")
                                << QByteArray("http://h/a%7Cb%7Bc%7D%5C%22");
  QTest::newRow("international host kept") << QStringLiteral("http://例子.cn/注册")
                                           << QByteArray(
                                                  "http://\xE4\xBE\x8B\xE5\xAD\x90.cn/"
                                                  "%E6%B3%A8%E5%86%8C");
  QTest::newRow("no scheme") << QStringLiteral("h/a b") << QByteArray("h/a%20b");
}

// What the template mode puts into a URL without UTF-8 sending reaches the
// registrar escaped as a browser would, not refused.
void TestHttpExchange::urlsAsTyped() {
  QFETCH(QString, typed);
  QFETCH(QByteArray, sent);
  QCOMPARE(platform::normalizeUrl(typed), sent);
}

QTEST_GUILESS_MAIN(TestHttpExchange)
#include "tst_http_exchange.moc"
