// Warm registrar connections: a WHOIS catch against a stub WHOIS server and a
// stub registrar on 127.0.0.1, both in threads of their own.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "sending/Senders.h"
#include "support/StubHttpServer.h"
#include "support/StubWhoisServer.h"
#include "support/TaskFixture.h"
#include "ui/MainWindow.h"

namespace {

// One domain, deleted after deletedAfterMs; warming as given.
struct WarmCatch {
  TaskFixture f;
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
  StubWhoisServer whoisServer{StubWhoisServer::Threading::OwnThread};
  QList<QString> notices;

  WarmCatch(bool tls, int warmConnections, int deletedAfterMs) {
    registrar.listen(tls);
    whoisServer.listen();
    if (tls) platform::addTrustedCaFileForTests(StubHttpServer::tlsFixture("ca.pem"));
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")));
    f.view.setIndex(Ctl::radio_send_type, 1);  // POST
    f.settings.whois_servers = {{QStringLiteral(".com"),
                                 QStringLiteral("127.0.0.1"),
                                 QString::number(whoisServer.port()),
                                 QStringLiteral("No match for"),
                                 QStringLiteral("Expiration Date: "),
                                 QString(),
                                 {},
                                 {},
                                 {}}};
    f.settings.whois_after_reg = false;
    f.settings.warm_connections = warmConnections;
    StubWhoisServer::Script deleted = StubWhoisServer::reply("No match for \"A.COM\".\r\n");
    deleted.delayMs = deletedAfterMs;
    whoisServer.setScript(QStringLiteral("a.com"), deleted);
    QObject::connect(&f.w.events, &RunEvents::notice, [this](const QString& t) { notices << t; });
  }
  ~WarmCatch() { platform::addTrustedCaFileForTests({}); }

  QList<StubHttpServer::Request> registrations() const {
    QList<StubHttpServer::Request> r;
    for (const auto& q : registrar.requests())
      if (q.method != "HEAD") r << q;
    return r;
  }
  qint64 deletionSentNs() const { return whoisServer.queries().value(0).replySentNs; }
};

}  // namespace

class TestWarmConnections : public QObject {
  Q_OBJECT
 private slots:
  void firstRegistrationGoesOutOnAWarmConnection_data() {
    QTest::addColumn<bool>("tls");
    QTest::newRow("http") << false;
    QTest::newRow("https") << true;
  }

