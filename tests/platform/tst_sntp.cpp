#include <QtTest>

#include "platform/Sntp.h"
#include "support/StubSntpServer.h"

using platform::SntpClient;
using Behaviour = StubSntpServer::Behaviour;
Q_DECLARE_METATYPE(Behaviour)

namespace {

// One measurement against the stub: the offset (ms) or the failure.
struct Outcome {
  bool measured = false;
  double offsetMs = 0;
  double roundTripMs = 0;
  SntpClient::Failure failure = SntpClient::Failure::NoReply;
  qint64 tookMs = 0;
};

Outcome measure(const platform::TimeServer& server, int waitMs = 8000) {
  SntpClient client;
  Outcome out;
  bool done = false;
  QObject::connect(&client, &SntpClient::measured, [&](qint64 offsetUs, qint64 roundTripUs) {
    out.measured = true;
    out.offsetMs = double(offsetUs) / 1000;
    out.roundTripMs = double(roundTripUs) / 1000;
    done = true;
  });
  QObject::connect(&client, &SntpClient::failed, [&](SntpClient::Failure why) {
    out.failure = why;
    done = true;
  });
  // A plain event loop: QTRY_ sleeps between its looks, and a reply read
  // late would make every round trip look long.
  QEventLoop loop;
  QObject::connect(&client, &SntpClient::measured, &loop, &QEventLoop::quit);
  QObject::connect(&client, &SntpClient::failed, &loop, &QEventLoop::quit);
  QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
  QElapsedTimer clock;
  clock.start();
  client.measure(server);
  loop.exec();
  out.tookMs = clock.elapsed();
  if (!done) qWarning("no outcome within %d ms", waitMs);
  return out;
}

platform::TimeServer at(const StubSntpServer& stub) {
  return {QStringLiteral("127.0.0.1"), stub.port()};
}

}  // namespace

