#include <QtTest>

#include "support/TaskFixture.h"
#include "task/Md5.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {
const QString kUrl = QStringLiteral("http://127.0.0.1:8080/reg");

QString rowText(const Md5Row& r) {
  return r.term + '|' + r.value + '|' + QString::number(r.filled) + '|' +
         QString::number(r.hash_first);
}
}  // namespace

class TestVariableTables : public QObject {
  Q_OBJECT
 private slots:
  void build_data();
  void build();
  void staleFormulaTableKeptWhenFormulaEmpty();
  void expandLineBreaks_data();
  void expandLineBreaks();
};

void TestVariableTables::build_data() {
  QTest::addColumn<QString>("common");
  QTest::addColumn<QString>("dyn1");
  QTest::addColumn<QString>("dyn2");
  QTest::addColumn<QString>("formula");
  QTest::addColumn<bool>("utf8");
  QTest::addColumn<QString>("url");
  QTest::addColumn<QString>("form1");
  QTest::addColumn<QStringList>("md5Rows");  // term|value|filled|hash_first
  QTest::addColumn<QStringList>("urlVars");  // name=value
  QTest::addColumn<QStringList>("domains");

  QTest::newRow("second === drops the rest")
      << "a===b===c\r\ndomain===x.com"
      << ""
      << ""
      << "" << false << kUrl << "a=b&domain=x.com" << QStringList() << QStringList()
      << QStringList{"x.com"};
  QTest::newRow("spaces around === kept")
      << "user === bob\r\ndomain===x.com"
      << ""
      << ""
      << "user" << false << kUrl << "user = bob&domain=x.com" << QStringList{"user||0|0"}
      << QStringList() << QStringList{"x.com"};
  QTest::newRow("blank lines and lines without ===")
      << "\r\n   \r\nnoassign\r\nk===v\r\n\r\ndomain===x.com"
      << ""
      << ""
      << "" << false << kUrl << "k=v&domain=x.com" << QStringList() << QStringList()
      << QStringList{"x.com"};
  QTest::newRow("three terms, none filled")
      << "domain===x.com"
      << ""
      << ""
      << "a + {{{ b }}} + \"k\"" << false << kUrl << "domain=x.com"
      << QStringList{"a||0|0", "b||0|1", "\"k\"||0|0"} << QStringList() << QStringList{"x.com"};
  QTest::newRow("terms filled, hashed one digested")
      << "a===1\r\nb===2\r\ndomain===x.com"
      << ""
      << ""
      << "a + {{{ b }}} + \"k\"" << false << kUrl << "a=1&b=2&domain=x.com"
      << QStringList{"a|1|1|0", "b|" + md5("2") + "|1|1", "\"k\"||0|0"} << QStringList()
      << QStringList{"x.com"};
  QTest::newRow("a term twice filled twice")
      << "a===v\r\ndomain===x.com"
      << ""
      << ""
      << "a+a" << false << kUrl << "a=v&domain=x.com" << QStringList{"a|v|1|0", "a|v|1|0"}
      << QStringList() << QStringList{"x.com"};
  QTest::newRow("fixed domain value with commas")
      << "domain===a.com,b.com"
      << ""
      << ""
      << "" << false << kUrl << "domain=a.com,b.com" << QStringList() << QStringList()
      << QStringList{"a.com", "b.com"};
  QTest::newRow("dyn1 lines in order, blank lines skipped")
      << "k===v"
      << "domain===a.com|||x===1\r\n\r\ndomain===b.com|||x===2\r\n   \r\ndomain===c.com|||x===3"
      << ""
      << "" << false << kUrl << "k=v" << QStringList() << QStringList()
      << QStringList{"a.com", "b.com", "c.com"};
  QTest::newRow("dyn2 value taken unchanged, empty value an empty entry")
      << "k===v"
      << ""
      << "x===1|||domain=== a.com\r\nx===2|||domain==="
      << "" << false << kUrl << "k=v" << QStringList() << QStringList()
      << QStringList{" a.com", ""};
  QTest::newRow("template mode: empty body, values to placeholders")
      << "user===bob\r\ndomain===a.com"
      << ""
      << ""
      << "" << true << kUrl + "?u={{{user}}}&d={{{domain}}}&u2={{{user}}}"
      << "" << QStringList() << QStringList{"user=bob", "domain=a.com", "user=bob"}
      << QStringList{"a.com"};
  QTest::newRow("template: spaced name fills no placeholder")
      << "user === bob\r\ndomain===a.com"
      << ""
      << ""
      << "user" << false << kUrl + "?u={{{user}}}"
      << "" << QStringList{"user||0|0"} << QStringList{"user="} << QStringList{"a.com"};
  QTest::newRow("line break token")
      << "v===x{\\n}y\r\ndomain===a.com"
      << ""
      << ""
      << "v" << false << kUrl << "v=x%0D%0Ay&domain=a.com" << QStringList{"v|x%0D%0Ay|1|0"}
      << QStringList() << QStringList{"a.com"};
  QTest::newRow("line break token, utf8: encoded body, raw formula value")
      << "v===x{\\n}y\r\ndomain===a.com"
      << ""
      << ""
      << "v" << true << kUrl << "v=x%250D%250Ay&domain=a.com" << QStringList{"v|x%0D%0Ay|1|0"}
      << QStringList() << QStringList{"a.com"};
  QTest::newRow("utf8: backslash t is a tab, Chinese as UTF-8")
      << QString::fromUtf8("v===a\\tb\r\nn===你\r\ndomain===a.com") << ""
      << ""
      << "" << true << kUrl << "v=a%09b&n=%E4%BD%A0&domain=a.com" << QStringList() << QStringList()
      << QStringList{"a.com"};
  QTest::newRow("template placeholders never encoded here")
      << "v===a b\r\ndomain===a.com"
      << ""
      << ""
      << "" << true << kUrl + "?v={{{v}}}"
      << "" << QStringList() << QStringList{"v=a b"} << QStringList{"a.com"};
}

