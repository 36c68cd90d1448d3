#include "report/RunReport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "platform/EventWait.h"
#include "platform/Log.h"
#include "report/ReportText.h"

namespace {
const QString kDefaultLogFile = QStringLiteral("logs/zembrin-YYYYMMDD.log");
}

RunReport::RunReport(const Settings& settings, const QString& settingsPath, RunEvents& events)
    : settings_(settings),
      settingsFolder_(QFileInfo(settingsPath).absolutePath()),
      events_(events) {
  connect(&events, &RunEvents::caught, this, &RunReport::caught);
  connect(&events, &RunEvents::runEnded, this, &RunReport::runEnded);
  connect(&events, &RunEvents::notice, this, [this](const QString& text) {
    if (settings_.save_log) log_.append(QStringLiteral("[notice] "), text);
  });
  connect(&log_, &LogFile::failed, &events, &RunEvents::notice);
}

RunReport::~RunReport() { platform::clearLogSink(this); }

QString RunReport::logFilePattern() const {
  const QString file = settings_.log_file.isEmpty() ? kDefaultLogFile : settings_.log_file;
  return QDir::cleanPath(QDir(settingsFolder_).absoluteFilePath(file));
}

void RunReport::applyLogSetting() {
  if (!settings_.save_log) {
    platform::clearLogSink(this);
    log_.close();
    return;
  }
  log_.setPathPattern(logFilePattern());
  platform::setLogSink(this, [this](const QString& category, const QString& message) {
    log_.append(u'[' + category + QStringLiteral("] "), message);
  });
}

void RunReport::runStarting() {
  applyLogSetting();
  if (settings_.save_log) log_.open();
  for (const QString& problem : webhook::problems(settings_.notify_url, settings_.notify_body))
    name(problem);
}

void RunReport::name(const QString& problem) {
  if (named_.contains(problem)) return;
  named_.insert(problem);
  emit events_.notice(problem);
}

void RunReport::logEntry(Ctl box, const QString& entry) {
  if (!settings_.save_log) return;
  log_.append(box == Ctl::regsend ? QStringLiteral("[sent] ") : QStringLiteral("[returned] "),
              entry);
}

void RunReport::flush() { log_.flush(); }

void RunReport::caught(const CatchReport& report) {
  if (settings_.save_log) log_.append(QStringLiteral("[catch] "), report::catchText(report));
  const qint64 us =
      report.deletedAtUs > 0 ? report.deletedAtUs : report.deletedAt.toMSecsSinceEpoch() * 1000;
  notify({{QStringLiteral("event"), QStringLiteral("catch")},
          {QStringLiteral("domain"), report.domain},
          {QStringLiteral("reply"), report::replyStart(report.reply, 200)},
          {QStringLiteral("time"), report::stamp(us / 1000)}});
}

void RunReport::runEnded(const RunSummary& summary) {
  if (settings_.save_log) log_.append(QStringLiteral("[summary] "), report::summaryText(summary));
  notify({{QStringLiteral("event"), QStringLiteral("done")},
          {QStringLiteral("domain"), QString()},
          {QStringLiteral("reply"), report::summaryText(summary)},
          {QStringLiteral("time"), report::stamp(QDateTime::currentMSecsSinceEpoch())}});
}

// An unusable URL was named when the run started; it is never sent.
void RunReport::notify(const webhook::Values& values) {
  if (!settings_.notify_url.isEmpty())
    webhook_.post(settings_.notify_url, settings_.notify_body, values);
}

bool RunReport::waitForNotifications(int timeoutMs) {
  platform::EventWait wait;
  wait.wakeOn(&webhook_, &Webhook::settled);
  return wait.run([this] { return webhook_.pending() == 0; }, timeoutMs);
}
