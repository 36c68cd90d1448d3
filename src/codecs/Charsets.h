#pragma once
#include <QByteArray>
#include <QString>

// Character-set conversions (glibc iconv). Decoders never fail: bytes that do
// not decode are replaced (U+FFFD) and decoding goes on.
namespace charsets {

// Reply bytes as UTF-8.
QString utf8Decode(const QByteArray& bytes);
// Reply bytes as GB2312, accepting the GBK extension.
QString gb2312Decode(const QByteArray& bytes);

// Files (INI, task files) and WHOIS queries and replies: GB18030, a superset of
// GBK, so GBK input reads unchanged and nothing is lost on write.
QString fromGb18030(const QByteArray& bytes);
QByteArray toGb18030(const QString& text);

// GB18030 that arrives in pieces: each piece is decoded as far as it goes,
// and a character cut off at its end waits for the next piece. Joined, the
// pieces decode exactly as fromGb18030 decodes the whole.
class Gb18030Decoder {
 public:
  QString decode(const QByteArray& bytes);
  // No more bytes will come: what still waits is decoded as it stands.
  QString finish();

 private:
  QByteArray pending_;  // at most the first bytes of one character
};

// Bytes hashed by md5: each UTF-16 code unit on its own in code page 936; a
// double-byte result gives its two bytes, anything else the unit's low 8 bits.
QByteArray toCp936HashBytes(const QString& text);

// Builds the conversion tables and opens the converters now, so that the
// first registration request of a run does not wait for them (the md5 table
// takes milliseconds to build).
void warmUp();

}  // namespace charsets
