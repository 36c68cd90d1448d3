#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Reads and writes one INI file with the effects of the Windows profile
// functions: sections and keys match without regard to case, a value reads
// trimmed and cut to the first 1023 bytes, a missing key reads as the empty
// text, and a write keeps every other line of the file byte for byte.
//
// The file is GB18030 text. Lines end in CR LF when written; LF or CR LF are
// read. Every change replaces the file through a temporary file in the same
// folder, so a failed write leaves the old file whole. A file this class
// creates is readable by its owner only; a replaced file keeps its mode.
//
// The file is parsed once, at the first operation after INIFileName is set;
// one instance serves one load or one save.
class classIniFile {
 public:
  QString INIFileName;  // full path; set before any other operation

  // The value, or the empty text for a missing key or an unreadable file.
  QString GetIniKey(const QString& section, const QString& key);
  // True when the key is in the file, even with an empty value.
  bool HasIniKey(const QString& section, const QString& key);
  // Creates the section and the key as needed. False when the file could not
  // be read or replaced (errorString() says why); the file is then unchanged.
  bool WriteIniKey(const QString& section, const QString& key, const QString& value);
  bool DelIniKey(const QString& section, const QString& key);
  bool DelIniSec(const QString& section);

  // Collects the writes that follow into one replacement of the file, made by
  // commitUpdate(); until then the file on disk is untouched.
  void beginUpdate();
  bool commitUpdate();

  // Creates the file empty, owner only, when nothing exists at the path.
  // False on failure.
  bool createIfMissing();

  QString errorString() const { return error_; }

  // The longest prefix of a GB18030 byte string of at most maxBytes bytes
  // that ends on a character boundary.
  static QByteArray cutOnCharBoundary(const QByteArray& bytes, qsizetype maxBytes);

  static constexpr qsizetype kMaxValueBytes = 1023;

 private:
  struct Line {
    QByteArray raw;     // the line's bytes without its line end
    qsizetype eq = -1;  // position of the first '=' of a key line, else -1
    QString key;        // the key's name as stored (key lines only)
  };
  struct Section {
    QString name;       // as stored; empty for the lines before any header
    QByteArray header;  // the header line's bytes; empty for the preamble
    QList<Line> lines;
    QHash<QString, qsizetype> keys;  // folded key -> first line with that key
    qsizetype lastKey = -1;          // index of the last key line
    void reindex();
  };

  bool ensureLoaded();
  bool flush();
  QByteArray serialize() const;
  // The first key line of that name in the sections of that name.
  Line* findKey(const QString& section, const QString& key);
  qsizetype findSection(const QString& section) const;

  bool loaded_ = false;
  bool readable_ = true;
  bool deferred_ = false;
  QString loadedFrom_;
  QList<Section> sections_;
  QString error_;
};
