#include "report/ReportText.h"

#include <QDateTime>

namespace report {
namespace {

bool isControl(QChar c) { return c.category() == QChar::Other_Control && c != u'\t'; }

QString hexEscape(QChar c) {
  return QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
}

QString escapeControls(QStringView line) {
  QString out;
  out.reserve(line.size());
  for (QChar c : line) out += isControl(c) ? hexEscape(c) : QString(c);
  return out;
}

// A quoted text: the quote and the backslash are escaped too, so the
// closing quote is always ours.
QString quoted(QStringView text) {
  QString out = QStringLiteral("\"");
  for (QChar c : text) {
    if (c == u'"' || c == u'\\')
      out += u'\\' + QString(c);
    else
      out += isControl(c) ? hexEscape(c) : QString(c);
  }
  return out + u'"';
}

QString milliseconds(double ms, int decimals) {
  return ms < 0 ? QStringLiteral("none")
                : u'+' + QString::number(ms, 'f', decimals) + QStringLiteral(" ms");
}

}  // namespace

QStringList entryLines(const QString& entry) {
  qsizetype end = entry.size();
  while (end > 0 && (entry[end - 1] == u'\r' || entry[end - 1] == u'\n')) --end;
  QStringList lines;
  const QStringView text = QStringView(entry).left(end);
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u'\r' && text[i] != u'\n') continue;
    lines << escapeControls(text.mid(start, i - start));
    if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  return lines;
}

QString cut(const QString& text, int maxChars) {
  if (text.size() <= maxChars) return text;
  qsizetype end = maxChars;
  if (end > 0 && text[end - 1].isHighSurrogate()) --end;
  return text.left(end) + QStringLiteral("…");
}

QString replyStart(const QString& reply, int maxChars) {
  qsizetype end = 0;
  while (end < reply.size() && reply[end] != u'\r' && reply[end] != u'\n') ++end;
  return cut(reply.left(end), maxChars);
}

QString catchText(const CatchReport& r) {
  const qint64 us = r.deletedAtUs > 0 ? r.deletedAtUs : r.deletedAt.toMSecsSinceEpoch() * 1000;
  const QString deleted =
      QDateTime::fromMSecsSinceEpoch(us / 1000).toString(QStringLiteral("HH:mm:ss.zzz")) +
      QStringLiteral("%1").arg(us % 1000, 3, 10, QLatin1Char('0'));
  return QStringLiteral("%1 deleted %2 on-wire %3 reply %4 %5")
      .arg(r.domain, deleted, milliseconds(r.onWireMs, 2), milliseconds(r.replyMs, 1),
           quoted(replyStart(r.reply, 80)));
}

QString summaryText(const RunSummary& s) {
  return QStringLiteral("sent=%1 replies=%2 http_errors=%3 failures=%4 late=%5 catches=%6")
      .arg(s.sent)
      .arg(s.replies)
      .arg(s.httpErrors)
      .arg(s.failures)
      .arg(s.late)
      .arg(s.catches);
}

QString stamp(qint64 msecsSinceEpoch) {
  return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch)
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

}  // namespace report
