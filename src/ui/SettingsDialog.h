#pragma once
#include <QDialog>

#include "settings/Settings.h"
class Prompter;

// The WHOIS settings dialog: created hidden at start-up from `state` (the
// loaded values), mirrors every edit into `state`, saves through saveSettings.
// Child widgets carry the control names as object names (whois_server,
// whois_time, whois_timeout, whois_time2, check_whois_0/_1, save_log_0/_1,
// whois_after_reg_0/_1, warm_connections, warm_interval, warm_url,
// time_server, timed_lead_ms, Command1, Command2, Image1).
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SettingsDialog(SettingsDialogState& state, Settings& settings, QString iniPath,
                 Prompter& prompter, QWidget* parent = nullptr);
  ~SettingsDialog() override;

 protected:
  // Shows whatever the state holds, also when it was filled after construction.
  void showEvent(QShowEvent* event) override;

 private:
  struct Impl;
  Impl* d;
};
