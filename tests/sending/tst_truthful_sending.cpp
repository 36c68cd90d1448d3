// What counts as sent is on the wire: the connection limit, the wait for a
// free connection, nothing after a stop, and the run's summary against what
// a stub registrar received.
#include <QtTest>

#include "platform/Clock.h"
#include "sending/Senders.h"
#include "support/StubHttpServer.h"
#include "support/TaskFixture.h"

namespace {

// A catch without WHOIS, asynchronous, showing nothing.
struct Flood {
  TaskFixture f;
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
  std::optional<RunSummary> summary;

  Flood(const QString& perSecond, int seconds) {
    registrar.listen();
    f.settings.check_whois = false;
    f.settings.warm_connections = 0;
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")),
                    QStringLiteral("domain===a.com\r\ndomain===b.com"));
    f.view.setIndex(Ctl::radio_send_type, 1);
    f.view.setIndex(Ctl::radio_post_type, 1);
    f.view.setIndex(Ctl::radio_send_info, 0);
    f.view.setIndex(Ctl::radio_return_info, 0);
    f.view.setIndex(Ctl::frequence, frequenceEntries().indexOf(perSecond));
    f.view.setText(Ctl::reg_second, QString::number(seconds));
    QObject::connect(&f.w.events, &RunEvents::runEnded,
                     [this](const RunSummary& s) { summary = s; });
  }
  void reply(int delayMs, StubHttpServer::Behaviour b = StubHttpServer::Behaviour::Answer) {
    StubHttpServer::Reply r;
    r.delayMs = delayMs;
    r.behaviour = b;
    registrar.setReply(r);
  }
  // Presses stop after ms; returns the monotonic moment it was pressed.
  std::shared_ptr<qint64> stopAfter(int ms) {
    auto at = std::make_shared<qint64>(0);
    QTimer::singleShot(ms, [this, at] {
      *at = platform::monotonicNs();
      f.w.regstop_Click();
    });
    return at;
  }
  qint64 lastArrivalNs() const {
    const QList<qint64> t = registrar.arrivalTimesNs();
    return t.isEmpty() ? 0 : *std::max_element(t.begin(), t.end());
  }
};

}  // namespace

class TestTruthfulSending : public QObject {
  Q_OBJECT
 private slots:
  // A registrar that answers after 3 s: a two-second flood puts exactly the
  // limit on the wire, then waits for a connection until its duration is
  // over, not for a reply; nothing was queued to leave later.
  void floodStopsAtTheConnectionLimit() {
    Flood x(QStringLiteral("0"), 2);
    x.reply(3000);
    x.f.w.regstart_Click();
    QCOMPARE(runSummary(x.f.w).replies, 0);  // the run ended before the first reply
    QVERIFY(x.registrar.waitForRequests(platform::kMaxConnectionsPerHost, 3000));
    QTRY_VERIFY_WITH_TIMEOUT(x.summary.has_value(), 8000);
    QCOMPARE(x.registrar.requestCount(), platform::kMaxConnectionsPerHost);
    QCOMPARE(x.summary->sent, qint64(platform::kMaxConnectionsPerHost));
    QCOMPARE(x.summary->replies, qint64(platform::kMaxConnectionsPerHost));
    QCOMPARE(x.summary->failures, 0);
    QCOMPARE(x.f.view.text(Ctl::reg_send),
             QStringLiteral("发送表单数量：%1").arg(platform::kMaxConnectionsPerHost));
  }

  // Every connection busy with a registrar that never answers: a stop ends
  // the wait for a free one at once, and nothing leaves afterwards.
  void stopEndsTheWaitForAFreeConnection() {
    Flood x(QStringLiteral("0"), 60);
    x.reply(0, StubHttpServer::Behaviour::NeverAnswer);
    std::shared_ptr<qint64> stoppedAt;
    QTimer poll;  // stop 200 ms after every connection is taken
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (x.registrar.requestCount() < platform::kMaxConnectionsPerHost) return;
      poll.stop();
      stoppedAt = x.stopAfter(200);
    });
    poll.start(20);
    x.f.w.regstart_Click();
    const qint64 returnedNs = platform::monotonicNs();
    QVERIFY(stoppedAt && *stoppedAt > 0);
    QVERIFY2(returnedNs - *stoppedAt < 100000000,
             qPrintable(QString::number((returnedNs - *stoppedAt) / 1000)));
    QCOMPARE(x.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
    QTest::qWait(500);
    QCOMPARE(x.registrar.requestCount(), platform::kMaxConnectionsPerHost);
    QCOMPARE(runSummary(x.f.w).sent, qint64(platform::kMaxConnectionsPerHost));
  }

  // 100 per second against a registrar answering in 300 ms, half of them
  // with 500: stopped after a second, nothing arrives after the stop, and
  // the summary's counts are what the registrar received and answered.
  void nothingAfterAStopAndTheSummaryCountsWhatArrived() {
    Flood x(QStringLiteral("100"), 60);
    std::atomic<int> answered{0};
    x.registrar.setResponder([&answered](const StubHttpServer::Request&) {
      StubHttpServer::Reply r;
      r.delayMs = 300;
      r.status = answered++ % 2 ? 500 : 200;
      return r;
    });
    const auto stoppedAt = x.stopAfter(1000);
    x.f.w.regstart_Click();
    QTRY_VERIFY_WITH_TIMEOUT(x.summary.has_value(), 5000);
    QTest::qWait(300);
    const int arrived = x.registrar.requestCount();
    QVERIFY2(arrived >= 80 && arrived <= 110, qPrintable(QString::number(arrived)));
    // On the wire before the stop; loopback delivers within a millisecond.
    QVERIFY2(x.lastArrivalNs() < *stoppedAt + 5000000,
             qPrintable(QString::number((x.lastArrivalNs() - *stoppedAt) / 1000)));
    QCOMPARE(x.summary->sent, qint64(arrived));
    QCOMPARE(x.summary->replies, qint64(arrived));
    QCOMPARE(x.summary->httpErrors, qint64(arrived / 2));
    QCOMPARE(x.summary->failures, 0);
  }
};

QTEST_MAIN(TestTruthfulSending)
#include "tst_truthful_sending.moc"
