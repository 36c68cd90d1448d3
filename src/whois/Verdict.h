#pragma once
#include <QDate>
#include <QString>
#include <optional>

// Reading a WHOIS reply against the markers of its server row. Pure
// functions, so every rule can be checked without a socket.
namespace whois {

// Days ahead beyond which an expiry date means the domain has been renewed
// or taken.
inline constexpr int kRegisteredAfterDays = 150;

// The calendar date an expiry text names, as written (a time of day and a
// zone after it are read but do not move the date). Accepts the forms WHOIS
// servers use: 2011-01-08, 2011-01-08T00:00:00Z, 2011-01-08 00:00:00,
// 2011/01/08, 2011.01.08, 08-jan-2011, January 8 2011, Jan 08, 2011,
// 2011年1月8日; surrounding blanks and a trailing CR are ignored.
std::optional<QDate> parseExpiryDate(const QString& text);

struct Markers {
  QString deleted_mark;
  QString expiry_head;
  QString expiry_tail;
};

enum class Expiry {
  None,        // no expiry line yet (no head, or its line still incomplete)
  CutFailed,   // the line is complete but the tail is missing or misplaced
  Registered,  // more than kRegisteredAfterDays ahead
  NotDeleted,  // kRegisteredAfterDays or fewer (past dates included)
  Unclear,     // the date text does not read as a date
};

struct Reading {
  bool deleted = false;
  Expiry expiry = Expiry::None;
  QString dateText;  // what was cut out of the expiry line
};

// Reads everything received for one query. The expiry line is judged only
// once it is complete: its LF has arrived, or `complete` says no more data
// will come (the server closed the connection).
Reading readReply(const QString& reply, bool complete, const Markers& markers,
                  const QDate& today);

}  // namespace whois
