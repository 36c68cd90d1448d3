// The watch table: the state every verdict leaves a domain in, what its row
// shows, sorting, and the registration columns from the catch report.
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTcpServer>
#include <QtTest>

#include "support/WhoisCatch.h"
#include "whois/WatchTableModel.h"

namespace {

QString cell(const QAbstractItemModel& m, int row, int column) {
  return m.index(row, column).data().toString();
}

int rowOf(const QAbstractItemModel& m, const QString& domain) {
  for (int r = 0; r < m.rowCount(); ++r)
    if (cell(m, r, WatchTableModel::Domain) == domain) return r;
  return -1;
}

}  // namespace

class TestWatchTable : public QObject {
  Q_OBJECT
 private slots:
  void statesForTheVerdicts_data();
  void statesForTheVerdicts();
  void registrationColumnsAndSorting();
};

void TestWatchTable::statesForTheVerdicts_data() {
  QTest::addColumn<QString>("rate");  // empty: one at a time
  QTest::newRow("one at a time") << "";
  QTest::newRow("rated") << "20";
}

// One domain per verdict, one cycle: each row shows its state, its query
// count, its expiry date and its reply time.
void TestWatchTable::statesForTheVerdicts() {
  QFETCH(QString, rate);
  WhoisCatch c({"del.com", "far.com", "near.com", "mute.com", "busy.com", "gone.net", "none.org"});
  const QDate today = QDate::currentDate();
  c.whoisServer.setScript("del.com", StubWhoisServer::reply(deletedReply("del.com")));
  c.whoisServer.setScript("far.com", StubWhoisServer::reply(expiryReply(today.addDays(400))));
  c.whoisServer.setScript("near.com", StubWhoisServer::reply(expiryReply(today.addDays(20))));
  c.whoisServer.setScript("mute.com", StubWhoisServer::silent());
  c.whoisServer.setScript("busy.com", StubWhoisServer::reply("Query rate limit exceeded\r\n"));
  QTcpServer gone;  // a port nobody listens on once it closes
  QVERIFY(gone.listen(QHostAddress::LocalHost));
  ServerRow net = c.row(QStringLiteral(".net"), rate, rate.isEmpty() ? "" : "4");
  net.port = QString::number(gone.serverPort());
  gone.close();
  c.f.settings.whois_servers = {c.row(QStringLiteral(".com"), rate, rate.isEmpty() ? "" : "4"),
                                net};
  c.f.settings.whois_timeout = 1;

  WatchTableModel model(whoisMonitor(c.f.w), c.f.w.events);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  // Stop once every domain had its verdict (the silent one's comes last).
  c.run(
      [&] {
        const QStringList lines = verdictLines(c.f.view);
        return lines.contains(verdictLine("mute.com", whois::kUnclear)) &&
               lines.contains(verdictLine("gone.net", whois::kConnectTimeout));
      },
      8000);
  QCOMPARE(reset.size(), 1);
  QVERIFY(changed.size() >= 1);  // refreshed from the timer while it ran
  model.refresh();
  QCOMPARE(model.rowCount(), 7);

  const struct {
    const char* domain;
    whois::WatchState state;
    int queries;
    QDate expiry;
    bool replied;
  } expected[] = {
      {"del.com", whois::WatchState::Registering, 1, {}, true},
      {"far.com", whois::WatchState::GivenUp, 1, today.addDays(400), true},
      {"near.com", whois::WatchState::NotDeleted, 1, today.addDays(20), true},
      {"mute.com", whois::WatchState::Unclear, 1, {}, false},
      {"busy.com", whois::WatchState::Limited, 1, {}, true},
      {"gone.net", whois::WatchState::NoConnection, 0, {}, false},
      {"none.org", whois::WatchState::NoServer, 0, {}, false},
  };
  for (const auto& e : expected) {
    const int r = rowOf(model, QString::fromLatin1(e.domain));
    QVERIFY2(r >= 0, e.domain);
    QCOMPARE(cell(model, r, WatchTableModel::State), WatchTableModel::stateText(e.state));
    QCOMPARE(cell(model, r, WatchTableModel::Queries), QString::number(e.queries));
    QCOMPARE(cell(model, r, WatchTableModel::Expiry),
             e.expiry.isValid() ? e.expiry.toString(Qt::ISODate) : QString());
    QCOMPARE(cell(model, r, WatchTableModel::LastQuery).isEmpty(), e.queries == 0);
    QCOMPARE(cell(model, r, WatchTableModel::ReplyMs).isEmpty(), !e.replied);
    if (e.replied) QVERIFY(cell(model, r, WatchTableModel::ReplyMs).toDouble() >= 0);
  }
  QCOMPARE(cell(model, rowOf(model, "del.com"), WatchTableModel::Server),
           QStringLiteral("127.0.0.1:%1").arg(c.whoisServer.port()));
  QCOMPARE(cell(model, rowOf(model, "none.org"), WatchTableModel::Server), QString());
  // The registration's columns, from the sending engine's catch report.
  QVERIFY(!cell(model, rowOf(model, "del.com"), WatchTableModel::SentAt).isEmpty());
  QCOMPARE(cell(model, rowOf(model, "del.com"), WatchTableModel::RegistrarReply),
           QStringLiteral("OK"));
  QCOMPARE(cell(model, rowOf(model, "near.com"), WatchTableModel::SentAt), QString());
}

