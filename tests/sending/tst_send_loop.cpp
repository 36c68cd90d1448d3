#include <QtTest>

#include "app/MemoryView.h"
#include "app/TaskWindow.h"
#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "sending/HttpExchange.h"
#include "sending/Pacing.h"
#include "sending/Senders.h"
#include "support/ScriptedPrompter.h"
#include "support/StubHttpServer.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

using Behaviour = StubHttpServer::Behaviour;

namespace {

const QString kGap = QStringLiteral("\r\n\r\n\r\n");

// Keeps every status text shown, and lets a test act on a caption change.
class RecordingView : public MemoryView {
 public:
  void setText(Ctl c, const QString& text) override {
    MemoryView::setText(c, text);
    if (c == Ctl::Label1 || c == Ctl::Label4) history[c].append(text);
    if (onText) onText(c, text);
  }
  QHash<Ctl, QStringList> history;
  std::function<void(Ctl, const QString&)> onText;
};

struct Loop {
  QTemporaryDir dir;
  RecordingView view;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  TaskWindow w{view, prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini"))};
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};

  explicit Loop(const QString& dyn1 = QStringLiteral("d===a.com\r\nd===b.com\r\nd===c.com")) {
    w.Form_Load();
    registrar.listen();
    w.removeHint(Ctl::txt_api_url);
    view.setText(Ctl::txt_api_url, registrar.url(QStringLiteral("/reg")));
    view.setText(Ctl::common1, QStringLiteral("user===bob"));
    view.setText(Ctl::dyn1, dyn1);
    view.setText(Ctl::domain_var, QStringLiteral("d"));
    view.setIndex(Ctl::radio_send_type, 1);  // POST: the body tells the line used
  }
  void setRate(const QString& perUnit, const QString& duration) {
    view.setIndex(Ctl::frequence, frequenceEntries().indexOf(perUnit));
    view.setText(Ctl::reg_second, duration);
  }
  void setReply(const QByteArray& body, int delayMs = 0) {
    StubHttpServer::Reply r;
    r.body = body;
    r.delayMs = delayMs;
    registrar.setReply(r);
  }
  // What a start flow does before it hands over to the sender.
  void prepare(SendMode sendMode) {
    QVERIFY(ValidateTask(w));
    w.send_mode = sendMode;
    w.time_base = w.run_start = platform::now();
    w.duration_s = w.durationFromWindow();
    BuildVariableTables(w);
  }
  QStringList domainsSent() const {
    QStringList d;
    for (const auto& r : registrar.requests())
      d << QString::fromUtf8(r.body).section(QStringLiteral("d="), 1).section(u'&', 0, 0);
    return d;
  }
};

}  // namespace

class TestSendLoop : public QObject {
  Q_OBJECT
 private slots:
  void normalRegistrationSendsOneAndShowsIt_data();
  void normalRegistrationSendsOneAndShowsIt();
  void pacingFivePerSecondForTwoSeconds();
  void lateRequestsGoOutWithoutPause();
  void stopDuringTheLoop_data();
  void stopDuringTheLoop();
  void linesUsedInTurn();
  void whoisTriggeredSendUsesTheReportedLine_data();
  void whoisTriggeredSendUsesTheReportedLine();
  void stopDuringWhoisTriggeredSendIsKept();
  void tickSendInsideAnotherKeepsItsPlace();
  void timer5_data();
  void timer5();
  void ringSizes_data();
  void ringSizes();
  void tickPoolSetUpAndRelease();
  void scheduleStaysExactOverLongRuns();
};

void TestSendLoop::normalRegistrationSendsOneAndShowsIt_data() {
  QTest::addColumn<int>("sendInfo");
  QTest::addColumn<int>("returnInfo");
  QTest::newRow("全程显示/全程返回") << 2 << 2;
  QTest::newRow("不显示/不返回: shown all the same") << 0 << 0;
}

