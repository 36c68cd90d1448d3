#pragma once
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/Sntp.h"
#include "report/RunReport.h"
#include "sending/Pacing.h"
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
  // True when the window may close. endNow ends the process the moment the
  // user answers Yes, should a run that started inside the question hold the
  // answer back.
  bool Form_QueryUnload(const std::function<void()>& endNow = {});

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
  // "时钟偏差：+1.500 秒": the time server's clock minus ours.
  static QString clockOffsetText(qint64 offsetUs);

 signals:
  // An entry was appended to regsend or regresult (without its line breaks).
  void logged(Ctl box, const QString& entry);

 private:
  void startPacing();
  void applyDesignTimeState();
  // The catch start in two halves: what does not depend on the moment it
  // starts (after validation), and the rest. A timed start runs the first
  // half ahead of its due moment.
  void prepareCatch();
  void runCatch();

  // The timed start between arming and its due moment (RunFlows.cpp).
  // When its catch begins, on the local wall clock (microseconds since the
  // epoch): the set second on the corrected clock, timed_lead_ms earlier.
  qint64 dueMomentUs() const;
  void armTimedStart();
  void disarmTimedStart();
  void stopTimedStartClocks();
  void prepareWhenNear();
  void aimDueAlarm();
  void onDueAlarm();
  void timedStartDue();
  void measureClock();
  QDateTime correctedNow() const;

  platform::SntpClient sntp_;
  QTimer clockTimer_;  // measures the clock again while armed
  PreciseAlarm dueAlarm_{PreciseAlarm::Clock::Wall};
  qint64 clock_offset_us_ = 0;  // the time server's clock minus ours; 0 without one
  bool clockReported_ = false;  // this arming has said how the clock stands
  bool catchPrepared_ = false;
};
