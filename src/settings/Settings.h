#pragma once
#include <QList>
#include <QString>

// One row of the WHOIS server table: the six fields of a server line and
// the optional three after them (queries per second, queries in flight, a
// limited-reply text of the user's own).
struct ServerRow {
  QString suffixes, server, port, deleted_mark, expiry_head, expiry_tail;
  QString rate{}, parallel{}, limited_mark{};  // optional fields 7 to 9
  bool isEmpty() const {
    return suffixes.isEmpty() && server.isEmpty() && port.isEmpty() && deleted_mark.isEmpty() &&
           expiry_head.isEmpty() && expiry_tail.isEmpty() && rate.isEmpty() && parallel.isEmpty() &&
           limited_mark.isEmpty();
  }
  bool operator==(const ServerRow&) const = default;
};

ServerRow builtinServerRow();
QString builtinServerLine();  // the built-in row as one "|||" line

// Program-wide settings, loaded once at start-up and changed only by the
// settings dialog's save.
struct Settings {
  bool check_whois = true;
  bool whois_after_reg = true;
  bool save_log = false;
  qint16 whois_time = 0;
  qint16 whois_timeout = 5;  // seconds a WHOIS query may take
  qint16 whois_time2 = 0;
  qint16 intTimeZone = 0;
  QList<ServerRow> whois_servers{builtinServerRow()};

  // Registrar connections kept open ahead of a catch.
  int warm_connections = 4;  // 0: no warming
  int warm_interval = 15;    // seconds between warm-up requests
  QString warm_url;          // empty: a HEAD request to the origin's "/"
  // The timed start.
  int timed_lead_ms = 0;                                   // start this much earlier
  QString time_server = QStringLiteral("ntp.aliyun.com");  // SNTP host[:port]; empty: none
  // The log file (empty: logs/zembrin-YYYYMMDD.log beside the settings file)
  // and the webhook's URL and POST body templates (empty: none, GET).
  QString log_file, notify_url, notify_body;

  // Values of the file that the load could not use and replaced by their
  // defaults, one Chinese text each, to be said once at start-up.
  QStringList problems;
};

// The controls of the settings dialog as values. The dialog widget mirrors
// every edit here at once, so edits survive a close without saving.
// Option pairs hold the selected index: 0 "是", 1 "否".
struct SettingsDialogState {
  int check_whois = 0;
  int whois_after_reg = 0;
  int save_log = 0;
  QString whois_time = QString::number(Settings().whois_time);
  QString whois_timeout = QString::number(Settings().whois_timeout);
  QString whois_time2 = QString::number(Settings().whois_time2);
  QString whois_server = builtinServerLine() + QStringLiteral("\r\n");
  QString warm_connections = QString::number(Settings().warm_connections);
  QString warm_interval = QString::number(Settings().warm_interval);
  QString warm_url;
  QString timed_lead_ms = QString::number(Settings().timed_lead_ms);
  QString time_server = Settings().time_server;
  QString log_file, notify_url, notify_body;
};
