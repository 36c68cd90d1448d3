#pragma once
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/TaskView.h"
#include "codecs/PostForm.h"
#include "platform/Prompter.h"
#include "settings/Settings.h"
#include "task/TaskTables.h"

class RequestRing;   // sending/HttpExchange.h
class WhoisMonitor;  // whois/Monitor.h

// The task window's logic and state, apart from any widget: every flow reads
// and writes the window through `view` and asks through `prompter`. The widget
// window and the headless runner each own one of these.
class TaskWindow : public QObject {
  Q_OBJECT
 public:
  TaskWindow(TaskView& view, Prompter& prompter, Settings& settings,
             SettingsDialogState& settingsDialog, QString settingsPath);
  ~TaskWindow() override;

  TaskView& view;
  Prompter& prompter;
  Settings& settings;
  SettingsDialogState& settingsDialog;
  const QString settingsPath;  // the INI file the settings dialog saves to

  // --- shared task state ---------------------------------------------------
  // The run flag. Every write goes through setIntStart() so that waits blocked
  // in the event loop wake at once (runFlagChanged).
  qint16 int_start() const { return int_start_; }
  void setIntStart(qint16 value);

  qint16 timer_start = 0;
  QDateTime timed_start_at;
  int send_mode = 0;
  QDateTime time_base;
  QDateTime run_start;
  qint32 duration_s = 0;
  int interval_unit_s = 1;
  float interval_ms = 0;
  std::shared_ptr<RequestRing> request_pool;  // shared_ptr: deletable while incomplete here
  int pool_slot = 0;
  QString tick_state = texts::kTickIdle;
  QDateTime last_send_start;
  qint32 tick_send_count = 0;
  QStringList dyn1_lines, dyn2_lines;
  int dyn1_row = 0, dyn2_row = 0;
  qint32 whois_send_count = 0;
  qint16 utf8_send = 0;   // -1 true, 0 false
  qint16 utf8_reply = 0;  // -1 true, 0 false

  // the parsed task
  PostForm reg;
  QString api_url;
  QString request_url;
  bool url_template_mode = false;
  QList<UrlVar> url_vars;
  QList<Md5Row> md5_table;
  QString domain_source;
  QStringList domain_list;

  // WHOIS watching
  int whois_domain_index = 0;
  std::shared_ptr<WhoisMonitor> whois;

  QTimer Timer1, Timer2, Timer3, Timer4, Timer5, Timer6;

  // Set by the widget window to show the settings dialog modally.
  std::function<void()> showSettingsDialog;

  // --- handlers --------------------------------------------------------------
  void Form_Load();
  void ToggleTaskControls();
  bool Form_QueryUnload();  // true when the window may close

  void normalreg_Click();
  void regstop_Click();
  void regstart_Click();
  void time_start_Click();
  void time_end_Click();
  void Timer1_Timer();
  void Timer2_Timer();
  void Timer3_Timer();
  void Timer4_Timer();

  void removeHint(Ctl box);   // click or double click in a hint box
  void restoreHint(Ctl box);  // the box lost the focus
  void clear_info_Click();
  void chkbox_utf8_Click();
  void chkbox_utf8_return_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void save_info_Click();
  void load_info_Click();

  static QString hintOf(Ctl box);  // empty for boxes without a hint

  // The two starts; false when validation refused the task (nothing started).
  bool startNormalRegistration();
  bool startCatch();
  // reg_second times the unit of send_time, in seconds.
  qint32 durationFromWindow() const;
  // Milliseconds between requests for frequence per send_interval; -1000
  // when frequence is "0" (no limit).
  float intervalFromWindow() const;
  // "剩余时间：d天 h时 m分 s秒" for s seconds before the timed start.
  static QString countdownText(qint64 seconds);

 signals:
  void runFlagChanged();

 private:
  void applyDesignTimeState();
  void startCompanionTool(const QString& relativePath);
  qint16 int_start_ = 0;
};
