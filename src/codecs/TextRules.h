#pragma once
#include <QString>
#include <QStringList>

// The text conventions every box, task file and server line follows.
namespace textrules {

// Removes leading and trailing U+0020 only; tabs and other blanks stay.
QString trimSpaces(const QString& s);

// Every piece between separators, empty pieces included; an empty text gives
// no pieces at all.
QStringList split(const QString& s, const QString& separator);

// A box's lines: cut at every CR LF pair (a lone CR or LF ends nothing).
QStringList lines(const QString& s);

// An item "name===value===rest": the piece before the first "===" and the
// piece between the first and second (whatever follows a second is dropped).
// hasSeparator tells whether the text holds "===" at all.
struct Item {
  QString name;
  QString value;
  bool hasSeparator = false;
};
Item splitItem(const QString& s);

inline const QString kCrLf = QStringLiteral("\r\n");
inline const QString kAssign = QStringLiteral("===");
inline const QString kFieldSep = QStringLiteral("|||");

}  // namespace textrules
