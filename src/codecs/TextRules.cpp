#include "codecs/TextRules.h"

namespace textrules {

QString trimSpaces(const QString& s) {
  qsizetype begin = 0, end = s.size();
  while (begin < end && s[begin] == u' ') ++begin;
  while (end > begin && s[end - 1] == u' ') --end;
  return s.mid(begin, end - begin);
}

QStringList split(const QString& s, const QString& separator) {
  if (s.isEmpty()) return {};
  return s.split(separator, Qt::KeepEmptyParts, Qt::CaseSensitive);
}

QStringList lines(const QString& s) { return split(s, kCrLf); }

Item splitItem(const QString& s) {
  const QStringList pieces = s.split(kAssign, Qt::KeepEmptyParts, Qt::CaseSensitive);
  Item item;
  item.name = pieces.value(0);
  item.value = pieces.value(1);
  item.hasSeparator = pieces.size() > 1;
  return item;
}

}  // namespace textrules
