#pragma once
#include <QString>
#include <QStringList>

#include "sending/RunEvents.h"

// How run output is written as lines of text: headless stdout and stderr,
// and the log file. A reply is registrar text and may hold anything, so it
// must never forge a line or reach a terminal as a control sequence.
namespace report {

// The lines of an entry: every CR LF, lone CR or lone LF ends one (the
// line breaks that end the entry give no empty lines), and every control
// character but tab is written as \xNN.
QStringList entryLines(const QString& entry);

// "a.com deleted 04:30:00.123456 on-wire +0.11 ms reply +35.2 ms \"注册成功\"":
// the reply's first line, cut, escaped and quoted.
QString catchText(const CatchReport& report);
// "sent=N replies=M http_errors=E failures=K late=L catches=C"
QString summaryText(const RunSummary& summary);

// The local date and time to the millisecond, "2026-12-11 04:30:00.123".
QString stamp(qint64 msecsSinceEpoch);
// At most maxChars characters, never half of one; an ellipsis marks a cut.
QString cut(const QString& text, int maxChars);
// The reply's first line, cut; nothing escaped.
QString replyStart(const QString& reply, int maxChars);

}  // namespace report
