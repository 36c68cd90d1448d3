#include "codecs/Charsets.h"

#include <iconv.h>

#include <QtEndian>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace charsets {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// One conversion descriptor per direction, opened once: opening loads a
// gconv module, far dearer than the conversions themselves.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  // Converts as much as it can. Returns 0 when all input was taken, else the
  // errno that stopped it (EILSEQ, EINVAL); in and out advance past what was done.
  int run(const char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
    while (inLeft > 0) {
      char* src = const_cast<char*>(in);
      const size_t r = iconv(cd_, &src, &inLeft, &out, &outLeft);
      in = src;
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) return E2BIG;
      return errno;
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

Converter& converter(const char* to, const char* from) {
  // Few distinct pairs are ever used; keep them for the life of the thread.
  struct Entry {
    const char* to;
    const char* from;
    std::unique_ptr<Converter> conv;
  };
  thread_local std::array<Entry, 8> cache{};
  for (Entry& e : cache) {
    if (e.conv && std::strcmp(e.to, to) == 0 && std::strcmp(e.from, from) == 0) return *e.conv;
    if (!e.conv) {
      e = {to, from, std::make_unique<Converter>(to, from)};
      return *e.conv;
    }
  }
  // Not reached with the fixed set of pairs below; fall back to a fresh one.
  thread_local std::unique_ptr<Converter> spare;
  spare = std::make_unique<Converter>(to, from);
  return *spare;
}

// Multi-byte text to UTF-16. Undecodable bytes become U+FFFD one byte at a
// time (or a caller-chosen character), so decoding always finishes. With
// `rest`, a sequence cut off at the end is not replaced but handed back
// there, to be decoded with the bytes that follow it.
QString decode(const char* charset, const QByteArray& bytes, char16_t (*onInvalidByte)(uchar),
               QByteArray* rest = nullptr) {
  if (rest) rest->clear();
  if (bytes.isEmpty()) return QString();
  Converter& conv = converter("UTF-16LE", charset);
  if (!conv.ok()) return QString::fromLatin1(bytes);
  conv.reset();
  // Every input byte yields at most one UTF-16 unit, and a 4-byte sequence at
  // most two: 2 units per byte is always enough room.
  QByteArray buffer(bytes.size() * 4 + 4, Qt::Uninitialized);
  const char* in = bytes.constData();
  size_t inLeft = static_cast<size_t>(bytes.size());
  char* out = buffer.data();
  size_t outLeft = static_cast<size_t>(buffer.size());
  auto put = [&](char16_t u) {
    if (outLeft < 2) return;
    qToLittleEndian<quint16>(u, out);
    out += 2;
    outLeft -= 2;
  };
  while (inLeft > 0) {
    const int err = conv.run(in, inLeft, out, outLeft);
    if (err == 0 || err == E2BIG) break;
    if (err == EINVAL && rest) {
      *rest = QByteArray(in, static_cast<qsizetype>(inLeft));
      break;
    }
    // EILSEQ or EINVAL (a sequence cut off at the end): replace one byte, go on.
    put(onInvalidByte(static_cast<uchar>(*in)));
    ++in;
    --inLeft;
    conv.reset();
  }
  const qsizetype units = (out - buffer.constData()) / 2;
  QString result(units, Qt::Uninitialized);
  char16_t* dst = reinterpret_cast<char16_t*>(result.data());
  for (qsizetype i = 0; i < units; ++i)
    dst[i] = qFromLittleEndian<quint16>(buffer.constData() + 2 * i);
  return result;
}

// Code page 936 has the euro sign as the single byte 0x80; glibc's GBK table
// does not decode it.
char16_t replaceCp936(uchar b) { return b == 0x80 ? char16_t(0x20AC) : kReplacement; }

// Converts a single UTF-16 unit (not a surrogate) into charset; empty when the
// charset has no form for it.
QByteArray encodeUnit(Converter& conv, char16_t u) {
  conv.reset();
  char in[2];
  qToLittleEndian<quint16>(u, in);
  const char* src = in;
  size_t inLeft = 2;
  char buffer[8];
  char* out = buffer;
  size_t outLeft = sizeof buffer;
  if (conv.run(src, inLeft, out, outLeft) != 0) return QByteArray();
  return QByteArray(buffer, out - buffer);
}

}  // namespace

