#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QtTest>

#include "codecs/Charsets.h"
#include "platform/Clock.h"
#include "support/TaskFixture.h"
#include "task/TaskFile.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {

const QString kLoadQuestion = QStringLiteral("载入信息将覆盖现有全部信息，确定吗？");

// A control's state as text: a box's text, a list's or group's index, "1" or
// "0" for a check box; also the two flags and a box's hint colour.
QString field(TaskFixture& f, const QString& name) {
  if (name == "utf8_send") return QString::number(f.w.utf8_send);
  if (name == "utf8_reply") return QString::number(f.w.utf8_reply);
  const bool hint = name.startsWith("hint:");
  const QString control = hint ? name.mid(5) : name;
  for (const ControlInfo& c : allControls()) {
    if (control != QLatin1String(c.name)) continue;
    if (hint) return f.view.hintColour(c.id) ? "1" : "0";
    switch (c.kind) {
      case CtlKind::List:
      case CtlKind::Options:
        return QString::number(f.view.index(c.id));
      case CtlKind::CheckBox:
        return f.view.checked(c.id) ? "1" : "0";
      default:
        return f.view.text(c.id);
    }
  }
  qFatal("no control %s", qPrintable(name));
}

// Sets fields written as "name=value" (the form field() reads).
void setFields(TaskFixture& f, const QStringList& fields) {
  for (const QString& entry : fields) {
    const qsizetype eq = entry.indexOf('=');
    const QString name = entry.left(eq), value = entry.mid(eq + 1);
    if (name == "utf8_send") {
      f.w.utf8_send = qint16(value.toInt());
      continue;
    }
    if (name == "utf8_reply") {
      f.w.utf8_reply = qint16(value.toInt());
      continue;
    }
    if (name.startsWith("hint:")) {
      for (const ControlInfo& c : allControls())
        if (name.mid(5) == QLatin1String(c.name)) f.view.setHintColour(c.id, value == "1");
      continue;
    }
    for (const ControlInfo& c : allControls()) {
      if (name != QLatin1String(c.name)) continue;
      switch (c.kind) {
        case CtlKind::List:
        case CtlKind::Options:
          f.view.setIndex(c.id, value.toInt());
          break;
        case CtlKind::CheckBox:
          f.view.setChecked(c.id, value == "1");
          break;
        default:
          f.view.setText(c.id, value);
      }
    }
  }
}

void verifyFields(TaskFixture& f, const QStringList& fields) {
  for (const QString& entry : fields) {
    const qsizetype eq = entry.indexOf('=');
    const QString name = entry.left(eq);
    QVERIFY2(field(f, name) == entry.mid(eq + 1),
             qPrintable(QStringLiteral("%1: got \"%2\"").arg(entry, field(f, name))));
  }
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every field a task file carries, none at its default.
const QStringList kFullTask = {
    QString::fromUtf8("domain_var=域名"),
    "chkbox_utf8=1",
    "chkbox_utf8_return=1",
    "txt_api_url=http://127.0.0.1:8080/r?x={{{a}}}",
    "reg_second=25",
    "send_time=2",
    "frequence=5",
    "time_out=7",
    "time_format=42",
    "send_interval=1",
    "radio_send_type=1",
    "radio_post_type=1",
    "radio_return_info=0",
    "radio_send_info=1",
    "time_var=t",
    "md5_name=sig",
    "md5_var=a + {{{b}}}",
    "year1=2026",
    "month1=2",
    "day1=28",
    "hour1=23",
    "minute1=59",
    "second1=58",
    QString::fromUtf8("common1=a===中文 €₩😀\r\n  b===  spaced\r\n\tc===tab"),
    "dyn1=d===x.com|||n===1\r\nd===y.com|||n===2",
    "dyn2=q===1"};

}  // namespace

