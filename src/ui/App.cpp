#include "ui/App.h"

#include <QApplication>
#include <QFontDatabase>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>

#include "app/TaskWindow.h"
#include "settings/SettingsStore.h"
#include "ui/MainWindow.h"
#include "ui/QtPrompter.h"
#include "ui/SettingsDialog.h"

QString startupErrorText(std::exception_ptr error) {
  // Numbers follow the classic run-time error numbers where one fits:
  // 7 out of memory, 5 an invalid call or argument; a system error keeps
  // its own code.
  try {
    std::rethrow_exception(error);
  } catch (const std::system_error& e) {
    return QString::fromLocal8Bit(e.what()) + QStringLiteral(" (%1)").arg(e.code().value());
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Out of memory (7)");
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what()) + QStringLiteral(" (5)");
  } catch (...) {
    return QStringLiteral("Unknown error (5)");
  }
}

QString startupErrorTitle() { return QtPrompter::programTitle() + QStringLiteral(" Error"); }

void useChineseFont() {
  const QStringList installed = QFontDatabase::families();
  for (const char* family : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                             "WenQuanYi Zen Hei", "Droid Sans Fallback"}) {
    if (installed.contains(QLatin1String(family))) {
      QFont f = QApplication::font();
      f.setFamily(QLatin1String(family));
      QApplication::setFont(f);
      return;
    }
  }
}

WindowProgram::WindowProgram(const QString& iniPath, Prompter& prompter) : prompter_(prompter) {
  auto report = [&] {
    prompter_.showMessage(startupErrorText(std::current_exception()), startupErrorTitle(),
                          MessageIcon::Critical);
  };

  // Step 1: the settings, and the settings dialog holding them, hidden.
  try {
    loadSettings(iniPath, settings, dialogState);
  } catch (...) {
    report();
    settings = Settings();  // a half-done load is no state to run with
    dialogState = SettingsDialogState();
  }
  try {
    dialog = std::make_unique<SettingsDialog>(dialogState, settings, iniPath, prompter_);
  } catch (...) {
    report();
  }

  // Step 2: the task window, initialised before it is shown.
  try {
    window = std::make_unique<MainWindow>(prompter_, settings, dialogState, iniPath);
  } catch (...) {
    report();
    return;
  }
  window->setSettingsDialog(dialog.get());
  QObject::connect(window.get(), &MainWindow::closed, window.get(), [this] { end(); });
  try {
    window->task().Form_Load();
  } catch (...) {
    report();
  }
  window->show();
}

WindowProgram::~WindowProgram() = default;

// Every window goes with the task window. A close confirmed while a run is
// waiting inside it (or a dialog is open) ends the process here and now: the
// run is abandoned, as it would be by leaving the event loop, and must not
// carry on without a window.
void WindowProgram::end() {
  if (dialog) dialog->hide();
  if (window) window->task().report.flush();
  const int depth = QThread::currentThread()->loopLevel();
  if (depth > 1) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
  if (depth == 1) QCoreApplication::exit(0);
}

namespace {

// Shown instead of Qt's abort when the window cannot open: on a server the
// headless commands are what the user wants.
const char* const kNoDisplay =
    "zembrin: no usable display for the task window.\n"
    "Without a window, run a task file:\n"
    "  zembrin catch TASKFILE [--settings INI] [--at \"YYYY-MM-DD HH:MM:SS\"]\n"
    "  zembrin register TASKFILE [--settings INI]\n"
    "See zembrin --help.\n";

QtMessageHandler qtHandler = nullptr;

// Active while the platform plugin loads: a display that is named but cannot
// be reached (a stale DISPLAY over ssh) ends in qFatal, and so in abort().
void platformFailureHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
  if (type != QtFatalMsg) return qtHandler(type, context, msg);
  std::fputs(kNoDisplay, stderr);
  std::fflush(nullptr);
  std::_Exit(1);
}

// A display is named, or a Qt platform is chosen (QT_QPA_PLATFORM, e.g.
// offscreen).
bool displayNamed() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int runWindow(int& argc, char** argv) {
  if (!displayNamed()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  qtHandler = qInstallMessageHandler(platformFailureHandler);
  QApplication app(argc, argv);
  qInstallMessageHandler(qtHandler);
  QApplication::setApplicationName(QtPrompter::programTitle());
  QApplication::setQuitOnLastWindowClosed(false);  // the task window's close decides
  useChineseFont();

  QtPrompter prompter;
  WindowProgram program(defaultSettingsPath(), prompter);
  if (!program.window) return 1;
  prompter.setParentWidget(program.window.get());
  return app.exec();
}