QString utf8Decode(const QByteArray& bytes) {
  // Qt's decoder replaces every malformed sequence with U+FFFD and goes on.
  return QString::fromUtf8(bytes);
}

QString gb2312Decode(const QByteArray& bytes) { return decode("GBK", bytes, replaceCp936); }

// A lone 0x80 is no GB18030 sequence; in a code page 936 file it is the euro sign.
QString fromGb18030(const QByteArray& bytes) { return decode("GB18030", bytes, replaceCp936); }

QString Gb18030Decoder::decode(const QByteArray& bytes) {
  if (pending_.isEmpty()) return charsets::decode("GB18030", bytes, replaceCp936, &pending_);
  const QByteArray joined = pending_ + bytes;
  return charsets::decode("GB18030", joined, replaceCp936, &pending_);
}

QString Gb18030Decoder::finish() {
  const QByteArray last = std::exchange(pending_, QByteArray());
  return fromGb18030(last);
}

QByteArray toGb18030(const QString& text) {
  if (text.isEmpty()) return QByteArray();
  Converter& conv = converter("GB18030", "UTF-16LE");
  if (!conv.ok()) return text.toUtf8();
  conv.reset();
  QByteArray input(text.size() * 2, Qt::Uninitialized);
  for (qsizetype i = 0; i < text.size(); ++i)
    qToLittleEndian<quint16>(text[i].unicode(), input.data() + 2 * i);
  // GB18030 needs at most 4 bytes per character (2 units) or per BMP unit.
  QByteArray buffer(text.size() * 4 + 4, Qt::Uninitialized);
  const char* in = input.constData();
  size_t inLeft = static_cast<size_t>(input.size());
  char* out = buffer.data();
  size_t outLeft = static_cast<size_t>(buffer.size());
  while (inLeft > 0) {
    const int err = conv.run(in, inLeft, out, outLeft);
    if (err == 0 || err == E2BIG) break;
    // Only a lone surrogate has no GB18030 form: write "?" for that unit.
    if (outLeft > 0) {
      *out++ = '?';
      --outLeft;
    }
    in += 2;
    inLeft = inLeft >= 2 ? inLeft - 2 : 0;
    conv.reset();
  }
  buffer.truncate(out - buffer.constData());
  return buffer;
}

namespace {

// Double-byte code of every BMP unit in code page 936, 0 where the unit has
// none; built once.
std::unique_ptr<quint16[]> buildCp936Table() {
  auto t = std::make_unique<quint16[]>(0x10000);
  Converter gbk("GBK", "UTF-16LE");
  Converter gb18030("GB18030", "UTF-16LE");
  for (quint32 u = 0x80; u <= 0xFFFF; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    QByteArray b = gbk.ok() ? encodeUnit(gbk, char16_t(u)) : QByteArray();
    // Code page 936 also maps the user-defined areas to the private use
    // area; glibc's GBK leaves them out, its GB18030 has them as in 936.
    if (b.isEmpty() && u >= 0xE000 && u <= 0xF8FF && gb18030.ok())
      b = encodeUnit(gb18030, char16_t(u));
    if (b.size() == 2) t[u] = quint16((uchar(b[0]) << 8) | uchar(b[1]));
  }
  return t;
}

const quint16* cp936Table() {
  static const std::unique_ptr<quint16[]> table = buildCp936Table();
  return table.get();
}

}  // namespace

QByteArray toCp936HashBytes(const QString& text) {
  const quint16* table = cp936Table();
  QByteArray out;
  out.reserve(text.size() * 2);
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    const quint16 code = table[u];
    if (code != 0) {
      out.append(char(code >> 8));
      out.append(char(code & 0xFF));
    } else {
      out.append(char(u & 0xFF));
    }
  }
  return out;
}

void warmUp() {
  cp936Table();
  gb2312Decode(QByteArray("\xC4\xE3"));
  fromGb18030(QByteArray("\xC4\xE3"));
}

}  // namespace charsets
