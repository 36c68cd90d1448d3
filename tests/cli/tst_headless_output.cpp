#include <QtTest>
#include <cstdio>

#include "app/TaskWindow.h"
#include "cli/HeadlessOutput.h"
#include "support/ScriptedPrompter.h"

namespace {

// The runner's output on two in-memory streams, its task window on top.
struct Printed {
  explicit Printed(bool json) {
    out = open_memstream(&outBuf, &outSize);
    err = open_memstream(&errBuf, &errSize);
    view = std::make_unique<HeadlessOutput>(out, err, json, false);
    w = std::make_unique<TaskWindow>(*view, prompter, settings, dialogState, QString());
    view->attach(*w);
  }
  ~Printed() {
    w.reset();
    view.reset();
    std::fclose(out);
    std::fclose(err);
    std::free(outBuf);
    std::free(errBuf);
  }
  QString stdoutText() {
    view->finish();
    return QString::fromUtf8(outBuf, qsizetype(outSize));
  }
  QString stderrText() {
    view->finish();
    return QString::fromUtf8(errBuf, qsizetype(errSize));
  }
  QList<QJsonObject> jsonLines() {
    QList<QJsonObject> objects;
    for (const QString& line : stdoutText().split(u'\n', Qt::SkipEmptyParts)) {
      QJsonParseError error;
      const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
      if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning("not a JSON object: %s", qPrintable(line));
        return {};
      }
      objects << doc.object();
    }
    return objects;
  }

  char* outBuf = nullptr;
  char* errBuf = nullptr;
  size_t outSize = 0, errSize = 0;
  FILE* out = nullptr;
  FILE* err = nullptr;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  std::unique_ptr<HeadlessOutput> view;
  std::unique_ptr<TaskWindow> w;
};

CatchReport report(double replyMs, const QString& reply) {
  CatchReport r;
  r.domain = QStringLiteral("a.com");
  r.deletedAtUs = QDateTime(QDate(2026, 12, 11), QTime(4, 30)).toMSecsSinceEpoch() * 1000 + 123456;
  r.deletedAt = QDateTime::fromMSecsSinceEpoch(r.deletedAtUs / 1000);
  r.onWireMs = 0.11;
  r.replyMs = replyMs;
  r.httpStatus = replyMs < 0 ? 0 : 200;
  r.reply = reply;
  return r;
}

}  // namespace

class TestHeadlessOutput : public QObject {
  Q_OBJECT
 private slots:
  void catchLine_data() {
    QTest::addColumn<double>("replyMs");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("line");
    const QString head = QStringLiteral("[catch] a.com deleted 04:30:00.123456 on-wire +0.11 ms ");
    QTest::newRow("reply") << 35.2 << "注册成功\r\n<xml/>" << head + "reply +35.2 ms \"注册成功\"";
    QTest::newRow("no HTTP answer") << -1.0 << "连接失败！" << head + "reply none \"连接失败！\"";
    QTest::newRow("quotes and controls escaped")
        << 1.24 << "a \"b\" \\ \x1b[2Jc\td\rnext"
        << head + "reply +1.2 ms \"a \\\"b\\\" \\\\ \\x1b[2Jc\td\"";
    QTest::newRow("long reply cut")
        << 2.0 << QString(100, u'x') << head + "reply +2.0 ms \"" + QString(80, u'x') + "…\"";
  }
  void catchLine() {
    QFETCH(double, replyMs);
    QFETCH(QString, reply);
    QFETCH(QString, line);
    Printed p(false);
    emit p.w->events.caught(report(replyMs, reply));
    QCOMPARE(p.stdoutText(), line + u'\n');
  }

  void summaryAndNoticeOnStderr() {
    Printed p(false);
    RunSummary s;
    s.sent = 12;
    s.replies = 10;
    s.httpErrors = 3;
    s.failures = 2;
    s.late = 1;
    s.catches = 4;
    emit p.w->events.notice(QStringLiteral("日志保存失败！\x1b]0;x"));
    emit p.w->events.runEnded(s);
    QCOMPARE(
        p.stderrText().split(u'\n', Qt::SkipEmptyParts),
        (QStringList{"[status] 日志保存失败！\\x1b]0;x",
                     "[summary] sent=12 replies=10 http_errors=3 failures=2 late=1 catches=4"}));
  }

  // Each event is one JSON object with its type, time and fields; a reply
  // with line breaks and control characters stays one string.
  void jsonEvents() {
    Printed p(true);
    const QString reply = QStringLiteral("注册成功\r\n\x1b[31m\"x\"\n");
    emit p.w->events.caught(report(35.2, reply));
    RunSummary s;
    s.sent = 3;
    s.replies = 2;
    s.httpErrors = 1;
    s.failures = 1;
    s.catches = 1;
    emit p.w->events.runEnded(s);
    emit p.w->events.notice(QStringLiteral("通知地址有误"));
    const QList<QJsonObject> lines = p.jsonLines();
    QCOMPARE(lines.size(), 3);

    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (const QJsonObject& o : lines)
      QVERIFY2(iso.match(o.value("time").toString()).hasMatch(),
               qPrintable(o.value("time").toString()));
    const QJsonObject c = lines[0];
    QCOMPARE(c.value("type").toString(), QStringLiteral("catch"));
    QCOMPARE(c.value("domain").toString(), QStringLiteral("a.com"));
    QCOMPARE(c.value("deleted_at").toString(), QStringLiteral("2026-12-11T04:30:00.123456+08:00"));
    QCOMPARE(c.value("on_wire_ms").toDouble(), 0.11);
    QCOMPARE(c.value("reply_ms").toDouble(), 35.2);
    QCOMPARE(c.value("http_status").toInt(), 200);
    QCOMPARE(c.value("reply").toString(), reply);
    const QJsonObject m = lines[1];
    QCOMPARE(m.value("type").toString(), QStringLiteral("summary"));
    QCOMPARE(
        QStringList(
            {QString::number(m.value("sent").toInt()), QString::number(m.value("replies").toInt()),
             QString::number(m.value("http_errors").toInt()),
             QString::number(m.value("failures").toInt()), QString::number(m.value("late").toInt()),
             QString::number(m.value("catches").toInt())}),
        (QStringList{"3", "2", "1", "1", "0", "1"}));
    QCOMPARE(lines[2].value("type").toString(), QStringLiteral("status"));
    QCOMPARE(lines[2].value("text").toString(), QStringLiteral("通知地址有误"));
    QCOMPARE(p.stderrText(), QString());
  }
};

QTEST_GUILESS_MAIN(TestHeadlessOutput)
#include "tst_headless_output.moc"
