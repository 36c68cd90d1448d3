#include "whois/Verdict.h"

#include <QRegularExpression>

#include "codecs/TextRules.h"

namespace whois {
namespace {

// A time of day with an optional zone after a date; read and ignored.
const QString kTimePart = QStringLiteral(
    R"((?:(?:T|\s+)\d{1,2}:\d{2}(?::\d{2}(?:[.,]\d+)?)?(?:\s*[AP]M)?)"
    R"((?:\s*\(?(?:Z|UTC|GMT|[A-Z]{2,5})?(?:[+-]\d{1,2}(?::?\d{2})?)?\)?)?)?)");

const QString kMonths = QStringLiteral(
    "(jan(?:uary)?|feb(?:ruary)?|mar(?:ch)?|apr(?:il)?|may|june?|july?|aug(?:ust)?|"
    "sep(?:t(?:ember)?)?|oct(?:ober)?|nov(?:ember)?|dec(?:ember)?)");

const QString kWeekday = QStringLiteral(R"((?:(?:mon|tue|wed|thu|fri|sat|sun)[a-z]*\.?,?\s+)?)");

int monthNumber(const QString& name) {
  static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                      "jul", "aug", "sep", "oct", "nov", "dec"};
  const QString key = name.left(3).toLower();
  for (int i = 0; i < 12; ++i)
    if (key == QLatin1String(names[i])) return i + 1;
  return 0;
}

std::optional<QDate> validDate(int y, int m, int d) {
  const QDate date(y, m, d);
  if (!date.isValid()) return std::nullopt;
  return date;
}

}  // namespace

std::optional<QDate> parseExpiryDate(const QString& text) {
  static const auto ci = QRegularExpression::CaseInsensitiveOption;
  // year, month, day with "-", "/" or "." (the same separator twice)
  static const QRegularExpression ymd(
      QStringLiteral(R"(^(\d{4})([-/.])\s*(\d{1,2})\2\s*(\d{1,2})\.?)") + kTimePart +
      QStringLiteral("$"));
  static const QRegularExpression ymdHan(
      QStringLiteral(R"(^(\d{4})\s*年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日)") + kTimePart +
      QStringLiteral("$"));
  // 08-jan-2011, 8 January 2011
  static const QRegularExpression dmy(
      QStringLiteral(R"(^)") + kWeekday + QStringLiteral(R"((\d{1,2})[-/. ]?)") + kMonths +
          QStringLiteral(R"(\.?[-/. ]?(\d{4}))") + kTimePart + QStringLiteral("$"),
      ci);
  // January 8 2011, Jan 08, 2011
  static const QRegularExpression mdy(
      QStringLiteral(R"(^)") + kWeekday + kMonths +
          QStringLiteral(R"(\.?\s+(\d{1,2})(?:st|nd|rd|th)?,?\s+(\d{4}))") + kTimePart +
          QStringLiteral("$"),
      ci);

  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  if (const auto m = ymd.match(t); m.hasMatch())
    return validDate(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
  if (const auto m = ymdHan.match(t); m.hasMatch())
    return validDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (const auto m = dmy.match(t); m.hasMatch())
    return validDate(m.captured(3).toInt(), monthNumber(m.captured(2)), m.captured(1).toInt());
  if (const auto m = mdy.match(t); m.hasMatch())
    return validDate(m.captured(3).toInt(), monthNumber(m.captured(1)), m.captured(2).toInt());
  return std::nullopt;
}

Reading readReply(const QString& reply, bool complete, const Markers& markers,
                  const QDate& today) {
  Reading r;
  r.deleted = reply.contains(markers.deleted_mark);

  const QString& head = markers.expiry_head;
  if (!reply.contains(head)) return r;

  // The first line (cut at LF, a CR before it stays) holding the head.
  qsizetype start = 0;
  QString line;
  bool found = false;
  while (start <= reply.size()) {
    const qsizetype lf = reply.indexOf(QLatin1Char('\n'), start);
    const bool lineComplete = lf >= 0 || complete;
    const QString candidate = reply.mid(start, lf < 0 ? -1 : lf - start);
    if (candidate.contains(head)) {
      if (!lineComplete) return r;  // judged once its LF arrives
      line = candidate;
      found = true;
      break;
    }
    if (lf < 0) break;
    start = lf + 1;
  }
  if (!found) {
    // The head spans a line break, so no line will ever hold it.
    r.expiry = Expiry::CutFailed;
    return r;
  }

  const qsizetype headAt = line.indexOf(head);
  const qsizetype dateAt = headAt + head.size();
  QString date;
  if (!textrules::trimSpaces(markers.expiry_tail).isEmpty()) {
    const qsizetype tailAt = line.indexOf(markers.expiry_tail);
    if (tailAt < 0 || tailAt < dateAt) {
      r.expiry = Expiry::CutFailed;
      return r;
    }
    date = line.mid(dateAt, tailAt - dateAt);
  } else {
    date = line.mid(headAt);
  }
  if (!head.isEmpty()) date.remove(head);
  r.dateText = date;

  const std::optional<QDate> expiry = parseExpiryDate(date);
  if (!expiry) {
    r.expiry = Expiry::Unclear;
  } else {
    r.expiry = today.daysTo(*expiry) > kRegisteredAfterDays ? Expiry::Registered : Expiry::NotDeleted;
  }
  return r;
}

}  // namespace whois
