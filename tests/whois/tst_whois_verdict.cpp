// Reading WHOIS replies: expiry dates in the forms servers use, and the
// verdict rules on everything received for one query.
#include <QtTest>

#include <QRandomGenerator>

#include "codecs/Charsets.h"
#include "whois/Monitor.h"
#include "whois/Rdap.h"
#include "whois/Verdict.h"

using whois::Expiry;

class TestWhoisVerdict : public QObject {
  Q_OBJECT
 private slots:
  void dates_data();
  void dates();
  void readReply_data();
  void readReply();
  void ports_data();
  void ports();
  void limited_data();
  void limited();
  void readInPieces_data();
  void readInPieces();
  void decoderInPieces();
  void rdap_data();
  void rdap();
  void retryAfter_data();
  void retryAfter();
};

void TestWhoisVerdict::dates_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QDate>("date");  // invalid: not a date
  const QDate jan8(2011, 1, 8);
  QTest::newRow("iso") << "2011-01-08" << jan8;
  QTest::newRow("iso T zulu") << "2011-01-08T00:00:00Z" << jan8;
  QTest::newRow("iso T fraction zulu") << "2011-01-08T23:59:59.0Z" << jan8;
  QTest::newRow("iso T offset") << "2011-01-08T09:30:00+08:00" << jan8;
  QTest::newRow("iso blank time") << "2011-01-08 00:00:00" << jan8;
  QTest::newRow("iso time and zone name") << "2011-01-08 00:00:00 UTC" << jan8;
  QTest::newRow("iso short fields") << "2011-1-8" << jan8;
  QTest::newRow("slashes") << "2011/01/08" << jan8;
  QTest::newRow("slashes short") << "2011/1/8 12:00:00" << jan8;
  QTest::newRow("dots") << "2011.01.08" << jan8;
  QTest::newRow("dots spaced") << "2011. 01. 08." << jan8;
  QTest::newRow("han") << "2011年1月8日" << jan8;
  QTest::newRow("dd-mon-yyyy") << "08-jan-2011" << jan8;
  QTest::newRow("dd-Mon-yyyy") << "08-Jan-2011" << jan8;
  QTest::newRow("d-MON-yyyy time") << "8-JAN-2011 00:00:00 UTC" << jan8;
  QTest::newRow("d Month yyyy") << "8 January 2011" << jan8;
  QTest::newRow("Month d yyyy") << "January 8 2011" << jan8;
  QTest::newRow("Mon dd, yyyy") << "Jan 08, 2011" << jan8;
  QTest::newRow("weekday Mon dd yyyy") << "Sat Jan 08 2011" << jan8;
  QTest::newRow("Sept") << "Sept 30 2011" << QDate(2011, 9, 30);
  QTest::newRow("trailing CR") << "2011-01-08\r" << jan8;
  QTest::newRow("blanks and CR") << " \t2011-01-08 \r" << jan8;
  QTest::newRow("leap day") << "2012-02-29" << QDate(2012, 2, 29);

  QTest::newRow("empty") << "" << QDate();
  QTest::newRow("words") << "never" << QDate();
  QTest::newRow("no such day") << "2011-02-30" << QDate();
  QTest::newRow("no such month") << "2011-13-01" << QDate();
  QTest::newRow("no leap day") << "2011-02-29" << QDate();
  QTest::newRow("mixed separators") << "2011-01/08" << QDate();
  QTest::newRow("trailing words") << "2011-01-08 please renew" << QDate();
  QTest::newRow("day first numeric") << "08/01/2011" << QDate();
  QTest::newRow("no such month name") << "08-Foo-2011" << QDate();
  QTest::newRow("day 32") << "32-Jan-2011" << QDate();
  QTest::newRow("two-digit year") << "11-01-08" << QDate();
}

void TestWhoisVerdict::dates() {
  QFETCH(QString, text);
  QFETCH(QDate, date);
  const std::optional<QDate> got = whois::parseExpiryDate(text);
  if (date.isValid()) {
    QVERIFY2(got.has_value(), qPrintable(text));
    QCOMPARE(*got, date);
  } else {
    QVERIFY2(!got.has_value(), qPrintable(got ? got->toString(Qt::ISODate) : QString()));
  }
}

