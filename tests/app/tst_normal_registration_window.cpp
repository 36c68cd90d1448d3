// Normal registration end to end through the real task window: the user
// types the task, clicks the buttons, and sees the request and the reply.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/TaskWindow.h"
#include "support/ScriptedPrompter.h"
#include "support/StubHttpServer.h"
#include "ui/MainWindow.h"

namespace {
struct WindowFixture {
  QTemporaryDir dir;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  MainWindow window{prompter, settings, dialogState, dir.filePath(QStringLiteral("zembrin.ini"))};
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};

  WindowFixture() {
    window.task().Form_Load();
    window.show();
    registrar.listen();
  }
  template <typename T>
  T* find(const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
  }
  void type(const char* name, const QString& text) {
    if (auto* line = find<QLineEdit>(name)) {
      QTest::mouseClick(line, Qt::LeftButton);  // removes a hint
      line->setFocus();
      QTest::keyClicks(line, text);
    } else {
      auto* area = find<QPlainTextEdit>(name);
      area->setFocus();
      QTest::keyClicks(area, text);
    }
  }
  void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
  void typeTask() {
    type("txt_api_url", registrar.url(QStringLiteral("/api?key=1")));
    type("common1", QStringLiteral("user===bob"));
    type("dyn1", QStringLiteral("domain===a.com"));
    type("domain_var", QStringLiteral("domain"));
    QTest::mouseClick(find<QRadioButton>("radio_send_type_1"), Qt::LeftButton);  // Post
  }
  QString text(Ctl c) { return window.view().text(c); }
};
}  // namespace

class TestNormalRegistrationWindow : public QObject {
  Q_OBJECT
 private slots:
  void oneRequestShownWithItsReplyWhateverTheDisplayOptions() {
    WindowFixture f;
    StubHttpServer::Reply reply;
    reply.body = QByteArray::fromHex("c4e3bac3");  // 你好 in GB2312
    f.registrar.setReply(reply);
    f.typeTask();
    QTest::mouseClick(f.find<QRadioButton>("radio_send_info_0"), Qt::LeftButton);
    QTest::mouseClick(f.find<QRadioButton>("radio_return_info_0"), Qt::LeftButton);

    bool lockedWhileShown = false;
    f.prompter.onMessage = [&](const QString&) {
      lockedWhileShown = !f.window.view().enabled(Ctl::normalreg);
    };
    f.click("normalreg");

    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
    QVERIFY(lockedWhileShown);  // the message comes before the window unlocks
    QCOMPARE(f.registrar.requestCount(), 1);
    const StubHttpServer::Request r = f.registrar.requests()[0];
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.target, QByteArray("/api?key=1"));
    QCOMPARE(r.body, QByteArray("user=bob&domain=a.com"));
    QCOMPARE(r.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(r.header("If-Modified-Since"), QByteArray("0"));
    QCOMPARE(f.text(Ctl::regsend), QStringLiteral("user=bob&domain=a.com\r\n\r\n\r\n"));
    QCOMPARE(f.text(Ctl::regresult), QStringLiteral("你好\r\n\r\n\r\n"));
    QCOMPARE(f.text(Ctl::reg_send), QStringLiteral("发送表单数量：1"));
    QCOMPARE(f.text(Ctl::Label1), QStringLiteral("状态：任务完成"));
    QCOMPARE(f.text(Ctl::Label4), QStringLiteral("任务剩余时间："));
    // Idle again.
    QVERIFY(f.window.view().enabled(Ctl::normalreg));
    QVERIFY(!f.window.view().enabled(Ctl::regstop));
    QVERIFY(!f.window.view().enabled(Ctl::time_end));
    QVERIFY(!f.window.view().readOnly(Ctl::dyn1));
    QVERIFY(f.window.view().readOnly(Ctl::regresult));
  }

  void stopEndsTheReplyWaitAtOnce() {
    WindowFixture f;
    StubHttpServer::Reply never;
    never.behaviour = StubHttpServer::Behaviour::NeverAnswer;
    f.registrar.setReply(never);
    f.typeTask();
    f.window.view().setIndex(Ctl::time_out, f.window.view().entries(Ctl::time_out).indexOf("30"));
    QString remainingWhileWaiting;
    QTimer::singleShot(1500, [&] {
      remainingWhileWaiting = f.text(Ctl::Label4);
      f.click("regstop");  // the only enabled button during the run
    });
    QElapsedTimer clock;
    clock.start();
    f.click("normalreg");
    QVERIFY(clock.elapsed() < 5000);
    // The one-second duration counts down while the reply is awaited.
    QVERIFY2(remainingWhileWaiting == QStringLiteral("任务剩余时间：0秒") ||
                 remainingWhileWaiting == QStringLiteral("任务剩余时间：1秒"),
             qPrintable(remainingWhileWaiting));
    QCOMPARE(f.text(Ctl::regresult), QStringLiteral("连接超时！\r\n\r\n\r\n"));
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("操作完成！")});
    QVERIFY(f.window.view().enabled(Ctl::normalreg));
  }

  void refusedTaskLeavesTheWindowAsItWas() {
    WindowFixture f;
    f.type("domain_var", QStringLiteral("domain"));
    f.click("normalreg");
    QCOMPARE(f.prompter.messages(), QStringList{QStringLiteral("注册内容不得为空！")});
    QCOMPARE(f.registrar.requestCount(), 0);
    QVERIFY(f.window.view().enabled(Ctl::normalreg));
    QCOMPARE(f.text(Ctl::Label1), QStringLiteral("状态：停止"));
  }
};

QTEST_MAIN(TestNormalRegistrationWindow)
#include "tst_normal_registration_window.moc"
