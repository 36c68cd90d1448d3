#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include "sending/SendContext.h"

// How a sender asks for its request.
struct BuildOptions {
  // Move the time base on before this request (every request but a run's or
  // a call's first; a WHOIS-triggered call moves it before its first too).
  bool advanceTimeBase = true;
  // Dynamic values go through ExpandLineBreaks (the blocking loop does this,
  // the tick sender does not).
  bool expandLineBreaks = true;
};

// Builds the next request on the window's state: w.request_url and the body
// in w.reg.Form, filling the value cells of w.md5_table and w.url_vars, and
// expanding the line breaks of w.api_url. The row cursors index dyn1Lines
// and dyn2Lines; each is moved forward (wrapping) past lines without "==="
// and left on the line used. Building cannot fail: the percent-encoding used
// takes any text.
void BuildRequest(SendContext& w, const QStringList& dyn1Lines, const QStringList& dyn2Lines,
                  int& dyn1Row, int& dyn2Row, const BuildOptions& options);

// A date written with one of the time-format patterns: yyyy/yy year, m/mm
// month (the minute when the nearest field before it is an hour field),
// d/dd day, h/hh hour 0-23, s/ss second; the doubled field has a leading
// zero. Any other character is written as it is.
QString formatDateTime(const QDateTime& t, const QString& pattern);

// Seconds from 1970-01-01 00:00:00 to the wall-clock time t moved back by
// zoneHours (negative before that moment).
qint64 UnixTimeStamp(const QDateTime& t, int zoneHours);

// The text of the time variable for t in the chosen time-format entry.
QString timeVariableText(const QDateTime& t, const QString& formatEntry, int zoneHours);
