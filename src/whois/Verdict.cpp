#include "whois/Verdict.h"

#include <QRegularExpression>

#include "codecs/TextRules.h"

namespace whois {
namespace {

// A time of day with an optional zone after a date; read and ignored.
const QString kTimePart =
    QStringLiteral(R"((?:(?:T|\s+)\d{1,2}:\d{2}(?::\d{2}(?:[.,]\d+)?)?(?:\s*[AP]M)?)"
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

bool deletedMarkUsable(const QString& deleted_mark) {
  return !textrules::trimSpaces(deleted_mark).isEmpty();
}

const QStringList& limitedTexts() {
  static const QStringList texts = {
      QStringLiteral("limit exceeded"), QStringLiteral("rate limit"),  QStringLiteral("query rate"),
      QStringLiteral("too many"),       QStringLiteral("slow down"),   QStringLiteral("try again"),
      QStringLiteral("excessive"),      QStringLiteral("blacklisted"), QStringLiteral("quota"),
      QStringLiteral("频率"),           QStringLiteral("频繁")};
  return texts;
}

Expiry expiryVerdict(const QDate& expiry, const QDate& today) {
  return today.daysTo(expiry) > kRegisteredAfterDays ? Expiry::Registered : Expiry::NotDeleted;
}

ReplyReader::ReplyReader(const Markers& markers)
    : markers_(markers), deletable_(deletedMarkUsable(markers.deleted_mark)) {
  QStringList texts = limitedTexts();
  if (!textrules::trimSpaces(markers.limited_mark).isEmpty()) texts << markers.limited_mark;
  for (const QString& t : std::as_const(texts)) {
    limited_ << t.toLower();
    longestLimited_ = std::max(longestLimited_, t.size());
  }
}

void ReplyReader::append(const QByteArray& gb18030) { text_ += decoder_.decode(gb18030); }

void ReplyReader::appendText(const QString& text) { text_ += text; }

// Searches only what arrived since the last scan, reaching back far enough
// for a marker that straddles the two.
void ReplyReader::scan() {
  const auto from = [this](qsizetype length) {
    return std::max<qsizetype>(0, scanned_ - std::max<qsizetype>(length, 1) + 1);
  };
  if (deletable_ && !deleted_)
    deleted_ = text_.indexOf(markers_.deleted_mark, from(markers_.deleted_mark.size())) >= 0;
  if (!limitedSeen_ && !limited_.isEmpty()) {
    const QString fresh = QStringView(text_).mid(from(longestLimited_)).toString().toLower();
    for (const QString& t : std::as_const(limited_)) {
      if (fresh.contains(t)) {
        limitedSeen_ = true;
        break;
      }
    }
  }
  const QString& head = markers_.expiry_head;
  if (headAt_ < 0) headAt_ = text_.indexOf(head, from(head.size()));
  if (headAt_ >= 0 && lineEnd_ < 0)
    lineEnd_ = text_.indexOf(QLatin1Char('\n'), std::max(headAt_ + head.size(), scanned_));
  scanned_ = text_.size();
}

Reading ReplyReader::read(bool complete, const QDate& today) {
  if (complete && !finished_) {
    text_ += decoder_.finish();
    finished_ = true;
  }
  scan();
  Reading r;
  if (limitedSeen_) {
    // Not an answer, whatever markers it holds.
    r.limited = true;
    return r;
  }
  r.deleted = deleted_;
  if (headAt_ < 0) return r;
  if (markers_.expiry_head.contains(QLatin1Char('\n'))) {
    // The head spans a line break, so no line will ever hold it.
    r.expiry = Expiry::CutFailed;
    return r;
  }
  if (lineEnd_ < 0 && !complete) return r;  // judged once its LF arrives
  const Reading line = readExpiryLine(today);
  r.expiry = line.expiry;
  r.dateText = line.dateText;
  r.expiryDate = line.expiryDate;
  return r;
}

// The first line (cut at LF, a CR before it stays) holding the head.
Reading ReplyReader::readExpiryLine(const QDate& today) const {
  Reading r;
  const qsizetype lineStart =
      headAt_ == 0 ? 0 : text_.lastIndexOf(QLatin1Char('\n'), headAt_ - 1) + 1;
  const QString line = text_.mid(lineStart, lineEnd_ < 0 ? -1 : lineEnd_ - lineStart);
  const QString& head = markers_.expiry_head;
  const qsizetype headAt = headAt_ - lineStart;
  const qsizetype dateAt = headAt + head.size();
  QString date;
  if (!textrules::trimSpaces(markers_.expiry_tail).isEmpty()) {
    const qsizetype tailAt = line.indexOf(markers_.expiry_tail);
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

  if (const std::optional<QDate> expiry = parseExpiryDate(date)) {
    r.expiryDate = *expiry;
    r.expiry = expiryVerdict(*expiry, today);
  } else {
    r.expiry = Expiry::Unclear;
  }
  return r;
}

Reading readReply(const QString& reply, bool complete, const Markers& markers, const QDate& today) {
  ReplyReader reader(markers);
  reader.appendText(reply);
  return reader.read(complete, today);
}

}  // namespace whois
