#include <QtTest>

#include <QImage>
#include <QTemporaryDir>

// Builds the Debian package from this build (cpack, as scripts/package does)
// and checks what it holds with dpkg-deb and desktop-file-validate.

namespace {

struct Result {
  int exitCode = -1;
  QByteArray out, err;
};

Result run(const QString& program, const QStringList& args, const QString& workDir = QString(),
           int timeoutMs = 120000) {
  QProcess p;
  if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
  p.start(program, args);
  Result r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    r.err = "timed out";
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

QString tool(const char* name, const char* package) {
  const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
  if (path.isEmpty())
    qWarning("%s not found: scripts/test installs it (Debian package %s)", name, package);
  return path;
}

}  // namespace

class TestPackage : public QObject {
  Q_OBJECT
  QTemporaryDir work_;
  QString deb_, root_;

 private slots:
  void initTestCase() {
    const QString cpack = tool("cpack", "cmake");
    QVERIFY(!cpack.isEmpty());
    QVERIFY(!tool("dpkg-deb", "dpkg").isEmpty());
    QElapsedTimer clock;
    clock.start();
    const Result r =
        run(cpack,
            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), work_.path(),
             QStringLiteral("--config"), QStringLiteral(ZEMBRIN_BINARY_DIR "/CPackConfig.cmake")},
            work_.path());
    QVERIFY2(r.exitCode == 0, r.out + r.err);
    qInfo("cpack took %lld ms", static_cast<long long>(clock.elapsed()));
    const QStringList debs = QDir(work_.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    deb_ = work_.filePath(debs[0]);
    root_ = work_.filePath(QStringLiteral("root"));
    const Result x = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, root_});
    QVERIFY2(x.exitCode == 0, x.err);
  }

  // zembrin_<version>_<arch>.deb, its fields, and dependencies found from
  // the shared libraries the program links.
  void nameAndFields() {
    const Result arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QCOMPARE(arch.exitCode, 0);
    QCOMPARE(QFileInfo(deb_).fileName(),
             QStringLiteral("zembrin_1.0.0_%1.deb").arg(QString::fromLatin1(arch.out.trimmed())));
    auto field = [&](const QString& name) {
      return QString::fromUtf8(
          run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb_, name}).out.trimmed());
    };
    QCOMPARE(field(QStringLiteral("Package")), QStringLiteral("zembrin"));
    QCOMPARE(field(QStringLiteral("Version")), QStringLiteral("1.0.0"));
    const QString depends = field(QStringLiteral("Depends"));
    for (const char* lib : {"libqt6widgets6", "libqt6network6", "libcurl4", "libc6"})
      QVERIFY2(depends.contains(QLatin1String(lib)), qPrintable(depends));
  }

  // Exactly the files of an installed program, owned by root, with the
  // modes Debian expects: nothing of the build (tests, libraries) slips in.
  void contents() {
    const Result r = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb_});
    QCOMPARE(r.exitCode, 0);
    QMap<QString, QString> files;  // path -> mode
    for (const QByteArray& line : r.out.split('\n')) {
      const QList<QByteArray> cols = line.simplified().split(' ');
      if (cols.size() < 6) continue;
      QCOMPARE(cols[1], QByteArray("root/root"));
      if (!cols[0].startsWith('-')) continue;
      files.insert(QString::fromUtf8(cols[5]).mid(1), QString::fromLatin1(cols[0]));
    }
    QMap<QString, QString> expected{
        {"/usr/bin/zembrin", "-rwxr-xr-x"},
        {"/usr/share/applications/zembrin.desktop", "-rw-r--r--"},
        {"/usr/share/icons/hicolor/scalable/apps/zembrin.svg", "-rw-r--r--"},
        {"/usr/share/man/man1/zembrin.1.gz", "-rw-r--r--"},
        {"/lib/systemd/system/zembrin-catch@.service", "-rw-r--r--"},
        {"/usr/share/doc/zembrin/copyright", "-rw-r--r--"},
        {"/usr/share/doc/zembrin/changelog.gz", "-rw-r--r--"},
        {"/usr/share/doc/zembrin/README.md", "-rw-r--r--"},
    };
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
      expected.insert(QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/zembrin.png").arg(size),
                      QStringLiteral("-rw-r--r--"));
    QCOMPARE(files, expected);
  }

  // Each PNG has the size its folder names.
  void iconSizes() {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QImage icon(
          root_ + QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/zembrin.png").arg(size));
      QVERIFY2(!icon.isNull(), qPrintable(QString::number(size)));
      QCOMPARE(icon.size(), QSize(size, size));
    }
  }

  // The desktop entry passes desktop-file-validate, and what it starts and
  // shows is in the package.
  void desktopEntry() {
    const QString validate = tool("desktop-file-validate", "desktop-file-utils");
    QVERIFY(!validate.isEmpty());
    const QString entry = root_ + QStringLiteral("/usr/share/applications/zembrin.desktop");
    const Result r = run(validate, {entry});
    QVERIFY2(r.exitCode == 0 && r.out.isEmpty() && r.err.isEmpty(), r.out + r.err);
    QSettings desktop(entry, QSettings::IniFormat);
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(desktop.value(QStringLiteral("Exec")).toString(), QStringLiteral("zembrin"));
    QVERIFY(QFileInfo(root_ + QStringLiteral("/usr/bin/zembrin")).isExecutable());
    const QString icon = desktop.value(QStringLiteral("Icon")).toString();
    QVERIFY(QFileInfo::exists(root_ + QStringLiteral("/usr/share/icons/hicolor/scalable/apps/") +
                              icon + QStringLiteral(".svg")));
    QCOMPARE(desktop.value(QStringLiteral("Name")).toString(), QStringLiteral("Zembrin"));
    QVERIFY(
        desktop.value(QStringLiteral("Name[zh_CN]")).toString().contains(QStringLiteral("抢注")));
  }

  // The packaged program runs (stripping kept it whole) and is the
  // version the package says; the unit starts that program.
  void programAndUnit() {
    const Result v = run(root_ + QStringLiteral("/usr/bin/zembrin"), {QStringLiteral("--version")});
    QCOMPARE(v.exitCode, 0);
    QCOMPARE(v.out, QByteArray("zembrin 1.0.0\n"));
    QFile unit(root_ + QStringLiteral("/lib/systemd/system/zembrin-catch@.service"));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    const QByteArray text = unit.readAll();
    QVERIFY(text.contains("\nExecStart=/usr/bin/zembrin catch "));
    QVERIFY(text.contains("\nDynamicUser=yes\n"));
  }

  // The manual page is compressed as Debian wants (no time stamp) and is a
  // page of section 1.
  void manualPage() {
    const QString page = root_ + QStringLiteral("/usr/share/man/man1/zembrin.1.gz");
    const QByteArray head = [&] {
      QFile f(page);
      return f.open(QIODevice::ReadOnly) ? f.read(8) : QByteArray();
    }();
    QCOMPARE(head.left(2), QByteArray("\x1f\x8b"));
    QCOMPARE(head.mid(4, 4), QByteArray(4, '\0'));  // MTIME 0
    const Result r = run(QStringLiteral("gzip"), {QStringLiteral("-dc"), page});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains("\n.TH ZEMBRIN 1 "));
  }

  // The maintainer scripts are shell scripts that parse and may be run;
  // there is no postrm, so a removal leaves no record of the package behind.
  void maintainerScripts() {
    const QString control = work_.filePath(QStringLiteral("control"));
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), deb_, control}).exitCode, 0);
    QVERIFY(!QFileInfo::exists(control + QStringLiteral("/postrm")));
    for (const char* name : {"postinst", "prerm"}) {
      const QString script = control + u'/' + QLatin1String(name);
      QVERIFY2(QFileInfo(script).isExecutable(), name);
      const Result r = run(QStringLiteral("sh"), {QStringLiteral("-n"), script});
      QVERIFY2(r.exitCode == 0, r.err);
    }
  }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