void TestSendLoop::normalRegistrationSendsOneAndShowsIt() {
  QFETCH(int, sendInfo);
  QFETCH(int, returnInfo);
  Loop t;
  t.view.setIndex(Ctl::radio_send_info, sendInfo);
  t.view.setIndex(Ctl::radio_return_info, returnInfo);
  t.view.setText(Ctl::regresult, QStringLiteral("old"));
  t.setReply("注册成功", 1300);  // long enough for one remaining-time tick
  t.w.utf8_reply = -1;
  QString regsendAtMessage;
  t.prompter.onMessage = [&](const QString&) { regsendAtMessage = t.view.text(Ctl::regsend); };
  t.w.normalreg_Click();

  QCOMPARE(t.registrar.requestCount(), 1);
  QCOMPARE(t.domainsSent(), QStringList{"a.com"});
  QCOMPARE(regsendAtMessage, QStringLiteral("user=bob&d=a.com") + kGap);
  QCOMPARE(t.view.text(Ctl::regresult), QStringLiteral("注册成功") + kGap);
  QCOMPARE(t.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));
  QCOMPARE(t.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(t.view.text(Ctl::Label4), QStringLiteral("任务剩余时间："));
  // The remaining time was shown during the wait (0, or -1 when the tick fell
  // just past the next wall-clock second).
  QVERIFY(!t.view.history[Ctl::Label4]
               .filter(QRegularExpression(QStringLiteral("^任务剩余时间：(0|-1)秒$")))
               .isEmpty());
  QCOMPARE(t.prompter.messages(), QStringList{"操作完成！"});
  QCOMPARE(t.w.int_start(), 0);
  QVERIFY(!t.w.Timer5.isActive());
  QVERIFY(t.view.enabled(Ctl::normalreg));
}

