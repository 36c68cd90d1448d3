#include <QThread>
#include <QtTest>

#include "codecs/Charsets.h"
#include "codecs/PercentEncode.h"
#include "codecs/PostForm.h"
#include "codecs/StopWatch.h"

class TestCodecs : public QObject {
  Q_OBJECT
 private slots:
  void percentEncode_data();
  void percentEncode();
  void postForm();
  void utf8Decode_data();
  void utf8Decode();
  void gb2312Decode_data();
  void gb2312Decode();
  void gb18030_data();
  void gb18030();
  void gb18030DecodeNeverFails();
  void cp936HashBytes_data();
  void cp936HashBytes();
  void stopWatch();
};

void TestCodecs::percentEncode_data() {
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("encoded");
  QTest::newRow("space slash ni") << QString::fromUtf8(" /你") << "%20%2F%E4%BD%A0";
  QTest::newRow("unreserved kept") << "AZaz09-_.!~*'()"
                                   << "AZaz09-_.!~*'()";
  QTest::newRow("reserved encoded") << "&=+?#,;:@$"
                                    << "%26%3D%2B%3F%23%2C%3B%3A%40%24";
  QTest::newRow("empty") << ""
                         << "";
  QTest::newRow("euro") << QString::fromUtf8("€") << "%E2%82%AC";
  QTest::newRow("astral pair") << QString::fromUtf8("😀") << "%F0%9F%98%80";
  QTest::newRow("percent itself") << "x%0D%0Ay"
                                  << "x%250D%250Ay";
  // Escapes of a double-quoted literal take effect before encoding.
  QTest::newRow("tab") << "a\\tb"
                       << "a%09b";
  QTest::newRow("simple escapes") << "\\n\\r\\b\\f\\v"
                                  << "%0A%0D%08%0C%0B";
  QTest::newRow("nul") << "\\0"
                       << "%00";
  QTest::newRow("nul then 8") << "\\08"
                              << "%008";
  QTest::newRow("legacy octal") << "\\101\\7\\477"
                                << "A%07'7";
  QTest::newRow("8 and 9 stand for themselves") << "\\8\\9"
                                                << "89";
  QTest::newRow("hex") << "\\x41\\x7e"
                       << "A~";
  QTest::newRow("unicode") << "\\u4F60\\u4f60"
                           << "%E4%BD%A0%E4%BD%A0";
  QTest::newRow("unicode pair") << "\\uD83D\\uDE00"
                                << "%F0%9F%98%80";
  QTest::newRow("other escaped char") << "\\q\\'\\a"
                                      << "q'a";
  QTest::newRow("escaped backslash") << "a\\\\b"
                                     << "a%5Cb";
  QTest::newRow("escaped quote") << "\\\""
                                 << "%22";
  QTest::newRow("continuation LF") << "a\\\nb"
                                   << "ab";
  QTest::newRow("continuation CR LF") << "a\\\r\nb"
                                      << "ab";
  QTest::newRow("continuation CR") << "a\\\rb"
                                   << "ab";
  QTest::newRow("continuation LS") << QStringLiteral("a\\\u2028b") << "ab";
  // Values a literal could not hold are taken as written.
  QTest::newRow("bare quote") << "a\"b"
                              << "a%22b";
  QTest::newRow("quote closing early") << "\"+alert(1)+\""
                                       << "%22%2Balert(1)%2B%22";
  QTest::newRow("trailing backslash") << "ab\\"
                                      << "ab%5C";
  QTest::newRow("only backslash") << "\\"
                                  << "%5C";
  QTest::newRow("short hex") << "\\x4"
                             << "x4";
  QTest::newRow("bad hex") << "\\xZZ"
                           << "xZZ";
  QTest::newRow("short unicode") << "\\u12"
                                 << "u12";
  QTest::newRow("raw line break") << "a\r\nb"
                                  << "a%0D%0Ab";
  QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + "x"
                                       << "%ED%A0%80x";
  QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) << "%ED%B0%80";
  QTest::newRow("escaped lone surrogate") << "\\uDC00"
                                          << "%ED%B0%80";
}

void TestCodecs::percentEncode() {
  QFETCH(QString, value);
  QFETCH(QString, encoded);
  QCOMPARE(::percentEncode(value), encoded);
}

void TestCodecs::postForm() {
  PostForm f;
  QVERIFY(f.Form.isEmpty() && f.Form1.isEmpty());
  f.AddItem("a", "1");
  f.AddItem("b", "2");
  QCOMPARE(f.Form, QString("a=1&b=2"));
  f.AddItem("c", "x&y=z");  // not encoded here
  QCOMPARE(f.Form, QString("a=1&b=2&c=x&y=z"));
  QVERIFY(f.Form1.isEmpty());

  PostForm g;
  g.AddItem("", "1");
  QCOMPARE(g.Form, QString("=1"));
  g.AddItem("", "");
  QCOMPARE(g.Form, QString("=1&="));
}

