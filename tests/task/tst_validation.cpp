#include <QtTest>

#include "support/TaskFixture.h"
#include "task/Validation.h"

namespace {
const QString kUrl = QStringLiteral("http://127.0.0.1:8080/reg");

// A valid task; each row of the table changes what it needs.
struct Task {
  QString api = kUrl;
  QString common = QStringLiteral("user===bob");
  QString dyn1 = QStringLiteral("domain===a.com");
  QString dyn2;
  QString domainVar = QStringLiteral("domain");
  QString md5Name;
  QString md5Var;
  QString timeVar;
  QString duration = QStringLiteral("1");
  int unit = 0;
  int sendType = 0;
};

void apply(TaskFixture& f, const Task& t) {
  f.view.setText(Ctl::txt_api_url, t.api);
  f.view.setHintColour(Ctl::txt_api_url, false);
  f.view.setText(Ctl::common1, t.common);
  f.view.setText(Ctl::dyn1, t.dyn1);
  f.view.setText(Ctl::dyn2, t.dyn2);
  f.view.setText(Ctl::domain_var, t.domainVar);
  f.view.setText(Ctl::md5_name, t.md5Name);
  f.view.setText(Ctl::md5_var, t.md5Var);
  f.view.setText(Ctl::time_var, t.timeVar);
  f.view.setText(Ctl::reg_second, t.duration);
  f.view.setIndex(Ctl::send_time, t.unit);
  f.view.setIndex(Ctl::radio_send_type, t.sendType);
}
}  // namespace

Q_DECLARE_METATYPE(Task)

class TestValidation : public QObject {
  Q_OBJECT
 private slots:
  void messages_data();
  void messages();
  void tidiesEveryTextBox();
  void recordsDomainSource_data();
  void recordsDomainSource();
  void recordsUrlTemplate_data();
  void recordsUrlTemplate();
};