// 200 ms apart from the start until the stopwatch passes 2000 ms: ten or
// eleven requests, the first at once.
void TestSendLoop::pacingFivePerSecondForTwoSeconds() {
  Loop t;
  t.setRate(QStringLiteral("5"), QStringLiteral("2"));
  t.prepare(SendMode::CatchWithoutWhois);
  const qint64 start = StubHttpServer::monotonicNs();
  SendFormLoop(t.w);
  const QList<qint64> at = t.registrar.arrivalTimesNs();
  QVERIFY2(at.size() == 10 || at.size() == 11, qPrintable(QString::number(at.size())));
  QVERIFY((at[0] - start) / 1000000 < 50);
  for (int n = 1; n < at.size(); ++n) {
    const double lateMs = (at[n] - start) / 1e6 - n * 200.0;
    QVERIFY2(lateMs > -1 && lateMs < 50, qPrintable(QStringLiteral("%1: %2").arg(n).arg(lateMs)));
  }
  QCOMPARE(t.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(t.prompter.messages(), QStringList{"操作完成！"});
  QCOMPARE(t.w.int_start(), 0);
  QCOMPARE(t.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：%1").arg(at.size()));
}

// Due every 100 ms, but each synchronous exchange takes 250 ms: the schedule
// stays behind, so each request leaves as soon as the previous one ended.
void TestSendLoop::lateRequestsGoOutWithoutPause() {
  Loop t;
  t.setRate(QStringLiteral("10"), QStringLiteral("1"));
  t.setReply("OK", 250);
  t.prepare(SendMode::CatchWithoutWhois);
  SendFormLoop(t.w);
  const QList<qint64> at = t.registrar.arrivalTimesNs();
  QVERIFY2(at.size() == 4 || at.size() == 5, qPrintable(QString::number(at.size())));
  for (int n = 1; n < at.size(); ++n) {
    const double gapMs = (at[n] - at[n - 1]) / 1e6;
    QVERIFY2(gapMs >= 245 && gapMs < 290, qPrintable(QString::number(gapMs)));
  }
}

void TestSendLoop::stopDuringTheLoop_data() {
  QTest::addColumn<QString>("perSecond");
  QTest::addColumn<int>("replyMs");
  QTest::addColumn<int>("stopAtMs");
  QTest::addColumn<int>("requests");
  QTest::addColumn<QString>("lastReply");
  QTest::newRow("in a reply wait") << "0" << 300 << 700 << 3 << QStringLiteral("连接超时！");
  QTest::newRow("in the pause before a due time") << "2" << 0 << 200 << 1 << QStringLiteral("OK");
}

void TestSendLoop::stopDuringTheLoop() {
  QFETCH(QString, perSecond);
  QFETCH(int, replyMs);
  QFETCH(int, stopAtMs);
  QFETCH(int, requests);
  QFETCH(QString, lastReply);
  Loop t;
  t.setRate(perSecond, QStringLiteral("30"));
  t.setReply("OK", replyMs);
  t.prepare(SendMode::CatchWithoutWhois);
  QTimer::singleShot(stopAtMs, &t.w, [&t] { t.w.regstop_Click(); });
  QElapsedTimer clock;
  clock.start();
  SendFormLoop(t.w);
  QVERIFY2(clock.elapsed() < stopAtMs + 100, qPrintable(QString::number(clock.elapsed())));
  QCOMPARE(t.registrar.requestCount(), requests);
  QVERIFY(t.view.text(Ctl::regresult).endsWith(lastReply + kGap));
  QCOMPARE(t.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  QCOMPARE(t.prompter.messages(), QStringList{"操作完成！"});
  QCOMPARE(t.w.int_start(), 0);
}

void TestSendLoop::linesUsedInTurn() {
  Loop t;
  t.setRate(QStringLiteral("0"), QStringLiteral("30"));
  t.prepare(SendMode::CatchWithoutWhois);
  t.view.onText = [&t](Ctl c, const QString& text) {
    if (c == Ctl::reg_send && text == QStringLiteral("发送表单数量：7")) t.w.regstop_Click();
  };
  SendFormLoop(t.w);
  QVERIFY(t.registrar.waitForRequests(7, 2000));  // the seventh may still be on its way
  QCOMPARE(t.domainsSent(),
           QStringList({"a.com", "b.com", "c.com", "a.com", "b.com", "c.com", "a.com"}));
}

void TestSendLoop::whoisTriggeredSendUsesTheReportedLine_data() {
  QTest::addColumn<QString>("dyn1");
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("sent");
  const QString blankBetween = QStringLiteral("d===a\r\n \r\nd===b\r\nd===c");
  QTest::newRow("third domain, blank line skipped") << blankBetween << 2 << "c";
  QTest::newRow("first domain") << blankBetween << 0 << "a";
  const QString commas = QStringLiteral("d===x.com,y.com\r\nd===z.com");
  QTest::newRow("second piece of a comma value") << commas << 1 << "x.com,y.com";
  QTest::newRow("after a comma value") << commas << 2 << "z.com";
}

void TestSendLoop::whoisTriggeredSendUsesTheReportedLine() {
  QFETCH(QString, dyn1);
  QFETCH(int, index);
  QFETCH(QString, sent);
  Loop t(dyn1);
  t.view.setText(Ctl::time_var, QStringLiteral("t"));
  t.view.setIndex(Ctl::radio_send_info, 1);
  t.view.setIndex(Ctl::radio_return_info, 1);
  t.prepare(SendMode::WhoisTriggered);
  t.w.whois_domain_index = index;
  t.w.whois_send_count = 4;
  t.view.setText(Ctl::regsend, QStringLiteral("whois query\r\n"));
  const QDateTime base = t.w.time_base;
  bool timer5Ran = true;
  t.view.onText = [&](Ctl c, const QString&) {
    if (c == Ctl::reg_send) timer5Ran = t.w.Timer5.isActive();
  };
  t.w.setIntStart(1);  // the monitor is running
  SendFormLoop(t.w);

  QCOMPARE(t.domainsSent(), QStringList{sent});
  // The WHOIS log stays; the request follows it, shown with its reply.
  QVERIFY(t.view.text(Ctl::regsend).startsWith(QStringLiteral("whois query\r\nuser=bob&t=")));
  QCOMPARE(t.view.text(Ctl::regresult), QStringLiteral("OK") + kGap);
  QCOMPARE(t.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：5"));
  QCOMPARE(t.w.whois_send_count, 5);
  QCOMPARE(t.view.text(Ctl::Label1), QStringLiteral("状态：发送完成，whois间隔..."));
  QVERIFY(t.prompter.messages().isEmpty());
  QCOMPARE(t.w.int_start(), 1);  // the monitor goes on
  QVERIFY(!timer5Ran);           // no remaining-time display for a WHOIS-triggered send
  // A WHOIS-triggered send moves the time base on before its first request.
  QCOMPARE(t.w.time_base, base.addSecs(1));
}

void TestSendLoop::stopDuringWhoisTriggeredSendIsKept() {
  Loop t;
  t.setReply("OK", 2000);
  t.prepare(SendMode::WhoisTriggered);
  t.w.whois_domain_index = 1;
  t.w.setIntStart(1);
  QTimer::singleShot(200, &t.w, [&t] { t.w.regstop_Click(); });
  SendFormLoop(t.w);
  QCOMPARE(t.domainsSent(), QStringList{"b.com"});
  QCOMPARE(t.view.text(Ctl::regresult), QStringLiteral("连接超时！") + kGap);
  QCOMPARE(t.w.int_start(), 0);  // the monitor sees the stop
  QVERIFY(t.prompter.messages().isEmpty());
}

// A tick send that starts while another waits for its reply takes the next
// slot and line; the waiting one keeps its own request, reply and count.
void TestSendLoop::tickSendInsideAnotherKeepsItsPlace() {
  Loop t;
  t.registrar.setResponder([](const StubHttpServer::Request& r) {
    StubHttpServer::Reply reply;
    const bool first = r.body.contains("d=a.com");
    reply.body = first ? "slow" : "fast";
    reply.delayMs = first ? 800 : 0;
    return reply;
  });
  t.prepare(SendMode::CatchWithoutWhois);
  t.w.dyn1_lines = textrules::lines(t.view.text(Ctl::dyn1));
  t.w.dyn1_row = t.w.pool_slot = 0;
  t.w.tick_send_count = 0;
  setUpRequestPool(t.w, 3);
  const auto pool = t.w.request_pool;
  std::optional<TickState> stateInside;  // set by the nested send's tick
  QTimer::singleShot(100, &t.w, [&t, &stateInside] {
    stateInside = t.w.tick_state;
    SendFormOnTick(t.w);
  });
  SendFormOnTick(t.w);

  QVERIFY(stateInside == TickState::Sending);
  QCOMPARE(t.domainsSent(), QStringList({"a.com", "b.com"}));
  QCOMPARE(t.view.text(Ctl::regresult),
           QStringLiteral("fast") + kGap + QStringLiteral("slow") + kGap);
  QCOMPARE(pool->slot(0)->responseBody(), QByteArray("slow"));
  QCOMPARE(pool->slot(1)->responseBody(), QByteArray("fast"));
  QCOMPARE(t.w.tick_send_count, 2);
  QCOMPARE(t.w.dyn1_row, 2);
  QCOMPARE(t.w.pool_slot, 2);
  QCOMPARE(t.w.tick_state, TickState::Idle);
  QCOMPARE(t.view.text(Ctl::Label1), QStringLiteral("状态：间隔时间中......"));
}

void TestSendLoop::timer5_data() {
  QTest::addColumn<SendMode>("sendMode");
  QTest::addColumn<int>("runFlag");
  QTest::addColumn<int>("elapsed");
  QTest::addColumn<QString>("label");
  QTest::addColumn<int>("flagAfter");
  QTest::newRow("counting") << SendMode::CatchWithoutWhois << 1 << 3
                            << QStringLiteral("任务剩余时间：2秒") << 1;
  QTest::newRow("used up, catch") << SendMode::CatchWithoutWhois << 1 << 5
                                  << QStringLiteral("任务剩余时间：0秒") << 0;
  QTest::newRow("overrun, catch") << SendMode::CatchWithoutWhois << 1 << 7
                                  << QStringLiteral("任务剩余时间：-2秒") << 0;
  QTest::newRow("used up, normal registration")
      << SendMode::NormalRegistration << 1 << 6 << QStringLiteral("任务剩余时间：-1秒") << 1;
  QTest::newRow("not running") << SendMode::CatchWithoutWhois << 0 << 3 << QStringLiteral("before")
                               << 0;
}

void TestSendLoop::timer5() {
  QFETCH(SendMode, sendMode);
  QFETCH(int, runFlag);
  QFETCH(int, elapsed);
  QFETCH(QString, label);
  QFETCH(int, flagAfter);
  Loop t;
  const QDateTime start(QDate(2024, 1, 1), QTime(23, 59, 58));
  platform::setClockForTests([&] { return start.addSecs(elapsed); });
  t.w.send_mode = sendMode;
  t.w.run_start = start;
  t.w.duration_s = 5;
  t.w.setIntStart(static_cast<qint16>(runFlag));
  t.view.setText(Ctl::Label4, QStringLiteral("before"));
  Timer5_Timer(t.w);
  platform::setClockForTests({});
  QCOMPARE(t.view.text(Ctl::Label4), label);
  QCOMPARE(int(t.w.int_start()), flagAfter);
}

void TestSendLoop::ringSizes_data() {
  QTest::addColumn<float>("interval");
  QTest::addColumn<SendMode>("sendMode");
  QTest::addColumn<int>("ringSize");
  QTest::newRow("unlimited") << -1000.0f << SendMode::CatchWithoutWhois << 5001;
  QTest::newRow("normal registration") << -1.0f << SendMode::NormalRegistration << 5001;
  QTest::newRow("200 ms") << 200.0f << SendMode::CatchWithoutWhois << 101;
  QTest::newRow("1/3 s") << 1000.0f / 3.0f << SendMode::CatchWithoutWhois << 61;
  QTest::newRow("1 s") << 1000.0f << SendMode::CatchWithoutWhois << 21;
  QTest::newRow("20 s") << 20000.0f << SendMode::CatchWithoutWhois << 2;
  QTest::newRow("above 20 s") << 20001.0f << SendMode::CatchWithoutWhois << 1;
  QTest::newRow("a minute") << 60000.0f << SendMode::CatchWithoutWhois << 1;
  QTest::newRow("WHOIS-triggered") << -1000.0f << SendMode::WhoisTriggered << 1;
}

void TestSendLoop::ringSizes() {
  QFETCH(float, interval);
  QFETCH(SendMode, sendMode);
  QFETCH(int, ringSize);
  QCOMPARE(requestRingSize(interval, sendMode), ringSize);
}

void TestSendLoop::tickPoolSetUpAndRelease() {
  Loop t;
  setUpRequestPool(t.w, 21);
  QCOMPARE(t.w.request_pool->size(), 21);
  QVERIFY(t.w.request_pool->slot(20) != t.w.request_pool->slot(0));
  t.w.pool_slot = 7;
  releaseRequestPool(t.w);
  QCOMPARE(t.w.request_pool->size(), 1);
  QCOMPARE(t.w.pool_slot, 0);
}

// Ten million requests at 5 ms (about 14 hours): each due time is still the
// exact multiple of the interval.
void TestSendLoop::scheduleStaysExactOverLongRuns() {
  PacingSchedule schedule(5.0f);
  for (int n = 0; n < 10000000; ++n) schedule.advance();
  QCOMPARE(schedule.dueMs(), 50000000.0);
  QVERIFY(!schedule.isDue(49999999.9));
  QVERIFY(schedule.isDue(50000000.0));
  PacingSchedule unlimited(-1000.0f);
  unlimited.advance();
  QVERIFY(unlimited.isDue(0));
}

QTEST_GUILESS_MAIN(TestSendLoop)
#include "tst_send_loop.moc"
