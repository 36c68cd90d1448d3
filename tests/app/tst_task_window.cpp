#include <QtTest>

#include "platform/Clock.h"
#include "support/TaskFixture.h"

namespace {
struct ControlSnapshot {
  bool enabled, readOnly;
  bool operator==(const ControlSnapshot&) const = default;
};

QList<ControlSnapshot> snapshot(const TaskView& v) {
  QList<ControlSnapshot> s;
  for (const ControlInfo& c : allControls()) s.append({v.enabled(c.id), v.readOnly(c.id)});
  return s;
}

bool onlyButtonEnabled(const TaskView& v, Ctl button) {
  for (const ControlInfo& c : allControls()) {
    if (c.kind == CtlKind::Button && v.enabled(c.id) != (c.id == button)) return false;
  }
  return true;
}

QStringList dateFields(const QDateTime& t) {
  return {QString::number(t.date().year()),   QString::number(t.date().month()),
          QString::number(t.date().day()),    QString::number(t.time().hour()),
          QString::number(t.time().minute()), QString::number(t.time().second())};
}

// An executable script at path that writes its working folder to marker.
bool installTool(const QString& path, const QString& marker) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile script(path);
  if (!script.open(QIODevice::WriteOnly)) return false;
  script.write("#!/bin/sh\npwd > '" + marker.toUtf8() + "'\n");
  script.close();
  return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void setDateFields(TaskView& v, const QStringList& f) {
  const Ctl boxes[] = {Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1};
  for (int i = 0; i < 6; ++i) v.setText(boxes[i], f.value(i));
}
}  // namespace

