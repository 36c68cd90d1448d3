#pragma once
// A WHOIS catch on a task window of plain values, against a scripted WHOIS
// server and a registrar stub on 127.0.0.1, each in a thread of its own so
// their timing does not depend on the watch's.
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "platform/Clock.h"
#include "support/StubHttpServer.h"
#include "support/StubWhoisServer.h"
#include "support/TaskFixture.h"
#include "task/Validation.h"
#include "whois/Monitor.h"

inline const QString kDeletedMark = QStringLiteral("No match for");
inline const QString kExpiryHead = QStringLiteral("Expiration Date: ");

inline QString catchDomain(int i) {
  return QStringLiteral("d%1.com").arg(i, 3, 10, QLatin1Char('0'));
}

inline QByteArray deletedReply(const QString& domain) {
  return ("No match for \"" + domain.toUpper() + "\".\r\n>>> Last update of whois database\r\n")
      .toUtf8();
}

inline QByteArray expiryReply(const QDate& date) {
  return (kExpiryHead + date.toString(Qt::ISODate) + "T04:00:00Z\r\n").toUtf8();
}

// A one-piece reply after delayMs, then the server closes.
inline StubWhoisServer::Script slowReply(const QByteArray& text, int delayMs) {
  StubWhoisServer::Script s = StubWhoisServer::reply(text);
  s.delayMs = delayMs;
  return s;
}

// A server row on a stub WHOIS server; rate and parallel empty: one at a time.
inline ServerRow stubServerRow(quint16 port, const QString& suffixes,
                               const QString& mark = kDeletedMark, const QString& rate = QString(),
                               const QString& parallel = QString()) {
  return {suffixes,
          QStringLiteral("127.0.0.1"),
          QString::number(port),
          mark,
          kExpiryHead,
          QString(),
          rate,
          parallel,
          {}};
}

// Starts the monitor of f as the catch button does; returns the seconds it
// ran, once it has ended. The monitor is looked at every 5 ms and right after
// each progress report (queued: posted events go before timers, so even a
// pause of a millisecond is seen while it lasts). A look calls eachLook with
// the milliseconds so far, then presses stop once stopWhen holds or limitMs
// has passed; stoppedAt says when.
inline double runWatch(TaskFixture& f, double& stoppedAt, const std::function<bool()>& stopWhen,
                       int limitMs, const std::function<void(qint64)>& eachLook = {}) {
  if (!ValidateTask(f.w)) return -1;
  f.w.whois_send_count = 0;
  f.w.time_base = platform::now();
  QElapsedTimer clock;
  clock.start();
  auto look = [&] {
    if (eachLook) eachLook(clock.elapsed());
    if (f.w.int_start() == 1 && ((stopWhen && stopWhen()) || clock.elapsed() > limitMs)) {
      stoppedAt = clock.elapsed() / 1000.0;
      f.w.regstop_Click();
    }
  };
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, look);
  poll.start(5);
  const QMetaObject::Connection onProgress = QObject::connect(
      &whoisMonitor(f.w), &WhoisMonitor::progressed, &poll, look, Qt::QueuedConnection);
  whois_monitor(f.w);
  QObject::disconnect(onProgress);
  return clock.elapsed() / 1000.0;
}

struct WhoisCatch {
  TaskFixture f;
  StubHttpServer registrar{StubHttpServer::Threading::OwnThread};
  StubWhoisServer whoisServer{StubWhoisServer::Threading::OwnThread};
  QStringList domains;
  QStringList notices;
  double stoppedAt = -1;

  explicit WhoisCatch(const QStringList& watched) : domains(watched) {
    registrar.listen();
    whoisServer.listen();
    f.setSimpleTask(registrar.url(QStringLiteral("/reg")), domainLines(watched));
    f.view.setIndex(Ctl::radio_post_type, 1);  // 异步(快)
    f.settings.whois_servers = {row(QStringLiteral(".com"))};
    f.settings.whois_timeout = 2;
    f.settings.whois_time = 0;
    f.settings.whois_time2 = 0;
    f.settings.whois_after_reg = false;
    QObject::connect(&f.w.events, &RunEvents::notice, [this](const QString& t) { notices << t; });
  }

  static WhoisCatch ofCount(int n) {
    QStringList d;
    for (int i = 0; i < n; ++i) d << catchDomain(i);
    return WhoisCatch(d);
  }

  // A server row on the stub; rate and parallel empty: one at a time.
  ServerRow row(const QString& suffixes, const QString& rate = QString(),
                const QString& parallel = QString()) const {
    return stubServerRow(whoisServer.port(), suffixes, kDeletedMark, rate, parallel);
  }

  double run(const std::function<bool()>& stopWhen = {}, int limitMs = 30000) {
    return runWatch(f, stoppedAt, stopWhen, limitMs);
  }

  // The domain a registration request was for.
  static QString registered(const StubHttpServer::Request& r) {
    const qsizetype at = r.body.indexOf("domain=");
    if (at < 0) return {};
    QByteArray d = r.body.mid(at + 7);
    if (const qsizetype amp = d.indexOf('&'); amp >= 0) d.truncate(amp);
    return QString::fromLatin1(d);
  }
};

// The entries of a log box (each ends with three CR LF pairs).
inline QStringList logEntries(const TaskView& view, Ctl box) {
  QStringList e = view.text(box).split(QStringLiteral("\r\n\r\n\r\n"));
  if (!e.isEmpty() && e.last().isEmpty()) e.removeLast();
  return e;
}

// The verdict lines of regresult, each cut to " 域名 " + domain + verdict.
inline QStringList verdictLines(const TaskView& view) {
  QStringList lines;
  for (const QString& e : logEntries(view, Ctl::regresult)) {
    const qsizetype at = e.indexOf(QStringLiteral(" 域名 "));
    if (at >= 0) lines << e.mid(at);
  }
  return lines;
}

inline QString verdictLine(const QString& domain, const QString& verdict) {
  return QStringLiteral(" 域名 ") + domain + verdict;
}
