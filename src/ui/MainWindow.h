#pragma once
#include <QPoint>
#include <QWidget>
#include <memory>

#include "settings/Settings.h"
#include "ui/WidgetView.h"

class DesktopNotifier;
class QDialog;
class QTableView;
class WatchTableModel;
class Prompter;
class TaskWindow;
class WindowPicture;

// The task window: a captionless window with every control of the task,
// moved by its title picture and version label, minimised and closed by two
// pictures. Its state and handlers live in TaskWindow; this class only shows
// them and forwards the user's actions.
class MainWindow : public QWidget {
  Q_OBJECT
 public:
  MainWindow(Prompter& prompter, Settings& settings, SettingsDialogState& dialogState,
             QString settingsPath, QWidget* parent = nullptr);
  ~MainWindow() override;

  TaskWindow& task() { return *task_; }
  WidgetView& view() { return view_; }

  // The settings button shows this dialog modally.
  void setSettingsDialog(QDialog* dialog);

 signals:
  // The close was confirmed; the window is going away.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  QWidget* buildTitleBand();
  QLayout* buildTaskArea();
  QLayout* buildRunArea();
  QWidget* buildLogArea();
  void showWatchTable();
  void connectHandlers();
  void beginMove(const QPoint& globalPos);
  bool filterHintBox(Ctl box, QEvent* event);

  WidgetView view_;
  WindowPicture* title_ = nullptr;
  QTableView* watchView_ = nullptr;
  WatchTableModel* watchModel_ = nullptr;
  WindowPicture* minimise_ = nullptr;
  WindowPicture* close_ = nullptr;
  bool dragging_ = false;
  QPoint dragOffset_;
  std::unique_ptr<TaskWindow> task_;
  std::unique_ptr<DesktopNotifier> notifier_;
};
