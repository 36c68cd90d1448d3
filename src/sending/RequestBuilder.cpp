#include "sending/RequestBuilder.h"

#include "codecs/PercentEncode.h"
#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
#include "sending/SendContext.h"
#include "task/Md5.h"
#include "task/VariableTables.h"

namespace {

QString padded(int value, bool twoDigits) {
  return twoDigits ? QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'))
                   : QString::number(value);
}

void fillMd5Rows(SendContext& w, const QString& name, const QString& value) {
  for (Md5Row& row : w.md5_table) {
    if (row.term != name) continue;
    row.value = row.hash_first == 1 ? md5(value) : value;
    row.filled = 1;
  }
}

void fillUrlVars(SendContext& w, const QString& name, const QString& value) {
  for (UrlVar& v : w.url_vars)
    if (v.name == name) v.value = value;
}

bool anyLineAssigns(const QStringList& lines) {
  for (const QString& line : lines)
    if (line.contains(textrules::kAssign)) return true;
  return false;
}

// One dynamic box: the line under the cursor (moved past lines without "==="),
// its items into the body or the placeholders, and into the formula.
void applyDynamicLine(SendContext& w, const QStringList& lines, int& row, bool expand,
                      bool haveFormula) {
  if (!anyLineAssigns(lines)) return;
  const int n = static_cast<int>(lines.size());
  row = ((row % n) + n) % n;
  while (!lines[row].contains(textrules::kAssign)) row = (row + 1) % n;

  const bool encode = w.utf8_send != 0;
  const QStringList items =
      textrules::split(textrules::trimSpaces(lines[row]), textrules::kFieldSep);
  for (const QString& rawItem : items) {
    const textrules::Item item = textrules::splitItem(textrules::trimSpaces(rawItem));
    // Only an item that assigns carries a variable (after validation the
    // others are empty pieces, such as after a trailing "|||").
    if (!item.hasSeparator) continue;
    const QString& rawName = item.name;
    const QString name = textrules::trimSpaces(rawName);
    const QString value = textrules::trimSpaces(expand ? ExpandLineBreaks(item.value) : item.value);
    if (w.url_template_mode)
      fillUrlVars(w, rawName, value);
    else
      w.reg.AddItem(name, encode ? percentEncode(value) : value);
    if (haveFormula) fillMd5Rows(w, name, value);
  }
}

// A placeholder's value as it goes into the URL. Without UTF-8 sending it
// goes as typed, and the client escapes what a URL cannot hold, but a "#"
// would start the fragment, which is never sent: the rest of the URL, the
// signature included, would be lost.
QString placeholderText(const QString& value, bool encode) {
  return encode ? percentEncode(value) : QString(value).replace(u'#', QStringLiteral("%23"));
}

}  // namespace

QString formatDateTime(const QDateTime& t, const QString& pattern) {
  const QDate date = t.date();
  const QTime time = t.time();
  QString out;
  QChar lastField;
  for (qsizetype i = 0; i < pattern.size();) {
    const QChar c = pattern[i];
    if (c != u'y' && c != u'm' && c != u'd' && c != u'h' && c != u's') {
      out += c;
      ++i;
      continue;
    }
    qsizetype run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    const bool two = run >= 2;
    switch (c.unicode()) {
      case u'y':
        out += run >= 3 ? QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'))
                        : padded(date.year() % 100, true);
        break;
      case u'm':
        out += padded(lastField == u'h' ? time.minute() : date.month(), two);
        break;
      case u'd':
        out += padded(date.day(), two);
        break;
      case u'h':
        out += padded(time.hour(), two);
        break;
      case u's':
        out += padded(time.second(), two);
        break;
    }
    lastField = c;
    i += run;
  }
  return out;
}

qint64 UnixTimeStamp(const QDateTime& t, int zoneHours) {
  // The wall-clock fields as they stand (no zone of the machine applies),
  // moved back by the zone hours.
  const qint64 days = QDate(1970, 1, 1).daysTo(t.date());
  return days * 86400 + t.time().msecsSinceStartOfDay() / 1000 -
         static_cast<qint64>(zoneHours) * 3600;
}

QString timeVariableText(const QDateTime& t, const QString& formatEntry, int zoneHours) {
  if (formatEntry == texts::kTimeFormatUnix) return QString::number(UnixTimeStamp(t, zoneHours));
  return formatDateTime(t, formatEntry);
}

void BuildRequest(SendContext& w, const QStringList& dyn1Lines, const QStringList& dyn2Lines,
                  int& dyn1Row, int& dyn2Row, const BuildOptions& options) {
  // 1. The body starts from the fixed content.
  w.reg.Form = w.reg.Form1;

  const QString formula = md5Formula(w.view);
  const bool haveFormula = !formula.isEmpty();

  // 2. The time variable: at least one second after the previous request's,
  // never behind the clock.
  const QString timeVar = w.view.text(Ctl::time_var);
  if (!timeVar.isEmpty()) {
    const QDateTime now = platform::now();
    if (!w.time_base.isValid()) {
      w.time_base = now;
    } else if (options.advanceTimeBase) {
      const QDateTime next = w.time_base.addSecs(1);
      w.time_base = next >= now ? next : now;
    }
    const QString text =
        timeVariableText(w.time_base, w.view.text(Ctl::time_format), w.settings.intTimeZone);
    if (w.url_template_mode)
      fillUrlVars(w, timeVar, text);
    else
      w.reg.AddItem(timeVar, text);  // never encoded in the body
    fillMd5Rows(w, timeVar, text);
  }

  // 3, 4. The current line of each dynamic box.
  applyDynamicLine(w, dyn1Lines, dyn1Row, options.expandLineBreaks, haveFormula);
  applyDynamicLine(w, dyn2Lines, dyn2Row, options.expandLineBreaks, haveFormula);

  // 5. The signature over the formula; quoted terms are literals.
  if (haveFormula) {
    QString signed_;
    for (const Md5Row& row : w.md5_table) {
      if (row.term.startsWith(u'"') && row.term.endsWith(u'"'))
        signed_ += QString(row.term).remove(u'"');
      else
        signed_ += row.value;
    }
    const QString signature = md5(signed_);
    const QString sigName = w.view.text(Ctl::md5_name);
    if (w.url_template_mode)
      fillUrlVars(w, sigName, signature);
    else
      w.reg.AddItem(sigName, signature);
  }

  // 6. The URL.
  w.api_url = ExpandLineBreaks(w.api_url);
  w.request_url = w.api_url;
  if (w.url_template_mode) {
    const bool encode = w.utf8_send != 0;
    for (const UrlVar& v : w.url_vars)
      w.request_url.replace(QStringLiteral("{{{") + v.name + QStringLiteral("}}}"),
                            placeholderText(v.value, encode));
  }
}