void TestValidation::messages_data() {
  QTest::addColumn<Task>("task");
  QTest::addColumn<QString>("message");  // empty: the task passes

  auto row = [](const char* name, auto change, const QString& message) {
    Task t;
    change(t);
    QTest::newRow(name) << t << message;
  };
  const QString durationEmpty = QStringLiteral("持续时间不得为空，并且只能为正整数！");
  const QString durationPositive = QStringLiteral("持续时间只能为正整数！");

  row(
      "valid", [](Task&) {}, "");
  row(
      "everything empty: first step first",
      [](Task& t) { t = Task{"", "", "", "", "", "", "", "", "", 0, 0}; }, "域名变量名不得为空！");
  row(
      "domain var blank", [](Task& t) { t.domainVar = "   "; }, "域名变量名不得为空！");
  row(
      "domain var with pasted line break", [](Task& t) { t.domainVar = "dom\r\nain"; }, "");
  row(
      "api empty", [](Task& t) { t.api = "  "; }, "接口地址不得为空！");
  row(
      "content empty",
      [](Task& t) {
        t.common = "   ";
        t.dyn1 = "";
      },
      "注册内容不得为空！");

  for (const char* d : {"", "abc", "1a", "--1"})
    row(
        qPrintable(QStringLiteral("duration '%1'").arg(d)), [d](Task& t) { t.duration = d; },
        durationEmpty);
  for (const char* d : {"007", "+7", "7.0", "1e3", "1,000", ".5", "&H10", "0", "-5", "-0",
                        "2147483648", "-2147483649", "99999999999999999999"})
    row(
        qPrintable(QStringLiteral("duration '%1'").arg(d)), [d](Task& t) { t.duration = d; },
        durationPositive);
  row(
      "2073600 seconds", [](Task& t) { t.duration = "2073600"; }, "");
  row(
      "2073601 seconds", [](Task& t) { t.duration = "2073601"; },
      "持续时间不能超过24天（2073600秒）！");
  row(
      "34560 minutes",
      [](Task& t) {
        t.duration = "34560";
        t.unit = 1;
      },
      "");
  row(
      "34561 minutes",
      [](Task& t) {
        t.duration = "34561";
        t.unit = 1;
      },
      "持续时间不能超过24天（34560分）！");
  row(
      "36000 minutes",
      [](Task& t) {
        t.duration = "36000";
        t.unit = 1;
      },
      "持续时间不能超过24天（34560分）！");
  row(
      "36000 seconds", [](Task& t) { t.duration = "36000"; }, "");
  row(
      "576 hours",
      [](Task& t) {
        t.duration = "576";
        t.unit = 2;
      },
      "");
  row(
      "577 hours",
      [](Task& t) {
        t.duration = "577";
        t.unit = 2;
      },
      "持续时间不能超过24天（576小时）！");
  row(
      "int max hours",
      [](Task& t) {
        t.duration = "2147483647";
        t.unit = 2;
      },
      "持续时间不能超过24天（576小时）！");

  row(
      "signature name without formula", [](Task& t) { t.md5Name = "sign"; },
      "MD5计算公式不得为空！");
  row(
      "formula box showing its hint",
      [](Task& t) {
        t.md5Name = "sign";
        t.md5Var = texts::kMd5Hint;
      },
      "MD5计算公式不得为空！");
  row(
      "formula without name is not checked", [](Task& t) { t.md5Var = "nope"; }, "");

  row(
      "fixed duplicate", [](Task& t) { t.common = "user===bob\r\nuser===al"; },
      "检测到变量 user 在 固定内容 中设置重复，请检查！");
  row(
      "first fixed name with a duplicate reported",
      [](Task& t) { t.common = "a===1\r\nb===2\r\nb===3\r\na===4"; },
      "检测到变量 a 在 固定内容 中设置重复，请检查！");
  row(
      "fixed and dyn1", [](Task& t) { t.dyn1 = "domain===a.com|||user===x"; },
      "检测到变量 user 在 固定内容 与 动态内容1 中设置重复，请检查！");
  row(
      "fixed and dyn2", [](Task& t) { t.dyn2 = "user===x"; },
      "检测到变量 user 在 固定内容 与 动态内容2 中设置重复，请检查！");
  row(
      "dyn1 and dyn2",
      [](Task& t) {
        t.dyn1 = "domain===a.com|||p===1";
        t.dyn2 = "p===2";
      },
      "检测到变量 p 在 动态内容1 与 动态内容2 中设置重复，请检查！");
  row(
      "empty names never duplicates", [](Task& t) { t.common = "===1\r\n===2\r\nuser===bob"; }, "");

  auto formula = [](const char* f) {
    return [f](Task& t) {
      t.md5Name = "sign";
      t.md5Var = f;
    };
  };
  row("formula {{{}}}", formula("user+{{{}}}"), "MD5公式变量 {{{}}} 不存在，请检查！");
  row("formula {{{ }}}", formula("{{{ }}}"), "MD5公式变量不得为空，请检查！");
  row("formula unknown term", formula("user + nope"), "MD5公式变量 nope 不存在，请检查！");
  row("formula unknown hashed term", formula("{{{ nope }}}"), "MD5公式变量 nope 不存在，请检查！");
  row("formula literal, hashed and plain terms", formula("\"key\" + {{{ user }}} + domain"), "");
  // An empty term is known only through an empty name, such as an empty time variable.
  row(
      "formula empty term",
      [](Task& t) {
        t.md5Name = "sign";
        t.md5Var = "user++domain";
        t.timeVar = "t";
      },
      "MD5公式变量  不存在，请检查！");
  row("formula empty term, time variable empty", formula("user++domain"), "");
  row(
      "formula naming the time variable",
      [](Task& t) {
        t.md5Name = "sign";
        t.md5Var = "t";
        t.timeVar = "t";
      },
      "");
  row("formula naming the signature", formula("sign"), "MD5公式变量 sign 不存在，请检查！");

  row(
      "domain var nowhere", [](Task& t) { t.domainVar = "dom"; },
      "没有在固定、动态内容中找到域名变量 dom ，请检查！");
  row(
      "domain var is the time variable",
      [](Task& t) {
        t.domainVar = "t";
        t.timeVar = "t";
      },
      "");

  row(
      "placeholders known under Get",
      [](Task& t) {
        t.api = kUrl + "?u={{{user}}}&s={{{sign}}}";
        t.md5Name = "sign";
        t.md5Var = "user";
      },
      "");
  row(
      "unknown placeholder", [](Task& t) { t.api = kUrl + "?u={{{user}}}&x={{{nope}}}"; },
      "API URL 接口变量 nope 不存在，请检查！");
  row(
      "placeholders not inspected under Post",
      [](Task& t) {
        t.api = kUrl + "?x={{{nope}}}";
        t.sendType = 1;
      },
      "");
  row(
      "api hint under Get", [](Task& t) { t.api = texts::kApiHint; },
      "API URL 接口变量 var 不存在，请检查！");

  row(
      "dyn1 first line ends in separator", [](Task& t) { t.dyn1 = "domain===a.com|||"; },
      "动态1变量  未赋值（缺少“===”符号），请检查！");
  row(
      "dyn1 later line ends in separator",
      [](Task& t) { t.dyn1 = "domain===a.com\r\ndomain===b.com|||"; },
      "动态1各行有未匹配变量，请检查！");
  row(
      "dyn1 later line one more",
      [](Task& t) { t.dyn1 = "domain===a.com\r\ndomain===b.com|||x===1"; },
      "动态1各行有未匹配变量，请检查！");
  row(
      "dyn1 other order",
      [](Task& t) { t.dyn1 = "domain===a.com|||x===1\r\nx===2|||domain===b.com"; },
      "动态1变量 x 与其他行不匹配，请检查！");
  row(
      "dyn1 name as written",
      [](Task& t) { t.dyn1 = "domain===a.com|||x===1\r\ndomain===b.com|||y ===2"; },
      "动态1变量 y  与其他行不匹配，请检查！");
  row(
      "dyn1 later piece unassigned",
      [](Task& t) { t.dyn1 = "domain===a.com|||x===1\r\ndomain===b.com|||x"; },
      "动态1变量 x 未赋值（缺少“===”符号），请检查！");
  row(
      "dyn1 blank lines and spaced names fine",
      [](Task& t) { t.dyn1 = "domain===a.com|||x===1\r\n\r\n   \r\n domain ===b.com||| x===2"; },
      "");
  row(
      "dyn2 unassigned", [](Task& t) { t.dyn2 = "p===1|||q"; },
      "动态2变量 q 未赋值（缺少“===”符号），请检查！");
  row(
      "dyn2 count differs", [](Task& t) { t.dyn2 = "p===1\r\np===2|||q===3"; },
      "动态2各行有未匹配变量，请检查！");
  row(
      "dyn2 name differs", [](Task& t) { t.dyn2 = "p===1|||q===1\r\np===2|||r===2"; },
      "动态2变量 r 与其他行不匹配，请检查！");
}