class TestTaskFile : public QObject {
  Q_OBJECT
 private slots:
  void cleanup();
  void saveAndLoadBack();
  void exactLayout();
  void savePath_data();
  void savePath();
  void saveFailureKeepsOldFile_data();
  void saveFailureKeepsOldFile();
  void gbkFixtureLoads();
  void exampleTaskIsValid();
  void loadRules_data();
  void loadRules();
  void loadQuestionAndDialog_data();
  void loadQuestionAndDialog();
  void fileModes_data();
  void fileModes();
  void millionDomainListLoadsWhole();
  void oversizedFileRefused_data();
  void oversizedFileRefused();
  void checkBoxSetBeforeFlag_data();
  void checkBoxSetBeforeFlag();

 private:
  QString previousDir_ = QDir::currentPath();
};

void TestTaskFile::cleanup() {
  platform::setClockForTests({});
  QDir::setCurrent(previousDir_);
}

void TestTaskFile::saveAndLoadBack() {
  TaskFixture saved;
  setFields(saved, kFullTask);
  saved.w.utf8_send = saved.w.utf8_reply = -1;
  const QString path = saved.dir.filePath("task.txt");
  saved.prompter.saveNames << path;
  saved.w.save_info_Click();
  QCOMPARE(saved.prompter.messages(), QStringList{"保存完成！"});

  TaskFixture loaded;
  loaded.prompter.answers << true;
  loaded.prompter.openNames << path;
  loaded.w.load_info_Click();
  QCOMPARE(loaded.prompter.messages(), QStringList{"载入完成！"});
  for (const QString& entry : kFullTask) {
    const QString name = entry.section('=', 0, 0);
    QString expected = entry.mid(name.size() + 1);
    if (name == "common1" || name == "dyn1" || name == "dyn2") expected += "\r\n";
    QVERIFY2(field(loaded, name) == expected, qPrintable(name + ": " + field(loaded, name)));
  }
  QCOMPARE(loaded.w.utf8_send, qint16(-1));
  QCOMPARE(loaded.w.utf8_reply, qint16(-1));
  QVERIFY(!loaded.view.hintColour(Ctl::txt_api_url));
  QVERIFY(!loaded.view.hintColour(Ctl::md5_var));
}

void TestTaskFile::exactLayout() {
  TaskFixture f;  // defaults: both hints shown, dates and domain variable empty
  f.view.setIndex(Ctl::send_time, 2);
  f.view.setText(Ctl::common1, "c===1");
  f.view.setText(Ctl::dyn2, QString::fromUtf8("x===中"));
  const QString path = f.dir.filePath("layout.txt");
  QString error;
  QVERIFY2(writeTaskFile(f.w, path, &error), qPrintable(error));

  const QByteArray bytes = readAll(path);
  QVERIFY(bytes.contains("x===\xD6\xD0\r\n"));  // GBK bytes, no byte-order mark
  QVERIFY(bytes.startsWith("[config_begin]\r\n"));
  QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
  const QStringList expected = {"[config_begin]",
                                "use_utf8===0",
                                "use_utf8_return===0",
                                "api===" + texts::kApiHint,
                                "time===1",
                                "time_unit===2",
                                "frequence===0",
                                "time_out===4",
                                "time_format===0",
                                "frequence_unit===0",
                                "send_type===0",
                                "sent_mode===0",
                                "return===2",
                                "send===2",
                                "year===",
                                "month===",
                                "day===",
                                "hour===",
                                "minute===",
                                "second===",
                                "[config_end]",
                                "",
                                "[common_begin]",
                                "c===1",
                                "[common_end]",
                                "",
                                "[dyn1_begin]",
                                "",
                                "[dyn1_end]",
                                "",
                                "[dyn2_begin]",
                                QString::fromUtf8("x===中"),
                                "[dyn2_end]"};
  QCOMPARE(charsets::fromGb18030(bytes), expected.join("\r\n") + "\r\n");

  // Hours come back as hours.
  TaskFixture g;
  QVERIFY(readTaskFile(g.w, path, &error));
  QCOMPARE(g.view.index(Ctl::send_time), 2);
}

void TestTaskFile::savePath_data() {
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("written");  // empty: nothing written, nothing shown
  QTest::newRow("no dot: .txt appended") << "task"
                                         << "task.txt";
  QTest::newRow("own extension kept") << "task.dat"
                                      << "task.dat";
  QTest::newRow("dot in the folder name") << "sub.d/task"
                                          << "sub.d/task";
  QTest::newRow("cancelled") << ""
                             << "";
}