namespace {
const QDate kToday(2011, 1, 1);
QString day(int ahead) { return kToday.addDays(ahead).toString(Qt::ISODate); }
}  // namespace

void TestWhoisVerdict::readReply_data() {
  QTest::addColumn<QString>("reply");
  QTest::addColumn<bool>("complete");
  QTest::addColumn<QString>("deletedMark");
  QTest::addColumn<QString>("tail");
  QTest::addColumn<bool>("deleted");
  QTest::addColumn<int>("expiry");
  QTest::addColumn<QString>("dateText");

  const QString head = QStringLiteral("Expiration Date: ");
  const QString mark = QStringLiteral("No match for");
  const QString none;
  auto line = [&](const QString& date) {
    return QStringLiteral("Domain: A.COM\r\n") + head + date + "\r\n";
  };

  QTest::newRow("deleted") << "No match for \"A.COM\".\r\n>>> Last update\r\n"
                           << false << mark << none << true << int(Expiry::None) << "";
  QTest::newRow("marker is case-sensitive")
      << "no match for \"A.COM\".\r\n"
      << false << mark << none << false << int(Expiry::None) << "";
  QTest::newRow("151 days: registered")
      << line(day(151) + "T00:00:00Z") << false << mark << none << false << int(Expiry::Registered)
      << day(151) + "T00:00:00Z\r";
  QTest::newRow("150 days: not yet deleted") << line(day(150)) << false << mark << none << false
                                             << int(Expiry::NotDeleted) << day(150) + "\r";
  QTest::newRow("past date") << line(day(-30)) << false << mark << none << false
                             << int(Expiry::NotDeleted) << day(-30) + "\r";
  QTest::newRow("today") << line(day(0)) << false << mark << none << false
                         << int(Expiry::NotDeleted) << day(0) + "\r";
  QTest::newRow("not a date") << line("soon") << false << mark << none << false
                              << int(Expiry::Unclear) << "soon\r";
  QTest::newRow("both markers") << "No match for A.COM\r\n" + head + day(400) + "\r\n"
                                << false << mark << none << true << int(Expiry::Registered)
                                << day(400) + "\r";
  QTest::newRow("first line with the head wins")
      << head + day(10) + "\n" + head + day(400) + "\n"
      << false << mark << none << false << int(Expiry::NotDeleted) << day(10);
  // The line is judged once its LF is in, or once the server has closed.
  QTest::newRow("line still incomplete")
      << head + day(400).left(8) << false << mark << none << false << int(Expiry::None) << "";
  QTest::newRow("incomplete line, server closed")
      << head + day(400) << true << mark << none << false << int(Expiry::Registered) << day(400);
  QTest::newRow("incomplete line after a complete one")
      << "Domain: A.COM\n" + head + day(400) << false << mark << none << false << int(Expiry::None)
      << "";
  // Tail markers.
  QTest::newRow("tail T") << head + "2011-01-08T00:00:00Z\n"
                          << false << mark << "T" << false << int(Expiry::NotDeleted)
                          << "2011-01-08";
  QTest::newRow("tail of one space counts as empty")
      << head + "2011-01-08T00:00:00Z\n"
      << false << mark << " " << false << int(Expiry::NotDeleted) << "2011-01-08T00:00:00Z";
  QTest::newRow("tail inside the head")
      << head + "2011-01-08T00:00:00Z\n"
      << false << mark << "a" << false << int(Expiry::CutFailed) << "";
  QTest::newRow("tail missing") << head + "2011-01-08\n"
                                << false << mark << "UTC" << false << int(Expiry::CutFailed) << "";
  QTest::newRow("tail right after the head")
      << head + "T\n"
      << false << mark << "T" << false << int(Expiry::Unclear) << "";
  // An empty deleted marker would occur in every text: it never reports deleted.
  QTest::newRow("empty deleted marker") << "anything\r\n"
                                        << false << "" << none << false << int(Expiry::None) << "";
  QTest::newRow("deleted marker of spaces")
      << "any thing\r\n"
      << false << "  " << none << false << int(Expiry::None) << "";
  QTest::newRow("neither marker") << "% rate limit exceeded\r\n"
                                  << true << mark << none << false << int(Expiry::None) << "";
}