void TestValidation::messages() {
  QFETCH(Task, task);
  QFETCH(QString, message);
  TaskFixture f;
  apply(f, task);
  const bool ok = ValidateTask(f.w);
  QCOMPARE(f.prompter.messages(), message.isEmpty() ? QStringList() : QStringList{message});
  QCOMPARE(ok, message.isEmpty());
}

void TestValidation::tidiesEveryTextBox() {
  TaskFixture f;
  Task t;
  t.domainVar = "";  // fails at the first check: the tidying stays anyway
  apply(f, t);
  QMap<Ctl, QString> expected;
  for (const ControlInfo& c : allControls()) {
    if (c.kind == CtlKind::LineEdit) {
      f.view.setText(c.id, "  \r\n a\tb\r\nc \n ");
      expected[c.id] = " a\tbc ";  // trimmed first, line breaks deleted after
    } else if (c.kind == CtlKind::TextArea) {
      f.view.setText(c.id, "  \r\n a\tb\r\nc \n ");
      expected[c.id] = "\r\n a\tb\r\nc \n";
    }
  }
  f.view.setText(Ctl::domain_var, "  ");
  expected[Ctl::domain_var] = "";
  f.view.setText(Ctl::md5_var, " " + texts::kMd5Hint + " ");
  f.view.setHintColour(Ctl::md5_var, true);
  expected[Ctl::md5_var] = "";

  QVERIFY(!ValidateTask(f.w));
  QCOMPARE(f.prompter.messages(), QStringList{"域名变量名不得为空！"});
  for (auto it = expected.cbegin(); it != expected.cend(); ++it)
    QVERIFY2(f.view.text(it.key()) == it.value(), controlInfo(it.key()).name);
  QVERIFY(!f.view.hintColour(Ctl::md5_var));
}