class TestTaskWindow : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { platform::setClockForTests({}); }

  void toggleLocksAndRestoresEveryControl() {
    TaskFixture f;
    const auto idle = snapshot(f.view);
    QVERIFY(!f.view.enabled(Ctl::regstop));
    QVERIFY(!f.view.enabled(Ctl::time_end));

    f.w.ToggleTaskControls();
    // Inverted, so the two buttons that were off come on and the logs become
    // writable until the caller fixes them.
    QVERIFY(f.view.enabled(Ctl::regstop));
    QVERIFY(f.view.enabled(Ctl::time_end));
    QVERIFY(!f.view.readOnly(Ctl::regsend));
    QVERIFY(!f.view.readOnly(Ctl::regresult));
    QVERIFY(f.view.readOnly(Ctl::txt_api_url));
    QVERIFY(!f.view.enabled(Ctl::frequence));
    QVERIFY(!f.view.enabled(Ctl::radio_send_type));
    QVERIFY(!f.view.enabled(Ctl::chkbox_utf8));
    f.view.setEnabled(Ctl::time_end, false);
    QVERIFY(onlyButtonEnabled(f.view, Ctl::regstop));  // the Running state

    f.view.setEnabled(Ctl::time_end, true);
    f.w.ToggleTaskControls();
    QCOMPARE(snapshot(f.view), idle);
  }

  void exitQuestion_data() {
    QTest::addColumn<int>("intStart");
    QTest::addColumn<int>("timerStart");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closes");
    QTest::newRow("idle closes silently") << 0 << 0 << false << false << true;
    QTest::newRow("run, yes") << 1 << 0 << true << true << true;
    QTest::newRow("run, no keeps the window") << 1 << 0 << false << true << false;
    QTest::newRow("timed start armed, no") << 0 << 1 << false << true << false;
    QTest::newRow("flag 2 is not a run") << 2 << 0 << false << false << true;
  }
  void exitQuestion() {
    QFETCH(int, intStart);
    QFETCH(int, timerStart);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(bool, closes);
    TaskFixture f;
    f.w.setIntStart(static_cast<qint16>(intStart));
    f.w.timer_start = static_cast<qint16>(timerStart);
    f.prompter.answers = {answer};
    QCOMPARE(f.w.Form_QueryUnload(), closes);
    QCOMPARE(f.prompter.shown.size(), asked ? 1 : 0);
    if (asked) {
      QCOMPARE(f.prompter.shown[0].text, QStringLiteral("抢注正在进行中，确认退出吗?"));
      QCOMPARE(f.prompter.shown[0].title, QStringLiteral("退出"));
      QCOMPARE(f.prompter.shown[0].icon, MessageIcon::Question);
    }
  }

  void clearAskedAndAnsweredBothWays() {
    TaskFixture f;
    f.setSimpleTask(QStringLiteral("http://127.0.0.1:1/r"));
    f.view.setText(Ctl::time_var, QStringLiteral("t"));
    f.view.setText(Ctl::year1, QStringLiteral("2030"));
    f.view.setIndex(Ctl::frequence, 7);
    f.view.setIndex(Ctl::time_out, 9);
    f.view.setIndex(Ctl::radio_send_type, 1);
    f.view.setIndex(Ctl::radio_post_type, 1);
    f.view.setIndex(Ctl::radio_send_info, 0);
    f.view.setChecked(Ctl::chkbox_utf8, true);
    f.w.chkbox_utf8_Click();
    f.view.setText(Ctl::regsend, QStringLiteral("log"));

    f.prompter.answers = {false};
    f.w.clear_info_Click();
    QCOMPARE(f.prompter.shown.last().text, QStringLiteral("确定清除吗？"));
    QCOMPARE(f.prompter.shown.last().icon, MessageIcon::None);
    QCOMPARE(f.view.text(Ctl::domain_var), QStringLiteral("domain"));
    QCOMPARE(f.view.index(Ctl::frequence), 7);

    f.prompter.answers = {true};
    f.w.clear_info_Click();
    for (Ctl c : {Ctl::domain_var, Ctl::txt_api_url, Ctl::reg_second, Ctl::time_var, Ctl::md5_name,
                  Ctl::md5_var, Ctl::common1, Ctl::dyn1, Ctl::dyn2, Ctl::year1})
      QVERIFY2(f.view.text(c).isEmpty(), controlInfo(c).name);
    QCOMPARE(f.view.index(Ctl::frequence), 0);
    QCOMPARE(f.view.index(Ctl::time_out), 4);
    QCOMPARE(f.view.index(Ctl::radio_post_type), 0);
    QCOMPARE(f.view.index(Ctl::radio_send_info), 2);
    // Left alone: the method, the UTF-8 box and its flag, the logs.
    QCOMPARE(f.view.index(Ctl::radio_send_type), 1);
    QVERIFY(f.view.checked(Ctl::chkbox_utf8));
    QCOMPARE(f.w.utf8_send, qint16(-1));
    QCOMPARE(f.view.text(Ctl::regsend), QStringLiteral("log"));
    // The hints come back only once the boxes lose the focus.
    f.w.restoreHint(Ctl::md5_var);
    QCOMPARE(f.view.text(Ctl::md5_var), texts::kMd5Hint);
  }

  void hintsRemovedByClickAndRestoredOnFocusLoss() {
    TaskFixture f;
    QCOMPARE(f.view.text(Ctl::txt_api_url), texts::kApiHint);
    QVERIFY(f.view.hintColour(Ctl::txt_api_url));
    f.w.removeHint(Ctl::txt_api_url);
    QCOMPARE(f.view.text(Ctl::txt_api_url), QString());
    QVERIFY(!f.view.hintColour(Ctl::txt_api_url));
    f.w.restoreHint(Ctl::txt_api_url);
    QCOMPARE(f.view.text(Ctl::txt_api_url), texts::kApiHint);
    QVERIFY(f.view.hintColour(Ctl::txt_api_url));

    f.view.setText(Ctl::md5_var, QStringLiteral("a+b"));
    f.view.setHintColour(Ctl::md5_var, false);
    f.w.removeHint(Ctl::md5_var);  // typed text is not touched
    QCOMPARE(f.view.text(Ctl::md5_var), QStringLiteral("a+b"));
    f.view.setText(Ctl::md5_var, QStringLiteral("  "));
    f.w.restoreHint(Ctl::md5_var);  // blanks are kept
    QCOMPARE(f.view.text(Ctl::md5_var), QStringLiteral("  "));

    f.w.ToggleTaskControls();  // locked during a run: the hint stays
    f.w.removeHint(Ctl::txt_api_url);
    QCOMPARE(f.view.text(Ctl::txt_api_url), texts::kApiHint);
  }

  void checkBoxesInvertTheirFlags() {
    TaskFixture f;
    f.w.chkbox_utf8_Click();
    QCOMPARE(f.w.utf8_send, qint16(-1));
    f.w.chkbox_utf8_Click();
    QCOMPARE(f.w.utf8_send, qint16(0));
    f.w.chkbox_utf8_return_Click();
    QCOMPARE(f.w.utf8_reply, qint16(-1));
  }

  // The tools live below the program's folder or below the settings file's
  // (the user's folder for an installed program); on this platform they may
  // be installed without the ".exe" suffix.
  void companionToolMissingNamesBothPlaces() {
    TaskFixture f;
    f.w.Command2_Click();
    QCOMPARE(f.prompter.messages(),
             QStringList{QStringLiteral("无法启动程序：") + QCoreApplication::applicationDirPath() +
                         QStringLiteral("/sumvik/sumvik.exe 或 ") + f.dir.path() +
                         QStringLiteral("/sumvik/sumvik.exe，请检查该程序是否存在！")});
  }

  void companionToolStartsDetachedInItsFolder_data() {
    QTest::addColumn<bool>("besideSettings");
    QTest::newRow("below the program's folder") << false;
    QTest::newRow("below the settings file's folder") << true;
  }
  void companionToolStartsDetachedInItsFolder() {
    QFETCH(bool, besideSettings);
    TaskFixture f;
    const QString base = besideSettings ? f.dir.path() : QCoreApplication::applicationDirPath();
    QDir(base).mkpath(QStringLiteral("Tembrel"));
    const QString tool = base + QStringLiteral("/Tembrel/Tembrel");
    QTemporaryDir out;
    const QString marker = out.filePath(QStringLiteral("started"));
    QVERIFY(installTool(tool, marker));
    f.w.Command1_Click();
    QTRY_VERIFY(QFile::exists(marker));
    QCOMPARE(f.prompter.messages(), QStringList());
    QTRY_VERIFY(QFileInfo(marker).size() > 0);
    QFile started(marker);
    QVERIFY(started.open(QIODevice::ReadOnly));
    QCOMPARE(started.readAll().trimmed(), QFileInfo(tool).absolutePath().toUtf8());
    QDir(base + QStringLiteral("/Tembrel")).removeRecursively();
  }

  // Only a name that ends in ".exe" is also tried without it; nothing else
  // is cut short.
  void companionToolSuffix_data() {
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<bool>("starts");
    QTest::newRow("no suffix: not cut to another name") << "/tool/Tembrel"
                                                        << "/tool/Tem" << false;
    QTest::newRow("no suffix: started as named") << "/tool/Tembrel"
                                                 << "/tool/Tembrel" << true;
    QTest::newRow(".EXE dropped") << "/tool/Tembrel.EXE"
                                  << "/tool/Tembrel" << true;
  }
  void companionToolSuffix() {
    QFETCH(QString, requested);
    QFETCH(QString, installed);
    QFETCH(bool, starts);
    TaskFixture f;
    QTemporaryDir out;
    const QString marker = out.filePath(QStringLiteral("started"));
    QVERIFY(installTool(f.dir.path() + installed, marker));
    f.w.startCompanionTool(requested);
    if (starts) {
      QCOMPARE(f.prompter.messages(), QStringList());
      QTRY_VERIFY(QFileInfo(marker).size() > 0);
      return;
    }
    QCOMPARE(f.prompter.messages(),
             QStringList{QStringLiteral("无法启动程序：") + QCoreApplication::applicationDirPath() +
                         requested + QStringLiteral(" 或 ") + f.dir.path() + requested +
                         QStringLiteral("，请检查该程序是否存在！")});
    QVERIFY(!QFileInfo::exists(marker));
  }

  void countdownText_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("90 s") << qint64(90) << QStringLiteral("剩余时间：0天 0时 1分 30秒");
    QTest::newRow("1 h 5 min 30 s") << qint64(3930) << QStringLiteral("剩余时间：0天 1时 5分 30秒");
    QTest::newRow("due") << qint64(0) << QStringLiteral("剩余时间：0天 0时 0分 0秒");
    QTest::newRow("days") << qint64(2 * 86400 + 3661)
                          << QStringLiteral("剩余时间：2天 1时 1分 1秒");
    QTest::newRow("one second late")
        << qint64(-1) << QStringLiteral("剩余时间：-1天 -1时 -1分 -1秒");
  }
  void countdownText() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(TaskWindow::countdownText(seconds), text);
  }

  void timedStartRefusals_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("message");
    const QDateTime now = platform::now();
    QTest::newRow("all empty") << QStringList() << QStringLiteral("日期时间有误，请检查！");
    QTest::newRow("no such day") << QStringList{"2031", "2", "30", "1", "0", "0"}
                                 << QStringLiteral("日期时间有误，请检查！");
    QTest::newRow("hour 24") << QStringList{"2031", "1", "1", "24", "0", "0"}
                             << QStringLiteral("日期时间有误，请检查！");
    const QString badDate = QStringLiteral("日期时间有误，请检查！");
    QTest::newRow("hour beyond 32 bits")
        << QStringList{"2031", "1", "1", "99999999999", "0", "0"} << badDate;
    QTest::newRow("minute wrapping to 0 in 32 bits")
        << QStringList{"2031", "1", "1", "0", "4294967296", "0"} << badDate;
    QTest::newRow("second 60") << QStringList{"2031", "1", "1", "0", "0", "60"} << badDate;
    QTest::newRow("year 0") << QStringList{"000", "1", "1", "0", "0", "0"} << badDate;
    QTest::newRow("signed field") << QStringList{"2031", "+1", "1", "0", "0", "0"} << badDate;
    QTest::newRow("full-width digits")
        << QStringList{QStringLiteral("２０３１"), "1", "1", "0", "0", "0"} << badDate;
    QTest::newRow("same second as now")
        << dateFields(now) << QStringLiteral("定时时间必须大于当前时间！");
    QTest::newRow("past") << dateFields(now.addDays(-1))
                          << QStringLiteral("定时时间必须大于当前时间！");
  }
  void timedStartRefusals() {
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    TaskFixture f;
    const QDateTime frozen = platform::now();
    platform::setClockForTests([frozen] { return frozen; });
    f.setSimpleTask(QStringLiteral("http://127.0.0.1:1/r"));
    setDateFields(f.view, fields);
    f.w.time_start_Click();
    QCOMPARE(f.prompter.messages(), QStringList{message});
    QVERIFY(!f.w.Timer1.isActive());
    QCOMPARE(f.w.timer_start, qint16(0));
    QVERIFY(f.view.enabled(Ctl::regstart));
  }

  // The one reading of the timed start's date and time, for the window and --at.
  void parseLocalDateTime_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read");  // yyyy-MM-dd HH:mm:ss; empty: not a date and time
    QTest::newRow("leading zeros") << "2031-01-02 03:04:05"
                                   << "2031-01-02 03:04:05";
    QTest::newRow("no leading zeros") << "2031-1-2 3:4:5"
                                      << "2031-01-02 03:04:05";
    QTest::newRow("many leading zeros") << "0002031-0001-02 00000000003:4:5"
                                        << "2031-01-02 03:04:05";
    QTest::newRow("blanks around the separators") << " 2031 - 1 - 2   3 : 4 : 5 "
                                                  << "2031-01-02 03:04:05";
    QTest::newRow("tab between date and time") << "2031-1-2\t3:4:5"
                                               << "2031-01-02 03:04:05";
    QTest::newRow("two-digit year, 20xx") << "29-1-2 3:4:5"
                                          << "2029-01-02 03:04:05";
    QTest::newRow("two-digit year, 19xx") << "30-1-2 3:4:5"
                                          << "1930-01-02 03:04:05";
    QTest::newRow("leap day") << "2032-2-29 0:0:0"
                              << "2032-02-29 00:00:00";
    QTest::newRow("last second of a day") << "2031-12-31 23:59:59"
                                          << "2031-12-31 23:59:59";
    QTest::newRow("no leap day") << "2031-2-29 0:0:0"
                                 << "";
    QTest::newRow("month 13") << "2031-13-1 0:0:0"
                              << "";
    QTest::newRow("hour beyond 32 bits") << "2026-12-25 99999999999:00:00"
                                         << "";
    QTest::newRow("second beyond 64 bits") << "2026-12-25 0:0:99999999999999999999999"
                                           << "";
    QTest::newRow("minute 60") << "2031-1-2 3:60:5"
                               << "";
    QTest::newRow("no blank between date and time") << "2031-1-2T3:4:5"
                                                    << "";
    QTest::newRow("slashes") << "2031/1/2 3:4:5"
                             << "";
    QTest::newRow("no seconds") << "2031-1-2 3:4"
                                << "";
    QTest::newRow("empty fields") << "-- ::"
                                  << "";
    QTest::newRow("negative year") << "-2031-1-2 3:4:5"
                                   << "";
  }
  void parseLocalDateTime() {
    QFETCH(QString, text);
    QFETCH(QString, read);
    const QDateTime t = platform::parseLocalDateTime(text);
    QCOMPARE(t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString(), read);
  }

  // What the load replaced by defaults is said once, beside the count-down;
  // the status line keeps its idle text.
  void settingsProblemsSaidAtStartUp() {
    TaskFixture f;
    QStringList notices;
    QObject::connect(&f.w.events, &RunEvents::notice, [&](const QString& t) { notices << t; });
    f.settings.problems = {QStringLiteral("甲"), QStringLiteral("乙")};
    f.w.Form_Load();
    QCOMPARE(notices, QStringList{QStringLiteral("甲；乙")});
    QCOMPARE(f.view.text(Ctl::Label_notice), QStringLiteral("甲；乙"));
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：停止"));
  }

  void timedStartArmsCountsDownAndCancels() {
    TaskFixture f;
    const QDateTime start = platform::now();
    platform::setClockForTests([start] { return start; });
    f.setSimpleTask(QStringLiteral("http://127.0.0.1:1/r"));
    const auto idle = snapshot(f.view);
    // Two-digit years and leading zeros read as the platform reads them.
    const QDateTime at = start.addSecs(90);
    QStringList fields = dateFields(at);
    fields[1] = QStringLiteral("0") + fields[1];
    setDateFields(f.view, fields);

    f.w.time_start_Click();
    QVERIFY(f.prompter.messages().isEmpty());
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间：0天 0时 1分 30秒"));
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：定时等待中......"));
    QCOMPARE(f.w.timer_start, qint16(1));
    QVERIFY(f.w.Timer1.isActive());
    QVERIFY(onlyButtonEnabled(f.view, Ctl::time_end));
    QVERIFY(f.view.readOnly(Ctl::dyn1));

    platform::setClockForTests([start] { return start.addSecs(25); });
    f.w.Timer1_Timer();
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间：0天 0时 1分 5秒"));

    f.w.time_end_Click();
    QVERIFY(!f.w.Timer1.isActive());
    QCOMPARE(f.w.timer_start, qint16(0));
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间："));
    QCOMPARE(f.view.text(Ctl::Label1), QStringLiteral("状态：定时停止，任务结束"));
    QCOMPARE(snapshot(f.view), idle);
  }

  void timedStartDueWithRefusedTaskLeavesWindowIdle() {
    TaskFixture f;
    const QDateTime start = platform::now();
    platform::setClockForTests([start] { return start; });
    f.setSimpleTask(QStringLiteral("http://127.0.0.1:1/r"));
    const auto idle = snapshot(f.view);
    setDateFields(f.view, dateFields(start.addSecs(5)));
    f.w.time_start_Click();
    QCOMPARE(f.w.timer_start, qint16(1));

    f.view.setText(Ctl::domain_var, QString());  // no longer a valid task when due
    platform::setClockForTests([start] { return start.addSecs(5); });
    f.w.Timer1_Timer();
    QCOMPARE(f.view.text(Ctl::Label_timer), QStringLiteral("剩余时间：0天 0时 0分 0秒"));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("域名变量名不得为空！")});
    QVERIFY(!f.w.Timer1.isActive());
    QCOMPARE(snapshot(f.view), idle);
    // Nothing is pending any more, so closing asks nothing.
    QCOMPARE(f.w.timer_start, qint16(0));
    QVERIFY(f.w.Form_QueryUnload());
  }
};

QTEST_GUILESS_MAIN(TestTaskWindow)
#include "tst_task_window.moc"