void TestWhoisVerdict::readReply() {
  QFETCH(QString, reply);
  QFETCH(bool, complete);
  QFETCH(QString, deletedMark);
  QFETCH(QString, tail);
  QFETCH(bool, deleted);
  QFETCH(int, expiry);
  QFETCH(QString, dateText);
  const whois::Markers markers{deletedMark, QStringLiteral("Expiration Date: "), tail, {}};
  const whois::Reading r = whois::readReply(reply, complete, markers, kToday);
  QCOMPARE(r.deleted, deleted);
  QCOMPARE(int(r.expiry), expiry);
  QCOMPARE(r.dateText, dateText);
}

void TestWhoisVerdict::ports_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<int>("port");
  QTest::newRow("43") << "43" << 43;
  QTest::newRow("spaces") << " 43 " << 43;
  QTest::newRow("0") << "0" << 0;
  QTest::newRow("65535") << "65535" << 65535;
  QTest::newRow("65536") << "65536" << -1;
  QTest::newRow("negative") << "-1" << -1;
  QTest::newRow("fraction") << "43.5" << -1;
  QTest::newRow("empty") << "" << -1;
  QTest::newRow("words") << "whois" << -1;
  // One rule with the settings save: digits only.
  QTest::newRow("sign") << "+43" << -1;
  QTest::newRow("tab") << "\t43" << -1;
  QTest::newRow("six digits") << "000043" << -1;
}

void TestWhoisVerdict::ports() {
  QFETCH(QString, field);
  QFETCH(int, port);
  QCOMPARE(whois::portNumber(field), port);
}

void TestWhoisVerdict::limited_data() {
  QTest::addColumn<QString>("reply");
  QTest::addColumn<QString>("ownText");  // field 9
  QTest::addColumn<bool>("limited");
  const QString mark = QStringLiteral("No match for");
  QTest::newRow("WHOIS LIMIT EXCEEDED") << "WHOIS LIMIT EXCEEDED - see www.example/limits\r\n"
                                        << "" << true;
  QTest::newRow("Rate limit exceeded") << "% Rate limit exceeded\r\n"
                                       << "" << true;
  QTest::newRow("query frequency") << "The query frequency too fast, Query rate exceeded\r\n"
                                   << "" << true;
  QTest::newRow("Chinese") << "查询频率过快，请稍后再试\r\n"
                           << "" << true;
  QTest::newRow("too many, mixed case") << "ToO MaNy requests\r\n"
                                        << "" << true;
  // A limited reply is no answer, whatever markers it holds.
  QTest::newRow("with the deleted marker") << mark + " \"A.COM\". Please slow down.\r\n"
                                           << "" << true;
  QTest::newRow("with an expiry date") << "Expiration Date: 2040-01-01\r\nquota used up\r\n"
                                       << "" << true;
  QTest::newRow("own text") << "Access denied: you are banned\r\n"
                            << "BANNED" << true;
  QTest::newRow("own text blank: ignored") << "Access denied\r\n"
                                           << " " << false;
  QTest::newRow("a plain deletion") << mark + " \"A.COM\".\r\n"
                                    << "" << false;
  QTest::newRow("a plain expiry") << "Expiration Date: 2040-01-01\r\n"
                                  << "" << false;
}

void TestWhoisVerdict::limited() {
  QFETCH(QString, reply);
  QFETCH(QString, ownText);
  QFETCH(bool, limited);
  const whois::Markers markers{QStringLiteral("No match for"), QStringLiteral("Expiration Date: "),
                               QString(), ownText};
  const whois::Reading r = whois::readReply(reply, true, markers, kToday);
  QCOMPARE(r.limited, limited);
  if (limited) {
    QVERIFY(!r.deleted);
    QCOMPARE(int(r.expiry), int(Expiry::None));
  }
}

