#include "settings/IniFile.h"

#include <QFile>
#include <QFileInfo>

#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/FileWrite.h"

namespace {

// The blanks the profile functions strip around names and values. All lie
// below 0x30, so none can be the second byte of a GB18030 character.
bool isBlankByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

QByteArray trimBlanks(const QByteArray& b) {
  qsizetype begin = 0, end = b.size();
  while (begin < end && isBlankByte(b[begin])) ++begin;
  while (end > begin && isBlankByte(b[end - 1])) --end;
  return b.mid(begin, end - begin);
}

QString fold(const QString& name) { return name.toCaseFolded(); }

// A value must stay on its one line: a line break inside it would end the
// key early and turn the rest into lines of their own.
QByteArray encodeValue(const QString& value) {
  QString v = value;
  v.remove(QChar(0));
  v.replace(QChar('\r'), QChar(' '));
  v.replace(QChar('\n'), QChar(' '));
  return charsets::toGb18030(v);
}

}  // namespace

void classIniFile::Section::reindex() {
  keys.clear();
  lastKey = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (lines[i].eq < 0) continue;
    const QString k = fold(lines[i].key);
    if (!keys.contains(k)) keys.insert(k, i);  // the first of duplicate keys wins
    lastKey = i;
  }
}

QByteArray classIniFile::cutOnCharBoundary(const QByteArray& bytes, qsizetype maxBytes) {
  if (bytes.size() <= maxBytes) return bytes;
  auto at = [&](qsizetype i) { return static_cast<uchar>(bytes[i]); };
  qsizetype i = 0;
  const qsizetype n = bytes.size();
  while (i < n) {
    qsizetype len = 1;
    const uchar b = at(i);
    if (b >= 0x81 && b <= 0xFE && i + 1 < n) {
      const uchar b2 = at(i + 1);
      if (b2 >= 0x30 && b2 <= 0x39)
        len = 4;  // four-byte form: lead, digit, lead, digit
      else if (b2 >= 0x40 && b2 <= 0xFE && b2 != 0x7F)
        len = 2;
    }
    if (i + len > maxBytes) break;
    i += len;
  }
  return bytes.left(i);
}

bool classIniFile::ensureLoaded() {
  if (loaded_ && loadedFrom_ == INIFileName) return readable_;
  loaded_ = true;
  loadedFrom_ = INIFileName;
  readable_ = true;
  sections_.clear();
  sections_.append(Section{});  // the lines before the first header

  QByteArray data;
  if (QFileInfo::exists(INIFileName)) {
    QFile f(INIFileName);
    if (!f.open(QIODevice::ReadOnly)) {
      // Unreadable: reads give the empty text, writes are refused so the
      // file's other keys are never replaced by nothing.
      readable_ = false;
      error_ = f.errorString();
      return false;
    }
    data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
      readable_ = false;
      error_ = f.errorString();
      return false;
    }
  }

  QList<QByteArray> raws = data.split('\n');
  if (!data.isEmpty() && data.endsWith('\n')) raws.removeLast();
  if (data.isEmpty()) raws.clear();
  for (QByteArray& raw : raws) {
    if (raw.endsWith('\r')) raw.chop(1);
    const QByteArray trimmed = trimBlanks(raw);
    if (trimmed.startsWith('[')) {
      const QString header = charsets::fromGb18030(trimmed);
      const qsizetype close = header.lastIndexOf(u']');
      if (close > 0) {
        Section s;
        s.name = header.mid(1, close - 1);
        s.header = raw;
        sections_.append(s);
        continue;
      }
    }
    Line line;
    line.raw = raw;
    const qsizetype eq = raw.indexOf('=');
    if (eq >= 0) {
      const QString key = charsets::fromGb18030(trimBlanks(raw.left(eq)));
      if (!key.isEmpty() && !key.startsWith(u';')) {
        line.eq = eq;
        line.key = key;
      }
    }
    sections_.last().lines.append(line);
  }
  for (Section& s : sections_) s.reindex();
  return true;
}

qsizetype classIniFile::findSection(const QString& section) const {
  const QString f = fold(section);
  for (qsizetype i = 1; i < sections_.size(); ++i)
    if (fold(sections_[i].name) == f) return i;
  return -1;
}

