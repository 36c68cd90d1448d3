#pragma once
#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QSystemTrayIcon;
class RunEvents;

// Tells the desktop of each catch and of the end of each run: a freedesktop
// notification over D-Bus (org.freedesktop.Notifications), or without that
// service a tray message, or without a tray nothing. Shown from the event
// loop after the event, never in the way of a registration.
class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  DesktopNotifier(RunEvents& events, QIcon icon, QObject* parent = nullptr);
  ~DesktopNotifier() override;

  void notify(const QString& summary, const QString& body);

 private:
  void showInTray(const QString& summary, const QString& body);
  QIcon icon_;
  std::unique_ptr<QSystemTrayIcon> tray_;
};