void TestTaskFile::savePath() {
  QFETCH(QString, chosen);
  QFETCH(QString, written);
  TaskFixture f;
  QVERIFY(QDir(f.dir.path()).mkdir("sub.d"));
  QDir::setCurrent(f.dir.path());  // the chosen names are relative and hold no dot of their own
  f.view.setText(Ctl::domain_var, "dom");
  f.prompter.saveNames << chosen;
  f.w.save_info_Click();
  if (written.isEmpty()) {
    QCOMPARE(f.prompter.shown.size(), 0);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList());
    return;
  }
  QCOMPARE(f.prompter.messages(), QStringList{"保存完成！"});
  QVERIFY(readAll(f.dir.filePath(written)).contains("domain_var===dom\r\n"));
}

void TestTaskFile::saveFailureKeepsOldFile_data() {
  QTest::addColumn<bool>("diskFull");
  QTest::newRow("write fails part way (file size limit)") << true;
  QTest::newRow("folder does not exist") << false;
}

void TestTaskFile::saveFailureKeepsOldFile() {
  QFETCH(bool, diskFull);
  TaskFixture f;
  setFields(f, kFullTask);
  const QString folder = diskFull ? f.dir.path() : f.dir.filePath("missing");
  const QString path = folder + "/task.txt";
  const QByteArray old = "[config_begin]\r\ndomain_var===old\r\n[config_end]\r\n";
  if (diskFull) QVERIFY(writeBytes(path, old));

  // A file size limit makes every write past 64 bytes fail, as a full disk
  // would; it holds for root too.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  if (diskFull) {
    rlimit small = saved;
    small.rlim_cur = 64;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
  }
  f.prompter.saveNames << path;
  f.w.save_info_Click();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  QCOMPARE(f.prompter.messages().size(), 1);
  const QString message = f.prompter.messages().first();
  QVERIFY2(message.startsWith("保存失败！") && message.size() > 6, qPrintable(message));
  if (diskFull) {
    QCOMPARE(readAll(path), old);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"task.txt"});
  } else {
    QVERIFY(!QFileInfo::exists(folder));
  }
}

void TestTaskFile::gbkFixtureLoads() {
  TaskFixture f;
  f.prompter.answers << true;
  f.prompter.openNames << QStringLiteral(ZEMBRIN_SOURCE_DIR "/tests/task/fixtures/gbk-task.txt");
  f.w.load_info_Click();
  QCOMPARE(f.prompter.messages(), QStringList{"载入完成！"});
  const QStringList expected = {
      QString::fromUtf8("domain_var=域名"),
      "chkbox_utf8=1",
      "utf8_send=-1",
      "chkbox_utf8_return=0",
      "utf8_reply=0",
      QString::fromUtf8("txt_api_url=http://127.0.0.1:8080/注册?u={{{用户}}}"),
      "reg_second=30",
      "send_time=1",
      "frequence=3",
      "time_out=5",
      "time_format=2",
      "send_interval=0",
      "radio_send_type=0",
      "radio_post_type=1",
      "radio_return_info=1",
      "radio_send_info=0",
      QString::fromUtf8("time_var=时间"),
      QString::fromUtf8("md5_name=签名"),
      QString::fromUtf8("md5_var=用户+{{{密码}}}+\"密钥€\""),
      "year1=2025",
      "month1=6",
      "day1=1",
      "hour1=8",
      "minute1=30",
      "second1=15",
      QString::fromUtf8("common1=用户===张三\r\n密码===口令€123\r\n"),
      QString::fromUtf8(
          "dyn1=域名===例子.中国|||备注===第一\r\n域名===测试.公司|||备注===第二\r\n"),
      "dyn2="};
  verifyFields(f, expected);

  // Saved again (GB18030) and loaded back, nothing changes.
  const QString path = f.dir.filePath("again.txt");
  QString error;
  QVERIFY2(writeTaskFile(f.w, path, &error), qPrintable(error));
  TaskFixture g;
  QVERIFY(readTaskFile(g.w, path, &error));
  verifyFields(g, expected);
}

