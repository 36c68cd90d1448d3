#include "settings/SettingsStore.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cmath>

#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/Log.h"
#include "platform/Prompter.h"
#include "platform/Sntp.h"
#include "report/Webhook.h"
#include "settings/IniFile.h"
#include "task/VariableTables.h"
#include "whois/ServerTable.h"
#include "whois/Verdict.h"

namespace {

const QString kSection = QStringLiteral("option");

// A decimal number taken apart: sign, digits before and after the point.
struct Decimal {
  bool negative = false;
  QString whole;
  QString fraction;
  bool isZero() const {
    for (const QChar c : whole + fraction)
      if (c != u'0') return false;
    return true;
  }
  // The value as a double. Only values near the 16-bit range matter, so a
  // whole part of more than six digits stands for "far out of range", and
  // fraction digits beyond 30 change nothing that matters.
  double value() const {
    qsizetype lead = 0;
    while (lead < whole.size() && whole[lead] == u'0') ++lead;
    if (whole.size() - lead > 6) return negative ? -1e9 : 1e9;
    const QString text = (negative ? QStringLiteral("-") : QString()) +
                         (whole.isEmpty() ? QStringLiteral("0") : whole.mid(lead)) + u'.' +
                         fraction.left(30) + u'0';
    return text.toDouble();  // QString::toDouble always reads a '.' point
  }
};

std::optional<Decimal> parseDecimal(const QString& text) {
  qsizetype i = 0, end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;
  Decimal d;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) d.negative = text[i++] == u'-';
  auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
  const qsizetype wholeStart = i;
  while (i < end && isDigit(text[i])) ++i;
  d.whole = text.mid(wholeStart, i - wholeStart);
  if (i < end && text[i] == u'.') {
    const qsizetype fracStart = ++i;
    while (i < end && isDigit(text[i])) ++i;
    d.fraction = text.mid(fracStart, i - fracStart);
  }
  if (i != end || (d.whole.isEmpty() && d.fraction.isEmpty())) return std::nullopt;
  return d;
}