  // The deletion comes well after the catch started: the registration must
  // find a connection opened (and, over TLS, handshaken) before it, and the
  // warm-ups are neither counted nor shown.
  void firstRegistrationGoesOutOnAWarmConnection() {
    QFETCH(bool, tls);
    WarmCatch c(tls, 3, 600);
    c.f.w.regstart_Click();
    QVERIFY(c.registrar.waitForRequests(4, 5000));

    const auto regs = c.registrations();
    QCOMPARE(regs.size(), 1);
    QCOMPARE(regs[0].body, QByteArray("user=bob&domain=a.com"));
    QCOMPARE(c.registrar.connectionCount(), 3);  // the warm ones, no fourth
    QVERIFY(c.registrar.connectionOpenedNs(regs[0].connection) < c.deletionSentNs());
    QCOMPARE(c.registrar.requestCount() - 1, 3);  // one warm-up on each

    QCOMPARE(c.f.view.text(Ctl::regsend).count(QStringLiteral("\r\n\r\n\r\n")), 2);  // query, form
    QVERIFY(!c.f.view.text(Ctl::regsend).contains(QStringLiteral("HEAD")));
    QCOMPARE(c.f.view.text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));
    QCOMPARE(runSummary(c.f.w).sent, 1);
    QVERIFY(c.notices.isEmpty());
  }

  // The server drops idle connections after 600 ms, long before the next
  // warm-up round is due: the dropped ones are opened again before the
  // deletion (at 1100 ms), so the registration still finds a warm one.
  void connectionClosedByTheServerIsWarmedAgain() {
    WarmCatch c(false, 2, 1100);
    c.registrar.setIdleCloseMs(600);
    c.f.w.regstart_Click();
    const auto regs = c.registrations();
    QCOMPARE(regs.size(), 1);
    // Some were closed and opened again; the one used was opened before
    // the deletion.
    QVERIFY2(c.registrar.connectionCount() > 2,
             qPrintable(QString::number(c.registrar.connectionCount())));
    QVERIFY(c.registrar.connectionOpenedNs(regs[0].connection) < c.deletionSentNs());
  }

  // A close is seen as it happens, not at the next idle check (every 250 ms
  // from the start): closed at about 510 ms, the connections are open again
  // before the deletion at 700 ms, where the check alone would reopen them
  // only at 750 ms.
  void closeIsMendedAtOnce() {
    WarmCatch c(false, 2, 700);
    c.registrar.setIdleCloseMs(510);
    c.f.w.regstart_Click();
    const auto regs = c.registrations();
    QCOMPARE(regs.size(), 1);
    QVERIFY2(c.registrar.connectionCount() > 2,
             qPrintable(QString::number(c.registrar.connectionCount())));
    QVERIFY(c.registrar.connectionOpenedNs(regs[0].connection) < c.deletionSentNs());
  }

  // Without warming the registration opens its own connection at the moment
  // of the catch: the baseline the warm case is measured against.
  void warmingOffOpensAtTheCatch() {
    WarmCatch c(false, 0, 200);
    c.f.w.regstart_Click();
    QVERIFY(c.registrar.waitForRequests(1, 5000));
    QCOMPARE(c.registrar.requestCount(), 1);
    QVERIFY(c.registrar.connectionOpenedNs(1) > c.deletionSentNs());
  }

  // Warming a registrar that refuses connections is said once; the catch
  // runs on and its registration is reported as usual.
  void failedWarmingIsSaidOnceAndTheCatchRunsOn() {
    WarmCatch c(false, 3, 300);
    const quint16 port = c.registrar.port();
    c.registrar.close();
    c.f.view.setText(Ctl::txt_api_url, QStringLiteral("http://127.0.0.1:%1/reg").arg(port));
    c.f.w.regstart_Click();
    QCOMPARE(c.notices.size(), 1);
    QVERIFY2(c.notices[0].startsWith(QStringLiteral("预热连接失败：")), qPrintable(c.notices[0]));
    QVERIFY(c.f.view.text(Ctl::regresult).contains(QStringLiteral("连接失败！")));
    QCOMPARE(c.f.view.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
  }

  // The same through the real task window: typed in, started with "抢注".
  void throughTheWindow() {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings settings;
    SettingsDialogState dialogState;
    StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
    StubWhoisServer whoisServer{StubWhoisServer::Threading::OwnThread};
    registrar.listen();
    whoisServer.listen();
    StubWhoisServer::Script deleted = StubWhoisServer::reply("No match for \"A.COM\".\r\n");
    deleted.delayMs = 600;
    whoisServer.setScript(QStringLiteral("a.com"), deleted);
    settings.whois_servers = {{QStringLiteral(".com"),
                               QStringLiteral("127.0.0.1"),
                               QString::number(whoisServer.port()),
                               QStringLiteral("No match for"),
                               QStringLiteral("Expiration Date: "),
                               QString(),
                               {},
                               {},
                               {}}};
    settings.whois_after_reg = false;
    settings.warm_connections = 2;
    MainWindow window{prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini"))};
    window.task().Form_Load();
    window.show();
    auto type = [&](const char* name, const QString& text) {
      if (auto* line = window.findChild<QLineEdit*>(QString::fromLatin1(name))) {
        QTest::mouseClick(line, Qt::LeftButton);
        QTest::keyClicks(line, text);
      } else {
        auto* area = window.findChild<QPlainTextEdit*>(QString::fromLatin1(name));
        area->setFocus();
        QTest::keyClicks(area, text);
      }
    };
    type("txt_api_url", registrar.url(QStringLiteral("/reg")));
    type("common1", QStringLiteral("user===bob"));
    type("dyn1", QStringLiteral("domain===a.com"));
    type("domain_var", QStringLiteral("domain"));
    QTest::mouseClick(window.findChild<QRadioButton*>(QStringLiteral("radio_send_type_1")),
                      Qt::LeftButton);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("regstart")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(prompter.messages(), QStringList{QStringLiteral("操作完成！")}, 8000);

    QList<StubHttpServer::Request> regs;
    for (const auto& q : registrar.requests())
      if (q.method != "HEAD") regs << q;
    QCOMPARE(regs.size(), 1);
    QCOMPARE(registrar.connectionCount(), 2);
    QVERIFY(registrar.connectionOpenedNs(regs[0].connection) <
            whoisServer.queries().value(0).replySentNs);
    QTRY_VERIFY(window.view().text(Ctl::regsend).contains(QStringLiteral("user=bob&domain=a.com")));
    QVERIFY(!window.view().text(Ctl::regsend).contains(QStringLiteral("HEAD")));
    QCOMPARE(window.view().text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));
  }
};

QTEST_MAIN(TestWarmConnections)
#include "tst_warm_connections.moc"