void TestValidation::recordsDomainSource_data() {
  QTest::addColumn<QString>("common");
  QTest::addColumn<QString>("dyn1");
  QTest::addColumn<QString>("dyn2");
  QTest::addColumn<bool>("valid");
  QTest::addColumn<QString>("source");
  QTest::newRow("fixed") << "domain===a.com"
                         << ""
                         << "" << true << "common";
  QTest::newRow("fixed line without ===") << "domain"
                                          << ""
                                          << "" << true << "common";
  QTest::newRow("dyn1") << "k===v"
                        << "domain===a.com"
                        << "" << true << "dyn1";
  QTest::newRow("dyn2") << "k===v"
                        << ""
                        << "x===1|||domain===a.com" << true << "dyn2";
  QTest::newRow("later box overwrites, then refused as duplicate")
      << "domain===a.com"
      << ""
      << "domain===b.com" << false << "dyn2";
  QTest::newRow("nowhere keeps the old text") << "k===v"
                                              << "x===1"
                                              << "" << false << "previous";
}

void TestValidation::recordsDomainSource() {
  QFETCH(QString, common);
  QFETCH(QString, dyn1);
  QFETCH(QString, dyn2);
  TaskFixture f;
  Task t;
  t.common = common;
  t.dyn1 = dyn1;
  t.dyn2 = dyn2;
  apply(f, t);
  f.w.domain_source = "previous";
  QTEST(ValidateTask(f.w), "valid");
  QTEST(f.w.domain_source, "source");
}

void TestValidation::recordsUrlTemplate_data() {
  QTest::addColumn<QString>("url");
  QTest::addColumn<int>("sendType");
  QTest::addColumn<bool>("templateMode");
  QTest::addColumn<QStringList>("names");
  QTest::newRow("two in order") << kUrl + "?u={{{user}}}&s={{{sign}}}" << 0 << true
                                << QStringList{"user", "sign"};
  QTest::newRow("duplicates kept")
      << kUrl + "?a={{{user}}}&b={{{user}}}" << 0 << true << QStringList{"user", "user"};
  QTest::newRow("lazy match") << kUrl + "?a={{{user}}}}}" << 0 << true << QStringList{"user"};
  QTest::newRow("no blank inside") << kUrl + "?a={{{us er}}}" << 0 << false << QStringList();
  QTest::newRow("braces but no placeholder") << kUrl + "?a=}}}{{{" << 0 << false << QStringList();
  QTest::newRow("Post") << kUrl + "?u={{{user}}}" << 1 << false << QStringList();
  QTest::newRow("plain url") << kUrl << 0 << false << QStringList();
}

void TestValidation::recordsUrlTemplate() {
  QFETCH(QString, url);
  QFETCH(int, sendType);
  TaskFixture f;
  Task t;
  t.api = "  " + url;
  t.sendType = sendType;
  t.md5Name = "sign";
  t.md5Var = "user";
  apply(f, t);
  f.w.url_template_mode = true;  // every call that gets this far decides afresh
  QVERIFY2(ValidateTask(f.w), qPrintable(f.prompter.messages().join('|')));
  QCOMPARE(f.w.api_url, url);
  QTEST(f.w.url_template_mode, "templateMode");
  QStringList names;
  for (const UrlVar& v : f.w.url_vars) {
    names << v.name;
    QVERIFY(v.value.isEmpty());
  }
  if (f.w.url_template_mode) QTEST(names, "names");
}

QTEST_GUILESS_MAIN(TestValidation)
#include "tst_validation.moc"