void TestVariableTables::build() {
  QFETCH(QString, common);
  QFETCH(QString, dyn1);
  QFETCH(QString, dyn2);
  QFETCH(QString, formula);
  QFETCH(bool, utf8);
  QFETCH(QString, url);

  TaskFixture f;
  f.setSimpleTask(url);
  f.view.setText(Ctl::common1, common);
  f.view.setText(Ctl::dyn1, dyn1);
  f.view.setText(Ctl::dyn2, dyn2);
  f.view.setText(Ctl::md5_var, formula);
  f.view.setChecked(Ctl::chkbox_utf8, utf8);
  f.w.utf8_send = utf8 ? -1 : 0;
  QVERIFY2(ValidateTask(f.w), qPrintable(f.prompter.messages().join('|')));
  f.w.reg.Form = f.w.reg.Form1 = QStringLiteral("stale=1");
  f.w.domain_list = QStringList{"stale.com"};

  BuildVariableTables(f.w);

  QTEST(f.w.reg.Form1, "form1");
  QCOMPARE(f.w.reg.Form, f.w.reg.Form1);
  QStringList rows;
  for (const Md5Row& r : f.w.md5_table) rows << rowText(r);
  if (!formula.isEmpty()) QTEST(rows, "md5Rows");
  QStringList vars;
  for (const UrlVar& v : f.w.url_vars) vars << v.name + "=" + v.value;
  QFETCH(QStringList, urlVars);
  QCOMPARE(f.w.url_template_mode, !urlVars.isEmpty());
  if (f.w.url_template_mode) QCOMPARE(vars, urlVars);
  QTEST(f.w.domain_list, "domains");
}

void TestVariableTables::staleFormulaTableKeptWhenFormulaEmpty() {
  TaskFixture f;
  f.setSimpleTask(kUrl);
  f.view.setText(Ctl::md5_var, QStringLiteral("user"));
  QVERIFY(ValidateTask(f.w));
  BuildVariableTables(f.w);
  QCOMPARE(f.w.md5_table.size(), 1);
  QCOMPARE(f.w.md5_table[0].value, QStringLiteral("bob"));

  f.view.setText(Ctl::md5_var, QString());
  f.view.setText(Ctl::common1, QStringLiteral("user===eve"));
  QVERIFY(ValidateTask(f.w));
  BuildVariableTables(f.w);
  QCOMPARE(f.w.md5_table.size(), 1);
  QCOMPARE(f.w.md5_table[0].value, QStringLiteral("bob"));
  QCOMPARE(f.w.reg.Form1, QStringLiteral("user=eve"));
}

void TestVariableTables::expandLineBreaks_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("expanded");
  QTest::newRow("none") << "abc"
                        << "abc";
  QTest::newRow("two") << "{\\n}a{\\n}"
                       << "%0D%0Aa%0D%0A";
  QTest::newRow("case matters") << "{\\N}"
                                << "{\\N}";
  QTest::newRow("nested braces") << "{{\\n}}"
                                 << "{%0D%0A}";
}

void TestVariableTables::expandLineBreaks() {
  QFETCH(QString, text);
  QFETCH(QString, expanded);
  QCOMPARE(ExpandLineBreaks(text), expanded);
  installLineBreakTokens();  // installing again changes nothing
  QCOMPARE(ExpandLineBreaks(text), expanded);
}

QTEST_GUILESS_MAIN(TestVariableTables)
#include "tst_variable_tables.moc"
