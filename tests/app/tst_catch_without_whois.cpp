#include <QtTest>

#include "app/MemoryView.h"
#include "app/TaskWindow.h"
#include "sending/HttpExchange.h"
#include "support/ScriptedPrompter.h"
#include "support/StubHttpServer.h"

namespace {
// Keeps every text the status labels showed, in order.
class RecordingView : public MemoryView {
 public:
  void setText(Ctl c, const QString& text) override {
    MemoryView::setText(c, text);
    if (c == Ctl::Label1 || c == Ctl::Label4) history[c].append(text);
  }
  QHash<Ctl, QStringList> history;
};

struct CatchFixture {
  QTemporaryDir dir;
  RecordingView view;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  TaskWindow w{view, prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini"))};
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};

  CatchFixture() {
    settings.check_whois = false;
    settings.warm_connections = 0;  // these count what reaches the registrar
    w.Form_Load();
    registrar.listen();
    w.removeHint(Ctl::txt_api_url);
    view.setText(Ctl::txt_api_url, registrar.url(QStringLiteral("/reg")));
    view.setText(Ctl::common1, QStringLiteral("user===bob"));
    view.setText(Ctl::dyn1, QStringLiteral("domain===a.com\r\ndomain===b.com\r\ndomain===c.com"));
    view.setText(Ctl::domain_var, QStringLiteral("domain"));
    view.setIndex(Ctl::radio_send_type, 1);  // POST: the body names the line used
  }

  void setRate(const QString& perUnit, int unitIndex, const QString& duration) {
    view.setIndex(Ctl::frequence, frequenceEntries().indexOf(perUnit));
    view.setIndex(Ctl::send_interval, unitIndex);
    view.setText(Ctl::reg_second, duration);
  }

  bool idle() const {
    return !w.Timer2.isActive() && !w.Timer3.isActive() && !w.Timer4.isActive() &&
           w.int_start() == 0;
  }

  QStringList domainsSent() const {
    QStringList d;
    for (const auto& r : registrar.requests())
      d << QString::fromUtf8(r.body).section(QStringLiteral("domain="), 1).section(u'&', 0, 0);
    return d;
  }
};
}  // namespace

class TestCatchWithoutWhois : public QObject {
  Q_OBJECT
 private slots:
  // The interval between requests decides the sender: under one second (or
  // unlimited) the blocking loop, one second or more the timers.
  void intervalChoosesTheSender_data() {
    QTest::addColumn<QString>("perUnit");
    QTest::addColumn<int>("unitIndex");
    QTest::addColumn<float>("intervalMs");
    QTest::addColumn<bool>("timerDriven");
    QTest::addColumn<int>("ringSlots");
    QTest::newRow("0 per second: unlimited") << "0" << 0 << -1000.0f << false << 0;
    QTest::newRow("2 per second") << "2" << 0 << 500.0f << false << 0;
    QTest::newRow("1 per second") << "1" << 0 << 1000.0f << true << 21;
    QTest::newRow("1 per minute") << "1" << 1 << 60000.0f << true << 1;
  }
  void intervalChoosesTheSender() {
    QFETCH(QString, perUnit);
    QFETCH(int, unitIndex);
    QFETCH(float, intervalMs);
    QFETCH(bool, timerDriven);
    QFETCH(int, ringSlots);
    CatchFixture f;
    f.view.setIndex(Ctl::radio_post_type, 1);  // asynchronous
    f.view.setIndex(Ctl::radio_return_info, 0);
    f.setRate(perUnit, unitIndex, QStringLiteral("1"));
    f.w.regstart_Click();
    QCOMPARE(f.w.send_mode, SendMode::CatchWithoutWhois);
    QCOMPARE(f.w.interval_ms, intervalMs);
    QCOMPARE(f.w.duration_s, 1);
    if (timerDriven) {
      // The click returns after the first request with the window locked.
      QVERIFY(f.w.Timer2.isActive());
      QVERIFY(f.w.Timer3.isActive());
      QCOMPARE(f.w.Timer2.interval(), qRound(intervalMs));
      QCOMPARE(f.w.request_pool->size(), ringSlots);
      QCOMPARE(f.w.tick_send_count, 1);
      QVERIFY(!f.view.enabled(Ctl::regstart));
      QTRY_VERIFY_WITH_TIMEOUT(f.idle(), 5000);
    } else {
      QVERIFY(f.idle());  // the blocking loop ran the whole duration inside the click
    }
    QVERIFY(f.registrar.waitForRequests(1, 8000));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
    QVERIFY(f.view.enabled(Ctl::regstart));
    QVERIFY(!f.view.enabled(Ctl::regstop));
  }