void TestTaskFile::exampleTaskIsValid() {
  TaskFixture f;
  QString error;
  QVERIFY2(
      readTaskFile(f.w, QStringLiteral(ZEMBRIN_SOURCE_DIR "/examples/register-task.txt"), &error),
      qPrintable(error));
  QVERIFY2(ValidateTask(f.w), qPrintable(f.prompter.messages().join('|')));
  QCOMPARE(f.w.utf8_send, qint16(-1));
  BuildVariableTables(f.w);
  QCOMPARE(f.w.reg.Form1,
           QString("username=demo&apikey=0123456789abcdef&action=register&period=1"));
  QCOMPARE(f.w.domain_list, QStringList({"example-one.com", "example-two.net"}));
  QCOMPARE(f.w.md5_table.size(), 5);
  QCOMPARE(f.view.text(Ctl::time_format), texts::kTimeFormatUnix);
}

void TestTaskFile::loadRules_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QStringList>("expected");
  auto gb = [](const char* utf8) { return charsets::toGb18030(QString::fromUtf8(utf8)); };

  QTest::newRow("value cut at a second ===")
      << gb("[config_begin]\r\napi===a===b\r\n[config_end]\r\n")
      << QStringList{"txt_api_url=a", "hint:txt_api_url=0"};
  QTest::newRow("keys exact after trimming")
      << gb("[config_begin]\r\nDomain_var===x\r\n  domain_var  ===  y  \r\n[config_end]\r\n")
      << QStringList{"domain_var=y"};
  QTest::newRow("later section wins") << gb("[config_begin]\r\ndomain_var===a\r\n[config_end]\r\n["
                                            "config_begin]\r\ndomain_var===b\r\n"
                                            "time===5\r\n[config_end]\r\n")
                                      << QStringList{"domain_var=b", "reg_second=5"};
  QTest::newRow("markers anywhere in a line")
      << gb("## [config_begin] ##\r\ndomain_var===a\r\nx[config_end]x\r\ndomain_var===b\r\n"
            "--[common_begin]--\r\nc===1\r\n..[common_end]..\r\n")
      << QStringList{"domain_var=a", "common1=c===1\r\n"};
  QTest::newRow("unterminated section: last line not applied")
      << gb("[config_begin]\r\ndomain_var===a\r\ntime===5\r\n")
      << QStringList{"domain_var=a", "reg_second=9"};
  QTest::newRow("begin marker on the last line")
      << gb("x\r\n[config_begin]") << QStringList{"domain_var=keep", "common1="};
  QTest::newRow("empty dates from the clock")
      << gb("[config_begin]\r\nyear===\r\nmonth===\r\nday===\r\nhour===\r\nminute===\r\nsecond==="
            "\r\n"
            "[config_end]\r\n")
      << QStringList{"year1=2024", "month1=3", "day1=5", "hour1=7", "minute1=8", "second1=0"};
  QTest::newRow("indexes out of range ignored")
      << gb("[config_begin]\r\ntime_unit===3\r\nfrequence===89\r\ntime_out===48\r\ntime_format==="
            "43\r\n"
            "frequence_unit===-1\r\nsend_type===2\r\nsent_mode===x\r\nreturn===3\r\nsend===1.0\r\n"
            "[config_end]\r\n")
      << QStringList{"send_time=1",       "frequence=1",         "time_out=1",
                     "time_format=1",     "send_interval=1",     "radio_send_type=1",
                     "radio_post_type=1", "radio_return_info=1", "radio_send_info=1"};
  QTest::newRow("last indexes accepted")
      << gb("[config_begin]\r\ntime_unit===2\r\nfrequence===88\r\ntime_out===47\r\ntime_format==="
            "42\r\n"
            "frequence_unit===0\r\nsend_type===0\r\nsent_mode===0\r\nreturn===2\r\nsend===2\r\n"
            "[config_end]\r\n")
      << QStringList{"send_time=2",       "frequence=88",        "time_out=47",
                     "time_format=42",    "send_interval=0",     "radio_send_type=0",
                     "radio_post_type=0", "radio_return_info=2", "radio_send_info=2"};
  QTest::newRow("blank content lines dropped, spaces kept")
      << gb("[common_begin]\r\n  a===1\r\n   \r\n\r\n\tb===2\r\n[common_end]\r\n")
      << QStringList{"common1=  a===1\r\n\tb===2\r\n"};
  QTest::newRow("end marker inside a line ends the section")
      << gb("[common_begin]\r\na===1\r\nx[common_end]y\r\nb===2\r\n")
      << QStringList{"common1=a===1\r\n"};
  QTest::newRow("sections appended, the last read to the end of the file")
      << gb("[dyn1_begin]\r\nd===a\r\n[dyn1_end]\r\n[dyn1_begin]\r\nd===b")
      << QStringList{"dyn1=d===a\r\nd===b\r\n", "dyn2=", "common1="};
  QTest::newRow("no markers: content emptied, nothing else")
      << gb("just text\r\n")
      << QStringList{
             "common1=", "dyn1=", "dyn2=", "domain_var=keep", "reg_second=9", "hint:txt_api_url=1"};
  QTest::newRow("LF line ends")
      << gb("[config_begin]\ndomain_var===a\n[config_end]\n[dyn2_begin]\nq===1\n[dyn2_end]\n")
      << QStringList{"domain_var=a", "dyn2=q===1\r\n"};
  QTest::newRow("NUL bytes dropped")
      << QByteArray("[config_begin]\r\ndomain_var===a\0b\r\n[config_end]\r\n", 47)
      << QStringList{"domain_var=ab"};
  QByteArray noise;
  for (int i = 0; i < 4096; ++i) noise.append(char((i * 131 + i / 256) & 0xFF));
  QTest::newRow("not text") << noise << QStringList{"domain_var=keep", "common1="};
  QTest::newRow("check boxes set with their flags")
      << gb("[config_begin]\r\nuse_utf8===1\r\nuse_utf8_return===0\r\n[config_end]\r\n")
      << QStringList{"chkbox_utf8=1", "utf8_send=-1", "chkbox_utf8_return=0", "utf8_reply=0"};
  QTest::newRow("check box values other than 0 and 1 ignored")
      << gb("[config_begin]\r\nuse_utf8===2\r\nuse_utf8_return===yes\r\n[config_end]\r\n")
      << QStringList{"chkbox_utf8=0", "utf8_send=0", "chkbox_utf8_return=1", "utf8_reply=-1"};
  QTest::newRow("GBK and a code page 936 euro")
      << QByteArray("[config_begin]\r\ndomain_var===\xD3\xF2\xC3\xFB\x80\r\n[config_end]\r\n")
      << QStringList{QString::fromUtf8("domain_var=域名€")};
}

