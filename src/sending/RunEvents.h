#pragma once
#include <QDateTime>
#include <QObject>
#include <QString>

// One WHOIS-triggered registration, from the moment its deletion was read.
struct CatchReport {
  QString domain;
  QDateTime deletedAt;     // local wall clock when the deletion was read (microseconds kept apart)
  qint64 deletedAtUs = 0;  // the same moment as microseconds since the epoch
  double onWireMs = -1;    // deletion read -> request on the wire
  double replyMs = -1;     // deletion read -> reply complete; -1 without an HTTP answer
  int httpStatus = 0;      // 0: no HTTP answer
  QString reply;           // the decoded reply (or the failure text), as the log shows it
};

// Counts of one run's registration requests; warm-ups never count.
struct RunSummary {
  qint64 sent = 0;        // requests put on the wire
  qint64 replies = 0;     // answered with any HTTP status
  qint64 httpErrors = 0;  // answered with a status of 400 or more
  qint64 failures = 0;    // no HTTP answer, or timed out
  qint64 late = 0;        // on the wire more than 2 ms after their due time
  qint64 catches = 0;     // WHOIS-triggered registrations
  int lastStatus = -1;    // HTTP status of the last answered request; 0 none; -1 nothing sent
};

// What a run tells the window, the headless runner, the log file and the
// notifications, besides the two log boxes and the status line.
class RunEvents : public QObject {
  Q_OBJECT
 signals:
  // A WHOIS-triggered registration has its outcome (reply, failure or time-out).
  void caught(const CatchReport& report);
  // A run has ended; every request it sent has finished or been given up.
  void runEnded(const RunSummary& summary);
  // A problem or state worth saying once (a bad setting replaced by its
  // default, warming that failed, the clock offset): the window's notice
  // label beside the count-down and the headless runner's stderr show it.
  void notice(const QString& text);
};
