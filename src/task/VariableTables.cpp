#include "task/VariableTables.h"

#include <QList>
#include <QPair>

#include "codecs/Charsets.h"
#include "codecs/PercentEncode.h"
#include "codecs/TextRules.h"
#include "task/Md5.h"
#include "task/TaskContext.h"

using namespace textrules;

namespace {

using TokenTable = QList<QPair<QString, QString>>;

TokenTable defaultTokens() { return {{QStringLiteral("{\\n}"), QStringLiteral("%0D%0A")}}; }

// Holds the pair from the start, so expanding never silently does nothing
// when the table was not installed first.
TokenTable& tokenTable() {
  static TokenTable table = defaultTokens();
  return table;
}

// The domain variable's value in each non-blank line of a dynamic box (the
// first item of that name in the line), in line order, until visit returns
// false.
template <typename Visit>
void forEachDomainValue(const QStringList& boxLines, const QString& domainVar, Visit visit) {
  for (int i = 0; i < boxLines.size(); ++i) {
    const QString line = trimSpaces(boxLines[i]);
    if (line.isEmpty()) continue;
    for (const QString& rawPiece : split(line, kFieldSep)) {
      const QString piece = trimSpaces(rawPiece);
      if (piece.isEmpty()) continue;
      const Item item = splitItem(piece);
      if (trimSpaces(item.name) != domainVar) continue;
      if (!visit(i, item.value)) return;
      break;  // one value per line
    }
  }
}

}  // namespace

void installLineBreakTokens() { tokenTable() = defaultTokens(); }

QString ExpandLineBreaks(const QString& text) {
  QString out = text;
  for (const auto& [from, to] : tokenTable()) out.replace(from, to, Qt::CaseSensitive);
  return out;
}

void BuildVariableTables(TaskContext& w) {
  TaskView& v = w.view;

  // Every start passes here before its first request: build the md5 byte
  // table now, not while a registration waits.
  charsets::warmUp();

  // 1. A fresh body.
  w.reg.Form.clear();
  w.reg.Form1.clear();
  w.dyn1_lines = lines(v.text(Ctl::dyn1));
  w.dyn2_lines = lines(v.text(Ctl::dyn2));
  w.domain_lines.clear();

  // 2. The MD5 formula, one row per term in formula order.
  const QString formula = v.text(Ctl::md5_var);
  const bool useMd5 = !formula.isEmpty();
  if (useMd5) {
    const QStringList pieces = split(formula, QStringLiteral("+"));
    w.md5_table.clear();
    w.md5_table.reserve(pieces.size());
    for (const QString& piece : pieces) {
      Md5Row row;
      row.term = trimSpaces(piece);
      if (row.term.startsWith(QLatin1String("{{{")) && row.term.endsWith(QLatin1String("}}}"))) {
        row.term = trimSpaces(row.term.mid(3, row.term.size() - 6));
        row.hash_first = 1;
      }
      w.md5_table.append(row);
    }
  }

  // 3. The fixed content: body pairs, formula values, placeholder values.
  const QStringList fixedLines = lines(v.text(Ctl::common1));
  const bool encode = w.utf8_send != 0;
  for (const QString& raw : fixedLines) {
    const QString line = trimSpaces(raw);
    if (!line.contains(kAssign)) continue;
    const Item item = splitItem(line);
    const QString value = ExpandLineBreaks(item.value);
    if (!w.url_template_mode) w.reg.AddItem(item.name, encode ? percentEncode(value) : value);
    if (useMd5) {
      QString digest;  // computed once, only if a hashed term asks for it
      for (Md5Row& row : w.md5_table) {
        if (row.term != item.name) continue;
        if (row.hash_first == 1) {
          if (digest.isNull()) digest = md5(value);
          row.value = digest;
        } else {
          row.value = value;
        }
        row.filled = 1;
      }
    }
    if (w.url_template_mode)
      for (UrlVar& var : w.url_vars)
        if (var.name == item.name) var.value = value;
  }

  // 4. The values of the domain variable.
  const QString domainVar = v.text(Ctl::domain_var);
  QStringList values;
  if (w.domain_source == QLatin1String("common")) {
    for (const QString& raw : fixedLines) {
      const QString line = trimSpaces(raw);
      if (line.isEmpty() || !line.contains(kAssign)) continue;
      const Item item = splitItem(line);
      if (trimSpaces(item.name) == domainVar) {
        values.append(ExpandLineBreaks(item.value));
        break;
      }
    }
  } else if (w.domain_source == QLatin1String("dyn1") || w.domain_source == QLatin1String("dyn2")) {
    const QStringList& box = w.domain_source == QLatin1String("dyn1") ? w.dyn1_lines : w.dyn2_lines;
    forEachDomainValue(box, domainVar, [&](int line, const QString& value) {
      values.append(ExpandLineBreaks(value));
      // A value with commas gives one entry per piece, all from this line.
      for (qsizetype n = value.count(u',') + 1; n > 0; --n) w.domain_lines.append(line);
      return true;
    });
  }

  // 5. A value holding commas names several domains.
  w.domain_list = split(values.join(QLatin1Char(',')), QStringLiteral(","));

  // 6. Requests start from the fixed part.
  w.reg.Form1 = w.reg.Form;
}