// The registration columns come from the catch report of the sending engine;
// the table sorts by number, not by text.
void TestWatchTable::registrationColumnsAndSorting() {
  WhoisCatch c = WhoisCatch::ofCount(12);
  c.f.settings.whois_servers = {c.row(QStringLiteral(".com"), "50", "4")};
  c.whoisServer.setDefaultScript(
      StubWhoisServer::reply(expiryReply(QDate::currentDate().addDays(9))));
  const QString caught = catchDomain(10);
  c.whoisServer.setScript(caught, StubWhoisServer::reply(deletedReply(caught)));
  c.f.settings.whois_after_reg = true;
  c.f.settings.whois_time2 = 60;
  WatchTableModel model(whoisMonitor(c.f.w), c.f.w.events);
  c.run([&] { return c.whoisServer.queryCount() >= 30; }, 8000);

  CatchReport report;
  report.domain = caught;
  report.deletedAtUs =
      QDateTime(QDate(2030, 6, 15), QTime(4, 30, 0, 123)).toMSecsSinceEpoch() * 1000;
  report.onWireMs = 0.5;
  report.replyMs = 35.2;
  report.httpStatus = 200;
  report.reply = QStringLiteral("注册成功\r\n订单号 42");
  emit c.f.w.events.caught(report);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.refresh();
  QCOMPARE(changed.size(), 1);
  const int r = rowOf(model, caught);
  QCOMPARE(cell(model, r, WatchTableModel::SentAt), QStringLiteral("04:30:00.123"));
  QCOMPARE(cell(model, r, WatchTableModel::RegistrarReply), QStringLiteral("注册成功 订单号 42"));

  // Sorted by query count: the registered domain, queried once and then left
  // for its re-query delay, comes first; "12" sorts after "9" as a number.
  QSortFilterProxyModel proxy;
  proxy.setSourceModel(&model);
  proxy.setSortRole(WatchTableModel::SortRole);
  proxy.sort(WatchTableModel::Queries, Qt::AscendingOrder);
  QCOMPARE(cell(proxy, 0, WatchTableModel::Domain), caught);
  QCOMPARE(cell(proxy, 0, WatchTableModel::Queries), QStringLiteral("1"));
  for (int i = 1; i < proxy.rowCount(); ++i)
    QVERIFY(proxy.index(i - 1, WatchTableModel::Queries).data(WatchTableModel::SortRole).toInt() <=
            proxy.index(i, WatchTableModel::Queries).data(WatchTableModel::SortRole).toInt());
  QVERIFY(cell(proxy, proxy.rowCount() - 1, WatchTableModel::Queries).toInt() >= 2);
}

QTEST_GUILESS_MAIN(TestWatchTable)
#include "tst_watch_table.moc"
