#include "codecs/PercentEncode.h"

namespace {

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool isOctal(char16_t c) { return c >= u'0' && c <= u'7'; }

// Reads count hex digits at s[at]; -1 unless all are there.
int hexAt(const QString& s, qsizetype at, int count) {
  if (at + count > s.size()) return -1;
  int v = 0;
  for (int i = 0; i < count; ++i) {
    const int d = hexValue(s[at + i].unicode());
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// The characters a double-quoted string literal with this body stands for.
// Where a literal would be malformed (a double quote or a line break inside
// it, a trailing lone backslash, a \x or \u without its hex digits) the
// character is taken as written instead of failing.
QString readLiteralBody(const QString& s) {
  QString out;
  out.reserve(s.size());
  const qsizetype n = s.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = s[i].unicode();
    if (c != u'\\') {
      out.append(QChar(c));
      continue;
    }
    if (i + 1 == n) {  // trailing lone backslash
      out.append(QChar(c));
      break;
    }
    const char16_t e = s[++i].unicode();
    switch (e) {
      case u'n':
        out.append(QChar(u'\n'));
        break;
      case u't':
        out.append(QChar(u'\t'));
        break;
      case u'r':
        out.append(QChar(u'\r'));
        break;
      case u'b':
        out.append(QChar(u'\b'));
        break;
      case u'f':
        out.append(QChar(u'\f'));
        break;
      case u'v':
        out.append(QChar(u'\v'));
        break;
      case u'x': {
        const int v = hexAt(s, i + 1, 2);
        if (v < 0) {
          out.append(QChar(e));
        } else {
          out.append(QChar(char16_t(v)));
          i += 2;
        }
        break;
      }
      case u'u': {
        const int v = hexAt(s, i + 1, 4);
        if (v < 0) {
          out.append(QChar(e));
        } else {
          out.append(QChar(char16_t(v)));
          i += 4;
        }
        break;
      }
      // Line continuations: the backslash and the line end vanish.
      case u'\r':
        if (i + 1 < n && s[i + 1] == u'\n') ++i;
        break;
      case u'\n':
      case 0x2028:
      case 0x2029:
        break;
      default:
        if (isOctal(e)) {
          // \0 and the legacy octal escapes (\7, \12, \377) that the
          // engines of the web, JScript among them, read in string literals.
          int v = e - u'0';
          const int maxDigits = e <= u'3' ? 3 : 2;
          int digits = 1;
          while (digits < maxDigits && i + 1 < n && isOctal(s[i + 1].unicode())) {
            v = v * 8 + (s[++i].unicode() - u'0');
            ++digits;
          }
          out.append(QChar(char16_t(v)));
        } else {
          out.append(QChar(e));  // any other escaped character stands for itself
        }
    }
  }
  return out;
}

bool isUnreserved(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
  switch (c) {
    case u'-':
    case u'_':
    case u'.':
    case u'!':
    case u'~':
    case u'*':
    case u'\'':
    case u'(':
    case u')':
      return true;
    default:
      return false;
  }
}

void appendByte(QString& out, unsigned b) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  out.append(QChar(u'%'));
  out.append(QChar(kHex[(b >> 4) & 0xF]));
  out.append(QChar(kHex[b & 0xF]));
}

// encodeURIComponent, except that a lone surrogate is written as the three
// bytes of its code unit rather than raising an error.
QString encodeUriComponent(const QString& s) {
  QString out;
  out.reserve(s.size() * 3);
  const qsizetype n = s.size();
  for (qsizetype i = 0; i < n; ++i) {
    char32_t c = s[i].unicode();
    if (isUnreserved(char16_t(c))) {
      out.append(QChar(char16_t(c)));
      continue;
    }
    if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
      c = QChar::surrogateToUcs4(char16_t(c), s[++i].unicode());
    }
    if (c < 0x80) {
      appendByte(out, c);
    } else if (c < 0x800) {
      appendByte(out, 0xC0 | (c >> 6));
      appendByte(out, 0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      appendByte(out, 0xE0 | (c >> 12));
      appendByte(out, 0x80 | ((c >> 6) & 0x3F));
      appendByte(out, 0x80 | (c & 0x3F));
    } else {
      appendByte(out, 0xF0 | (c >> 18));
      appendByte(out, 0x80 | ((c >> 12) & 0x3F));
      appendByte(out, 0x80 | ((c >> 6) & 0x3F));
      appendByte(out, 0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

QString percentEncode(const QString& value) { return encodeUriComponent(readLiteralBody(value)); }
