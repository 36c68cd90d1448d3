#pragma once
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "report/RunReport.h"
#include "whois/WatchContext.h"

// The task window's logic and state, apart from any widget: every flow reads
// and writes the window through `view` and asks through `prompter`. The widget
// window and the headless runner each own one of these.
class TaskWindow : public WatchContext {
  Q_OBJECT
 public:
  TaskWindow(TaskView& taskView, Prompter& taskPrompter, Settings& programSettings,
             SettingsDialogState& dialogState, QString iniPath);
  ~TaskWindow() override;

  SettingsDialogState& settingsDialog;
  const QString settingsPath;  // the INI file the settings dialog saves to
  RunReport report;            // the log file and the webhook

  QDateTime timed_start_at;
  // Timed start (Timer1) and the timer-driven run (Timer2 pacing, Timer3
  // displays, Timer4 catch-up).
  QTimer Timer1, Timer2, Timer3, Timer4;

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

  // Starts the tool at relativePath below the program's folder or the
  // settings file's; a message names both places when it cannot start.
  void startCompanionTool(const QString& relativePath);

  // The two starts; false when validation refused the task (nothing started).
  bool startNormalRegistration();
  bool startCatch();
  // "剩余时间：d天 h时 m分 s秒" for s seconds before the timed start.
  static QString countdownText(qint64 seconds);

 signals:
  // An entry was appended to regsend or regresult (without its line breaks).
  void logged(Ctl box, const QString& entry);

 private:
  void startPacing();
  void applyDesignTimeState();
};