class TestSntp : public QObject {
  Q_OBJECT
 private slots:
  void parseTimeServer_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");  // empty: not a time server
    QTest::addColumn<int>("port");
    QTest::newRow("name") << "ntp.aliyun.com"
                          << "ntp.aliyun.com" << 123;
    QTest::newRow("name and port") << "time.example:1123"
                                   << "time.example" << 1123;
    QTest::newRow("IPv4 and port") << "127.0.0.1:65535"
                                   << "127.0.0.1" << 65535;
    QTest::newRow("IPv6 in brackets with port") << "[::1]:1"
                                                << "::1" << 1;
    QTest::newRow("IPv6 in brackets") << "[2001:db8::1]"
                                      << "2001:db8::1" << 123;
    QTest::newRow("bare IPv6") << "2001:db8::1"
                               << "2001:db8::1" << 123;
    QTest::newRow("blanks around") << "  ntp.example  "
                                   << "ntp.example" << 123;
    QTest::newRow("international name")
        << QStringLiteral("时间.例子") << QStringLiteral("时间.例子") << 123;
    QTest::newRow("empty") << ""
                           << "" << 0;
    QTest::newRow("blank inside") << "ntp example"
                                  << "" << 0;
    QTest::newRow("port 0") << "ntp.example:0"
                            << "" << 0;
    QTest::newRow("port 65536") << "ntp.example:65536"
                                << "" << 0;
    QTest::newRow("port with a sign") << "ntp.example:+123"
                                      << "" << 0;
    QTest::newRow("colon without port") << "ntp.example:"
                                        << "" << 0;
    QTest::newRow("empty label") << "ntp..example"
                                 << "" << 0;
    QTest::newRow("label with a leading hyphen") << "-ntp.example"
                                                 << "" << 0;
    QTest::newRow("scheme") << "udp://ntp.example"
                            << "" << 0;
    QTest::newRow("IPv4 in brackets") << "[127.0.0.1]:123"
                                      << "" << 0;
    QTest::newRow("text after the bracket") << "[::1]x"
                                            << "" << 0;
    QTest::newRow("not an IPv6 address") << "a:b:c"
                                         << "" << 0;
  }
  void parseTimeServer() {
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    const std::optional<platform::TimeServer> s = platform::parseTimeServer(text);
    QCOMPARE(s.has_value(), !host.isEmpty());
    if (!s) return;
    QCOMPARE(s->host, host);
    QCOMPARE(int(s->port), port);
  }

  // The server's clock ahead or behind ours, read to the millisecond.
  void offsetMeasured_data() {
    QTest::addColumn<double>("aheadMs");
    QTest::newRow("1.5 s ahead") << 1500.0;
    QTest::newRow("0.25 s behind") << -250.0;
    QTest::newRow("an hour ahead") << 3600000.0;
  }
  void offsetMeasured() {
    QFETCH(double, aheadMs);
    StubSntpServer stub(StubSntpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    stub.setOffsetMs(aheadMs);
    const Outcome o = measure(at(stub));
    QVERIFY(o.measured);
    QVERIFY2(std::abs(o.offsetMs - aheadMs) < 1.0, qPrintable(QString::number(o.offsetMs)));
    QVERIFY(o.roundTripMs >= 0 && o.roundTripMs < 50);
    QCOMPARE(stub.queryCount(), SntpClient::kSamples);
  }

  // A slow reply stamped as it leaves looks like time spent on the way there,
  // and puts its offset half the delay off; the quick samples win.
  void shortestRoundTripWins() {
    StubSntpServer stub(StubSntpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    StubSntpServer::Reply slow;
    slow.delayMs = 300;
    slow.stampOnSend = true;
    stub.setScript({slow, slow});
    const Outcome o = measure(at(stub));
    QVERIFY(o.measured);
    QVERIFY2(std::abs(o.offsetMs) < 1.0, qPrintable(QString::number(o.offsetMs)));
  }

  // A reply to ignore (it carries an offset far from the true one) leaves its
  // sample to the time-out; the next samples' replies are used.
  void repliesIgnored_data() {
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<double>("badOffsetMs");
    QTest::newRow("wrong origin") << Behaviour::WrongOrigin << 5000.0;
    QTest::newRow("short") << Behaviour::Short << 5000.0;
    QTest::newRow("unsynchronised") << Behaviour::Unsynchronised << 5000.0;
    QTest::newRow("from another port") << Behaviour::OtherPort << 5000.0;
    QTest::newRow("more than a day off") << Behaviour::Answer << 86400000.0 + 1000;
  }
  void repliesIgnored() {
    QFETCH(Behaviour, behaviour);
    QFETCH(double, badOffsetMs);
    StubSntpServer stub(StubSntpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    StubSntpServer::Reply bad;
    bad.behaviour = behaviour;
    bad.offsetMs = badOffsetMs;
    stub.setScript({bad});
    stub.setOffsetMs(250);
    const Outcome o = measure(at(stub));
    QVERIFY(o.measured);
    QVERIFY2(std::abs(o.offsetMs - 250) < 1.0, qPrintable(QString::number(o.offsetMs)));
  }

  void kissOfDeathStopsAtOnce() {
    StubSntpServer stub(StubSntpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    StubSntpServer::Reply kod;
    kod.behaviour = Behaviour::KissOfDeath;
    stub.setScript({kod});
    const Outcome o = measure(at(stub));
    QVERIFY(!o.measured);
    QCOMPARE(o.failure, SntpClient::Failure::NoReply);
    QVERIFY(o.tookMs < SntpClient::kReplyTimeoutMs);
    QTest::qWait(100);
    QCOMPARE(stub.queryCount(), 1);
  }

  void silentServerFails() {
    StubSntpServer stub(StubSntpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    stub.setScript(QList<StubSntpServer::Reply>(SntpClient::kSamples, {Behaviour::Silent}));
    const Outcome o = measure(at(stub));
    QVERIFY(!o.measured);
    QCOMPARE(o.failure, SntpClient::Failure::NoReply);
    QCOMPARE(stub.queryCount(), SntpClient::kSamples);
  }

  void unknownHostFails() {
    const Outcome o = measure({QStringLiteral("time.zembrin-test.invalid"), 123}, 30000);
    QVERIFY(!o.measured);
    QCOMPARE(o.failure, SntpClient::Failure::HostNotFound);
  }
};

QTEST_GUILESS_MAIN(TestSntp)
#include "tst_sntp.moc"
