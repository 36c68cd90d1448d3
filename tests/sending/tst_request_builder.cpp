#include <QtTest>

#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
#include "sending/HttpExchange.h"
#include "sending/RequestBuilder.h"
#include "support/StubHttpServer.h"
#include "support/TaskFixture.h"
#include "task/Md5.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {

const QDateTime kMarch7(QDate(2009, 3, 7), QTime(8, 5, 9));

// A task window whose clock the test sets, building requests the way the
// senders do: validation and tables at the start, then one BuildRequest per
// request with the sender's row cursors.
struct Builder : TaskFixture {
  QDateTime clock = kMarch7;
  int row1 = 0, row2 = 0;

  Builder() {
    platform::setClockForTests([this] { return clock; });
    w.removeHint(Ctl::txt_api_url);
  }
  ~Builder() { platform::setClockForTests({}); }

  void task(const QString& url, const QString& common, const QString& dyn1,
            const QString& domainVar, const QString& formula = {}, const QString& sigName = {},
            const QString& timeVar = {}, const QString& format = QStringLiteral("yyyymmddhhmmss")) {
    view.setText(Ctl::txt_api_url, url);
    view.setText(Ctl::common1, common);
    view.setText(Ctl::dyn1, dyn1);
    view.setText(Ctl::domain_var, domainVar);
    view.setText(Ctl::md5_var, formula);
    view.setHintColour(Ctl::md5_var, false);
    view.setText(Ctl::md5_name, sigName);
    view.setText(Ctl::time_var, timeVar);
    view.setIndex(Ctl::time_format, timeFormatEntries().indexOf(format));
    QVERIFY(timeFormatEntries().contains(format));
  }

  // The start of a run: validation, tables, time base at the clock.
  bool start() {
    if (!ValidateTask(w)) return false;
    w.time_base = platform::now();
    BuildVariableTables(w);
    row1 = row2 = 0;
    return true;
  }

  // One request; the cursors then move on as the senders move them.
  void build(bool first, bool expandLineBreaks = true) {
    const QStringList l1 = textrules::lines(view.text(Ctl::dyn1));
    const QStringList l2 = textrules::lines(view.text(Ctl::dyn2));
    BuildOptions options;
    options.advanceTimeBase = !first;
    options.expandLineBreaks = expandLineBreaks;
    BuildRequest(w, l1, l2, row1, row2, options);
    if (!l1.isEmpty()) row1 = (row1 + 1) % l1.size();
    if (!l2.isEmpty()) row2 = (row2 + 1) % l2.size();
  }
  QString body() const { return w.reg.Form; }
};

const QString kUrl = QStringLiteral("http://127.0.0.1:9/api");

}  // namespace

class TestRequestBuilder : public QObject {
  Q_OBJECT
 private slots:
  void timeFormats_data();
  void timeFormats();
  void unixTimeStamp_data();
  void unixTimeStamp();
  void workedExamples_data();
  void workedExamples();
  void timeBaseRunsAheadOfTheClock();
  void firstRequestRules_data();
  void firstRequestRules();
  void rowsSkipLinesWithoutAssignAndWrap();
  void spacesAroundAssign_data();
  void spacesAroundAssign();
  void utf8Encoding_data();
  void utf8Encoding();
  void lineBreaks_data();
  void lineBreaks();
  void formulaLiterals_data();
  void formulaLiterals();
  void placeholderValuesReachTheRegistrarWhole_data();
  void placeholderValuesReachTheRegistrarWhole();
};

void TestRequestBuilder::timeFormats_data() {
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("expected");
  const QStringList expected = {
      "2009-3-7 8:05:09",
      "2009-03-07 08:05:09",
      "2009-3-7 8:5:9",
      "09-03-07 08:05:09",
      "09-3-7 8:05:09",
      "09-3-7 8:5:9",
      "2009-3-7 8:05",
      "2009-03-07 08:05",
      "2009-3-7 8:5",
      "09-03-07 08:05",
      "09-3-7 8:05",
      "09-3-7 8:5",
      "2009-3-7",
      "2009-03-07",
      "09-03-07",
      "09-3-7",
      "8:05:09",
      "08:05:09",
      "8:5:9",
      "8:05",
      "08:05",
      "20093780509",
      "20090307080509",
      "200937859",
      "090307080509",
      "093780509",
      "0937859",
      "200937805",
      "200903070805",
      "20093785",
      "0903070805",
      "0937805",
      "093785",
      "200937",
      "20090307",
      "090307",
      "0937",
      "80509",
      "080509",
      "859",
      "805",
      "0805",
      "1236384309",
  };
  QCOMPARE(expected.size(), timeFormatEntries().size());
  for (int i = 0; i < expected.size(); ++i)
    QTest::addRow("%d %s", i, qPrintable(timeFormatEntries()[i])) << i << expected[i];
}