// However a reply is cut up, the reader ends with what the whole reply
// gives, and says "deleted" at the very piece that completes the marker.
void TestWhoisVerdict::readInPieces_data() {
  QTest::addColumn<QString>("reply");
  QTest::addColumn<QString>("tail");
  const QString filler =
      QStringLiteral("Registrar: 中国万网 (HiChina)\r\nStatus: ok\r\n").repeated(20);
  QTest::newRow("deleted after filler") << filler + "No match for \"A.COM\".\r\n"
                                        << "";
  QTest::newRow("expiry with tail") << filler + "Expiration Date: 2011-05-08T00:00:00Z\r\n"
                                    << "T";
  QTest::newRow("expiry last, no LF") << filler + "Expiration Date: 2011-08-01"
                                      << "";
  QTest::newRow("both") << "No match for A.COM\r\n" + filler + "Expiration Date: 2012-01-01\r\n"
                        << "";
  QTest::newRow("limited at the end") << filler + "No match for A.COM\r\nRate Limit Exceeded"
                                      << "";
  QTest::newRow("cut fails") << filler + "Expiration Date: 2011-01-08\r\n"
                             << "UTC";
  QTest::newRow("nothing") << filler << "";
}

void TestWhoisVerdict::readInPieces() {
  QFETCH(QString, reply);
  QFETCH(QString, tail);
  const whois::Markers m{QStringLiteral("No match for"), QStringLiteral("Expiration Date: "), tail,
                         QString()};
  const QByteArray bytes = charsets::toGb18030(reply);
  const qsizetype markerEnd =
      bytes.indexOf("No match for") < 0
          ? -1
          : bytes.indexOf("No match for") + qsizetype(strlen("No match for"));
  for (const bool complete : {false, true}) {
    const whois::Reading whole = whois::readReply(reply, complete, m, kToday);
    for (const qsizetype size : {1, 2, 3, 7, 512}) {
      whois::ReplyReader reader(m);
      whois::Reading r;
      for (qsizetype at = 0; at < bytes.size(); at += size) {
        reader.append(bytes.mid(at, size));
        const bool last = at + size >= bytes.size();
        r = reader.read(complete && last, kToday);
        if (markerEnd >= 0 && !r.limited) QCOMPARE(r.deleted, at + size >= markerEnd);
      }
      QCOMPARE(reader.text(), reply);
      QCOMPARE(r.limited, whole.limited);
      QCOMPARE(r.deleted, whole.deleted);
      QCOMPARE(int(r.expiry), int(whole.expiry));
      QCOMPARE(r.dateText, whole.dateText);
      QCOMPARE(r.expiryDate, whole.expiryDate);
    }
  }
}

// GB18030 cut anywhere, invalid bytes included, decodes as the whole does.
void TestWhoisVerdict::decoderInPieces() {
  QRandomGenerator random(20261211);
  const QByteArray text = charsets::toGb18030(QStringLiteral("到期时间: 2030年 €𠀀 ok\r\n"));
  for (int round = 0; round < 200; ++round) {
    QByteArray bytes;
    while (bytes.size() < 60) {
      if (random.bounded(4) == 0)
        bytes += char(random.bounded(256));  // noise: lone lead bytes, invalid trails
      else
        bytes += text.mid(random.bounded(int(text.size())), 4);
    }
    charsets::Gb18030Decoder decoder;
    QString pieces;
    for (qsizetype at = 0; at < bytes.size();) {
      const qsizetype n = 1 + random.bounded(5);
      pieces += decoder.decode(bytes.mid(at, n));
      at += n;
    }
    pieces += decoder.finish();
    QCOMPARE(pieces, charsets::fromGb18030(bytes));
  }
}

