#pragma once
#include <QLoggingCategory>
#include <QString>
#include <functional>

// One category per subsystem, for the causes the window's short texts leave
// out (libcurl's error text, the socket error, why a setting was dropped).
// Their messages are debug and info only, so they are off by default; turn
// them on with QT_LOGGING_RULES, e.g. "zembrin.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcHttp)      // zembrin.http
Q_DECLARE_LOGGING_CATEGORY(lcWhois)     // zembrin.whois
Q_DECLARE_LOGGING_CATEGORY(lcRun)       // zembrin.run
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // zembrin.settings

namespace platform {

// Receives every message of the zembrin.* categories, whatever the rules say
// (the log file wants them all); the rules still decide what reaches stderr.
using LogSink = std::function<void(const QString& category, const QString& message)>;
// One sink at a time; owner identifies who set it, so a later clearLogSink()
// of someone else leaves it alone.
void setLogSink(const void* owner, LogSink sink);
void clearLogSink(const void* owner);

}  // namespace platform
