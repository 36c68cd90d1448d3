// The exit question and a timed start that falls due while it is open: the
// catch starts inside the question's modal loop, and a Yes must still end the
// program at once. The program runs as a child process (this binary again),
// since a Yes ends the process it is given in.
#include <QtTest>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "app/TaskWindow.h"
#include "platform/Clock.h"
#include "platform/Sntp.h"
#include "support/StubHttpServer.h"
#include "ui/App.h"
#include "ui/MainWindow.h"
#include "ui/QtPrompter.h"

namespace {

const char* const kChildVariable = "ZEMBRIN_EXIT_QUESTION_CHILD";

void say(const char* what) {
  std::printf("%s\n", what);
  std::fflush(stdout);
}

// The window program with a catch of a minute armed two seconds ahead; the
// close picture's question opens at once, and Yes is clicked a second after
// the catch has started inside it.
int runChild(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("zembrin.ini"));
  QFile file(ini);
  if (!file.open(QIODevice::WriteOnly)) return 10;
  file.write("[option]\r\ncheck_whois=0\r\ntime_server=\r\n");
  file.close();
  QtPrompter prompter;
  WindowProgram program(ini, prompter);
  if (!program.window) return 11;
  prompter.setParentWidget(program.window.get());
  program.window->show();

  TaskWindow& task = program.window->task();
  TaskView& view = program.window->view();
  task.removeHint(Ctl::txt_api_url);
  view.setText(Ctl::txt_api_url, qEnvironmentVariable(kChildVariable));
  view.setText(Ctl::common1, QStringLiteral("user===bob"));
  view.setText(Ctl::dyn1, QStringLiteral("domain===a.com"));
  view.setText(Ctl::domain_var, QStringLiteral("domain"));
  view.setIndex(Ctl::radio_send_type, 1);
  view.setIndex(Ctl::radio_post_type, 1);
  view.setIndex(Ctl::frequence, frequenceEntries().indexOf(QStringLiteral("2")));
  view.setText(Ctl::reg_second, QStringLiteral("60"));
  const qint64 second = platform::wallClockUs() / 1000000 + 3;
  const QDateTime at = QDateTime::fromSecsSinceEpoch(second);
  const int parts[] = {at.date().year(), at.date().month(),  at.date().day(),
                       at.time().hour(), at.time().minute(), at.time().second()};
  const Ctl boxes[] = {Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1};
  for (int i = 0; i < 6; ++i) view.setText(boxes[i], QString::number(parts[i]));
  task.time_start_Click();
  if (task.timer_start != 1) return 12;
  say("armed");

  QTimer::singleShot(200, program.window.get(), [&] { program.window->close(); });
  const int yesAfterMs = int((second * 1000000 - platform::wallClockUs()) / 1000) + 1000;
  QTimer::singleShot(yesAfterMs, &app, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box->text() != QStringLiteral("抢注正在进行中，确认退出吗?")) {
      say("no question open");
      return;
    }
    say(task.int_start() == 1 ? "yes, while the catch runs" : "yes, nothing running");
    box->button(QMessageBox::Yes)->click();
    say("still alive after yes");
  });
  app.exec();
  say("left the event loop");
  return 0;
}

}  // namespace

class TestExitQuestion : public QObject {
  Q_OBJECT
 private slots:
  void yesEndsTheProgramWhileATimedCatchRunsInsideTheQuestion() {
    StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
    QVERIFY(registrar.listen());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), registrar.url(QStringLiteral("/reg")));
    child.setProcessEnvironment(env);
    child.setProgram(QCoreApplication::applicationFilePath());
    QElapsedTimer clock;
    clock.start();
    child.start();
    // The catch lasts a minute; only the Yes can end it this soon.
    const bool ended = child.waitForFinished(15000);
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(ended, qPrintable(out + QString::fromUtf8(child.readAllStandardError())));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(out, QStringLiteral("armed\nyes, while the catch runs\n"));
    QVERIFY(clock.elapsed() < 10000);
    const int sent = registrar.requestCount();
    QVERIFY(sent >= 1);  // the catch did run inside the question
    QTest::qWait(1200);
    QCOMPARE(registrar.requestCount(), sent);  // and nothing after the end
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet(kChildVariable)) return runChild(argc, argv);
  QApplication app(argc, argv);
  TestExitQuestion test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_exit_question.moc"
