#pragma once
#include <QDialog>

#include "settings/Settings.h"
class Prompter;

// The WHOIS settings dialog: created hidden at start-up from `state` (the
// loaded values), mirrors every edit into `state`, saves through saveSettings.
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SettingsDialog(SettingsDialogState& state, Settings& settings, QString iniPath,
                 Prompter& prompter, QWidget* parent = nullptr);
  ~SettingsDialog() override;

 private:
  struct Impl;
  Impl* d;
};
