#include <sys/stat.h>
#include <QtTest>

#include "platform/HttpClient.h"
#include "support/StubHttpServer.h"
#include "support/TaskFixture.h"

namespace {

const QRegularExpression kStampedLine(
    QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (\\[[a-z.]+\\]) (.*)$"));

int modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList fileLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString todaysDefaultLog(const TaskFixture& f) {
  return f.dir.filePath(QStringLiteral("logs/zembrin-%1.log")
                            .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
}

CatchReport sampleCatch(const QString& reply = QStringLiteral("注册成功 ok&x=1")) {
  CatchReport r;
  r.domain = QStringLiteral("a.com");
  r.deletedAtUs = QDateTime(QDate(2026, 12, 11), QTime(4, 30)).toMSecsSinceEpoch() * 1000 + 123456;
  r.deletedAt = QDateTime::fromMSecsSinceEpoch(r.deletedAtUs / 1000);
  r.onWireMs = 0.11;
  r.replyMs = 35.2;
  r.httpStatus = 200;
  r.reply = reply;
  return r;
}

// The value of one query item of a request target, decoded.
QString queryValue(const QByteArray& target, const QString& key) {
  return QUrlQuery(QUrl(QString::fromLatin1(target)).query(QUrl::FullyEncoded))
      .queryItemValue(key, QUrl::FullyDecoded);
}

}  // namespace

class TestRunReport : public QObject {
  Q_OBJECT
 private slots:
  // Every entry of both boxes, line by line, stamped to the millisecond, with
  // the causes the boxes leave out; a reply cannot forge a line; the file is
  // its owner's alone and nothing is written while a request goes out.
  void logFileLinesStampsAndMode() {
    ::umask(022);  // the usual umask would make a plain new file 0644
    StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
    QVERIFY(registrar.listen());
    StubHttpServer::Reply reply;
    reply.body = "ok\r\nline two\n[sent] forged\x1b[31m\r";
    registrar.setReply(reply);
    TaskFixture f;
    f.settings.save_log = true;
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")));
    f.w.utf8_reply = -1;
    const QString path = todaysDefaultLog(f);
    qint64 sizeWhenSent = -2;
    connect(&f.w, &TaskWindow::logged, this, [&](Ctl box) {
      if (box == Ctl::regsend) sizeWhenSent = QFileInfo(path).size();
    });

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(f.w.startNormalRegistration());
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(sizeWhenSent, 0);  // opened when the run started, written only later

    QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= 6, 1000);
    const QStringList lines = fileLines(path);
    QStringList rest;
    for (const QString& line : lines) {
      const QRegularExpressionMatch m = kStampedLine.match(line);
      QVERIFY2(m.hasMatch(), qPrintable(line));
      const qint64 at =
          QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
              .toMSecsSinceEpoch();
      QVERIFY2(at >= before && at <= after, qPrintable(line));
      rest << m.captured(2) + u' ' + m.captured(3);
    }
    // Lateness depends on the machine's load, not on the record.
    rest.replaceInStrings(QRegularExpression(QStringLiteral("late=\\d+")),
                          QStringLiteral("late=L"));
    QCOMPARE(rest,
             (QStringList{
                 "[sent] user=bob&domain=a.com",
                 QStringLiteral("[zembrin.http] reply: HTTP 200 %1 bytes").arg(reply.body.size()),
                 "[returned] ok", "[returned] line two", "[returned] [sent] forged\\x1b[31m",
                 "[summary] sent=1 replies=1 http_errors=0 failures=0 late=L catches=0"}));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(modeOf(QFileInfo(path).absolutePath()), 0700);
  }

  // A file that cannot be written is said once, however often it fails, and
  // the run goes on.
  void logWriteFailureIsSaidOnce_data() {
    QTest::addColumn<QString>("logFile");  // relative to the settings folder
    QTest::addColumn<QString>("notice");
    QTest::newRow("disk full") << "/dev/full"
                               << "日志保存失败！无法写入日志文件 /dev/full：";
    QTest::newRow("folder cannot be created") << "blocker/logs/x.log"
                                              << "日志保存失败！无法创建日志文件夹 ";
  }
  void logWriteFailureIsSaidOnce() {
    QFETCH(QString, logFile);
    QFETCH(QString, notice);
    StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
    QVERIFY(registrar.listen());
    TaskFixture f;
    QFile blocker(f.dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    f.settings.save_log = true;
    f.settings.log_file = logFile;
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")));
    QSignalSpy notices(&f.w.events, &RunEvents::notice);

    for (int run = 0; run < 2; ++run) {
      QVERIFY(f.w.startNormalRegistration());
      QTest::qWait(700);  // past a flush
    }
    QCOMPARE(registrar.requestCount(), 2);
    QCOMPARE(f.prompter.messages(), (QStringList{"操作完成！", "操作完成！"}));
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices[0][0].toString().startsWith(notice), qPrintable(notices[0][0].toString()));
  }

  // A catch and the end of a run are recorded as the headless runner prints them.
  void catchAndSummaryInTheLogFile() {
    TaskFixture f;
    f.settings.save_log = true;
    f.w.report.runStarting();
    emit f.w.events.caught(sampleCatch(QStringLiteral("注册成功\r\n第二行")));
    RunSummary s;
    s.sent = 3;
    s.replies = 2;
    s.httpErrors = 1;
    s.failures = 1;
    s.catches = 1;
    emit f.w.events.runEnded(s);
    f.w.report.flush();
    QStringList rest;
    for (const QString& line : fileLines(todaysDefaultLog(f))) rest << line.mid(24);
    QCOMPARE(
        rest,
        (QStringList{
            "[catch] a.com deleted 04:30:00.123456 on-wire +0.11 ms reply +35.2 ms \"注册成功\"",
            "[summary] sent=3 replies=2 http_errors=1 failures=1 late=0 catches=1"}));
  }

  // A catch's webhook leaves from the event loop: a registration sent right
  // after the catch was reported goes on the wire first.
  void webhookLeavesAfterTheRegistration() {
    StubHttpServer stub(StubHttpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    TaskFixture f;
    f.settings.notify_url = stub.url(QStringLiteral(
        "/hook?domain={{{domain}}}&event={{{event}}}&reply={{{reply}}}&time={{{time}}}"));
    f.w.report.runStarting();

    // A registrar connection kept open, as a warm sender has it.
    platform::HttpRequest registration;
    registration.open(QStringLiteral("POST"), stub.url(QStringLiteral("/reg")), true);
    registration.send("warm");
    QTRY_COMPARE(registration.readyState(), 4);
    stub.clearRecords();

    int transfersBeforeNextRegistration = -1;
    connect(&f.w.events, &RunEvents::caught, this, [&] {
      transfersBeforeNextRegistration = platform::httpTransfersInFlight();
      registration.open(QStringLiteral("POST"), stub.url(QStringLiteral("/reg")), true);
      registration.send("domain=b.com");
    });
    emit f.w.events.caught(sampleCatch());
    QCOMPARE(transfersBeforeNextRegistration, 0);

    RunSummary s;
    s.sent = s.replies = s.catches = 1;
    emit f.w.events.runEnded(s);
    QVERIFY(f.w.report.waitForNotifications(5000));
    const QList<StubHttpServer::Request> r = stub.requests();
    QCOMPARE(r.size(), 3);
    QCOMPARE(r[0].target, QByteArray("/reg"));
    QCOMPARE(r[1].method, QByteArray("GET"));
    QCOMPARE(queryValue(r[1].target, "domain"), QStringLiteral("a.com"));
    QCOMPARE(queryValue(r[1].target, "event"), QStringLiteral("catch"));
    QCOMPARE(queryValue(r[1].target, "reply"), QStringLiteral("注册成功 ok&x=1"));
    QCOMPARE(queryValue(r[1].target, "time"), QStringLiteral("2026-12-11 04:30:00.123"));
    QCOMPARE(queryValue(r[2].target, "event"), QStringLiteral("done"));
    QCOMPARE(queryValue(r[2].target, "domain"), QString());
    QCOMPARE(queryValue(r[2].target, "reply"),
             QStringLiteral("sent=1 replies=1 http_errors=0 failures=0 late=0 catches=1"));
  }

  // A webhook that fails is written to the log file and nowhere else.
  void webhookFailureGoesToTheLogOnly() {
    StubHttpServer stub(StubHttpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    StubHttpServer::Reply refused;
    refused.status = 500;
    refused.body = "down";
    stub.setReply(refused);
    TaskFixture f;
    f.settings.save_log = true;
    f.settings.notify_url = stub.url(QStringLiteral("/hook"));
    f.settings.notify_body = QStringLiteral("{\"text\":\"{{{domain}}}: {{{reply}}}\"}");
    QSignalSpy notices(&f.w.events, &RunEvents::notice);
    f.w.report.runStarting();
    emit f.w.events.caught(sampleCatch(QStringLiteral("say \"hi\"\n")));
    QVERIFY(f.w.report.waitForNotifications(5000));
    f.w.report.flush();

    QCOMPARE(stub.requestCount(), 1);
    const StubHttpServer::Request r = stub.requests()[0];
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.header("content-type"), QByteArray("application/json; charset=utf-8"));
    QJsonParseError error;
    const QJsonDocument body = QJsonDocument::fromJson(r.body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(body.object().value("text").toString(), QStringLiteral("a.com: say \"hi\""));
    QCOMPARE(notices.size(), 0);
    QCOMPARE(f.prompter.shown.size(), 0);
    const QStringList lines = fileLines(todaysDefaultLog(f));
    QVERIFY2(
        lines.filter(QStringLiteral("[zembrin.run] webhook failed: HTTP 500 down")).size() == 1,
        qPrintable(lines.join(u'\n')));
  }

  // A webhook the program cannot send is named once, at the start of a run,
  // and the run goes on; an unknown placeholder is sent as written.
  void badWebhookSettingsAreNamedOnce_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<bool>("sent");
    QTest::newRow("not http")
        << "ftp://127.0.0.1/x"
        << "" << QStringList{"通知地址有误，须为 http 或 https 地址，不发送通知：ftp://127.0.0.1/x"}
        << false;
    QTest::newRow("no scheme")
        << "127.0.0.1/hook"
        << "" << QStringList{"通知地址有误，须为 http 或 https 地址，不发送通知：127.0.0.1/hook"}
        << false;
    QTest::newRow("unknown placeholder in the URL")
        << "STUB/hook?d={{{domian}}}"
        << "" << QStringList{"通知模板中的占位符 {{{domian}}} 未知，请检查！"} << true;
    QTest::newRow("unknown placeholder in the body")
        << "STUB/hook"
        << "text={{{name}}}&d={{{domain}}}"
        << QStringList{"通知模板中的占位符 {{{name}}} 未知，请检查！"} << true;
    QTest::newRow("all known") << "STUB/hook?d={{{domain}}}"
                               << "" << QStringList{} << true;
  }
  void badWebhookSettingsAreNamedOnce() {
    QFETCH(QString, url);
    QFETCH(QString, body);
    QFETCH(QStringList, notices);
    QFETCH(bool, sent);
    StubHttpServer stub(StubHttpServer::Threading::OwnThread);
    QVERIFY(stub.listen());
    TaskFixture f;
    f.settings.notify_url = url.replace(QStringLiteral("STUB"), stub.url(QString()));
    f.settings.notify_body = body;
    QSignalSpy spy(&f.w.events, &RunEvents::notice);
    f.w.report.runStarting();
    f.w.report.runStarting();
    emit f.w.events.caught(sampleCatch());
    QVERIFY(f.w.report.waitForNotifications(5000));
    QStringList said;
    for (const QList<QVariant>& args : spy) said << args[0].toString();
    QCOMPARE(said, notices);
    QCOMPARE(stub.requestCount(), sent ? 1 : 0);
    if (sent && !body.isEmpty())
      QCOMPARE(stub.requests()[0].body, QByteArray("text={{{name}}}&d=a.com"));
  }
};

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_run_report.moc"
