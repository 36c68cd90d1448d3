#pragma once
// Settings and dialog values as short texts, so one table row can state them.
#include <QFile>
#include <QStringList>

#include "codecs/Charsets.h"
#include "settings/Settings.h"

namespace fixture {

// "YYN": check_whois, whois_after_reg, save_log.
inline QString flags(const Settings& s) {
  auto yn = [](bool b) { return b ? QChar('Y') : QChar('N'); };
  return QString() + yn(s.check_whois) + yn(s.whois_after_reg) + yn(s.save_log);
}

// "000": the selected option of each pair, same order.
inline QString options(const SettingsDialogState& d) {
  return QStringLiteral("%1%2%3").arg(d.check_whois).arg(d.whois_after_reg).arg(d.save_log);
}

// "0,5,0": whois_time, whois_timeout, whois_time2.
inline QString times(const Settings& s) {
  return QStringLiteral("%1,%2,%3").arg(s.whois_time).arg(s.whois_timeout).arg(s.whois_time2);
}

// Each row as its "|||" line; an empty row as "".
inline QStringList rows(const Settings& s) {
  QStringList out;
  for (const ServerRow& r : s.whois_servers)
    out << (r.isEmpty() ? QString()
                        : QStringList{r.suffixes, r.server, r.port, r.deleted_mark, r.expiry_head,
                                      r.expiry_tail}
                              .join(QStringLiteral("|||")));
  return out;
}

// A byte string with embedded NULs kept.
template <std::size_t N>
QByteArray bytes(const char (&s)[N]) {
  return QByteArray(s, N - 1);
}

inline QByteArray gb(const QString& s) { return charsets::toGb18030(s); }

inline QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

}  // namespace fixture
