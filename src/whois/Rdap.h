#pragma once
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

// Domain lookups over RDAP (RFC 9082 queries, RFC 9083 answers).
namespace whois {

// GET <base>domain/<name>; a "/" is put after a base that lacks one.
QString rdapQueryUrl(const QString& base, const QString& domain);

enum class RdapVerdict {
  Deleted,     // 404: the registry has no such domain
  Registered,  // expires more than the 150 days ahead
  NotDeleted,  // expires within them, or is on its way out (redemption, pending delete)
  Unclear,     // an answer we cannot read
  Limited,     // 429 or 5xx
  NoAnswer,    // no HTTP answer at all (refused, unresolvable, TLS)
};

struct RdapReading {
  RdapVerdict verdict = RdapVerdict::Unclear;
  QDate expiry;              // when an expiration event was read
  qint64 retryAfterMs = -1;  // Retry-After of a limited answer; -1 without one
};

// Judges one answer: its HTTP status (0: none), its body (truncated: cut at
// the engine's cap) and the Retry-After header it carried.
RdapReading readRdap(int status, const QByteArray& body, bool truncated,
                     const QByteArray& retryAfter, const QDate& today, const QDateTime& now);

// Retry-After as milliseconds from now: delay-seconds or an HTTP date; -1
// when absent or unreadable.
qint64 retryAfterMs(const QByteArray& header, const QDateTime& now);

}  // namespace whois
