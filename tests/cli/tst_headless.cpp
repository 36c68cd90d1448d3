#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <QtTest>
#include <csignal>

#include "platform/Clock.h"
#include "platform/Sntp.h"
#include "support/StubHttpServer.h"
#include "support/StubSntpServer.h"
#include "support/StubWhoisServer.h"

namespace {
struct Run {
  int exitCode = -1;
  QString out, err;
};

// A task file as the save button writes it: POST to url, one domain line
// per entry of domains.
QByteArray taskFile(const QString& url, const QStringList& domains,
                    const QStringList& config = {}) {
  QStringList lines{"[config_begin]", "domain_var===domain", "use_utf8===0", "use_utf8_return===0",
                    "api===" + url};
  lines << config;
  lines << "[config_end]"
        << ""
        << "[common_begin]"
        << "user===bob"
        << "[common_end]"
        << ""
        << "[dyn1_begin]";
  for (const QString& d : domains) lines << "domain===" + d;
  lines << "[dyn1_end]"
        << ""
        << "[dyn2_begin]"
        << "[dyn2_end]";
  return lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

class Headless {
 public:
  Headless() {
    registrar.listen();
    // No time server: a timed start asks none on the internet.
    writeSettings("[option]\r\ncheck_whois=0\r\nwarm_connections=0\r\ntime_server=\r\n");
  }
  void writeTask(const QByteArray& content) { write(QStringLiteral("task.txt"), content); }
  // WHOIS checking against a stub for .com, each domain caught once.
  void useWhois(quint16 port, const QByteArray& more = {}) {
    writeSettings(
        "[option]\r\ncheck_whois=1\r\nwhois_after_reg=0\r\nwarm_connections=0\r\nwhois_no=1\r\n"
        "whois_server_1=.com|||127.0.0.1|||" +
        QByteArray::number(port) + "|||No match for|||Expiration Date: |||\r\n" + more);
  }
  void writeSettings(const QByteArray& content) { write(QStringLiteral("zembrin.ini"), content); }
  QString path(const QString& name) const { return dir.filePath(name); }

  void start(const QStringList& args) {
    process.setProgram(QStringLiteral(ZEMBRIN_BIN));
    process.setArguments(args);
    process.start();
    QVERIFY(process.waitForStarted());
  }
  Run finish(int timeoutMs = 20000) {
    Run r;
    if (!process.waitForFinished(timeoutMs)) process.kill();
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
  }
  Run run(const QStringList& args) {
    start(args);
    return finish();
  }
  QStringList withTask(const QString& command) const {
    return {command, path(QStringLiteral("task.txt")), QStringLiteral("--settings"),
            path(QStringLiteral("zembrin.ini"))};
  }

  QTemporaryDir dir;
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
  QProcess process;

 private:
  void write(const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
};
}  // namespace

class TestHeadless : public QObject {
  Q_OBJECT
 private slots:
  void usageAndStatuses_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "zembrin register TASKFILE";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "zembrin 1.0.0";
    QTest::newRow("unknown command") << QStringList{"fly", "x"} << 64 << "unknown command";
    QTest::newRow("no task file") << QStringList{"register"} << 64 << "missing TASKFILE";
    QTest::newRow("--at with register")
        << QStringList{"register", "x", "--at", "2030-1-1 0:0:0"} << 64 << "--at is for catch only";
    QTest::newRow("task file missing")
        << QStringList{"register", "/nonexistent/task.txt"} << 2 << "指定文件不存在！";
  }
  void usageAndStatuses() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    Headless h;
    const Run r = h.run(args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2((r.out + r.err).contains(expected), qPrintable(r.out + r.err));
  }

  // A script tells the registrar's answer from the exit status; the window's
  // texts stay those of the exchange.
  void registerExitStatusFollowsTheAnswer_data() {
    QTest::addColumn<int>("status");  // 0: nobody listening
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");
    QTest::newRow("2xx") << 201 << 0 << "[summary] sent=1 replies=1 http_errors=0 failures=0";
    QTest::newRow("3xx not followed")
        << 302 << 3 << "[summary] sent=1 replies=1 http_errors=0 failures=0";
    QTest::newRow("500 page") << 500 << 3 << "[summary] sent=1 replies=1 http_errors=1 failures=0";
    QTest::newRow("refused") << 0 << 4 << "[summary] sent=0 replies=0 http_errors=0 failures=1";
  }
  void registerExitStatusFollowsTheAnswer() {
    QFETCH(int, status);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);
    Headless h;
    StubHttpServer::Reply reply;
    reply.status = status;
    reply.body = "page";
    reply.headers = {{"Location", "http://elsewhere.invalid/steal"}};
    h.registrar.setReply(reply);
    const QString url = h.registrar.url("/reg");
    if (status == 0) h.registrar.close();
    h.writeTask(taskFile(url, {"a.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(summary), qPrintable(r.err));
    QVERIFY(r.out.contains(status ? QStringLiteral("[returned] page")
                                  : QStringLiteral("[returned] 连接失败！")));
  }

  // A registrar behind a private CA: trusted through SSL_CERT_FILE alone;
  // without it nothing is sent to that server.
  void caBundleFromTheEnvironment_data() {
    QTest::addColumn<bool>("trust");
    QTest::newRow("SSL_CERT_FILE set") << true;
    QTest::newRow("system store only") << false;
  }
  void caBundleFromTheEnvironment() {
    QFETCH(bool, trust);
    Headless h;
    h.registrar.close();
    QVERIFY(h.registrar.listen(true));
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SSL_CERT_FILE"));
    env.remove(QStringLiteral("CURL_CA_BUNDLE"));
    if (trust) env.insert(QStringLiteral("SSL_CERT_FILE"), StubHttpServer::tlsFixture("ca.pem"));
    h.process.setProcessEnvironment(env);
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, trust ? 0 : 4);
    QCOMPARE(h.registrar.requestCount(), trust ? 1 : 0);
    QVERIFY2(r.out.contains(trust ? QStringLiteral("[returned] OK")
                                  : QStringLiteral("[returned] 连接失败！")),
             qPrintable(r.out));
  }

  void registerSendsOneRequestAndPrintsTheExchange() {
    Headless h;
    StubHttpServer::Reply reply;
    reply.body = QByteArray::fromHex("c4e3bac3");  // 你好 in GB2312
    h.registrar.setReply(reply);
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(h.registrar.requestCount(), 1);
    QCOMPARE(h.registrar.requests()[0].body, QByteArray("user=bob&domain=a.com"));
    QCOMPARE(r.out, QStringLiteral("[sent] user=bob&domain=a.com\n[returned] 你好\n"));
    QVERIFY2(r.err.contains(QStringLiteral("[message] 操作完成！")), qPrintable(r.err));
    QVERIFY(r.err.trimmed().split(u'\n').contains(QStringLiteral("[status] 状态：任务完成")));
  }

  void refusedTaskExitsWithTwo() {
    Headless h;
    QByteArray task = taskFile(h.registrar.url("/reg"), {"a.com"});
    task.replace("domain_var===domain", "domain_var===nowhere");
    h.writeTask(task);
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(
                 QStringLiteral("[message] 没有在固定、动态内容中找到域名变量 nowhere ，请检查！")),
             qPrintable(r.err));
    QCOMPARE(h.registrar.requestCount(), 0);
  }

  // The first signal acts as the stop button: the run ends its own way.
  void sigintStopsACatch() {
    Headless h;
    // one per second for ten minutes, timer-driven
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com", "b.com"},
                         {"time===600", "frequence===1", "send_type===1"}));
    h.start(h.withTask("catch"));
    QVERIFY(h.registrar.waitForRequests(2, 5000));
    ::kill(static_cast<pid_t>(h.process.processId()), SIGINT);
    const Run r = h.finish(5000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(QStringLiteral("[message] 操作完成！")), qPrintable(r.err));
    QVERIFY(r.out.contains(QStringLiteral("[sent] user=bob&domain=b.com")));
  }

  void timedCatchStartsAtTheSetTime() {
    Headless h;
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"time===1", "send_type===1"}));
    const QDateTime at = QDateTime::currentDateTime().addSecs(2);
    QStringList args = h.withTask("catch");
    args << "--at" << at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const Run r = h.run(args);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(h.registrar.requestCount() >= 1);
    QVERIFY(QDateTime::currentDateTime() >= at);
    QVERIFY2(r.err.contains(QStringLiteral("[status] 状态：定时等待中......")), qPrintable(r.err));
    QVERIFY(r.err.contains(QStringLiteral("[message] 操作完成！")));
  }

  // The catch with WHOIS: the deleted domain is registered, the renewed one
  // given up, and the run ends by itself when nothing is left to watch.
  void whoisCatchRegistersTheDeletedDomain() {
    Headless h;
    StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
    QVERIFY(whois.listen());
    whois.setScript("a.com", StubWhoisServer::reply("No match for \"A.COM\".\r\n"));
    whois.setScript("b.com", StubWhoisServer::reply("Expiration Date: 2099-01-01T00:00:00Z\r\n"));
    h.writeSettings(
        QStringLiteral(
            "[option]\r\ncheck_whois=1\r\nwhois_after_reg=0\r\nwarm_connections=0\r\nwhois_no=1\r\n"
            "whois_server_1=.com|||127.0.0.1|||%1|||No match for|||Expiration Date: |||\r\n")
            .arg(whois.port())
            .toUtf8());
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com", "b.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("catch"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(h.registrar.requestCount(), 1);
    QCOMPARE(h.registrar.requests()[0].body, QByteArray("user=bob&domain=a.com"));
    QVERIFY2(r.out.contains(QStringLiteral(" Sending Whois data: a.com")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral(" 域名 a.com 已删除，开始抢注！")));
    QVERIFY(r.out.contains(QStringLiteral(" 域名 b.com 已被注册，放弃注册此域名！")));
    QVERIFY(r.out.contains(QStringLiteral("[sent] user=bob&domain=a.com")));
    QVERIFY2(r.err.contains(QStringLiteral("[message] 操作完成！")), qPrintable(r.err));
  }

  // A reply cannot forge a line or send the terminal a control sequence:
  // every line break starts a prefixed line, controls but tab are escaped.
  void repliesCannotForgeLines() {
    Headless h;
    StubHttpServer::Reply reply;
    reply.body =
        "ok\r\n[sent] forged\rnext\tcell\n\x1b[2J\x07"
        "end\r\n";
    h.registrar.setReply(reply);
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral(
                        "[sent] user=bob&domain=a.com\n[returned] ok\n[returned] [sent] forged\n"
                        "[returned] next\tcell\n[returned] \\x1b[2J\\x07end\n"));
  }

  // --json: every line of stdout is one JSON object with a type and a time,
  // the reply one string; stderr stays empty; the exit status is unchanged.
  void jsonLinesParse() {
    Headless h;
    StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
    QVERIFY(whois.listen());
    whois.setScript("a.com", StubWhoisServer::reply("No match for \"A.COM\".\r\n"));
    h.useWhois(whois.port());
    StubHttpServer::Reply reply;
    reply.body = "ok\r\n\x1b[31m\"x\"";
    h.registrar.setReply(reply);
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    QStringList args = h.withTask("catch");
    args << "--json";
    const Run r = h.run(args);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QString());
    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\+08:00$"));
    QMultiHash<QString, QJsonObject> byType;
    for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts)) {
      QJsonParseError error;
      const QJsonObject o = QJsonDocument::fromJson(line.toUtf8(), &error).object();
      QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
      QVERIFY2(iso.match(o.value("time").toString()).hasMatch(), qPrintable(line));
      byType.insert(o.value("type").toString(), o);
    }
    QStringList types = byType.uniqueKeys();
    types.sort();
    QCOMPARE(types, (QStringList{"catch", "message", "returned", "sent", "status", "summary"}));
    const QString registration = QStringLiteral("user=bob&domain=a.com");
    QCOMPARE(std::count_if(
                 byType.begin(), byType.end(),
                 [&](const QJsonObject& o) { return o.value("text").toString() == registration; }),
             qsizetype(1));
    QCOMPARE(byType.values("catch").size(), 1);
    const QJsonObject c = byType.value("catch");
    QCOMPARE(c.value("domain").toString(), QStringLiteral("a.com"));
    QCOMPARE(c.value("http_status").toInt(), 200);
    QCOMPARE(c.value("reply").toString(), QStringLiteral("ok\r\n\x1b[31m\"x\""));
    QVERIFY(c.value("on_wire_ms").toDouble() >= 0);
    QVERIFY(c.value("reply_ms").toDouble() >= c.value("on_wire_ms").toDouble());
    const QJsonObject returned = byType.value("returned");  // the last: the registration's reply
    QCOMPARE(returned.value("text").toString(), QStringLiteral("ok\r\n\x1b[31m\"x\""));
    const QJsonObject s = byType.value("summary");
    QCOMPARE(s.value("sent").toInt(), 1);
    QCOMPARE(s.value("catches").toInt(), 1);
    QCOMPARE(byType.value("message").value("text").toString(), QStringLiteral("操作完成！"));
  }

  // A WHOIS catch: its report line on stdout, the summary on stderr, both in
  // the log file too, and the webhook only after the registration arrived.
  void catchReportWebhookAndLogFile() {
    Headless h;
    StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
    QVERIFY(whois.listen());
    whois.setScript("a.com", StubWhoisServer::reply("No match for \"A.COM\".\r\n"));
    h.useWhois(whois.port(), "save_log=1\r\nnotify_url=" +
                                 h.registrar.url("/hook?e={{{event}}}&d={{{domain}}}").toUtf8() +
                                 "\r\n");
    StubHttpServer::Reply reply;
    reply.body = QByteArray::fromHex("d7a2b2e1b3c9b9a6") + "\r\n<detail/>";  // 注册成功 in GBK
    h.registrar.setReply(reply);
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("catch"));
    QCOMPARE(r.exitCode, 0);

    QStringList targets;
    for (const StubHttpServer::Request& q : h.registrar.requests())
      targets << QString::fromLatin1(q.target);
    QCOMPARE(targets, (QStringList{"/reg", "/hook?e=catch&d=a.com", "/hook?e=done&d="}));
    const QRegularExpression catchLine(
        QStringLiteral("^\\[catch\\] a\\.com deleted \\d\\d:\\d\\d:\\d\\d\\.\\d{6} on-wire "
                       "\\+\\d+\\.\\d\\d ms reply \\+\\d+\\.\\d ms \"注册成功\"$"));
    const QStringList caught = r.out.split(u'\n').filter(QStringLiteral("[catch]"));
    QCOMPARE(caught.size(), 1);
    QVERIFY2(catchLine.match(caught[0]).hasMatch(), qPrintable(caught[0]));
    const QStringList summary = r.err.split(u'\n').filter(QStringLiteral("[summary]"));
    QCOMPARE(summary.size(), 1);
    QVERIFY2(
        QRegularExpression(
            QStringLiteral(
                "^\\[summary\\] sent=1 replies=1 http_errors=0 failures=0 late=[01] catches=1$"))
            .match(summary[0])
            .hasMatch(),
        qPrintable(summary[0]));

    QFile log(h.path(
        QStringLiteral("logs/zembrin-%1.log").arg(QDate::currentDate().toString("yyyyMMdd"))));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QStringList logged;
    for (const QString& line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts))
      logged << line.mid(24);  // after the stamp
    QCOMPARE(logged.filter(QStringLiteral("[catch]")), caught);
    QCOMPARE(logged.filter(QStringLiteral("[summary]")), summary);
  }

  // The log file failing is said once on stderr and the run goes on; the
  // logging categories reach stderr only when QT_LOGGING_RULES asks.
  void logFileFailureAndLoggingRules_data() {
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("httpLineShown");
    QTest::newRow("categories off by default") << QString() << false;
    QTest::newRow("zembrin.http on") << "zembrin.http.info=true" << true;
  }
  void logFileFailureAndLoggingRules() {
    QFETCH(QString, rules);
    QFETCH(bool, httpLineShown);
    Headless h;
    h.writeSettings("[option]\r\ncheck_whois=0\r\nsave_log=1\r\nlog_file=/dev/full\r\n");
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_LOGGING_RULES");
    if (!rules.isEmpty()) env.insert("QT_LOGGING_RULES", rules);
    h.process.setProcessEnvironment(env);
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(h.registrar.requestCount(), 1);
    QCOMPARE(r.err.count(QStringLiteral("[status] 日志保存失败！无法写入日志文件 /dev/full：")), 1);
    QCOMPARE(r.err.contains(QStringLiteral("reply: HTTP 200 2 bytes")), httpLineShown);
  }

  // On a terminal the count-down is one live line: it shows only counts, and
  // it is ended before any other output.
  void countdownOnATerminal() {
    Headless h;
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"},
                         {"time===1", "frequence===1", "send_type===1"}));
    int master = -1, slave = -1;
    QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    h.process.setChildProcessModifier([slave] {
      ::dup2(slave, STDOUT_FILENO);
      ::dup2(slave, STDERR_FILENO);
    });
    QByteArray terminal;
    QSocketNotifier reader(master, QSocketNotifier::Read);
    auto drain = [&] {
      char buf[4096];
      for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) terminal.append(buf, n);
    };
    connect(&reader, &QSocketNotifier::activated, this, drain);
    QStringList args = h.withTask("catch");
    args << "--at"
         << QDateTime::currentDateTime().addSecs(3).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    h.start(args);
    ::close(slave);
    QTRY_VERIFY_WITH_TIMEOUT(h.process.state() == QProcess::NotRunning, 20000);
    drain();
    ::close(master);
    QCOMPARE(h.process.exitCode(), 0);

    const QString text = QString::fromUtf8(terminal);
    const QRegularExpression count(
        QStringLiteral("^(\\x1b\\[K)?剩余时间：-?\\d+天 -?\\d+时 -?\\d+分 -?\\d+秒$"));
    int counts = 0;
    for (const QString& piece :
         text.split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts)) {
      if (!piece.contains(QStringLiteral("剩余时间："))) continue;
      QVERIFY2(count.match(piece).hasMatch(), qPrintable(piece));
      ++counts;
    }
    QVERIFY2(counts >= 2, qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("\n[sent] user=bob&domain=a.com")), qPrintable(text));
  }

  void timedCatchRefused_data() {
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("message");
    QTest::newRow("in the past") << "2001-01-01 00:00:00"
                                 << "定时时间必须大于当前时间！";
    QTest::newRow("hour beyond 32 bits") << "2026-12-25 99999999999:00:00"
                                         << "日期时间有误，请检查！";
    QTest::newRow("no such day") << "2031-02-30 00:00:00"
                                 << "日期时间有误，请检查！";
    QTest::newRow("not a date") << "tomorrow"
                                << "日期时间有误，请检查！";
  }
  void timedCatchRefused() {
    QFETCH(QString, at);
    QFETCH(QString, message);
    Headless h;
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}));
    QStringList args = h.withTask("catch");
    args << "--at" << at;
    const Run r = h.run(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("[message] ") + message), qPrintable(r.err));
    QVERIFY(!r.err.contains(QStringLiteral("定时等待中")));
  }

  // The time server's offset moves the start (1.5 s ahead: the catch starts
  // 1.5 s earlier by our clock) and is shown as a status line.
  void timedCatchFollowsTheTimeServer() {
    Headless h;
    StubSntpServer sntp(StubSntpServer::Threading::OwnThread);
    QVERIFY(sntp.listen());
    sntp.setOffsetMs(1500);
    h.writeSettings(QStringLiteral("[option]\r\ncheck_whois=0\r\ntime_server=%1\r\n")
                        .arg(sntp.address())
                        .toUtf8());
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"time===1", "send_type===1"}));
    const qint64 second = platform::wallClockUs() / 1000000 + 5;
    QStringList args = h.withTask("catch");
    args << "--at"
         << QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const Run r = h.run(args);
    QCOMPARE(r.exitCode, 0);
    qint64 firstNs = 0;
    for (const StubHttpServer::Request& req : h.registrar.requests())
      if (req.target == "/reg" && firstNs == 0) firstNs = req.arrivalNs;  // not a warm-up
    QVERIFY(firstNs > 0);
    const qint64 firstUs =
        firstNs / 1000 + (platform::wallClockUs() - StubHttpServer::monotonicNs() / 1000);
    const double lateMs = double(firstUs - (second * 1000000 - 1500000)) / 1000;
    QVERIFY2(lateMs >= -0.2 && lateMs < 100, qPrintable(QString::number(lateMs)));
    QCOMPARE(r.err.count(QStringLiteral("[status] 时钟偏差：+1.500 秒\n")), 1);
  }

  // A bad value in the settings file is named once on stderr; the run goes on
  // with the default.
  void settingsProblemSaidOnce() {
    Headless h;
    h.writeSettings("[option]\r\ncheck_whois=0\r\ntime_server=\r\nwarm_connections=lots\r\n");
    h.writeTask(taskFile(h.registrar.url("/reg"), {"a.com"}, {"send_type===1"}));
    const Run r = h.run(h.withTask("register"));
    QCOMPARE(r.exitCode, 0);
    const QString line = QStringLiteral(
        "[status] 设置文件中 warm_connections=lots "
        "有误：预热连接数只能为0到64之间的整数！已使用默认值 4\n");
    QVERIFY2(r.err.count(line) == 1, qPrintable(r.err));
    QCOMPARE(h.registrar.requestCount(), 1);
  }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
