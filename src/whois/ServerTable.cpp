#include "whois/ServerTable.h"

#include <QRegularExpression>
#include <QUrl>
#include <cmath>

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
  return ServerRow{p[0], p[1], p[2], p[3], p[4], p[5], p.value(6), p.value(7), p.value(8)};
}

namespace whois {

namespace {
bool allDigits(const QString& text) {
  if (text.isEmpty()) return false;
  for (const QChar c : text)
    if (c < u'0' || c > u'9') return false;
  return true;
}
}  // namespace

int portNumber(const QString& field) {
  const QString text = textrules::trimSpaces(field);
  if (!allDigits(text) || text.size() > 5) return -1;
  const int port = text.toInt();
  return port <= 65535 ? port : -1;
}

bool isRdapServer(const QString& server) {
  const QString s = textrules::trimSpaces(server);
  return s.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
         s.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QueryPace queryPace(const ServerRow& row) {
  static const QRegularExpression decimal(QStringLiteral(R"(^(?:\d+(?:\.\d*)?|\.\d+)$)"));
  const QString rate = textrules::trimSpaces(row.rate);
  const QString parallel = textrules::trimSpaces(row.parallel);
  QueryPace pace;
  if (rate.isEmpty() && parallel.isEmpty()) return pace;
  bool parallelOk = false;
  const int inFlight = parallel.toInt(&parallelOk);
  parallelOk = parallelOk && allDigits(parallel) && inFlight >= 1;
  const double perSecond = decimal.match(rate).hasMatch() ? rate.toDouble() : -1;
  if (perSecond == 0 && (parallel.isEmpty() || parallelOk)) return pace;  // one at a time
  if (perSecond > 0 && std::isfinite(perSecond) && parallelOk) {
    pace.rate = perSecond;
    pace.parallel = inFlight;
    return pace;
  }
  pace.valid = false;
  return pace;
}

QString serverKey(const ServerRow& row) {
  if (isRdapServer(row.server)) {
    const QUrl base(textrules::trimSpaces(row.server));
    return base.scheme().toLower() + QStringLiteral("://") + base.host().toLower() + u':' +
           QString::number(base.port(base.scheme().toLower() == QLatin1String("https") ? 443 : 80));
  }
  return row.server + u':' + QString::number(portNumber(row.port));
}

}  // namespace whois