  void timerDrivenRunPacesCountsDownAndFinishes() {
    CatchFixture f;
    f.setRate(QStringLiteral("1"), 0, QStringLiteral("5"));
    f.w.regstart_Click();
    QTRY_VERIFY_WITH_TIMEOUT(f.idle(), 9000);
    // One at the start, then one per tick while time remains; the lines are
    // used in turn.
    const QStringList sent = f.domainsSent();
    QVERIFY2(sent.size() >= 4 && sent.size() <= 6, qPrintable(sent.join(u',')));
    QCOMPARE(sent.mid(0, 4), (QStringList{"a.com", "b.com", "c.com", "a.com"}));
    const QStringList remaining = f.view.history[Ctl::Label4];
    QVERIFY2(remaining.contains(QStringLiteral("任务剩余时间：4秒")),
             qPrintable(remaining.join(u'|')));
    QVERIFY(remaining.contains(QStringLiteral("任务剩余时间：1秒")));
    QCOMPARE(remaining.last(), QStringLiteral("任务剩余时间："));
    QVERIFY(f.view.history[Ctl::Label1].contains(QStringLiteral("状态：间隔时间中......")));
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
    QCOMPARE(f.w.timer_start, qint16(0));
    QVERIFY(f.view.enabled(Ctl::regstart));
    QVERIFY(!f.view.enabled(Ctl::time_end));
  }

  void stopEndsATimerDrivenRunAtTheNextTick() {
    CatchFixture f;
    f.setRate(QStringLiteral("1"), 0, QStringLiteral("600"));
    f.w.regstart_Click();
    QTest::qWait(1300);
    f.w.regstop_Click();
    // Counted after the window's own handlers: the tick that finishes counts.
    int ticksAfterStop = 0;
    for (QTimer* timer : {&f.w.Timer2, &f.w.Timer3})
      QObject::connect(timer, &QTimer::timeout, [&] { ++ticksAfterStop; });
    QTRY_VERIFY_WITH_TIMEOUT(f.idle(), 3000);
    QCOMPARE(ticksAfterStop, 1);
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
    QCOMPARE(f.view.text(Ctl::Label4), QStringLiteral("任务剩余时间："));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
    const int sent = f.registrar.requestCount();
    QTest::qWait(1200);
    QCOMPARE(f.registrar.requestCount(), sent);  // nothing after the finish
  }

  // A send whose reply takes longer than the interval makes the next tick
  // overdue: the once-a-second check hands it to the 200 ms catch-up.
  void overdueTickIsCaughtUp() {
    CatchFixture f;
    StubHttpServer::Reply slow;
    slow.delayMs = 2300;
    f.registrar.setReply(slow);
    f.setRate(QStringLiteral("1"), 0, QStringLiteral("4"));
    int catchUps = 0;
    QObject::connect(&f.w.Timer4, &QTimer::timeout, [&] { ++catchUps; });
    QElapsedTimer clock;
    clock.start();
    f.w.regstart_Click();  // synchronous: returns once the slow reply is in
    const qint64 firstDone = clock.elapsed();
    QVERIFY(firstDone >= 2000);
    QVERIFY(f.registrar.waitForRequests(2, 8000));
    QVERIFY(catchUps >= 1);
    QTRY_VERIFY_WITH_TIMEOUT(f.idle(), 9000);
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
  }
};

QTEST_GUILESS_MAIN(TestCatchWithoutWhois)
#include "tst_catch_without_whois.moc"