void TestWhoisVerdict::rdap_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<bool>("truncated");
  QTest::addColumn<int>("verdict");
  QTest::addColumn<QDate>("expiry");
  using V = whois::RdapVerdict;
  auto domain = [](const QByteArray& expiry, const QByteArray& status = "[\"active\"]") {
    return "{\"objectClassName\":\"domain\",\"ldhName\":\"A.COM\",\"status\":" + status +
           ",\"events\":[{\"eventAction\":\"registration\",\"eventDate\":\"1999-01-01T00:00:00Z\"},"
           "{\"eventAction\":\"expiration\",\"eventDate\":\"" +
           expiry + "\"}]}";
  };
  const QByteArray far = kToday.addDays(151).toString(Qt::ISODate).toLatin1() + "T04:00:00Z";
  const QByteArray near = kToday.addDays(150).toString(Qt::ISODate).toLatin1() + "T23:59:59Z";
  QTest::newRow("404") << 404 << QByteArray("{\"errorCode\":404}") << false << int(V::Deleted)
                       << QDate();
  QTest::newRow("200 far") << 200 << domain(far) << false << int(V::Registered)
                           << kToday.addDays(151);
  QTest::newRow("200 near") << 200 << domain(near) << false << int(V::NotDeleted)
                            << kToday.addDays(150);
  QTest::newRow("200 far but pending delete")
      << 200 << domain(far, "[\"pending delete\",\"inactive\"]") << false << int(V::NotDeleted)
      << kToday.addDays(151);
  QTest::newRow("200 redemption, no dates")
      << 200 << QByteArray("{\"status\":[\"Redemption Period\"]}") << false << int(V::NotDeleted)
      << QDate();
  QTest::newRow("200 without expiration")
      << 200 << QByteArray("{\"events\":[]}") << false << int(V::Unclear) << QDate();
  QTest::newRow("200 date that does not parse")
      << 200 << domain("soon") << false << int(V::Unclear) << QDate();
  QTest::newRow("200 not JSON") << 200 << QByteArray("<html>hello</html>") << false
                                << int(V::Unclear) << QDate();
  QTest::newRow("200 JSON array") << 200 << QByteArray("[1,2]") << false << int(V::Unclear)
                                  << QDate();
  QTest::newRow("200 cut at the cap") << 200 << domain(far) << true << int(V::Unclear) << QDate();
  QTest::newRow("200 events not an array")
      << 200 << QByteArray("{\"events\":\"x\"}") << false << int(V::Unclear) << QDate();
  QTest::newRow("429") << 429 << QByteArray() << false << int(V::Limited) << QDate();
  QTest::newRow("503") << 503 << QByteArray() << false << int(V::Limited) << QDate();
  QTest::newRow("403") << 403 << QByteArray() << false << int(V::Unclear) << QDate();
  QTest::newRow("no answer") << 0 << QByteArray() << false << int(V::NoAnswer) << QDate();
}

void TestWhoisVerdict::rdap() {
  QFETCH(int, status);
  QFETCH(QByteArray, body);
  QFETCH(bool, truncated);
  QFETCH(int, verdict);
  QFETCH(QDate, expiry);
  const whois::RdapReading r = whois::readRdap(status, body, truncated, QByteArray(), kToday,
                                               QDateTime::currentDateTimeUtc());
  QCOMPARE(int(r.verdict), verdict);
  QCOMPARE(r.expiry, expiry);
}

void TestWhoisVerdict::retryAfter_data() {
  QTest::addColumn<QByteArray>("header");
  QTest::addColumn<qint64>("ms");
  QTest::newRow("seconds") << QByteArray("120") << qint64(120000);
  QTest::newRow("zero") << QByteArray("0") << qint64(0);
  QTest::newRow("HTTP date") << QByteArray("Sat, 15 Jun 2030 12:00:30 GMT") << qint64(30000);
  QTest::newRow("date passed") << QByteArray("Sat, 15 Jun 2030 11:00:00 GMT") << qint64(0);
  QTest::newRow("absent") << QByteArray() << qint64(-1);
  QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
  QTest::newRow("words") << QByteArray("later") << qint64(-1);
}

void TestWhoisVerdict::retryAfter() {
  QFETCH(QByteArray, header);
  QFETCH(qint64, ms);
  const QDateTime now(QDate(2030, 6, 15), QTime(12, 0, 0), Qt::UTC);
  QCOMPARE(whois::retryAfterMs(header, now), ms);
}

QTEST_GUILESS_MAIN(TestWhoisVerdict)
#include "tst_whois_verdict.moc"
