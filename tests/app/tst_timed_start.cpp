#include <QtTest>
#include <cmath>

#include "platform/Clock.h"
#include "platform/Sntp.h"
#include "support/StubHttpServer.h"
#include "support/StubSntpServer.h"
#include "support/StubWhoisServer.h"
#include "support/TaskFixture.h"
#include "whois/ServerTable.h"

namespace {

constexpr double kNoServer = std::numeric_limits<double>::quiet_NaN();

// A moment of the stubs' monotonic clock on the wall clock, in microseconds.
qint64 wallUsOf(qint64 monotonicNs) {
  return monotonicNs / 1000 + (platform::wallClockUs() - StubHttpServer::monotonicNs() / 1000);
}

// Blocks in the event loop (no sleeping between looks, so an alarm is taken
// the moment it rings) until done() holds or timeoutMs has passed.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  look.start(5);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  return done();
}

// A timed catch without WHOIS against a registrar stub: two requests a
// second for a second, asynchronous, nothing shown.
struct TimedFixture : TaskFixture {
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
  QStringList notices;

  TimedFixture() {
    registrar.listen();
    settings.check_whois = false;
    setSimpleTask(registrar.url(QStringLiteral("/reg")));
    view.setIndex(Ctl::radio_send_type, 1);
    view.setIndex(Ctl::radio_post_type, 1);
    view.setIndex(Ctl::radio_send_info, 0);
    view.setIndex(Ctl::radio_return_info, 0);
    view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QStringLiteral("2")));
    view.setText(Ctl::reg_second, QStringLiteral("1"));
    QObject::connect(&w.events, &RunEvents::notice, [this](const QString& t) { notices << t; });
  }

  // Arms for a whole second of the wall clock (seconds since the epoch).
  void arm(qint64 second) {
    const QDateTime at = QDateTime::fromSecsSinceEpoch(second);
    const QString fields[] = {
        QString::number(at.date().year()),   QString::number(at.date().month()),
        QString::number(at.date().day()),    QString::number(at.time().hour()),
        QString::number(at.time().minute()), QString::number(at.time().second())};
    const Ctl boxes[] = {Ctl::year1, Ctl::month1,  Ctl::day1,
                         Ctl::hour1, Ctl::minute1, Ctl::second1};
    for (int i = 0; i < 6; ++i) view.setText(boxes[i], fields[i]);
    w.time_start_Click();
  }

  bool waitForRunEnd(int timeoutMs) {
    return waitFor([this] { return w.timer_start == 0 && w.int_start() == 0; }, timeoutMs);
  }
};

// Arrival times of the registrations (warm-ups to "/" left out).
QList<qint64> registrationsAt(const StubHttpServer& registrar) {
  QList<qint64> times;
  for (const StubHttpServer::Request& r : registrar.requests())
    if (r.target == "/reg") times << r.arrivalNs;
  return times;
}

// A whole second of the wall clock, at least aheadS seconds from now.
qint64 secondAhead(int aheadS) { return platform::wallClockUs() / 1000000 + 1 + aheadS; }

}  // namespace

class TestTimedStart : public QObject {
  Q_OBJECT
 private slots:
  // The catch's first request leaves at the set second of the corrected
  // clock (a time server's offset applied), timed_lead_ms earlier, never
  // before; with WHOIS checking the first query does.
  void startsOnTheCorrectedSecond_data() {
    QTest::addColumn<double>("serverAheadMs");  // NaN: no time server
    QTest::addColumn<int>("leadMs");
    QTest::addColumn<bool>("whois");
    QTest::addColumn<QString>("notice");
    QTest::newRow("local clock") << kNoServer << 0 << false << QString();
    QTest::newRow("server 1.5 s ahead") << 1500.0 << 0 << false << "时钟偏差：+1.500 秒";
    QTest::newRow("server 0.8 s behind") << -800.0 << 0 << false << "时钟偏差：-0.800 秒";
    QTest::newRow("lead 300 ms") << kNoServer << 300 << false << QString();
    QTest::newRow("server ahead and lead") << 1500.0 << 300 << false << "时钟偏差：+1.500 秒";
    QTest::newRow("WHOIS, server ahead") << 1500.0 << 0 << true << "时钟偏差：+1.500 秒";
  }
  void startsOnTheCorrectedSecond() {
    QFETCH(double, serverAheadMs);
    QFETCH(int, leadMs);
    QFETCH(bool, whois);
    QFETCH(QString, notice);
    TimedFixture f;
    StubSntpServer sntp(StubSntpServer::Threading::OwnThread);
    const bool hasServer = !std::isnan(serverAheadMs);
    if (hasServer) {
      QVERIFY(sntp.listen());
      sntp.setOffsetMs(serverAheadMs);
      f.settings.time_server = sntp.address();
    }
    f.settings.timed_lead_ms = leadMs;
    StubWhoisServer whoisServer(StubWhoisServer::Threading::OwnThread);
    if (whois) {
      QVERIFY(whoisServer.listen());
      whoisServer.setScript(QStringLiteral("a.com"),
                            StubWhoisServer::reply("No match for \"A.COM\".\r\n"));
      f.settings.check_whois = true;
      f.settings.whois_after_reg = false;
      f.settings.whois_servers = {serverRowFromLine(
          QStringLiteral(".com|||127.0.0.1|||%1|||No match for|||Expiration Date: |||")
              .arg(whoisServer.port()),
          nullptr)};
    }
    const double shiftMs = (hasServer ? serverAheadMs : 0) + leadMs;
    const qint64 second = secondAhead(2 + int(std::ceil(std::max(shiftMs, 0.0) / 1000)));
    f.arm(second);
    QCOMPARE(f.w.timer_start, qint16(1));

    QVERIFY(f.waitForRunEnd(10000));
    const qint64 dueUs = second * 1000000 - qint64(shiftMs * 1000);
    qint64 firstNs = 0;
    if (whois) {
      QVERIFY(whoisServer.queryCount() >= 1);
      firstNs = whoisServer.queries().first().arrivalNs;
      QCOMPARE(registrationsAt(f.registrar).size(), 1);  // the deleted domain, registered
    } else {
      QVERIFY(!registrationsAt(f.registrar).isEmpty());
      firstNs = registrationsAt(f.registrar).first();
    }
    const double lateMs = double(wallUsOf(firstNs) - dueUs) / 1000;
    QVERIFY2(lateMs >= -0.2 && lateMs < 100, qPrintable(QString::number(lateMs)));
    QCOMPARE(f.notices, notice.isEmpty() ? QStringList() : QStringList{notice});
    QCOMPARE(f.view.text(Ctl::Label_notice), notice);
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  }

