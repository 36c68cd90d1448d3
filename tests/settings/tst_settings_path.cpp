#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>

#include "settings/SettingsStore.h"
#include "settings_fixture.h"

namespace {

int folderMode(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

// A copy of the program in a folder its user cannot write, as /usr/bin is for
// an installed program. Run by root, the tests start it as nobody (root
// writes anywhere); otherwise the folder is made read-only.
class InstalledCopy {
 public:
  InstalledCopy() {
    QVERIFY(base_.isValid());
    QFile::setPermissions(base_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    QVERIFY(QDir(base_.path()).mkdir(QStringLiteral("bin")));
    QVERIFY(QFile::copy(QStringLiteral(ZEMBRIN_BIN), program()));
    QVERIFY(QFile::setPermissions(
        program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                       QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
    if (asRoot()) {
      setpriv_ = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
      QVERIFY2(!setpriv_.isEmpty(), "setpriv (util-linux) is needed to run the program as nobody");
    }
    lockProgramFolder(true);
    valid = true;
  }
  ~InstalledCopy() { lockProgramFolder(false); }

  static bool asRoot() { return ::geteuid() == 0; }
  QString programDir() const { return base_.filePath(QStringLiteral("bin")); }
  QString program() const { return programDir() + QStringLiteral("/zembrin"); }

  // A fresh folder the program's user may write.
  QString writableFolder(const QString& name) const {
    const QString path = base_.filePath(name);
    QDir().mkpath(path);
    QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
    return path;
  }
  // A path no one can create folders in: below a regular file.
  QString unwritableFolder(const QString& name) const {
    const QString file = base_.filePath(name);
    QFile f(file);
    if (f.open(QIODevice::WriteOnly)) f.close();
    return file + QStringLiteral("/config");
  }

  // Puts a settings file beside the program (as its owner would).
  void putBesideProgram(const QByteArray& content) {
    lockProgramFolder(false);
    QVERIFY(fixture::writeFile(programDir() + QStringLiteral("/zembrin.ini"), content));
    lockProgramFolder(true);
  }

  void start(QProcess& process, const QStringList& args,
             const QList<QPair<QString, QString>>& env) const {
    QProcessEnvironment e;
    e.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const auto& [name, value] : env) e.insert(name, value);
    process.setProcessEnvironment(e);
    if (asRoot()) {
      process.setProgram(setpriv_);
      process.setArguments(QStringList{QStringLiteral("--reuid=65534"),
                                       QStringLiteral("--regid=65534"),
                                       QStringLiteral("--clear-groups"), program()} +
                           args);
    } else {
      process.setProgram(program());
      process.setArguments(args);
    }
    process.start();
  }

  bool valid = false;

 private:
  void lockProgramFolder(bool locked) {
    if (asRoot()) return;  // root-owned 0755 is what nobody cannot write
    QFile::setPermissions(programDir(),
                          locked ? QFile::ReadOwner | QFile::ExeOwner
                                 : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  QTemporaryDir base_;
  QString setpriv_;
};

}  // namespace

class TestSettingsPath : public QObject {
  Q_OBJECT
 private slots:
  // The rule itself, on folders whose writability does not depend on who
  // runs the tests.
  void rule_data() {
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("expected");  // $HOME, $TMP and $XDG stand for the folders
    QTest::newRow("writable folder: portable") << "$TMP"
                                               << "$XDG"
                                               << "$TMP/zembrin.ini";
    QTest::newRow("/usr/bin: installed") << "/usr/bin"
                                         << "$XDG"
                                         << "$XDG/zembrin/zembrin.ini";
    QTest::newRow("/usr/bin/ written with a slash") << "/usr/bin/"
                                                    << "$XDG"
                                                    << "$XDG/zembrin/zembrin.ini";
    QTest::newRow("/usr/local/bin") << "/usr/local/bin"
                                    << "$XDG"
                                    << "$XDG/zembrin/zembrin.ini";
    QTest::newRow("XDG_CONFIG_HOME unset") << "/usr/bin"
                                           << ""
                                           << "$HOME/.config/zembrin/zembrin.ini";
    QTest::newRow("XDG_CONFIG_HOME relative, so ignored") << "/usr/bin"
                                                          << "config"
                                                          << "$HOME/.config/zembrin/zembrin.ini";
  }
  void rule() {
    QFETCH(QString, programDir);
    QFETCH(QString, xdg);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    const QString home = tmp.filePath(QStringLiteral("home"));
    const QString xdgDir = tmp.filePath(QStringLiteral("xdg"));
    auto expand = [&](QString s) {
      return s.replace(QStringLiteral("$HOME"), home)
          .replace(QStringLiteral("$XDG"), xdgDir)
          .replace(QStringLiteral("$TMP"), tmp.path());
    };
    QCOMPARE(settingsPathFor(expand(programDir), expand(xdg), home), expand(expected));
  }

  // The program in a folder its user cannot write, end to end: where the
  // settings file is made, and that nothing is written beside the program.
  void installedProgram_data() {
    QTest::addColumn<bool>("fileBeside");
    QTest::addColumn<QString>("xdg");       // "set", "unset" or "unwritable"
    QTest::addColumn<QString>("expected");  // relative to the test folder; "" for beside
    QTest::newRow("XDG_CONFIG_HOME set") << false << "set"
                                         << "xdg/zembrin/zembrin.ini";
    QTest::newRow("XDG_CONFIG_HOME unset") << false << "unset"
                                           << "home/.config/zembrin/zembrin.ini";
    QTest::newRow("a file beside the program keeps it portable") << true << "set"
                                                                 << "";
  }
  void installedProgram() {
    QFETCH(bool, fileBeside);
    QFETCH(QString, xdg);
    QFETCH(QString, expected);
    InstalledCopy copy;
    QVERIFY(copy.valid);
    const QByteArray beside = "[option]\r\nwhois_time=3\r\n";
    if (fileBeside) copy.putBesideProgram(beside);
    const QString home = copy.writableFolder(QStringLiteral("home"));
    const QString xdgDir = copy.writableFolder(QStringLiteral("xdg"));
    QList<QPair<QString, QString>> env{{QStringLiteral("HOME"), home}};
    if (xdg == QLatin1String("set")) env.append({QStringLiteral("XDG_CONFIG_HOME"), xdgDir});

    // The load comes before the task file is read, so a missing task file
    // still makes the settings file.
    QProcess p;
    copy.start(p, {QStringLiteral("register"), home + QStringLiteral("/missing.txt")}, env);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);

    const QString base = QFileInfo(home).absolutePath();
    if (expected.isEmpty()) {
      QCOMPARE(fixture::readFile(copy.programDir() + QStringLiteral("/zembrin.ini")), beside);
      QVERIFY(!QFileInfo::exists(xdgDir + QStringLiteral("/zembrin")));
      QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.config")));
    } else {
      const QString made = base + u'/' + expected;
      QCOMPARE(fixture::readFile(made), QByteArray(""));
      // The folders it made are private, as the base directory rules ask.
      QCOMPARE(folderMode(QFileInfo(made).absolutePath()), 0700);
      QCOMPARE(QDir(copy.programDir()).entryList(QDir::Files), QStringList{"zembrin"});
    }
  }

  // A settings place that cannot be made: the headless command runs on with
  // the defaults and the window comes up.
  void unwritableConfigFolder() {
    InstalledCopy copy;
    QVERIFY(copy.valid);
    const QString home = copy.writableFolder(QStringLiteral("home"));
    const QList<QPair<QString, QString>> env{
        {QStringLiteral("HOME"), home},
        {QStringLiteral("XDG_CONFIG_HOME"), copy.unwritableFolder(QStringLiteral("file"))},
        {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}};

    QProcess headless;
    copy.start(headless, {QStringLiteral("register"), home + QStringLiteral("/missing.txt")}, env);
    QVERIFY(headless.waitForFinished(20000));
    QCOMPARE(headless.exitStatus(), QProcess::NormalExit);
    QCOMPARE(headless.exitCode(), 2);
    QCOMPARE(QString::fromUtf8(headless.readAllStandardError()),
             QStringLiteral("[message] 指定文件不存在！\n"));

    QProcess window;
    copy.start(window, {}, env);
    QVERIFY(window.waitForStarted());
    QVERIFY2(!window.waitForFinished(3000),
             qPrintable(QStringLiteral("the window ended: ") + window.readAllStandardError()));
    window.kill();
    window.waitForFinished();
  }
};

QTEST_GUILESS_MAIN(TestSettingsPath)
#include "tst_settings_path.moc"