void TestTaskFile::loadRules() {
  QFETCH(QByteArray, file);
  QFETCH(QStringList, expected);
  platform::setClockForTests([] { return QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)); });
  TaskFixture f;
  setFields(
      f,
      {"domain_var=keep",   "txt_api_url=keep-api", "hint:txt_api_url=1",   "reg_second=9",
       "send_time=1",       "frequence=1",          "time_out=1",           "time_format=1",
       "send_interval=1",   "radio_send_type=1",    "radio_post_type=1",    "radio_return_info=1",
       "radio_send_info=1", "common1=old\r\n",      "dyn1=old\r\n",         "dyn2=old\r\n",
       "chkbox_utf8=0",     "utf8_send=0",          "chkbox_utf8_return=1", "utf8_reply=-1"});
  const QString path = f.dir.filePath("rules.txt");
  QVERIFY(writeBytes(path, file));
  QString error;
  QVERIFY2(readTaskFile(f.w, path, &error), qPrintable(error));
  verifyFields(f, expected);
}

void TestTaskFile::loadQuestionAndDialog_data() {
  QTest::addColumn<bool>("yes");
  QTest::addColumn<QString>("chosen");  // relative to the test folder; "" cancels
  QTest::addColumn<QStringList>("messages");
  QTest::addColumn<bool>("loaded");
  QTest::newRow("declined") << false << "task.txt" << QStringList() << false;
  QTest::newRow("dialog cancelled") << true << "" << QStringList() << false;
  QTest::newRow("missing file") << true << "nope.txt" << QStringList{"指定文件不存在！"} << false;
  QTest::newRow("a folder") << true << "folder.txt" << QStringList{"指定文件不存在！"} << false;
  QTest::newRow("loaded") << true << "task.txt" << QStringList{"载入完成！"} << true;
}

