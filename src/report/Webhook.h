#pragma once
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// The webhook of notify_url: a URL template, and for POST a body template,
// with the placeholders {{{domain}}}, {{{event}}}, {{{reply}}} and {{{time}}}.
// Values are percent-encoded as UTF-8 in the URL and in a form body, and
// escaped as JSON string content in a body that is JSON (it starts with
// "{" or "[").
namespace webhook {

using Values = QHash<QString, QString>;  // placeholder name -> value

struct Request {
  QString method;  // "GET", or "POST" with a body template
  QString url;
  QByteArray body;
  QString contentType;  // for POST
};

// An http(s) URL with a host once its placeholders are filled in.
bool isUsableUrl(const QString& urlTemplate);
// What is wrong with the two templates, one Chinese text each: a URL that is
// not http(s), a placeholder that is unknown. Empty when fine or unset.
QStringList problems(const QString& urlTemplate, const QString& bodyTemplate);
// An unknown placeholder is sent as written.
Request build(const QString& urlTemplate, const QString& bodyTemplate, const Values& values);

}  // namespace webhook

// Sends webhook requests through the HTTP engine, each from the event loop
// after the call that asked for it, so a notification never stands between
// a deletion and its registration. A failure is logged (zembrin.run) and
// nothing more.
class Webhook : public QObject {
  Q_OBJECT
 public:
  // Requests on the wire complete unobserved.
  ~Webhook() override;
  // Built and sent from the event loop; nothing when the URL is unusable.
  void post(const QString& urlTemplate, const QString& bodyTemplate, const webhook::Values& values);
  // Queued or on the wire.
  int pending() const { return queued_ + inFlight_; }

 signals:
  void settled();  // one request finished or failed

 private:
  void start(const webhook::Request& request);
  int queued_ = 0;
  int inFlight_ = 0;
};