void TestCodecs::utf8Decode_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("text");
  QTest::newRow("empty") << QByteArray() << QString();
  QTest::newRow("ni") << QByteArray("\xE4\xBD\xA0") << QString::fromUtf8("你");
  QTest::newRow("astral") << QByteArray("\xF0\x9F\x98\x80") << QString::fromUtf8("😀");
  QTest::newRow("invalid byte") << QByteArray(
                                       "a\xFF"
                                       "b")
                                << QStringLiteral("a\uFFFDb");
  QTest::newRow("broken sequence") << QByteArray(
                                          "\xC3"
                                          "a")
                                   << QStringLiteral("\uFFFDa");
  QTest::newRow("nul kept") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
}

void TestCodecs::utf8Decode() {
  QFETCH(QByteArray, bytes);
  QFETCH(QString, text);
  QCOMPARE(charsets::utf8Decode(bytes), text);
}

void TestCodecs::gb2312Decode_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QString>("text");
  QTest::newRow("empty") << QByteArray() << QString();
  QTest::newRow("nihao") << QByteArray("\xC4\xE3\xBA\xC3") << QString::fromUtf8("你好");
  QTest::newRow("ascii") << QByteArray("ok=1") << QString("ok=1");
  QTest::newRow("gbk extension") << QByteArray("\x81\x40") << QString::fromUtf8("丂");
  QTest::newRow("euro byte") << QByteArray("\x80") << QString::fromUtf8("€");
  QTest::newRow("lead byte at end") << QByteArray("a\xC4") << QStringLiteral("a\uFFFD");
  QTest::newRow("bad byte in middle") << QByteArray("\xFF\xC4\xE3") << QStringLiteral("\uFFFD你");
}

void TestCodecs::gb2312Decode() {
  QFETCH(QByteArray, bytes);
  QFETCH(QString, text);
  QCOMPARE(charsets::gb2312Decode(bytes), text);
}

void TestCodecs::gb18030_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("ascii") << QString("a=b\r\n") << QByteArray("a=b\r\n");
  QTest::newRow("zhong (GBK bytes)") << QString::fromUtf8("中") << QByteArray("\xD6\xD0");
  QTest::newRow("euro") << QString::fromUtf8("€") << QByteArray("\xA2\xE3");
  QTest::newRow("outside GBK") << QString::fromUtf8("₩") << QByteArray("\x81\x36\xB2\x39");
  QTest::newRow("astral") << QString::fromUtf8("😀") << QByteArray("\x94\x39\xFC\x36");
}

void TestCodecs::gb18030() {
  QFETCH(QString, text);
  QFETCH(QByteArray, bytes);
  QCOMPARE(charsets::toGb18030(text), bytes);
  QCOMPARE(charsets::fromGb18030(bytes), text);
}

void TestCodecs::gb18030DecodeNeverFails() {
  // A lone surrogate has no GB18030 form: it is written as "?", the rest kept.
  QCOMPARE(charsets::toGb18030(QStringLiteral("a") + QChar(0xD800) + QString::fromUtf8("中")),
           QByteArray("a?\xD6\xD0"));
  // Bytes that are not GB18030 become U+FFFD one byte at a time, except the
  // euro sign of code page 936 files.
  QCOMPARE(charsets::fromGb18030(QByteArray("\x80"
                                            "a\xFF\xD6",
                                            4)),
           QStringLiteral("€a\uFFFD\uFFFD"));
  QByteArray noise(70000, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) & 0xFF);
  const QString decoded = charsets::fromGb18030(noise);
  QVERIFY(!decoded.isEmpty());
  QVERIFY(decoded.size() <= noise.size());
  QVERIFY(charsets::gb2312Decode(noise).size() <= noise.size());
}

void TestCodecs::cp936HashBytes_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("ascii") << QString("abc") << QByteArray("abc");
  QTest::newRow("zhong") << QString::fromUtf8("中") << QByteArray("\xD6\xD0");
  QTest::newRow("e acute in GBK") << QString::fromUtf8("é") << QByteArray("\xA8\xA6");
  QTest::newRow("euro single byte") << QString::fromUtf8("€") << QByteArray("\xAC");
  QTest::newRow("no GBK form") << QString::fromUtf8("₩") << QByteArray("\xA9");
  QTest::newRow("latin1 no GBK form") << QString::fromUtf8("ÿ") << QByteArray("\xFF");
  QTest::newRow("surrogate pair by unit") << QString::fromUtf8("😀") << QByteArray("\x3D\x00", 2);
  QTest::newRow("user-defined area") << QString(QChar(0xE000)) << QByteArray("\xAA\xA1");
  QTest::newRow("mixed") << QString::fromUtf8("a中€") << QByteArray("a\xD6\xD0\xAC");
}

void TestCodecs::cp936HashBytes() {
  QFETCH(QString, text);
  QFETCH(QByteArray, bytes);
  QCOMPARE(charsets::toCp936HashBytes(text), bytes);
}

void TestCodecs::stopWatch() {
  CStopWatch sw;
  QCOMPARE(sw.MinimumResolution(), 1);
  QCOMPARE(sw.MaximumResolution(), 1000000);
  QThread::msleep(40);
  const qint32 first = sw.Elapsed();
  QVERIFY2(first >= 40 && first < 5000, qPrintable(QString::number(first)));
  sw.Reset();
  const qint32 afterReset = sw.Elapsed();
  QVERIFY2(afterReset >= 0 && afterReset < first, qPrintable(QString::number(afterReset)));
}

QTEST_GUILESS_MAIN(TestCodecs)
#include "tst_codecs.moc"