void TestTaskFile::loadQuestionAndDialog() {
  QFETCH(bool, yes);
  QFETCH(QString, chosen);
  TaskFixture f;
  QVERIFY(writeBytes(f.dir.filePath("task.txt"),
                     "[config_begin]\r\ndomain_var===new\r\n[config_end]\r\n"));
  QVERIFY(QDir(f.dir.path()).mkdir("folder.txt"));
  f.view.setText(Ctl::domain_var, "old");
  f.view.setText(Ctl::common1, "old\r\n");
  f.prompter.answers << yes;
  f.prompter.openNames << (chosen.isEmpty() ? QString() : f.dir.filePath(chosen));
  f.w.load_info_Click();
  QVERIFY(!f.prompter.shown.isEmpty());
  QVERIFY(f.prompter.shown.first().question);
  QCOMPARE(f.prompter.shown.first().text, kLoadQuestion);
  QTEST(f.prompter.messages(), "messages");
  QFETCH(bool, loaded);
  QCOMPARE(f.view.text(Ctl::domain_var), loaded ? QString("new") : QString("old"));
  QCOMPARE(f.view.text(Ctl::common1), loaded ? QString() : QString("old\r\n"));
}

void TestTaskFile::fileModes_data() {
  QTest::addColumn<int>("existing");  // -1: a new file
  QTest::addColumn<int>("expected");
  QTest::newRow("new file: owner only") << -1 << 0600;
  QTest::newRow("over a 0644 file: kept") << 0644 << 0644;
  QTest::newRow("over a 0660 file: kept") << 0660 << 0660;
}

// A task file holds the registrar's password and API key.
void TestTaskFile::fileModes() {
  QFETCH(int, existing);
  TaskFixture f;
  setFields(f, kFullTask);
  const QString path = f.dir.filePath("task.txt");
  if (existing >= 0) {
    QVERIFY(writeBytes(path, "old"));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(existing)) == 0);
  }
  f.prompter.saveNames << path;
  const mode_t oldMask = ::umask(022);
  f.w.save_info_Click();
  ::umask(oldMask);
  QCOMPARE(f.prompter.messages(), QStringList{"保存完成！"});
  QVERIFY(readAll(path).startsWith("[config_begin]\r\n"));
  struct stat st {};
  QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
  QTEST(int(st.st_mode & 07777), "expected");
}

// Drop lists of a million domains (23 MB) are real: every line loads, and so
// does a section after them.
void TestTaskFile::millionDomainListLoadsWhole() {
  TaskFixture f;
  const QString path = f.dir.filePath("drops.txt");
  const int count = 1000000;
  QByteArray bytes = "[config_begin]\r\ndomain_var===domain\r\n[config_end]\r\n[dyn1_begin]\r\n";
  bytes.reserve(24 * count);
  for (int i = 0; i < count; ++i)
    bytes += "domain===d" + QByteArray::number(1000000 + i) + ".com\r\n";
  bytes += "[dyn1_end]\r\n[dyn2_begin]\r\nq===after\r\n[dyn2_end]\r\n";
  QVERIFY(bytes.size() > 23 * 1000 * 1000);
  QVERIFY(writeBytes(path, bytes));
  f.prompter.answers << true;
  f.prompter.openNames << path;
  f.w.load_info_Click();
  QCOMPARE(f.prompter.messages(), QStringList{"载入完成！"});
  const QString dyn1 = f.view.text(Ctl::dyn1);
  QCOMPARE(dyn1.count(QStringLiteral("\r\n")), count);
  QVERIFY(dyn1.startsWith(QStringLiteral("domain===d1000000.com\r\n")));
  QVERIFY(dyn1.endsWith(QStringLiteral("\r\ndomain===d1999999.com\r\n")));
  QCOMPARE(f.view.text(Ctl::dyn2), QStringLiteral("q===after\r\n"));
}