classIniFile::Line* classIniFile::findKey(const QString& section, const QString& key) {
  const QString fs = fold(section), fk = fold(key);
  for (qsizetype i = 1; i < sections_.size(); ++i) {
    Section& s = sections_[i];
    if (fold(s.name) != fs) continue;
    const auto it = s.keys.constFind(fk);
    if (it != s.keys.constEnd()) return &s.lines[*it];
  }
  return nullptr;
}

QString classIniFile::GetIniKey(const QString& section, const QString& key) {
  if (!ensureLoaded()) return QString();
  const Line* line = findKey(section, key);
  if (!line) return QString();
  // As a 1024-character buffer would: at most 1023 bytes of the value, then
  // trimmed and rid of NUL characters.
  const QByteArray raw = cutOnCharBoundary(trimBlanks(line->raw.mid(line->eq + 1)), kMaxValueBytes);
  QString value = charsets::fromGb18030(raw);
  value.remove(QChar(0));
  return textrules::trimSpaces(value);
}

bool classIniFile::HasIniKey(const QString& section, const QString& key) {
  return ensureLoaded() && findKey(section, key) != nullptr;
}

bool classIniFile::WriteIniKey(const QString& section, const QString& key, const QString& value) {
  if (!ensureLoaded()) return false;
  const QByteArray encoded = encodeValue(value);
  if (Line* found = findKey(section, key)) {
    found->raw = found->raw.left(found->eq + 1) + encoded;
  } else {
    Line line;
    line.raw = charsets::toGb18030(key) + '=' + encoded;
    line.eq = line.raw.indexOf('=');
    line.key = key;
    qsizetype si = findSection(section);
    if (si < 0) {
      Section s;
      s.name = section;
      s.header = '[' + charsets::toGb18030(section) + ']';
      sections_.append(s);
      si = sections_.size() - 1;
    }
    Section& s = sections_[si];
    // Right after the section's last key: only blank and comment lines
    // follow it, so no key's index moves.
    const qsizetype at = s.lastKey + 1;
    s.lines.insert(at, line);
    s.keys.insert(fold(key), at);
    s.lastKey = at;
  }
  return deferred_ || flush();
}

bool classIniFile::DelIniKey(const QString& section, const QString& key) {
  if (!ensureLoaded()) return false;
  const QString fs = fold(section), fk = fold(key);
  for (qsizetype i = 1; i < sections_.size(); ++i) {
    Section& s = sections_[i];
    if (fold(s.name) != fs) continue;
    const auto it = s.keys.constFind(fk);
    if (it == s.keys.constEnd()) continue;
    s.lines.removeAt(*it);
    s.reindex();
    return deferred_ || flush();
  }
  return true;
}

bool classIniFile::DelIniSec(const QString& section) {
  if (!ensureLoaded()) return false;
  const QString fs = fold(section);
  bool changed = false;
  for (qsizetype i = sections_.size() - 1; i >= 1; --i) {
    if (fold(sections_[i].name) != fs) continue;
    sections_.removeAt(i);
    changed = true;
  }
  return !changed || deferred_ || flush();
}

void classIniFile::beginUpdate() { deferred_ = true; }

bool classIniFile::commitUpdate() {
  deferred_ = false;
  if (!ensureLoaded()) return false;
  return flush();
}

bool classIniFile::createIfMissing() {
  if (QFileInfo::exists(INIFileName)) return true;
  QFile f(INIFileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, platform::kPrivateFilePermissions)) {
    error_ = f.errorString();
    return false;
  }
  return true;
}

QByteArray classIniFile::serialize() const {
  QByteArray out;
  for (qsizetype i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (i > 0) out += s.header + "\r\n";
    for (const Line& l : s.lines) out += l.raw + "\r\n";
  }
  return out;
}

bool classIniFile::flush() {
  if (platform::replaceFile(INIFileName, serialize(), &error_)) return true;
  // The file on disk was not changed: drop what was changed in memory so the
  // next operation sees the file as it is.
  loaded_ = false;
  return false;
}