  // Without an answer from the time server the local clock rules, the start
  // is not held back, and this is said once.
  void unreachableTimeServerKeepsTheLocalClock() {
    TimedFixture f;
    StubSntpServer sntp(StubSntpServer::Threading::OwnThread);
    QVERIFY(sntp.listen());
    sntp.setScript(QList<StubSntpServer::Reply>(platform::SntpClient::kSamples,
                                                {StubSntpServer::Behaviour::Silent}));
    f.settings.time_server = sntp.address();
    const qint64 second = secondAhead(1);
    f.arm(second);
    QVERIFY(f.waitForRunEnd(10000));
    QVERIFY(!registrationsAt(f.registrar).isEmpty());
    const double lateMs =
        double(wallUsOf(registrationsAt(f.registrar).first()) - second * 1000000) / 1000;
    QVERIFY2(lateMs >= -0.2 && lateMs < 100, qPrintable(QString::number(lateMs)));
    QVERIFY(waitFor([&] { return !f.notices.isEmpty(); }, 8000));
    QTest::qWait(200);
    QCOMPARE(f.notices, QStringList{QStringLiteral("时钟偏差：时间服务器无响应，使用本机时钟")});
  }

  // The task is checked again shortly before the due moment; one that no
  // longer passes is refused at the due moment, as a click would refuse it.
  void taskRefusedWhenDue() {
    TimedFixture f;
    const auto idle = [&] { return f.view.enabled(Ctl::regstart) && !f.view.readOnly(Ctl::dyn1); };
    const qint64 second = secondAhead(3);
    f.arm(second);
    QCOMPARE(f.w.timer_start, qint16(1));
    f.view.setText(Ctl::domain_var, QString());  // no longer a valid task
    qint64 shownUs = 0;
    f.prompter.onMessage = [&](const QString&) { shownUs = platform::wallClockUs(); };
    QVERIFY(waitFor([&] { return !f.prompter.messages().isEmpty(); }, 8000));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("域名变量名不得为空！")});
    QVERIFY(shownUs >= second * 1000000);
    QCOMPARE(f.w.timer_start, qint16(0));
    QVERIFY(idle());
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间：0天 0时 0分 0秒"));
    QCOMPARE(registrationsAt(f.registrar).size(), 0);
    QVERIFY(!f.w.warmer.active());
  }

  // Cancelled while warming, before or after the preparation: nothing more is
  // sent, and the window is idle.
  void cancelWhileWarming_data() {
    QTest::addColumn<int>("aheadS");
    QTest::newRow("prepared") << 0;  // close enough to be prepared at once
    QTest::newRow("warming, not yet prepared") << 6;
  }
  void cancelWhileWarming() {
    QFETCH(int, aheadS);
    TimedFixture f;
    const qint64 second = secondAhead(aheadS);
    f.arm(second);
    QCOMPARE(f.w.timer_start, qint16(1));
    QVERIFY(f.registrar.waitForRequests(1, 3000));  // a warm-up
    f.w.time_end_Click();
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：定时停止，任务结束"));
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间："));
    QTest::qWait(100);  // warm-ups already on the wire arrive
    const int before = f.registrar.requestCount();
    QVERIFY(!waitFor([&] { return f.registrar.requestCount() > before; },
                     int((second * 1000000 - platform::wallClockUs()) / 1000) + 500));
    QVERIFY(registrationsAt(f.registrar).isEmpty());
    QVERIFY(!f.w.warmer.active());
    QVERIFY(f.view.enabled(Ctl::regstart));
    QVERIFY(!f.view.enabled(Ctl::time_end));
    QCOMPARE(f.w.int_start(), qint16(0));
  }
};

QTEST_GUILESS_MAIN(TestTimedStart)
#include "tst_timed_start.moc"
