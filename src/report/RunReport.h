#pragma once
#include <QObject>
#include <QSet>
#include <QString>

#include "platform/Controls.h"
#include "report/LogFile.h"
#include "report/Webhook.h"
#include "sending/RunEvents.h"
#include "settings/Settings.h"

// What a run leaves behind besides the window: the log file (save_log,
// log_file) and the webhook (notify_url, notify_body). Fed by the task
// window's log entries and its run events; reads the settings afresh at each
// use, so a save in the dialog applies to the next line and the next run.
class RunReport : public QObject {
  Q_OBJECT
 public:
  // settingsPath: the INI file; a relative log_file lies beside it.
  RunReport(const Settings& settings, const QString& settingsPath, RunEvents& events);
  ~RunReport() override;

  // A run starts: the log file is opened and the webhook's templates are
  // checked. Each problem is named once through events.notice; the run goes on.
  void runStarting();
  // An entry of the sent-data (regsend) or returned-data (regresult) box.
  void logEntry(Ctl box, const QString& entry);
  // Writes what the log file holds back (before the process ends).
  void flush();
  // Blocks in the event loop until every webhook asked for has been sent and
  // answered, or timeoutMs has passed; true when none is left.
  bool waitForNotifications(int timeoutMs);

  // The log file's path pattern from the settings.
  QString logFilePattern() const;

 private:
  void caught(const CatchReport& report);
  void runEnded(const RunSummary& summary);
  void notify(const webhook::Values& values);
  void name(const QString& problem);
  void applyLogSetting();

  const Settings& settings_;
  const QString settingsFolder_;
  RunEvents& events_;
  LogFile log_;
  Webhook webhook_;
  QSet<QString> named_;
};
