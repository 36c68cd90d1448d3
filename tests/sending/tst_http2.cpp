// HTTP/2 against a real server that offers it (nginx over TLS, ALPN): warm
// connections and simultaneous registrations on them.
#include <QtTest>

#include "platform/HttpClient.h"
#include "sending/RunEvents.h"
#include "sending/Warmup.h"
#include "settings/Settings.h"
#include "support/NginxServer.h"
#include "support/StubHttpServer.h"

class TestHttp2 : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (!NginxServer::available())
      QSKIP("nginx is not installed (scripts/test installs nginx-light)");
  }

  // Twenty registrations at once after the warm-up: all HTTP/2, all on
  // connections the warm-up opened.
  void simultaneousRegistrationsShareWarmConnections() {
    NginxServer nginx;
    QVERIFY2(nginx.start(true), qPrintable(nginx.error()));
    platform::addTrustedCaFileForTests(StubHttpServer::tlsFixture(QStringLiteral("ca.pem")));
    RunEvents events;
    RegistrarWarmer warmer(events);
    Settings settings;
    settings.warm_connections = 2;
    warmer.start(nginx.url(QStringLiteral("/reg")), settings);
    QTRY_COMPARE_WITH_TIMEOUT(nginx.log().size(), 2, 5000);
    QStringList warmConnections;
    for (const QString& line : nginx.log()) {
      QVERIFY2(line.endsWith(QStringLiteral(" HTTP/2.0 HEAD")), qPrintable(line));
      warmConnections << line.section(u' ', 0, 0);
    }

    std::vector<std::unique_ptr<platform::HttpRequest>> regs;
    for (int i = 0; i < 20; ++i) {
      regs.push_back(std::make_unique<platform::HttpRequest>());
      regs.back()->open(QStringLiteral("POST"), nginx.url(QStringLiteral("/reg")), true);
      regs.back()->setCounted(true);
      regs.back()->send("domain=a" + QByteArray::number(i) + ".com");
    }
    QVERIFY(platform::waitForHttpTransfers(5000));
    for (const auto& r : regs) {
      QCOMPARE(r->status(), 200);
      QCOMPARE(r->httpVersion(), 2);
    }
    QTRY_COMPARE(nginx.log().size(), 22);
    for (const QString& line : nginx.log().mid(2)) {
      QVERIFY2(line.endsWith(QStringLiteral(" HTTP/2.0 POST")), qPrintable(line));
      QVERIFY2(warmConnections.contains(line.section(u' ', 0, 0)), qPrintable(line));
    }
    warmer.stop();
    platform::addTrustedCaFileForTests({});
  }
};

QTEST_MAIN(TestHttp2)
#include "tst_http2.moc"
