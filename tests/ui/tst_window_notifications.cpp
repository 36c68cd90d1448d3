#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "app/TaskWindow.h"
#include "support/ScriptedPrompter.h"
#include "ui/MainWindow.h"

namespace {

// A desktop's notification service, as far as Notify goes.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Shown {
    QString app, summary, body;
  };
  QList<Shown> shown;

 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    shown.append({app, summary, body});
    return uint(shown.size());
  }
};

}  // namespace

// A session bus of the test's own (dbus-daemon), with the notification
// service on a connection apart from the window's, so every call crosses
// the bus.
class TestWindowNotifications : public QObject {
  Q_OBJECT
  QProcess daemon_;
  QString address_;

 private slots:
  void initTestCase() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--print-address"),
                   QStringLiteral("--nofork")});
    QVERIFY2(daemon_.waitForStarted(), "dbus-daemon is not installed (scripts/setup.sh lists it)");
    QTRY_VERIFY(daemon_.canReadLine());
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());
    // Before the window's first use of the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
  }
  void cleanupTestCase() {
    daemon_.terminate();
    daemon_.waitForFinished();
  }

  void catchAndRunEndReachTheDesktop() {
    QDBusConnection service =
        QDBusConnection::connectToBus(address_, QStringLiteral("fake-notifications"));
    QVERIFY(service.isConnected());
    FakeNotifications fake;
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings settings;
    SettingsDialogState dialogState;
    MainWindow window(prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini")));
    CatchReport r;
    r.domain = QStringLiteral("a.com");
    r.reply = QStringLiteral("注册成功\r\n<detail/>");
    emit window.task().events.caught(r);
    QCOMPARE(fake.shown.size(), 0);  // from the event loop, after the catch's own work
    RunSummary s;
    s.sent = 3;
    s.replies = 2;
    s.catches = 1;
    emit window.task().events.runEnded(s);

    QTRY_COMPARE(fake.shown.size(), 2);
    QCOMPARE(fake.shown[0].app, QStringLiteral("Zembrin"));
    QCOMPARE(fake.shown[0].summary, QStringLiteral("域名 a.com 已删除，已发送注册"));
    QCOMPARE(fake.shown[0].body, QStringLiteral("返回信息：注册成功"));
    QCOMPARE(fake.shown[1].summary, QStringLiteral("抢注任务结束"));
    QCOMPARE(fake.shown[1].body, QStringLiteral("发送表单 3 个，返回 2 个，抢注 1 个域名"));

    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
  }

  // A notice is said beside the count-down, whole in its tool tip; the status
  // line keeps its own text.
  void noticeBesideTheCountdown() {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    Settings settings;
    SettingsDialogState dialogState;
    MainWindow window(prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini")));
    emit window.task().events.notice(QStringLiteral("日志保存失败！"));
    QCOMPARE(window.task().view.text(Ctl::Label_notice), QStringLiteral("日志保存失败！"));
    QCOMPARE(window.view().widget(Ctl::Label_notice)->toolTip(), QStringLiteral("日志保存失败！"));
    QCOMPARE(window.task().view.text(Ctl::Label1), QStringLiteral("状态：停止"));
  }
};

QTEST_MAIN(TestWindowNotifications)
#include "tst_window_notifications.moc"
