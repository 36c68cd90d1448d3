#pragma once
#include <QString>
#include <exception>
#include <memory>

#include "settings/Settings.h"

class MainWindow;
class Prompter;
class SettingsDialog;

// Start-up of the window program: settings, the hidden settings dialog, the
// task window; then the event loop until the window closes. Without a display
// it names the headless commands on stderr and returns 1.
int runWindow(int& argc, char** argv);

// The program's windows and settings, brought up in start-up order: the
// settings are loaded from `iniPath` and the settings dialog is created
// hidden (step 1), then the task window is created, initialised and shown
// (step 2). An error in a step is shown through `prompter` and start-up goes
// on with what it has. Closing the task window, once confirmed, ends the
// program; nothing is written.
class WindowProgram {
 public:
  WindowProgram(const QString& iniPath, Prompter& prompter);
  ~WindowProgram();
  WindowProgram(const WindowProgram&) = delete;
  WindowProgram& operator=(const WindowProgram&) = delete;

  Settings settings;
  SettingsDialogState dialogState;
  std::unique_ptr<SettingsDialog> dialog;  // null when it could not be created
  std::unique_ptr<MainWindow> window;      // null when it could not be created

 private:
  void end();
  Prompter& prompter_;
};

// The text of the start-up error box: description + " (" + number + ")".
QString startupErrorText(std::exception_ptr error);
// Title of that box: the program's title followed by " Error".
QString startupErrorTitle();

// Makes a font with Chinese glyphs the program's font, when one is installed.
void useChineseFont();
