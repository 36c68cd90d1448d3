#pragma once
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "platform/HttpClient.h"

class RunEvents;
struct Settings;

// Keeps connections to the registrar open and warm (DNS resolved, TCP
// connected, TLS done) while a catch runs or a timed start approaches, so the
// registration that counts goes out with no round trip of set-up. A round of
// warm-ups is one harmless request on each of `warm_connections`
// connections at once (at once, so each takes a connection of its own), every
// `warm_interval` seconds, and again at once when a server closes an idle
// one (seen by the HTTP engine as it happens, or by a check every 250 ms).
// Warm-ups are not registrations: never counted, never shown.
class RegistrarWarmer : public QObject {
  Q_OBJECT
 public:
  explicit RegistrarWarmer(RunEvents& events);
  ~RegistrarWarmer() override;

  // Starts warming the origin of apiUrl (no-op when warming is off, the URL is
  // not http(s), or it already warms that origin).
  void start(const QString& apiUrl, const Settings& settings);
  void stop();
  bool active() const { return interval_.isActive(); }
  // The URL warm-ups go to, for an API URL (empty: not an http(s) URL).
  static QString warmUrlFor(const QString& apiUrl, const QString& warmUrl);

 private:
  void warmRound();
  void onWarmed(platform::HttpRequest* r);

  RunEvents& events_;
  QString url_;
  QByteArray origin_;
  QString method_;
  int connections_ = 0;
  std::vector<std::unique_ptr<platform::HttpRequest>> requests_;
  QTimer interval_;
  QTimer idleCheck_;                // a server closing an idle connection
  QMetaObject::Connection onLost_;  // the engine saw one close
  bool failureSaid_ = false;
};