void TestTaskFile::oversizedFileRefused_data() {
  QTest::addColumn<qint64>("size");
  QTest::addColumn<QString>("shown");
  QTest::newRow("one byte over 256 MB") << qint64(256) * 1024 * 1024 + 1 << "256.0";
  QTest::newRow("300 MB") << qint64(300) * 1024 * 1024 << "300.0";
}

// Beyond the limit nothing is read: a clear message naming the file and its
// size, and the window as it was.
void TestTaskFile::oversizedFileRefused() {
  QFETCH(qint64, size);
  QFETCH(QString, shown);
  TaskFixture f;
  const QString path = f.dir.filePath("huge.txt");
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[config_begin]\r\ndomain_var===big\r\n[config_end]\r\n");
    QVERIFY(file.resize(size));  // sparse: no disk space taken
  }
  f.view.setText(Ctl::domain_var, "old");
  f.view.setText(Ctl::dyn1, "d===old.com\r\n");
  f.prompter.answers << true;
  f.prompter.openNames << path;
  f.w.load_info_Click();
  QCOMPARE(
      f.prompter.messages(),
      QStringList{
          QStringLiteral("载入失败！任务文件 %1 大小为 %2 MB，超过 256 MB 的上限，未载入任何内容。")
              .arg(path, shown)});
  QCOMPARE(f.view.text(Ctl::domain_var), QString("old"));
  QCOMPARE(f.view.text(Ctl::dyn1), QString("d===old.com\r\n"));
}

namespace {
// Like the original window, setting a check box from code raises its click
// handler, which inverts the flag.
class ClickingView : public MemoryView {
 public:
  TaskWindow* w = nullptr;
  void setChecked(Ctl box, bool on) override {
    const bool changed = checked(box) != on;
    MemoryView::setChecked(box, on);
    if (!changed || !w) return;
    if (box == Ctl::chkbox_utf8) w->chkbox_utf8_Click();
    if (box == Ctl::chkbox_utf8_return) w->chkbox_utf8_return_Click();
  }
};
}  // namespace

void TestTaskFile::checkBoxSetBeforeFlag_data() {
  QTest::addColumn<bool>("boxBefore");
  QTest::addColumn<QString>("value");
  QTest::addColumn<bool>("boxAfter");
  QTest::newRow("off to on") << false << "1" << true;
  QTest::newRow("on to off") << true << "0" << false;
  QTest::newRow("on stays on") << true << "1" << true;
  QTest::newRow("off stays off") << false << "0" << false;
}

void TestTaskFile::checkBoxSetBeforeFlag() {
  QFETCH(bool, boxBefore);
  QFETCH(QString, value);
  QFETCH(bool, boxAfter);
  QTemporaryDir dir;
  ClickingView view;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  TaskWindow w(view, prompter, settings, dialogState, dir.filePath("zembrin.ini"));
  w.Form_Load();
  view.w = &w;
  view.setChecked(Ctl::chkbox_utf8, boxBefore);
  view.setChecked(Ctl::chkbox_utf8_return, boxBefore);
  QCOMPARE(w.utf8_send, qint16(boxBefore ? -1 : 0));

  const QString path = dir.filePath("t.txt");
  QVERIFY(writeBytes(path, QString("[config_begin]\r\nuse_utf8===%1\r\nuse_utf8_return===%1\r\n"
                                   "[config_end]\r\n")
                               .arg(value)
                               .toLatin1()));
  QString error;
  QVERIFY(readTaskFile(w, path, &error));
  QCOMPARE(view.checked(Ctl::chkbox_utf8), boxAfter);
  QCOMPARE(view.checked(Ctl::chkbox_utf8_return), boxAfter);
  QCOMPARE(w.utf8_send, qint16(boxAfter ? -1 : 0));
  QCOMPARE(w.utf8_reply, qint16(boxAfter ? -1 : 0));
}

QTEST_GUILESS_MAIN(TestTaskFile)
#include "tst_task_file.moc"
