// Reading WHOIS replies: expiry dates in the forms servers use, and the
// verdict rules on everything received for one query.
#include <QtTest>

#include "whois/Monitor.h"
#include "whois/Verdict.h"

using whois::Expiry;

class WhoisVerdictTest : public QObject {
  Q_OBJECT
 private slots:
  void dates_data();
  void dates();
  void readReply_data();
  void readReply();
  void ports_data();
  void ports();
};

void WhoisVerdictTest::dates_data() {
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

void WhoisVerdictTest::dates() {
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

void WhoisVerdictTest::readReply_data() {
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
  auto line = [&](const QString& date) { return QStringLiteral("Domain: A.COM\r\n") + head + date + "\r\n"; };

  QTest::newRow("deleted") << "No match for \"A.COM\".\r\n>>> Last update\r\n" << false << mark << none
                           << true << int(Expiry::None) << "";
  QTest::newRow("marker is case-sensitive") << "no match for \"A.COM\".\r\n" << false << mark << none
                                            << false << int(Expiry::None) << "";
  QTest::newRow("151 days: registered") << line(day(151) + "T00:00:00Z") << false << mark << none
                                        << false << int(Expiry::Registered)
                                        << day(151) + "T00:00:00Z\r";
  QTest::newRow("150 days: not yet deleted") << line(day(150)) << false << mark << none << false
                                             << int(Expiry::NotDeleted) << day(150) + "\r";
  QTest::newRow("past date") << line(day(-30)) << false << mark << none << false
                             << int(Expiry::NotDeleted) << day(-30) + "\r";
  QTest::newRow("today") << line(day(0)) << false << mark << none << false
                         << int(Expiry::NotDeleted) << day(0) + "\r";
  QTest::newRow("not a date") << line("soon") << false << mark << none << false
                              << int(Expiry::Unclear) << "soon\r";
  QTest::newRow("both markers") << "No match for A.COM\r\n" + head + day(400) + "\r\n" << false
                                << mark << none << true << int(Expiry::Registered)
                                << day(400) + "\r";
  QTest::newRow("first line with the head wins")
      << head + day(10) + "\n" + head + day(400) + "\n" << false << mark << none << false
      << int(Expiry::NotDeleted) << day(10);
  // The line is judged once its LF is in, or once the server has closed.
  QTest::newRow("line still incomplete") << head + day(400).left(8) << false << mark << none << false
                                         << int(Expiry::None) << "";
  QTest::newRow("incomplete line, server closed") << head + day(400) << true << mark << none << false
                                                  << int(Expiry::Registered) << day(400);
  QTest::newRow("incomplete line after a complete one")
      << "Domain: A.COM\n" + head + day(400) << false << mark << none << false
      << int(Expiry::None) << "";
  // Tail markers.
  QTest::newRow("tail T") << head + "2011-01-08T00:00:00Z\n" << false << mark << "T" << false
                          << int(Expiry::NotDeleted) << "2011-01-08";
  QTest::newRow("tail of one space counts as empty") << head + "2011-01-08T00:00:00Z\n" << false << mark
                                                     << " " << false << int(Expiry::NotDeleted)
                                                     << "2011-01-08T00:00:00Z";
  QTest::newRow("tail inside the head") << head + "2011-01-08T00:00:00Z\n" << false << mark << "a"
                                        << false << int(Expiry::CutFailed) << "";
  QTest::newRow("tail missing") << head + "2011-01-08\n" << false << mark << "UTC" << false
                                << int(Expiry::CutFailed) << "";
  QTest::newRow("tail right after the head") << head + "T\n" << false << mark << "T" << false
                                             << int(Expiry::Unclear) << "";
  // An empty deleted marker would occur in every text: it never reports deleted.
  QTest::newRow("empty deleted marker") << "anything\r\n" << false << "" << none << false
                                        << int(Expiry::None) << "";
  QTest::newRow("deleted marker of spaces") << "any thing\r\n" << false << "  " << none << false
                                            << int(Expiry::None) << "";
  QTest::newRow("neither marker") << "% rate limit exceeded\r\n" << true << mark << none << false
                                  << int(Expiry::None) << "";
}

void WhoisVerdictTest::readReply() {
  QFETCH(QString, reply);
  QFETCH(bool, complete);
  QFETCH(QString, deletedMark);
  QFETCH(QString, tail);
  QFETCH(bool, deleted);
  QFETCH(int, expiry);
  QFETCH(QString, dateText);
  const whois::Markers markers{deletedMark, QStringLiteral("Expiration Date: "), tail};
  const whois::Reading r = whois::readReply(reply, complete, markers, kToday);
  QCOMPARE(r.deleted, deleted);
  QCOMPARE(int(r.expiry), expiry);
  QCOMPARE(r.dateText, dateText);
}

void WhoisVerdictTest::ports_data() {
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
}

void WhoisVerdictTest::ports() {
  QFETCH(QString, field);
  QFETCH(int, port);
  QCOMPARE(whois::portNumber(field), port);
}

QTEST_GUILESS_MAIN(WhoisVerdictTest)
#include "tst_whois_verdict.moc"
