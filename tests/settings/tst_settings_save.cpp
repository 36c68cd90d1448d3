#include <sys/resource.h>
#include <sys/stat.h>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

#include "settings/SettingsStore.h"
#include "settings_fixture.h"
#include "support/ScriptedPrompter.h"
#include "ui/SettingsDialog.h"
#include "whois/ServerTable.h"

using namespace fixture;

namespace {

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
const QString OLD = QStringLiteral(".old|||whois.old.test|||43|||gone|||until |||");

const QString M1 = QStringLiteral("Whois检测时间间隔只能为0或正整数！");
const QString M2 = QStringLiteral("Whois超时时间间隔只能为0或正整数！");
const QString M3 = QStringLiteral("注册后继续 whois 查询时间间隔只能为0或正整数！");
const QString M4 = QStringLiteral("请填写Whois服务器内容！");
const QString M5 = QStringLiteral("Whois服务器内容有误，请检查！");
const QString MPORT = QStringLiteral("Whois服务器端口有误，请检查！");
const QString MLONG = QStringLiteral("Whois服务器内容过长，每行不能超过1023字节，请检查！");
const QString MMARK = QStringLiteral("Whois服务器已删除特征不能为空，请检查！");
const QString MRATE = QStringLiteral("Whois服务器查询频率有误，请检查！");

// Settings as they were before the save, distinct from every default.
Settings before() {
  Settings s;
  s.check_whois = false;
  s.whois_after_reg = false;
  s.save_log = true;
  s.whois_time = 1;
  s.whois_timeout = 2;
  s.whois_time2 = 3;
  s.intTimeZone = 8;
  s.whois_servers = {serverRowFromLine(OLD, nullptr)};
  return s;
}

// The default texts of the warming and timed-start boxes.
const QStringList kOptionDefaults{"4", "15", "", "0", "ntp.aliyun.com"};

// The keys every save writes, in the order it writes them; the warming and
// timed-start boxes at their defaults unless given.
QStringList written(const QString& options, const QStringList& boxes,
                    const QStringList& optionBoxes = kOptionDefaults) {
  return {"check_whois=" + QString(options[0] == u'0' ? "1" : "0"),
          "whois_after_reg=" + QString(options[1] == u'0' ? "1" : "0"),
          "save_log=" + QString(options[2] == u'0' ? "1" : "0"),
          "whois_time=" + boxes[0],
          "whois_timeout=" + boxes[1],
          "whois_time2=" + boxes[2],
          "warm_connections=" + optionBoxes[0],
          "warm_interval=" + optionBoxes[1],
          "warm_url=" + optionBoxes[2],
          "timed_lead_ms=" + optionBoxes[3],
          "time_server=" + optionBoxes[4]};
}

// The five settings as one text: warm_connections, warm_interval, warm_url,
// timed_lead_ms, time_server.
QStringList optionValues(const Settings& s) {
  return {QString::number(s.warm_connections), QString::number(s.warm_interval), s.warm_url,
          QString::number(s.timed_lead_ms), s.time_server};
}

void setOptionBoxes(SettingsDialogState& d, const QStringList& boxes) {
  d.warm_connections = boxes[0];
  d.warm_interval = boxes[1];
  d.warm_url = boxes[2];
  d.timed_lead_ms = boxes[3];
  d.time_server = boxes[4];
}

ServerRow row(const QString& line) { return serverRowFromLine(line, nullptr); }

}  // namespace

