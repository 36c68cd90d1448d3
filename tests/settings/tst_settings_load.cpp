#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "settings/SettingsStore.h"
#include "settings_fixture.h"
#include "task/VariableTables.h"

using namespace fixture;

namespace {

// An INI file holding the given lines under [option], GB18030 encoded.
QByteArray option(const QStringList& lines) {
  return gb(QStringLiteral("[option]\r\n") + lines.join(QStringLiteral("\r\n")) +
            QStringLiteral("\r\n"));
}

const QString B = builtinServerLine();
const QString CRLF = QStringLiteral("\r\n");
const QString L1 = QStringLiteral(".com,.net|||whois.one.test|||43|||No match for|||Expiration Date: |||");
const QString L2 = QStringLiteral(".org|||whois.two.test|||4343|||NOT FOUND|||Expiry: |||T");
const QString L3 = QStringLiteral(".cn|||whois.cnnic.cn|||43|||没有匹配|||到期时间: |||");
const QString FIVE = QStringLiteral(".info|||whois.info.test|||43|||NOT FOUND|||Expiry: ");

}  // namespace

class TestSettingsLoad : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path() const { return dir_.filePath(QStringLiteral("zembrin.ini")); }

 private slots:
  void init() { QFile::remove(path()); }

  void load_data() {
    QTest::addColumn<QByteArray>("file");  // null: no file at all
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("times");
    QTest::addColumn<int>("zone");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("serverText");

    const QStringList defBoxes{"0", "5", "0"};
    auto row = [&](const char* name, const QByteArray& file, const QString& flags = "YYN",
                   const QString& options = "000", const QStringList& boxes = {"0", "5", "0"},
                   const QString& times = "0,5,0", int zone = 0, const QStringList& rows = {B},
                   const QString& serverText = B + CRLF) {
      QTest::newRow(name) << file << flags << options << boxes << times << zone << rows << serverText;
    };

    row("no file", QByteArray());
    row("empty file", QByteArray(""));
    row("flags 2, 0.0 and -1", option({"check_whois=2", "whois_after_reg=0.0", "save_log=-1"}), "YNY",
        "010");
    row("flags all 0", option({"check_whois=0", "whois_after_reg=0", "save_log=0"}), "NNN", "111");
    row("flags not numeric count as missing",
        option({"check_whois=yes", "whois_after_reg=1x", "save_log=abc"}));
    row("intervals rounded half to even",
        option({"whois_time=1.5", "whois_timeout=2.5", "whois_time2=3.5"}), "YYN", "000",
        {"1.5", "2.5", "3.5"}, "2,2,4");
    row("intervals with sign and blanks",
        option({"whois_time= +7 ", "whois_timeout=-0.4", "whois_time2=-3"}), "YYN", "000",
        {"+7", "-0.4", "-3"}, "7,0,-3");
    row("intervals at the 16-bit limits",
        option({"whois_time=32767", "whois_timeout=-32768", "whois_time2=32767.4"}), "YYN", "000",
        {"32767", "-32768", "32767.4"}, "32767,-32768,32767");
    row("intervals not numeric", option({"whois_time=abc", "whois_timeout=1e3", "whois_time2=0x10"}));
    row("intervals outside 16 bits",
        option({"whois_time=32768", "whois_timeout=" + QString(2000, u'9'), "whois_time2=32767.5"}));
    row("time zone 8", option({"intTimeZone=8"}), "YYN", "000", defBoxes, "0,5,0", 8);
    row("time zone -12", option({"intTimeZone=-12"}));
    row("time zone 13", option({"intTimeZone=13"}));
    row("time zone 12.6 passes before rounding", option({"intTimeZone=12.6"}), "YYN", "000", defBoxes,
        "0,5,0", 13);
    row("time zone -11.5 to even", option({"intTimeZone=-11.5"}), "YYN", "000", defBoxes, "0,5,0", -12);
    row("time zone not numeric", option({"intTimeZone=+8h"}));

    row("servers: second of three unusable",
        option({"whois_no=3", "whois_server_1=" + L1, "whois_server_2=" + FIVE, "whois_server_3=" + L3}),
        "YYN", "000", defBoxes, "0,5,0", 0, {L1, "", L3}, L1 + CRLF + L3 + CRLF);
    row("servers: none usable", option({"whois_no=2", "whois_server_1=" + FIVE}), "YYN", "000", defBoxes,
        "0,5,0", 0, {B}, B);
    row("servers: whois_no 0", option({"whois_no=0", "whois_server_1=" + L1}));
    row("servers: whois_no negative", option({"whois_no=-1", "whois_server_1=" + L1}));
    row("servers: whois_no not numeric", option({"whois_no=one", "whois_server_1=" + L1}));
    row("servers: whois_no above 16 bits", option({"whois_no=40000", "whois_server_1=" + L1}));
    row("servers: whois_no 2.5 reads two lines",
        option({"whois_no=2.5", "whois_server_1=" + L1, "whois_server_2=" + L2, "whois_server_3=" + L3}),
        "YYN", "000", defBoxes, "0,5,0", 0, {L1, L2}, L1 + CRLF + L2 + CRLF);
    row("servers: whois_no 0.4 rounds to none", option({"whois_no=0.4", "whois_server_1=" + L1}), "YYN",
        "000", defBoxes, "0,5,0", 0, {B}, B);
    row("servers: pieces after the sixth ignored", option({"whois_no=1", "whois_server_1=" + L2 + "|||x"}),
        "YYN", "000", defBoxes, "0,5,0", 0, {L2}, L2 + "|||x" + CRLF);
    {
      const QString head = QStringLiteral(".com|||h|||43|||x|||y|||");
      row("servers: a huge line cut to 1023 bytes",
          option({"whois_no=1", "whois_server_1=" + head + QString(2000, u'z')}), "YYN", "000", defBoxes,
          "0,5,0", 0, {head + QString(1023 - head.size(), u'z')},
          head + QString(1023 - head.size(), u'z') + CRLF);
    }
    row("keys and section in other cases",
        gb("[OPTION]\r\nCHECK_WHOIS=0\r\nWhois_No=1\r\nWHOIS_SERVER_1=" + L3 + "\r\n"), "NYN", "100",
        defBoxes, "0,5,0", 0, {L3}, L3 + CRLF);
    row("NUL and invalid bytes",
        bytes("[option]\r\njunk=\xff\xfe\x81\r\nwhois_timeout=1\0" "0\r\ncheck_whois=\0 0\r\n"),
        "NYN", "100", {"0", "10", "0"}, "0,10,0");
  }
  void load() {
    QFETCH(QByteArray, file);
    QFETCH(QString, flags);
    QFETCH(QString, options);
    QFETCH(QStringList, boxes);
    QFETCH(QString, times);
    QFETCH(int, zone);
    QFETCH(QStringList, rows);
    QFETCH(QString, serverText);

    if (!file.isNull()) QVERIFY(writeFile(path(), file));
    Settings settings;
    settings.check_whois = false;  // the load must set every value itself
    settings.whois_timeout = 99;
    settings.intTimeZone = 3;
    SettingsDialogState dialog;
    loadSettings(path(), settings, dialog);

    QCOMPARE(fixture::flags(settings), flags);
    QCOMPARE(fixture::options(dialog), options);
    QCOMPARE((QStringList{dialog.whois_time, dialog.whois_timeout, dialog.whois_time2}), boxes);
    QCOMPARE(fixture::times(settings), times);
    QCOMPARE(int(settings.intTimeZone), zone);
    QCOMPARE(fixture::rows(settings), rows);
    QCOMPARE(dialog.whois_server, serverText);
    // The load only reads: a missing file is created empty, an existing one kept.
    QCOMPARE(readFile(path()), file.isNull() ? QByteArray("") : file);
  }

  // A missing yes/no key leaves the dialog's option as it was.
  void missingFlagsLeaveOptions() {
    QVERIFY(writeFile(path(), option({"whois_time=3"})));
    Settings settings;
    SettingsDialogState dialog;
    dialog.check_whois = dialog.whois_after_reg = dialog.save_log = 1;
    loadSettings(path(), settings, dialog);
    QCOMPARE(fixture::options(dialog), QString("111"));
    QCOMPARE(fixture::flags(settings), QString("YYN"));
    QCOMPARE(dialog.whois_time, QString("3"));
  }

  // Nothing usable at the path: the defaults, no crash, nothing created.
  void unusablePathGivesDefaults_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("path is a folder") << "folder.ini";
    QTest::newRow("folder missing") << "missing/zembrin.ini";
  }
  void unusablePathGivesDefaults() {
    QFETCH(QString, name);
    QTemporaryDir local;
    QVERIFY(QDir(local.path()).mkdir("folder.ini"));
    Settings settings;
    SettingsDialogState dialog;
    loadSettings(local.filePath(name), settings, dialog);
    QCOMPARE(fixture::flags(settings), QString("YYN"));
    QCOMPARE(fixture::times(settings), QString("0,5,0"));
    QCOMPARE(fixture::rows(settings), QStringList{B});
    QCOMPARE(dialog.whois_server, B + CRLF);
    QCOMPARE(QDir(local.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"folder.ini"});
  }

  void lineBreakTokensInstalled() {
    Settings settings;
    SettingsDialogState dialog;
    loadSettings(path(), settings, dialog);
    QCOMPARE(ExpandLineBreaks(QStringLiteral("a{\\n}b{\\n}")), QStringLiteral("a%0D%0Ab%0D%0A"));
  }

  void numbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<int>("value");  // -99999: no 16-bit value
    const int none = -99999;
    QTest::newRow("integer") << "42" << true << 42;
    QTest::newRow("blanks and plus") << "  +42 " << true << 42;
    QTest::newRow("0.5 to even") << "0.5" << true << 0;
    QTest::newRow("1.5 to even") << "1.5" << true << 2;
    QTest::newRow("-2.5 to even") << "-2.5" << true << -2;
    QTest::newRow("just above a half") << "2.5000001" << true << 3;
    QTest::newRow("point without fraction") << "7." << true << 7;
    QTest::newRow("fraction without digits before") << "-.6" << true << -1;
    QTest::newRow("32767.5 overflows") << "32767.5" << true << none;
    QTest::newRow("-32768.5 to even") << "-32768.5" << true << -32768;
    QTest::newRow("many digits") << QString(400, u'1') << true << none;
    QTest::newRow("leading zeros") << "0000000000012" << true << 12;
    QTest::newRow("empty") << "" << false << none;
    QTest::newRow("blank") << "   " << false << none;
    QTest::newRow("sign only") << "-" << false << none;
    QTest::newRow("point only") << "." << false << none;
    QTest::newRow("exponent") << "1e3" << false << none;
    QTest::newRow("tab") << "\t5" << false << none;
    QTest::newRow("blank after sign") << "- 5" << false << none;
    QTest::newRow("comma") << "1,5" << false << none;
    QTest::newRow("full-width digit") << QStringLiteral("５") << false << none;
  }
  void numbers() {
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(int, value);
    QCOMPARE(isNumeric(text), numeric);
    const std::optional<qint16> v = toInt16(text);
    QCOMPARE(v.has_value() ? int(*v) : -99999, value);
  }
};

QTEST_GUILESS_MAIN(TestSettingsLoad)
#include "tst_settings_load.moc"