// Every entry of the list on 7 March 2009 08:05:09 (zone +8 for the stamp),
// through the builder: the time variable as it reaches the body.
void TestRequestBuilder::timeFormats() {
  QFETCH(int, index);
  QFETCH(QString, expected);
  Builder b;
  b.settings.intTimeZone = 8;
  b.task(kUrl, QStringLiteral("a===1"), QStringLiteral("d===x.com"), QStringLiteral("d"), {}, {},
         QStringLiteral("t"), timeFormatEntries()[index]);
  QVERIFY(b.start());
  b.build(true);
  QCOMPARE(b.body(), QStringLiteral("a=1&t=") + expected + QStringLiteral("&d=x.com"));
}

void TestRequestBuilder::unixTimeStamp_data() {
  QTest::addColumn<QDateTime>("time");
  QTest::addColumn<int>("zone");
  QTest::addColumn<qint64>("expected");
  QTest::newRow("epoch in +8") << QDateTime(QDate(1970, 1, 1), QTime(8, 0)) << 8 << qint64(0);
  QTest::newRow("before epoch") << QDateTime(QDate(1970, 1, 1), QTime(0, 0)) << 8 << qint64(-28800);
  QTest::newRow("zone 0") << kMarch7 << 0 << qint64(1236413109);
  QTest::newRow("zone -5") << kMarch7 << -5 << qint64(1236431109);
  QTest::newRow("leap day 2024") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)) << 8
                                 << qint64(1709222399);
}

// The stamp reads the wall-clock fields as they stand: the machine's own
// zone (TZ=Asia/Shanghai here) plays no part.
void TestRequestBuilder::unixTimeStamp() {
  QFETCH(QDateTime, time);
  QFETCH(int, zone);
  QFETCH(qint64, expected);
  QCOMPARE(UnixTimeStamp(time, zone), expected);
  QCOMPARE(timeVariableText(time, texts::kTimeFormatUnix, zone), QString::number(expected));
}

void TestRequestBuilder::workedExamples_data() {
  QTest::addColumn<bool>("templateMode");
  QTest::addColumn<QString>("url");
  QTest::addColumn<QString>("body");
  QTest::addColumn<QString>("requestUrl");
  const QString sig = QStringLiteral("58d0b2cd254e0479125a4be4eb7f4fd3");  // md5 xy20090307080509
  QTest::newRow("form") << false << kUrl
                        << QStringLiteral("a=1&t=20090307080509&u=x&p=y&sign=") + sig << kUrl;
  QTest::newRow("template") << true << kUrl + QStringLiteral("?u={{{u}}}&s={{{sign}}}") << QString()
                            << kUrl + QStringLiteral("?u=x&s=") + sig;
}

void TestRequestBuilder::workedExamples() {
  QFETCH(bool, templateMode);
  QFETCH(QString, url);
  QFETCH(QString, body);
  QFETCH(QString, requestUrl);
  Builder b;
  b.task(url, QStringLiteral("a===1"), QStringLiteral("u===x|||p===y"), QStringLiteral("u"),
         QStringLiteral("u+p+t"), QStringLiteral("sign"), QStringLiteral("t"));
  QVERIFY(b.start());
  QCOMPARE(b.w.url_template_mode, templateMode);
  b.build(true);
  QCOMPARE(b.body(), body);
  QCOMPARE(b.w.request_url, requestUrl);
}

void TestRequestBuilder::timeBaseRunsAheadOfTheClock() {
  Builder b;
  b.task(kUrl, {}, QStringLiteral("d===x.com"), QStringLiteral("d"), {}, {}, QStringLiteral("t"));
  QVERIFY(b.start());
  QStringList times;
  auto timeSent = [&b] { return b.body().section(QStringLiteral("t="), 1).section(u'&', 0, 0); };
  for (int i = 0; i < 3; ++i) {  // three requests within the same second
    b.build(i == 0);
    times << timeSent();
  }
  QCOMPARE(times, QStringList({"20090307080509", "20090307080510", "20090307080511"}));
  b.clock = kMarch7.addSecs(7);  // a pause: the clock has overtaken the base
  b.build(false);
  QCOMPARE(timeSent(), QStringLiteral("20090307080516"));
  b.clock = kMarch7.addSecs(5);  // the clock set back: the base never goes back
  b.build(false);
  QCOMPARE(timeSent(), QStringLiteral("20090307080517"));
}