class TestSettingsSave : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path() const { return dir_.filePath(QStringLiteral("zembrin.ini")); }

 private slots:
  void init() { QFile::remove(path()); }

  void save_data() {
    QTest::addColumn<QByteArray>("file");  // null: no file at all
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("message");  // empty: saved
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("times");
    QTest::addColumn<QStringList>("rows");

    const QStringList def{"0", "5", "0"};
    auto saved = [](const char* name, const QByteArray& file, const QString& options,
                    const QStringList& boxes, const QString& server, const QByteArray& after,
                    const QString& flags, const QString& times, const QStringList& rows) {
      QTest::newRow(name) << file << options << boxes << server << QString() << after << flags
                          << times << rows;
    };
    auto refused = [](const char* name, const QStringList& boxes, const QString& server,
                      const QString& message, const QString& options = "000") {
      QTest::newRow(name) << option({"whois_no=1", "whois_server_1=" + OLD}) << options << boxes
                          << server << message << QByteArray() << QString() << QString()
                          << QStringList();
    };

    saved("defaults on a missing file", QByteArray(), "000", def, B + CRLF,
          option(written("000", def) + QStringList{"whois_server_1=" + B, "whois_no=1"}), "YYY",
          "0,5,0", {B});
    saved("否 written as 0", QByteArray(), "111", def, L1,
          option(written("111", def) + QStringList{"whois_server_1=" + L1, "whois_no=1"}), "NNN",
          "0,5,0", {L1});
    saved("intervals stored as typed, used rounded", QByteArray(), "000", {"1.5", " 7 ", "-0.4"},
          L1,
          option(written("000", {"1.5", " 7 ", "-0.4"}) +
                 QStringList{"whois_server_1=" + L1, "whois_no=1"}),
          "YYY", "2,7,0", {L1});
    saved("intervals at the 16-bit limit", QByteArray(), "000", {"32767", "0", "+00"}, L1,
          option(written("000", {"32767", "0", "+00"}) +
                 QStringList{"whois_server_1=" + L1, "whois_no=1"}),
          "YYY", "32767,0,0", {L1});
    saved("blank lines dropped, lines trimmed and renumbered", QByteArray(), "000", def,
          "  " + L1 + "  \r\n\r\n   \r\n" + L2 + "\r\n",
          option(written("000", def) +
                 QStringList{"whois_server_1=" + L1, "whois_server_2=" + L2, "whois_no=2"}),
          "YYY", "0,5,0", {L1, L2});
    saved("other keys kept, keys of a longer list left",
          option({"intTimeZone=8", "whois_no=3", "whois_server_1=" + L1, "whois_server_2=" + L2,
                  "whois_server_3=" + L3}) +
              "[other]\r\nk=v\r\n",
          "000", def, L3,
          option(QStringList{"intTimeZone=8", "whois_no=1", "whois_server_1=" + L3,
                             "whois_server_2=" + L2, "whois_server_3=" + L3} +
                 written("000", def)) +
              "[other]\r\nk=v\r\n",
          "YYY", "0,5,0", {L3});
    saved("否 with an empty box: servers untouched", option({"whois_no=1", "whois_server_1=" + L1}),
          "100", def, "",
          option(QStringList{"whois_no=1", "whois_server_1=" + L1} + written("100", def)), "NYY",
          "0,5,0", {OLD});
    saved("only line breaks: whois_no 0, table kept",
          option({"whois_no=2", "whois_server_1=" + L1, "whois_server_2=" + L2}), "000", def,
          "\r\n\r\n",
          option(QStringList{"whois_no=0", "whois_server_1=" + L1, "whois_server_2=" + L2} +
                 written("000", def)),
          "YYY", "0,5,0", {OLD});
    saved("pieces after the ninth kept in the line", QByteArray(), "000", def,
          L2 + "|||20|||4|||busy|||x",
          option(written("000", def) +
                 QStringList{"whois_server_1=" + L2 + "|||20|||4|||busy|||x", "whois_no=1"}),
          "YYY", "0,5,0", {L2});
    {
      // Rate and parallel: positive numbers, or a rate of 0 (one at a time);
      // both may be left out, also when a ninth field follows.
      const QString rated = L1 + "|||0.5|||1", zero = L2 + "|||0|||",
                    ninth = L3 + "|||||||||频率过快";
      saved("rate and parallel", QByteArray(), "000", def, rated + CRLF + zero + CRLF + ninth,
            option(written("000", def) + QStringList{"whois_server_1=" + rated,
                                                     "whois_server_2=" + zero,
                                                     "whois_server_3=" + ninth, "whois_no=3"}),
            "YYY", "0,5,0", {L1, L2, L3});
      // RDAP rows use neither the port nor the markers.
      const QString rdap =
          ".com|||https://rdap.verisign.com/com/v1/" + QString(15, u'|') + "20|||4";
      saved("RDAP row without port and markers", QByteArray(), "000", def, rdap,
            option(written("000", def) + QStringList{"whois_server_1=" + rdap, "whois_no=1"}),
            "YYY", "0,5,0", {".com|||https://rdap.verisign.com/com/v1/" + QString(12, u'|')});
    }
    {
      const QString a = ".a|||h|||0|||x|||y|||", b = ".b|||h|||65535|||x|||y|||";
      saved("ports 0 and 65535", QByteArray(), "000", def, a + CRLF + b,
            option(written("000", def) +
                   QStringList{"whois_server_1=" + a, "whois_server_2=" + b, "whois_no=2"}),
            "YYY", "0,5,0", {a, b});
      const QString blanks = ".c|||h||| 43 |||x|||y|||";
      saved("port with blanks around it", QByteArray(), "000", def, blanks,
            option(written("000", def) + QStringList{"whois_server_1=" + blanks, "whois_no=1"}),
            "YYY", "0,5,0", {blanks});
      const QString longest = ".com|||h|||43|||x|||y|||" + QString(1023 - 24, u'z');
      saved("a line of 1023 bytes", QByteArray(), "000", def, longest,
            option(written("000", def) + QStringList{"whois_server_1=" + longest, "whois_no=1"}),
            "YYY", "0,5,0", {longest});
      refused("a line of 1024 bytes", def, longest + "z", MLONG);
    }

    refused("whois_time not numeric", {"abc", "5", "0"}, L1, M1);
    refused("whois_time empty", {"", "5", "0"}, L1, M1);
    refused("whois_time negative", {"-1", "5", "0"}, L1, M1);
    refused("whois_time rounding to -1", {"-0.6", "5", "0"}, L1, M1);
    refused("whois_time above 16 bits", {"32768", "5", "0"}, L1, M1);
    refused("the first failing check wins", {"x", "y", "z"}, "", M1);
    refused("whois_timeout not numeric", {"0", "5s", "0"}, L1, M2);
    refused("whois_timeout below 16 bits", {"0", "-40000", "0"}, L1, M2);
    refused("whois_time2 negative", {"0", "5", "-2"}, L1, M3);
    refused("是 with an empty box", def, "", M4);
    refused("是 with blanks only", def, "   ", M4);
    refused("five fields", def, ".com|||host|||43|||No match for|||Expiration Date: ", M5);
    refused("suffix without a dot", def, "com|||a.b|||43|||x|||y|||z", M5);
    refused("no dot at all", def, "com|||a|||43|||x|||y|||z", M5);
    refused("no separator", def, "example.com host 43", M5);
    refused("good line, then a bad one", def, L1 + CRLF + "  \r\n.net|||h|||43", M5);
    refused("bad lines are found before bad ports", def, ".a|||h|||x|||m|||e|||\r\n.b|||h", M5,
            "100");
    refused("port not a number", def, ".com|||h|||4a3|||x|||y|||", MPORT);
    refused("port above 65535", def, L1 + CRLF + ".com|||h|||65536|||x|||y|||", MPORT);
    refused("port negative", def, ".com|||h|||-1|||x|||y|||", MPORT);
    refused("port empty", def, ".com|||h||||||x|||y|||", MPORT);
    refused("port with a sign", def, ".com|||h|||+43|||x|||y|||", MPORT);
    refused("port with a tab", def, ".com|||h|||\t43|||x|||y|||", MPORT);
    refused("empty deleted marker", def, L1 + CRLF + ".net|||h|||43||||||y|||", MMARK);
    refused("deleted marker of spaces", def, ".net|||h|||43|||   |||y|||", MMARK);
    refused("bad ports are found before empty markers", def,
            ".a|||h||||||||||||\r\n.b|||h|||x|||m|||e|||", MPORT);
    refused("rate not a number", def, L1 + "|||fast|||4", MRATE);
    refused("rate negative", def, L1 + "|||-1|||4", MRATE);
    refused("parallel 0", def, L1 + "|||20|||0", MRATE);
    refused("parallel a fraction", def, L1 + "|||20|||1.5", MRATE);
    refused("rate without parallel", def, L1 + "|||20", MRATE);
    refused("parallel without rate", def, L1 + "||||||4", MRATE);
  }
  void save() {
    QFETCH(QByteArray, file);
    QFETCH(QString, options);
    QFETCH(QStringList, boxes);
    QFETCH(QString, server);
    QFETCH(QString, message);
    QFETCH(QByteArray, after);
    QFETCH(QString, flags);
    QFETCH(QString, times);
    QFETCH(QStringList, rows);

    if (!file.isNull()) QVERIFY(writeFile(path(), file));
    SettingsDialogState dialog;
    dialog.check_whois = options[0].digitValue();
    dialog.whois_after_reg = options[1].digitValue();
    dialog.save_log = options[2].digitValue();
    dialog.whois_time = boxes[0];
    dialog.whois_timeout = boxes[1];
    dialog.whois_time2 = boxes[2];
    dialog.whois_server = server;
    Settings settings = before();
    ScriptedPrompter prompter;

    const bool ok = saveSettings(dialog, settings, path(), prompter);

    if (!message.isEmpty()) {
      QVERIFY(!ok);
      QCOMPARE(prompter.messages(), QStringList{message});
      QCOMPARE(readFile(path()), file);
      QVERIFY(settings.whois_servers == before().whois_servers);
      QCOMPARE(fixture::flags(settings), fixture::flags(before()));
      QCOMPARE(fixture::times(settings), fixture::times(before()));
      return;
    }
    QVERIFY(ok);
    QCOMPARE(prompter.messages(), QStringList());
    QCOMPARE(readFile(path()), after);
    QCOMPARE(fixture::flags(settings), flags);
    QCOMPARE(fixture::times(settings), times);
    QCOMPARE(fixture::rows(settings), rows);
    QCOMPARE(int(settings.intTimeZone), 8);  // never written, never changed

    // What was saved loads back as it was shown.
    Settings loaded;
    SettingsDialogState shown;
    loadSettings(path(), loaded, shown);
    QCOMPARE(fixture::flags(loaded), flags);
    QCOMPARE(fixture::times(loaded), times);
    if (rows != QStringList{OLD}) QCOMPARE(fixture::rows(loaded), rows);  // else the table was kept
  }

  // A first start creates the settings file and the first save fills it;
  // with the usual umask it stays its owner's alone.
  void firstStartThenSaveLeavesTheFileOwnerOnly() {
    const mode_t oldMask = ::umask(022);
    Settings settings;
    SettingsDialogState dialog;
    loadSettings(path(), settings, dialog);
    struct stat created {};
    const bool exists = ::stat(QFile::encodeName(path()).constData(), &created) == 0;
    dialog.whois_server = L1;
    ScriptedPrompter prompter;
    const bool ok = saveSettings(dialog, settings, path(), prompter);
    ::umask(oldMask);
    QVERIFY(exists);
    QCOMPARE(int(created.st_mode & 07777), 0600);
    QVERIFY(ok);
    QVERIFY(readFile(path()).contains(gb("whois_server_1=" + L1)));
    struct stat saved {};
    QCOMPARE(::stat(QFile::encodeName(path()).constData(), &saved), 0);
    QCOMPARE(int(saved.st_mode & 07777), 0600);
  }

  // The warming and timed-start boxes: checked after the WHOIS ones, each
  // with its own message, written as typed and used as read.
  void saveOptionKeys_data() {
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("whoisTime");
    QTest::addColumn<QString>("message");  // empty: saved
    QTest::addColumn<QStringList>("values");

    const QString MCONN = QStringLiteral("预热连接数只能为0到64之间的整数！");
    const QString MINT = QStringLiteral("预热间隔只能为1到3600之间的整数（秒）！");
    const QString MURL = QStringLiteral("预热地址只能为空或 http、https 网址！");
    const QString MLEAD = QStringLiteral("定时提前只能为0到5000之间的整数（毫秒）！");
    const QString MTIME = QStringLiteral("时间服务器只能为空或 主机名[:端口]！");
    auto saved = [](const char* name, const QStringList& boxes, const QStringList& values) {
      QTest::newRow(name) << boxes << "0" << QString() << values;
    };
    auto refused = [](const char* name, const QStringList& boxes, const QString& message,
                      const QString& whoisTime = "0") {
      QTest::newRow(name) << boxes << whoisTime << message << QStringList();
    };
    saved("lowest", {"0", "1", "", "0", ""}, {"0", "1", "", "0", ""});
    saved("highest, an https URL and an IPv6 server with port",
          {"64", "3600", "https://reg.example.com/ping", "5000", "[::1]:1123"},
          {"64", "3600", "https://reg.example.com/ping", "5000", "[::1]:1123"});
    saved("leading zeros, a host with port",
          {"007", "15", "http://127.0.0.1:8080/", "050", "127.0.0.1:123"},
          {"7", "15", "http://127.0.0.1:8080/", "50", "127.0.0.1:123"});
    refused("the WHOIS checks come first", {"x", "15", "", "0", ""}, M1, "x");
    refused("connections 65", {"65", "15", "", "0", ""}, MCONN);
    refused("connections empty", {"", "15", "", "0", ""}, MCONN);
    refused("connections with a sign", {"+4", "15", "", "0", ""}, MCONN);
    refused("interval 0", {"4", "0", "", "0", ""}, MINT);
    refused("interval with a fraction", {"4", "1.5", "", "0", ""}, MINT);
    refused("URL of another scheme", {"4", "15", "ftp://reg.example/", "0", ""}, MURL);
    refused("URL without host", {"4", "15", "https://", "0", ""}, MURL);
    refused("URL that is no URL", {"4", "15", "reg example", "0", ""}, MURL);
    refused("lead 5001", {"4", "15", "", "5001", ""}, MLEAD);
    refused("lead negative", {"4", "15", "", "-1", ""}, MLEAD);
    refused("lead beyond 32 bits", {"4", "15", "", "99999999999", ""}, MLEAD);
    refused("time server port 0", {"4", "15", "", "0", "ntp.example:0"}, MTIME);
    refused("time server port 65536", {"4", "15", "", "0", "ntp.example:65536"}, MTIME);
    refused("time server with a blank", {"4", "15", "", "0", "ntp example"}, MTIME);
    refused("time server with a scheme", {"4", "15", "", "0", "udp://ntp.example"}, MTIME);
    refused("the first failing box wins", {"4", "0", "ftp://x/", "-1", "a b"}, MINT);
  }
  void saveOptionKeys() {
    QFETCH(QStringList, boxes);
    QFETCH(QString, whoisTime);
    QFETCH(QString, message);
    QFETCH(QStringList, values);
    SettingsDialogState dialog;
    dialog.whois_time = whoisTime;
    setOptionBoxes(dialog, boxes);
    Settings settings;
    ScriptedPrompter prompter;
    const bool ok = saveSettings(dialog, settings, path(), prompter);
    if (!message.isEmpty()) {
      QVERIFY(!ok);
      QCOMPARE(prompter.messages(), QStringList{message});
      QVERIFY(!QFile::exists(path()));
      QCOMPARE(optionValues(settings), optionValues(Settings()));
      return;
    }
    QVERIFY(ok);
    QCOMPARE(optionValues(settings), values);
    QCOMPARE(readFile(path()), option(written("000", {"0", "5", "0"}, boxes) +
                                      QStringList{"whois_server_1=" + B, "whois_no=1"}));
    Settings loaded;
    SettingsDialogState shown;
    loadSettings(path(), loaded, shown);
    QCOMPARE(optionValues(loaded), values);
    QCOMPARE((QStringList{shown.warm_connections, shown.warm_interval, shown.warm_url,
                          shown.timed_lead_ms, shown.time_server}),
             boxes);
    QCOMPARE(loaded.problems, QStringList());
  }

  // The log file and webhook keys: written when set or when the file had
  // them, read back at the next start; a webhook that cannot be sent, or a
  // value the load would cut, is refused.
  void logAndNotifyKeys_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("values");  // log_file, notify_url, notify_body
    QTest::addColumn<QString>("message");     // empty: saved
    QTest::addColumn<QStringList>("keysAfter");
    const QByteArray plain = option({"whois_no=1", "whois_server_1=" + L1});
    QTest::newRow("set") << plain
                         << QStringList{"logs/run.log", "https://api.example/hook?d={{{domain}}}",
                                        "{\"text\":\"{{{reply}}}\"}"}
                         << QString()
                         << QStringList{"log_file=logs/run.log",
                                        "notify_url=https://api.example/hook?d={{{domain}}}",
                                        "notify_body={\"text\":\"{{{reply}}}\"}"};
    QTest::newRow("unused: no keys")
        << plain << QStringList{"", "", ""} << QString() << QStringList{};
    QTest::newRow("cleared: emptied")
        << option({"whois_no=1", "whois_server_1=" + L1, "notify_url=http://h/x"})
        << QStringList{"", "", ""} << QString() << QStringList{"notify_url="};
    QTest::newRow("not http")
        << plain << QStringList{"", "mailto:me@example.com", ""}
        << "通知地址有误，须为 http 或 https 地址，不发送通知：mailto:me@example.com"
        << QStringList{};
    QTest::newRow("unknown placeholder")
        << plain << QStringList{"", "http://h/x", "t={{{text}}}"}
        << "通知模板中的占位符 {{{text}}} 未知，请检查！" << QStringList{};
    QTest::newRow("body too long") << plain << QStringList{"", "http://h/x", QString(1024, u'b')}
                                   << "通知内容过长，不能超过1023字节，请检查！" << QStringList{};
  }
  void logAndNotifyKeys() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, values);
    QFETCH(QString, message);
    QFETCH(QStringList, keysAfter);
    QVERIFY(writeFile(path(), file));
    SettingsDialogState dialog;
    dialog.whois_server = L1;
    dialog.log_file = values[0];
    dialog.notify_url = values[1];
    dialog.notify_body = values[2];
    Settings settings = before();
    ScriptedPrompter prompter;
    const bool ok = saveSettings(dialog, settings, path(), prompter);
    if (!message.isEmpty()) {
      QVERIFY(!ok);
      QCOMPARE(prompter.messages(), QStringList{message});
      QCOMPARE(readFile(path()), file);
      return;
    }
    QVERIFY(ok);
    QStringList keys;
    for (const QString& line : QString::fromUtf8(readFile(path())).split(CRLF))
      if (line.startsWith("log_file=") || line.startsWith("notify_")) keys << line;
    QCOMPARE(keys, keysAfter);
    Settings loaded;
    SettingsDialogState shown;
    loadSettings(path(), loaded, shown);
    QCOMPARE((QStringList{loaded.log_file, loaded.notify_url, loaded.notify_body}), values);
    QCOMPARE((QStringList{shown.log_file, shown.notify_url, shown.notify_body}), values);
  }

  // The file cannot be replaced (the file-size limit stops the write): a
  // clear message, the old file whole, the settings as they were.
  void failedWriteChangesNothing() {
    const QByteArray old = option({"whois_no=1", "whois_server_1=" + OLD});
    QVERIFY(writeFile(path(), old));
    SettingsDialogState dialog;
    QStringList lines;
    for (int i = 0; i < 6; ++i)
      lines << QStringLiteral(".t%1|||h|||43|||x|||y|||").arg(i) + QString(900, u'z');
    dialog.whois_server = lines.join(CRLF);
    Settings settings = before();
    ScriptedPrompter prompter;

    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = saveSettings(dialog, settings, path(), prompter);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(prompter.messages().size(), 1);
    QVERIFY2(prompter.messages()[0].startsWith(QStringLiteral("保存失败！")),
             qPrintable(prompter.messages()[0]));
    QCOMPARE(readFile(path()), old);
    QVERIFY(settings.whois_servers == before().whois_servers);
    QCOMPARE(fixture::flags(settings), fixture::flags(before()));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"zembrin.ini"});
  }

  void match_data() {
    QTest::addColumn<QStringList>("lines");  // "" stands for an empty row
    QTest::addColumn<QString>("domain");
    QTest::addColumn<int>("expected");
    const QString cn = ".com,.net|||host|||43|||No match for|||Expiration Date: |||";
    QTest::newRow("example.net") << QStringList{cn} << "example.net" << 0;
    QTest::newRow("spaces around the domain") << QStringList{cn} << "  example.com " << 0;
    QTest::newRow("case matters") << QStringList{cn} << "example.NET" << -1;
    QTest::newRow("suffix from the first dot") << QStringList{cn} << "a.example.com" << -1;
    QTest::newRow("whole entries only") << QStringList{cn} << "example.com.cn" << -1;
    QTest::newRow("a prefix of an entry is no match") << QStringList{cn} << "example.co" << -1;
    QTest::newRow("longer suffix in a later row")
        << QStringList{cn, ".com.cn|||h2|||43|||x|||y|||"} << "example.com.cn" << 1;
    QTest::newRow("a space belongs to the suffix")
        << QStringList{".com, .net|||h|||43|||x|||y|||"} << "example.net" << -1;
    QTest::newRow("the entry before the space still matches")
        << QStringList{".com, .net|||h|||43|||x|||y|||"} << "example.com" << 0;
    QTest::newRow("first of two rows wins")
        << QStringList{".net|||first|||43|||x|||y|||", cn} << "example.net" << 0;
    QTest::newRow("empty rows are passed over") << QStringList{"", "", cn} << "example.com" << 2;
    QTest::newRow("no dot: the name is its own suffix")
        << QStringList{"localhost|||h|||43|||x|||y|||"} << "localhost" << 0;
    QTest::newRow("trailing dot") << QStringList{cn} << "example.com." << -1;
    QTest::newRow("no row matches") << QStringList{cn} << "example.org" << -1;
  }
  void match() {
    QFETCH(QStringList, lines);
    QFETCH(QString, domain);
    QFETCH(int, expected);
    QList<ServerRow> rows;
    for (const QString& l : lines) rows << (l.isEmpty() ? ServerRow{} : row(l));
    QCOMPARE(matchServerRow(rows, domain), expected);
  }

  void rowFromLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("optional");  // rate, parallel, limited text
    const QStringList none{"", "", ""};
    QTest::newRow("six, the last empty")
        << "a|||b|||c|||d|||e|||" << true << QStringList{"a", "b", "c", "d", "e", ""} << none;
    QTest::newRow("seven") << " a |||b|||c|||d|||e|||f|||g" << true
                           << QStringList{" a ", "b", "c", "d", "e", "f"}
                           << QStringList{"g", "", ""};
    QTest::newRow("ten") << "a|||b|||c|||d|||e|||f|||20|||4|||busy|||x" << true
                         << QStringList{"a", "b", "c", "d", "e", "f"}
                         << QStringList{"20", "4", "busy"};
    QTest::newRow("five") << "a|||b|||c|||d|||e" << false << QStringList{"", "", "", "", "", ""}
                          << none;
    QTest::newRow("empty") << "" << false << QStringList{"", "", "", "", "", ""} << none;
  }
  void rowFromLine() {
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, optional);
    bool got = !ok;
    const ServerRow r = serverRowFromLine(line, &got);
    QCOMPARE(got, ok);
    QCOMPARE(
        (QStringList{r.suffixes, r.server, r.port, r.deleted_mark, r.expiry_head, r.expiry_tail}),
        fields);
    QCOMPARE((QStringList{r.rate, r.parallel, r.limited_mark}), optional);
  }

  // One rule for the rate fields, read the same by the save and the monitor.
  void queryPace_data() {
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("parallel");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("perSecond");  // 0: one at a time
    QTest::addColumn<int>("inFlight");
    QTest::newRow("absent") << ""
                            << "" << true << 0.0 << 1;
    QTest::newRow("rate 0") << "0"
                            << "" << true << 0.0 << 1;
    QTest::newRow("rate 0.0, parallel 8") << "0.0"
                                          << "8" << true << 0.0 << 1;
    QTest::newRow("20 / 4") << "20"
                            << "4" << true << 20.0 << 4;
    QTest::newRow("spaces") << " 2.5 "
                            << " 3 " << true << 2.5 << 3;
    QTest::newRow("half") << ".5"
                          << "1" << true << 0.5 << 1;
    QTest::newRow("sign") << "+20"
                          << "4" << false << 0.0 << 1;
    QTest::newRow("exponent") << "1e3"
                              << "4" << false << 0.0 << 1;
    QTest::newRow("parallel too large") << "20"
                                        << "99999999999" << false << 0.0 << 1;
    QTest::newRow("parallel negative") << "20"
                                       << "-4" << false << 0.0 << 1;
    QTest::newRow("rate 0, parallel 0") << "0"
                                        << "0" << false << 0.0 << 1;
  }
  void queryPace() {
    QFETCH(QString, rate);
    QFETCH(QString, parallel);
    QFETCH(bool, valid);
    QFETCH(double, perSecond);
    QFETCH(int, inFlight);
    ServerRow r = row(L1);
    r.rate = rate;
    r.parallel = parallel;
    const whois::QueryPace p = whois::queryPace(r);
    QCOMPARE(p.valid, valid);
    QCOMPARE(p.rate, perSecond);
    QCOMPARE(p.parallel, inFlight);
    QCOMPARE(p.isParallel(), perSecond > 0);
  }

  // The real dialog, offscreen: edits reach the state at once, survive a
  // close without saving, and a save checks, writes and hides.
  void dialogKeepsEditsAndSaves() {
    Settings settings;
    SettingsDialogState state;
    state.whois_timeout = QStringLiteral("9");  // as a load would leave it
    ScriptedPrompter prompter;
    SettingsDialog dlg(state, settings, path(), prompter);
    QVERIFY(dlg.isHidden());
    QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);

    QStringList texts;
    for (const QLabel* l : dlg.findChildren<QLabel*>()) texts << l->text();
    for (const QAbstractButton* b : dlg.findChildren<QAbstractButton*>()) texts << b->text();
    for (const char* t :
         {"Whois服务器设置，可多行，多个域名用,分隔",
          "格式：域名类型|||服务器地址|||端口|||已删除特征|||到期时间头特征|||到期时间尾特征"
          "[|||每秒查询数|||同时查询数]",
          "检测Whois后再注册", "Whois检测时间间隔", "超时", "保存日志", "注册后是否继续 whois 查询",
          "间隔", "预热连接数", "预热间隔", "预热地址", "时间服务器", "定时提前", "毫秒", "保 存",
          "退 出"})
      QVERIFY2(texts.contains(QString::fromUtf8(t)), t);
    QCOMPARE(texts.count(QStringLiteral("秒")), 4);
    QCOMPARE(texts.count(QStringLiteral("是")), 3);
    QCOMPARE(texts.count(QStringLiteral("否")), 3);

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QPoint screenCentre = dlg.screen()->availableGeometry().center();
    QVERIFY((dlg.frameGeometry().center() - screenCentre).manhattanLength() <= 2);

    auto* time = dlg.findChild<QLineEdit*>("whois_time");
    auto* timeout = dlg.findChild<QLineEdit*>("whois_timeout");
    auto* server = dlg.findChild<QPlainTextEdit*>("whois_server");
    auto* logYes = dlg.findChild<QRadioButton*>("save_log_0");
    auto* logNo = dlg.findChild<QRadioButton*>("save_log_1");
    auto* save = dlg.findChild<QPushButton*>("Command1");
    auto* exit = dlg.findChild<QPushButton*>("Command2");
    QVERIFY(time && timeout && server && logYes && logNo && save && exit);
    QCOMPARE(timeout->text(), QStringLiteral("9"));
    QCOMPARE(server->toPlainText(), B + "\n");
    QVERIFY(logYes->isChecked());

    time->selectAll();
    QTest::keyClicks(time, "12");
    QCOMPARE(state.whois_time, QStringLiteral("12"));
    QTest::mouseClick(logNo, Qt::LeftButton);
    QCOMPARE(state.save_log, 1);
    QVERIFY(!logYes->isChecked());
    server->moveCursor(QTextCursor::End);
    QTest::keyClicks(server, L1);
    QTest::keyClick(server, Qt::Key_Return);
    QTest::keyClicks(server, L2);
    QCOMPARE(state.whois_server, B + CRLF + L1 + CRLF + L2);
    auto* timeServer = dlg.findChild<QLineEdit*>("time_server");
    QVERIFY(timeServer);
    QCOMPARE(timeServer->text(), QStringLiteral("ntp.aliyun.com"));
    timeServer->selectAll();
    QTest::keyClicks(timeServer, "127.0.0.1:1123");
    QCOMPARE(state.time_server, QStringLiteral("127.0.0.1:1123"));

    QTest::mouseClick(exit, Qt::LeftButton);
    QVERIFY(dlg.isHidden());
    QVERIFY(!QFile::exists(path()));
    QCOMPARE(fixture::rows(settings), QStringList{B});
    QCOMPARE(fixture::flags(settings), QString("YYN"));
    QCOMPARE(state.whois_time, QStringLiteral("12"));

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(time->text(), QStringLiteral("12"));
    QVERIFY(logNo->isChecked());
    QCOMPARE(server->toPlainText(), B + "\n" + L1 + "\n" + L2);

    time->selectAll();
    QTest::keyClicks(time, "x");
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(prompter.messages(), QStringList{M1});
    QVERIFY(dlg.isVisible());
    QVERIFY(!QFile::exists(path()));

    time->selectAll();
    QTest::keyClicks(time, "12");
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(dlg.isHidden());
    QCOMPARE(prompter.messages(), QStringList{M1});
    QCOMPARE(fixture::flags(settings), QString("YYN"));
    QCOMPARE(fixture::times(settings), QString("12,9,0"));
    QCOMPARE(fixture::rows(settings), (QStringList{B, L1, L2}));
    QCOMPARE(settings.time_server, QStringLiteral("127.0.0.1:1123"));
    QCOMPARE(readFile(path()),
             option(written("001", {"12", "9", "0"}, {"4", "15", "", "0", "127.0.0.1:1123"}) +
                    QStringList{"whois_server_1=" + B, "whois_server_2=" + L1,
                                "whois_server_3=" + L2, "whois_no=3"}));
  }

  // The picture drags the captionless dialog with the left button only.
  void dragByPicture() {
    Settings settings;
    SettingsDialogState state;
    ScriptedPrompter prompter;
    SettingsDialog dlg(state, settings, path(), prompter);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QWidget* picture = dlg.findChild<QWidget*>("Image1");
    QVERIFY(picture);

    const QPoint start = dlg.pos();
    QTest::mousePress(picture, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseMove(picture, QPoint(70, 50));
    QTest::mouseRelease(picture, Qt::RightButton, {}, QPoint(70, 50));
    QCOMPARE(dlg.pos(), start);

    QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(picture, QPoint(70, 50));
    QTest::mouseRelease(picture, Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(dlg.pos(), start + QPoint(50, 30));
  }
};

QTEST_MAIN(TestSettingsSave)
#include "tst_settings_save.moc"
