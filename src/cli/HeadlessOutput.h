#pragma once
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QTimer>
#include <cstdio>

#include "app/MemoryView.h"

class TaskWindow;
struct CatchReport;
struct RunSummary;

// The task window of the headless runner: its controls as values, and what
// the window shows printed as it happens. As text: the log entries on stdout
// ([sent], [returned], and [catch] for each WHOIS-triggered registration);
// the status line, notices, message boxes and the run's [summary] on stderr.
// With json, every one of these as one JSON object per line on stdout.
//
// stdout is buffered and flushed from the event loop, so nothing is written
// to a terminal between a deletion reply and the request going out.
class HeadlessOutput : public MemoryView {
 public:
  // terminal: stderr is a terminal, so it shows the timed start's count-down
  // as a live line (text mode only).
  HeadlessOutput(FILE* out, FILE* err, bool json, bool terminal);

  // Prints w's log entries, catch reports, summaries and notices.
  void attach(TaskWindow& w);

  void setText(Ctl c, const QString& text) override;
  void message(const QString& text);
  void question(const QString& text);  // answered No: a runner has nobody to ask
  void notice(const QString& text);    // said at once, never coalesced
  void summary(const RunSummary& summary);
  // Prints the pending status, ends the live line and flushes both streams.
  void finish();

 private:
  void entry(const char* prefix, const char* type, const QString& text);
  void caught(const CatchReport& report);
  void statusChanged(const QString& text);
  void printStatus();
  void countdown(const QString& text);
  void endLiveLine();
  void printLines(FILE* stream, const char* prefix, const QString& text);
  void printJson(const char* type, QJsonObject fields);
  void scheduleFlush();

  FILE* out_;
  FILE* err_;
  const bool json_;
  const bool terminal_;
  QTimer statusTimer_, flushTimer_;
  QElapsedTimer statusClock_;
  qint64 lastStatus_ = -1;
  QString pendingStatus_;
  bool liveShown_ = false;
};
