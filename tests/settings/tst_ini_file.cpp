#include <sys/resource.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "codecs/Charsets.h"
#include "settings/IniFile.h"

namespace {

// A byte string with embedded NULs kept.
template <std::size_t N>
QByteArray bytes(const char (&s)[N]) {
  return QByteArray(s, N - 1);
}

QByteArray gb(const QString& s) { return charsets::toGb18030(s); }

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(data), data.size());
}

// The permission bits of a file, -1 when it does not exist.
int mode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

}  // namespace

class TestIniFile : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path() const { return dir_.filePath(QStringLiteral("zembrin.ini")); }

 private slots:
  void init() { QFile::remove(path()); }

  void read_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("section and key in any case")
        << QByteArray("[Option]\r\nCheck_Whois=1\r\n") << "OPTION"
        << "check_whois"
        << "1";
    QTest::newRow("LF line ends") << QByteArray("[option]\nk=v\nj=w") << "option"
                                  << "j"
                                  << "w";
    QTest::newRow("value and name trimmed")
        << QByteArray("  [option]  \r\n  k \t=  v  w \t \r\n") << "option"
        << "k"
        << "v  w";
    QTest::newRow("value holding =") << QByteArray("[option]\r\nk=a=b\r\n") << "option"
                                     << "k"
                                     << "a=b";
    QTest::newRow("missing key") << QByteArray("[option]\r\nk=v\r\n") << "option"
                                 << "x"
                                 << "";
    QTest::newRow("key of another section")
        << QByteArray("[other]\r\nk=v\r\n[option]\r\n") << "option"
        << "k"
        << "";
    QTest::newRow("key before any section") << QByteArray("k=v\r\n[option]\r\n") << "option"
                                            << "k"
                                            << "";
    QTest::newRow("commented key") << QByteArray("[option]\r\n;k=v\r\n") << "option"
                                   << "k"
                                   << "";
    QTest::newRow("first of two keys wins") << QByteArray("[option]\r\nk=1\r\nK=2\r\n") << "option"
                                            << "k"
                                            << "1";
    QTest::newRow("section repeated later")
        << QByteArray("[option]\r\na=1\r\n[x]\r\n[option]\r\nb=2\r\n") << "option"
        << "b"
        << "2";
    QTest::newRow("empty value") << QByteArray("[option]\r\nk=\r\n") << "option"
                                 << "k"
                                 << "";
    QTest::newRow("NUL bytes removed") << bytes("[option]\r\nk=a\0b\0\r\n") << "option"
                                       << "k"
                                       << "ab";
    QTest::newRow("GBK text") << QByteArray("[option]\r\nk=" + gb(QStringLiteral("没有匹配")))
                              << "option"
                              << "k" << QStringLiteral("没有匹配");
    QTest::newRow("invalid bytes replaced, later keys still read")
        << QByteArray("[option]\r\nbad=\x81\x20x\xff\r\nk=v\r\n") << "option"
        << "bad" << QString(QChar(0xFFFD)) + " x" + QChar(0xFFFD);
    QTest::newRow("key after invalid bytes")
        << QByteArray("[option]\r\nbad=\x81\x20x\xff\r\nk=v\r\n") << "option"
        << "k"
        << "v";
  }
  void read() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    writeAll(path(), file);
    classIniFile ini;
    ini.INIFileName = path();
    QCOMPARE(ini.GetIniKey(section, key), expected);
  }

  // The value comes back as a 1024-character buffer would hold it: its first
  // 1023 bytes, never half a character, then trimmed.
  void cutTo1023Bytes_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    const QString han = QStringLiteral("中");              // 2 bytes
    const QString far = QString::fromUcs4(U"\U00020000");  // 4 bytes
    QTest::newRow("1023 ASCII bytes kept") << QString(1023, u'a') << QString(1023, u'a');
    QTest::newRow("ASCII cut") << QString(1500, u'a') + "tail" << QString(1023, u'a');
    QTest::newRow("2-byte characters cut on a boundary") << han.repeated(600) << han.repeated(511);
    QTest::newRow("odd start, 2-byte fits exactly")
        << "a" + han.repeated(600) << "a" + han.repeated(511);
    QTest::newRow("4-byte characters") << far.repeated(300) << far.repeated(255);
    QTest::newRow("spaces at the cut trimmed")
        << QString(1000, u'x') + QString(30, u' ') + "yyyy" << QString(1000, u'x');
  }
  void cutTo1023Bytes() {
    QFETCH(QString, value);
    QFETCH(QString, expected);
    writeAll(path(), "[option]\r\nk=" + gb(value) + "\r\n");
    classIniFile ini;
    ini.INIFileName = path();
    QCOMPARE(ini.GetIniKey("option", "k"), expected);
  }

  // A write changes only its own line; every other line keeps its bytes.
  void write_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("missing file created") << false << QByteArray() << "k"
                                          << "v" << QByteArray("[option]\r\nk=v\r\n") << "v";
    QTest::newRow("empty file") << true << QByteArray() << "k"
                                << "v" << QByteArray("[option]\r\nk=v\r\n") << "v";
    QTest::newRow("key replaced in its stored case, the rest byte for byte")
        << true << bytes("[a]\nx=\x81\xff\x00z\n[Option]\nK = old\n; note\n") << "k"
        << "new" << bytes("[a]\r\nx=\x81\xff\x00z\r\n[Option]\r\nK =new\r\n; note\r\n") << "new";
    QTest::newRow("new key after the section's last key")
        << true << QByteArray("[option]\r\na=1\r\n\r\n[other]\r\nb=2\r\n") << "c"
        << "3" << QByteArray("[option]\r\na=1\r\nc=3\r\n\r\n[other]\r\nb=2\r\n") << "3";
    QTest::newRow("new section at the end")
        << true << QByteArray("[other]\r\nb=2") << "a"
        << "1" << QByteArray("[other]\r\nb=2\r\n[option]\r\na=1\r\n") << "1";
    QTest::newRow("line breaks stay on the key's line")
        << true << QByteArray("[option]\r\n") << "k"
        << "a\r\n[x]\nb" << QByteArray("[option]\r\nk=a  [x] b\r\n") << "a  [x] b";
    QTest::newRow("GB18030 text, also outside GBK")
        << true << QByteArray() << "k"
        << QStringLiteral("到期时间€") + QString::fromUcs4(U"\U00020000")
        << QByteArray("[option]\r\nk=" +
                      gb(QStringLiteral("到期时间€") + QString::fromUcs4(U"\U00020000")) + "\r\n")
        << QStringLiteral("到期时间€") + QString::fromUcs4(U"\U00020000");
  }
  void write() {
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    QFETCH(QString, readBack);
    if (exists) writeAll(path(), before);
    classIniFile ini;
    ini.INIFileName = path();
    QVERIFY(ini.WriteIniKey("option", key, value));
    QCOMPARE(readAll(path()), after);
    classIniFile fresh;
    fresh.INIFileName = path();
    QCOMPARE(fresh.GetIniKey("option", key), readBack);
  }

  void deleteKeyAndSection() {
    writeAll(path(), "[option]\r\na=1\r\nb=2\r\n[other]\r\nc=3\r\n[OPTION]\r\nd=4\r\n");
    classIniFile ini;
    ini.INIFileName = path();
    QVERIFY(ini.DelIniKey("Option", "A"));
    QCOMPARE(readAll(path()),
             QByteArray("[option]\r\nb=2\r\n[other]\r\nc=3\r\n[OPTION]\r\nd=4\r\n"));
    QCOMPARE(ini.GetIniKey("option", "a"), QString());
    QCOMPARE(ini.GetIniKey("option", "b"), QString("2"));
    QVERIFY(ini.DelIniSec("option"));
    QCOMPARE(readAll(path()), QByteArray("[other]\r\nc=3\r\n"));
    QCOMPARE(ini.GetIniKey("option", "d"), QString());
  }

  // Writes collected by an update reach the file together, at the commit.
  void updateWritesOnceAtCommit() {
    writeAll(path(), "[option]\r\na=1\r\n");
    classIniFile ini;
    ini.INIFileName = path();
    ini.beginUpdate();
    QVERIFY(ini.WriteIniKey("option", "a", "2"));
    QVERIFY(ini.WriteIniKey("option", "b", "3"));
    QCOMPARE(readAll(path()), QByteArray("[option]\r\na=1\r\n"));
    QCOMPARE(ini.GetIniKey("option", "b"), QString("3"));
    QVERIFY(ini.commitUpdate());
    QCOMPARE(readAll(path()), QByteArray("[option]\r\na=2\r\nb=3\r\n"));
  }

  void createIfMissing() {
    classIniFile ini;
    ini.INIFileName = path();
    QVERIFY(ini.createIfMissing());
    QVERIFY(QFile::exists(path()));
    QCOMPARE(readAll(path()), QByteArray());
    writeAll(path(), "[option]\r\nk=v\r\n");
    QVERIFY(ini.createIfMissing());
    QCOMPARE(readAll(path()), QByteArray("[option]\r\nk=v\r\n"));
    ini.INIFileName = dir_.filePath("no/such/folder/zembrin.ini");
    QVERIFY(!ini.createIfMissing());
  }

  // The file may come to hold secrets: one this class creates is its owner's
  // alone, whatever the umask lets through; one it replaces keeps its mode.
  void fileModes_data() {
    QTest::addColumn<int>("existing");  // -1: no file yet
    QTest::addColumn<bool>("createFirst");
    QTest::addColumn<int>("expected");
    QTest::newRow("created empty") << -1 << true << 0600;
    QTest::newRow("created by a write") << -1 << false << 0600;
    QTest::newRow("replaced: 0644 kept") << 0644 << false << 0644;
    QTest::newRow("replaced: 0640 kept") << 0640 << false << 0640;
  }
  void fileModes() {
    QFETCH(int, existing);
    QFETCH(bool, createFirst);
    const mode_t oldMask = ::umask(022);
    if (existing >= 0) {
      writeAll(path(), "[option]\r\nk=v\r\n");
      QVERIFY(::chmod(QFile::encodeName(path()).constData(), mode_t(existing)) == 0);
    }
    classIniFile ini;
    ini.INIFileName = path();
    const bool created = !createFirst || ini.createIfMissing();
    const bool written = ini.WriteIniKey("option", "k", "w");
    ::umask(oldMask);
    QVERIFY(created);
    QVERIFY2(written, qPrintable(ini.errorString()));
    QCOMPARE(readAll(path()), QByteArray("[option]\r\nk=w\r\n"));
    QTEST(mode(path()), "expected");
  }

  // A path that cannot be read or written: reads give the empty text, writes
  // fail and leave nothing behind.
  void unusablePath_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("path is a folder") << "folder.ini";
    QTest::newRow("folder missing") << "missing/zembrin.ini";
  }
  void unusablePath() {
    QFETCH(QString, name);
    QTemporaryDir local;
    QVERIFY(QDir(local.path()).mkdir("folder.ini"));
    const QStringList entriesBefore = QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden);
    classIniFile ini;
    ini.INIFileName = local.filePath(name);
    QCOMPARE(ini.GetIniKey("option", "k"), QString());
    QVERIFY(!ini.WriteIniKey("option", "k", "v"));
    QVERIFY(!ini.errorString().isEmpty());
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::Hidden), entriesBefore);
    QVERIFY(QDir(local.filePath("folder.ini")).isEmpty());
  }

  // The write fails part way (the file-size limit cuts it off, root or not):
  // the old file stays whole and no temporary file is left in the folder.
  void failedWriteKeepsOldFile() {
    QTemporaryDir local;
    const QString file = local.filePath("zembrin.ini");
    const QByteArray old = "[option]\r\nwhois_no=1\r\nwhois_server_1=.com|||h|||43|||a|||b|||\r\n";
    writeAll(file, old);

    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    classIniFile ini;
    ini.INIFileName = file;
    // Smaller than a file buffer, so a cut-off final flush would show too.
    const bool written = ini.WriteIniKey("option", "big", QString(6000, u'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QVERIFY(!ini.errorString().isEmpty());
    QCOMPARE(readAll(file), old);
    QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"zembrin.ini"});
    // The failed change is not pretended: the instance reads the file as it is.
    QCOMPARE(ini.GetIniKey("option", "big"), QString());
    QCOMPARE(ini.GetIniKey("option", "whois_no"), QString("1"));
  }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_ini_file.moc"
