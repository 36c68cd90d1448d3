#include <QtTest>

#include "task/Md5.h"

class TestMd5 : public QObject {
  Q_OBJECT
 private slots:
  void digest_data();
  void digest();
};

void TestMd5::digest_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("hex");
  // The test suite of RFC 1321, appendix A.5.
  QTest::newRow("rfc empty") << ""
                             << "d41d8cd98f00b204e9800998ecf8427e";
  QTest::newRow("rfc a") << "a"
                         << "0cc175b9c0f1b6a831c399e269772661";
  QTest::newRow("rfc abc") << "abc"
                           << "900150983cd24fb0d6963f7d28e17f72";
  QTest::newRow("rfc message digest") << "message digest"
                                      << "f96b697d7cb7938d525a2f31aaf161d0";
  QTest::newRow("rfc alphabet") << "abcdefghijklmnopqrstuvwxyz"
                                << "c3fcd3d76192e4007dfb496cca67e13b";
  QTest::newRow("rfc alnum") << "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                             << "d174ab98d277d9f5a5611c2c9f419d9f";
  QTest::newRow("rfc digits") << QString("1234567890").repeated(8)
                              << "57edf4a22be3c955ac49da2e2107b67a";
  // Padding boundaries: the length fits the last block, just does not, fills it.
  QTest::newRow("55 bytes") << QString(55, 'a') << "ef1772b6dff9a122358552954ad0df65";
  QTest::newRow("56 bytes") << QString(56, 'a') << "3b0c8ac703f828b04c6c197006d17218";
  QTest::newRow("64 bytes") << QString(64, 'a') << "014842d480b571495a4a0363793f7367";
  // Code page 936 bytes, not UTF-8: 中 is D6 D0, the euro sign 0xAC.
  QTest::newRow("zhong") << QString::fromUtf8("中") << "5301da37e5ffca1823a5cef67488d4bf";
  QTest::newRow("euro") << QString::fromUtf8("€") << "20a7f30fb9f8e145422b66b3d4f4da70";
  QTest::newRow("mixed") << QString::fromUtf8("a中€") << "3077b41f900b29072adacef721b9212d";
}

void TestMd5::digest() {
  QFETCH(QString, text);
  QFETCH(QString, hex);
  QCOMPARE(md5(text), hex);
}

QTEST_GUILESS_MAIN(TestMd5)
#include "tst_md5.moc"
