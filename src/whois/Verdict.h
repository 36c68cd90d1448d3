#pragma once
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "codecs/Charsets.h"

// Reading a WHOIS reply against the markers of its server row. Pure
// functions, so every rule can be checked without a socket.
namespace whois {

// Most of one reply that is kept; a server that sends more is cut off there.
inline constexpr qsizetype kMaxReplyBytes = qsizetype(1) << 20;

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
  QString limited_mark{};  // a text of the user's own that means "limited"
};

// A deleted marker that can report a deletion: a blank one would occur in
// every reply, so it never does.
bool deletedMarkUsable(const QString& deleted_mark);

// The texts by which servers say they are limiting the client, compared
// without regard to case.
const QStringList& limitedTexts();

enum class Expiry {
  None,        // no expiry line yet (no head, or its line still incomplete)
  CutFailed,   // the line is complete but the tail is missing or misplaced
  Registered,  // more than kRegisteredAfterDays ahead
  NotDeleted,  // kRegisteredAfterDays or fewer (past dates included)
  Unclear,     // the date text does not read as a date
};

struct Reading {
  bool limited = false;  // the server is limiting us: nothing else counts
  bool deleted = false;
  Expiry expiry = Expiry::None;
  QString dateText;  // what was cut out of the expiry line
  QDate expiryDate;  // the date it names, when it reads as one
};

// The expiry rule on one date: given up beyond kRegisteredAfterDays.
Expiry expiryVerdict(const QDate& expiry, const QDate& today);

// One query's reply as it arrives. Each piece is decoded and searched once
// (plus the few characters a marker may straddle), so a reply costs the
// same however finely it is cut up; read() judges everything received so
// far. The expiry line is judged only once it is complete: its LF has
// arrived, or `complete` says no more data will come.
class ReplyReader {
 public:
  ReplyReader() = default;
  explicit ReplyReader(const Markers& markers);

  void append(const QByteArray& gb18030);
  void appendText(const QString& text);
  Reading read(bool complete, const QDate& today);

  const QString& text() const { return text_; }

 private:
  void scan();
  Reading readExpiryLine(const QDate& today) const;

  Markers markers_;
  bool deletable_ = false;
  QList<QString> limited_;  // lower case
  qsizetype longestLimited_ = 0;
  charsets::Gb18030Decoder decoder_;
  bool finished_ = false;
  QString text_;
  qsizetype scanned_ = 0;  // text_ up to here has been searched
  bool deleted_ = false;
  bool limitedSeen_ = false;
  qsizetype headAt_ = -1;   // first occurrence of the expiry head
  qsizetype lineEnd_ = -1;  // the LF that ends its line
};

// Reads everything received for one query at once.
Reading readReply(const QString& reply, bool complete, const Markers& markers, const QDate& today);

}  // namespace whois