void TestRequestBuilder::firstRequestRules_data() {
  QTest::addColumn<bool>("first");
  QTest::addColumn<QString>("expected");
  QTest::newRow("first of a run: the start time") << true << QStringLiteral("20090307080509");
  QTest::newRow("advancing (later, or WHOIS-triggered)")
      << false << QStringLiteral("20090307080510");
}

void TestRequestBuilder::firstRequestRules() {
  QFETCH(bool, first);
  QFETCH(QString, expected);
  Builder b;
  b.task(kUrl, {}, QStringLiteral("d===x.com"), QStringLiteral("d"), {}, {}, QStringLiteral("t"));
  QVERIFY(b.start());
  b.build(first);
  QCOMPARE(b.body(), QStringLiteral("t=") + expected + QStringLiteral("&d=x.com"));
}

void TestRequestBuilder::rowsSkipLinesWithoutAssignAndWrap() {
  Builder b;
  b.task(kUrl, {}, QStringLiteral("u===a\r\n\r\nu===b"), QStringLiteral("u"));
  QVERIFY(b.start());
  QStringList used;
  for (int i = 0; i < 5; ++i) {
    b.build(i == 0);
    used << b.body();
  }
  QCOMPARE(used, QStringList({"u=a", "u=b", "u=a", "u=b", "u=a"}));
}

void TestRequestBuilder::spacesAroundAssign_data() {
  QTest::addColumn<QString>("url");
  QTest::addColumn<QString>("body");
  QTest::addColumn<QString>("requestUrl");
  QTest::newRow("form: trimmed name and value") << kUrl << QStringLiteral("u=a&d=x.com") << kUrl;
  QTest::newRow("template: fills no placeholder")
      << kUrl + QStringLiteral("?u={{{u}}}&d={{{d}}}") << QString()
      << kUrl + QStringLiteral("?u=&d=x.com");
}

void TestRequestBuilder::spacesAroundAssign() {
  QFETCH(QString, url);
  QFETCH(QString, body);
  QFETCH(QString, requestUrl);
  Builder b;
  b.task(url, {}, QStringLiteral("u === a|||d===x.com"), QStringLiteral("d"));
  QVERIFY(b.start());
  b.build(true);
  QCOMPARE(b.body(), body);
  QCOMPARE(b.w.request_url, requestUrl);
}

void TestRequestBuilder::utf8Encoding_data() {
  QTest::addColumn<QString>("url");
  QTest::addColumn<QString>("body");
  QTest::addColumn<QString>("requestUrl");
  QTest::newRow("form: values encoded, time text as it is")
      << kUrl << QStringLiteral("t=2009-3-7 8:05:09&v=a%20b&d=%E4%BD%A0.com") << kUrl;
  QTest::newRow("template: every value encoded")
      << kUrl + QStringLiteral("?t={{{t}}}&v={{{v}}}&d={{{d}}}") << QString()
      << kUrl + QStringLiteral("?t=2009-3-7%208%3A05%3A09&v=a%20b&d=%E4%BD%A0.com");
}

void TestRequestBuilder::utf8Encoding() {
  QFETCH(QString, url);
  QFETCH(QString, body);
  QFETCH(QString, requestUrl);
  Builder b;
  b.task(url, {}, QStringLiteral("v===a b|||d===你.com"), QStringLiteral("d"), {}, {},
         QStringLiteral("t"), QStringLiteral("yyyy-m-d h:mm:ss"));
  b.w.utf8_send = -1;
  QVERIFY(b.start());
  b.build(true);
  QCOMPARE(b.body(), body);
  QCOMPARE(b.w.request_url, requestUrl);
}

void TestRequestBuilder::lineBreaks_data() {
  QTest::addColumn<bool>("loopSender");
  QTest::addColumn<bool>("utf8");
  QTest::addColumn<QString>("value");
  QTest::newRow("blocking loop") << true << false << QStringLiteral("x%0D%0Ay");
  QTest::newRow("tick sender") << false << false << QStringLiteral("x{\\n}y");
  QTest::newRow("blocking loop, utf8") << true << true << QStringLiteral("x%250D%250Ay");
}

