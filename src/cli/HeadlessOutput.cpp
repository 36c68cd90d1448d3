#include "cli/HeadlessOutput.h"

#include <QDateTime>
#include <QJsonDocument>

#include "app/TaskWindow.h"
#include "report/ReportText.h"

namespace {

// ISO 8601 with the local offset, to the millisecond or the microsecond.
QString isoLocal(qint64 us, bool micro) {
  const QDateTime t = QDateTime::fromMSecsSinceEpoch(us / 1000);
  const int offset = t.offsetFromUtc();
  QString text = t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
  if (micro) text += QStringLiteral("%1").arg(us % 1000, 3, 10, QLatin1Char('0'));
  return text + (offset < 0 ? u'-' : u'+') +
         QStringLiteral("%1:%2")
             .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
             .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

QJsonValue msOrNull(double ms) { return ms < 0 ? QJsonValue() : QJsonValue(ms); }

}  // namespace

HeadlessOutput::HeadlessOutput(FILE* out, FILE* err, bool json, bool terminal)
    : out_(out), err_(err), json_(json), terminal_(terminal && !json) {
  statusTimer_.setSingleShot(true);
  QObject::connect(&statusTimer_, &QTimer::timeout, [this] { printStatus(); });
  flushTimer_.setSingleShot(true);
  QObject::connect(&flushTimer_, &QTimer::timeout, [this] { std::fflush(out_); });
  statusClock_.start();
}

void HeadlessOutput::attach(TaskWindow& w) {
  // The window's design-time caption is no change of a run.
  statusTimer_.stop();
  pendingStatus_.clear();
  QObject::connect(&w, &TaskWindow::logged, &w, [this](Ctl box, const QString& text) {
    if (box == Ctl::regsend) entry("[sent] ", "sent", text);
    if (box == Ctl::regresult) entry("[returned] ", "returned", text);
  });
  QObject::connect(&w.events, &RunEvents::caught, &w, [this](const CatchReport& r) { caught(r); });
  QObject::connect(&w.events, &RunEvents::runEnded, &w,
                   [this](const RunSummary& s) { summary(s); });
  QObject::connect(&w.events, &RunEvents::notice, &w, [this](const QString& t) { notice(t); });
}

void HeadlessOutput::setText(Ctl c, const QString& text) {
  MemoryView::setText(c, text);
  if (c == Ctl::Label1) statusChanged(text);
  if (c == Ctl::Label_timer) countdown(text);
}

void HeadlessOutput::entry(const char* prefix, const char* type, const QString& text) {
  if (json_)
    printJson(type, {{QStringLiteral("text"), text}});
  else
    printLines(out_, prefix, text);
}

void HeadlessOutput::caught(const CatchReport& r) {
  if (!json_) {
    printLines(out_, "[catch] ", report::catchText(r));
    return;
  }
  const qint64 us = r.deletedAtUs > 0 ? r.deletedAtUs : r.deletedAt.toMSecsSinceEpoch() * 1000;
  printJson("catch", {{QStringLiteral("domain"), r.domain},
                      {QStringLiteral("deleted_at"), isoLocal(us, true)},
                      {QStringLiteral("on_wire_ms"), msOrNull(r.onWireMs)},
                      {QStringLiteral("reply_ms"), msOrNull(r.replyMs)},
                      {QStringLiteral("http_status"), r.httpStatus},
                      {QStringLiteral("reply"), report::cut(r.reply, 1000)}});
}

void HeadlessOutput::summary(const RunSummary& s) {
  printStatus();
  if (!json_) {
    printLines(err_, "[summary] ", report::summaryText(s));
    return;
  }
  printJson("summary", {{QStringLiteral("sent"), s.sent},
                        {QStringLiteral("replies"), s.replies},
                        {QStringLiteral("http_errors"), s.httpErrors},
                        {QStringLiteral("failures"), s.failures},
                        {QStringLiteral("late"), s.late},
                        {QStringLiteral("catches"), s.catches}});
}

void HeadlessOutput::message(const QString& text) {
  finish();
  if (json_)
    printJson("message", {{QStringLiteral("text"), text}});
  else
    printLines(err_, "[message] ", text);
}

void HeadlessOutput::question(const QString& text) {
  if (json_)
    printJson("message",
              {{QStringLiteral("text"), text}, {QStringLiteral("answer"), QStringLiteral("no")}});
  else
    printLines(err_, "[message] ", text + QStringLiteral(" (no)"));
}

void HeadlessOutput::notice(const QString& text) {
  printStatus();
  if (json_)
    printJson("status", {{QStringLiteral("text"), text}, {QStringLiteral("notice"), true}});
  else
    printLines(err_, "[status] ", text);
}

// At most one status line per 100 ms; the latest text wins.
void HeadlessOutput::statusChanged(const QString& text) {
  pendingStatus_ = text;
  if (statusTimer_.isActive()) return;
  const qint64 since = lastStatus_ < 0 ? 100 : statusClock_.elapsed() - lastStatus_;
  statusTimer_.start(static_cast<int>(std::max<qint64>(0, 100 - since)));
}

void HeadlessOutput::printStatus() {
  statusTimer_.stop();
  if (pendingStatus_.isEmpty()) return;
  if (json_)
    printJson("status", {{QStringLiteral("text"), pendingStatus_}});
  else
    printLines(err_, "[status] ", pendingStatus_);
  pendingStatus_.clear();
  lastStatus_ = statusClock_.elapsed();
}

// The count-down redraws one line in place; the bare prefix means none runs.
void HeadlessOutput::countdown(const QString& text) {
  if (!terminal_) return;
  if (text == texts::kCountdownPrefix) {
    endLiveLine();
    return;
  }
  std::fflush(out_);  // what stdout holds belongs before the live line
  const QByteArray bytes = "\r\x1b[K" + report::entryLines(text).value(0).toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), err_);
  liveShown_ = true;
}

void HeadlessOutput::endLiveLine() {
  if (!liveShown_) return;
  std::fputc('\n', err_);
  liveShown_ = false;
}

void HeadlessOutput::finish() {
  printStatus();
  std::fflush(out_);
  endLiveLine();
  std::fflush(err_);
}

void HeadlessOutput::printLines(FILE* stream, const char* prefix, const QString& text) {
  endLiveLine();
  const QByteArray p(prefix);
  for (const QString& line : report::entryLines(text)) {
    const QByteArray bytes = p + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
  }
  if (stream == out_) scheduleFlush();
}

void HeadlessOutput::printJson(const char* type, QJsonObject fields) {
  fields.insert(QStringLiteral("type"), QString::fromLatin1(type));
  fields.insert(QStringLiteral("time"),
                isoLocal(QDateTime::currentMSecsSinceEpoch() * 1000, false));
  const QByteArray bytes = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
  std::fwrite(bytes.constData(), 1, bytes.size(), out_);
  scheduleFlush();
}

void HeadlessOutput::scheduleFlush() {
  if (!flushTimer_.isActive()) flushTimer_.start(0);
}
