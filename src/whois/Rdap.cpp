#include "whois/Rdap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "codecs/TextRules.h"
#include "whois/Verdict.h"

namespace whois {

QString rdapQueryUrl(const QString& base, const QString& domain) {
  QString url = textrules::trimSpaces(base);
  if (!url.endsWith(u'/')) url += u'/';
  return url + QStringLiteral("domain/") + textrules::trimSpaces(domain);
}

qint64 retryAfterMs(const QByteArray& header, const QDateTime& now) {
  const QByteArray text = header.trimmed();
  if (text.isEmpty()) return -1;
  bool ok = false;
  const qint64 seconds = text.toLongLong(&ok);
  if (ok) return seconds >= 0 ? seconds * 1000 : -1;
  // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
  QString date = QString::fromLatin1(text);
  if (date.endsWith(QLatin1String(" GMT"))) date = date.chopped(4) + QStringLiteral(" +0000");
  const QDateTime at = QDateTime::fromString(date, Qt::RFC2822Date);
  if (!at.isValid()) return -1;
  return std::max<qint64>(0, now.msecsTo(at));
}

namespace {

// Statuses of a domain on its way to deletion (RFC 8056 names): it keeps
// being watched whatever its expiry date says, since registries renew the
// date automatically in the grace period.
bool onItsWayOut(const QJsonArray& statuses) {
  for (const QJsonValue& v : statuses) {
    const QString s = v.toString().toLower();
    if (s == QLatin1String("pending delete") || s == QLatin1String("redemption period") ||
        s == QLatin1String("pending restore"))
      return true;
  }
  return false;
}

}  // namespace

RdapReading readRdap(int status, const QByteArray& body, bool truncated,
                     const QByteArray& retryAfter, const QDate& today, const QDateTime& now) {
  RdapReading r;
  if (status == 0) {
    r.verdict = RdapVerdict::NoAnswer;
    return r;
  }
  if (status == 404) {
    r.verdict = RdapVerdict::Deleted;
    return r;
  }
  if (status == 429 || (status >= 500 && status <= 599)) {
    r.verdict = RdapVerdict::Limited;
    r.retryAfterMs = retryAfterMs(retryAfter, now);
    return r;
  }
  if (status != 200 || truncated) return r;

  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return r;
  const QJsonObject domain = doc.object();
  for (const QJsonValue& v : domain.value(QLatin1String("events")).toArray()) {
    const QJsonObject event = v.toObject();
    if (event.value(QLatin1String("eventAction"))
            .toString()
            .compare(QLatin1String("expiration"), Qt::CaseInsensitive) != 0)
      continue;
    if (const std::optional<QDate> d =
            parseExpiryDate(event.value(QLatin1String("eventDate")).toString()))
      r.expiry = *d;
    break;
  }
  if (onItsWayOut(domain.value(QLatin1String("status")).toArray())) {
    r.verdict = RdapVerdict::NotDeleted;
  } else if (r.expiry.isValid()) {
    r.verdict = expiryVerdict(r.expiry, today) == Expiry::Registered ? RdapVerdict::Registered
                                                                     : RdapVerdict::NotDeleted;
  }
  return r;
}

}  // namespace whois