void TestRequestBuilder::lineBreaks() {
  QFETCH(bool, loopSender);
  QFETCH(bool, utf8);
  QFETCH(QString, value);
  Builder b;
  b.task(kUrl + QStringLiteral("?n={\\n}"), {}, QStringLiteral("v===x{\\n}y|||d===x.com"),
         QStringLiteral("d"));
  b.w.utf8_send = utf8 ? -1 : 0;
  QVERIFY(b.start());
  b.build(true, loopSender);
  QCOMPARE(b.body(), QStringLiteral("v=") + value + QStringLiteral("&d=x.com"));
  // The API URL is expanded by every sender, once.
  QCOMPARE(b.w.request_url, kUrl + QStringLiteral("?n=%0D%0A"));
  QCOMPARE(b.w.api_url, kUrl + QStringLiteral("?n=%0D%0A"));
}

void TestRequestBuilder::formulaLiterals_data() {
  QTest::addColumn<QString>("formula");
  QTest::addColumn<QString>("digest");
  QTest::newRow("\"k\"") << QStringLiteral("\"k\"")
                         << QStringLiteral("8ce4b16b22b58894aa86c421e8759df3");
  QTest::newRow("\"a\"b\"") << QStringLiteral("\"a\"b\"")
                            << QStringLiteral("187ef4436122d1cc2f40dc2b92f0eba0");
  QTest::newRow("\"k\"+\"a\"b\"") << QStringLiteral("\"k\"+\"a\"b\"")
                                  << QStringLiteral("6458d6f2365858dc27766c47a87cb3b0");
  // variables and a literal: x, k, then the time
  QTest::newRow("u+\"k\"+t") << QStringLiteral("u+\"k\"+t")
                             << QStringLiteral("71d49f5cd747a6db91320e5c61a4ab44");
}

void TestRequestBuilder::formulaLiterals() {
  QFETCH(QString, formula);
  QFETCH(QString, digest);
  Builder b;
  b.task(kUrl, {}, QStringLiteral("u===x"), QStringLiteral("u"), formula, QStringLiteral("s"),
         QStringLiteral("t"));
  QVERIFY(b.start());
  b.build(true);
  QCOMPARE(b.body().section(QStringLiteral("s="), 1), digest);
}

void TestRequestBuilder::placeholderValuesReachTheRegistrarWhole_data() {
  QTest::addColumn<QString>("value");
  QTest::addColumn<QByteArray>("sent");  // the domain's part of the query as it arrives
  QTest::newRow("# would start the fragment")
      << QStringLiteral("a#b.com") << QByteArray("a%23b.com");
  QTest::newRow("# at the start and twice") << QStringLiteral("#x##") << QByteArray("%23x%23%23");
  QTest::newRow("blank and Chinese, escaped by the client")
      << QStringLiteral("你 好.com") << QByteArray("%E4%BD%A0%20%E5%A5%BD.com");
  // A value the user escaped already, and marks that change how the query
  // reads but lose nothing, go as typed.
  QTest::newRow("existing escape kept") << QStringLiteral("a%23b") << QByteArray("a%23b");
  QTest::newRow("? & = as typed") << QStringLiteral("a?b&c=d") << QByteArray("a?b&c=d");
}

// Without UTF-8 sending, the whole template URL, the signature at its end
// included, arrives, and the log shows what was sent.
void TestRequestBuilder::placeholderValuesReachTheRegistrarWhole() {
  QFETCH(QString, value);
  QFETCH(QByteArray, sent);
  StubHttpServer registrar;
  QVERIFY(registrar.listen());
  Builder b;
  b.task(registrar.url(QStringLiteral("/r?d={{{d}}}&s={{{s}}}")), {},
         QStringLiteral("d===") + value, QStringLiteral("d"), QStringLiteral("d"),
         QStringLiteral("s"));
  QVERIFY(b.start());
  QVERIFY(b.w.url_template_mode);
  b.build(true);
  b.w.setIntStart(1);
  SendRequest(b.w, std::make_shared<platform::HttpRequest>(), 1, true, true);

  QCOMPARE(registrar.requestCount(), 1);
  const QByteArray target = registrar.requests().first().target;
  QCOMPARE(target, "/r?d=" + sent + "&s=" + md5(value).toLatin1());
  const QString logged = b.view.text(Ctl::regsend);
  QVERIFY2(logged.startsWith(QStringLiteral("GET:")), qPrintable(logged));
  QCOMPARE(platform::normalizeUrl(logged.mid(4).chopped(6)),
           registrar.url(QString()).toUtf8() + target);
}

QTEST_GUILESS_MAIN(TestRequestBuilder)
#include "tst_request_builder.moc"
