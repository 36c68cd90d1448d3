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
const QString L1 =
    QStringLiteral(".com,.net|||whois.one.test|||43|||No match for|||Expiration Date: |||");
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
      QTest::newRow(name) << file << flags << options << boxes << times << zone << rows
                          << serverText;
    };

    row("no file", QByteArray());
    row("empty file", QByteArray(""));
    row("flags 2, 0.0 and -1", option({"check_whois=2", "whois_after_reg=0.0", "save_log=-1"}),
        "YNY", "010");
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
    row("intervals not numeric",
        option({"whois_time=abc", "whois_timeout=1e3", "whois_time2=0x10"}));
    row("intervals outside 16 bits",
        option(
            {"whois_time=32768", "whois_timeout=" + QString(2000, u'9'), "whois_time2=32767.5"}));
    row("time zone 8", option({"intTimeZone=8"}), "YYN", "000", defBoxes, "0,5,0", 8);
    row("time zone -12", option({"intTimeZone=-12"}));
    row("time zone 13", option({"intTimeZone=13"}));
    row("time zone 12.6 passes before rounding", option({"intTimeZone=12.6"}), "YYN", "000",
        defBoxes, "0,5,0", 13);
    row("time zone -11.5 to even", option({"intTimeZone=-11.5"}), "YYN", "000", defBoxes, "0,5,0",
        -12);
    row("time zone not numeric", option({"intTimeZone=+8h"}));

    row("servers: second of three unusable",
        option({"whois_no=3", "whois_server_1=" + L1, "whois_server_2=" + FIVE,
                "whois_server_3=" + L3}),
        "YYN", "000", defBoxes, "0,5,0", 0, {L1, "", L3}, L1 + CRLF + L3 + CRLF);
    row("servers: none usable", option({"whois_no=2", "whois_server_1=" + FIVE}), "YYN", "000",
        defBoxes, "0,5,0", 0, {B}, B);
    row("servers: whois_no 0", option({"whois_no=0", "whois_server_1=" + L1}));
    row("servers: whois_no negative", option({"whois_no=-1", "whois_server_1=" + L1}));
    row("servers: whois_no not numeric", option({"whois_no=one", "whois_server_1=" + L1}));
    row("servers: whois_no above 16 bits", option({"whois_no=40000", "whois_server_1=" + L1}));
    row("servers: whois_no 2.5 reads two lines",
        option({"whois_no=2.5", "whois_server_1=" + L1, "whois_server_2=" + L2,
                "whois_server_3=" + L3}),
        "YYN", "000", defBoxes, "0,5,0", 0, {L1, L2}, L1 + CRLF + L2 + CRLF);
    row("servers: whois_no 0.4 rounds to none", option({"whois_no=0.4", "whois_server_1=" + L1}),
        "YYN", "000", defBoxes, "0,5,0", 0, {B}, B);
    row("servers: pieces after the sixth ignored",
        option({"whois_no=1", "whois_server_1=" + L2 + "|||x"}), "YYN", "000", defBoxes, "0,5,0", 0,
        {L2}, L2 + "|||x" + CRLF);
    {
      const QString head = QStringLiteral(".com|||h|||43|||x|||y|||");
      row("servers: a huge line cut to 1023 bytes",
          option({"whois_no=1", "whois_server_1=" + head + QString(2000, u'z')}), "YYN", "000",
          defBoxes, "0,5,0", 0, {head + QString(1023 - head.size(), u'z')},
          head + QString(1023 - head.size(), u'z') + CRLF);
    }
    row("keys and section in other cases",
        gb("[OPTION]\r\nCHECK_WHOIS=0\r\nWhois_No=1\r\nWHOIS_SERVER_1=" + L3 + "\r\n"), "NYN",
        "100", defBoxes, "0,5,0", 0, {L3}, L3 + CRLF);
    row("NUL and invalid bytes",
        bytes("[option]\r\njunk=\xff\xfe\x81\r\nwhois_timeout=1\0"
              "0\r\ncheck_whois=\0 0\r\n"),
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
    QCOMPARE(settings.problems, QStringList());
    // The load only reads: a missing file is created empty, an existing one kept.
    QCOMPARE(readFile(path()), file.isNull() ? QByteArray("") : file);
  }

  // The warming and timed-start keys: a value breaking its rule keeps the
  // default and is named; missing keys and empty numbers say nothing.
  void optionKeys_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>(
        "values");  // warm_connections, warm_interval, warm_url, timed_lead_ms, time_server
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("named");  // the keys the problems name, in order
    const QStringList def{"4", "15", "", "0", "ntp.aliyun.com"};
    QTest::newRow("none of them") << QStringList() << def << def << QStringList();
    QTest::newRow("valid") << QStringList{"warm_connections=0", "warm_interval=3600",
                                          "warm_url=HTTPS://reg.example/ping", "timed_lead_ms=5000",
                                          "time_server=127.0.0.1:1123"}
                           << QStringList{"0", "3600", "HTTPS://reg.example/ping", "5000",
                                          "127.0.0.1:1123"}
                           << QStringList{"0", "3600", "HTTPS://reg.example/ping", "5000",
                                          "127.0.0.1:1123"}
                           << QStringList();
    QTest::newRow("blanks and leading zeros")
        << QStringList{"warm_connections= 064 ", "timed_lead_ms=0007"}
        << QStringList{"64", "15", "", "7", "ntp.aliyun.com"}
        << QStringList{"064", "15", "", "0007", "ntp.aliyun.com"} << QStringList();
    QTest::newRow("empty numbers read as missing")
        << QStringList{"warm_connections=", "warm_interval=", "timed_lead_ms="} << def << def
        << QStringList();
    QTest::newRow("an empty time server turns it off")
        << QStringList{"time_server="} << QStringList{"4", "15", "", "0", ""}
        << QStringList{"4", "15", "", "0", ""} << QStringList();
    QTest::newRow("out of range") << QStringList{"warm_connections=65", "warm_interval=0",
                                                 "timed_lead_ms=5001"}
                                  << def << def
                                  << QStringList{"warm_connections", "warm_interval",
                                                 "timed_lead_ms"};
    QTest::newRow("not whole numbers")
        << QStringList{"warm_connections=4.0", "warm_interval=-5", "timed_lead_ms=1e3"} << def
        << def << QStringList{"warm_connections", "warm_interval", "timed_lead_ms"};
    QTest::newRow("beyond 32 bits") << QStringList{"timed_lead_ms=99999999999999999999"} << def
                                    << def << QStringList{"timed_lead_ms"};
    QTest::newRow("URL of another scheme")
        << QStringList{"warm_url=ftp://reg.example/"} << def << def << QStringList{"warm_url"};
    QTest::newRow("URL without host")
        << QStringList{"warm_url=http://"} << def << def << QStringList{"warm_url"};
    QTest::newRow("time server port out of range")
        << QStringList{"time_server=ntp.example:70000"} << def << def << QStringList{"time_server"};
    QTest::newRow("time server no host name")
        << QStringList{"time_server=-ntp-.example"} << def << def << QStringList{"time_server"};
    QTest::newRow("time server IPv6")
        << QStringList{"time_server=::1"} << QStringList{"4", "15", "", "0", "::1"}
        << QStringList{"4", "15", "", "0", "::1"} << QStringList();
  }
  void optionKeys() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, values);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, named);
    QVERIFY(writeFile(path(), option(lines + QStringList{"whois_time=3"})));
    Settings settings;
    SettingsDialogState dialog;
    loadSettings(path(), settings, dialog);
    QCOMPARE((QStringList{QString::number(settings.warm_connections),
                          QString::number(settings.warm_interval), settings.warm_url,
                          QString::number(settings.timed_lead_ms), settings.time_server}),
             values);
    QCOMPARE((QStringList{dialog.warm_connections, dialog.warm_interval, dialog.warm_url,
                          dialog.timed_lead_ms, dialog.time_server}),
             boxes);
    QCOMPARE(settings.problems.size(), named.size());
    for (qsizetype i = 0; i < named.size(); ++i)
      QVERIFY2(settings.problems[i].startsWith(QStringLiteral("设置文件中 ") + named[i] + u'='),
               qPrintable(settings.problems[i]));
    QCOMPARE(fixture::times(settings), QString("3,5,0"));  // the other keys as before
  }

  void optionProblemText() {
    QVERIFY(writeFile(path(), option({"warm_connections=abc", "warm_url=ftp://x/"})));
    Settings settings;
    SettingsDialogState dialog;
    loadSettings(path(), settings, dialog);
    QCOMPARE(settings.problems,
             (QStringList{QStringLiteral("设置文件中 warm_connections=abc "
                                         "有误：预热连接数只能为0到64之间的整数！已使用默认值 4"),
                          QStringLiteral("设置文件中 warm_url=ftp://x/ 有误：预热地址只能为空或 "
                                         "http、https 网址！已使用默认值（空）")}));
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