// Nearest integer, a half going to the even neighbour.
double roundHalfEven(double v) {
  const double f = std::floor(v);
  const double diff = v - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// A yes/no key: empty or not numeric counts as missing.
std::optional<bool> readFlag(classIniFile& ini, const QString& key) {
  const std::optional<Decimal> d = parseDecimal(ini.GetIniKey(kSection, key));
  if (!d) return std::nullopt;
  return !d->isZero();
}

void loadFlag(classIniFile& ini, const QString& key, bool& setting, int& option) {
  if (const std::optional<bool> v = readFlag(ini, key)) {
    setting = *v;
    option = *v ? 0 : 1;
  } else if (const QString text = ini.GetIniKey(kSection, key); !text.isEmpty()) {
    qCInfo(lcSettings).noquote() << key << "=" << text << "is not a number; the default applies";
  }
  // Missing: the setting keeps its default, the option buttons stay as they are.
}

void loadInterval(classIniFile& ini, const QString& key, qint16 fallback, qint16& setting,
                  QString& box) {
  const QString text = ini.GetIniKey(kSection, key);
  if (const std::optional<qint16> v = toInt16(text)) {
    box = text;
    setting = *v;
  } else {
    if (!text.isEmpty())
      qCInfo(lcSettings).noquote()
          << key << "=" << text << "is not a 16-bit number; using" << fallback;
    box = QString::number(fallback);
    setting = fallback;
  }
}

// 0 or a positive 16-bit value.
bool validInterval(const QString& text) {
  const std::optional<qint16> v = toInt16(text);
  return v && *v >= 0;
}

// A whole number from min to max: decimal digits only, leading zeros allowed.
bool readWholeNumber(const QString& text, int min, int max, int& out) {
  const QString digits = textrules::trimSpaces(text);
  if (digits.isEmpty()) return false;
  for (const QChar c : digits)
    if (c < u'0' || c > u'9') return false;
  qsizetype lead = 0;
  while (lead < digits.size() - 1 && digits[lead] == u'0') ++lead;
  if (digits.size() - lead > 9) return false;  // far beyond any range here
  const int value = digits.mid(lead).toInt();
  if (value < min || value > max) return false;
  out = value;
  return true;
}

bool isHttpUrl(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

// The settings of [option] beyond the WHOIS ones: the rule of each in one
// place, for the load and the dialog's save. An empty text breaks the rule
// of a number and keeps the default of a text.
struct OptionKey {
  const char* key;
  QString SettingsDialogState::*box;
  const char16_t* rule;  // the save's message when the text breaks the rule
  // Sets the setting from the text; false (nothing set) when it breaks the rule.
  bool (*read)(const QString& text, Settings& settings);
};

const OptionKey kOptionKeys[] = {
    {"warm_connections", &SettingsDialogState::warm_connections,
     u"预热连接数只能为0到64之间的整数！",
     [](const QString& t, Settings& s) { return readWholeNumber(t, 0, 64, s.warm_connections); }},
    {"warm_interval", &SettingsDialogState::warm_interval,
     u"预热间隔只能为1到3600之间的整数（秒）！",
     [](const QString& t, Settings& s) { return readWholeNumber(t, 1, 3600, s.warm_interval); }},
    {"warm_url", &SettingsDialogState::warm_url, u"预热地址只能为空或 http、https 网址！",
     [](const QString& t, Settings& s) {
       const QString url = textrules::trimSpaces(t);
       if (!url.isEmpty() && !isHttpUrl(url)) return false;
       s.warm_url = url;
       return true;
     }},
    {"timed_lead_ms", &SettingsDialogState::timed_lead_ms,
     u"定时提前只能为0到5000之间的整数（毫秒）！",
     [](const QString& t, Settings& s) { return readWholeNumber(t, 0, 5000, s.timed_lead_ms); }},
    {"time_server", &SettingsDialogState::time_server, u"时间服务器只能为空或 主机名[:端口]！",
     [](const QString& t, Settings& s) {
       const QString server = textrules::trimSpaces(t);
       if (!server.isEmpty() && !platform::parseTimeServer(server)) return false;
       s.time_server = server;
       return true;
     }},
};

// A missing key, or an empty number, keeps the default silently; a value
// that breaks its rule keeps it too and is named once.
void loadOptionKeys(classIniFile& ini, Settings& settings, SettingsDialogState& dialog) {
  const SettingsDialogState defaultBoxes;
  for (const OptionKey& k : kOptionKeys) {
    const QString key = QString::fromLatin1(k.key);
    if (!ini.HasIniKey(kSection, key)) continue;
    const QString text = ini.GetIniKey(kSection, key);
    if (k.read(text, settings)) {
      dialog.*k.box = text;
      continue;
    }
    if (text.isEmpty()) continue;
    const QString fallback = defaultBoxes.*k.box;
    settings.problems << QStringLiteral("设置文件中 %1=%2 有误：%3已使用默认值%4")
                             .arg(key, text, QString::fromUtf16(k.rule),
                                  fallback.isEmpty() ? QStringLiteral("（空）") : u' ' + fallback);
    k.read(fallback, settings);
    dialog.*k.box = fallback;
  }
}

}  // namespace

QString settingsPathFor(const QString& programDir, const QString& xdgConfigHome,
                        const QString& home) {
  const QString beside = programDir + QStringLiteral("/zembrin.ini");
  if (QFileInfo::exists(beside)) return beside;
  static const QStringList systemFolders{
      QStringLiteral("/usr/bin"),
      QStringLiteral("/bin"),
      QStringLiteral("/usr/sbin"),
      QStringLiteral("/sbin"),
      QStringLiteral("/usr/local/bin"),
      QStringLiteral("/usr/local/sbin"),
      QStringLiteral("/usr/games"),
#ifdef ZEMBRIN_INSTALL_BINDIR
      QStringLiteral(ZEMBRIN_INSTALL_BINDIR),
#endif
  };
  const QString folder = QDir::cleanPath(programDir);
  // access() rather than the mode bits: it also answers for root, ACLs and
  // read-only mounts.
  if (!systemFolders.contains(folder) && ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
    return beside;
  const QString base =
      QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome : home + QStringLiteral("/.config");
  return QDir::cleanPath(base + QStringLiteral("/zembrin/zembrin.ini"));
}

QString defaultSettingsPath() {
  const QString programDir = QCoreApplication::applicationDirPath();
  const QString path =
      settingsPathFor(programDir, qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
  if (QFileInfo(path).absolutePath() != QDir::cleanPath(programDir)) {
    // Private, as the XDG base directory rules ask of folders they make.
    QString made;
    for (const QString& part : QFileInfo(path).absolutePath().split(u'/', Qt::SkipEmptyParts)) {
      made += u'/' + part;
      if (::mkdir(QFile::encodeName(made).constData(), 0700) != 0 && errno != EEXIST) break;
    }
  }
  return path;
}

bool isNumeric(const QString& text) { return parseDecimal(text).has_value(); }

std::optional<qint16> toInt16(const QString& text) {
  const std::optional<Decimal> d = parseDecimal(text);
  if (!d) return std::nullopt;
  const double r = roundHalfEven(d->value());
  if (r < -32768 || r > 32767) return std::nullopt;
  return static_cast<qint16>(r);
}

void loadSettings(const QString& iniPath, Settings& settings, SettingsDialogState& dialog) {
  classIniFile ini;
  ini.INIFileName = iniPath;
  // An unwritable folder only means the defaults apply; nothing to report.
  ini.createIfMissing();
  settings = Settings{};

  loadFlag(ini, QStringLiteral("check_whois"), settings.check_whois, dialog.check_whois);
  loadFlag(ini, QStringLiteral("whois_after_reg"), settings.whois_after_reg,
           dialog.whois_after_reg);
  loadFlag(ini, QStringLiteral("save_log"), settings.save_log, dialog.save_log);

  const Settings defaults;
  loadInterval(ini, QStringLiteral("whois_time"), defaults.whois_time, settings.whois_time,
               dialog.whois_time);
  loadInterval(ini, QStringLiteral("whois_timeout"), defaults.whois_timeout, settings.whois_timeout,
               dialog.whois_timeout);
  loadInterval(ini, QStringLiteral("whois_time2"), defaults.whois_time2, settings.whois_time2,
               dialog.whois_time2);

  const QString zone = ini.GetIniKey(kSection, QStringLiteral("intTimeZone"));
  if (const std::optional<Decimal> d = parseDecimal(zone)) {
    // The range test looks at the number before it is rounded.
    const double v = d->value();
    if (v > -12 && v < 13)
      settings.intTimeZone = *toInt16(zone);
    else
      qCInfo(lcSettings).noquote() << "intTimeZone =" << zone << "is outside -12 to 13; using 0";
  }

  const QString countText = ini.GetIniKey(kSection, QStringLiteral("whois_no"));
  const std::optional<Decimal> countDecimal = parseDecimal(countText);
  const std::optional<qint16> count = toInt16(countText);
  if (countDecimal && !countDecimal->negative && !countDecimal->isZero() && count) {
    settings.whois_servers = QList<ServerRow>(*count);
    dialog.whois_server.clear();
    for (int i = 1; i <= *count; ++i) {
      const QString line = ini.GetIniKey(kSection, QStringLiteral("whois_server_%1").arg(i));
      bool ok = false;
      const ServerRow row = serverRowFromLine(line, &ok);
      if (!ok) {  // the row stays empty and never matches
        qCInfo(lcSettings).noquote()
            << "whois_server_" + QString::number(i) << "has fewer than six fields; skipped";
        continue;
      }
      dialog.whois_server += line + textrules::kCrLf;
      settings.whois_servers[i - 1] = row;
    }
    if (textrules::trimSpaces(dialog.whois_server).isEmpty()) {
      settings.whois_servers = {builtinServerRow()};
      dialog.whois_server = builtinServerLine();
    }
  }

  loadOptionKeys(ini, settings, dialog);
  settings.log_file = dialog.log_file = ini.GetIniKey(kSection, QStringLiteral("log_file"));
  settings.notify_url = dialog.notify_url = ini.GetIniKey(kSection, QStringLiteral("notify_url"));
  settings.notify_body = dialog.notify_body =
      ini.GetIniKey(kSection, QStringLiteral("notify_body"));

  installLineBreakTokens();
}

namespace {

// The dialog's WHOIS part: its three intervals and its server lines, which
// come back non-blank and trimmed, in order. The first problem's message,
// or an empty text.
QString whoisProblem(const SettingsDialogState& dialog, bool hasServers, QStringList& serverLines) {
  if (!validInterval(dialog.whois_time))
    return QStringLiteral("Whois检测时间间隔只能为0或正整数！");
  if (!validInterval(dialog.whois_timeout))
    return QStringLiteral("Whois超时时间间隔只能为0或正整数！");
  if (!validInterval(dialog.whois_time2))
    return QStringLiteral("注册后继续 whois 查询时间间隔只能为0或正整数！");
  if (dialog.check_whois == 0 && !hasServers) return QStringLiteral("请填写Whois服务器内容！");
  if (!hasServers) return QString();

  QList<ServerRow> rows;
  for (const QString& line : textrules::lines(dialog.whois_server)) {
    if (textrules::trimSpaces(line).isEmpty()) continue;
    const qsizetype firstSep = line.indexOf(textrules::kFieldSep);
    const qsizetype firstDot = line.indexOf(u'.');
    bool complete = false;
    serverRowFromLine(line, &complete);
    if (firstSep < 0 || firstDot < 0 || firstSep < firstDot || !complete)
      return QStringLiteral("Whois服务器内容有误，请检查！");
    serverLines << textrules::trimSpaces(line);
    rows << serverRowFromLine(serverLines.last(), nullptr);
  }
  // What the monitor could not use would only fail later, at every query
  // of a run (or, for a blank deleted marker, never fire). RDAP rows use
  // neither a port nor markers.
  for (const ServerRow& row : rows)
    if (!whois::isRdapServer(row.server) && whois::portNumber(row.port) < 0)
      return QStringLiteral("Whois服务器端口有误，请检查！");
  for (const ServerRow& row : rows)
    if (!whois::isRdapServer(row.server) && !whois::deletedMarkUsable(row.deleted_mark))
      return QStringLiteral("Whois服务器已删除特征不能为空，请检查！");
  for (const ServerRow& row : rows)
    if (!whois::queryPace(row).valid) return QStringLiteral("Whois服务器查询频率有误，请检查！");
  // The load reads at most 1023 bytes of a key; a longer line would come
  // back cut at the next start.
  for (const QString& line : serverLines)
    if (charsets::toGb18030(line).size() > classIniFile::kMaxValueBytes)
      return QStringLiteral("Whois服务器内容过长，每行不能超过1023字节，请检查！");
  return QString();
}

// The log file and the webhook, trimmed.
struct ReportKeys {
  QString log_file, notify_url, notify_body;
};

QString reportProblem(const ReportKeys& keys) {
  for (auto [value, name] : {std::pair{keys.log_file, QStringLiteral("日志文件")},
                             std::pair{keys.notify_url, QStringLiteral("通知地址")},
                             std::pair{keys.notify_body, QStringLiteral("通知内容")}}) {
    if (charsets::toGb18030(value).size() > classIniFile::kMaxValueBytes)
      return name + QStringLiteral("过长，不能超过1023字节，请检查！");
  }
  if (const QStringList problems = webhook::problems(keys.notify_url, keys.notify_body);
      !problems.isEmpty())
    return problems.first();
  return QString();
}

// The option keys beyond the WHOIS ones, read into `updated`.
QString optionKeysProblem(const SettingsDialogState& dialog, Settings& updated) {
  for (const OptionKey& k : kOptionKeys)
    if (!k.read(dialog.*k.box, updated)) return QString::fromUtf16(k.rule);
  return QString();
}

// The WHOIS flags and intervals.
void writeWhoisKeys(classIniFile& ini, const SettingsDialogState& dialog, Settings& updated) {
  auto flag = [](int option) { return option == 0 ? QStringLiteral("1") : QStringLiteral("0"); };
  ini.WriteIniKey(kSection, QStringLiteral("check_whois"), flag(dialog.check_whois));
  updated.check_whois = dialog.check_whois == 0;
  ini.WriteIniKey(kSection, QStringLiteral("whois_after_reg"), flag(dialog.whois_after_reg));
  updated.whois_after_reg = dialog.whois_after_reg == 0;
  ini.WriteIniKey(kSection, QStringLiteral("save_log"), flag(dialog.save_log));
  updated.save_log = dialog.save_log == 0;

  ini.WriteIniKey(kSection, QStringLiteral("whois_time"), dialog.whois_time);
  updated.whois_time = *toInt16(dialog.whois_time);
  ini.WriteIniKey(kSection, QStringLiteral("whois_timeout"), dialog.whois_timeout);
  updated.whois_timeout = *toInt16(dialog.whois_timeout);
  ini.WriteIniKey(kSection, QStringLiteral("whois_time2"), dialog.whois_time2);
  updated.whois_time2 = *toInt16(dialog.whois_time2);
}

// The server lines of the box; one holding only line breaks stores none and
// leaves the table in use as it is.
void writeServerLines(classIniFile& ini, const QStringList& serverLines, Settings& updated) {
  for (qsizetype i = 0; i < serverLines.size(); ++i)
    ini.WriteIniKey(kSection, QStringLiteral("whois_server_%1").arg(i + 1), serverLines[i]);
  ini.WriteIniKey(kSection, QStringLiteral("whois_no"), QString::number(serverLines.size()));
  if (serverLines.isEmpty()) return;
  updated.whois_servers.clear();
  for (const QString& line : serverLines) updated.whois_servers << serverRowFromLine(line, nullptr);
}

// A file that never used these keys stays without them.
void writeReportKeys(classIniFile& ini, const ReportKeys& keys, Settings& updated) {
  for (auto [key, value] : {std::pair{QStringLiteral("log_file"), keys.log_file},
                            std::pair{QStringLiteral("notify_url"), keys.notify_url},
                            std::pair{QStringLiteral("notify_body"), keys.notify_body}})
    if (!value.isEmpty() || !ini.GetIniKey(kSection, key).isEmpty())
      ini.WriteIniKey(kSection, key, value);
  updated.log_file = keys.log_file;
  updated.notify_url = keys.notify_url;
  updated.notify_body = keys.notify_body;
}

}  // namespace

bool saveSettings(const SettingsDialogState& dialog, Settings& settings, const QString& iniPath,
                  Prompter& prompter) {
  const bool hasServers = !textrules::trimSpaces(dialog.whois_server).isEmpty();
  QStringList serverLines;
  const ReportKeys reportKeys{textrules::trimSpaces(dialog.log_file),
                              textrules::trimSpaces(dialog.notify_url),
                              textrules::trimSpaces(dialog.notify_body)};
  Settings updated = settings;
  QString problem = whoisProblem(dialog, hasServers, serverLines);
  if (problem.isEmpty()) problem = reportProblem(reportKeys);
  if (problem.isEmpty()) problem = optionKeysProblem(dialog, updated);
  if (!problem.isEmpty()) {
    prompter.showMessage(problem);
    return false;
  }

  classIniFile ini;
  ini.INIFileName = iniPath;
  ini.beginUpdate();
  writeWhoisKeys(ini, dialog, updated);
  for (const OptionKey& k : kOptionKeys)
    ini.WriteIniKey(kSection, QString::fromLatin1(k.key), dialog.*k.box);
  if (hasServers) writeServerLines(ini, serverLines, updated);
  writeReportKeys(ini, reportKeys, updated);
  if (!ini.commitUpdate()) {
    prompter.showMessage(QStringLiteral("保存失败！无法写入设置文件 %1：%2")
                             .arg(QDir::toNativeSeparators(iniPath), ini.errorString()));
    return false;
  }
  settings = updated;
  return true;
}
