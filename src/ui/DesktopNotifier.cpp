#include "ui/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSystemTrayIcon>

#include "platform/Log.h"
#include "report/ReportText.h"
#include "sending/RunEvents.h"

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kTrayMessageMs = 10000;
}  // namespace

DesktopNotifier::DesktopNotifier(RunEvents& events, QIcon icon, QObject* parent)
    : QObject(parent), icon_(std::move(icon)) {
  connect(&events, &RunEvents::caught, this, [this](const CatchReport& r) {
    const QString summary = QStringLiteral("域名 %1 已删除，已发送注册").arg(r.domain);
    const QString body = QStringLiteral("返回信息：") + report::replyStart(r.reply, 200);
    QMetaObject::invokeMethod(
        this, [this, summary, body] { notify(summary, body); }, Qt::QueuedConnection);
  });
  connect(&events, &RunEvents::runEnded, this, [this](const RunSummary& s) {
    const QString body = QStringLiteral("发送表单 %1 个，返回 %2 个，抢注 %3 个域名")
                             .arg(s.sent)
                             .arg(s.replies)
                             .arg(s.catches);
    QMetaObject::invokeMethod(
        this, [this, body] { notify(QStringLiteral("抢注任务结束"), body); }, Qt::QueuedConnection);
  });
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::notify(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    showInTray(summary, body);
    return;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
  call << QStringLiteral("Zembrin") << 0u << QString() << summary << body << QStringList()
       << QVariantMap() << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
    watcher->deleteLater();
    if (!watcher->isError()) return;
    qCInfo(lcRun).noquote() << "desktop notification over D-Bus failed:"
                            << watcher->error().message();
    showInTray(summary, body);
  });
}

void DesktopNotifier::showInTray(const QString& summary, const QString& body) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  if (!tray_) tray_ = std::make_unique<QSystemTrayIcon>(icon_);
  tray_->show();
  tray_->showMessage(summary, body, QSystemTrayIcon::Information, kTrayMessageMs);
}
