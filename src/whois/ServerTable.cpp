#include "whois/ServerTable.h"

#include "codecs/TextRules.h"

int matchServerRow(const QList<ServerRow>& rows, const QString& domain) {
  const QString name = textrules::trimSpaces(domain);
  const qsizetype dot = name.indexOf(u'.');
  const QString suffix = dot < 0 ? name : name.mid(dot);
  // Whole list entries only: ".com" must not match inside ".com.cn".
  const QString needle = u',' + suffix + u',';
  for (qsizetype i = 0; i < rows.size(); ++i) {
    if (rows[i].isEmpty()) continue;  // a stored line that was unusable at load
    if ((u',' + rows[i].suffixes + u',').contains(needle, Qt::CaseSensitive)) return int(i);
  }
  return -1;
}

ServerRow serverRowFromLine(const QString& line, bool* ok) {
  const QStringList p = textrules::split(line, textrules::kFieldSep);
  if (ok) *ok = p.size() >= 6;
  if (p.size() < 6) return ServerRow{};
  return ServerRow{p[0], p[1], p[2], p[3], p[4], p[5]};
}
