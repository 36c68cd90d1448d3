#include <QtTest>

#include <QTemporaryDir>

#include "support/StubHttpServer.h"

namespace {

struct Run {
  int exitCode = -1;
  QString out, err;
};

// The program with an environment that names no display unless a row adds
// one; the test's own QT_QPA_PLATFORM=offscreen is not passed on.
Run runProgram(const QStringList& args, const QStringList& extraEnv, const QString& home) {
  QProcessEnvironment env;
  env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  for (const QString& pair : extraEnv) env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(ZEMBRIN_BIN), args);
  Run r;
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace

class TestNoDisplay : public QObject {
  Q_OBJECT
 private slots:
  // The window cannot open: a short note naming the headless commands and
  // status 1, never Qt's abort (status 134 through SIGABRT).
  void windowWithoutDisplay_data() {
    QTest::addColumn<QStringList>("env");
    QTest::newRow("nothing named") << QStringList{};
    QTest::newRow("DISPLAY that cannot be reached") << QStringList{"DISPLAY=:97"};
    QTest::newRow("WAYLAND_DISPLAY that cannot be reached")
        << QStringList{"WAYLAND_DISPLAY=zembrin-test-none", "XDG_RUNTIME_DIR=/nonexistent"};
  }
  void windowWithoutDisplay() {
    QFETCH(QStringList, env);
    QTemporaryDir home;
    const Run r = runProgram({}, env, home.path());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.contains(QStringLiteral("no usable display")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("\n  zembrin catch TASKFILE")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("\n  zembrin register TASKFILE")), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QStringLiteral("Reinstalling")), qPrintable(r.err));
    // Nothing was loaded: the note comes before the settings.
    QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral(".config"))));
  }

  // The headless commands run the same without a display.
  void headlessCommandsNeedNoDisplay() {
    QTemporaryDir dir;
    StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
    QVERIFY(registrar.listen());
    const QString task = dir.filePath(QStringLiteral("task.txt"));
    const QString ini = dir.filePath(QStringLiteral("zembrin.ini"));
    const QStringList lines{"[config_begin]", "domain_var===domain",
                            "send_type===1",  "api===" + registrar.url(QStringLiteral("/reg")),
                            "[config_end]",   "[common_begin]",
                            "user===bob",     "[common_end]",
                            "[dyn1_begin]",   "domain===a.com",
                            "[dyn1_end]",     "[dyn2_begin]",
                            "[dyn2_end]"};
    {
      QFile f(task);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    }

    Run r = runProgram({QStringLiteral("--version")}, {}, dir.path());
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.startsWith(QStringLiteral("zembrin ")));

    r = runProgram({QStringLiteral("register"), task, QStringLiteral("--settings"), ini}, {},
                   dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(registrar.requestCount(), 1);
    QCOMPARE(registrar.requests()[0].body, QByteArray("user=bob&domain=a.com"));
    QVERIFY2(r.out.startsWith(QStringLiteral("[sent] user=bob&domain=a.com\n")), qPrintable(r.out));
  }
};

QTEST_GUILESS_MAIN(TestNoDisplay)
#include "tst_no_display.moc"
